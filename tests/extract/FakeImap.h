#pragma once
// An in-memory IMAP component for engine tests: folders of messages, fetches
// that fail, select failures, special-use attributes and a hook that runs
// inside FetchSingle (a Stop click or a disconnect while a message arrives).
#include "mail/ImapComponent.h"

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
        QStringList flags;                         // e.g. "\\Sent"
        QList<std::optional<ImapEmail>> messages;  // nullopt: the fetch of that number fails
    };

    QList<Folder> folders;
    bool connectOk = true, idOk = true, loginOk = true, listOk = true;
    QSet<QString> refuseSelect;  // names that SELECT refuses although they exist
    // Fetches answer the abort check: a fetch whose check is answered non-zero fails.
    bool fetchHonoursAbort = true;
    std::function<void(int number)> onFetch;  // runs inside FetchSingle, after the abort check

    // What happened, in order.
    QStringList calls;  // "connect", "id", "login", "list", "select NAME", "fetch N"
    QList<int> fetched;
    int logins = 0;

    static ImapEmail message(const QString &subject, const QString &body = QString(),
                             const QString &from = QStringLiteral("Ann Example <ann@example.org>"))
    {
        ImapEmail e;
        e.From = from;
        e.FromName = QStringLiteral("Ann Example");
        e.FromAddress = QStringLiteral("ann@example.org");
        e.Subject = subject;
        e.EmailDate = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::UTC);
        e.PlainTextBody = body;
        e.HTMLTextBody = QStringLiteral("<p>") + body + QStringLiteral("</p>");
        return e;
    }

    Folder &folder(const QString &name, const QStringList &flags = {})
    {
        for (Folder &f : folders)
            if (f.name == name)
                return f;
        folders.append(Folder{name, flags, {}});
        return folders.last();
    }

    void setSsl(bool) override {}
    void setPort(int) override {}
    int Connect(const QString &) override
    {
        calls << QStringLiteral("connect");
        selected_ = -1;
        connected_ = connectOk;
        return answer(connectOk, QStringLiteral("Connect: refused"));
    }
    QString SendRawCommand(const QString &) override
    {
        calls << QStringLiteral("id");
        if (!connected_ || !idOk) {
            lastError_ = QStringLiteral("SendRawCommand: no answer");
            return {};
        }
        lastError_ = QStringLiteral("SendRawCommand: OK");
        return QStringLiteral("* ID NIL\r\nA1 OK ID completed");
    }
    int Login(const QString &, const QString &) override
    {
        calls << QStringLiteral("login");
        ++logins;
        loggedIn_ = connected_ && loginOk;
        return answer(loggedIn_, QStringLiteral("Login: authentication failed"));
    }
    std::unique_ptr<MailboxList> ListMailboxes(const QString &, const QString &) override
    {
        calls << QStringLiteral("list");
        if (!loggedIn_ || !listOk) {
            lastError_ = QStringLiteral("ListMailboxes: failed");
            return nullptr;
        }
        QList<MailboxInfo> boxes;
        for (const Folder &f : folders)
            boxes.append(MailboxInfo{f.name, f.flags});
        lastError_ = QStringLiteral("ListMailboxes: OK");
        return std::make_unique<MailboxList>(boxes);
    }
    int SelectMailbox(const QString &name) override
    {
        calls << QStringLiteral("select ") + name;
        selected_ = -1;
        if (loggedIn_ && !refuseSelect.contains(name)) {
            for (int i = 0; i < folders.size(); ++i)
                if (folders[i].name == name)
                    selected_ = i;
        }
        return answer(selected_ >= 0, QStringLiteral("SelectMailbox: no such mailbox ") + name);
    }
    int NumMessages() override { return selected_ >= 0 ? int(folders[selected_].messages.size()) : 0; }
    std::unique_ptr<ImapEmail> FetchSingle(int number, bool) override
    {
        calls << QStringLiteral("fetch %1").arg(number);
        fetched << number;
        Q_EMIT PercentDone(0);
        int before = 0;
        Q_EMIT AbortCheck(before);
        if (onFetch)
            onFetch(number);
        int after = 0;
        Q_EMIT AbortCheck(after);
        if (fetchHonoursAbort && (before != 0 || after != 0)) {
            lastError_ = QStringLiteral("FetchSingle: aborted");
            return nullptr;
        }
        if (selected_ < 0 || number < 1 || number > folders[selected_].messages.size()
            || !folders[selected_].messages[number - 1]) {
            lastError_ = QStringLiteral("FetchSingle: no message %1\r\nsecond line").arg(number);
            return nullptr;
        }
        Q_EMIT PercentDone(100);
        lastError_ = QStringLiteral("FetchSingle: OK %1").arg(number);
        return std::make_unique<ImapEmail>(*folders[selected_].messages[number - 1]);
    }
    QString LastErrorText() const override { return lastError_; }
    int Disconnect() override
    {
        calls << QStringLiteral("disconnect");
        connected_ = loggedIn_ = false;
        selected_ = -1;
        return 1;
    }

    int count(const QString &call) const { return int(calls.count(call)); }

private:
    int answer(bool ok, const QString &failure)
    {
        lastError_ = ok ? QStringLiteral("OK") : failure;
        return ok ? 1 : 0;
    }

    bool connected_ = false, loggedIn_ = false;
    int selected_ = -1;
    QString lastError_;
};

}  // namespace vc::test
