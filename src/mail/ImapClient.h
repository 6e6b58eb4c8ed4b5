#pragma once
#include "mail/ConnectionConfig.h"
#include "mail/DecodeAhead.h"
#include "mail/ImapComponent.h"
#include "mail/ImapFailure.h"
#include "mail/ImapParser.h"
#include "mail/ImapSession.h"
#include "mail/ReadAheadPlanner.h"

#include <QStringList>

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
// messages in pipelined ranges, sized to keep the link busy (ReadAheadPlanner),
// and keeps their raw bytes until they are asked for, so a walk over a folder
// does not pay one round trip per message. Messages that have fully arrived
// ahead of the caller are decoded on a worker thread meanwhile (DecodeAhead).
// Each FetchSingle still answers for its own message only (its result, error
// text, progress, abort check and time-out). Any other request first waits for
// the ranges still on their way and forgets what was read ahead.
//
// The parts: ImapConnection (socket, TLS, parser), ImapSession (commands, tags,
// waiting, untagged bookkeeping, outcome), ReadAheadPlanner (what to ask for
// ahead); this class puts them together, one short method per operation.
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
    // LOGIN; AUTHENTICATE PLAIN where the server has disabled LOGIN.
    int Login(const QString &user, const QString &password) override;
    std::unique_ptr<MailboxList> ListMailboxes(const QString &reference, const QString &pattern) override;
    int SelectMailbox(const QString &mailbox) override;
    int NumMessages() override;
    std::unique_ptr<MailRecord> FetchSingle(int number, bool bUid) override;
    QString LastErrorText() const override { return session_.lastError(); }
    int Disconnect() override;
    // AUTHENTICATE OAUTHBEARER (preferred) or XOAUTH2, with the initial response
    // on the command line when the server has SASL-IR. A refused token fails
    // with kind Refusal and the server's decoded reason; the token (plain or
    // encoded) never appears in an error text.
    int LoginWithToken(const QString &user, const QString &token) override;
    QStringList Capabilities() const override { return session_.capabilities(); }

    // The kind of failure of the last operation (None after a success), and,
    // when the server's certificate was refused, the reasons (QSslError texts).
    ImapFailure lastFailure() const override { return session_.lastFailure(); }
    QStringList certificateErrors() const override { return session_.certificateErrors(); }
    quint32 uidValidity() const override { return uidValidity_; }

    // Configuration; each applies to the next operation (the CA file to the next Connect).
    void setTimeoutMs(int ms) { session_.timeoutMs = ms > 0 ? ms : 1; }
    int timeoutMs() const { return session_.timeoutMs; }
    void setCaFile(const QString &path) { caFile_ = path; }
    QString caFile() const { return caFile_; }
    // Largest message (and any other literal) accepted; a larger one fails the fetch.
    void setMaxMessageBytes(qint64 bytes) { maxMessageBytes_ = bytes > 0 ? bytes : 1; }
    qint64 maxMessageBytes() const { return maxMessageBytes_; }
    // Read-ahead of an ascending walk: ranges sized by what the link carries, at
    // most `messages` messages asked for ahead of the caller (0 or 1 turns it
    // off), and no further ranges asked for while the received but not yet taken
    // messages and those on their way hold `bytes` or more.
    void setReadAheadWindow(int messages) { ahead_.setWindow(messages); }
    int readAheadWindow() const { return ahead_.window(); }
    void setReadAheadBudget(qint64 bytes) { ahead_.setBudget(bytes); }
    qint64 readAheadBudget() const { return ahead_.budget(); }
    // What the read-ahead holds now: messages received and not yet taken, their bytes.
    int readAheadMessages() const { return ahead_.messages(); }
    qint64 readAheadBytes() const { return ahead_.bytes(); }
    // Messages handed out that had been decoded ahead on a worker thread.
    qint64 messagesDecodedAhead() const { return decode_.handedOut(); }
    // What the run reads of each message (the defaults: everything); what it
    // does not read is not decoded. Applies from the next message on.
    void setDecodeNeeds(const DecodeNeeds &needs) { decode_.setNeeds(needs); }
    const DecodeNeeds &decodeNeeds() const { return decode_.needs(); }
    // Takes the CA file and the time-out of `config` (host and port go to Connect/setPort).
    void configure(const ConnectionConfig &config);

    bool ssl() const { return ssl_; }
    int port() const { return port_; }
    bool isConnected() const { return session_.isOpen(); }
    bool isBusy() const { return session_.isBusy(); }
    // The server's capabilities (upper case) as last reported.
    QStringList capabilities() const { return session_.capabilities(); }
    // The mailbox selected last, as the caller named it; empty when none is selected.
    QString selectedMailbox() const { return session_.selected(); }

private:
    using Outcome = ImapSession::Outcome;

    // Ready for a command of its own: nothing waits, connected, no read-ahead left.
    bool prepare(const QString &op);
    bool requireConnection(const QString &op);
    bool canFetch(const QString &op, int number);
    // Waits for the ranges still on their way and forgets the read-ahead; on
    // failure the outcome is set for `op`.
    Outcome drainReadAhead(const QString &op);
    void forgetReadAhead();  // the planner's and the decoder's

    // Fetching (ImapClientFetch.cpp)
    std::unique_ptr<MailRecord> fetchInWalk(int number, const QString &op, bool *askAlone);
    std::unique_ptr<MailRecord> fetchAlone(int number, bool bUid, const QString &op);
    std::unique_ptr<MailRecord> takeKept(int number, const QString &op);
    // A message that has fully arrived, decoded; its fetch reported as done.
    // `number`: its sequence number when it came from the read-ahead (its
    // decoding may have started), else 0.
    std::unique_ptr<MailRecord> handOut(const QString &op, int number, const QByteArray &body);
    // Starts decoding the messages that have arrived ahead of the caller, in
    // order, as far as the decoder's bound allows.
    void decodeArrived();
    // Asks for further ranges so that the window ahead of `from` stays filled.
    void topUp(int from);
    // Files a FETCH response or range answer of the read-ahead; false when it is not one.
    bool claimForReadAhead(ImapResponse &r);

    // AUTHENTICATE `mechanism` with the raw (not yet base64) initial response.
    int authenticate(const QString &op, const QByteArray &mechanism, const QByteArray &response);

    bool ssl_ = true;
    int port_ = 993;
    QString host_;  // as given to the last Connect
    QString caFile_;
    qint64 maxMessageBytes_ = ImapParser::kDefaultMaxLiteral;
    quint32 uidValidity_ = 0;  // of the mailbox selected last
    ReadAheadPlanner ahead_;   // before session_: the session's hooks reach it until the end
    DecodeAhead decode_{qint64(4) << 20};
    int decodeNext_ = 0;  // the next read-ahead message whose decoding may start
    ImapSession session_;
};

}  // namespace vc
