#include "extract/LocalCopyImap.h"

#include <utility>

namespace vc {

LocalCopyImap::LocalCopyImap(MailCacheSettings settings, QObject *parent)
    : ImapComponent(parent), settings_(std::move(settings))
{}

ImapFault LocalCopyImap::fail(ImapFailure kind, const QString &text)
{
    lastError_ = text;
    return ImapFault{kind, text};
}

void LocalCopyImap::unselect()
{
    selected_.reset();
    selectedName_.clear();
    selectedUids_ = UidSet();
}

template <class T>
ImapResult<T> LocalCopyImap::ok(T value)
{
    lastError_.clear();
    return value;
}

ImapResult<void> LocalCopyImap::done()
{
    lastError_.clear();
    return {};
}

QString LocalCopyImap::where(const QString &folder) const
{
    return QStringLiteral("%1 of %2 on %3:%4").arg(folder, user_, host_).arg(port_);
}

ImapResult<void> LocalCopyImap::Connect(const QString &host)
{
    host_ = host;
    connected_ = true;
    signedIn_ = false;
    unselect();
    return done();
}

ImapResult<QString> LocalCopyImap::SendRawCommand(const QString &)
{
    return fail(ImapFailure::BadRequest, QStringLiteral("working from the local mail copy: no server to ask"));
}

ImapResult<void> LocalCopyImap::Login(const QString &user, const QString &)
{
    if (!connected_)
        return fail(ImapFailure::NotConnected, QStringLiteral("not connected"));
    user_ = user;
    signedIn_ = true;
    return done();
}

ImapResult<void> LocalCopyImap::LoginWithToken(const QString &user, const QString &token)
{
    return Login(user, token);
}

ImapResult<MailCache *> LocalCopyImap::copy()
{
    if (!signedIn_)
        return fail(ImapFailure::NotConnected, QStringLiteral("not signed in"));
    if (!cache_) {
        auto opened = std::make_unique<MailCache>(settings_.folder);
        const MailCache::Opened result = opened->open();
        if (!result.ok)
            return fail(ImapFailure::NotKept, QStringLiteral("The local mail copy cannot be read: ") + result.error);
        warning_ = result.warning;
        cache_ = std::move(opened);
    }
    return cache_.get();
}

MailCacheKey LocalCopyImap::key(const QString &folder) const
{
    return mailCacheKey(user_, host_, port_, folder);
}

ImapResult<MailboxList> LocalCopyImap::ListMailboxes(const QString &, const QString &)
{
    const ImapResult<MailCache *> kept = copy();
    if (!kept)
        return kept.fault();
    const MailCacheKey k = key(QString());
    QList<MailboxInfo> boxes;
    for (const QString &name : (*kept)->completeFolders(k.account, k.server)) {
        MailboxInfo box;
        box.name = name;
        box.delimiter = QStringLiteral("/");
        boxes << box;
    }
    return ok(MailboxList(boxes));
}

ImapResult<MailboxStatus> LocalCopyImap::SelectMailbox(const QString &mailbox)
{
    unselect();
    const ImapResult<MailCache *> kept = copy();
    if (!kept)
        return kept.fault();
    MailCacheKey k = key(mailbox);
    std::optional<MailCache::FolderState> state = (*kept)->lastFolderState(k);
    if (!state) {
        // A file set aside as damaged on the way is why nothing is found.
        QString text;
        for (const QString &w : {std::exchange(warning_, QString()), (*kept)->takeWarning()})
            if (!w.isEmpty())
                text += w + QLatin1Char('\r');
        return fail(
            ImapFailure::NotKept,
            text
                + QStringLiteral("The local mail copy has no complete read of %1.\rRead the folder from the server "
                                 "once first; later runs can then work from the copy.")
                      .arg(where(mailbox)));
    }
    MailboxStatus status;
    status.exists = state->exists;
    status.uidValidity = k.uidValidity;
    status.uidNext = state->uidNext;
    selected_ = status;
    selectedName_ = mailbox;
    selectedUids_ = std::move(state->uids);
    return ok(status);
}

std::optional<MailboxStatus> LocalCopyImap::untouchedSelection(const QString &mailbox) const
{
    if (selected_ && mailbox == selectedName_)
        return selected_;
    return std::nullopt;
}

ImapResult<MailRecord> LocalCopyImap::FetchSingle(int number, bool bUid)
{
    if (!selected_)
        return fail(ImapFailure::NotSelected, QStringLiteral("no folder is selected"));
    const QString which = bUid ? QStringLiteral("UID %1").arg(number) : QStringLiteral("message %1").arg(number);
    quint32 uid = 0;
    if (bUid && number > 0 && selectedUids_.contains(quint32(number)))
        uid = quint32(number);
    else if (!bUid && number >= 1 && number <= selectedUids_.size())
        uid = selectedUids_.at(number - 1);
    if (uid == 0)
        return fail(ImapFailure::NoMessage,
                    QStringLiteral("%1 is not in %2 as the local mail copy has it").arg(which, where(selectedName_)));
    const ImapResult<MailCache *> kept = copy();
    if (!kept)
        return kept.fault();
    MailCacheKey k = key(selectedName_);
    k.uidValidity = selected_->uidValidity;
    const CacheContent need = contentOf(needs_);
    MailCache::Reader reader = (*kept)->read(k, UidSet::of({uid}), need);
    std::optional<MailCache::Reader::Entry> entry = reader.next();
    if (!entry || !entry->record)
        return fail(ImapFailure::NoMessage,
                    QStringLiteral("the local mail copy does not keep %1 of %2 with what is asked for")
                        .arg(which, where(selectedName_)));
    MailRecord record = std::move(*entry->record);
    leaveOutBeyond(record, need);
    record.uid = uid;
    record.uidValidity = selected_->uidValidity;
    return ok(std::move(record));
}

ImapResult<UidSet> LocalCopyImap::searchUids(const SearchFilter &)
{
    return fail(ImapFailure::NotKept,
                QStringLiteral("Working from the local mail copy, the server cannot select messages: "
                               "run without a filter."));
}

ImapResult<void> LocalCopyImap::startUidWalk(const UidSet &uids, UidWalkOptions)
{
    if (uids.isEmpty())
        return done();
    const qint64 all = selected_ ? selected_->exists : uids.size();
    return fail(ImapFailure::NotKept,
                QStringLiteral("The local mail copy lacks %1 of the %2 messages of %3 as this run needs them.\r"
                               "Read the folder from the server once with these settings first; later runs can "
                               "then work from the copy.")
                    .arg(uids.size())
                    .arg(all)
                    .arg(where(selectedName_)));
}

ImapResult<void> LocalCopyImap::Disconnect()
{
    connected_ = signedIn_ = false;
    unselect();
    return done();
}

}  // namespace vc
