#include "extract/RunTemplate.h"

#include "rules/TemplateFile.h"
#include "rules/TemplateSpec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vc {

QString builtinTemplateFolder()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../share/vellumcast/templates"));
}

QStringList builtinTemplateNames()
{
    QStringList names;
    const QDir dir(builtinTemplateFolder());
    for (const QFileInfo &f : dir.entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        names << f.completeBaseName();
    return names;
}

OpenedTemplate openTemplate(const QString &fileOrName)
{
    OpenedTemplate out;
    const bool looksLikeFile = fileOrName.contains(QLatin1Char('/')) || fileOrName.endsWith(QLatin1String(".json"));
    out.path = fileOrName;
    if (!looksLikeFile && !QFileInfo::exists(fileOrName)) {
        const QString builtin = QDir(builtinTemplateFolder()).filePath(fileOrName + QStringLiteral(".json"));
        if (!QFileInfo::exists(builtin)) {
            const QStringList names = builtinTemplateNames();
            out.error = QStringLiteral("no template file '%1'%2")
                            .arg(fileOrName, names.isEmpty() ? QString()
                                                             : QStringLiteral(" and no template of that name (%1)")
                                                                   .arg(names.join(QStringLiteral(", "))));
            return out;
        }
        out.path = builtin;
    }
    const records::TemplateRead read = records::readTemplateFile(out.path);
    QList<records::TemplateProblem> problems = read.problems;
    if (read.ok()) {
        records::TemplateCompile c = records::compileTemplate(read.spec);
        if (c.ok())
            out.compiled = std::move(c.compiled);
        problems = c.problems;
    }
    if (!problems.isEmpty())
        out.error = QStringLiteral("template '%1' cannot be used:\n%2").arg(out.path, records::problemsText(problems));
    return out;
}

DecodeNeeds decodeNeedsOf(const records::Template &t)
{
    DecodeNeeds needs;
    needs.headers = t.needsHeaders();
    needs.attachmentText = t.needsAttachmentText();
    for (const records::FieldSpec &f : t.spec().fields) {
        if (f.kind == records::FieldKind::Builtin
            && records::builtinFromName(f.parameter) == records::Builtin::AttachmentNames)
            needs.attachments = true;
    }
    needs.attachments = needs.attachments || needs.attachmentText;
    return needs;
}

}  // namespace vc
