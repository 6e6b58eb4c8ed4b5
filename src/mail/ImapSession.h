#pragma once
#include "mail/ImapCommand.h"
#include "mail/ImapConnection.h"
#include "mail/ImapFailure.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <functional>

class QEventLoop;

namespace vc {

// Commands and waiting on one ImapConnection: tags, the one operation that
// waits, its silence time-out, abort check and progress reports, what untagged
// responses say about the session (capabilities, message count, BYE), and the
// outcome of the last operation as a text with its failure kind.
//
// Every wait runs a local event loop, so the program's one thread keeps
// handling window events meanwhile; every 50 ms it asks `hooks.abortCheck`.
// The hooks reach the program, which may call back in or destroy the owner of
// this session: waits then end in Outcome::Destroyed, after which the caller
// must not touch anything of its own.
class ImapSession : public QObject, private ImapConnection::Receiver {
    Q_OBJECT
public:
    enum class Outcome { Ok, Failed, Destroyed };
    using UntaggedHandler = std::function<void(ImapResponse &)>;

    struct Hooks {
        std::function<int()> abortCheck;  // non-zero abandons the waiting operation
        std::function<void(int)> percentDone;
        // Takes a response before the waiting operation sees it (the read-ahead's
        // answers); true when taken.
        std::function<bool(ImapResponse &)> claim;
        // The line broke: called before the connection goes, with the message
        // number whose response broke the stream (-1 or 0: none in particular).
        std::function<void(const ImapFault &, qint64 failedAt)> losing;
        // The connection has been closed, for whatever reason.
        std::function<void()> closed;
    };

    explicit ImapSession(QObject *parent = nullptr);
    ~ImapSession() override;

    Hooks hooks;
    int timeoutMs = 60000;

    // --- Operations. Each sets the outcome (lastError, lastFailure).
    // False (Busy) while another operation waits.
    bool begin(const QString &op);
    // False (NotConnected) without a connection.
    bool requireConnection(const QString &op);
    // Connects and waits for the server's greeting; closes again on failure.
    Outcome open(const QString &op, const QString &host, int port, bool ssl, const QString &caFile,
                 qint64 maxLiteralBytes);
    // Sends a command and waits for its tagged answer. Untagged responses go to
    // `onUntagged` after the session's own bookkeeping. `progress`: 0 reports
    // none; a message number reports the literal of that message's FETCH
    // response; -1 reports any literal.
    Outcome run(const QString &op, ImapCommand cmd, const UntaggedHandler &onUntagged = {},
                ImapResponse *tagged = nullptr, int progress = 0);
    // Waits without a command of its own until `until` holds, asked after each
    // claimed response and at every tick; untagged responses that nothing
    // claims go to `onUntagged`. Progress follows what followProgress() set last.
    Outcome waitUntil(const QString &op, std::function<bool()> until, const UntaggedHandler &onUntagged = {});
    // Sends a command without waiting for it (a pipelined one); its tag.
    QByteArray send(const QByteArray &command);
    // send() for a command whose answer nothing waits for: its tagged answer
    // (and the untagged ones while no operation waits) go to aheadAnswer().
    void sendAhead(const QByteArray &command);
    QString aheadAnswer() const { return aheadAnswer_; }
    // Hands what has been written to the operating system without waiting.
    void flush();
    // Writes one line as it stands, CR LF added ("DONE", which ends an IDLE).
    void writeLine(const QByteArray &line);
    // While held, the waiting operation has no silence time-out: the server may
    // rightly say nothing for minutes during an IDLE. Released, the silence is
    // counted afresh. A hold ends with the wait it was set in (or the next one).
    void holdTimeout(bool hold);
    // Fails the waiting operation (if any) and closes the connection.
    void abandon(const ImapFault &fault);
    void close();

    // --- Progress (PercentDone) of the operation at hand.
    // 0: report nothing; n: the literal of message n; -1: any literal.
    void followProgress(int message);
    // The literal of the FETCH response that carries this UID ahead of it
    // ("* 7 FETCH (UID 1234 BODY[] {...").
    void followUidProgress(quint32 uid);
    // Reports 100 unless that was the last report. False when the report
    // destroyed this session.
    bool finishProgress();

    // --- Outcome of the last operation.
    void succeed(const QString &op);
    void fail(const QString &op, const ImapFault &fault);  // the password, if any, is masked
    void setOutcome(const QString &text, ImapFailure kind, const QString &serverText = QString());
    QString lastError() const { return lastError_; }
    ImapFailure lastFailure() const { return lastFailure_; }
    // The last outcome as a fault value: the kind, the error text as its
    // reason, and what the server said (its NO, BAD or BYE text), if anything.
    ImapFault lastFault() const { return {lastFailure_, lastError_, lastServerText_}; }

    // --- State.
    bool isOpen() const { return connection_.isOpen(); }
    bool isBusy() const { return pending_ != nullptr; }
    // Signed in on the connection open now (set by the sign-in that succeeded,
    // cleared whenever the connection closes or a new one opens).
    bool isSignedIn() const { return signedIn_ && connection_.isOpen(); }
    void setSignedIn() { signedIn_ = true; }
    // Commands sent so far, over every connection (pipelined ones included).
    quint32 commandsSent() const { return tagCounter_; }
    QStringList capabilities() const { return capabilities_; }
    bool hasCapability(const char *name) const { return capabilities_.contains(QLatin1String(name)); }
    QStringList certificateErrors() const { return connection_.certificateErrors(); }
    // The mailbox selected (as the caller named it) and its message count, kept
    // up to date by EXISTS and EXPUNGE.
    QString selected() const { return selected_; }
    int exists() const { return exists_; }
    void setSelected(const QString &mailbox, qint64 exists);
    // Kept out of every error text until the next open or until it is cleared.
    void setSecret(const QString &secret) { secrets_ = QStringList{secret}; }
    // One more text kept out of error texts the same way (a token, its encoded form).
    void addSecret(const QString &secret) { secrets_ << secret; }

private:
    struct Pending;

    QByteArray nextTag();
    Outcome wait(Pending &p);
    void complete(bool ok, const ImapFault &fault = {});
    void tick();
    void sendNextPiece();
    void answerContinuation(Pending &p, const ImapResponse &r);
    void greeted(const ImapResponse &r);
    // False when the response broke the session (which is then closed).
    bool keepBooks(const ImapResponse &r);
    QString redact(QString text) const;

    // ImapConnection::Receiver
    void received(ImapResponse &r) override;
    void readChunk() override;
    void heard() override { silence_.restart(); }
    void dropped(const ImapFault &fault) override;
    void garbled(const ImapFault &fault, qint64 failedAt) override;

    ImapConnection connection_;
    Pending *pending_ = nullptr;
    QElapsedTimer silence_;
    quint32 tagCounter_ = 0;
    bool ticking_ = false;
    bool timeoutHeld_ = false;
    bool signedIn_ = false;
    int progressFor_ = 0;      // see followProgress()
    quint32 progressUid_ = 0;  // see followUidProgress()
    int lastPct_ = -1;         // the value reported last; 100 once the operation is done

    QString lastError_;
    ImapFailure lastFailure_ = ImapFailure::None;
    QString lastServerText_;
    QStringList capabilities_;
    QString selected_;
    int exists_ = 0;
    QByteArray bye_;
    QStringList secrets_;
    QByteArray aheadTag_;  // of the command sent with sendAhead(), until its answer
    QString aheadAnswer_;
};

}  // namespace vc
