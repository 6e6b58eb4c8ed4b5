#pragma once
#include "mail/ImapComponent.h"
#include "mail/MimeDecode.h"

#include <QByteArray>
#include <QThreadPool>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace vc {

// Decodes fetched messages on worker threads while the connection goes on
// streaming, so that a walk mostly finds the message it asks for decoded
// already. The client drives it from its own thread: start() a message that
// has fully arrived ahead of the caller, take() it when the caller asks for it.
// The result is the one decodeMessage() gives on the caller's thread for the
// same needs.
//
// The messages started wait in one queue that the workers drain: a worker
// takes the next message as soon as it is done with one, and only a queue
// that no worker serves wakes one up, so messages that arrive in a burst cost
// one hand-off between threads, not one each. A caller that asks for a message
// a worker is still decoding decodes the queued ones in the meantime, so both
// threads decode while the caller would otherwise wait.
//
// Bounded: the raw messages being decoded or decoded and not yet taken hold at
// most `limit` bytes (wants() says whether one more fits; one message always
// does, however big).
class DecodeAhead {
public:
    explicit DecodeAhead(qint64 limit = qint64(16) << 20);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    void setLimit(qint64 bytes) { limit_ = qMax<qint64>(1, bytes); }
    qint64 limit() const { return limit_; }
    // What the messages started from now on are decoded for; messages started
    // before are forgotten.
    void setNeeds(const DecodeNeeds &needs);
    const DecodeNeeds &needs() const { return needs_; }

    // Whether a raw message of `size` bytes may start now.
    bool wants(qint64 size) const { return jobs_.empty() || bytes_ + size <= limit_; }
    // Starts decoding message `number` (nothing when it is started already).
    void start(int number, const QByteArray &raw);
    bool started(int number) const { return jobs_.count(number) > 0; }
    // Message `number` decoded, waiting for its job when that is still running;
    // nothing when it was not started, or was started on other bytes than `raw`
    // (the very same bytes: a copy sharing them, as the read-ahead hands them on).
    std::optional<MailRecord> take(int number, const QByteArray &raw);
    // Forgets every message; jobs still running finish on their own.
    void clear();

    int messages() const { return int(jobs_.size()); }
    qint64 bytes() const { return bytes_; }
    // Messages take() has handed out so far.
    qint64 handedOut() const { return handedOut_; }

private:
    struct Job {
        QByteArray raw;  // held, so its bytes stay where they are
        DecodeNeeds needs;
        // Guarded by mutex_:
        enum State { Queued, Running, Done } state = Queued;
        std::optional<MailRecord> result;
    };
    // What the workers share with the caller's thread.
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::deque<std::shared_ptr<Job>> queue;
        int workers = 0;  // running the drain loop
    };
    static void drain(const std::shared_ptr<Shared> &shared);
    // Decodes the first queued message, without the lock while it does; false
    // when none is queued.
    static bool decodeNext(Shared &shared, std::unique_lock<std::mutex> &lock);

    std::map<int, std::shared_ptr<Job>> jobs_;  // started, not taken; the caller's thread only
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    int maxWorkers_ = 1;
    qint64 bytes_ = 0;
    qint64 handedOut_ = 0;
    qint64 limit_;
    DecodeNeeds needs_;
    QThreadPool pool_;
};

}  // namespace vc
