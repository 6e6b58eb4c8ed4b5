// What the text of a number or date column stands for.
#include "output/RecordWriters.h"

#include <QDateTime>
#include <QLocale>

namespace vc::records {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isGrouping(QChar c)
{
    return c == u'\'' || c == u' ' || c == QChar(0x00A0) || c == QChar(0x202F);
}

}  // namespace

std::optional<double> cellNumber(QStringView text)
{
    text = text.trimmed();
    // A currency (symbol, code or word) before or after the amount.
    const auto isNoise = [](QChar c) { return c.isLetter() || c.category() == QChar::Symbol_Currency || c.isSpace(); };
    while (!text.isEmpty() && isNoise(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isNoise(text.back()))
        text.chop(1);
    bool negative = false;
    if (text.startsWith(u'-') || text.startsWith(QChar(0x2212))) {
        negative = true;
        text = text.mid(1).trimmed();
        while (!text.isEmpty() && isNoise(text.front()))  // "-$5"
            text = text.mid(1);
    }
    if (text.isEmpty() || !isDigit(text.front()) || !isDigit(text.back()))
        return std::nullopt;
    qsizetype lastDot = -1, lastComma = -1, dots = 0, commas = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'.') {
            lastDot = i;
            ++dots;
        } else if (c == u',') {
            lastComma = i;
            ++commas;
        } else if (!isDigit(c) && !isGrouping(c)) {
            return std::nullopt;
        }
    }
    // The decimal mark: the later of the two when both occur; a lone mark
    // once, unless exactly three digits follow it ("1,234" is a thousand).
    qsizetype decimal = -1;
    if (dots && commas)
        decimal = qMax(lastDot, lastComma);
    else if (dots + commas == 1) {
        const qsizetype at = dots ? lastDot : lastComma;
        if (text.size() - at - 1 != 3)
            decimal = at;
    }
    QString plain;
    plain.reserve(text.size() + 1);
    if (negative)
        plain += u'-';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isDigit(c)) {
            plain += c;
        } else if (i == decimal) {
            plain += u'.';
        } else {
            // A grouping mark stands before the decimal mark, with three digits after it.
            qsizetype j = i + 1;
            while (j < text.size() && isDigit(text[j]))
                ++j;
            if (j - i - 1 != 3 || (decimal >= 0 && i > decimal))
                return std::nullopt;
        }
    }
    bool ok = false;
    const double value = plain.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<CellDate> cellDate(QStringView text)
{
    const QString s = text.trimmed().toString();
    if (s.isEmpty())
        return std::nullopt;
    const QDate iso = QDate::fromString(s, Qt::ISODate);
    if (iso.isValid() && s.size() == 10)
        return CellDate{iso, QTime()};
    QDateTime dt = QDateTime::fromString(s, Qt::ISODate);
    if (!dt.isValid())
        dt = QDateTime::fromString(s, Qt::RFC2822Date);
    if (dt.isValid())
        return CellDate{dt.date(), dt.time()};
    // Dates as mail writes them, without the weekday, day first.
    const QLocale c = QLocale::c();
    QString bare = s;
    bare.remove(QChar(','));
    const qsizetype space = bare.indexOf(u' ');
    if (space > 0) {
        QStringView first = QStringView(bare).left(space);
        if (first.endsWith(u'.'))
            first.chop(1);
        for (int day = 1; day <= 7; ++day)
            if (first.compare(c.dayName(day, QLocale::LongFormat), Qt::CaseInsensitive) == 0
                || first.compare(c.dayName(day, QLocale::ShortFormat), Qt::CaseInsensitive) == 0) {
                bare = bare.mid(space + 1);
                break;
            }
    }
    for (const QString &format :
         {QStringLiteral("d MMMM yyyy"), QStringLiteral("d MMM yyyy"), QStringLiteral("MMMM d yyyy"),
          QStringLiteral("MMM d yyyy"), QStringLiteral("d/M/yyyy"), QStringLiteral("d.M.yyyy")}) {
        const QDate d = c.toDate(bare, format);
        if (d.isValid())
            return CellDate{d, QTime()};
    }
    return std::nullopt;
}

}  // namespace vc::records
