#include "CliOutcome.h"

#include "CliOptions.h"
#include "extract/FailureMessage.h"

namespace vc::cli {

namespace {

const QString kNoEmails = QStringLiteral("There are no emails in the Folder you selected.");
const QString kWalkNotConnected = QStringLiteral("Connection failed. Check username and password.");
const QString kDone = QStringLiteral("Done.");

}  // namespace

QStringList outcomeMessages(const RunOutcome &outcome)
{
    QStringList said;
    const std::optional<StepFault> &failure = outcome.failure;
    if (failure && !failure->cancelled)
        said << failureText(*failure);
    if (!outcome.walked) {
        if (outcome.kind == RunOutcome::Kind::NoMessages
            || (failure && failure->stage == RunStage::Select && failure->missingFolder.isEmpty()
                && failure->fault.kind != ImapFailure::NotKept))
            said << kNoEmails;  // not after the local copy said what it lacks
        return said;
    }
    if (failure && isConnectStage(failure->stage))
        said << kWalkNotConnected;
    // "Done." only after a walk that misses nothing; otherwise what is missing, and why.
    const bool wentThrough =
        outcome.kind == RunOutcome::Kind::Completed || outcome.kind == RunOutcome::Kind::Incomplete;
    const QString shortfall = wentThrough ? shortfallText(outcome.walk) : QString();
    said << (shortfall.isEmpty() ? kDone : shortfall);
    return said;
}

int exitStatus(const RunOutcome &outcome, bool interrupted)
{
    if (interrupted)
        return exitcode::Interrupted;
    switch (outcome.kind) {
    case RunOutcome::Kind::Completed:
    case RunOutcome::Kind::NoMessages: return outcome.runTimeErrors > 0 ? exitcode::Failure : exitcode::Completed;
    case RunOutcome::Kind::Failed:
        if (outcome.failure
            && (outcome.failure->stage == RunStage::Select || outcome.failure->stage == RunStage::Search))
            return exitcode::FolderNotSelected;
        return exitcode::ConnectFailed;
    case RunOutcome::Kind::Stopped:
    case RunOutcome::Kind::Incomplete: return exitcode::Failure;
    }
    return exitcode::Failure;
}

}  // namespace vc::cli
