#include "extract/MailCacheWriter.h"

#include <QThread>

#include <chrono>
#include <optional>

namespace vc {

namespace {

// Records per transaction, and how often a batch the database refused is tried again.
constexpr int kBatch = 200;
constexpr int kTries = 4;
// How long the thread lets records gather for a fuller transaction once one
// is queued: one commit per batch, not one per handful that came meanwhile.
constexpr auto kGather = std::chrono::milliseconds(100);

qint64 sizeOf(const MailRecord &r)
{
    qint64 n = 256;
    for (const QString *s : {&r.From, &r.Subject, &r.PlainTextBody, &r.HTMLTextBody})
        n += s->size() * 2;
    for (const HeaderField &h : r.headers)
        n += (h.name.size() + h.value.size()) * 2;
    for (const AttachmentInfo &a : r.attachments)
        n += a.text.size() * 2;
    return n;
}

bool sameKey(const MailCacheKey &a, const MailCacheKey &b)
{
    return a.uidValidity == b.uidValidity && a.folder == b.folder && a.account == b.account && a.server == b.server;
}

}  // namespace

MailCacheWriter::MailCacheWriter(const QString &folder, qint64 sizeCap, qint64 queueBytes)
    : queueBytes_(qMax<qint64>(1, queueBytes))
{
    thread_ = QThread::create([this, folder, sizeCap] { work(folder, sizeCap); });
    thread_->start();
}

MailCacheWriter::~MailCacheWriter()
{
    finish();
    delete thread_;
}

void MailCacheWriter::add(const MailCacheKey &key, MailRecord record, CacheContent content)
{
    const qint64 bytes = sizeOf(record);
    std::unique_lock<std::mutex> lock(mutex_);
    // One record always fits, however big.
    changed_.wait(lock, [&] { return ending_ || queue_.empty() || queued_ + bytes <= queueBytes_; });
    if (ending_)
        return;
    queue_.push_back({key, std::move(record), content, bytes});
    queued_ += bytes;
    if (batchReady())
        changed_.notify_all();
}

bool MailCacheWriter::batchReady() const
{
    return queue_.size() >= size_t(kBatch) || queued_ * 2 >= queueBytes_;
}

MailCacheWriter::Done MailCacheWriter::finish()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
        changed_.notify_all();
    }
    if (thread_)
        thread_->wait();
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

void MailCacheWriter::work(const QString &folder, qint64 sizeCap)
{
    MailCache cache(folder);
    cache.setSizeCap(sizeCap);
    // Opened with the first batch: a walk that fetches nothing (every message
    // kept already) leaves the file alone.
    std::optional<MailCache::Opened> opened;
    while (true) {
        std::vector<Item> batch;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return ending_ || !queue_.empty(); });
            changed_.wait_for(lock, kGather, [&] { return ending_ || batchReady(); });
            if (queue_.empty())
                return;  // ending, and everything is written
            // One key per transaction.
            while (!queue_.empty() && int(batch.size()) < kBatch
                   && (batch.empty() || sameKey(batch.front().key, queue_.front().key))) {
                queued_ -= queue_.front().bytes;
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
            changed_.notify_all();
        }
        QList<MailRecord> records;
        records.reserve(qsizetype(batch.size()));
        CacheContent content = batch.front().content;
        for (Item &item : batch) {
            // Records of one batch share what they hold: the least of them.
            content = CacheContent::fromBits(content.bits() & item.content.bits());
            records << std::move(item.record);
        }
        if (!opened) {
            opened = cache.open();
            std::lock_guard<std::mutex> lock(mutex_);
            done_.warning = opened->warning;
            done_.error = opened->error;
        }
        bool ok = opened->ok;
        for (int attempt = 0; ok && attempt < kTries; ++attempt) {
            ok = cache.put(batch.front().key, records, content);
            if (ok)
                break;
            ok = attempt + 1 < kTries;  // busy beyond the wait: try again
        }
        const QString warning = cache.takeWarning();
        std::lock_guard<std::mutex> lock(mutex_);
        (ok ? done_.written : done_.failed) += qint64(records.size());
        if (!warning.isEmpty() && done_.warning.isEmpty())
            done_.warning = warning;
    }
}

}  // namespace vc
