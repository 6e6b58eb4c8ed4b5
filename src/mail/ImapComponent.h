#pragma once
#include "core/MailRecord.h"
#include "mail/ImapFailure.h"
#include "mail/ImapResponses.h"
#include "mail/ImapSearch.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vc {

struct DecodeNeeds;

// What a UID walk fetches besides each message.
struct UidWalkOptions {
    bool gmailLabels = false;  // X-GM-LABELS of each message (Gmail only)
};

// The answer of ListMailboxes: names by 0-based index.
class MailboxList {
public:
    MailboxList() = default;
    explicit MailboxList(QList<MailboxInfo> boxes) : boxes_(std::move(boxes)) {}
    int Count() const { return int(boxes_.size()); }
    QString GetName(int index) const { return boxes_.value(index).name; }
    bool HasFlag(int index, const QString &flag) const
    {
        return boxes_.value(index).attributes.contains(flag, Qt::CaseInsensitive);
    }
    const QList<MailboxInfo> &boxes() const { return boxes_; }

private:
    QList<MailboxInfo> boxes_;
};

// The IMAP component: exactly the operations the program relies on. Each
// operation gives its value or the fault it ended with (ImapResult); the
// last-error text (LastErrorText) describes the latest operation, success or
// not. While an operation waits, the component raises AbortCheck (at least
// every 100 ms; a non-zero answer abandons the operation, which then fails)
// and PercentDone as data of the operation arrives. Both are delivered on the
// calling thread; connect them with Qt::DirectConnection.
class ImapComponent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ImapComponent() override = default;

    virtual void setSsl(bool on) = 0;    // applies to the next Connect
    virtual void setPort(int port) = 0;  // applies to the next Connect
    virtual ImapResult<void> Connect(const QString &host) = 0;
    virtual ImapResult<QString> SendRawCommand(const QString &cmd) = 0;  // the server's reply
    // Sends a command whose answer nothing waits for (pipelined ahead of the
    // next one); the answer, when it comes, only goes to aheadAnswer(). A
    // component that cannot do so sends it as SendRawCommand does.
    virtual ImapResult<void> sendAhead(const QString &cmd)
    {
        const ImapResult<QString> reply = SendRawCommand(cmd);
        if (reply)
            return {};
        return reply.fault();
    }
    virtual ImapResult<void> Login(const QString &user, const QString &password) = 0;
    virtual ImapResult<MailboxList> ListMailboxes(const QString &reference, const QString &pattern) = 0;
    virtual ImapResult<MailboxStatus> SelectMailbox(const QString &mailbox) = 0;
    // The message count of the selected mailbox as the server last reported
    // it (EXISTS and EXPUNGE keep it up to date); 0 when none is selected.
    virtual int NumMessages() = 0;
    virtual ImapResult<MailRecord> FetchSingle(int number, bool bUid) = 0;  // decoded
    virtual QString LastErrorText() const = 0;
    virtual ImapResult<void> Disconnect() = 0;

    // Signs in with an OAuth 2.0 access token instead of a password (SASL
    // OAUTHBEARER or XOAUTH2, whichever the server offers, OAUTHBEARER first).
    // A component without token sign-in refuses.
    virtual ImapResult<void> LoginWithToken(const QString &user, const QString &token)
    {
        return ImapFault{ImapFailure::Refusal, QStringLiteral("this component cannot sign in with a token")};
    }
    // Whether the component holds a connection that a sign-in succeeded on;
    // false when it cannot tell.
    virtual bool isSignedIn() const { return false; }
    // What the SELECT of `mailbox` answered (EXISTS as it stands now), when
    // that mailbox is the one selected and nothing has gone to the server
    // since; else nothing.
    virtual std::optional<MailboxStatus> untouchedSelection(const QString & /*mailbox*/) const { return std::nullopt; }
    // The server's capabilities as last reported (upper case); empty when unknown.
    virtual QStringList Capabilities() const { return {}; }
    // What the messages fetched from now on are decoded into besides the
    // sender, subject, date and bodies (header fields, attachments and their
    // text, attachment bytes to save). A component that hands out records it
    // did not decode itself may leave it alone.
    virtual void setDecodeNeeds(const DecodeNeeds &needs) {}
    // The needs in force; null for a component that leaves them alone.
    virtual const DecodeNeeds *decodeNeeds() const { return nullptr; }
    // The reasons the server's certificate was refused at the last Connect
    // (QSslError texts), so a refused connection can say why.
    virtual QStringList certificateErrors() const { return {}; }

    // Walking the messages a search selected, by UID: searchUids() asks the
    // server for them, startUidWalk() begins the walk over them and
    // fetchUidWalk(p) hands out position p = 1, 2, ... of it, each message
    // with its UID and UIDVALIDITY filled in. A component without them fails
    // the search, so a filtered walk never reads what its filter leaves out.
    virtual ImapResult<UidSet> searchUids(const SearchFilter & /*filter*/)
    {
        return ImapFault{ImapFailure::BadRequest, QStringLiteral("this component cannot search by UID")};
    }
    virtual ImapResult<void> startUidWalk(const UidSet & /*uids*/, UidWalkOptions /*options*/ = {})
    {
        return ImapFault{ImapFailure::BadRequest, QStringLiteral("this component cannot walk by UID")};
    }
    virtual ImapResult<MailRecord> fetchUidWalk(qint64 /*position*/)
    {
        return ImapFault{ImapFailure::BadRequest, QStringLiteral("this component cannot walk by UID")};
    }
    virtual void endUidWalk() {}

    // Waiting for news of the selected mailbox, for a run that watches a
    // folder. A change as the server tells it: "* n EXISTS" (the mailbox now
    // holds n messages), "* n EXPUNGE" (message n is gone, those after it move
    // down one) or "* n RECENT".
    struct MailboxChange {
        enum Kind { Exists, Expunge, Recent };
        Kind kind = Exists;
        qint64 number = 0;
    };
    // Called as each change arrives; it may call stopWaiting().
    using ChangeHandler = std::function<void(const MailboxChange &)>;
    // Why a wait ended, when it ended without a fault; the connection is then
    // still open and the mailbox still selected.
    enum class WaitEnd {
        Stopped,   // stopWaiting() was called
        Period,    // the period is over: call again to go on waiting
        Aborted,   // AbortCheck answered non-zero
        ByServer,  // the server ended the IDLE on its own
    };
    // Whether the server offers IDLE.
    virtual bool canIdle() const { return false; }
    // IDLE (RFC 2177) on the selected mailbox for at most `periodMs`; the
    // changes to `onChange` as they come. A component without it refuses.
    virtual ImapResult<WaitEnd> idle(const ChangeHandler & /*onChange*/, int /*periodMs*/)
    {
        return ImapFault{ImapFailure::BadRequest, QStringLiteral("this component cannot wait with IDLE")};
    }
    // NOOP every `intervalMs` for at most `periodMs`, the changes as with idle().
    virtual ImapResult<WaitEnd> poll(const ChangeHandler & /*onChange*/, int /*intervalMs*/, int /*periodMs*/)
    {
        return ImapFault{ImapFailure::BadRequest, QStringLiteral("this component cannot poll")};
    }
    // Ends the idle() or poll() under way; nothing when none is under way.
    virtual void stopWaiting() {}

Q_SIGNALS:
    void AbortCheck(int &abort);
    void PercentDone(int pctDone);
};

}  // namespace vc
