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
    return locale.toString(t.date(), dateFormat) + QLatin1Char(' ') + locale.toString(t.time(), timeFormat);
}

QString dateToText(const QDateTime &date)
{
    return date.isValid() ? dateTimeText(date) : QString();
}

}  // namespace vc
