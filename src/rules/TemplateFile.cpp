#include "rules/TemplateFile.h"

#include "rules/Patterns.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <functional>

namespace vc::records {

// --- reading -------------------------------------------------------------------------

namespace {

const QStringList kTemplateKeys = {QStringLiteral("version"), QStringLiteral("name"),   QStringLiteral("description"),
                                   QStringLiteral("rows"),    QStringLiteral("repeat"), QStringLiteral("skip_empty"),
                                   QStringLiteral("unique"),  QStringLiteral("fields")};

// The keys a field of `kind` takes besides its kind's own key.
QStringList fieldKeys(FieldKind kind)
{
    QStringList keys = {QStringLiteral("name"),    QStringLiteral("description"),
                        QStringLiteral("default"), QStringLiteral("required"),
                        QStringLiteral("trim"),    QStringLiteral("collapse_whitespace"),
                        QStringLiteral("type")};
    switch (kind) {
    case FieldKind::Between:
    case FieldKind::Regex:
    case FieldKind::Line: keys << QStringLiteral("case_insensitive"); [[fallthrough]];
    case FieldKind::Pattern:
        keys << QStringLiteral("all") << QStringLiteral("separator") << QStringLiteral("source");
        break;
    case FieldKind::Header: keys << QStringLiteral("all") << QStringLiteral("separator"); break;
    case FieldKind::Builtin: keys << QStringLiteral("separator"); break;
    }
    return keys;
}

QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QString quotedList(const QStringList &names)
{
    QStringList q;
    for (const QString &n : names)
        q << quoted(n);
    return q.join(QStringLiteral(", "));
}

// Where a byte offset of the UTF-8 text lies: line and column (characters), both from 1.
QString whereInText(const QByteArray &json, int offset)
{
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

class Reader {
public:
    QList<TemplateProblem> problems;

    void templateProblem(const QString &message) { problems.append({-1, QString(), message}); }

    // A field's problems name it by its number and, once known, its name.
    void fieldProblem(int index, const QString &name, const QString &message)
    {
        problems.append({index, name, message});
    }

    std::optional<bool> flag(const QJsonObject &o, const QString &key, const std::function<void(QString)> &report)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isBool()) {
            report(QStringLiteral("\"%1\" must be true or false").arg(key));
            return std::nullopt;
        }
        return v.toBool();
    }

    std::optional<QString> text(const QJsonObject &o, const QString &key, const std::function<void(QString)> &report,
                                bool nonEmpty = false)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isString()) {
            report(QStringLiteral("\"%1\" must be a text").arg(key));
            return std::nullopt;
        }
        if (nonEmpty && v.toString().isEmpty()) {
            report(QStringLiteral("\"%1\" must not be empty").arg(key));
            return std::nullopt;
        }
        return v.toString();
    }

    void readField(int index, const QJsonValue &value, TemplateSpec &spec);
    void readTemplate(const QJsonObject &root, TemplateSpec &spec);
};

void Reader::readField(int index, const QJsonValue &value, TemplateSpec &spec)
{
    if (!value.isObject()) {
        fieldProblem(index, QString(), QStringLiteral("a field must be a JSON object"));
        return;
    }
    const QJsonObject o = value.toObject();
    FieldSpec f;
    QString name;
    if (o.value(QStringLiteral("name")).isString())
        name = o.value(QStringLiteral("name")).toString();
    const auto report = [&](const QString &message) { fieldProblem(index, name, message); };
    if (!o.contains(QStringLiteral("name")))
        report(QStringLiteral("a field needs a \"name\""));
    else if (auto n = text(o, QStringLiteral("name"), report, true))
        f.name = *n;

    // Exactly one key says what kind of field it is.
    QStringList kindKeys, allKinds;
    for (FieldKind k : {FieldKind::Between, FieldKind::Regex, FieldKind::Line, FieldKind::Header, FieldKind::Builtin,
                        FieldKind::Pattern}) {
        allKinds << kindName(k);
        if (o.contains(allKinds.last()))
            kindKeys << allKinds.last();
    }
    if (kindKeys.isEmpty()) {
        report(QStringLiteral("a field needs one of %1").arg(quotedList(allKinds)));
        return;
    }
    if (kindKeys.size() > 1) {
        report(
            QStringLiteral("a field has one of %1, this one has %2").arg(quotedList(allKinds), quotedList(kindKeys)));
        return;
    }
    const QString kindKey = kindKeys.first();
    f.kind = *kindFromName(kindKey);

    const QStringList allowed = fieldKeys(f.kind);
    for (auto it = o.begin(); it != o.end(); ++it)
        if (it.key() != kindKey && !allowed.contains(it.key()))
            report(QStringLiteral("a %1 field has no key \"%2\" (it takes %3)")
                       .arg(kindKey, it.key(), quotedList(QStringList{kindKey} + allowed)));

    const QJsonValue kindValue = o.value(kindKey);
    switch (f.kind) {
    case FieldKind::Between: {
        if (!kindValue.isObject()) {
            report(QStringLiteral("\"between\" must be an object with \"start\" and \"end\""));
            break;
        }
        const QJsonObject b = kindValue.toObject();
        for (auto it = b.begin(); it != b.end(); ++it)
            if (it.key() != QLatin1String("start") && it.key() != QLatin1String("end"))
                report(QStringLiteral("\"between\" has no key \"%1\" (it takes \"start\", \"end\")").arg(it.key()));
        const auto part = [&](const QString &key, QString &into) {
            if (!b.contains(key))
                report(QStringLiteral("\"between\" needs \"%1\"").arg(key));
            else if (auto t = text(b, key, report, true))
                into = *t;
        };
        part(QStringLiteral("start"), f.parameter);
        part(QStringLiteral("end"), f.end);
        break;
    }
    case FieldKind::Line:
        if (kindValue.isObject()) {
            const QJsonObject l = kindValue.toObject();
            for (auto it = l.begin(); it != l.end(); ++it)
                if (it.key() != QLatin1String("label") && it.key() != QLatin1String("whole"))
                    report(QStringLiteral("\"line\" has no key \"%1\" (it takes \"label\", \"whole\")").arg(it.key()));
            if (!l.contains(QStringLiteral("label")))
                report(QStringLiteral("\"line\" needs \"label\""));
            else if (auto t = text(l, QStringLiteral("label"), report, true))
                f.parameter = *t;
            if (auto w = flag(l, QStringLiteral("whole"), report))
                f.wholeLine = *w;
            break;
        }
        [[fallthrough]];
    case FieldKind::Regex:
    case FieldKind::Header:
    case FieldKind::Builtin:
    case FieldKind::Pattern:
        if (!kindValue.isString() || kindValue.toString().isEmpty()) {
            report(QStringLiteral("\"%1\" must be a text that is not empty").arg(kindKey));
            break;
        }
        f.parameter = kindValue.toString();
        if (f.kind == FieldKind::Builtin && !builtinFromName(f.parameter))
            report(QStringLiteral("there is no builtin \"%1\" (there are %2)")
                       .arg(f.parameter, quotedList(builtinNames())));
        if (f.kind == FieldKind::Pattern && !findPattern(f.parameter)) {
            QStringList names;
            for (const ReadyPattern &p : readyPatterns())
                names << p.name;
            report(QStringLiteral("there is no pattern \"%1\" (there are %2)").arg(f.parameter, quotedList(names)));
        }
        break;
    }

    if (auto v = flag(o, QStringLiteral("case_insensitive"), report))
        f.caseInsensitive = *v;
    if (auto v = flag(o, QStringLiteral("required"), report))
        f.required = *v;
    if (auto v = flag(o, QStringLiteral("trim"), report))
        f.trim = *v;
    if (auto v = flag(o, QStringLiteral("collapse_whitespace"), report))
        f.collapseWhitespace = *v;
    if (auto v = flag(o, QStringLiteral("all"), report))
        f.all = *v;
    if (auto v = text(o, QStringLiteral("separator"), report))
        f.separator = *v;
    if (auto v = text(o, QStringLiteral("default"), report))
        f.defaultText = *v;
    if (auto v = text(o, QStringLiteral("description"), report))
        f.description = *v;
    if (auto v = text(o, QStringLiteral("type"), report)) {
        if (auto t = cellTypeFromName(*v))
            f.type = *t;
        else
            report(QStringLiteral("\"type\" is \"text\", \"number\" or \"date\", not \"%1\"").arg(*v));
    }
    if (auto v = text(o, QStringLiteral("source"), report)) {
        if (*v == QLatin1String("body"))
            f.source = FieldSource::Body;
        else if (*v == QLatin1String("attachments"))
            f.source = FieldSource::Attachments;
        else
            report(QStringLiteral("\"source\" is \"body\" or \"attachments\", not \"%1\"").arg(*v));
    }
    spec.fields.append(f);
}

void Reader::readTemplate(const QJsonObject &root, TemplateSpec &spec)
{
    const auto report = [&](const QString &message) { templateProblem(message); };
    for (auto it = root.begin(); it != root.end(); ++it)
        if (!kTemplateKeys.contains(it.key()))
            report(
                QStringLiteral("a template has no key \"%1\" (it takes %2)").arg(it.key(), quotedList(kTemplateKeys)));

    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isUndefined()) {
        if (!version.isDouble() || version.toDouble() != 1)
            report(QStringLiteral("\"version\" must be 1 (the version this program reads), not %1")
                       .arg(version.toVariant().toString()));
    }
    if (auto v = text(root, QStringLiteral("name"), report))
        spec.name = *v;
    if (auto v = text(root, QStringLiteral("description"), report))
        spec.description = *v;
    if (auto v = text(root, QStringLiteral("rows"), report)) {
        if (*v == QLatin1String("message"))
            spec.rows = RowsMode::Message;
        else if (*v == QLatin1String("match"))
            spec.rows = RowsMode::Match;
        else
            report(QStringLiteral("\"rows\" is \"message\" or \"match\", not \"%1\"").arg(*v));
    }
    if (auto v = text(root, QStringLiteral("repeat"), report, true))
        spec.repeat = *v;
    if (auto v = flag(root, QStringLiteral("skip_empty"), report))
        spec.skipEmpty = *v;
    // unique: true (every column counts) or the list of the columns that do.
    const QJsonValue unique = root.value(QStringLiteral("unique"));
    if (unique.isBool()) {
        spec.unique = unique.toBool();
    } else if (unique.isArray()) {
        spec.unique = true;
        for (const QJsonValue &v : unique.toArray()) {
            if (!v.isString() || v.toString().isEmpty()) {
                report(QStringLiteral("\"unique\" lists column names (texts)"));
                break;
            }
            spec.uniqueBy << v.toString();
        }
    } else if (!unique.isUndefined()) {
        report(QStringLiteral("\"unique\" must be true, false or a list of column names"));
    }

    const QJsonValue fields = root.value(QStringLiteral("fields"));
    if (fields.isUndefined()) {
        report(QStringLiteral("a template needs \"fields\", a list of fields"));
        return;
    }
    if (!fields.isArray()) {
        report(QStringLiteral("\"fields\" must be a list of fields"));
        return;
    }
    const QJsonArray list = fields.toArray();
    for (int i = 0; i < list.size(); ++i)
        readField(i, list.at(i), spec);
}

}  // namespace

TemplateRead parseTemplate(const QByteArray &json)
{
    TemplateRead out;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        out.problems.append({-1, QString(),
                             QStringLiteral("the template is not valid JSON: %1 at character %2 (%3)")
                                 .arg(error.errorString())
                                 .arg(error.offset + 1)
                                 .arg(whereInText(json, error.offset))});
        return out;
    }
    if (!doc.isObject()) {
        out.problems.append({-1, QString(), QStringLiteral("a template is a JSON object (\"{...}\")")});
        return out;
    }
    Reader reader;
    reader.readTemplate(doc.object(), out.spec);
    out.problems = reader.problems;
    return out;
}

TemplateRead readTemplateFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        TemplateRead out;
        out.problems.append({-1, QString(), QStringLiteral("cannot read '%1': %2").arg(path, f.errorString())});
        return out;
    }
    // A template is a few KiB; anything far larger is no template.
    constexpr qint64 kLimit = 4 << 20;
    if (f.size() > kLimit) {
        TemplateRead out;
        out.problems.append({-1, QString(), QStringLiteral("'%1' is too large to be a template").arg(path)});
        return out;
    }
    return parseTemplate(f.readAll());
}

}  // namespace vc::records
