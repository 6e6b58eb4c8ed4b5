#include "core/JsonText.h"

namespace vc::json {

void appendString(QByteArray &out, QStringView text)
{
    out += '"';
    auto escape16 = [&](char16_t u) {
        static const char hex[] = "0123456789abcdef";
        out += "\\u";
        out += hex[(u >> 12) & 0xF];
        out += hex[(u >> 8) & 0xF];
        out += hex[(u >> 4) & 0xF];
        out += hex[u & 0xF];
    };
    const qsizetype n = text.size();
    qsizetype run = 0;  // start of the pending stretch of plain characters
    auto flush = [&](qsizetype end) {
        if (end > run)
            out += text.mid(run, end - run).toUtf8();
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        const char *esc = nullptr;
        switch (c) {
        case u'"': esc = "\\\""; break;
        case u'\\': esc = "\\\\"; break;
        case u'\b': esc = "\\b"; break;
        case u'\f': esc = "\\f"; break;
        case u'\n': esc = "\\n"; break;
        case u'\r': esc = "\\r"; break;
        case u'\t': esc = "\\t"; break;
        default: break;
        }
        if (esc) {
            flush(i);
            out += esc;
            run = i + 1;
        } else if (c < 0x20) {
            flush(i);
            escape16(c);
            run = i + 1;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;  // a valid pair stays in the plain stretch
        } else if (QChar::isSurrogate(c)) {
            flush(i);
            escape16(c);  // a lone surrogate has no UTF-8 form; keep it as an escape
            run = i + 1;
        }
    }
    flush(n);
    out += '"';
}

QByteArray stringLiteral(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    appendString(out, text);
    return out;
}

}  // namespace vc::json
