#pragma once
#include "extract/MailCache.h"
#include "extract/MailCacheWriter.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vc {

// Whether a walk keeps and reuses decoded messages in the local mail copy,
// where that is and how big it may grow. Off unless the host turns it on.
struct MailCacheSettings {
    bool on = false;
    QString folder;  // empty: the per-user cache folder
    qint64 sizeCap = MailCache::kDefaultSizeCap;
};

// True when VC_NO_CACHE is set (to anything but 0) in the environment: then
// neither program uses the local mail copy, whatever it was told.
bool mailCacheOffInEnvironment();

// The account and server the local mail copy keeps a folder's messages
// under: the account as it signs in, the server as "host:port" (host in lower
// case). The UIDVALIDITY is the select's to fill in.
MailCacheKey mailCacheKey(const QString &account, const QString &host, int port, const QString &folder = QString());

// A kept record as a decode for a run whose records hold `content` would have
// made it: what such a decode leaves out, left out.
void leaveOutBeyond(MailRecord &record, const CacheContent &content);

// What the local mail copy did for a walk.
struct CacheFigures {
    bool used = false;     // the walk went through the local copy
    qint64 fromDisk = 0;   // messages taken from it
    qint64 fetched = 0;    // messages the walk fetched and handed to it to keep
    qint64 dropped = 0;    // records of messages gone from the server, dropped
    bool unchanged = false;  // the folder was as its last complete walk found it: its UIDs came from the copy
    QStringList warnings;  // a file set aside, a copy that could not be used (each once)
};

// One walk's use of the local mail copy. The walk tells it the UIDs it is to
// deliver; it finds those kept with what the run's decoder makes (DecodeNeeds)
// and the walk fetches only the others, handing each fetched record back to be
// kept on a writer thread. A kept record serves a run only when it holds what
// the run needs and its body has attachment text exactly when the run's does;
// what it holds beyond the run's needs is left out, so a record comes out as a
// fresh decode for this run would.
class WalkCache {
public:
    WalkCache(const MailCacheSettings &settings, MailCacheKey key, const DecodeNeeds &needs);
    ~WalkCache();
    WalkCache(const WalkCache &) = delete;
    WalkCache &operator=(const WalkCache &) = delete;

    // False when the copy cannot be used (the walk then fetches everything
    // the way it would without one); warnings go to figures().
    bool open();

    // The walk delivers `uids` in ascending order. `wholeFolder`: they are all
    // the folder holds, so kept records of other UIDs (expunged messages) and
    // of another UIDVALIDITY of the folder are dropped.
    void plan(const UidSet &uids, bool wholeFolder);
    // The UIDs of the plan the walk must fetch.
    const UidSet &toFetch() const { return toFetch_; }

    // The kept record of `uid`, as the run's decoder would have made it; none
    // when it is to be fetched (not kept, or it could not be read back). Asked
    // in ascending UID order; asking again for the same UID gives none.
    std::optional<MailRecord> take(quint32 uid);
    // A fetched record (its uid field names it), queued to be kept.
    void keep(const MailRecord &record);

    // The folder's UIDs as its last complete walk found them, when its select
    // now shows the same EXISTS and UIDNEXT as then (under the key's
    // UIDVALIDITY); none otherwise, or when the server gave no UIDNEXT.
    std::optional<UidSet> unchangedFolder(qint64 exists, quint32 uidNext);
    // After a complete walk over the whole folder: what its select showed and
    // the UIDs it found, for the walks after it. A state that contradicts
    // itself (the count and the UIDs differ) is not kept.
    void noteFolderState(qint64 exists, quint32 uidNext, const UidSet &uids);

    // Waits until everything handed to keep() is written.
    const CacheFigures &finish();
    const CacheFigures &figures() const { return figures_; }

private:
    void noteWarning(const QString &text);

    MailCacheSettings settings_;
    MailCacheKey key_;
    CacheContent content_;  // what this run's records hold
    bool reusable_ = true;  // false: the run needs what is never kept (attachment bytes)
    MailCache reading_;
    std::optional<MailCache::Reader> reader_;
    std::optional<MailCache::Reader::Entry> pending_;
    UidSet kept_, toFetch_;
    std::unique_ptr<MailCacheWriter> writer_;
    CacheFigures figures_;
    bool finished_ = false;
};

}  // namespace vc
