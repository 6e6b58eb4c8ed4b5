#pragma once
#include "core/Dialogs.h"
#include "extract/RunOutcome.h"
#include "extract/StepFault.h"

#include <QList>
#include <QString>

#include <optional>

namespace vc {

// One message box as the window shows it.
struct WindowBox {
    QString text;
    BoxIcon icon = BoxIcon::None;
    QString title;  // empty: the application's title
};

// The box of a failed step: the failure in the program's words, a warning for
// an OAuth 2.0 sign-in; nothing for a sign-in the user gave up.
std::optional<WindowBox> failureBox(const StepFault &failure);

// The boxes that tell how a run ended, in the order they are shown: the
// failure, what it meant for the run, and "Done." (titled `doneTitle`, with
// what the walk missed below it) after a run that reached its walk. `rows` is
// the number of rows in the results list: a walk that found none says so, and
// a stopped run says where it stopped and that the rows found so far stay.
QList<WindowBox> outcomeBoxes(const RunOutcome &outcome, const QString &doneTitle, qint64 rows = -1);

// The end of a run's "Done." box when no rows were found, and the box of a stop.
QString noRowsText(qint64 messages);
QString stoppedText(const RunOutcome &outcome, qint64 rows);

// Shows the boxes one after the other (OK buttons).
void showBoxes(const QList<WindowBox> &boxes);

}  // namespace vc
