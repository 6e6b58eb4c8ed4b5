#pragma once
#include "extract/Account.h"
#include "extract/AttachmentStep.h"
#include "extract/clsChilkatIMAP.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vc {

class SignInUi;

// What a run touches outside the engine: the main window, or the command-line
// program. The engine reports to it and never shows anything itself; the host
// decides what the user sees and where rows go.
class RunHost {
public:
    virtual ~RunHost() = default;

    // The current connection object (oChilkat), or null. Shared: a disconnect
    // during a run drops the host's reference while the walk still holds one.
    virtual std::shared_ptr<clsChilkatIMAP> connection() = 0;
    virtual void setConnection(std::shared_ptr<clsChilkatIMAP> c) = 0;

    virtual Account account() = 0;        // read when a connection object is set up
    virtual QString folderName() = 0;     // first selected folder option, or empty
    virtual void setBusy(bool busy) = 0;  // hourglass on / default pointer
    virtual void clearResults() = 0;      // at the start of a run
    virtual void resetProgress() = 0;     // idle progress display
    // The progress display (oChilkat_ScrapProgress), at every progress event
    // of the component during a fetch.
    virtual void showProgress(const RunProgress &progress) = 0;
    // One message of the walk, once; the host turns it into rows.
    virtual void messageDelivered(const MailRecord &record) = 0;

    // What the run does with attachments (read at the start of a run).
    virtual AttachmentRequest attachmentRequest() { return {}; }

    // What an OAuth 2.0 sign-in is doing ("Waiting for sign-in in your browser...").
    virtual void showSignInStatus(const QString &text) {}
    // True once a stop was asked for from outside the windows (Ctrl+C); the
    // run's connection object then stops as if Stop had been clicked.
    virtual bool stopRequested() { return false; }
    // Which messages of the folder the server is to select for the walk
    // (nothing left out when empty).
    virtual SearchFilter searchFilter() { return {}; }
    // The folders the run walks, one after another, every message to
    // messageDelivered (its record names its folder): folderName() alone
    // unless the host names several.
    virtual QStringList folderNames() { return {folderName()}; }
    // True: the run walks every selectable folder of the server, in the
    // server's order, except those marked \Trash or \Junk that
    // folderNames() does not name.
    virtual bool allFolders() { return false; }
    // Only new mail: the UID above which the walk of `folder` takes messages
    // (by UID), asked once the walk has selected the folder and knows its
    // UIDVALIDITY; nothing walks the folder as usual.
    virtual std::optional<quint32> newMailAbove(const QString &folder, quint32 uidValidity) { return std::nullopt; }
    // Whether the walk keeps decoded messages in the local mail copy and
    // takes those it has from there (off: every message is fetched).
    virtual MailCacheSettings mailCacheSettings() { return {}; }
    // Whether the run goes on watching the folder for new mail once the walk
    // is over, and how (read at the start of a run); by default it does not.
    virtual WatchRequest watchRequest() { return {}; }
    // What a watch has to tell as it goes on (that it began, a lost
    // connection, its return, a replaced folder, its end), each when it
    // happens; a failure of one kind is told once until the connection is back.
    virtual void watchEvent(const WatchEvent &event) {}
};

// The connection set-up shared by the connect command and a run: a new
// connection object with the host's account (SSL on unless the account says
// otherwise, the configured server and port), its stop requests and its
// sign-in's status going to the host.
// Does not connect.
std::shared_ptr<clsChilkatIMAP> setUpConnection(RunHost &host);

// The account name: the name box's text followed by the suffix combo's text when
// that begins with "@"; otherwise the name box's text alone.
QString accountName(const QString &nameBox, const QString &suffixCombo);

}  // namespace vc
