#include "rules/TemplateFile.h"

#include "core/JsonText.h"
#include "rules/Patterns.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>

#include <functional>

namespace vc::records {

// --- names -----------------------------------------------------------------------

namespace {

struct KindName {
    FieldKind kind;
    const char16_t *name;
};
constexpr KindName kKinds[] = {
    {FieldKind::Between, u"between"}, {FieldKind::Regex, u"regex"},     {FieldKind::Line, u"line"},
    {FieldKind::Header, u"header"},   {FieldKind::Builtin, u"builtin"}, {FieldKind::Pattern, u"pattern"},
};

struct BuiltinName {
    Builtin builtin;
    const char16_t *name;
};
constexpr BuiltinName kBuiltins[] = {
    {Builtin::Folder, u"folder"},
    {Builtin::Uid, u"uid"},
    {Builtin::UidValidity, u"uidvalidity"},
    {Builtin::Seq, u"seq"},
    {Builtin::MessageId, u"message_id"},
    {Builtin::Date, u"date"},
    {Builtin::FromAddress, u"from_address"},
    {Builtin::FromName, u"from_name"},
    {Builtin::Subject, u"subject"},
    {Builtin::AttachmentNames, u"attachment_names"},
};

constexpr const char16_t *kCellTypes[] = {u"text", u"number", u"date"};

}  // namespace

QString kindName(FieldKind kind)
{
    for (const KindName &k : kKinds)
        if (k.kind == kind)
            return QString::fromUtf16(k.name);
    return {};
}

std::optional<FieldKind> kindFromName(QStringView name)
{
    for (const KindName &k : kKinds)
        if (name == QStringView(k.name))
            return k.kind;
    return std::nullopt;
}

QString builtinName(Builtin b)
{
    for (const BuiltinName &n : kBuiltins)
        if (n.builtin == b)
            return QString::fromUtf16(n.name);
    return {};
}

std::optional<Builtin> builtinFromName(QStringView name)
{
    for (const BuiltinName &n : kBuiltins)
        if (name == QStringView(n.name))
            return n.builtin;
    return std::nullopt;
}

QStringList builtinNames()
{
    QStringList out;
    for (const BuiltinName &n : kBuiltins)
        out << QString::fromUtf16(n.name);
    return out;
}

QString cellTypeName(CellType t)
{
    return QString::fromUtf16(kCellTypes[int(t)]);
}

std::optional<CellType> cellTypeFromName(QStringView name)
{
    for (int i = 0; i < 3; ++i)
        if (name == QStringView(kCellTypes[i]))
            return CellType(i);
    return std::nullopt;
}

bool searchesText(FieldKind kind)
{
    return kind == FieldKind::Between || kind == FieldKind::Regex || kind == FieldKind::Line
           || kind == FieldKind::Pattern;
}

QString TemplateProblem::text() const
{
    if (field < 0)
        return message;
    if (fieldName.isEmpty())
        return QStringLiteral("field %1: %2").arg(field + 1).arg(message);
    return QStringLiteral("field %1 \"%2\": %3").arg(field + 1).arg(fieldName, message);
}

QString problemsText(const QList<TemplateProblem> &problems)
{
    QStringList lines;
    for (const TemplateProblem &p : problems)
        lines << p.text();
    return lines.join(QLatin1Char('\n'));
}

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
    QStringList kindKeys;
    for (const KindName &k : kKinds)
        if (o.contains(QString::fromUtf16(k.name)))
            kindKeys << QString::fromUtf16(k.name);
    const QStringList allKinds = {QStringLiteral("between"), QStringLiteral("regex"),   QStringLiteral("line"),
                                  QStringLiteral("header"),  QStringLiteral("builtin"), QStringLiteral("pattern")};
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

// --- writing -------------------------------------------------------------------------

namespace {

void key(QByteArray &out, const char *name)
{
    out += '"';
    out += name;
    out += "\": ";
}

void stringMember(QByteArray &out, const char *name, const QString &value)
{
    out += ", ";
    key(out, name);
    json::appendString(out, value);
}

void flagMember(QByteArray &out, const char *name, bool value)
{
    out += ", ";
    key(out, name);
    out += value ? "true" : "false";
}

QByteArray fieldJson(const FieldSpec &f)
{
    const FieldSpec defaults;
    QByteArray out = "{";
    key(out, "name");
    json::appendString(out, f.name);
    out += ", ";
    switch (f.kind) {
    case FieldKind::Between:
        key(out, "between");
        out += "{\"start\": ";
        json::appendString(out, f.parameter);
        out += ", \"end\": ";
        json::appendString(out, f.end);
        out += '}';
        break;
    case FieldKind::Line:
        key(out, "line");
        if (f.wholeLine) {
            out += "{\"label\": ";
            json::appendString(out, f.parameter);
            out += ", \"whole\": true}";
        } else {
            json::appendString(out, f.parameter);
        }
        break;
    default:
        out += '"' + kindName(f.kind).toLatin1() + "\": ";
        json::appendString(out, f.parameter);
        break;
    }
    if (f.caseInsensitive != defaults.caseInsensitive)
        flagMember(out, "case_insensitive", f.caseInsensitive);
    if (f.required != defaults.required)
        flagMember(out, "required", f.required);
    if (f.trim != defaults.trim)
        flagMember(out, "trim", f.trim);
    if (f.collapseWhitespace != defaults.collapseWhitespace)
        flagMember(out, "collapse_whitespace", f.collapseWhitespace);
    if (f.all != defaults.all)
        flagMember(out, "all", f.all);
    if (f.separator != defaults.separator)
        stringMember(out, "separator", f.separator);
    if (f.defaultText != defaults.defaultText)
        stringMember(out, "default", f.defaultText);
    if (f.type != defaults.type)
        stringMember(out, "type", cellTypeName(f.type));
    if (f.source != defaults.source)
        stringMember(out, "source", QStringLiteral("attachments"));
    if (!f.description.isEmpty())
        stringMember(out, "description", f.description);
    out += '}';
    return out;
}

}  // namespace

QByteArray templateJson(const TemplateSpec &spec)
{
    QByteArray out = "{\n  \"version\": 1";
    const auto line = [&](const char *name, const QByteArray &value) {
        out += ",\n  ";
        key(out, name);
        out += value;
    };
    if (!spec.name.isEmpty())
        line("name", json::stringLiteral(spec.name));
    if (!spec.description.isEmpty())
        line("description", json::stringLiteral(spec.description));
    line("rows", spec.rows == RowsMode::Match ? "\"match\"" : "\"message\"");
    if (!spec.repeat.isEmpty())
        line("repeat", json::stringLiteral(spec.repeat));
    if (spec.skipEmpty)
        line("skip_empty", "true");
    if (spec.unique && spec.uniqueBy.isEmpty()) {
        line("unique", "true");
    } else if (spec.unique) {
        QByteArray list = "[";
        for (qsizetype i = 0; i < spec.uniqueBy.size(); ++i) {
            if (i)
                list += ", ";
            json::appendString(list, spec.uniqueBy.at(i));
        }
        line("unique", list + ']');
    }
    out += ",\n  \"fields\": [";
    for (qsizetype i = 0; i < spec.fields.size(); ++i) {
        out += i ? ",\n    " : "\n    ";
        out += fieldJson(spec.fields.at(i));
    }
    out += spec.fields.isEmpty() ? "]\n}\n" : "\n  ]\n}\n";
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

QString writeTemplateFile(const QString &path, const TemplateSpec &spec)
{
    QSaveFile f(path);
    const QByteArray bytes = templateJson(spec);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        return QStringLiteral("cannot write '%1': %2").arg(path, f.errorString());
    return {};
}

}  // namespace vc::records
