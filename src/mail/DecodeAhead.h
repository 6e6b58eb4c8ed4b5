#pragma once
#include "mail/MimeDecode.h"

#include <QByteArray>
#include <QFuture>
#include <QThreadPool>

#include <map>
#include <memory>
#include <optional>

namespace vc {

// Decodes fetched messages on worker threads while the connection goes on
// streaming, so that a walk mostly finds the message it asks for decoded
// already. The client drives it from its own thread: start() a message that
// has fully arrived ahead of the caller, take() it when the caller asks for it.
// The result is the one decodeMessage() gives on the caller's thread.
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

    // What the messages started from now on are decoded with; those decoded
    // with other needs are forgotten.
    void setNeeds(const DecodeNeeds &needs);

    void setLimit(qint64 bytes) { limit_ = qMax<qint64>(1, bytes); }
    qint64 limit() const { return limit_; }

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
        QFuture<MailRecord> result;
        QByteArray raw;  // held, so its bytes stay where they are
    };
    std::map<int, Job> jobs_;
    qint64 bytes_ = 0;
    qint64 handedOut_ = 0;
    qint64 limit_;
    std::shared_ptr<const DecodeNeeds> needs_;
    QThreadPool pool_;
};

}  // namespace vc
