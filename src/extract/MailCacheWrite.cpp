// MailCache: keeping records, dropping those the server no longer has, and
// forgetting an account.
#include "extract/MailCache.h"

#include "extract/MailCacheDb.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace vc {

using mailcache::uidList;

bool MailCache::put(const MailCacheKey &key, const QList<MailRecord> &records, CacheContent content)
{
    recover();
    if (!isOpen())
        return false;
    if (records.isEmpty())
        return true;
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(records.size()));
    for (const MailRecord &r : records)
        encoded.push_back(encodeRecord(r));
    QSqlQuery q(db_->db);
    // The write lock up front: a transaction that starts reading and then
    // wants to write can be refused when another program wrote meanwhile.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        checkDamage(q.lastError().nativeErrorCode());
        return false;
    }
    const qint64 folder = folderId(key, true);
    bool ok = folder >= 0;
    if (ok) {
        q.prepare(QStringLiteral(
            "INSERT INTO messages (folder_id, uid, decoder, content, used, size, record) VALUES (?, ?, ?, ?, ?, ?, ?) "
            "ON CONFLICT (folder_id, uid) DO UPDATE SET decoder = excluded.decoder, content = excluded.content, "
            "used = excluded.used, size = excluded.size, record = excluded.record"));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (qsizetype i = 0; ok && i < records.size(); ++i) {
            q.addBindValue(folder);
            q.addBindValue(qint64(records[i].uid));
            q.addBindValue(kDecoderVersion);
            q.addBindValue(content.bits());
            q.addBindValue(now);
            q.addBindValue(qint64(encoded[size_t(i)].size()));
            q.addBindValue(encoded[size_t(i)]);
            ok = q.exec();
        }
    }
    if (ok)
        ok = q.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        const QString code = q.lastError().nativeErrorCode();
        QSqlQuery(db_->db).exec(QStringLiteral("ROLLBACK"));
        db_->folderIds.clear();  // an inserted folder row may have gone with the rollback
        checkDamage(code);
        return false;
    }
    enforceCap();
    return true;
}

qint64 MailCache::dropMissing(const MailCacheKey &key, const UidSet &onServer)
{
    recover();
    if (!isOpen())
        return 0;
    qint64 dropped = 0;
    QSqlQuery q(db_->db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        checkDamage(q.lastError().nativeErrorCode());
        return 0;
    }
    bool ok = true;
    // Older UIDVALIDITYs of the same folder: their UIDs name other messages.
    q.prepare(QStringLiteral("SELECT id FROM folders WHERE account = ? AND server = ? AND folder = ? AND uidvalidity "
                             "!= ?"));
    mailcache::bindFolder(q, key);
    QStringList old;
    ok = q.exec();
    while (ok && q.next())
        old << q.value(0).toString();
    if (ok && !old.isEmpty()) {
        const QString ids = old.join(QLatin1Char(','));
        ok = q.exec(QStringLiteral("DELETE FROM messages WHERE folder_id IN (%1)").arg(ids));
        dropped += ok ? q.numRowsAffected() : 0;
        ok = ok && q.exec(QStringLiteral("DELETE FROM folders WHERE id IN (%1)").arg(ids));
        db_->folderIds.clear();
    }
    const qint64 folder = ok ? folderId(key, false) : -1;
    if (folder >= 0) {
        q.prepare(QStringLiteral("DELETE FROM messages WHERE folder_id = ? AND decoder != ?"));
        q.addBindValue(folder);
        q.addBindValue(kDecoderVersion);
        ok = q.exec();
        dropped += ok ? q.numRowsAffected() : 0;
        std::vector<quint32> kept;
        q.prepare(QStringLiteral("SELECT uid FROM messages WHERE folder_id = ?"));
        q.addBindValue(folder);
        ok = ok && q.exec();
        while (ok && q.next())
            kept.push_back(quint32(q.value(0).toLongLong()));
        const UidSet gone = UidSet::of(std::move(kept)).minus(onServer);
        for (qint64 at = 0; ok && at < gone.size(); at += 500) {
            q.prepare(QStringLiteral("DELETE FROM messages WHERE folder_id = ? AND uid IN (%1)")
                          .arg(uidList(gone.slice(at, 500))));
            q.addBindValue(folder);
            ok = q.exec();
            dropped += ok ? q.numRowsAffected() : 0;
        }
    }
    if (ok)
        ok = q.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        const QString code = q.lastError().nativeErrorCode();
        QSqlQuery(db_->db).exec(QStringLiteral("ROLLBACK"));
        db_->folderIds.clear();
        checkDamage(code);
        return 0;
    }
    return dropped;
}

qint64 MailCache::forgetAccount(const QString &account, const QString &server)
{
    recover();
    if (!isOpen())
        return 0;
    QSqlQuery q(db_->db);
    const QString where =
        server.isEmpty() ? QStringLiteral("account = ?") : QStringLiteral("account = ? AND server = ?");
    const auto bind = [&] {
        q.addBindValue(account);
        if (!server.isEmpty())
            q.addBindValue(server);
    };
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        checkDamage(q.lastError().nativeErrorCode());
        return 0;
    }
    q.prepare(QStringLiteral("DELETE FROM messages WHERE folder_id IN (SELECT id FROM folders WHERE %1)").arg(where));
    bind();
    bool ok = q.exec();
    const qint64 dropped = ok ? q.numRowsAffected() : 0;
    if (ok) {
        q.prepare(QStringLiteral("DELETE FROM folders WHERE %1").arg(where));
        bind();
        ok = q.exec();
    }
    if (ok) {
        q.prepare(QStringLiteral("DELETE FROM folder_state WHERE %1").arg(where));
        bind();
        ok = q.exec();
    }
    ok = ok && q.exec(QStringLiteral("COMMIT"));
    db_->folderIds.clear();
    if (!ok) {
        const QString code = q.lastError().nativeErrorCode();
        QSqlQuery(db_->db).exec(QStringLiteral("ROLLBACK"));
        checkDamage(code);
        return 0;
    }
    q.exec(QStringLiteral("PRAGMA incremental_vacuum"));
    return dropped;
}

}  // namespace vc
