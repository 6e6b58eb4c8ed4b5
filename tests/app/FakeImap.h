#pragma once
#include "mail/ImapComponent.h"

#include <QList>
#include <QStringList>

#include <functional>

namespace vc::test {

// An IMAP component that serves a fixed account from memory and records what
// it was asked. `onFetch` runs inside FetchSingle, before the message is
// returned: the place where a user's click lands during a real fetch.
class FakeImap : public ImapComponent {
    Q_OBJECT
public:
    QString user = QStringLiteral("alice@live.com");
    QString password = QStringLiteral("secret");
    QStringList folders = {QStringLiteral("Inbox"), QStringLiteral("Drafts"), QStringLiteral("Sent"),
                           QStringLiteral("Junk"), QStringLiteral("Deleted")};
    QList<ImapEmail> inbox;
    std::function<void(int number)> onFetch;

    QStringList logins;  // "user|password" of every Login
    QStringList hosts;   // every Connect's host
    QList<int> ports;
    QList<bool> ssl;
    QList<int> fetched;  // numbers asked for by FetchSingle
    int disconnects = 0;

    void setSsl(bool on) override { ssl_ = on; }
    void setPort(int port) override { port_ = port; }
    int Connect(const QString &host) override
    {
        hosts << host;
        ports << port_;
        ssl << ssl_;
        connected_ = true;
        loggedIn_ = false;
        return 1;
    }
    QString SendRawCommand(const QString &) override
    {
        return connected_ ? QStringLiteral("* ID NIL\r\nA1 OK ID completed") : QString();
    }
    int Login(const QString &u, const QString &p) override
    {
        logins << u + QLatin1Char('|') + p;
        loggedIn_ = connected_ && u == user && p == password;
        if (!loggedIn_)
            last_ = QStringLiteral("LOGIN failed: NO [AUTHENTICATIONFAILED]");
        return loggedIn_ ? 1 : 0;
    }
    std::unique_ptr<MailboxList> ListMailboxes(const QString &, const QString &) override
    {
        if (!loggedIn_)
            return nullptr;
        QList<MailboxInfo> boxes;
        for (const QString &f : folders)
            boxes << MailboxInfo{f, {}};
        return std::make_unique<MailboxList>(boxes);
    }
    int SelectMailbox(const QString &mailbox) override
    {
        selected_ = loggedIn_ && folders.contains(mailbox);
        return selected_ ? 1 : 0;
    }
    int NumMessages() override { return selected_ ? int(inbox.size()) : 0; }
    std::unique_ptr<ImapEmail> FetchSingle(int number, bool) override
    {
        fetched << number;
        if (onFetch)
            onFetch(number);
        if (!selected_ || number < 1 || number > inbox.size())
            return nullptr;
        return std::make_unique<ImapEmail>(inbox.at(number - 1));
    }
    QString LastErrorText() const override { return last_; }
    int Disconnect() override
    {
        ++disconnects;
        connected_ = loggedIn_ = selected_ = false;
        return 1;
    }

private:
    bool ssl_ = false, connected_ = false, loggedIn_ = false, selected_ = false;
    int port_ = 0;
    QString last_;
};

}  // namespace vc::test
