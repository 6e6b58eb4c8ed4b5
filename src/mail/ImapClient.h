#pragma once
#include "mail/ConnectionConfig.h"
#include "mail/DecodeAhead.h"
#include "mail/ImapComponent.h"
#include "mail/ImapFailure.h"
#include "mail/ImapFolders.h"
#include "mail/ImapParser.h"
#include "mail/ImapSearch.h"
#include "mail/ImapSession.h"
#include "mail/ReadAheadPlanner.h"

#include <QStringList>

#include <functional>
#include <map>

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
    ImapResult<void> Connect(const QString &host) override;
    ImapResult<QString> SendRawCommand(const QString &cmd) override;
    ImapResult<void> sendAhead(const QString &cmd) override;
    // The answer to the command sent with sendAhead() (its tagged line); empty until it came.
    QString aheadAnswer() const { return session_.aheadAnswer(); }
    // LOGIN; AUTHENTICATE PLAIN where the server has disabled LOGIN.
    ImapResult<void> Login(const QString &user, const QString &password) override;
    ImapResult<MailboxList> ListMailboxes(const QString &reference, const QString &pattern) override;
    ImapResult<MailboxStatus> SelectMailbox(const QString &mailbox) override;
    int NumMessages() override;
    ImapResult<MailRecord> FetchSingle(int number, bool bUid) override;
    QString LastErrorText() const override { return session_.lastError(); }
    ImapResult<void> Disconnect() override;
    // LOGOUT, and the connection closed without waiting for the server's
    // answer: for the end of a program run, when nothing more is wanted of
    // it. While an operation waits or read-ahead ranges are on their way it
    // is Disconnect().
    void logOutWithoutWaiting();
    // AUTHENTICATE OAUTHBEARER (preferred) or XOAUTH2, with the initial response
    // on the command line when the server has SASL-IR. A refused token fails
    // with kind Refusal and the server's decoded reason; the token (plain or
    // encoded) never appears in an error text.
    ImapResult<void> LoginWithToken(const QString &user, const QString &token) override;
    QStringList Capabilities() const override { return session_.capabilities(); }
    bool isSignedIn() const override { return session_.isSignedIn(); }
    std::optional<MailboxStatus> untouchedSelection(const QString &mailbox) const override;
    QStringList certificateErrors() const override { return session_.certificateErrors(); }
    // Messages read ahead and not yet handed out are decoded afresh.
    // What the run reads of each message (the defaults: everything); what it
    // does not read is not decoded. Applies from the next message on.
    void setDecodeNeeds(const DecodeNeeds &needs) override;
    const DecodeNeeds *decodeNeeds() const override { return &decode_.needs(); }

    // The kind of failure of the last operation (None after a success); the
    // operations' results carry the same.
    ImapFailure lastFailure() const { return session_.lastFailure(); }
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
    // The UIDVALIDITY of the mailbox selected last (0 when unknown).
    quint32 uidValidity() const { return uidValidity_; }

    // --- Waiting for news of the selected mailbox (ImapClientIdle.cpp) ---
    //
    // (MailboxChange, ChangeHandler and WaitEnd come with ImapComponent.)
    // RFC 2177 asks clients to renew an IDLE at least every 29 minutes; we do sooner.
    static constexpr int kIdlePeriodMs = 25 * 60 * 1000;

    // Whether the server offers IDLE.
    bool canIdle() const override { return session_.hasCapability("IDLE"); }
    // IDLE on the selected mailbox: each EXISTS, EXPUNGE and RECENT goes to
    // `onChange` as it comes (a count that changed without an answer of the
    // wait's own, as an EXISTS when it is seen). Left with DONE (and the server's answer awaited)
    // when stopWaiting() is called, when `periodMs` have passed and when
    // AbortCheck answers non-zero. The silence time-out does not apply while
    // the server idles, only to its answers. A dropped connection, a refusal
    // or a server that does not answer DONE is the fault.
    ImapResult<WaitEnd> idle(const ChangeHandler &onChange, int periodMs = kIdlePeriodMs) override;
    // NOOP every `intervalMs` for servers without IDLE, the changes as with
    // idle(), until stopWaiting(), AbortCheck or `periodMs`. Between the NOOPs
    // nothing is sent; changes the server sends of its own accord still arrive.
    ImapResult<WaitEnd> poll(const ChangeHandler &onChange, int intervalMs, int periodMs = kIdlePeriodMs) override;
    // One NOOP; its changes to `onChange`.
    ImapResult<void> noop(const ChangeHandler &onChange = {});
    // Ends the idle() or poll() under way (from its change handler, a timer or
    // a window event); nothing when none is under way.
    void stopWaiting() override;
    bool isWaiting() const { return waiting_ != nullptr; }
    // --- Scope: which folders there are and which of their messages a walk
    // reads (ImapClientScope.cpp). Each fails with the fault of its command;
    // LastErrorText says the same.
    //
    // Whether the server is Gmail's (X-GM-EXT-1: labels, X-GM-RAW searches).
    bool isGmail() const { return session_.hasCapability("X-GM-EXT-1"); }
    // The UIDs of the selected mailbox that `filter` selects (all of them for
    // an empty filter), in one command: UID SEARCH, with RETURN (ALL) where the
    // server has ESEARCH. When the server refuses the search, the fault names
    // the key it refused.
    ImapResult<UidSet> searchUids(const SearchFilter &filter) override;
    // STATUS (MESSAGES UIDNEXT UIDVALIDITY) of a folder.
    ImapResult<FolderStatus> folderStatus(const QString &folder);
    // Every folder (LIST "" "*"), with special-use attributes (RETURN
    // (SPECIAL-USE) where offered) and, when `withCounts`, message counts of
    // the selectable ones (in the LIST answer where the server has
    // LIST-STATUS, else one STATUS each).
    ImapResult<QList<FolderInfo>> listFolders(bool withCounts);

    // --- The UID walk (ImapClientUidWalk.cpp): the given UIDs of the mailbox
    // selected now, in ascending order, read ahead as a walk by sequence
    // number is. fetchUidWalk(p) for position p = 1, 2, ... hands out each
    // message once, with its UID and the folder's UIDVALIDITY filled in;
    // positions out of order are fetched on their own. Each fetch answers for
    // its own message (error text "UID FETCH 1234 failed: ...", progress,
    // abort check, time-out); a UID the server no longer has is a failed fetch
    // of that UID. After a lost line the messages that had fully arrived are
    // still handed out, then the loss; once the same mailbox is selected
    // again (same UIDVALIDITY) the walk goes on from any position.
    ImapResult<void> startUidWalk(const UidSet &uids, UidWalkOptions options = {}) override;
    ImapResult<MailRecord> fetchUidWalk(qint64 position) override;
    // Leaves the walk; ranges still on their way are waited for by the next command.
    void endUidWalk() override;
    qint64 uidWalkSize() const { return walkUids_.size(); }
    quint32 uidWalkAt(qint64 position) const { return walkUids_.at(position - 1); }

private:
    using Outcome = ImapSession::Outcome;

    struct Waiting;  // the idle() or poll() under way
    // A wait answers AbortCheck itself (it leaves cleanly instead of closing
    // the connection) and watches its period; endWaiting() puts things back.
    void beginWaiting(Waiting &w, int periodMs);
    void endWaiting(Waiting &w);
    // A change of the message count that came outside the wait's own answers
    // (after a tagged answer, between two commands) goes to `onChange` as an
    // EXISTS. False when the handler destroyed this client.
    bool catchUp(Waiting &w, const ChangeHandler &onChange);
    // Sends DONE once the IDLE has its go-ahead and the wait is to end.
    void leaveIdle(Waiting &w);
    Waiting *waiting_ = nullptr;

    // Ready for a command of its own: nothing waits, connected, no read-ahead left.
    bool prepare(const QString &op);
    bool requireConnection(const QString &op);
    bool canFetch(const QString &op, int number);
    // Waits for the ranges still on their way and forgets the read-ahead; on
    // failure the outcome is set for `op`.
    Outcome drainReadAhead(const QString &op);
    void forgetReadAhead();  // the planner's and the decoder's

    // The result of an operation that ended with `outcome`: its value on
    // success, else the fault of the session's last outcome. After Destroyed
    // nothing of this client is touched.
    ImapResult<void> ended(Outcome outcome) const;
    ImapResult<void> failed() const { return session_.lastFault(); }
    static ImapFault destroyedFault();

    // The bytes of a raw command of one line of text; else the outcome is set and nothing is returned.
    std::optional<QByteArray> oneLine(const QString &op, const QString &cmd);

    // Fetching (ImapClientFetch.cpp)
    std::unique_ptr<MailRecord> fetchOne(int number, bool bUid);
    std::unique_ptr<MailRecord> fetchInWalk(int number, const QString &op, bool *askAlone);
    std::unique_ptr<MailRecord> fetchAlone(int number, bool bUid, const QString &op);
    std::unique_ptr<MailRecord> takeKept(int number, const QString &op);
    // A message that has fully arrived, decoded; its fetch reported as done.
    // `number`: its sequence number when it came from the read-ahead (its
    // decoding may have started), else 0. `uid`: its UID when the answer named it.
    std::unique_ptr<MailRecord> handOut(const QString &op, int number, const QByteArray &body, quint32 uid);
    // The UID the read-ahead's answer for message `number` named (0: none);
    // forgets it and those of the messages before it.
    quint32 takeUidOf(int number);
    // Starts decoding the messages that have arrived ahead of the caller, in
    // order, as far as the decoder's bound allows.
    void decodeArrived();
    // Asks for further ranges so that the window ahead of `from` stays filled.
    void topUp(int from);
    // Files a FETCH response or range answer of the read-ahead; false when it is not one.
    bool claimForReadAhead(ImapResponse &r);

    // Scope (ImapClientScope.cpp)
    ImapFault lastFault() const { return {session_.lastFailure(), session_.lastError()}; }
    ImapResult<UidSet> runSearch(const QString &op, const std::vector<SearchKey> &keys);
    // After a refused search of several keys: the first key refused on its own.
    const SearchKey *refusedKey(const QString &op, const std::vector<SearchKey> &keys);

    // The UID walk (ImapClientUidWalk.cpp). The read-ahead serves one kind of
    // walk at a time; switching forgets what it holds.
    enum class AheadMode { Sequence, Uid };
    bool useAhead(AheadMode mode, const QString &op);
    bool canFetchInUidWalk(const QString &op);
    std::unique_ptr<MailRecord> fetchUidInWalk(int position, const QString &op, bool *askAlone);
    std::unique_ptr<MailRecord> fetchUidAlone(int position, quint32 uid, const QString &op);
    void topUpUids(int from);
    bool claimForUidWalk(ImapResponse &r);
    QByteArray uidFetchItems() const;

    // AUTHENTICATE `mechanism` with the raw (not yet base64) initial response.
    ImapResult<void> authenticate(const QString &op, const QByteArray &mechanism, const QByteArray &response);

    bool ssl_ = true;
    int port_ = 993;
    QString host_;  // as given to the last Connect
    QString caFile_;
    qint64 maxMessageBytes_ = ImapParser::kDefaultMaxLiteral;
    ReadAheadPlanner ahead_;  // before session_: the session's hooks reach it until the end
    DecodeAhead decode_{qint64(4) << 20};
    int decodeNext_ = 0;  // the next read-ahead message whose decoding may start
    std::map<int, quint32> uidOf_;  // the UIDs of the read-ahead's messages not yet handed out, by number
    AheadMode aheadMode_ = AheadMode::Sequence;
    UidSet walkUids_;           // the UID walk's UIDs, position p at index p - 1
    QString walkMailbox_;       // its mailbox, as selected
    quint32 walkValidity_ = 0;  // and that mailbox's UIDVALIDITY
    quint32 uidValidity_ = 0;   // of the mailbox selected last (0: unknown)
    MailboxStatus selectStatus_;       // what that SELECT answered
    quint32 commandsAtSelect_ = 0;     // the session's command count right after it
    UidWalkOptions walkOptions_;
    std::map<int, QStringList> walkLabels_;  // X-GM-LABELS of messages not yet handed out, by position
    ImapSession session_;
};

}  // namespace vc
