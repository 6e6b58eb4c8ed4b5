#pragma once
#include "mail/ImapFailure.h"

#include <QByteArray>

#include <climits>
#include <deque>
#include <functional>
#include <map>
#include <optional>

namespace vc {

// The read-ahead of an ascending walk over a folder, without the socket: which
// message ranges to ask the server for next, what came back, and what to hand
// out in order. Once a caller has fetched n and then n + 1, the client asks for
// the following messages in pipelined ranges.
//
// How much is asked for follows the link: the pipe is kept full by bytes. The
// planner watches the round trip (the shortest time from a range asked for on
// an idle line to its first message, or a message fetched on its own) and the
// throughput (bytes received per second of transfer: from the first message of
// such a range on, while answers were on their way), and keeps at least half
// of its target on the way, the target being three times throughput x round
// trip (never below kMinTarget; kMinTarget until both are known). A range is asked
// for once half the target has come in, and brings about the other half, so
// long links get large ranges and short ones small ranges. Two limits hold
// whatever the link: at most `window` messages ahead of the caller, and nothing
// more asked for while the received but not yet taken messages plus those on
// their way (at the sizes seen so far) reach `budget` bytes.
//
// The client drives it: continuesWalk()/enter() when a fetch comes,
// nextRange()/requested() to ask for more, arrived()/answered() for what the
// server sends, take() to hand a message out, keep()/takeKept() when the line
// is lost, forget()/reset() when the walk or the connection ends.
class ReadAheadPlanner {
public:
    struct Range {
        int first = 0;
        int last = 0;
    };
    // Microseconds from any fixed point; the default is a monotonic clock.
    using Clock = std::function<qint64()>;

    static constexpr int kDefaultWindow = 10000;
    static constexpr qint64 kDefaultBudget = qint64(32) << 20;
    static constexpr qint64 kMinTarget = qint64(1) << 20;

    ReadAheadPlanner();

    // Most messages asked for ahead of the caller; 0 or 1 turns read-ahead off.
    void setWindow(int messages) { window_ = qMax(0, messages); }
    int window() const { return window_; }
    void setBudget(qint64 bytes) { budget_ = qMax<qint64>(1, bytes); }
    qint64 budget() const { return budget_; }
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // What it has seen of the link (0: not known yet) and the bytes it aims to
    // keep on the way.
    qint64 roundTripUs() const { return roundTripUs_; }
    qint64 bytesPerSecond() const;
    qint64 target() const;

    // --- The walk.
    // Whether a fetch of message `number` (by sequence number) continues the walk.
    bool continuesWalk(int number, int exists) const;
    // The caller fetches `number` within the walk: starts the walk there when it
    // had not started, and drops what lies below it.
    void enter(int number);
    // The next range to ask for to keep the window ahead of `from` filled;
    // nothing when none is due. Once sent, tell requested().
    std::optional<Range> nextRange(int from, int exists) const;
    void requested(const QByteArray &tag, Range range);
    // The caller moves past `number`: its body when it arrived (then it is no
    // longer held), else nothing and the caller asks for it on its own.
    std::optional<QByteArray> take(int number);
    // A message fetched on its own: `number` by sequence number (0: by UID),
    // and, when it came, its size (for the average that sizes the ranges) and
    // how long the fetch took (a first guess at the round trip; -1: not timed).
    void fetchedAlone(int number) { lastFetched_ = number; }
    void measured(qint64 bytes, qint64 elapsedUs = -1);

    // --- What the server sends.
    // A FETCH response for `number` with its body (nullptr: none in it); false
    // when no range asked for that number.
    bool arrived(qint64 number, QByteArray *body);
    // A tagged answer; false when it does not answer a range. Whatever its
    // status, numbers the range did not bring are later asked for one by one.
    bool answered(const QByteArray &tag);
    bool inFlight(qint64 number) const;
    bool has(int number) const { return bodies_.count(number) > 0; }
    // A received message not yet taken, or nullptr; the number the walk takes next.
    const QByteArray *held(int number) const;
    int nextNumber() const { return next_ == kDraining ? 0 : next_; }
    bool rangesOutstanding() const { return !ranges_.empty(); }

    // --- Leaving the walk.
    // Forgets what arrived and ends the walk; ranges on their way stay tracked.
    void forget();
    // forget(), and file nothing more: the caller waits for the ranges to be answered.
    void drain();
    // The connection is gone: nothing is on its way any more.
    void reset();

    // --- A lost connection. The walk still gets the messages that had fully
    // arrived (below `failedAt`, when that is above 0), in order, then `loss`.
    void keep(const ImapFault &loss, qint64 failedAt);
    bool keeps(int number) const { return kept_.next > 0 && number == kept_.next; }
    // The kept message `number`; when it is not there, nothing, `loss` says
    // why and nothing is kept any more.
    std::optional<QByteArray> takeKept(int number, ImapFault &loss);
    void dropKept() { kept_ = Kept(); }

    // What is held now: messages received and not yet taken, and their bytes.
    int messages() const { return int(bodies_.size()); }
    qint64 bytes() const { return bytes_; }

private:
    struct SentRange {
        QByteArray tag;
        int first = 0;
        int last = 0;
        qint64 sentAtUs = 0;
        bool timesRoundTrip = false;  // asked for on an idle line, nothing of it arrived yet
    };
    struct Kept {
        std::map<int, QByteArray> bodies;
        int next = 0;  // 0: nothing kept
        ImapFault loss;
    };
    static constexpr int kDraining = INT_MAX;

    void noteArrival(qint64 number, qint64 bytes);

    int window_ = kDefaultWindow;
    qint64 budget_ = kDefaultBudget;
    Clock clock_;

    // The link, as seen while answers were on their way.
    qint64 roundTripUs_ = 0;  // shortest seen; 0: none yet
    qint64 busyUs_ = 0;       // time with something on its way...
    qint64 busyBytes_ = 0;    // ...and the bytes that came in it
    qint64 markUs_ = 0;       // the last arrival

    std::deque<SentRange> ranges_;      // in the order sent
    std::map<int, QByteArray> bodies_;  // received, not yet taken: raw messages by number
    qint64 bytes_ = 0;                  // their total size
    int next_ = 0;                      // the number the caller should ask for next; 0: no walk
    int sentUpTo_ = 0;                  // highest number asked for
    int arrivedUpTo_ = 0;               // highest number received
    qint64 arrivedBytes_ = 0;           // all bytes received, for the average size
    int arrivedCount_ = 0;
    int lastFetched_ = 0;  // the sequence number fetched last; 0 after anything else
    Kept kept_;
};

}  // namespace vc
