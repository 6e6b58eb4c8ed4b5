// Used only while the real MIME decoder is not part of the build: takes the
// Subject header and the text after the first blank line.
#include "mail/MimeDecode.h"

namespace vc {

ImapEmail decodeMessage(const QByteArray &raw)
{
    ImapEmail e;
    qsizetype split = raw.indexOf("\r\n\r\n");
    const QByteArray head = split < 0 ? raw : raw.left(split);
    for (const QByteArray &line : head.split('\n')) {
        if (line.startsWith("Subject: "))
            e.Subject = QString::fromUtf8(line.mid(9).trimmed());
    }
    if (split >= 0)
        e.PlainTextBody = QString::fromUtf8(raw.mid(split + 4));
    return e;
}

}  // namespace vc
