#include "mail/DecodeAhead.h"

#include "mail/MimeDecode.h"

#include <algorithm>

namespace vc {

DecodeAhead::DecodeAhead(qint64 limit) : limit_(qMax<qint64>(1, limit))
{
    // The caller's thread has work of its own (the connection, the rules): on
    // two cores one worker, on more one fewer than there are.
    maxWorkers_ = qMax(1, QThread::idealThreadCount() - 1);
    pool_.setMaxThreadCount(maxWorkers_);
    // The decoder's one-time set-up happens here, on the caller's thread.
    decodeMessage(QByteArrayLiteral("\r\n"));
}

DecodeAhead::~DecodeAhead()
{
    clear();
    pool_.waitForDone();
}

void DecodeAhead::drain(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock lock(shared->mutex);
    while (decodeNext(*shared, lock)) {
    }
    --shared->workers;
}

bool DecodeAhead::decodeNext(Shared &shared, std::unique_lock<std::mutex> &lock)
{
    if (shared.queue.empty())
        return false;
    const std::shared_ptr<Job> job = std::move(shared.queue.front());
    shared.queue.pop_front();
    job->state = Job::Running;
    lock.unlock();
    MailRecord record = decodeMessage(job->raw, job->needs);
    lock.lock();
    job->result = std::move(record);
    job->state = Job::Done;
    shared.done.notify_all();
    return true;
}

void DecodeAhead::start(int number, const QByteArray &raw)
{
    if (jobs_.count(number) > 0)
        return;
    auto job = std::make_shared<Job>();
    job->raw = raw;
    job->needs = needs_;
    bytes_ += raw.size();
    jobs_.emplace(number, job);
    std::lock_guard lock(shared_->mutex);
    shared_->queue.push_back(std::move(job));
    // A running worker takes it when done with the one at hand.
    if (shared_->workers < maxWorkers_ && shared_->workers < int(shared_->queue.size())) {
        ++shared_->workers;
        pool_.start([shared = shared_] { drain(shared); });
    }
}

std::optional<MailRecord> DecodeAhead::take(int number, const QByteArray &raw)
{
    const auto it = jobs_.find(number);
    if (it == jobs_.end())
        return std::nullopt;
    const std::shared_ptr<Job> job = std::move(it->second);
    jobs_.erase(it);
    bytes_ -= job->raw.size();
    std::unique_lock lock(shared_->mutex);
    auto &queue = shared_->queue;
    if (job->raw.constData() != raw.constData() || job->raw.size() != raw.size()) {
        queue.erase(std::remove(queue.begin(), queue.end(), job), queue.end());
        return std::nullopt;
    }
    ++handedOut_;
    if (job->state == Job::Queued) {
        // Not started yet: decoded here rather than waited for.
        queue.erase(std::remove(queue.begin(), queue.end(), job), queue.end());
        lock.unlock();
        return decodeMessage(job->raw, job->needs);
    }
    // Being decoded by a worker: rather than wait for it, this thread decodes
    // the messages queued behind it (the next ones it will ask for), and
    // waits only when none is left.
    while (job->state != Job::Done) {
        if (!decodeNext(*shared_, lock))
            shared_->done.wait(lock);
    }
    return std::move(job->result);
}

void DecodeAhead::setNeeds(const DecodeNeeds &needs)
{
    // Needs cannot be compared (the attachment sink is a function): every
    // change starts afresh, which costs only the messages decoded ahead.
    clear();
    needs_ = needs;
}

void DecodeAhead::clear()
{
    jobs_.clear();
    bytes_ = 0;
    // Messages not started are dropped; those being decoded finish on their own.
    std::lock_guard lock(shared_->mutex);
    shared_->queue.clear();
}

}  // namespace vc
