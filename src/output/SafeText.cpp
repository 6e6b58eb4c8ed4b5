#include "output/SafeText.h"

namespace vc::safetext {

namespace {

bool isBidiControl(char16_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool needsEscape(char16_t c)
{
    if (c < 0x20)
        return c != u'\t';
    if (c < 0x7F)
        return false;
    return c <= 0x9F || isBidiControl(c);
}

}  // namespace

QString forTerminal(const QString &text)
{
    qsizetype first = 0;
    const qsizetype n = text.size();
    while (first < n && !needsEscape(text.at(first).unicode()))
        ++first;
    if (first == n)
        return text;
    static const char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(n + 16);
    out += QStringView(text).left(first);
    for (qsizetype i = first; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!needsEscape(c)) {
            out += QChar(c);
        } else if (c <= 0xFF) {
            out += QLatin1String("\\x");
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 0xF]);
        } else {
            out += QLatin1String("\\u");
            for (int shift = 12; shift >= 0; shift -= 4)
                out += QLatin1Char(hex[(c >> shift) & 0xF]);
        }
    }
    return out;
}

bool looksLikeFormula(QStringView cell)
{
    if (cell.isEmpty())
        return false;
    switch (cell.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r': return true;
    default: return false;
    }
}

QString neutraliseFormula(const QString &cell)
{
    return looksLikeFormula(cell) ? QLatin1Char('\'') + cell : cell;
}

}  // namespace vc::safetext
