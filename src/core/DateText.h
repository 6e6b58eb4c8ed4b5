#pragma once
#include <QDateTime>
#include <QString>

namespace vc {

// A date and time as the program shows it everywhere (message dates, the
// fetch log): the system short date, a blank and the system long time without
// a time-zone name, in local time.
QString dateTimeText(const QDateTime &time);

// The date of a message as the walk hands it on: dateTimeText(), or an empty
// text for an invalid date.
QString dateToText(const QDateTime &date);

}  // namespace vc
