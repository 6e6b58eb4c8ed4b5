#pragma once
#include "mail/ConnectionConfig.h"
#include "mail/ImapComponent.h"
#include "mail/ImapParser.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QSslCertificate>

#include <deque>
#include <functional>
#include <map>

class QSslSocket;

namespace vc {

// Our IMAP4rev1 client on QSslSocket: one connection, one operation at a time.
//
// Every operation waits in a local event loop, so the program's one thread keeps
// handling window events meanwhile. While it waits it raises AbortCheck every
// 50 ms (a non-zero answer abandons the operation and closes the connection) and,
// during a fetch, PercentDone as the message arrives. An operation fails when the
// server stays silent longer than the time-out, when the connection drops, or
// when Disconnect is called meanwhile; any other call made while an operation
// waits fails at once. After a failure that leaves the stream in an unknown state
// the connection is closed; a new Connect starts afresh.
//
// Fetches by sequence number that go up one by one are read ahead: once a caller
// has asked for n and then n + 1, the client asks the server for the following
// messages in pipelined ranges and keeps their raw bytes until they are asked
// for, so a walk over a folder does not pay one round trip per message. Each
// FetchSingle still answers for its own message only (its result, error text,
// progress, abort check and time-out). Any other request first waits for the
// ranges still on their way and forgets what was read ahead.
//
// TLS certificates are always verified against the system's CAs plus those of
// the CA file, and the server's name must match.
class ImapClient : public ImapComponent {
    Q_OBJECT
public:
    explicit ImapClient(QObject *parent = nullptr);
    ~ImapClient() override;

    // ImapComponent
    void setSsl(bool on) override { ssl_ = on; }
    void setPort(int port) override { port_ = port; }
    int Connect(const QString &host) override;
    QString SendRawCommand(const QString &cmd) override;
    int Login(const QString &user, const QString &password) override;
    std::unique_ptr<MailboxList> ListMailboxes(const QString &reference, const QString &pattern) override;
    int SelectMailbox(const QString &mailbox) override;
    int NumMessages() override;
    std::unique_ptr<ImapEmail> FetchSingle(int number, bool bUid) override;
    QString LastErrorText() const override { return lastError_; }
    int Disconnect() override;

    // Configuration; each applies to the next operation (the CA file to the next Connect).
    void setTimeoutMs(int ms) { timeoutMs_ = ms > 0 ? ms : 1; }
    int timeoutMs() const { return timeoutMs_; }
    void setCaFile(const QString &path) { caFile_ = path; }
    QString caFile() const { return caFile_; }
    // Largest message (and any other literal) accepted; a larger one fails the fetch.
    void setMaxMessageBytes(qint64 bytes) { maxMessageBytes_ = bytes > 0 ? bytes : 1; }
    qint64 maxMessageBytes() const { return maxMessageBytes_; }
    // Read-ahead of an ascending walk: at most `messages` messages asked for ahead
    // of the caller (0 or 1 turns it off), and no further ranges asked for while
    // the received but not yet taken messages hold `bytes` or more.
    void setReadAheadWindow(int messages) { readAheadWindow_ = qMax(0, messages); }
    int readAheadWindow() const { return readAheadWindow_; }
    void setReadAheadBudget(qint64 bytes) { readAheadBudget_ = qMax<qint64>(1, bytes); }
    qint64 readAheadBudget() const { return readAheadBudget_; }
    // What the read-ahead holds now: messages received and not yet taken, their bytes.
    int readAheadMessages() const { return int(ahead_.bodies.size()); }
    qint64 readAheadBytes() const { return ahead_.bytes; }
    // Takes the CA file and the time-out of `config` (host and port go to Connect/setPort).
    void configure(const ConnectionConfig &config);

    bool ssl() const { return ssl_; }
    int port() const { return port_; }
    bool isConnected() const { return socket_ != nullptr; }
    bool isBusy() const { return pending_ != nullptr; }
    // The server's capabilities (upper case) as last reported.
    QStringList capabilities() const { return capabilities_; }
    // The mailbox selected last, as the caller named it; empty when none is selected.
    QString selectedMailbox() const { return selected_; }

private:
    struct Pending;
    using UntaggedHandler = std::function<void(ImapResponse &)>;

    // A command: pieces to send, each after the server's go-ahead for the
    // literal that ends the previous piece.
    struct Command {
        QList<QByteArray> pieces{QByteArray()};
        void text(const QByteArray &t) { pieces.last() += t; }
        void astring(const QByteArray &bytes, bool literalPlus);
    };

    // One pipelined range command whose tagged answer has not come yet.
    struct Range {
        QByteArray tag;
        int first = 0;
        int last = 0;
    };
    struct ReadAhead {
        std::deque<Range> ranges;          // in the order sent
        std::map<int, QByteArray> bodies;  // received, not yet taken: raw messages by number
        qint64 bytes = 0;                  // their total size
        int next = 0;                      // the number the caller should ask for next; 0: no walk
        int sentUpTo = 0;                  // highest number asked for
        int arrivedUpTo = 0;               // highest number received
        qint64 arrivedBytes = 0;           // all bytes received, for the average size
        int arrivedCount = 0;
    };

    // Messages read ahead that had fully arrived when the connection was lost:
    // the walk still gets them, in order, and then the reason of the loss.
    struct Kept {
        std::map<int, QByteArray> bodies;
        int next = 0;  // 0: nothing kept
        QString reason;
    };

    bool beginOperation(const QString &op);
    bool requireConnection(const QString &op);
    // Sends a command and waits for its tagged answer. Untagged responses go to
    // `onUntagged` (after the client's own bookkeeping). On failure, lastError_
    // says why; on success it is "<op>: OK".
    // `progress`: 0 reports none; a message number reports the literal of that
    // message's FETCH response; -1 reports any literal (fetches by UID).
    bool run(const QString &op, Command cmd, const UntaggedHandler &onUntagged = {}, ImapResponse *tagged = nullptr,
             int progress = 0);
    bool wait(Pending &p);
    // Fails the waiting operation and closes the connection.
    void abandon(QString reason);  // by value: closing resets what it may refer to
    void complete(bool ok, const QString &error = QString());
    void closeConnection();
    void tick();
    void readSocket();
    void handle(ImapResponse &r);
    void socketError();
    void socketClosed();
    void sendNextPiece();
    QString redact(QString text) const;

    // Read-ahead
    bool inFlight(qint64 number) const;
    // Asks for further ranges so that the window ahead of `from` stays filled.
    void topUp(int from);
    // Files a FETCH response or range answer of the read-ahead; false when it is not one.
    bool takeForReadAhead(ImapResponse &r);
    // Waits for the ranges still on their way and forgets the read-ahead; false
    // (with lastError_ set for `op`) when the wait failed and the connection went.
    bool drainReadAhead(const QString &op);
    void forgetReadAhead();
    void checkPending();
    // Before the connection goes for `reason`: keeps what arrived below `failedAt`
    // (0: all of it) for the walk.
    void keepReceived(const QString &reason, qint64 failedAt = 0);
    std::unique_ptr<ImapEmail> takeKept(int number, const QString &op);
    // A message that has fully arrived, decoded; its fetch reported as done.
    std::unique_ptr<ImapEmail> handOut(const QString &op, const QByteArray &body);

    bool ssl_ = true;
    int port_ = 993;
    int timeoutMs_ = 60000;
    QString caFile_;
    // The trusted CA list built from the system bundle plus caFile_, kept between connects.
    QList<QSslCertificate> trusted_;
    QString trustedFor_;
    bool trustedLoaded_ = false;
    qint64 maxMessageBytes_ = ImapParser::kDefaultMaxLiteral;

    QSslSocket *socket_ = nullptr;
    ImapParser parser_;
    Pending *pending_ = nullptr;
    QElapsedTimer silence_;
    quint32 tagCounter_ = 0;
    QString lastError_;
    QStringList capabilities_;
    QString selected_;
    int exists_ = 0;
    QString sslErrors_;
    QByteArray bye_;
    QString secret_;  // kept out of every error text
    int lastPct_ = -1;
    bool reading_ = false;
    bool ticking_ = false;

    int readAheadWindow_ = 32;
    qint64 readAheadBudget_ = qint64(32) << 20;
    ReadAhead ahead_;
    Kept kept_;
    int lastSeqFetched_ = 0;  // the sequence number fetched last; 0 after anything else
};

}  // namespace vc
