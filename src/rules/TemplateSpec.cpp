#include "rules/TemplateSpec.h"

namespace vc::records {

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

}  // namespace vc::records
