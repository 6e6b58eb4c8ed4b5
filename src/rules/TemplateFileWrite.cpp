// Writing a template file: the JSON a reader gives the same template back from.
#include "rules/TemplateFile.h"

#include "core/JsonText.h"

#include <QSaveFile>

namespace vc::records {

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

QString writeTemplateFile(const QString &path, const TemplateSpec &spec)
{
    QSaveFile f(path);
    const QByteArray bytes = templateJson(spec);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        return QStringLiteral("cannot write '%1': %2").arg(path, f.errorString());
    return {};
}

}  // namespace vc::records
