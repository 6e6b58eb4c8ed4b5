#pragma once
#include <QByteArray>
#include <QString>

namespace vc {

// Mailbox names on the wire (IMAP's modified UTF-7): printable ASCII stands for
// itself except "&", which is "&-"; everything else is UTF-16 in a base64 variant
// between "&" and "-".
QByteArray encodeMailboxName(const QString &name);
// The reverse. A name that is not valid modified UTF-7 (for example UTF-8 from a
// server that sends names unencoded) is read as UTF-8.
QString decodeMailboxName(const QByteArray &wire);

}  // namespace vc
