#include "rules/Template.h"

#include "rules/FieldMatch.h"
#include "rules/TemplateData.h"
#include "rules/TemplateFile.h"

#include <QHash>

namespace vc::records {

const TemplateSpec &Template::spec() const
{
    return d->spec;
}

const QList<Column> &Template::columns() const
{
    return d->columns;
}

QStringList Template::columnNames() const
{
    QStringList names;
    for (const Column &c : d->columns)
        names << c.name;
    return names;
}

bool Template::needsHeaders() const
{
    return d->needsHeaders;
}

bool Template::needsAttachmentText() const
{
    return d->needsAttachmentText;
}

TemplateCompile compileTemplate(const TemplateSpec &spec)
{
    TemplateCompile out;
    auto data = std::make_shared<Template::Data>();
    data->spec = spec;
    if (spec.fields.isEmpty())
        out.problems.append({-1, QString(), QStringLiteral("a template needs at least one field")});

    // Field names and the names of named groups share one name space: each
    // names one field (a field may have a group of its own name).
    QHash<QString, int> owner;
    data->fields.resize(size_t(spec.fields.size()));
    for (qsizetype i = 0; i < spec.fields.size(); ++i) {
        const FieldSpec &f = spec.fields.at(i);
        const auto report = [&](const QString &message) { out.problems.append({int(i), f.name, message}); };
        CompiledField &field = data->fields[size_t(i)];
        QString problem;
        if (!field.compile(f, &problem)) {
            report(problem);
            continue;
        }
        const auto claim = [&](const QString &name, bool group) {
            const auto it = owner.constFind(name);
            if (it == owner.cend()) {
                owner.insert(name, int(i));
                return;
            }
            if (*it == i && !group)
                return;
            const QString what = group ? QStringLiteral("its named group \"%1\"") : QStringLiteral("the name \"%1\"");
            if (*it == i)
                report(QStringLiteral("its named group \"%1\" occurs twice").arg(name));
            else
                report(QStringLiteral("%1 is already the name of field %2 (\"%3\")")
                           .arg(what.arg(name))
                           .arg(*it + 1)
                           .arg(spec.fields.at(*it).name));
        };
        claim(f.name, false);
        const bool grouped = field.columnNames() != QStringList{f.name};
        QStringList seen;
        for (const QString &name : field.columnNames()) {
            if (grouped) {
                if (seen.contains(name))
                    report(QStringLiteral("its named group \"%1\" occurs twice").arg(name));
                else if (name != f.name)
                    claim(name, true);
                seen << name;
            }
            data->columns.append({name, int(i), field.multiValued(), f.separator, f.type});
        }
        data->needsHeaders = data->needsHeaders || f.kind == FieldKind::Header;
        data->needsAttachmentText =
            data->needsAttachmentText || (searchesText(f.kind) && f.source == FieldSource::Attachments);
    }

    if (spec.rows == RowsMode::Match) {
        if (spec.repeat.isEmpty()) {
            out.problems.append(
                {-1, QString(),
                 QStringLiteral("rows \"match\" needs \"repeat\": the field whose matches make the rows")});
        } else if (auto it = owner.constFind(spec.repeat); it != owner.cend()) {
            data->repeatField = *it;
        } else {
            out.problems.append(
                {-1, QString(),
                 QStringLiteral("\"repeat\" names \"%1\", which is no field of this template").arg(spec.repeat)});
        }
        if (data->repeatField >= 0) {
            // The repeat field's columns hold one match per row.
            for (Column &c : data->columns)
                if (c.field == data->repeatField)
                    c.multi = false;
            const FieldSpec &r = spec.fields.at(data->repeatField);
            if (r.kind == FieldKind::Builtin && r.parameter != QLatin1String("attachment_names"))
                out.problems.append({data->repeatField, r.name,
                                     QStringLiteral("a builtin has one value per message, so it cannot be repeated")});
        }
    } else if (!spec.repeat.isEmpty()) {
        out.problems.append({-1, QString(), QStringLiteral("\"repeat\" is for rows \"match\" only")});
    }

    for (const QString &name : spec.uniqueBy) {
        const QStringList names = [&] {
            QStringList n;
            for (const Column &c : data->columns)
                n << c.name;
            return n;
        }();
        const qsizetype at = names.indexOf(name);
        if (at < 0)
            out.problems.append(
                {-1, QString(),
                 QStringLiteral("\"unique\" names \"%1\", which is no column of this template").arg(name)});
        else
            data->uniqueColumns << int(at);
    }
    for (qsizetype i = 0; i < spec.fields.size(); ++i)
        if (spec.fields.at(i).required)
            data->requiredFields << int(i);

    if (out.problems.isEmpty()) {
        Template t;
        t.d = std::move(data);
        out.compiled = std::move(t);
    }
    return out;
}

TemplateCompile loadTemplate(const QByteArray &json)
{
    TemplateRead read = parseTemplate(json);
    if (!read.ok()) {
        TemplateCompile out;
        out.problems = read.problems;
        return out;
    }
    return compileTemplate(read.spec);
}

}  // namespace vc::records
