// The folder walk through the local mail copy: the folder's UIDs in one
// search, the messages kept on disk taken from there, the others fetched in
// one UID walk and handed to the copy to keep.
#include "extract/FolderWalk.h"

#include "extract/SignInStep.h"
#include "mail/ImapComponent.h"
#include "mail/MimeDecode.h"

#include <climits>

namespace vc {

FolderWalk::CacheStart FolderWalk::beginCachedWalk(WalkOutcome &out, qint64 &last)
{
    // A component that hands out records it did not decode itself says
    // nothing of what they hold: nothing of it is kept.
    const DecodeNeeds *needs = imap().decodeNeeds();
    if (!needs)
        return CacheStart::NotUsed;
    MailCacheKey key = cacheKey_;
    key.uidValidity = stats_.uidValidity;
    auto cache = std::make_unique<WalkCache>(cacheSettings_, key, *needs);
    if (!cache->open()) {
        stats_.cache = cache->finish();
        return CacheStart::NotUsed;
    }
    // Unfiltered, a folder whose select shows what it showed when its last
    // complete walk began holds the UIDs that walk found: no search.
    std::optional<UidSet> unchanged;
    if (filter_.isEmpty())
        unchanged = cache->unchangedFolder(selected_.exists, selected_.uidNext);
    ImapResult<UidSet> uids = unchanged ? ImapResult<UidSet>(std::move(*unchanged)) : imap().searchUids(filter_);
    if (!cache->figures().unchanged)
        exchanged();
    if (!uids) {
        stats_.cache = cache->finish();
        if (filter_.isEmpty())
            return CacheStart::NotUsed;  // it cannot search: the walk by number reads the folder
        out.end = WalkOutcome::End::SelectFailed;
        out.failure = signIn_.faultOf(RunStage::Search, uids.fault());
        return CacheStart::Failed;
    }
    // Unfiltered, the search answer is the whole folder: what the copy keeps
    // beyond it was expunged.
    cache->plan(*uids, filter_.isEmpty());
    if (!cache->toFetch().isEmpty()) {
        if (ImapResult<void> started = imap().startUidWalk(cache->toFetch()); !started) {
            stats_.cache = cache->finish();
            out.end = WalkOutcome::End::SelectFailed;
            out.failure = signIn_.faultOf(RunStage::Select, started.fault());
            return CacheStart::Failed;
        }
    }
    walkUids_ = *uids;
    last = uids->size();
    byUid_ = true;
    stats_.byUid = true;
    cache_ = std::move(cache);
    return CacheStart::Started;
}

ImapResult<MailRecord> FolderWalk::fetchThroughCache(qint64 n)
{
    const quint32 uid = walkUids_.at(n - 1);
    if (std::optional<MailRecord> kept = cache_->take(uid)) {
        fromDisk_ = true;
        return std::move(*kept);
    }
    fromDisk_ = false;
    const qint64 at = cache_->toFetch().indexOf(uid);
    ImapResult<MailRecord> fetched = ImapFault{ImapFailure::NoMessage, QString()};
    if (at >= 0)
        fetched = imap().fetchUidWalk(at + 1);
    else if (uid <= quint32(INT_MAX))
        fetched = imap().FetchSingle(int(uid), true);  // kept, but it could not be read back
    if (fetched) {
        fetched->uid = uid;
        fetched->uidValidity = stats_.uidValidity;
        cache_->keep(*fetched);
    }
    return fetched;
}

}  // namespace vc
