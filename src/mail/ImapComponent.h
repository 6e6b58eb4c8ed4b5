#pragma once
#include "core/MailRecord.h"
#include "mail/ImapFailure.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace vc {

// One mailbox of a LIST answer: its name (decoded, hierarchy separators kept)
// and its attributes as the server sent them ("\HasNoChildren", "\Sent", ...).
struct MailboxInfo {
    QString name;
    QStringList flags;
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
        return boxes_.value(index).flags.contains(flag, Qt::CaseInsensitive);
    }
    const QList<MailboxInfo> &boxes() const { return boxes_; }

private:
    QList<MailboxInfo> boxes_;
};

// The IMAP component: exactly the operations the program relies on. Numeric
// answers are 1 for success; an empty reply or a missing object is a failure.
// While an operation waits, the component raises AbortCheck (at least every
// 100 ms; a non-zero answer abandons the operation, which then fails) and
// PercentDone as data of the operation arrives. Both are delivered on the
// calling thread; connect them with Qt::DirectConnection.
class ImapComponent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ImapComponent() override = default;

    virtual void setSsl(bool on) = 0;                                     // applies to the next Connect
    virtual void setPort(int port) = 0;                                   // applies to the next Connect
    virtual int Connect(const QString &host) = 0;                         // 1 = connected
    virtual QString SendRawCommand(const QString &cmd) = 0;               // the server's reply; empty = failure
    virtual int Login(const QString &user, const QString &password) = 0;  // 1 = logged in
    virtual std::unique_ptr<MailboxList> ListMailboxes(const QString &reference, const QString &pattern) = 0;
    virtual int SelectMailbox(const QString &mailbox) = 0;                       // 1 = selected
    virtual int NumMessages() = 0;                                               // of the selected mailbox
    virtual std::unique_ptr<MailRecord> FetchSingle(int number, bool bUid) = 0;  // decoded; nullptr = failure
    virtual QString LastErrorText() const = 0;
    virtual int Disconnect() = 0;

    // Signs in with an OAuth 2.0 access token instead of a password (SASL
    // OAUTHBEARER or XOAUTH2, whichever the server offers, OAUTHBEARER first).
    // 1 = signed in. A component without token sign-in refuses.
    virtual int LoginWithToken(const QString &user, const QString &token) { return 0; }
    // The server's capabilities as last reported (upper case); empty when unknown.
    virtual QStringList Capabilities() const { return {}; }
    // Beyond the operations above, so callers can name a problem and a walk can
    // outlive a lost connection: why the last operation failed (None after a
    // success; a component that cannot tell answers None), the reasons a
    // server's certificate was refused (QSslError texts), and the UIDVALIDITY of
    // the mailbox selected last (0 when unknown).
    virtual ImapFailure lastFailure() const { return ImapFailure::None; }
    virtual QStringList certificateErrors() const { return {}; }
    virtual quint32 uidValidity() const { return 0; }

Q_SIGNALS:
    void AbortCheck(int &abort);
    void PercentDone(int pctDone);
};

}  // namespace vc
