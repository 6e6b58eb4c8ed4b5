#include "extract/ExtractionRun.h"

#include "core/AppError.h"
#include "core/Dialogs.h"

namespace vc {

std::shared_ptr<clsChilkatIMAP> newConnection(ImapComponent *component, const ConnectionConfig &config,
                                              const QString &username, const QString &password)
{
    auto c = std::make_shared<clsChilkatIMAP>();
    c->setChilkatIMAPObject(component);
    c->setSSL(true);
    c->setPORT(config.port);
    c->setIMAPServer(config.host);
    c->setUsername(username);
    c->setPassword(password);
    return c;
}

QString accountName(const QString &nameBox, const QString &suffixCombo)
{
    if (suffixCombo.startsWith(QLatin1Char('@')))
        return nameBox + suffixCombo;
    return nameBox;
}

void RunHost::sayDone(const QString &shortfall)
{
    dialogs().messageBox(shortfall.isEmpty() ? QStringLiteral("Done.") : QStringLiteral("Done.\r") + shortfall);
}

RunOutcome ExtractEmail(RunHost &host)
{
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.ExtractEmail"));
    bool runFailed = false;
    bool skipToEnd = false;
    RunOutcome outcome = RunOutcome::Done;
    // The run's own reference: a disconnect during the walk drops the host's
    // reference, and the object must outlive the walk that is using it.
    std::shared_ptr<clsChilkatIMAP> conn;
    QString folder;
    QString shortfall;

    auto object = [&]() -> clsChilkatIMAP & {
        if (!conn)
            raise(err::ObjectNotSet);
        return *conn;
    };

    trap(100, [&] { host.setBusy(true); });
    trap(102, [&] { host.clearResults(); });
    trap(104, [&] { runFailed = false; });
    trap(106, [&] {
        conn = host.connection();
        if (conn)
            return;
        conn = host.setUpConnection();
        host.setConnection(conn);
        if (!object().Connect()) {
            runFailed = true;
            skipToEnd = true;
            outcome = RunOutcome::ConnectFailed;
        }
    });
    if (!skipToEnd) {
        trap(108, [&] { folder = host.folderName(); });
        trap(110, [&] { object().setCurrentLocation(1); });
        trap(112, [&] { object().setMaxRecord(object().GetTotalMessage(folder)); });
        bool walk = false;
        trap(114, [&] { walk = object().MaxRecord() > 0; });
        if (walk) {
            trap(116, [&] {
                object().StartMailExtraction(folder);
                switch (object().lastWalkEnd()) {
                case clsChilkatIMAP::WalkEnd::ConnectFailed: outcome = RunOutcome::ConnectFailed; break;
                case clsChilkatIMAP::WalkEnd::SelectFailed: outcome = RunOutcome::FolderNotSelected; break;
                case clsChilkatIMAP::WalkEnd::Aborted: outcome = RunOutcome::Stopped; break;
                default:
                    shortfall = shortfallText(object().lastWalk());
                    if (object().lastWalk().unread() > 0)
                        outcome = RunOutcome::Incomplete;
                    break;
                }
            });
        } else {
            trap(118, [&] {
                if (conn)
                    outcome = conn->lastResult() == 1 ? RunOutcome::NoMessages : RunOutcome::FolderNotSelected;
                dialogs().messageBox(QStringLiteral("There are no emails in the Folder you selected."));
            });
            trap(120, [&] { runFailed = true; });
        }
    }
    trap(122, [&] { host.setConnection(nullptr); });
    trap(124, [&] { host.resetProgress(); });
    trap(126, [&] { host.setBusy(false); });
    trap(128, [&] {
        if (!runFailed)
            host.sayDone(shortfall);
    });

    if (outcome == RunOutcome::Done && conn && conn->AbortProcess)
        outcome = RunOutcome::Stopped;
    if (outcome == RunOutcome::Done && trap.failures() > 0)
        outcome = RunOutcome::Failed;
    return outcome;
}

}  // namespace vc
