// Bytes in a charset named by a message, to Unicode.
#include "mail/Charsets.h"

#include <gmime/gmime.h>

#include <QStringDecoder>

#include <cerrno>
#include <cstring>

namespace vc {

namespace {

bool isUtf8Label(QByteArrayView cs)
{
    return cs == "utf-8" || cs == "utf8";
}

bool isAsciiLabel(QByteArrayView cs)
{
    return cs == "us-ascii" || cs == "ascii" || cs == "ansi_x3.4-1968" || cs == "iso646-us";
}

// Latin-1 as mail writers really use it: bytes 0x80-0x9F are the Windows-1252
// characters (the euro sign, typographic quotes, dashes); the five bytes that
// Windows-1252 leaves unassigned stay the C1 controls Latin-1 gives them.
QString fromWindows1252(QByteArrayView bytes)
{
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char ch : bytes) {
        const uchar b = uchar(ch);
        *out++ = QChar(b >= 0x80 && b <= 0x9F ? high[b - 0x80] : char16_t(b));
    }
    return text;
}

// UTF-8 when the bytes are valid UTF-8, else Latin-1 (read as Windows-1252).
QString utf8OrLatin1(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

// Converts with iconv; an invalid or truncated sequence becomes U+FFFD and the
// conversion goes on with the next byte. Returns false when the charset is unknown.
bool iconvToUnicode(QByteArrayView bytes, const char *charset, QString *out)
{
    iconv_t cd = g_mime_iconv_open("UTF-8", charset);
    if (cd == (iconv_t)-1)
        return false;
    QByteArray utf8;
    utf8.resize(bytes.size() * 2 + 16);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    qsizetype used = 0;
    static const char replacement[] = "\xEF\xBF\xBD";
    bool flushing = false;
    while (true) {
        char *dst = utf8.data() + used;
        size_t outLeft = size_t(utf8.size() - used);
        const size_t rc =
            flushing ? iconv(cd, nullptr, nullptr, &dst, &outLeft) : iconv(cd, &in, &inLeft, &dst, &outLeft);
        used = dst - utf8.data();
        if (rc != size_t(-1)) {
            if (flushing)
                break;
            flushing = true;  // input used up: let a stateful charset end its shift state
            continue;
        }
        if (errno == E2BIG) {
            utf8.resize(utf8.size() * 2 + 16);
            continue;
        }
        // EILSEQ, or EINVAL for a sequence cut off at the end.
        if (utf8.size() - used < 3)
            utf8.resize(utf8.size() * 2 + 16);
        memcpy(utf8.data() + used, replacement, 3);
        used += 3;
        if (inLeft > 0) {
            ++in;
            --inLeft;
        }
        if (inLeft == 0)
            flushing = true;
    }
    g_mime_iconv_close(cd);
    utf8.truncate(used);
    *out = QString::fromUtf8(utf8);
    return true;
}

}  // namespace

QString decodeCharset(QByteArrayView bytes, QByteArrayView charsetLabel)
{
    if (bytes.isEmpty())
        return {};
    const QByteArray charset = charsetLabel.trimmed().toByteArray().toLower();
    if (charset.isEmpty() || isAsciiLabel(charset))
        return utf8OrLatin1(bytes);
    if (isUtf8Label(charset))
        return QString::fromUtf8(bytes);  // invalid sequences become U+FFFD
    if (charset == "iso-8859-1" || charset == "iso_8859-1" || charset == "latin1" || charset == "latin-1"
        || charset == "windows-1252" || charset == "cp1252")
        return fromWindows1252(bytes);
    QString text;
    if (iconvToUnicode(bytes, g_mime_charset_iconv_name(charset.constData()), &text))
        return text;
    return utf8OrLatin1(bytes);  // a charset nobody knows
}

}  // namespace vc
