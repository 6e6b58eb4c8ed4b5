#include "extract/ExtractionRun.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"

namespace vc {

namespace {

// One run between its trapped steps. The run holds its own reference to the
// connection object: a disconnect during the walk drops the host's reference,
// and the object must outlive the walk that is using it.
class Run {
public:
    explicit Run(RunHost &host) : host_(host) {}

    RunOutcome go()
    {
        trap_(100, [&] { host_.setBusy(true); });
        trap_(102, [&] { host_.listing().results.clear(); });
        trap_(104, [&] { runFailed_ = false; });
        if (connect())
            countAndWalk();
        trap_(122, [&] { host_.setConnection(nullptr); });
        trap_(124, [&] { host_.resetProgress(); });
        trap_(126, [&] { host_.setBusy(false); });
        trap_(128, [&] {
            if (!runFailed_)
                host_.sayDone(shortfall_);
        });
        if (outcome_ == RunOutcome::Done && conn_ && conn_->AbortProcess)
            outcome_ = RunOutcome::Stopped;
        if (outcome_ == RunOutcome::Done && trap_.failures() > 0)
            outcome_ = RunOutcome::Failed;
        return outcome_;
    }

private:
    clsChilkatIMAP &object()
    {
        if (!conn_)
            raise(err::ObjectNotSet);
        return *conn_;
    }

    // Uses the host's connection object, or sets one up and logs in. False
    // when that login failed: the run then goes straight to its end.
    bool connect()
    {
        bool connected = true;
        trap_(106, [&] {
            conn_ = host_.connection();
            if (conn_)
                return;
            conn_ = setUpConnection(host_);
            host_.setConnection(conn_);
            if (!object().Connect()) {
                runFailed_ = true;
                connected = false;
                outcome_ = RunOutcome::ConnectFailed;
            }
        });
        return connected;
    }

    void countAndWalk()
    {
        QString folder;
        trap_(108, [&] { folder = host_.folderName(); });
        trap_(110, [&] { object().setCurrentLocation(1); });
        trap_(112, [&] { object().setMaxRecord(object().GetTotalMessage(folder)); });
        bool walk = false;
        trap_(114, [&] { walk = object().MaxRecord() > 0; });
        if (walk) {
            trap_(116, [&] {
                object().StartMailExtraction(folder);
                noteWalkEnd(object().lastWalkEnd());
            });
            return;
        }
        trap_(118, [&] {
            if (conn_)
                outcome_ = conn_->lastResult() == 1 ? RunOutcome::NoMessages : RunOutcome::FolderNotSelected;
            dialogs().messageBox(QStringLiteral("There are no emails in the Folder you selected."));
        });
        trap_(120, [&] { runFailed_ = true; });
    }

    void noteWalkEnd(clsChilkatIMAP::WalkEnd end)
    {
        switch (end) {
        case clsChilkatIMAP::WalkEnd::ConnectFailed: outcome_ = RunOutcome::ConnectFailed; break;
        case clsChilkatIMAP::WalkEnd::SelectFailed: outcome_ = RunOutcome::FolderNotSelected; break;
        case clsChilkatIMAP::WalkEnd::Aborted: outcome_ = RunOutcome::Stopped; break;
        default:
            shortfall_ = shortfallText(object().lastWalk());
            if (object().lastWalk().unread() > 0)
                outcome_ = RunOutcome::Incomplete;
            break;
        }
    }

    RunHost &host_;
    ErrorTrap trap_{location::Form1::ExtractEmail};
    std::shared_ptr<clsChilkatIMAP> conn_;
    QString shortfall_;  // what the walk could not read, for the closing box
    bool runFailed_ = false;
    RunOutcome outcome_ = RunOutcome::Done;
};

}  // namespace

RunOutcome ExtractEmail(RunHost &host)
{
    return Run(host).go();
}

}  // namespace vc
