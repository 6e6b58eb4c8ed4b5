#pragma once
#include "core/MailRecord.h"
#include "extract/StepFault.h"
#include "extract/WalkCache.h"
#include "mail/ImapComponent.h"
#include "mail/ImapResponses.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vc {

class SignInStep;

// Where a walk stands while a message is fetched.
struct RunProgress {
    int percent = 0;  // the component's percentage of the current fetch
    int current = 0;  // the message being fetched
    int total = 0;    // the last message of the walk
    QString text;     // "Reading mail n of m"
};

// "Reading mail n of m": the message being read and the last one of the walk.
QString progressText(qint64 current, qint64 total);

// What a walk tells as it goes, in this order for each message: the exchange
// with the server (its record), the progress of the fetch, the message.
class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    // The walk asked the server something (a fetch, a reconnect, the count
    // again); `lastError` is the component's last-error text after it.
    virtual void exchanged(const QString &lastError) {}
    virtual void progress(const RunProgress &progress) {}
    // One message about to be delivered, source fields filled in: the one
    // chance to change it (the run saves and drops held attachment bytes).
    virtual void arriving(MailRecord &record) {}
    // One message, delivered once: source fields, position and total filled in.
    virtual void delivered(const MailRecord &record) {}
};

// What a walk did.
struct WalkStats {
    qint64 asked = 0;            // messages from the first number to the last
    qint64 read = 0;             // messages delivered
    int reconnects = 0;          // reconnect attempts made
    bool folderChanged = false;  // a reconnect found another UIDVALIDITY or fewer messages
    QString endReason;           // why the walk ended before its last message
    bool byUid = false;          // the walk went by UID
    int failedInRow = 0;         // fetches in a row that found no message
    quint32 uidValidity = 0;
    int count = 0;       // the folder's message count when the walk began
    QString logPath;     // where the fetch log went
    CacheFigures cache;  // what the local mail copy did (nothing when it was off)
    qint64 unread() const { return asked - read; }
};

// How a walk ended.
struct WalkOutcome {
    enum class End { Completed, Stopped, ConnectFailed, SelectFailed, Broken };
    End end = End::Completed;
    WalkStats stats;
    std::optional<StepFault> failure;  // ConnectFailed, SelectFailed
    qint64 lastVisited = 0;            // the number of the last message asked for
};

// Selects `folderName`, or, when the server refuses that name, the folder that
// carries the special-use attribute (RFC 6154) standing for it: "\Sent" for
// Sent, "\Drafts", "\Junk", "\Trash" for Deleted, "\All" for [Gmail]/All Mail. The first folder with the
// attribute is taken. A name without a stand-in fails with its own answer.
ImapResult<MailboxStatus> selectFolder(ImapComponent &imap, const QString &folderName);

// One walk over messages `first` to `last` of a folder: a sign-in (none when
// the connection is still signed in), the folder selected, then one fetch per message in ascending order. With a
// filter, the server selects the messages first (UID SEARCH) and the walk
// fetches those by UID, in ascending order, `first` to the last of them;
// without one it fetches messages `first` to `last` by number. A fetch that
// fails is retried on a new connection when the line was lost (at most
// kMaxReconnects times per walk), skipped when the message broke the stream,
// and the walk ends with a reason when nothing more can come.
class FolderWalk {
public:
    static constexpr int kMaxReconnects = 3;

    // `stopping` is asked after every fetch; true ends the walk (the message in
    // hand is not delivered). The observers hear of everything, in list order.
    FolderWalk(SignInStep &signIn, QString folder, QList<WalkObserver *> observers, std::function<bool()> stopping);

    // Before the k-th reconnect the walk pauses firstPauseMs * 2^(k-1).
    void setReconnectPauseMs(int firstPauseMs) { reconnectPauseMs_ = firstPauseMs; }
    // Which messages the server is to select for the walk; empty: all of them.
    void setFilter(SearchFilter filter) { filter_ = std::move(filter); }
    // Only new mail: asked with the folder's UIDVALIDITY once it is selected;
    // a UID makes the walk go by UID over the messages above it (0: all of
    // them), nothing leaves the walk as it is.
    void setNewMailAbove(std::function<std::optional<quint32>(quint32 uidValidity)> above)
    {
        newMailAbove_ = std::move(above);
    }
    // With `settings.on` the walk goes by UID, takes the messages the local
    // mail copy keeps for `key` (its UIDVALIDITY is the folder's, filled in
    // at the select) from disk and fetches only the others (FolderWalkCache.cpp).
    void setCache(MailCacheSettings settings, MailCacheKey key)
    {
        cacheSettings_ = std::move(settings);
        cacheKey_ = std::move(key);
    }
    WalkOutcome run(qint64 first, qint64 last);
    // The component's percentage of the fetch in hand.
    void percentDone(int percent);

private:
    enum class Resume { Next, Again, End };  // after a failed fetch
    // Sign-in (unless `mayReuse` and the step's connection is still signed
    // in) and select; false with the failure set.
    bool begin(WalkOutcome &out, bool mayReuse);
    // begin(), then the search the walk needs; false with the failure set.
    bool start(WalkOutcome &out, qint64 &last, bool mayReuse);
    // UID SEARCH and the start of the UID walk; false with the failure set.
    bool beginUidWalk(WalkOutcome &out, qint64 &last);
    ImapResult<MailRecord> fetch(qint64 n);
    enum class CacheStart { Started, NotUsed, Failed };
    CacheStart beginCachedWalk(WalkOutcome &out, qint64 &last);
    ImapResult<MailRecord> fetchThroughCache(qint64 n);
    void deliver(MailRecord &record, qint64 n, qint64 first);
    void exchanged();
    Resume afterFailedFetch(ImapFailure kind, qint64 n);  // WalkRecovery.cpp
    bool reconnect(const QString &why);
    bool pauseBeforeReconnect(int attempt);
    Resume recount(qint64 n);

    // The component, which must not go away during the walk: AppError
    // "Object variable ... not set" if it does.
    ImapComponent &imap();

    SignInStep &signIn_;
    QPointer<ImapComponent> imap_;
    QString folder_;
    QList<WalkObserver *> observers_;
    std::function<bool()> stopping_;
    int reconnectPauseMs_ = 1000;
    SearchFilter filter_;
    std::function<std::optional<quint32>(quint32)> newMailAbove_;
    bool reused_ = false;  // the walk went on on the connection it found signed in
    bool byUid_ = false;   // this walk goes by UID
    WalkStats stats_;
    MailboxStatus selected_;  // what the select showed (EXISTS as the walk began)
    qint64 current_ = 0, last_ = 0;
    MailCacheSettings cacheSettings_;
    MailCacheKey cacheKey_;
    std::unique_ptr<WalkCache> cache_;  // while a walk goes through the local copy
    UidSet walkUids_;                   // that walk's UIDs, by position
    bool fromDisk_ = false;             // the message in hand came from the local copy
};

}  // namespace vc
