#pragma once
// What the parts of MailCache share: the connection, and how UIDs go into a statement.
#include "extract/MailCache.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace vc {

struct MailCache::Db {
    QString name;
    QSqlDatabase db;
    QHash<QString, qint64> folderIds;

    ~Db()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
};

namespace mailcache {

// "1,2,3": the UIDs of `uids` for an IN (...) list.
QString uidList(const UidSet &uids);

// Binds the folder of `key` to the next four placeholders: account, server,
// folder, UIDVALIDITY.
void bindFolder(QSqlQuery &q, const MailCacheKey &key);

}  // namespace mailcache

}  // namespace vc
