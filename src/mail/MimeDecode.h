#pragma once
#include "mail/ImapComponent.h"

#include <QByteArray>
#include <QString>

namespace vc {

// Decodes one raw RFC 5322 message (as fetched with BODY.PEEK[]) into the
// e-mail object's fields. Malformed input decodes as far as it can; never throws.
ImapEmail decodeMessage(const QByteArray &raw);

// Converts bytes in the named charset to Unicode. An empty, unknown or ASCII
// charset is read as UTF-8 when the bytes are valid UTF-8, else as Latin-1;
// Latin-1 is read as Windows-1252 (0x80 is the euro sign). Bytes that are
// invalid in a known charset become U+FFFD. Line ends are kept as they are.
QString decodeCharset(const QByteArray &bytes, const QByteArray &charset);

}  // namespace vc
