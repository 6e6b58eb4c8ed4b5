#include "mail/HtmlText.h"

#include <QHash>

namespace vc {

namespace {

const QHash<QString, char32_t> &namedEntities()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t;
        // ISO 8859-1 characters, U+00A0 to U+00FF, in code order.
        static const char *const latin1[] = {
            "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
            "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
            "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
            "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
            "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
            "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
            "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
            "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
            "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
            "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        for (int i = 0; i < 96; ++i)
            t.insert(QString::fromLatin1(latin1[i]), char32_t(0xA0 + i));
        static const struct {
            const char *name;
            char32_t code;
        } others[] = {
            {"amp", 0x26},      {"lt", 0x3C},       {"gt", 0x3E},       {"quot", 0x22},     {"apos", 0x27},
            {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161},  {"Yuml", 0x178},
            {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},
            {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},    {"rlm", 0x200F},
            {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},
            {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021},
            {"bull", 0x2022},   {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032},  {"Prime", 0x2033},
            {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},   {"trade", 0x2122},  {"larr", 0x2190},
            {"uarr", 0x2191},   {"rarr", 0x2192},   {"darr", 0x2193},   {"harr", 0x2194},   {"minus", 0x2212},
            {"infin", 0x221E},  {"asymp", 0x2248},  {"ne", 0x2260},     {"le", 0x2264},     {"ge", 0x2265},
            {"hearts", 0x2665}, {"check", 0x2713},
        };
        for (const auto &e : others)
            t.insert(QString::fromLatin1(e.name), e.code);
        return t;
    }();
    return table;
}

// Numeric references 128-159 name Windows-1252 characters (as browsers read them).
char32_t numericReference(char32_t code)
{
    static const char16_t cp1252[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                        0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0xFFFD;
    if (code >= 0x80 && code <= 0x9F)
        return cp1252[code - 0x80];
    return code;
}

bool isHtmlSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

bool isAsciiAlnum(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

enum class TagKind { Other, Break, Block, Cell, Pre, SkipContent };

// The longest tag name with a kind of its own is shorter than this.
constexpr qsizetype kMaxKnownTagName = 12;

// `name`: lower case, at most kMaxKnownTagName - 1 letters and digits.
TagKind kindOf(QLatin1StringView name)
{
    static const struct {
        const char *name;
        TagKind kind;
    } kinds[] = {
        {"br", TagKind::Break},
        {"p", TagKind::Block},
        {"div", TagKind::Block},
        {"li", TagKind::Block},
        {"tr", TagKind::Block},
        {"h1", TagKind::Block},
        {"h2", TagKind::Block},
        {"h3", TagKind::Block},
        {"h4", TagKind::Block},
        {"h5", TagKind::Block},
        {"h6", TagKind::Block},
        {"ul", TagKind::Block},
        {"ol", TagKind::Block},
        {"dl", TagKind::Block},
        {"dt", TagKind::Block},
        {"dd", TagKind::Block},
        {"table", TagKind::Block},
        {"thead", TagKind::Block},
        {"tbody", TagKind::Block},
        {"tfoot", TagKind::Block},
        {"caption", TagKind::Block},
        {"blockquote", TagKind::Block},
        {"hr", TagKind::Block},
        {"address", TagKind::Block},
        {"article", TagKind::Block},
        {"aside", TagKind::Block},
        {"section", TagKind::Block},
        {"header", TagKind::Block},
        {"footer", TagKind::Block},
        {"nav", TagKind::Block},
        {"main", TagKind::Block},
        {"figure", TagKind::Block},
        {"figcaption", TagKind::Block},
        {"form", TagKind::Block},
        {"fieldset", TagKind::Block},
        {"legend", TagKind::Block},
        {"center", TagKind::Block},
        {"body", TagKind::Block},
        {"html", TagKind::Block},
        {"td", TagKind::Cell},
        {"th", TagKind::Cell},
        {"pre", TagKind::Pre},
        {"script", TagKind::SkipContent},
        {"style", TagKind::SkipContent},
        {"title", TagKind::SkipContent},
        {"template", TagKind::SkipContent},
        {"noscript", TagKind::SkipContent},
        {"textarea", TagKind::SkipContent},
    };
    for (const auto &k : kinds) {
        if (name == QLatin1StringView(k.name))
            return k.kind;
    }
    return TagKind::Other;
}

class HtmlText {
public:
    explicit HtmlText(const QString &html) : in_(html), n_(html.size()) { out_.reserve(html.size()); }

    QString run()
    {
        qsizetype i = 0;
        while (i < n_) {
            const QChar c = in_.at(i);
            if (c == QLatin1Char('<')) {
                i = tag(i);
            } else if (c == QLatin1Char('&')) {
                i = reference(i);
            } else if (const qsizetype end = plainRunEnd(i); end > i) {
                text(QStringView(in_).mid(i, end - i));  // what character() does for each, in one go
                i = end;
            } else {
                character(c);
                ++i;
            }
        }
        // No line breaks or blanks after the last text.
        while (!out_.isEmpty()
               && (out_.endsWith(QLatin1Char('\n')) || out_.endsWith(QLatin1Char('\r'))
                   || out_.endsWith(QLatin1Char(' '))))
            out_.chop(1);
        return out_;
    }

private:
    void lineBreak()
    {
        out_ += QLatin1String("\r\n");
        lineHasText_ = false;
        pendingSpace_ = false;
    }
    void blockBoundary()
    {
        if (lineHasText_)
            lineBreak();
        pendingSpace_ = false;
    }
    void text(QStringView s)
    {
        if (pendingSpace_ && lineHasText_)
            out_ += QLatin1Char(' ');
        pendingSpace_ = false;
        out_ += s;
        lineHasText_ = true;
    }
    void character(QChar c)
    {
        if (pre_ > 0) {
            if (c == QLatin1Char('\r'))
                return;  // CR LF and lone LF alike become one CR LF
            if (c == QLatin1Char('\n')) {
                lineBreak();
                return;
            }
            text(QStringView(&c, 1));
            return;
        }
        if (isHtmlSpace(c)) {
            pendingSpace_ = true;
            return;
        }
        if (c.unicode() == 0xA0)
            c = QLatin1Char(' ');  // a no-break space is a plain, uncollapsed space in text
        text(QStringView(&c, 1));
    }

    // The end of the characters from `i` on that character() would add as
    // text one by one: no markup, no white space (outside <pre>), no line
    // break (inside), no no-break space. Outside <pre> a single blank between
    // two such characters comes along: character() would keep it as one.
    qsizetype plainRunEnd(qsizetype i) const
    {
        const QChar *s = in_.constData();
        const auto plain = [&](qsizetype k) {
            const char16_t u = s[k].unicode();
            if (u == '<' || u == '&' || u == 0xA0)
                return false;
            return pre_ > 0 ? u != '\r' && u != '\n' : !isHtmlSpace(s[k]);
        };
        const qsizetype start = i;
        while (i < n_) {
            if (plain(i))
                ++i;
            else if (pre_ == 0 && i > start && s[i].unicode() == ' ' && i + 1 < n_ && plain(i + 1))
                i += 2;
            else
                break;
        }
        return i;
    }

    qsizetype indexOfCi(QLatin1StringView needle, qsizetype from) const
    {
        return in_.indexOf(needle, from, Qt::CaseInsensitive);
    }

    // At '<': a comment, a declaration, a tag, or a plain '<'. Returns the next index.
    qsizetype tag(qsizetype i)
    {
        if (QStringView(in_).mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = in_.indexOf(QLatin1String("-->"), i + 4);
            return end < 0 ? n_ : end + 3;
        }
        qsizetype j = i + 1;
        if (j < n_ && (in_.at(j) == QLatin1Char('!') || in_.at(j) == QLatin1Char('?'))) {
            const qsizetype end = in_.indexOf(QLatin1Char('>'), j);
            return end < 0 ? n_ : end + 1;
        }
        bool closing = false;
        if (j < n_ && in_.at(j) == QLatin1Char('/')) {
            closing = true;
            ++j;
        }
        const qsizetype nameStart = j;
        while (j < n_ && isAsciiAlnum(in_.at(j)))
            ++j;
        if (j == nameStart || !in_.at(nameStart).isLetter()) {
            character(in_.at(i));  // not a tag: "a < b"
            return i + 1;
        }
        // The name in lower case; a longer one than any known has no kind of its own.
        char lower[kMaxKnownTagName];
        const qsizetype nameLength = j - nameStart;
        if (nameLength < kMaxKnownTagName) {
            for (qsizetype k = 0; k < nameLength; ++k)
                lower[k] = char(in_.at(nameStart + k).toLower().unicode());
        }
        const QLatin1StringView name(lower, nameLength < kMaxKnownTagName ? nameLength : 0);
        // Attributes up to '>', quoted values may contain '>'.
        QChar quote;
        while (j < n_) {
            const QChar c = in_.at(j);
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                quote = c;
            } else if (c == QLatin1Char('>')) {
                break;
            }
            ++j;
        }
        const qsizetype after = j < n_ ? j + 1 : n_;
        switch (nameLength < kMaxKnownTagName ? kindOf(name) : TagKind::Other) {
        case TagKind::Break: lineBreak(); break;
        case TagKind::Block: blockBoundary(); break;
        case TagKind::Cell:
            if (!closing && lineHasText_)
                pendingSpace_ = true;
            break;
        case TagKind::Pre:
            blockBoundary();
            pre_ = closing ? qMax(0, pre_ - 1) : pre_ + 1;
            break;
        case TagKind::SkipContent:
            if (!closing) {
                // Raw text up to the matching end tag is not shown.
                const QString endTag = QLatin1String("</") + QString(name);
                const qsizetype end = in_.indexOf(endTag, after, Qt::CaseInsensitive);
                if (end < 0)
                    return n_;
                const qsizetype close = in_.indexOf(QLatin1Char('>'), end);
                return close < 0 ? n_ : close + 1;
            }
            break;
        case TagKind::Other: break;
        }
        return after;
    }

    // At '&': a character reference, or a plain '&'. Returns the next index.
    qsizetype reference(qsizetype i)
    {
        qsizetype j = i + 1;
        if (j < n_ && in_.at(j) == QLatin1Char('#')) {
            ++j;
            int base = 10;
            if (j < n_ && (in_.at(j) == QLatin1Char('x') || in_.at(j) == QLatin1Char('X'))) {
                base = 16;
                ++j;
            }
            const qsizetype digitsStart = j;
            char32_t code = 0;
            bool overflow = false;
            while (j < n_) {
                const char16_t u = in_.at(j).unicode();
                int d = -1;
                if (u >= '0' && u <= '9')
                    d = u - '0';
                else if (base == 16 && u >= 'a' && u <= 'f')
                    d = u - 'a' + 10;
                else if (base == 16 && u >= 'A' && u <= 'F')
                    d = u - 'A' + 10;
                if (d < 0)
                    break;
                if (!overflow) {
                    code = code * char32_t(base) + char32_t(d);
                    if (code > 0x10FFFF)
                        overflow = true;
                }
                ++j;
            }
            if (j == digitsStart) {
                character(in_.at(i));
                return i + 1;
            }
            if (j < n_ && in_.at(j) == QLatin1Char(';'))
                ++j;
            appendCodePoint(overflow ? 0xFFFD : numericReference(code));
            return j;
        }
        const qsizetype nameStart = j;
        while (j < n_ && j - nameStart < 32 && isAsciiAlnum(in_.at(j)))
            ++j;
        const QString name = in_.mid(nameStart, j - nameStart);
        const bool semicolon = j < n_ && in_.at(j) == QLatin1Char(';');
        const auto &table = namedEntities();
        const auto it = table.constFind(name);
        // Without ';' only the few names that old mail writers leave open count.
        static const QStringList openNames{QStringLiteral("amp"), QStringLiteral("lt"), QStringLiteral("gt"),
                                           QStringLiteral("quot"), QStringLiteral("nbsp")};
        if (it == table.constEnd() || (!semicolon && !openNames.contains(name))) {
            character(in_.at(i));
            return i + 1;
        }
        appendCodePoint(it.value());
        return semicolon ? j + 1 : j;
    }

    void appendCodePoint(char32_t code)
    {
        if (code == 0xA0)
            code = ' ';
        if (code == ' ' && pre_ == 0) {
            // A referenced space is kept as written, not collapsed.
            text(QStringView(u" "));
            return;
        }
        if (QChar::requiresSurrogates(code)) {
            const char16_t pair[2] = {QChar::highSurrogate(code), QChar::lowSurrogate(code)};
            text(QStringView(pair, 2));
        } else {
            const char16_t one = char16_t(code);
            text(QStringView(&one, 1));
        }
    }

    const QString &in_;
    const qsizetype n_;
    QString out_;
    bool lineHasText_ = false;
    bool pendingSpace_ = false;
    int pre_ = 0;
};

}  // namespace

QString htmlToPlainText(const QString &html)
{
    return HtmlText(html).run();
}

}  // namespace vc
