#include "mail/ImapCommand.h"

namespace vc {

namespace {

bool quotable(const QByteArray &bytes)
{
    if (bytes.size() > 1000)
        return false;
    for (const char c : bytes) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7e)
            return false;
    }
    return true;
}

QByteArray quoted(const QByteArray &bytes)
{
    QByteArray q;
    q.reserve(bytes.size() + 2);
    q += '"';
    for (const char c : bytes) {
        if (c == '"' || c == '\\')
            q += '\\';
        q += c;
    }
    q += '"';
    return q;
}

}  // namespace

ImapCommand &ImapCommand::astring(const QByteArray &bytes, bool literalPlus)
{
    if (quotable(bytes)) {
        text(quoted(bytes));
    } else if (literalPlus) {
        text('{' + QByteArray::number(bytes.size()) + "+}\r\n" + bytes);
    } else {
        text('{' + QByteArray::number(bytes.size()) + '}');
        pieces.append(bytes);
    }
    return *this;
}

}  // namespace vc
