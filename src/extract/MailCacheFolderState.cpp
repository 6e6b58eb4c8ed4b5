// MailCache: what a folder's select showed when its last complete walk began,
// with the UIDs that walk found.
#include "extract/MailCache.h"

#include "extract/MailCacheDb.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <climits>

namespace vc {

std::optional<MailCache::FolderState> MailCache::folderState(const MailCacheKey &key)
{
    // One state is kept per folder: under another UIDVALIDITY it is none of this one's.
    MailCacheKey kept = key;
    std::optional<FolderState> state = lastFolderState(kept);
    if (!state || kept.uidValidity != key.uidValidity)
        return std::nullopt;
    return state;
}

std::optional<MailCache::FolderState> MailCache::lastFolderState(MailCacheKey &key)
{
    recover();
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(db_->db);
    q.prepare(QStringLiteral("SELECT uidvalidity, exists_count, uidnext, uids FROM folder_state WHERE account = ? "
                             "AND server = ? AND folder = ?"));
    q.addBindValue(key.account);
    q.addBindValue(key.server);
    q.addBindValue(key.folder);
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    const qint64 validity = q.value(0).toLongLong();
    FolderState state;
    state.exists = q.value(1).toLongLong();
    const qint64 uidNext = q.value(2).toLongLong();
    const QByteArray uids = q.value(3).toByteArray();
    if (validity <= 0 || validity > qint64(UINT_MAX) || uidNext <= 0 || uidNext > qint64(UINT_MAX) || state.exists < 0)
        return std::nullopt;
    state.uidNext = quint32(uidNext);
    if (!uids.isEmpty()) {
        std::optional<UidSet> parsed = UidSet::parse(uids);
        if (!parsed)
            return std::nullopt;
        state.uids = std::move(*parsed);
    }
    // A row that contradicts itself is not trusted: the set must be what the
    // count says, all below UIDNEXT.
    if (state.uids.size() != state.exists || (state.exists > 0 && state.uids.last() >= state.uidNext))
        return std::nullopt;
    key.uidValidity = quint32(validity);
    return state;
}

QStringList MailCache::completeFolders(const QString &account, const QString &server)
{
    recover();
    if (!isOpen())
        return {};
    QSqlQuery q(db_->db);
    q.prepare(QStringLiteral("SELECT folder FROM folder_state WHERE account = ? AND server = ? ORDER BY folder"));
    q.addBindValue(account);
    q.addBindValue(server);
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return {};
    }
    QStringList names;
    while (q.next())
        names << q.value(0).toString();
    return names;
}

bool MailCache::setFolderState(const MailCacheKey &key, const FolderState &state)
{
    recover();
    if (!isOpen())
        return false;
    QSqlQuery q(db_->db);
    q.prepare(QStringLiteral(
        "INSERT INTO folder_state (account, server, folder, uidvalidity, exists_count, uidnext, uids) VALUES (?, ?, "
        "?, ?, ?, ?, ?) ON CONFLICT (account, server, folder) DO UPDATE SET uidvalidity = excluded.uidvalidity, "
        "exists_count = excluded.exists_count, uidnext = excluded.uidnext, uids = excluded.uids"));
    mailcache::bindFolder(q, key);
    q.addBindValue(state.exists);
    q.addBindValue(qint64(state.uidNext));
    q.addBindValue(state.uids.toImap());
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return false;
    }
    return true;
}

}  // namespace vc
