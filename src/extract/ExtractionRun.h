#pragma once
#include "extract/clsChilkatIMAP.h"
#include "mail/ConnectionConfig.h"

#include <QString>

#include <memory>

namespace vc {

// Creates a connection object for the component instance and hands it the
// connection parameters (SSL on, the configured server and port, account name,
// password). Does not connect.
std::shared_ptr<clsChilkatIMAP> newConnection(ImapComponent *component, const ConnectionConfig &config,
                                              const QString &username, const QString &password);

// The account name: the name box's text followed by the suffix combo's text when
// that begins with "@"; otherwise the name box's text alone.
QString accountName(const QString &nameBox, const QString &suffixCombo);

// What a run touches outside the engine: the window (or the command-line program).
class RunHost {
public:
    virtual ~RunHost() = default;
    // The current connection object (oChilkat), or null. Shared: a disconnect
    // during a run drops the window's reference while the walk still holds one.
    virtual std::shared_ptr<clsChilkatIMAP> connection() = 0;
    virtual void setConnection(std::shared_ptr<clsChilkatIMAP> c) = 0;
    // A new connection object with the entered account, its events wired to the
    // listing handler and the progress display. Does not connect.
    virtual std::shared_ptr<clsChilkatIMAP> setUpConnection() = 0;
    virtual QString folderName() = 0;  // first selected folder option, or empty
    virtual void clearResults() = 0;
    virtual void setBusy(bool busy) = 0;  // hourglass on / default pointer
    virtual void resetProgress() = 0;     // text "Progress Bar", position 0
    // The closing message of a run that walked: the box "Done.", with what is
    // missing (shortfallText, may be empty) on the lines below.
    virtual void sayDone(const QString &shortfall);
};

// The run procedure (ExtractEmail): connects when there is no connection object,
// counts the folder, walks it, drops the connection object, resets the progress
// display and says "Done." unless the run failed before the walk. Every step is
// trapped under "Vellumcast2/19/2015.Form1.ExtractEmail".
// Returns how the run ended, for callers that need an exit status:
//   Done              the walk went through the folder
//   Incomplete        the walk ran, but messages could not be read
//   ConnectFailed     the connect or login (of the run or of the walk) failed
//   FolderNotSelected the folder could not be selected (count or walk)
//   NoMessages        the folder is empty
//   Stopped           AbortProcess was set during the run
//   Failed            a step of the run failed with a run-time error
enum class RunOutcome { Done, ConnectFailed, NoMessages, Failed, FolderNotSelected, Stopped, Incomplete };
RunOutcome ExtractEmail(RunHost &host);

}  // namespace vc
