#include "FakeImap.h"

#include "core/DateText.h"

namespace vc::test {

MailRecord FakeImap::message(const QString &subject, const QString &body, const QString &from)
{
    MailRecord e;
    e.From = from;
    e.FromName = QStringLiteral("Ann Example");
    e.FromAddress = QStringLiteral("ann@example.org");
    e.Subject = subject;
    e.date = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::UTC);
    e.PlainTextBody = body;
    e.HTMLTextBody = QStringLiteral("<p>") + body + QStringLiteral("</p>");
    return e;
}

FakeImap::Folder &FakeImap::folder(const QString &name, const QStringList &flags)
{
    for (Folder &f : folders)
        if (f.name == name)
            return f;
    folders.append(Folder{name, flags, {}});
    return folders.last();
}

void FakeImap::addStandardFolders()
{
    for (const char *name : {"Inbox", "Drafts", "Sent", "Junk", "Deleted"})
        folder(QString::fromLatin1(name));
}

void FakeImap::setInbox(const QList<MailRecord> &messages)
{
    Folder &inbox = folder(QStringLiteral("Inbox"));
    inbox.messages.clear();
    for (const MailRecord &m : messages)
        inbox.messages << m;
}

int FakeImap::answer(bool ok, const QString &failure, ImapFailure kind)
{
    lastError_ = ok ? QStringLiteral("OK") : failure;
    lastFailure_ = ok ? ImapFailure::None : kind;
    return ok ? 1 : 0;
}

int FakeImap::Connect(const QString &host)
{
    calls << QStringLiteral("connect");
    hosts << host;
    ports << port_;
    ssl << ssl_;
    selected_ = -1;
    if (onConnect)
        onConnect();
    connected_ = connectOk;
    loggedIn_ = false;
    return answer(connectOk, QStringLiteral("Connect: %1").arg(QLatin1String(failureName(connectFailure))),
                  connectFailure);
}

QString FakeImap::SendRawCommand(const QString &)
{
    calls << QStringLiteral("id");
    if (!connected_ || !idOk) {
        answer(false, QStringLiteral("SendRawCommand: no answer"), ImapFailure::Refusal);
        return {};
    }
    answer(true, {});
    lastError_ = QStringLiteral("SendRawCommand: OK");
    return QStringLiteral("* ID NIL\r\nA1 OK ID completed");
}

int FakeImap::Login(const QString &u, const QString &p)
{
    calls << QStringLiteral("login");
    logins << u + QLatin1Char('|') + p;
    const bool accountOk = user.isEmpty() || (u == user && p == password);
    loggedIn_ = connected_ && loginOk && accountOk;
    return answer(loggedIn_, QStringLiteral("LOGIN failed: NO [AUTHENTICATIONFAILED]"));
}

std::unique_ptr<MailboxList> FakeImap::ListMailboxes(const QString &, const QString &)
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

int FakeImap::SelectMailbox(const QString &name)
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

std::unique_ptr<MailRecord> FakeImap::FetchSingle(int number, bool)
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
    auto m = std::make_unique<MailRecord>(*folders[selected_].messages[number - 1]);
    if (m->ReceivedDate.isEmpty())
        m->ReceivedDate = dateToText(m->date);  // as the decoder gives it
    return m;
}

int FakeImap::Disconnect()
{
    calls << QStringLiteral("disconnect");
    connected_ = loggedIn_ = false;
    selected_ = -1;
    return 1;
}

}  // namespace vc::test
