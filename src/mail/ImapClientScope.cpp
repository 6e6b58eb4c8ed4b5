// ImapClient: searching the selected mailbox, folder status and the folder list.
#include "mail/ImapClient.h"

#include "mail/ModifiedUtf7.h"

#include <QHash>

namespace vc {

namespace {

bool sameMailbox(const QString &a, const QString &b)
{
    const bool inbox = a.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
    return inbox ? b.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 : a == b;
}

QByteArray mailboxArgument(const QString &name)
{
    return name.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 ? QByteArray("INBOX")
                                                                          : encodeMailboxName(name);
}

// The items of a STATUS answer's list ("(MESSAGES 3 UIDNEXT 10 ...)").
FolderStatus statusItems(const ImapValue &list)
{
    FolderStatus s;
    for (size_t i = 0; i + 1 < list.list.size(); i += 2) {
        const ImapValue &name = list.list[i];
        const QByteArray &value = list.list[i + 1].text;
        if (name.isAtom("MESSAGES"))
            s.messages = value.toLongLong();
        else if (name.isAtom("UIDNEXT"))
            s.uidNext = value.toUInt();
        else if (name.isAtom("UIDVALIDITY"))
            s.uidValidity = value.toUInt();
    }
    return s;
}

// "* STATUS name (...)": the folder's name and the list, or nothing.
const ImapValue *statusOf(const ImapResponse &r, QString *name)
{
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.values.size() < 3 || !r.values[0].isAtom("STATUS")
        || r.values[2].kind != ImapValue::List)
        return nullptr;
    *name = decodeMailboxName(r.values[1].text);
    return &r.values[2];
}

}  // namespace

// --- Searching

ImapResult<UidSet> ImapClient::searchUids(const SearchFilter &filter)
{
    const QString op = QStringLiteral("UID SEARCH");
    if (!prepare(op))
        return lastFault();
    if (session_.selected().isEmpty()) {
        session_.setOutcome(op + QStringLiteral(" failed: no mailbox is selected"), ImapFailure::NotSelected);
        return lastFault();
    }
    if (!filter.gmailLabel.isEmpty() && !isGmail()) {
        session_.setOutcome(op
                                + QStringLiteral(" failed: labels are a feature of Gmail, and this server is not "
                                                 "Gmail's (it does not offer X-GM-EXT-1)"),
                            ImapFailure::BadRequest);
        return lastFault();
    }
    const ImapResult<std::vector<SearchKey>> keys = searchKeys(filter);
    if (!keys) {
        session_.setOutcome(op + QStringLiteral(" failed: ") + keys.fault().reason, keys.fault().kind);
        return lastFault();
    }
    ImapResult<UidSet> found = runSearch(op, *keys);
    if (found && filter.uidAbove > 0)
        return found->above(filter.uidAbove);  // "n+1:*" holds the last UID even when it is below n + 1
    if (found || found.fault().kind != ImapFailure::Refusal || keys->empty())
        return found;
    // Which key did the server refuse? Each on its own tells (only when it failed).
    const QString text = found.fault().reason;
    const QString refusal = text.mid(text.indexOf(QStringLiteral(" failed: ")) + 9);
    const SearchKey *refused = keys->size() == 1 ? &keys->front() : refusedKey(op, *keys);
    if (refused) {
        session_.setOutcome(
            op + QStringLiteral(" failed: the server refused the search key %1 (%2)").arg(refused->shown, refusal),
            ImapFailure::Refusal);
    } else if (session_.isOpen()) {
        QStringList shown;
        for (const SearchKey &k : *keys)
            shown << k.shown;
        session_.setOutcome(op
                                + QStringLiteral(" failed: the server refused the search keys %1 together (%2)")
                                      .arg(shown.join(QLatin1Char(' ')), refusal),
                            ImapFailure::Refusal);
    }
    return lastFault();
}

ImapResult<UidSet> ImapClient::runSearch(const QString &op, const std::vector<SearchKey> &keys)
{
    const bool esearch = session_.hasCapability("ESEARCH");
    UidSet found;
    std::optional<ImapFault> bad;
    std::vector<EsearchAnswer> extended;
    const auto onAnswer = [&](ImapResponse &r) {
        if (std::optional<ImapResult<UidSet>> s = searchAnswer(r)) {
            if (!*s)
                bad = s->fault();
            else
                for (const UidSet::Range &range : (*s)->ranges())
                    found.add(range.first, range.last);
        } else if (std::optional<EsearchAnswer> e = esearchAnswer(r)) {
            extended.push_back(std::move(*e));
        }
    };
    ImapResponse tagged;
    if (session_.run(op, searchCommand(keys, esearch, session_.hasCapability("LITERAL+")), onAnswer, &tagged)
        != Outcome::Ok)
        return lastFault();
    for (const EsearchAnswer &e : extended) {
        if (!e.tag.isEmpty() && e.tag != tagged.tag)
            continue;  // about another command
        if (!e.uids)
            bad = e.uids.fault();
        else
            for (const UidSet::Range &range : e.uids->ranges())
                found.add(range.first, range.last);
    }
    if (bad) {
        session_.fail(op, *bad);
        return lastFault();
    }
    return found;
}

const SearchKey *ImapClient::refusedKey(const QString &op, const std::vector<SearchKey> &keys)
{
    for (const SearchKey &k : keys) {
        const ImapResult<UidSet> alone = runSearch(op, {k});
        if (!alone && alone.fault().kind == ImapFailure::Refusal)
            return &k;
        if (!alone)
            return nullptr;  // the line is gone: its fault stands
    }
    return nullptr;
}

// --- Folders

ImapResult<FolderStatus> ImapClient::folderStatus(const QString &folder)
{
    const QString op = QStringLiteral("STATUS ") + folder;
    if (!prepare(op))
        return lastFault();
    ImapCommand c("STATUS ");
    c.astring(mailboxArgument(folder), session_.hasCapability("LITERAL+")).text(" (MESSAGES UIDNEXT UIDVALIDITY)");
    std::optional<FolderStatus> status;
    const auto onStatus = [&](ImapResponse &r) {
        QString name;
        if (const ImapValue *items = statusOf(r, &name); items && sameMailbox(name, folder))
            status = statusItems(*items);
    };
    if (session_.run(op, c, onStatus) != Outcome::Ok)
        return lastFault();
    if (!status) {
        session_.setOutcome(op + QStringLiteral(" failed: the server answered without the folder's status"),
                            ImapFailure::Protocol);
        return lastFault();
    }
    return *status;
}

ImapResult<QList<FolderInfo>> ImapClient::listFolders(bool withCounts)
{
    const QString op = QStringLiteral("LIST");
    if (!prepare(op))
        return lastFault();
    const bool specialUse = session_.hasCapability("SPECIAL-USE");
    const bool listStatus = withCounts && session_.hasCapability("LIST-STATUS");
    QByteArray command = "LIST \"\" \"*\"";
    if (specialUse && listStatus)
        command += " RETURN (SPECIAL-USE STATUS (MESSAGES))";
    else if (specialUse)
        command += " RETURN (SPECIAL-USE)";
    else if (listStatus)
        command += " RETURN (STATUS (MESSAGES))";
    QList<FolderInfo> folders;
    QHash<QString, qint64> counts;
    const auto onList = [&](ImapResponse &r) {
        QString name;
        if (const ImapValue *items = statusOf(r, &name)) {
            counts.insert(name, statusItems(*items).messages);
            return;
        }
        if (r.name() != "LIST" || r.values.size() < 4 || r.values[1].kind != ImapValue::List
            || r.values[3].kind == ImapValue::Nil || r.values[3].kind == ImapValue::List)
            return;
        FolderInfo f;
        f.name = decodeMailboxName(r.values[3].text);
        if (r.values[2].kind != ImapValue::Nil)
            f.delimiter = QString::fromUtf8(r.values[2].text);
        for (const ImapValue &a : r.values[1].list)
            f.attributes << QString::fromUtf8(a.text);
        f.specialUse = specialUseOf(f.attributes);
        f.selectable = !f.attributes.contains(QLatin1String("\\Noselect"), Qt::CaseInsensitive)
                       && !f.attributes.contains(QLatin1String("\\NonExistent"), Qt::CaseInsensitive);
        folders << f;
    };
    if (session_.run(op, ImapCommand(command), onList) != Outcome::Ok)
        return lastFault();
    if (withCounts) {
        for (FolderInfo &f : folders) {
            if (!f.selectable)
                continue;
            if (listStatus) {
                f.messages = counts.value(f.name, -1);
                continue;
            }
            const ImapResult<FolderStatus> s = folderStatus(f.name);
            if (s)
                f.messages = s->messages;
            else if (s.fault().kind != ImapFailure::Refusal)
                return s.fault();  // the line is gone; a folder the server will not count stays unknown
        }
    }
    session_.succeed(op);
    return folders;
}

}  // namespace vc
