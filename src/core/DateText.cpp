#include "core/DateText.h"

#include <QLocale>

namespace vc {

namespace {

// The locale's long time format without its time-zone part ("t" and the blank
// before it), so that a record reads the same in every zone name's language.
QString longTimeFormatWithoutZone(const QLocale &locale)
{
    const QString f = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar c = f.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
        } else if (!quoted && c == u't') {
            // drop the zone and the blank that separated it
            while (out.endsWith(u' '))
                out.chop(1);
        } else {
            out += c;
        }
    }
    return out.trimmed();
}

}  // namespace

QString dateTimeText(const QDateTime &time)
{
    // The system locale does not change while the program runs; working out
    // its formats once keeps each use cheap.
    static const QLocale locale = QLocale::system();
    static const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    static const QString timeFormat = longTimeFormatWithoutZone(locale);
    const QDateTime t = time.toLocalTime();
    // Mail of one folder comes mostly a day at a time: the text of the last
    // day is kept (one per thread, as messages are decoded on several).
    thread_local QDate lastDay;
    thread_local QString lastDayText;
    const QDate day = t.date();
    if (day != lastDay || lastDayText.isNull()) {
        lastDayText = locale.toString(day, dateFormat);
        lastDay = day;
    }
    return lastDayText + QLatin1Char(' ') + locale.toString(t.time(), timeFormat);
}

QString dateToText(const QDateTime &date)
{
    return date.isValid() ? dateTimeText(date) : QString();
}

}  // namespace vc
