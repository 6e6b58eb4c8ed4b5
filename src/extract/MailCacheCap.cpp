// MailCache: the size cap (the records used least recently go first) and the figures.
#include "extract/MailCache.h"

#include "extract/MailCacheDb.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace vc {

void MailCache::enforceCap()
{
    QSqlQuery q(db_->db);
    const auto usedBytes = [&q]() -> qint64 {
        if (!q.exec(QStringLiteral("SELECT (SELECT page_count FROM pragma_page_count()) - (SELECT freelist_count FROM "
                                   "pragma_freelist_count()), (SELECT page_size FROM pragma_page_size())"))
            || !q.next())
            return 0;
        return q.value(0).toLongLong() * q.value(1).toLongLong();
    };
    qint64 used = usedBytes();
    if (used <= sizeCap_)
        return;
    // Down to nine tenths of the cap, so the next few writes do not come back here.
    const qint64 aim = sizeCap_ / 10 * 9;
    while (used > aim) {
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return;
        qint64 freed = 0;
        qint64 dropped = 0;
        QSqlQuery oldest(db_->db);
        oldest.setForwardOnly(true);
        oldest.exec(QStringLiteral("SELECT id, size FROM messages ORDER BY used, id LIMIT 500"));
        QStringList ids;
        while (oldest.next() && freed < used - aim) {
            ids << oldest.value(0).toString();
            freed += oldest.value(1).toLongLong() + 64;
            ++dropped;
        }
        oldest.finish();
        const bool ok =
            !ids.isEmpty()
            && q.exec(QStringLiteral("DELETE FROM messages WHERE id IN (%1)").arg(ids.join(QLatin1Char(','))));
        q.exec(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
        if (!ok || dropped == 0)
            return;
        const qint64 before = used;
        used = usedBytes();
        if (used >= before)
            used -= freed;  // pages freed inside pages still in use: count the records
    }
    q.exec(QStringLiteral("PRAGMA incremental_vacuum"));
}

MailCache::Stats MailCache::stats()
{
    recover();
    Stats s;
    if (!isOpen())
        return s;
    QSqlQuery q(db_->db);
    if (q.exec(QStringLiteral("SELECT count(*), coalesce(sum(size), 0) FROM messages")) && q.next()) {
        s.records = q.value(0).toLongLong();
        s.recordBytes = q.value(1).toLongLong();
    } else {
        checkDamage(q.lastError().nativeErrorCode());
    }
    s.fileBytes = QFileInfo(path_).size() + QFileInfo(path_ + QStringLiteral("-wal")).size();
    return s;
}

}  // namespace vc
