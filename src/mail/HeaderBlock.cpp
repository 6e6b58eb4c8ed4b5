// The header block of a raw message, read as bytes before GMime parses it.
#include "mail/HeaderBlock.h"

namespace vc::mime {

namespace {

// "Name:" or "Name :" at the start of raw[from, to): a header field. The name is
// printable ASCII without the colon.
bool isHeaderField(const QByteArray &raw, qsizetype from, qsizetype to)
{
    qsizetype i = from;
    while (i < to && raw[i] > ' ' && raw[i] < 127 && raw[i] != ':')
        ++i;
    if (i == from)
        return false;
    while (i < to && (raw[i] == ' ' || raw[i] == '\t'))
        ++i;
    return i < to && raw[i] == ':';
}

// A line of a header block: [at, end) without its CR LF or LF; the next line
// starts at `next`.
struct HeaderLine {
    qsizetype at, end, next;
};

// Calls `line` for each line of the header block of `raw` from `from` on,
// until it returns false or the empty line that ends the block comes. Returns
// the line the walk stopped at: the one refused, or the empty line; at the end
// of the bytes, an empty line there.
template <class LineFn>
HeaderLine walkHeaderBlock(const QByteArray &raw, qsizetype from, LineFn &&line)
{
    qsizetype at = from;
    while (at < raw.size()) {
        const qsizetype lf = raw.indexOf('\n', at);
        HeaderLine l{at, lf < 0 ? raw.size() : lf, lf < 0 ? raw.size() : lf + 1};
        if (l.end > l.at && raw[l.end - 1] == '\r')
            --l.end;
        if (l.end == l.at || !line(l))
            return l;
        at = l.next;
    }
    return {raw.size(), raw.size(), raw.size()};
}

// Where the body starts when the header block ends without its blank line: the
// first line that is neither a header field nor the folded continuation of one.
// -1 when the header block is sound. A leading mailbox "From " line is left to GMime.
qsizetype strayBodyLine(const QByteArray &raw)
{
    qsizetype from = 0;
    if (raw.startsWith("From ")) {
        from = raw.indexOf('\n') + 1;
        if (from == 0)
            return -1;
    }
    bool inField = false;  // a field has begun, so folded lines may follow
    const HeaderLine stop = walkHeaderBlock(raw, from, [&](const HeaderLine &l) {
        const bool continuation = inField && (raw[l.at] == ' ' || raw[l.at] == '\t');
        if (!continuation && !isHeaderField(raw, l.at, l.end))
            return false;
        inField = true;
        return true;
    });
    return stop.end > stop.at ? stop.at : -1;
}

// The header fields the record is made of, and those that say how the message
// is built (Content-*; GMime reads a message's structure from them alone).
bool isRecordField(QByteArrayView name)
{
    static const QByteArrayView kept[] = {"from", "subject", "date", "message-id"};
    if (name.size() >= 8 && qstrnicmp(name.data(), "content-", 8) == 0)
        return true;
    for (const QByteArrayView k : kept) {
        if (name.size() == k.size() && qstrnicmp(name.data(), k.data(), name.size()) == 0)
            return true;
    }
    return false;
}

// The name of the header field at raw[from, to) when it is one with a plain
// name (letters, digits, '-', '_', '.'), followed by blanks or not and a colon.
std::optional<QByteArrayView> plainFieldName(const QByteArray &raw, qsizetype from, qsizetype to)
{
    qsizetype i = from;
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
               || c == '.';
    };
    while (i < to && plain(raw[i]))
        ++i;
    const qsizetype nameEnd = i;
    while (i < to && (raw[i] == ' ' || raw[i] == '\t'))
        ++i;
    if (nameEnd == from || i >= to || raw[i] != ':')
        return std::nullopt;
    return QByteArrayView(raw.constData() + from, nameEnd - from);
}

// Messages up to this size lose the header fields the record is not made of.
constexpr qsizetype kFieldCopyLimit = qsizetype(1) << 20;

}  // namespace

// The message with the blank line its header block lacks put in before the
// first line that is not a header field; the message itself when it has one.
QByteArray withHeaderBlockEnd(const QByteArray &raw)
{
    const qsizetype stray = strayBodyLine(raw);
    if (stray < 0)
        return raw;
    const bool crlf = stray >= 2 ? raw.at(stray - 2) == '\r' : raw.contains("\r\n");
    return raw.left(stray) + (crlf ? "\r\n" : "\n") + raw.mid(stray);
}

// The message without the header fields the record is not made of (their
// folded lines with them): GMime makes an object of every field and decodes
// its value, and in real mail most fields (Received, DKIM-Signature, List-*,
// X-*) are never read. Only fields with plain names go; from the first line
// of the header block that is neither such a field nor a folded line, the rest
// stays as it is. The message itself when it has no field to leave out, when
// it starts with a mailbox "From " line, or when it is larger than
// kFieldCopyLimit: there its fields are a small part of the cost, and a copy
// of the message would not be. The copy goes into `trimmed`.
const QByteArray &withRecordFieldsOnly(const QByteArray &raw, QByteArray &trimmed)
{
    if (raw.size() > kFieldCopyLimit || raw.startsWith("From "))
        return raw;
    qsizetype copiedUpTo = 0;  // raw[copiedUpTo, a line's start) is kept and not yet copied
    bool keep = true;          // whether the field being read stays, for its folded lines
    walkHeaderBlock(raw, 0, [&](const HeaderLine &l) {
        if (raw[l.at] != ' ' && raw[l.at] != '\t') {
            const std::optional<QByteArrayView> name = plainFieldName(raw, l.at, l.end);
            if (!name)
                return false;
            keep = isRecordField(*name);
        }
        if (!keep) {
            if (copiedUpTo == 0)
                trimmed.truncate(0);
            trimmed.append(raw.constData() + copiedUpTo, l.at - copiedUpTo);
            copiedUpTo = l.next;
        }
        return true;
    });
    if (copiedUpTo == 0)
        return raw;
    trimmed.append(raw.constData() + copiedUpTo, raw.size() - copiedUpTo);
    return trimmed;
}

// Where the body of a message with a sound header block starts (right after
// its empty line, or at the end when it has none), when the message itself is
// a single part: no Content-Type field of it says multipart or message (a type
// read wrongly here only costs a second parse, see singlePartBody). Nothing
// otherwise, and for a message that starts with a mailbox "From " line.
std::optional<qsizetype> singlePartBodyStart(const QByteArray &raw)
{
    if (raw.startsWith("From "))
        return std::nullopt;
    bool single = true;
    const HeaderLine stop = walkHeaderBlock(raw, 0, [&](const HeaderLine &l) {
        constexpr QByteArrayView kType = "content-type:";
        if (l.end - l.at < kType.size() || qstrnicmp(raw.constData() + l.at, kType.data(), kType.size()) != 0)
            return true;
        const QByteArrayView value =
            QByteArrayView(raw.constData() + l.at + kType.size(), l.end - l.at - kType.size()).trimmed();
        single = !value.isEmpty() && qstrnicmp(value.data(), "multipart", qMin<qsizetype>(9, value.size())) != 0
                 && qstrnicmp(value.data(), "message", qMin<qsizetype>(7, value.size())) != 0;
        return single;
    });
    if (!single)
        return std::nullopt;
    return stop.next;  // after the empty line, or the end
}

}  // namespace vc::mime
