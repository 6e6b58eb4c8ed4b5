// The folder walk: sign-in, select, one fetch per message, each message
// delivered once to the observers.
#include "extract/FolderWalk.h"

#include "core/AppError.h"
#include "core/Yield.h"
#include "extract/RunFolders.h"
#include "extract/SignInStep.h"
#include "mail/ImapComponent.h"

#include <QScopeGuard>

namespace vc {

namespace {

// The special-use attribute of the folder that stands for one of the
// program's fixed folder names on accounts that name it differently.
QString specialUseFor(const QString &folderName)
{
    static const struct {
        const char16_t *name;
        const char16_t *flag;
    } map[] = {{u"Sent", u"\\Sent"},
               {u"Drafts", u"\\Drafts"},
               {u"Junk", u"\\Junk"},
               {u"Deleted", u"\\Trash"},
               // Gmail's folder of all mail, under another name in some countries
               {u"[Gmail]/All Mail", u"\\All"}};
    for (const auto &m : map) {
        if (folderName.compare(QString::fromUtf16(m.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(m.flag);
    }
    return {};
}

}  // namespace

QString progressText(qint64 current, qint64 total)
{
    return QStringLiteral("Reading mail %1 of %2").arg(current).arg(total);
}

ImapResult<MailboxStatus> selectFolder(ImapComponent &imap, const QString &folderName)
{
    ImapResult<MailboxStatus> selected = imap.SelectMailbox(folderName);
    const QString flag = selected ? QString() : specialUseFor(folderName);
    if (flag.isEmpty())
        return selected;
    const ImapResult<MailboxList> boxes = imap.ListMailboxes(QString(), QStringLiteral("*"));
    if (!boxes)
        return selected;
    for (int i = 0; i < boxes->Count(); ++i) {
        if (boxes->HasFlag(i, flag))
            return imap.SelectMailbox(boxes->GetName(i));
    }
    return selected;
}

FolderWalk::FolderWalk(SignInStep &signIn, QString folder, QList<WalkObserver *> observers,
                       std::function<bool()> stopping)
    : signIn_(signIn), imap_(&signIn.component()), folder_(std::move(folder)), observers_(std::move(observers)),
      stopping_(std::move(stopping))
{}

ImapComponent &FolderWalk::imap()
{
    if (!imap_)
        raise(err::ObjectNotSet);
    return *imap_;
}

bool FolderWalk::begin(WalkOutcome &out, bool mayReuse)
{
    reused_ = mayReuse && signIn_.stillSignedIn();
    if (!reused_) {
        if (StepResult<void> signedIn = signIn_.run(); !signedIn) {
            out.end = WalkOutcome::End::ConnectFailed;
            out.failure = signedIn.fault();
            return false;
        }
    }
    // On the connection it found signed in, the walk takes the answer of a
    // select of this folder (the run's count) that nothing has followed.
    std::optional<MailboxStatus> status;
    if (reused_)
        status = imap().untouchedSelection(folder_);
    if (!status) {
        const ImapResult<MailboxStatus> selected = selectFolder(imap(), folder_);
        if (!selected) {
            out.end = WalkOutcome::End::SelectFailed;
            out.failure = explainUnselectable(imap(), folder_, signIn_.faultOf(RunStage::Select, selected.fault()));
            return false;
        }
        status = *selected;
    }
    stats_.uidValidity = status->uidValidity;
    stats_.count = imap().NumMessages();
    selected_ = *status;
    selected_.exists = stats_.count;
    return true;
}

bool FolderWalk::beginUidWalk(WalkOutcome &out, qint64 &last)
{
    const ImapResult<UidSet> uids = imap().searchUids(filter_);
    exchanged();
    if (!uids) {
        out.end = WalkOutcome::End::SelectFailed;
        out.failure = signIn_.faultOf(RunStage::Search, uids.fault());
        return false;
    }
    const UidSet walked = filter_.uidAbove > 0 ? uids->above(filter_.uidAbove) : *uids;
    if (ImapResult<void> started = imap().startUidWalk(walked); !started) {
        out.end = WalkOutcome::End::SelectFailed;
        out.failure = signIn_.faultOf(RunStage::Select, started.fault());
        return false;
    }
    last = walked.size();
    stats_.byUid = true;
    return true;
}

ImapResult<MailRecord> FolderWalk::fetch(qint64 n)
{
    if (cache_)
        return fetchThroughCache(n);
    if (byUid_)
        return imap().fetchUidWalk(n);
    return imap().FetchSingle(int(n), false);
}

bool FolderWalk::start(WalkOutcome &out, qint64 &last, bool mayReuse)
{
    stats_ = WalkStats();
    cache_.reset();
    fromDisk_ = false;
    if (!begin(out, mayReuse))
        return false;
    // Only a filter (or only new mail) makes the walk go by UID: the server picks the messages
    // with UID SEARCH and the walk fetches those UIDs. Unfiltered, the folder's
    // messages are 1 to its count, so the walk goes by number: no search to
    // wait for first, and the walk by number reads ahead on the wire. A
    // component that cannot search fails the filtered walk rather than read
    // messages the filter leaves out.
    byUid_ = false;
    if (newMailAbove_) {
        if (const std::optional<quint32> above = newMailAbove_(stats_.uidValidity)) {
            filter_.uidAbove = *above;
            byUid_ = true;
        }
    }
    byUid_ = byUid_ || !filter_.isEmpty();
    const CacheStart cached = cacheSettings_.on ? beginCachedWalk(out, last) : CacheStart::NotUsed;
    if (cached == CacheStart::Failed)
        return false;
    if (cached == CacheStart::NotUsed && byUid_ && !beginUidWalk(out, last))
        return false;
    return true;
}

WalkOutcome FolderWalk::run(qint64 first, qint64 last)
{
    WalkOutcome out;
    qint64 end = last;
    bool started = start(out, end, true);
    // The connection the walk found signed in may have died since it was last
    // used: the walk then begins as it does without one, with a fresh sign-in.
    if (reused_ && !imap().isSignedIn()) {
        out = WalkOutcome();
        end = last;
        started = start(out, end, false);
    }
    if (!started)
        return out;
    last = end;
    const auto leave = qScopeGuard([this] {
        if (byUid_ && imap_)
            imap_->endUidWalk();
        cache_.reset();
    });
    // Both bounds are read once; a 64-bit counter keeps a last number of
    // INT_MAX from wrapping around.
    last_ = last;
    stats_.asked = qMax<qint64>(0, last - first + 1);
    out.end = WalkOutcome::End::Completed;
    for (qint64 n = first; n <= last; ++n) {
        yieldToEvents();
        current_ = n;
        out.lastVisited = n;
        ImapResult<MailRecord> email = fetch(n);
        if (!fromDisk_)
            exchanged();
        if (!email) {
            const Resume resume = afterFailedFetch(email.fault().kind, n);
            if (resume == Resume::End) {
                out.end = stopping_() ? WalkOutcome::End::Stopped : WalkOutcome::End::Broken;
                break;
            }
            if (resume == Resume::Again)
                --n;
            continue;
        }
        stats_.failedInRow = 0;
        if (stopping_()) {
            out.end = WalkOutcome::End::Stopped;
            break;
        }
        deliver(*email, n, first);
        yieldToEvents();
    }
    if (out.end == WalkOutcome::End::Completed && stopping_())
        out.end = WalkOutcome::End::Stopped;
    if (cache_) {
        cache_->finish();
        // The UIDs of a walk over the whole folder, for the walks after it.
        if (out.end == WalkOutcome::End::Completed && filter_.isEmpty() && !stats_.cache.unchanged)
            cache_->noteFolderState(selected_.exists, selected_.uidNext, walkUids_);
        stats_.cache = cache_->figures();
    }
    out.stats = stats_;
    return out;
}

void FolderWalk::deliver(MailRecord &record, qint64 n, qint64 first)
{
    ++stats_.read;
    record.uID = int(n);
    record.folder = folder_;
    record.uidValidity = stats_.uidValidity;
    record.position = n - first + 1;
    record.total = stats_.asked;
    for (WalkObserver *o : observers_)
        o->arriving(record);
    for (WalkObserver *o : observers_)
        o->delivered(record);
}

void FolderWalk::exchanged()
{
    const QString text = imap().LastErrorText();
    for (WalkObserver *o : observers_)
        o->exchanged(text);
}

void FolderWalk::percentDone(int percent)
{
    if (current_ == 0)
        return;  // not fetching yet
    const RunProgress p{percent, int(current_), int(last_), progressText(current_, last_)};
    for (WalkObserver *o : observers_)
        o->progress(p);
}

}  // namespace vc
