#include "mail/ReadAheadPlanner.h"

#include <QElapsedTimer>

namespace vc {

namespace {

// Throughput is judged on the last few seconds of traffic: older time and
// bytes count half each time this much busy time has gathered.
constexpr qint64 kRateHorizonUs = 2'000'000;
// Below this much busy time there is no throughput to speak of yet.
constexpr qint64 kRateMinUs = 2'000;
// Bytes kept on the way, in round trips' worth of throughput.
constexpr qint64 kTargetRoundTrips = 3;

qint64 monotonicUs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed() / 1000;
}

}  // namespace

ReadAheadPlanner::ReadAheadPlanner() : clock_(monotonicUs) {}

qint64 ReadAheadPlanner::bytesPerSecond() const
{
    if (busyUs_ < kRateMinUs)
        return 0;
    return qint64(double(busyBytes_) * 1e6 / double(busyUs_));
}

qint64 ReadAheadPlanner::target() const
{
    const qint64 rate = bytesPerSecond();
    qint64 t = kMinTarget;
    if (rate > 0 && roundTripUs_ > 0)
        t = qMax(t, qint64(double(kTargetRoundTrips) * double(rate) * double(roundTripUs_) / 1e6));
    return qMin(t, budget_);
}

bool ReadAheadPlanner::continuesWalk(int number, int exists) const
{
    if (window_ <= 1 || number > exists)
        return false;
    return next_ > 0 ? number == next_ : lastFetched_ > 0 && number == lastFetched_ + 1;
}

void ReadAheadPlanner::enter(int number)
{
    if (next_ == 0) {
        next_ = number;
        sentUpTo_ = qMax(sentUpTo_, number - 1);
    }
    // Whatever lies below the number is of no more use.
    while (!bodies_.empty() && bodies_.begin()->first < number) {
        bytes_ -= bodies_.begin()->second.size();
        bodies_.erase(bodies_.begin());
    }
}

std::optional<ReadAheadPlanner::Range> ReadAheadPlanner::nextRange(int from, int exists) const
{
    if (window_ <= 1 || next_ == 0)
        return std::nullopt;
    const int limit = int(qMin<qint64>(qint64(from) + window_ - 1, exists));
    if (sentUpTo_ >= limit)
        return std::nullopt;
    const int chunk = qMax(1, window_ / 2);
    const qint64 average = arrivedCount_ > 0 ? arrivedBytes_ / arrivedCount_ : 0;
    const bool needed = sentUpTo_ < from;  // the caller waits for it: always ask
    // Received bytes plus what is on its way, at the sizes seen so far.
    const qint64 onItsWay = qint64(qMax(0, sentUpTo_ - qMax(arrivedUpTo_, from - 1))) * average;
    const qint64 aim = target();
    if (!needed) {
        if (bytes_ + onItsWay >= budget_)
            return std::nullopt;
        // More than half the target still on its way: the pipe is full enough.
        if (average > 0 && onItsWay > aim / 2)
            return std::nullopt;
        // A range of half the window once half of it has been taken, or the tail.
        if (limit - sentUpTo_ < chunk && limit < exists)
            return std::nullopt;
    }
    int last = qMin(sentUpTo_ + chunk, limit);
    if (average > 0) {
        // Up to the target on the way, within the budget: fewer of bigger messages.
        const qint64 room = qMin(aim - onItsWay, budget_ - bytes_ - onItsWay);
        last = int(qMin<qint64>(last, qint64(sentUpTo_) + qMax<qint64>(1, room / average)));
    }
    const int first = sentUpTo_ + 1;
    return Range{first, qMax(first, last)};
}

void ReadAheadPlanner::requested(const QByteArray &tag, Range range)
{
    // Idle: nothing asked for is still to come (a tagged answer at most).
    const bool idle = ranges_.empty() || arrivedUpTo_ >= sentUpTo_;
    sentUpTo_ = range.last;
    ranges_.push_back({tag, range.first, range.last, clock_(), idle});
}

std::optional<QByteArray> ReadAheadPlanner::take(int number)
{
    lastFetched_ = number;
    next_ = number + 1;
    const auto it = bodies_.find(number);
    if (it == bodies_.end())
        return std::nullopt;
    QByteArray body = std::move(it->second);
    bytes_ -= body.size();
    bodies_.erase(it);
    return body;
}

void ReadAheadPlanner::measured(qint64 bytes, qint64 elapsedUs)
{
    arrivedBytes_ += bytes;
    ++arrivedCount_;
    if (elapsedUs > 0 && (roundTripUs_ == 0 || elapsedUs < roundTripUs_))
        roundTripUs_ = elapsedUs;
}

const QByteArray *ReadAheadPlanner::held(int number) const
{
    const auto it = bodies_.find(number);
    return it == bodies_.end() ? nullptr : &it->second;
}

void ReadAheadPlanner::noteArrival(qint64 number, qint64 bytes)
{
    const qint64 now = clock_();
    for (SentRange &r : ranges_) {
        if (number < r.first || number > r.last)
            continue;
        if (r.timesRoundTrip) {
            // The first answer to a range asked for on an idle line: the time
            // until now was the round trip, not transfer.
            r.timesRoundTrip = false;
            if (roundTripUs_ == 0 || now - r.sentAtUs < roundTripUs_)
                roundTripUs_ = qMax<qint64>(1, now - r.sentAtUs);
            markUs_ = now;
            return;
        }
        break;
    }
    busyUs_ += qMax<qint64>(0, now - markUs_);
    busyBytes_ += bytes;
    markUs_ = now;
    if (busyUs_ > kRateHorizonUs) {
        busyUs_ /= 2;
        busyBytes_ /= 2;
    }
}

bool ReadAheadPlanner::arrived(qint64 number, QByteArray *body)
{
    if (!inFlight(number))
        return false;
    if (body)
        noteArrival(number, body->size());
    if (body && number >= next_ && bodies_.count(int(number)) == 0) {
        bytes_ += body->size();
        measured(body->size());
        arrivedUpTo_ = qMax(arrivedUpTo_, int(number));
        bodies_.emplace(int(number), std::move(*body));
    }
    return true;
}

bool ReadAheadPlanner::answered(const QByteArray &tag)
{
    for (auto it = ranges_.begin(); it != ranges_.end(); ++it) {
        if (it->tag == tag) {
            ranges_.erase(it);
            return true;
        }
    }
    return false;
}

bool ReadAheadPlanner::inFlight(qint64 number) const
{
    for (const SentRange &r : ranges_) {
        if (number >= r.first && number <= r.last)
            return true;
    }
    return false;
}

void ReadAheadPlanner::forget()
{
    bodies_.clear();
    bytes_ = 0;
    next_ = 0;
    sentUpTo_ = 0;
    arrivedUpTo_ = 0;
    arrivedBytes_ = 0;
    arrivedCount_ = 0;
    lastFetched_ = 0;
}

void ReadAheadPlanner::drain()
{
    forget();
    next_ = kDraining;
}

void ReadAheadPlanner::reset()
{
    forget();
    ranges_.clear();
}

void ReadAheadPlanner::keep(const ImapFault &loss, qint64 failedAt)
{
    kept_ = Kept();
    if (next_ <= 0 || next_ == kDraining || (ranges_.empty() && bodies_.empty()))
        return;
    for (auto &[number, body] : bodies_) {
        if (failedAt <= 0 || number < failedAt)
            kept_.bodies.emplace(number, std::move(body));
    }
    kept_.next = next_;
    kept_.loss = loss;
}

std::optional<QByteArray> ReadAheadPlanner::takeKept(int number, ImapFault &loss)
{
    const auto it = kept_.bodies.find(number);
    if (it == kept_.bodies.end()) {
        // The first one that did not make it carries the reason; later ones find no connection.
        loss = kept_.loss;
        kept_ = Kept();
        lastFetched_ = 0;
        return std::nullopt;
    }
    QByteArray body = std::move(it->second);
    kept_.bodies.erase(it);
    kept_.next = number + 1;
    return body;
}

}  // namespace vc
