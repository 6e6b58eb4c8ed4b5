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

ImapResult<void> FakeImap::answer(bool ok, const QString &failure, ImapFailure kind)
{
    lastError_ = ok ? QStringLiteral("OK") : failure;
    if (ok)
        return {};
    return ImapFault(kind, failure, kind == ImapFailure::Refusal ? QStringLiteral("refused") : QString());
}

ImapResult<void> FakeImap::Connect(const QString &host)
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
    refusedCertificateNow_ =
        !connectOk && connectFailure == ImapFailure::TlsRejected ? refusedCertificate : QStringList();
    return answer(connectOk, QStringLiteral("Connect: %1").arg(QLatin1String(failureName(connectFailure))),
                  connectFailure);
}

ImapResult<QString> FakeImap::SendRawCommand(const QString &cmd)
{
    calls << cmd.section(QLatin1Char(' '), 0, 0).toLower();
    if (!connected_ || idFailure != ImapFailure::None) {
        const ImapFailure kind = connected_ ? idFailure : ImapFailure::NotConnected;
        if (kind != ImapFailure::Refusal)
            connected_ = loggedIn_ = false;
        return answer(false, QStringLiteral("SendRawCommand: no answer"), kind).fault();
    }
    lastError_ = QStringLiteral("SendRawCommand: OK");
    return QStringLiteral("* ID NIL\r\nA1 OK ID completed");
}

ImapResult<void> FakeImap::Login(const QString &u, const QString &p)
{
    calls << QStringLiteral("login");
    logins << u + QLatin1Char('|') + p;
    const bool accountOk = user.isEmpty() || (u == user && p == password);
    loggedIn_ = connected_ && loginOk && accountOk;
    return answer(loggedIn_, QStringLiteral("LOGIN failed: NO [AUTHENTICATIONFAILED]"));
}

ImapResult<MailboxList> FakeImap::ListMailboxes(const QString &, const QString &)
{
    calls << QStringLiteral("list");
    if (!loggedIn_ || !listOk)
        return answer(false, QStringLiteral("ListMailboxes: failed")).fault();
    QList<MailboxInfo> boxes;
    for (const Folder &f : folders)
        boxes.append(MailboxInfo{f.name, QStringLiteral("/"), f.flags});
    lastError_ = QStringLiteral("ListMailboxes: OK");
    return MailboxList(boxes);
}

ImapResult<MailboxStatus> FakeImap::SelectMailbox(const QString &name)
{
    calls << QStringLiteral("select ") + name;
    selected_ = -1;
    if (loggedIn_ && !refuseSelect.contains(name)) {
        for (int i = 0; i < folders.size(); ++i)
            if (folders[i].name == name)
                selected_ = i;
    }
    if (const ImapResult<void> r = answer(selected_ >= 0, QStringLiteral("SelectMailbox: no such mailbox ") + name); !r)
        return r.fault();
    MailboxStatus status;
    status.exists = folders[selected_].messages.size();
    status.uidValidity = 7;
    callsAtSelect_ = calls.size();
    if (onSelected)
        onSelected(name);
    return status;
}

std::optional<MailboxStatus> FakeImap::untouchedSelection(const QString &name) const
{
    if (!isSignedIn() || selected_ < 0 || folders[selected_].name != name || calls.size() != callsAtSelect_)
        return std::nullopt;
    MailboxStatus status;
    status.exists = folders[selected_].messages.size();
    status.uidValidity = 7;
    return status;
}

ImapResult<MailRecord> FakeImap::FetchSingle(int number, bool)
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
        return ImapFault(ImapFailure::Aborted, lastError_);
    }
    if (!connected_ || selected_ < 0 || number < 1 || number > folders[selected_].messages.size()
        || !folders[selected_].messages[number - 1]) {
        lastError_ = QStringLiteral("FetchSingle: no message %1\r\nsecond line").arg(number);
        const ImapFailure kind = !connected_     ? ImapFailure::NotConnected
                                 : selected_ < 0 ? ImapFailure::NotSelected
                                                 : ImapFailure::NoMessage;
        return ImapFault(kind, lastError_);
    }
    Q_EMIT PercentDone(100);
    lastError_ = QStringLiteral("FetchSingle: OK %1").arg(number);
    MailRecord m = *folders[selected_].messages[number - 1];
    if (m.ReceivedDate.isEmpty())
        m.ReceivedDate = dateToText(m.date);  // as the decoder gives it
    return m;
}

ImapResult<void> FakeImap::Disconnect()
{
    calls << QStringLiteral("disconnect");
    connected_ = loggedIn_ = false;
    selected_ = -1;
    return {};
}

}  // namespace vc::test
