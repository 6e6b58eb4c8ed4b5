#include "core/DateText.h"

#include <QLocale>

#include <limits>

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

// The local wall-clock time of `time`, as a UTC date-time that reads the
// same. The zone's offset is looked up once per six hours of UTC and kept
// (per thread): when it is the same at both ends of the six hours it holds in
// between, as zones change their offset at most once in so short a time.
QDateTime localWallClock(const QDateTime &time)
{
    constexpr qint64 kSpanMs = qint64(6) * 3600 * 1000;
    thread_local qint64 cachedSpan = std::numeric_limits<qint64>::min();
    thread_local int cachedOffset = 0;
    const qint64 ms = time.toMSecsSinceEpoch();
    const qint64 span = ms >= 0 ? ms / kSpanMs : (ms - kSpanMs + 1) / kSpanMs;
    if (span != cachedSpan) {
        const auto offsetAt = [](qint64 at) { return QDateTime::fromMSecsSinceEpoch(at).offsetFromUtc(); };
        const int start = offsetAt(span * kSpanMs);
        if (start != offsetAt(span * kSpanMs + kSpanMs - 1))
            return time.toLocalTime();  // the offset changes within it: this time on its own
        cachedSpan = span;
        cachedOffset = start;
    }
    return QDateTime::fromMSecsSinceEpoch(ms + qint64(cachedOffset) * 1000, Qt::UTC);
}

}  // namespace

QString dateTimeText(const QDateTime &time)
{
    // The system locale does not change while the program runs; working out
    // its formats once keeps each use cheap.
    static const QLocale locale = QLocale::system();
    static const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    static const QString timeFormat = longTimeFormatWithoutZone(locale);
    const QDateTime t = localWallClock(time);
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
