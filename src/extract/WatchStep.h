#pragma once
#include "extract/FolderWalk.h"
#include "mail/ImapComponent.h"
#include "mail/ImapSearch.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace vc {

class SignInStep;

// Whether a run goes on watching its folder once the walk is over, and how.
struct WatchRequest {
    bool on = false;
    // Where the server has no IDLE: a NOOP this often.
    int pollSeconds = 60;
    // Ends the watch once this many new messages have been delivered (0: no limit).
    qint64 exitAfter = 0;
    // Ends the watch this long after it began (0: no limit).
    qint64 timeoutSeconds = 0;
    // An IDLE is left and issued afresh this often (servers drop one that
    // lasts 30 minutes).
    int idlePeriodMs = 25 * 60 * 1000;
    // The pause before the first reconnect attempt; it doubles with each
    // attempt that fails, up to the longest.
    int firstPauseMs = 1000;
    int longestPauseMs = 5 * 60 * 1000;
};

// What a watch tells its host while it goes on.
struct WatchEvent {
    enum Kind {
        Started,         // waiting for new mail; `text` says how
        Lost,            // a failure of a kind not seen since the watch last had a connection
        Restored,        // signed in and the folder selected again after a loss
        FolderReplaced,  // the folder came back under another UIDVALIDITY: it is read whole once more
        Ended,           // `text` says why
    };
    Kind kind = Started;
    QString text;
    QString folder;        // the folder watched
    qint64 delivered = 0;  // new messages delivered so far
};

// How a watch ended and what it did.
struct WatchStats {
    enum class End { Stopped, ExitAfter, TimedOut };
    bool ran = false;
    End end = End::Stopped;
    qint64 delivered = 0;  // new messages delivered
    int reconnects = 0;    // successful reconnects
    int folderReplaced = 0;
    quint32 highestUid = 0;  // the highest UID delivered when it ended
};

// Watching one folder for new mail after the walk: waits with IDLE where the
// server offers it (issued afresh every idlePeriodMs) and NOOP every
// pollSeconds where not; after every change, and once at the start, the
// messages above the highest UID delivered so far that the filter selects are
// fetched and delivered one by one in UID order. A lost connection, a server
// that restarts or a sign-in that is refused are waited out for as long as it
// takes, with a growing pause, and the highest UID delivered makes sure that
// no message is skipped or delivered twice across reconnects. A folder that
// comes back under another UIDVALIDITY is taken whole once more.
//
// It ends when `stopping` answers true (after the message in hand), after
// exitAfter messages, or at timeoutSeconds. Nothing is shown: the events go to
// `onEvent` and the messages to the observers, as a walk's do.
class WatchStep {
public:
    WatchStep(SignInStep &signIn, QString folder, QList<WalkObserver *> observers, std::function<bool()> stopping,
              std::function<void(const WatchEvent &)> onEvent);

    // Which messages are delivered (all when empty), as for the walk.
    void setFilter(SearchFilter filter) { filter_ = std::move(filter); }
    // Watches from `highestUid` on (0: every message the folder holds), the
    // folder known under `uidValidity` (0: as the server says now).
    WatchStats run(const WatchRequest &request, quint32 highestUid, quint32 uidValidity);

    // The search for the messages above `uid` that `filter` selects
    // ("UID uid+1:*" after the filter's own keys, those in parentheses).
    static SearchFilter newMailFilter(const SearchFilter &filter, quint32 uid);
    // The pause before reconnect attempt `attempt` (from 1).
    static qint64 pauseMs(const WatchRequest &request, int attempt);

private:
    enum class Step { Ok, Lost, Over };
    Step catchUp();
    Step fetchNew(const UidSet &uids);
    Step wait();
    // Signs in and selects the folder again, for as long as it takes; false
    // when the watch is over meanwhile.
    bool reconnect();
    bool pause(qint64 ms);
    void lost(const QString &kind, const QString &text);
    void tell(WatchEvent::Kind kind, const QString &text);
    void deliver(MailRecord &record);
    void exchanged();
    bool over();
    qint64 msLeft() const;
    ImapComponent &imap();

    SignInStep &signIn_;
    QPointer<ImapComponent> imap_;
    QString folder_;
    QList<WalkObserver *> observers_;
    std::function<bool()> stopping_;
    std::function<void(const WatchEvent &)> onEvent_;
    SearchFilter filter_;
    WatchRequest request_;
    WatchStats stats_;
    quint32 validity_ = 0;
    QElapsedTimer clock_;
    bool timedOut_ = false;
    QString lastFailure_;      // the failure that lost the connection
    QSet<QString> toldKinds_;  // the kinds of failure told since the connection was lost
};

}  // namespace vc
