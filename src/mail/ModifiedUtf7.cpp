#include "mail/ModifiedUtf7.h"

#include <optional>

namespace vc {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return -1;
}

void flushRun(QByteArray &out, const QString &run)
{
    out += '&';
    quint32 bits = 0;
    int nbits = 0;
    for (const QChar ch : run) {
        bits = (bits << 16) | ch.unicode();
        nbits += 16;
        while (nbits >= 6) {
            nbits -= 6;
            out += kAlphabet[(bits >> nbits) & 0x3f];
        }
        bits &= (1u << nbits) - 1;
    }
    if (nbits > 0)
        out += kAlphabet[(bits << (6 - nbits)) & 0x3f];
    out += '-';
}

std::optional<QString> decodeStrict(const QByteArray &wire)
{
    QString out;
    qsizetype i = 0;
    while (i < wire.size()) {
        const char c = wire[i];
        if (uchar(c) < 0x20 || uchar(c) > 0x7e)
            return std::nullopt;
        if (c != '&') {
            out += QLatin1Char(c);
            ++i;
            continue;
        }
        const qsizetype dash = wire.indexOf('-', i + 1);
        if (dash < 0)
            return std::nullopt;
        if (dash == i + 1) {
            out += QLatin1Char('&');
            i = dash + 1;
            continue;
        }
        quint32 bits = 0;
        int nbits = 0;
        QString run;
        for (qsizetype k = i + 1; k < dash; ++k) {
            const int v = sextet(wire[k]);
            if (v < 0)
                return std::nullopt;
            bits = (bits << 6) | quint32(v);
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                run += QChar(char16_t((bits >> nbits) & 0xffff));
                bits &= (1u << nbits) - 1;
            }
        }
        // Leftover bits are padding and must be zero.
        if (bits != 0 || run.isEmpty())
            return std::nullopt;
        out += run;
        i = dash + 1;
    }
    return out;
}

}  // namespace

QByteArray encodeMailboxName(const QString &name)
{
    QByteArray out;
    QString run;
    for (const QChar ch : name) {
        const char16_t u = ch.unicode();
        if (u >= 0x20 && u <= 0x7e) {
            if (!run.isEmpty()) {
                flushRun(out, run);
                run.clear();
            }
            if (u == '&')
                out += "&-";
            else
                out += char(u);
        } else {
            run += ch;
        }
    }
    if (!run.isEmpty())
        flushRun(out, run);
    return out;
}

QString decodeMailboxName(const QByteArray &wire)
{
    if (std::optional<QString> s = decodeStrict(wire))
        return *s;
    return QString::fromUtf8(wire);
}

}  // namespace vc
