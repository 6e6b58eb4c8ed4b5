// MailCache: which records are kept, and reading them back a batch at a time.
#include "extract/MailCache.h"

#include "extract/MailCacheDb.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace vc {

using mailcache::uidList;

namespace {

// Records read per query, and how stale a use mark may get before it is renewed.
constexpr qsizetype kReadBatch = 256;
constexpr qint64 kUseMarkSeconds = 3600;

}  // namespace

UidSet MailCache::cached(const MailCacheKey &key, const UidSet &uids, CacheContent need)
{
    recover();
    const qint64 folder = folderId(key, false);
    if (folder < 0 || uids.isEmpty())
        return {};
    QSqlQuery q(db_->db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT uid FROM messages WHERE folder_id = ? AND decoder = ? AND (content & ?) = ? "
                             "AND uid BETWEEN ? AND ?"));
    q.addBindValue(folder);
    q.addBindValue(kDecoderVersion);
    q.addBindValue(need.mask());
    q.addBindValue(need.bits());
    q.addBindValue(qint64(uids.first()));
    q.addBindValue(qint64(uids.last()));
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return {};
    }
    std::vector<quint32> kept;
    while (q.next())
        kept.push_back(quint32(q.value(0).toLongLong()));
    return UidSet::of(std::move(kept)).intersected(uids);
}

MailCache::Reader MailCache::read(const MailCacheKey &key, const UidSet &uids, CacheContent need)
{
    Reader r;
    r.cache_ = this;
    r.key_ = key;
    r.need_ = need;
    r.left_ = uids;
    return r;
}

std::optional<MailCache::Reader::Entry> MailCache::Reader::next()
{
    if (at_ >= batch_.size()) {
        if (left_.isEmpty())
            return std::nullopt;
        fill();
    }
    return std::move(batch_[at_++]);
}

void MailCache::Reader::fill()
{
    const UidSet part = left_.slice(0, kReadBatch);
    left_ = left_.slice(kReadBatch, left_.size());
    batch_.clear();
    at_ = 0;
    for (const UidSet::Range &r : part.ranges()) {
        for (qint64 u = r.first; u <= r.last; ++u)
            batch_.push_back({quint32(u), std::nullopt});
    }
    cache_->readBatch(*this);
}

void MailCache::readBatch(Reader &reader)
{
    recover();
    const qint64 folder = folderId(reader.key_, false);
    if (folder < 0 || reader.batch_.empty())
        return;
    UidSet wanted;
    for (const Reader::Entry &e : reader.batch_)
        wanted.add(e.uid);
    QSqlQuery q(db_->db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT uid, decoder, content, used, record FROM messages WHERE folder_id = ? AND uid "
                             "IN (%1)")
                  .arg(uidList(wanted)));
    q.addBindValue(folder);
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    UidSet stale;
    UidSet unreadable;
    while (q.next()) {
        const quint32 uid = quint32(q.value(0).toLongLong());
        const qint64 index = wanted.indexOf(uid);
        if (index < 0 || q.value(1).toInt() != kDecoderVersion
            || !CacheContent::fromBits(quint32(q.value(2).toLongLong())).covers(reader.need_))
            continue;
        std::optional<MailRecord> record = decodeRecord(q.value(4).toByteArray(), uid, reader.key_.uidValidity);
        if (!record) {
            unreadable.add(uid);
            continue;
        }
        record->folder = reader.key_.folder;
        reader.batch_[size_t(index)].record = std::move(record);
        if (q.value(3).toLongLong() < now - kUseMarkSeconds)
            stale.add(uid);
    }
    q.finish();
    if (!stale.isEmpty()) {
        QSqlQuery touch(db_->db);
        touch.prepare(
            QStringLiteral("UPDATE messages SET used = ? WHERE folder_id = ? AND uid IN (%1)").arg(uidList(stale)));
        touch.addBindValue(now);
        touch.addBindValue(folder);
        touch.exec();  // a use mark that does not make it is no loss
    }
    if (!unreadable.isEmpty()) {
        QSqlQuery drop(db_->db);
        drop.prepare(
            QStringLiteral("DELETE FROM messages WHERE folder_id = ? AND uid IN (%1)").arg(uidList(unreadable)));
        drop.addBindValue(folder);
        drop.exec();
    }
}

}  // namespace vc
