#pragma once
#include "extract/Account.h"
#include "extract/FolderWalk.h"
#include "extract/SignInStep.h"
#include "extract/StepFault.h"
#include "extract/WatchStep.h"
#include "mail/ImapComponent.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vc {

// The mail connection object: the account it signs in with (its properties
// are views of it), the connect and sign-in step, the folder listing, the
// message count and the folder walk, over the one IMAP component instance its
// owner hands in. It passes the component's abort check and progress on while
// one of its operations runs. Every operation gives a value or the failure;
// the object shows nothing itself. A failure the user is told about also goes
// to the fetch log.
class clsChilkatIMAP : public QObject {
    Q_OBJECT
public:
    // Nothing set: no component, no server, port 0, SSL off.
    clsChilkatIMAP();
    explicit clsChilkatIMAP(Account account, QObject *parent = nullptr);
    ~clsChilkatIMAP() override;

    // True asks the walk and the component to stop. Only ever set to true.
    bool AbortProcess = false;

    int MaxRecord() const { return maxRecord_; }
    void setMaxRecord(int LonValue) { maxRecord_ = LonValue; }
    int CurrentLocation() const { return currentLocation_; }
    void setCurrentLocation(int LonValue) { currentLocation_ = LonValue; }
    ImapComponent *ChilkatIMAPObject() const { return component_; }
    void setChilkatIMAPObject(ImapComponent *ObjValue);
    int PORT() const { return account_.config.port; }
    void setPORT(int LonValue) { account_.config.port = LonValue; }
    bool SSL() const { return account_.ssl; }
    void setSSL(bool bValue) { account_.ssl = bValue; }
    QString IMAPServer() const { return account_.config.host; }
    void setIMAPServer(const QString &StrValue) { account_.config.host = StrValue; }
    QString Password() const { return account_.password; }
    void setPassword(const QString &StrValue) { account_.password = StrValue; }
    QString Username() const { return account_.username; }
    void setUsername(const QString &StrValue) { account_.username = StrValue; }
    // Where the fetch log goes; empty means the default error log.
    QString ErrorLogPath() const { return account_.errorLogPath; }
    void setErrorLogPath(const QString &path) { account_.errorLogPath = path; }
    const Account &account() const { return account_; }

    // A stop asked for from outside the windows (Ctrl+C in the command-line
    // program): consulted wherever AbortProcess is.
    void setStopRequest(std::function<bool()> requested) { stopRequest_ = std::move(requested); }
    // AbortProcess, set first when a stop has been asked for from outside.
    bool stopping();
    // True while Connect waits for a token (the browser, the code, a renewal).
    bool signingIn() const { return step_ && step_->waiting(); }
    void setReconnectPauseMs(int firstPauseMs) { reconnectPauseMs_ = firstPauseMs; }
    // Which messages the next walk asks the server for (by UID only).
    void setSearchFilter(SearchFilter filter) { filter_ = std::move(filter); }
    // Only new mail for the next walk (FolderWalk::setNewMailAbove); empty: none.
    void setNewMailAbove(std::function<std::optional<quint32>(quint32)> above) { newMailAbove_ = std::move(above); }
    // Whether the next walk goes through the local mail copy, and where it is.
    void setMailCache(MailCacheSettings settings) { cache_ = std::move(settings); }

    // Connect, the ID command where the server offers it, login.
    StepResult<void> Connect();
    // The failure of the latest operation, for its owner to tell the user;
    // nothing when it succeeded.
    const std::optional<StepFault> &GetLastError() const { return lastError_; }
    // All folder names of the account, in the server's order.
    StepResult<QStringList> EnumMailFolders();
    // The same with each folder's attributes.
    StepResult<QList<MailboxInfo>> ListFolders();
    // The message count of FolderName (or of the folder standing for it) on
    // the current connection; selects it, neither connects nor logs in.
    StepResult<int> GetTotalMessage(const QString &FolderName);
    // Signs in (unless still signed in), selects FolderName (unless it is
    // selected with nothing sent since, as after the count) and walks messages CurrentLocation
    // to MaxRecord, each message delivered to `observer` (besides the fetch
    // log). Afterwards CurrentLocation holds the last number visited.
    WalkOutcome StartMailExtraction(const QString &FolderName, WalkObserver *observer = nullptr);
    // Watches FolderName for new mail after a walk (the folder selected on
    // the current connection, or signed in again when it is not), from
    // `highestUid` on; the messages to `observer` (besides the fetch log), the
    // watch's events to `onEvent`. Ends as WatchStep says.
    WatchStats WatchFolder(const QString &FolderName, const WatchRequest &request, quint32 highestUid,
                           quint32 uidValidity, WalkObserver *observer,
                           const std::function<void(const WatchEvent &)> &onEvent);

private:
    class Binding;
    ImapComponent &component();
    // Records the failure of the operation at hand (and, when the user is
    // told of it, in the fetch log); returns it.
    StepFault failed(StepFault fault);
    void ChilkatImap1_AbortCheck(int &abort);
    void ChilkatImap1_PercentDone(int pctDone);

    Account account_;
    QPointer<ImapComponent> component_;
    int currentLocation_ = 0;
    int maxRecord_ = 0;
    std::function<bool()> stopRequest_;
    std::optional<StepFault> lastError_;
    std::unique_ptr<SignInStep> step_;
    FolderWalk *walk_ = nullptr;  // while StartMailExtraction runs
    int bindings_ = 0;
    int reconnectPauseMs_ = 1000;
    SearchFilter filter_;
    std::function<std::optional<quint32>(quint32)> newMailAbove_;
    MailCacheSettings cache_;
};

}  // namespace vc
