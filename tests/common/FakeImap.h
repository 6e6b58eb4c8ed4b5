#pragma once
// The one in-memory IMAP component of the tests: folders of messages, fetches
// that fail, connect/ID/login/list/select failures, special-use attributes, an
// account that only takes one user and password, the kind of each failure,
// and hooks that run inside Connect and FetchSingle (where a click lands
// during a real connect or fetch).
#include "mail/ImapComponent.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vc::test {

class FakeImap : public ImapComponent {
public:
    struct Folder {
        QString name;
        QStringList flags;                          // e.g. "\\Sent"
        QList<std::optional<MailRecord>> messages;  // nullopt: the fetch of that number fails
    };

    // A message from Ann, dated 5 March 2024 14:07:09 UTC.
    static MailRecord message(const QString &subject, const QString &body = QString(),
                              const QString &from = QStringLiteral("Ann Example <ann@example.org>"));

    QList<Folder> folders;
    // The account: with `user` set, only that user with `password` logs in.
    QString user, password;
    bool connectOk = true, loginOk = true, listOk = true;
    // What the server offers; without "ID" the ID command is not for it.
    QStringList capabilities{QStringLiteral("IMAP4REV1"), QStringLiteral("ID")};
    // How the ID command fails (None: it is answered).
    ImapFailure idFailure = ImapFailure::None;
    // Why a refused Connect failed (None: the fake cannot tell, as a component
    // may), and with TlsRejected the certificate's reasons.
    ImapFailure connectFailure = ImapFailure::None;
    QStringList refusedCertificate;
    std::function<void()> onConnect;  // runs inside Connect (where a click lands during a real connect)
    QSet<QString> refuseSelect;       // names that SELECT refuses although they exist
    // Fetches answer the abort check: a fetch whose check is answered non-zero fails.
    bool fetchHonoursAbort = true;
    std::function<void(int number)> onFetch;  // runs inside FetchSingle, after the first abort check
    std::function<void(const QString &name)> onSelected;  // runs after a SELECT that succeeded

    // What happened, in order.
    // "connect", "id" (and the verb of any other raw command, "noop"), "login",
    // "list", "select NAME", "fetch N", "disconnect"
    QStringList calls;
    QStringList logins;  // "user|password" of every Login
    QStringList hosts;   // host, port and SSL switch of every Connect
    QList<int> ports;
    QList<bool> ssl;
    QList<int> fetched;

    // The folder of that name, created (empty) when there is none.
    Folder &folder(const QString &name, const QStringList &flags = {});
    // Inbox, Drafts, Sent, Junk and Deleted, empty.
    void addStandardFolders();
    // The Inbox's messages.
    void setInbox(const QList<MailRecord> &messages);
    int count(const QString &call) const { return int(calls.count(call)); }

    void setSsl(bool on) override { ssl_ = on; }
    void setPort(int port) override { port_ = port; }
    ImapResult<void> Connect(const QString &host) override;
    ImapResult<QString> SendRawCommand(const QString &cmd) override;
    ImapResult<void> Login(const QString &u, const QString &p) override;
    ImapResult<MailboxList> ListMailboxes(const QString &, const QString &) override;
    ImapResult<MailboxStatus> SelectMailbox(const QString &name) override;
    int NumMessages() override { return selected_ >= 0 ? int(folders[selected_].messages.size()) : 0; }
    ImapResult<MailRecord> FetchSingle(int number, bool) override;
    QString LastErrorText() const override { return lastError_; }
    ImapResult<void> Disconnect() override;
    QStringList Capabilities() const override { return connected_ ? capabilities : QStringList(); }
    bool isSignedIn() const override { return connected_ && loggedIn_; }
    // Nothing called since the select counts as nothing sent to the server.
    std::optional<MailboxStatus> untouchedSelection(const QString &name) const override;
    // The line goes as a server's would after its last answer: the next call
    // finds it closed (the count of the mailbox selected last still answers).
    void dropLine() { connected_ = loggedIn_ = false; }
    QStringList certificateErrors() const override { return refusedCertificateNow_; }

private:
    ImapResult<void> answer(bool ok, const QString &failure, ImapFailure kind = ImapFailure::Refusal);

    bool ssl_ = false, connected_ = false, loggedIn_ = false;
    int port_ = 0;
    int selected_ = -1;
    qsizetype callsAtSelect_ = -1;  // calls.size() right after the last select that succeeded
    QString lastError_;
    QStringList refusedCertificateNow_;
};

}  // namespace vc::test
