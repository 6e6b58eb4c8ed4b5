#include "extract/LocalCopyImap.h"

namespace vc {

LocalCopyImap::LocalCopyImap(MailCacheSettings settings, QObject *parent)
    : ImapComponent(parent), settings_(std::move(settings))
{}

template <class T>
ImapResult<T> LocalCopyImap::fail(ImapFailure kind, const QString &text)
{
    lastError_ = text;
    return ImapFault{kind, text};
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
    selected_.reset();
    return done();
}

ImapResult<QString> LocalCopyImap::SendRawCommand(const QString &)
{
    return fail<QString>(ImapFailure::BadRequest, QStringLiteral("working from the local mail copy: no server to ask"));
}

ImapResult<void> LocalCopyImap::Login(const QString &user, const QString &)
{
    if (!connected_) {
        lastError_ = QStringLiteral("not connected");
        return ImapFault{ImapFailure::NotConnected, lastError_};
    }
    user_ = user;
    signedIn_ = true;
    return done();
}

ImapResult<void> LocalCopyImap::LoginWithToken(const QString &user, const QString &token)
{
    return Login(user, token);
}

ImapResult<MailboxList> LocalCopyImap::ListMailboxes(const QString &, const QString &)
{
    return fail<MailboxList>(ImapFailure::BadRequest,
                             QStringLiteral("working from the local mail copy: the server's folders are not known"));
}

ImapResult<MailboxStatus> LocalCopyImap::SelectMailbox(const QString &mailbox)
{
    selected_.reset();
    selectedName_.clear();
    if (!signedIn_) {
        lastError_ = QStringLiteral("not signed in");
        return ImapFault{ImapFailure::NotConnected, lastError_};
    }
    MailCache cache(settings_.folder);
    const MailCache::Opened opened = cache.open();
    if (!opened.ok)
        return fail<MailboxStatus>(ImapFailure::NotKept,
                                   QStringLiteral("The local mail copy cannot be read: ") + opened.error);
    MailCacheKey key = mailCacheKey(user_, host_, port_, mailbox);
    const std::optional<MailCache::FolderState> state = cache.lastFolderState(key);
    if (!state) {
        // A file set aside as damaged on the way is why nothing is found.
        QString text = opened.warning.isEmpty() ? QString() : opened.warning + QLatin1Char('\r');
        QString taken = cache.takeWarning();
        if (!taken.isEmpty())
            text += taken + QLatin1Char('\r');
        return fail<MailboxStatus>(
            ImapFailure::NotKept,
            text
                + QStringLiteral("The local mail copy has no complete read of %1.\rRead the folder from the server "
                                 "once first; later runs can then work from the copy.")
                      .arg(where(mailbox)));
    }
    MailboxStatus status;
    status.exists = state->exists;
    status.uidValidity = key.uidValidity;
    status.uidNext = state->uidNext;
    selected_ = status;
    selectedName_ = mailbox;
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
    return fail<MailRecord>(ImapFailure::NoMessage,
                            QStringLiteral("message %1%2 could not be read back from the local mail copy")
                                .arg(bUid ? QStringLiteral("UID ") : QString())
                                .arg(number));
}

ImapResult<UidSet> LocalCopyImap::searchUids(const SearchFilter &)
{
    return fail<UidSet>(ImapFailure::NotKept,
                        QStringLiteral("Working from the local mail copy, the server cannot select messages: "
                                       "run without a filter."));
}

ImapResult<void> LocalCopyImap::startUidWalk(const UidSet &uids, UidWalkOptions)
{
    if (uids.isEmpty())
        return done();
    const qint64 all = selected_ ? selected_->exists : uids.size();
    lastError_ = QStringLiteral("The local mail copy lacks %1 of the %2 messages of %3 as this run needs them.\r"
                                "Read the folder from the server once with these settings first; later runs "
                                "can then work from the copy.")
                     .arg(uids.size())
                     .arg(all)
                     .arg(where(selectedName_));
    return ImapFault{ImapFailure::NotKept, lastError_};
}

ImapResult<void> LocalCopyImap::Disconnect()
{
    connected_ = signedIn_ = false;
    selected_.reset();
    return done();
}

}  // namespace vc
