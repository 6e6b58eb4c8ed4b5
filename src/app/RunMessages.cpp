#include "app/RunMessages.h"

#include "extract/FailureMessage.h"

namespace vc {

namespace {

const QString kNoEmails = QStringLiteral("There are no emails in the Folder you selected.");
const QString kWalkNotConnected = QStringLiteral("Connection failed. Check username and password.");
const QString kDone = QStringLiteral("Done.");

}  // namespace

std::optional<WindowBox> failureBox(const StepFault &failure)
{
    if (failure.cancelled)
        return std::nullopt;
    const BoxIcon icon = failure.stage == RunStage::SignIn ? BoxIcon::Warning : BoxIcon::None;
    return WindowBox{failureText(failure), icon, QString()};
}

QString noRowsText(qint64 messages)
{
    return messages == 1 ? QStringLiteral("No rows found in 1 message.")
                         : QStringLiteral("No rows found in %1 messages.").arg(messages);
}

QString stoppedText(const RunOutcome &outcome, qint64 rows)
{
    const qint64 of = outcome.walk.count > 0 ? outcome.walk.count : outcome.walk.asked;
    QString text = of > 0 ? QStringLiteral("Stopped at message %1 of %2.").arg(outcome.stoppedAt).arg(of)
                          : QStringLiteral("Stopped at message %1.").arg(outcome.stoppedAt);
    if (rows == 1)
        text += QStringLiteral(" The row found so far is kept.");
    else if (rows > 1)
        text += QStringLiteral(" The %1 rows found so far are kept.").arg(rows);
    else if (rows == 0)
        text += QStringLiteral(" No rows were found before the stop.");
    return text;
}

QList<WindowBox> outcomeBoxes(const RunOutcome &outcome, const QString &doneTitle, qint64 rows)
{
    QList<WindowBox> boxes;
    const std::optional<StepFault> &failure = outcome.failure;
    if (failure) {
        if (const std::optional<WindowBox> box = failureBox(*failure))
            boxes << *box;
    }
    if (!outcome.walked) {
        // A folder the server does not have is named as such; "no e-mails"
        // after that would say something else of it.
        if (outcome.kind == RunOutcome::Kind::NoMessages
            || (failure && failure->stage == RunStage::Select && failure->missingFolder.isEmpty()))
            boxes << WindowBox{kNoEmails, BoxIcon::None, QString()};
        return boxes;
    }
    if (failure && isConnectStage(failure->stage))
        boxes << WindowBox{kWalkNotConnected, BoxIcon::None, QString()};
    const bool wentThrough =
        outcome.kind == RunOutcome::Kind::Completed || outcome.kind == RunOutcome::Kind::Incomplete;
    if (outcome.kind == RunOutcome::Kind::Stopped && rows >= 0) {
        boxes << WindowBox{stoppedText(outcome, rows), BoxIcon::None, doneTitle};
        return boxes;
    }
    QString done = kDone;
    if (wentThrough && rows == 0 && outcome.walk.read > 0)
        done += QLatin1Char(' ') + noRowsText(outcome.walk.read);
    const QString shortfall = wentThrough ? shortfallText(outcome.walk) : QString();
    boxes << WindowBox{shortfall.isEmpty() ? done : done + QLatin1Char('\r') + shortfall, BoxIcon::None, doneTitle};
    return boxes;
}

void showBoxes(const QList<WindowBox> &boxes)
{
    for (const WindowBox &b : boxes)
        dialogs().messageBox(b.text, BoxButtons::Ok, b.icon, b.title);
}

}  // namespace vc
