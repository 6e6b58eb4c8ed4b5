#pragma once
#include "core/DateText.h"
#include "core/MailRecord.h"
#include "mail/ImapComponent.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vc {

class OAuthSession;

// The mail connection object: wraps the one IMAP component instance its owner
// hands in, opens and authenticates the connection, lists folders, reports
// failures, passes the component's abort check and progress through, and
// (in src/extract) counts and walks a folder's messages.
class clsChilkatIMAP : public QObject {
    Q_OBJECT
public:
    explicit clsChilkatIMAP(QObject *parent = nullptr);
    ~clsChilkatIMAP() override;

    // True asks the walk and the component to stop. Only ever set to true.
    bool AbortProcess = false;

    int MaxRecord() const { return maxRecord_; }
    void setMaxRecord(int LonValue) { maxRecord_ = LonValue; }
    int CurrentLocation() const { return currentLocation_; }
    void setCurrentLocation(int LonValue) { currentLocation_ = LonValue; }
    ImapComponent *ChilkatIMAPObject() const { return object_; }
    void setChilkatIMAPObject(ImapComponent *ObjValue) { object_ = ObjValue; }
    int PORT() const { return port_; }
    void setPORT(int LonValue) { port_ = LonValue; }
    bool SSL() const { return ssl_; }
    void setSSL(bool bValue) { ssl_ = bValue; }
    QString IMAPServer() const { return server_; }
    void setIMAPServer(const QString &StrValue) { server_ = StrValue; }
    QString Password() const { return password_; }
    void setPassword(const QString &StrValue) { password_ = StrValue; }
    QString Username() const { return username_; }
    void setUsername(const QString &StrValue) { username_ = StrValue; }

    // A stop asked for from outside the windows (Ctrl+C in the command-line
    // program): consulted at every abort check of the component.
    void setStopRequest(std::function<bool()> requested) { stopRequest_ = std::move(requested); }
    // Sets AbortProcess when such a stop has been asked for.
    void noteStopRequest();

    // Signing in with OAuth 2.0: tokens from `session` instead of the password
    // (null: the password). `status` hears what the sign-in is doing.
    void setSignIn(std::shared_ptr<OAuthSession> session, std::function<void(const QString &)> status = {});
    // Added to the failure box when the server refuses the password but takes
    // tokens (AUTH=XOAUTH2 or AUTH=OAUTHBEARER): how to switch to OAuth 2.0.
    void setTokenHint(const QString &hint) { tokenHint_ = hint; }
    // True while Connect waits for a token (the browser, the code, a renewal).
    bool signingIn() const { return signingIn_; }

    // Where WriteErrorLog appends; empty means the default error log.
    QString ErrorLogPath() const { return errorLogPath_; }
    void setErrorLogPath(const QString &path) { errorLogPath_ = path; }

    // Shows the failure box, its text naming the problem (failureMessage), and
    // appends that text to the error log.
    void GetLastError();
    // Connect, ID command, login. True on success; each failure shows GetLastError's box.
    bool Connect();
    // All folder names of the account, or nothing on failure.
    std::optional<QStringList> EnumMailFolders();

    // Defined with the message walk (src/extract/MessageWalk.cpp).
    int GetTotalMessage(const QString &FolderName);
    void StartMailExtraction(const QString &FolderName);

    // The component's last result code (1 = success).
    int lastResult() const { return lastResult_; }

    // How the latest StartMailExtraction ended (src/extract/MessageWalk.cpp).
    // Broken: the walk ended before its last message, for the reason in lastWalk().
    enum class WalkEnd { NotRun, Completed, ConnectFailed, SelectFailed, Aborted, Broken };
    WalkEnd lastWalkEnd() const { return walkEnd_; }

    // What the latest walk did (src/extract/WalkRecovery.cpp).
    struct WalkStats {
        qint64 asked = 0;            // messages from the first number to the last
        qint64 read = 0;             // messages delivered
        int reconnects = 0;          // reconnect attempts made
        bool folderChanged = false;  // a reconnect found another UIDVALIDITY or count
        QString endReason;           // why a Broken walk ended
        int failedInRow = 0;         // fetches in a row that found no message
        quint32 uidValidity = 0;
        int count = 0;    // the folder's message count when the walk began
        QString logPath;  // where the fetch log went
        qint64 unread() const { return asked - read; }
    };
    const WalkStats &lastWalk() const { return walk_; }
    // At most this many reconnects per walk after a lost connection; before the
    // k-th the walk pauses firstPauseMs * 2^(k-1).
    static constexpr int kMaxReconnects = 3;
    void setReconnectPauseMs(int firstPauseMs) { reconnectPauseMs_ = firstPauseMs; }

Q_SIGNALS:
    // One message delivered by the walk.
    void MailExtractListing(const vc::MailRecord &record);
    // The component's percentage done of the operation in progress.
    void ScrapProgress(int value);

private:
    void bind();  // points ChilkatImap1 at ChilkatIMAPObject
    // GetLastError's box and log record, with `hint` added after a blank line.
    void reportFailure(const QString &hint);
    bool openAndIdentify(bool report);  // connect and ID; with `report` a failure shows GetLastError's box
    void passwordRefused();             // GetLastError's box, with the token hint where it applies
    // Token sign-in (clsChilkatIMAP_SignIn.cpp).
    bool obtainToken(QString *token);
    bool logInWithToken(const QString &token);
    void signInFailed(const QString &text);
    void ChilkatImap1_AbortCheck(int &abort);
    void ChilkatImap1_PercentDone(int pctDone);
    void WriteErrorLog();  // src/extract/MessageWalk.cpp
    // Selects FolderName, or the special-use folder that stands for it when the
    // account names it differently (src/extract/MessageWalk.cpp).
    int selectFolder(const QString &FolderName);

    int lastResult_ = 0;
    QString username_, password_, server_;
    bool ssl_ = false;
    int port_ = 0;
    QPointer<ImapComponent> object_;
    int currentLocation_ = 0;
    int maxRecord_ = 0;
    QPointer<ImapComponent> ChilkatImap1;
    QString errorLogPath_;
    std::function<bool()> stopRequest_;
    std::shared_ptr<OAuthSession> signIn_;
    std::function<void(const QString &)> signInStatus_;
    QString tokenHint_;
    bool signingIn_ = false;
    WalkEnd walkEnd_ = WalkEnd::NotRun;

    // The walk after a failed fetch of message n (src/extract/WalkRecovery.cpp).
    enum class Resume { Next, Again, End };
    Resume afterFailedFetch(const QString &FolderName, qint64 n);
    // Reconnects, logs in and selects the folder again, within the walk's
    // attempts; `why` is the failure that lost the connection.
    bool reconnectWalk(const QString &FolderName, const QString &why);
    bool pauseBeforeReconnect(int attempt);  // false when a stop came meanwhile
    // Connect, ID command, login; with `report` each failure shows GetLastError's box.
    bool openSession(bool report);
    WalkStats walk_;
    int reconnectPauseMs_ = 1000;
};

// What the user must know after a walk, each on a line of its own (CR): "N of M
// messages could not be read (see ERRORLOG)" when messages are missing, why the
// walk ended early, and that the folder changed under it. Empty after a walk
// that read every message of an unchanged folder.
QString shortfallText(const clsChilkatIMAP::WalkStats &walk);

}  // namespace vc
