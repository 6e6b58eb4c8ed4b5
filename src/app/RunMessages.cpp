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

QList<WindowBox> outcomeBoxes(const RunOutcome &outcome, const QString &doneTitle)
{
    QList<WindowBox> boxes;
    const std::optional<StepFault> &failure = outcome.failure;
    if (failure) {
        if (const std::optional<WindowBox> box = failureBox(*failure))
            boxes << *box;
    }
    if (!outcome.walked) {
        if (outcome.kind == RunOutcome::Kind::NoMessages || (failure && failure->stage == RunStage::Select))
            boxes << WindowBox{kNoEmails, BoxIcon::None, QString()};
        return boxes;
    }
    if (failure && isConnectStage(failure->stage))
        boxes << WindowBox{kWalkNotConnected, BoxIcon::None, QString()};
    const bool wentThrough =
        outcome.kind == RunOutcome::Kind::Completed || outcome.kind == RunOutcome::Kind::Incomplete;
    const QString shortfall = wentThrough ? shortfallText(outcome.walk) : QString();
    boxes << WindowBox{shortfall.isEmpty() ? kDone : kDone + QLatin1Char('\r') + shortfall, BoxIcon::None, doneTitle};
    return boxes;
}

void showBoxes(const QList<WindowBox> &boxes)
{
    for (const WindowBox &b : boxes)
        dialogs().messageBox(b.text, BoxButtons::Ok, b.icon, b.title);
}

}  // namespace vc
