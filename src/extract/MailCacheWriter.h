#pragma once
#include "extract/MailCache.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>

class QThread;

namespace vc {

// Keeps records in the local mail copy on a thread of its own, so that the
// walk does not wait for compressing and writing: add() queues a copy and
// returns; the thread writes what has gathered in one transaction at a time,
// letting a batch gather for a moment first.
// The database is opened with the first batch, so a writer that is given
// nothing never touches the file.
// The queue is bounded: add() waits while it holds `queueBytes` or more.
// finish() waits until everything added is written (or has failed).
class MailCacheWriter {
public:
    explicit MailCacheWriter(const QString &folder = QString(), qint64 sizeCap = MailCache::kDefaultSizeCap,
                             qint64 queueBytes = qint64(32) << 20);
    ~MailCacheWriter();
    MailCacheWriter(const MailCacheWriter &) = delete;
    MailCacheWriter &operator=(const MailCacheWriter &) = delete;

    void add(const MailCacheKey &key, MailRecord record, CacheContent content);

    struct Done {
        qint64 written = 0;
        qint64 failed = 0;  // records the database would not take
        QString warning;    // the file was set aside meanwhile
        QString error;      // the cache could not be opened
    };
    Done finish();

private:
    struct Item {
        MailCacheKey key;
        MailRecord record;
        CacheContent content;
        qint64 bytes = 0;
    };
    void work(const QString &folder, qint64 sizeCap);
    // A full batch is queued, or half the queue's bytes (under the lock).
    bool batchReady() const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    qint64 queued_ = 0;  // bytes in the queue
    qint64 queueBytes_;
    bool ending_ = false;
    Done done_;
    QThread *thread_ = nullptr;
};

}  // namespace vc
