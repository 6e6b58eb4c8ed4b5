// The extraction rules on any message and parameters. The input, read as UTF-8,
// is cut at NUL bytes into subject, body, search text, start and end marker,
// line-number entry and text-set items. Besides not failing, the rules must keep
// their promises: lower-casing keeps the length, the body lines join back into
// the body, containing and not containing split the lines between them, and
// every item between markers is a non-empty piece of its source.
#include "rules/Rules.h"

#include <cstddef>
#include <cstdint>

using namespace vc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> fields = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const auto field = [&](int i) { return QString::fromUtf8(fields.value(i)); };
    MailRecord m;
    m.Subject = field(0);
    m.PlainTextBody = field(1);
    m.From = m.Subject.left(3);
    const QString text = field(2), start = field(3), end = field(4), entry = field(5);
    QStringList items;
    for (int i = 6; i < fields.size(); ++i)
        items << field(i);

    if (rules::lowerCase(m.PlainTextBody).size() != m.PlainTextBody.size())
        __builtin_trap();
    const QStringList lines = rules::bodyLines(m.PlainTextBody);
    if (lines.join(QStringLiteral("\r\n")) != m.PlainTextBody)
        __builtin_trap();
    const qsizetype headers = (m.From.isEmpty() ? 0 : 1) + (m.Subject.isEmpty() ? 0 : 1);
    if (rules::allEmailData(m).size() != headers + 1 + lines.size())
        __builtin_trap();
    if (rules::linesContaining(m, text).size() + rules::linesNotContaining(m, text).size() != headers + lines.size())
        __builtin_trap();
    for (const QString &item : rules::betweenItems(m.PlainTextBody, start, end)) {
        if (item.isEmpty() || !m.PlainTextBody.contains(item))
            __builtin_trap();
    }
    (void)rules::betweenMarkers(m, start, end, entry.isEmpty());
    (void)rules::isLineNumberEntry(entry);
    if (rules::linesByNumber(m.PlainTextBody, entry).size() > lines.size())
        __builtin_trap();
    (void)rules::textSetLines(m, items);
    (void)rules::containsText(m.Subject, text);
    return 0;
}
