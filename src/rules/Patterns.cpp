#include "rules/Patterns.h"

namespace vc::records {

namespace {

// Month names as mail writes them, capitalised (so "may" in a sentence is no month).
#define VC_MONTH                                                                                                       \
    "(?:Jan(?:uary)?|Feb(?:ruary)?|Mar(?:ch)?|Apr(?:il)?|May|June?|July?|Aug(?:ust)?|Sep(?:t(?:ember)?)?|"             \
    "Oct(?:ober)?|Nov(?:ember)?|Dec(?:ember)?)"
#define VC_WEEKDAY "(?:(?:Mon|Tues?|Wed(?:nes)?|Thu(?:rs)?|Fri|Sat(?:ur)?|Sun)(?:day)?\\.?,?\\s+)"
#define VC_CURRENCY_CODE "(?:USD|EUR|GBP|CHF|JPY|CAD|AUD|NZD|SEK|NOK|DKK|PLN|CZK|HUF|INR|CNY|ZAR)"
// An amount: digits in groups of three (1,234,567, 1.234.567, 1 234 567 or
// with no-break spaces), or plain digits, then up to two decimals.
#define VC_AMOUNT "(?:\\d{1,3}(?:[,.' \\x{00A0}\\x{202F}]\\d{3})+|\\d+)(?:[.,]\\d{1,2})?(?!\\d)"

const QList<ReadyPattern> kPatterns = {
    {QStringLiteral("email"), QStringLiteral("E-mail address"),
     QStringLiteral("(?<![A-Za-z0-9._%+\\-])[A-Za-z0-9][A-Za-z0-9._%+\\-]{0,63}@"
                    "(?:[A-Za-z0-9](?:[A-Za-z0-9\\-]{0,61}[A-Za-z0-9])?\\.)+[A-Za-z]{2,24}(?![A-Za-z0-9\\-])"),
     ReadyPattern::Check::None},
    {QStringLiteral("url"), QStringLiteral("Web address"),
     QStringLiteral("\\b(?i:https?://|www\\.)[^\\s<>\"\\x{00A0}]+"), ReadyPattern::Check::WebAddress},
    {QStringLiteral("phone"), QStringLiteral("Phone number"),
     QStringLiteral(
         "(?<![\\w+\\-./])(?:\\+\\d{1,3}[ .\\-]?)?(?:\\(\\d{1,5}\\)[ .\\-]?)?\\d{1,5}(?:[ .\\-]?\\d{1,5}){0,6}"
         "(?!\\w)(?![.\\-/]\\d)"),
     ReadyPattern::Check::Phone},
    {QStringLiteral("money"), QStringLiteral("Money amount"),
     QStringLiteral("(?:-?(?:[$\\x{20AC}\\x{00A3}\\x{00A5}\\x{20B9}]|\\b" VC_CURRENCY_CODE
                    "(?![A-Za-z]))\\s?-?" VC_AMOUNT "|(?<![\\w.,])-?" VC_AMOUNT
                    "\\s?(?:[$\\x{20AC}\\x{00A3}\\x{00A5}\\x{20B9}]|" VC_CURRENCY_CODE "(?![A-Za-z])))"),
     ReadyPattern::Check::None},
    {QStringLiteral("date"), QStringLiteral("Date"),
     QStringLiteral("(?<![\\w./\\-])(?:\\d{4}-\\d{2}-\\d{2}"
                    "|" VC_WEEKDAY "?\\d{1,2}(?:st|nd|rd|th)?\\.?\\s+" VC_MONTH "\\.?(?:,?\\s+\\d{4})?"
                    "|" VC_WEEKDAY "?" VC_MONTH "\\.?\\s+\\d{1,2}(?:st|nd|rd|th)?(?:,?\\s+\\d{4})?"
                    "|\\d{1,2}[./]\\d{1,2}[./](?:\\d{4}|\\d{2}))(?!\\w)(?![./\\-]\\d)"),
     ReadyPattern::Check::Date},
};

#undef VC_MONTH
#undef VC_WEEKDAY
#undef VC_CURRENCY_CODE
#undef VC_AMOUNT

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A web address without the punctuation of the sentence around it: trailing
// full stops, commas, colons, quotes, and closing brackets that close nothing
// opened inside the address.
qsizetype webAddressLength(QStringView m)
{
    qsizetype n = m.size();
    while (n > 0) {
        const QChar c = m[n - 1];
        if (QStringView(u".,;:!?'*").contains(c)) {
            --n;
            continue;
        }
        const QChar open = c == u')' ? u'(' : c == u']' ? u'[' : c == u'}' ? u'{' : QChar();
        if (!open.isNull() && m.left(n).count(open) < m.left(n).count(c)) {
            --n;
            continue;
        }
        break;
    }
    // "https://" or "www." with nothing after it is no address.
    const qsizetype scheme = m.indexOf(u"//") >= 0 ? m.indexOf(u"//") + 2 : 4;
    return n > scheme ? n : -1;
}

// The digit groups of a phone-number candidate and the separators between them.
struct Groups {
    QList<int> lengths;
    QString separators;
    int digits = 0;
    bool plus = false;
    bool parenthesis = false;
};

Groups groupsOf(QStringView m)
{
    Groups g;
    int run = 0;
    for (QChar c : m) {
        if (isDigit(c)) {
            ++run;
            ++g.digits;
            continue;
        }
        if (c == u'+')
            g.plus = true;
        else if (c == u'(' || c == u')')
            g.parenthesis = true;
        if (run > 0) {
            g.lengths << run;
            if (c != u'(' && c != u')')
                g.separators += c;
            run = 0;
        }
    }
    if (run > 0)
        g.lengths << run;
    return g;
}

bool allAre(const QString &s, QChar c)
{
    return !s.isEmpty() && s.count(c) == s.size();
}

bool isPhone(QStringView m)
{
    const Groups g = groupsOf(m);
    if (g.digits < 7 || g.digits > 15)
        return false;
    if (g.plus || g.parenthesis)
        return true;
    if (g.lengths.size() == 1)  // one run of digits: a national number starting 0, else a reference
        return m.front() == u'0' && g.digits >= 10 && g.digits <= 11;
    const QList<int> &l = g.lengths;
    const bool dotted = allAre(g.separators, u'.');
    // 06.01.2025, 2025-01-06: dates.
    if (l.size() == 3 && (dotted || allAre(g.separators, u'-'))
        && ((l[0] <= 2 && l[1] <= 2 && (l[2] == 4 || l[2] == 2)) || (l[0] == 4 && l[1] <= 2 && l[2] <= 2)))
        return false;
    if (dotted) {
        // 1.234.567: a number in groups of three; 192.168.1.10: an IPv4 address.
        bool threes = l[0] <= 3;
        for (qsizetype i = 1; i < l.size(); ++i)
            threes = threes && l[i] == 3;
        if (threes)
            return false;
        if (l.size() == 4 && l[0] <= 3 && l[1] <= 3 && l[2] <= 3 && l[3] <= 3)
            return false;
    }
    return true;
}

// Numbers of a numeric date; a written date's day.
bool isDate(QStringView m)
{
    QList<int> numbers;
    int value = -1;
    bool letters = false;
    for (QChar c : m) {
        if (isDigit(c)) {
            value = (value < 0 ? 0 : value * 10) + (c.unicode() - u'0');
            if (value > 99999)
                return false;
            continue;
        }
        letters = letters || c.isLetter();
        if (value >= 0)
            numbers << value;
        value = -1;
    }
    if (value >= 0)
        numbers << value;
    if (letters) {
        // The first number below 100 is the day ("Monday 6 January 2025", "January 6, 2025").
        for (int n : numbers)
            if (n < 100)
                return n >= 1 && n <= 31;
        return false;
    }
    if (numbers.size() != 3)
        return false;
    if (numbers[0] >= 1000)  // 2025-01-06
        return numbers[1] >= 1 && numbers[1] <= 12 && numbers[2] >= 1 && numbers[2] <= 31;
    // 06/01/2025 or 01/06/2025: day and month in either order.
    const int a = numbers[0], b = numbers[1];
    return a >= 1 && b >= 1 && a <= 31 && b <= 31 && (a <= 12 || b <= 12);
}

}  // namespace

const QList<ReadyPattern> &readyPatterns()
{
    return kPatterns;
}

const ReadyPattern *findPattern(QStringView name)
{
    for (const ReadyPattern &p : kPatterns)
        if (p.name == name)
            return &p;
    return nullptr;
}

qsizetype acceptedLength(const ReadyPattern &pattern, QStringView match)
{
    switch (pattern.check) {
    case ReadyPattern::Check::None: return match.size();
    case ReadyPattern::Check::WebAddress: return webAddressLength(match);
    case ReadyPattern::Check::Phone: return isPhone(match) ? match.size() : -1;
    case ReadyPattern::Check::Date: return isDate(match) ? match.size() : -1;
    }
    return match.size();
}

}  // namespace vc::records
