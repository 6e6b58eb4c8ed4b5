#include "mail/DecodeAhead.h"

#include "mail/MimeDecode.h"

#include <QtConcurrent/QtConcurrentRun>

namespace vc {

DecodeAhead::DecodeAhead(qint64 limit) : limit_(qMax<qint64>(1, limit)), needs_(std::make_shared<DecodeNeeds>())
{
    // The caller's thread has work of its own (the connection, the rules): on
    // two cores one worker, on more one fewer than there are.
    pool_.setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));
    // The decoder's one-time set-up happens here, on the caller's thread.
    decodeMessage(QByteArrayLiteral("\r\n"));
}

DecodeAhead::~DecodeAhead()
{
    clear();
    pool_.waitForDone();
}

void DecodeAhead::start(int number, const QByteArray &raw)
{
    if (jobs_.count(number) > 0)
        return;
    Job job;
    job.raw = raw;
    job.result = QtConcurrent::run(&pool_, [raw, needs = needs_] { return decodeMessage(raw, *needs); });
    bytes_ += raw.size();
    jobs_.emplace(number, std::move(job));
}

std::optional<MailRecord> DecodeAhead::take(int number, const QByteArray &raw)
{
    const auto it = jobs_.find(number);
    if (it == jobs_.end())
        return std::nullopt;
    Job job = std::move(it->second);
    jobs_.erase(it);
    bytes_ -= job.raw.size();
    if (job.raw.constData() != raw.constData() || job.raw.size() != raw.size())
        return std::nullopt;
    ++handedOut_;
    // A job that has not started yet runs here rather than being waited for.
    return job.result.result();
}

void DecodeAhead::setNeeds(const DecodeNeeds &needs)
{
    clear();
    needs_ = std::make_shared<const DecodeNeeds>(needs);
}

void DecodeAhead::clear()
{
    jobs_.clear();
    bytes_ = 0;
}

}  // namespace vc
