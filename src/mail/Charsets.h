#pragma once
#include <QByteArrayView>
#include <QString>

namespace vc {

// Converts bytes in the named charset to Unicode. An empty, unknown or ASCII
// charset is read as UTF-8 when the bytes are valid UTF-8, else as Latin-1;
// Latin-1 is read as Windows-1252 (0x80 is the euro sign). Bytes that are
// invalid in a known charset become U+FFFD. Line ends are kept as they are.
QString decodeCharset(QByteArrayView bytes, QByteArrayView charset);

}  // namespace vc
