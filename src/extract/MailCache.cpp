// MailCache: opening the file, setting a damaged or foreign one aside, the folder rows.
#include "extract/MailCache.h"

#include "extract/MailCacheDb.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>
#include <QtEndian>

#include <atomic>

namespace vc {

namespace {

// In the file's header: which program the database belongs to ("VcMc") and
// the layout of its tables.
constexpr quint32 kApplicationId = 0x56634d63;
constexpr quint32 kSchemaVersion = 2;
constexpr int kBusyWaitMs = 5000;

// SQLite's primary result codes that say the file cannot be trusted.
constexpr int kSqliteIoErr = 10;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADb = 26;

const char *const kSchema[] = {
    "CREATE TABLE folders (id INTEGER PRIMARY KEY, account TEXT NOT NULL, server TEXT NOT NULL, "
    "folder TEXT NOT NULL, uidvalidity INTEGER NOT NULL, UNIQUE (account, server, folder, uidvalidity))",
    "CREATE TABLE messages (id INTEGER PRIMARY KEY, folder_id INTEGER NOT NULL, uid INTEGER NOT NULL, "
    "decoder INTEGER NOT NULL, content INTEGER NOT NULL, used INTEGER NOT NULL, size INTEGER NOT NULL, "
    "record BLOB NOT NULL, UNIQUE (folder_id, uid))",
    "CREATE INDEX messages_used ON messages (used)",
    "CREATE TABLE folder_state (account TEXT NOT NULL, server TEXT NOT NULL, folder TEXT NOT NULL, "
    "uidvalidity INTEGER NOT NULL, exists_count INTEGER NOT NULL, uidnext INTEGER NOT NULL, uids BLOB NOT NULL, "
    "PRIMARY KEY (account, server, folder))",
};

void ownerOnly(const QString &path, bool folder)
{
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
    if (folder)
        p |= QFile::ExeOwner;
    QFile::setPermissions(path, p);
}

// What is wrong with the file by its header, before SQLite reads it: empty
// when it looks like one of ours. `suspect`: the header counts more pages than
// the file has (cut short, or another program is in the middle of writing).
QString headerProblem(const QString &path, bool *suspect)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read");
    const QByteArray h = f.read(100);
    if (h.size() < 100 || !h.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return QStringLiteral("is not a database");
    const auto be32 = [&h](int at) { return qFromBigEndian<quint32>(h.constData() + at); };
    if (be32(68) != kApplicationId)
        return QStringLiteral("is not a mail copy of this program");
    if (be32(60) != kSchemaVersion)
        return QStringLiteral("was made by another version of this program");
    quint32 pageSize = qFromBigEndian<quint16>(h.constData() + 16);
    if (pageSize == 1)
        pageSize = 65536;
    const quint32 pages = be32(28);
    const bool countValid = be32(92) == be32(24);
    *suspect = countValid && qint64(pages) * pageSize > f.size();
    return QString();
}

QString newConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("vc-mail-cache-%1").arg(++counter);
}

}  // namespace

void mailcache::bindFolder(QSqlQuery &q, const MailCacheKey &key)
{
    q.addBindValue(key.account);
    q.addBindValue(key.server);
    q.addBindValue(key.folder);
    q.addBindValue(qint64(key.uidValidity));
}

QString mailcache::uidList(const UidSet &uids)
{
    QString out;
    for (const UidSet::Range &r : uids.ranges()) {
        for (qint64 u = r.first; u <= r.last; ++u) {
            if (!out.isEmpty())
                out += QLatin1Char(',');
            out += QString::number(u);
        }
    }
    return out;
}

QString MailCache::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

MailCache::MailCache(const QString &folder)
    : folder_(folder.isEmpty() ? defaultFolder() : folder), defaultFolder_(folder.isEmpty())
{
    path_ = QDir(folder_).filePath(QLatin1String(kFileName));
}

MailCache::~MailCache() = default;

bool MailCache::isOpen() const
{
    return db_ && db_->db.isOpen();
}

QString MailCache::takeWarning()
{
    recover();
    return std::exchange(warning_, QString());
}

MailCache::Opened MailCache::open()
{
    Opened o;
    close();
    if (!QFileInfo::exists(folder_)) {
        if (!QDir().mkpath(folder_)) {
            o.error = QStringLiteral("The folder %1 for the local mail copy cannot be made.").arg(folder_);
            return o;
        }
        ownerOnly(folder_, true);
    } else if (defaultFolder_) {
        ownerOnly(folder_, true);
    }
    // Programs opening the same file at once take turns, so that a file one
    // of them sets aside is not the new one another has just made.
    QLockFile lock(QDir(folder_).filePath(QStringLiteral("mail-cache.lock")));
    lock.setStaleLockTime(30000);
    lock.tryLock(10000);
    o.ok = openFile(&o.warning, &o.error);
    return o;
}

void MailCache::close()
{
    db_.reset();
}

QString MailCache::setAside(const QString &why)
{
    close();
    const QString aside = path_ + QStringLiteral(".damaged");
    QFile::remove(aside);
    QFile::remove(aside + QStringLiteral("-wal"));
    bool moved = QFile::rename(path_, aside);
    if (!moved)
        moved = QFile::remove(path_);
    QFile::rename(path_ + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(path_ + QStringLiteral("-wal"));
    QFile::remove(path_ + QStringLiteral("-shm"));
    return QStringLiteral("The local mail copy %1 %2; it was set aside as %3 and a new one is made.")
        .arg(QDir::toNativeSeparators(path_), why, QDir::toNativeSeparators(aside));
}

bool MailCache::openFile(QString *warning, QString *error)
{
    bool fresh = !QFileInfo::exists(path_) || QFileInfo(path_).size() == 0;
    bool suspect = false;
    if (!fresh) {
        const QString problem = headerProblem(path_, &suspect);
        if (!problem.isEmpty()) {
            *warning = setAside(problem);
            fresh = true;
        }
    }
    if (fresh) {
        QFile f(path_);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("The local mail copy %1 cannot be written: %2").arg(path_, f.errorString());
            return false;
        }
        f.close();
        ownerOnly(path_, false);
    }

    db_ = std::make_unique<Db>();
    db_->name = newConnectionName();
    db_->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db_->name);
    db_->db.setDatabaseName(path_);
    db_->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyWaitMs));
    if (!db_->db.open()) {
        *error = QStringLiteral("The local mail copy %1 cannot be opened: %2").arg(path_, db_->db.lastError().text());
        close();
        return false;
    }
    QSqlQuery q(db_->db);
    const auto run = [&q](const QString &sql) { return q.exec(sql); };
    if (fresh) {
        // Before the write-ahead log: these land in the file itself.
        bool ok = run(QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId))
                  && run(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion))
                  && run(QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL"));
        for (const char *statement : kSchema)
            ok = ok && run(QLatin1String(statement));
        if (!ok) {
            *error = QStringLiteral("The local mail copy %1 cannot be made: %2").arg(path_, q.lastError().text());
            q = QSqlQuery();
            close();
            return false;
        }
    }
    if (!run(QStringLiteral("PRAGMA journal_mode = WAL")) || !run(QStringLiteral("PRAGMA synchronous = NORMAL"))) {
        if (!fresh) {
            q = QSqlQuery();
            *warning = setAside(QStringLiteral("is damaged"));
            return openFile(warning, error);
        }
        *error = QStringLiteral("The local mail copy %1 cannot be used: %2").arg(path_, q.lastError().text());
        q = QSqlQuery();
        close();
        return false;
    }
    if (!fresh) {
        // A file whose header promises more than it holds is checked through
        // (another program may just be writing it); any file must have our tables.
        bool sound = run(QStringLiteral("SELECT id, folder_id, uid, decoder, content, used, size, record FROM messages "
                                        "LIMIT 1"))
                     && run(QStringLiteral("SELECT id, account, server, folder, uidvalidity FROM folders LIMIT 1"))
                     && run(QStringLiteral("SELECT account, server, folder, uidvalidity, exists_count, uidnext, uids "
                                           "FROM folder_state LIMIT 1"));
        if (sound && suspect)
            sound =
                run(QStringLiteral("PRAGMA quick_check")) && q.next() && q.value(0).toString() == QLatin1String("ok");
        if (!sound) {
            q = QSqlQuery();
            *warning = setAside(QStringLiteral("is damaged"));
            return openFile(warning, error);
        }
    }
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path_ + QLatin1String(suffix)))
            ownerOnly(path_ + QLatin1String(suffix), false);
    }
    return true;
}

void MailCache::checkDamage(const QString &sqliteCode)
{
    const int code = sqliteCode.toInt();
    if (code == kSqliteCorrupt || code == kSqliteNotADb || code == kSqliteIoErr)
        damaged_ = true;
}

void MailCache::recover()
{
    if (!damaged_)
        return;
    damaged_ = false;
    QString warning = setAside(QStringLiteral("is damaged"));
    QString error;
    openFile(&warning, &error);
    warning_ = warning;
}

qint64 MailCache::folderId(const MailCacheKey &key, bool create)
{
    if (!isOpen())
        return -1;
    const QString id =
        key.account + QChar(0) + key.server + QChar(0) + key.folder + QChar(0) + QString::number(key.uidValidity);
    if (const auto it = db_->folderIds.constFind(id); it != db_->folderIds.constEnd())
        return *it;
    QSqlQuery q(db_->db);
    q.prepare(
        QStringLiteral("SELECT id FROM folders WHERE account = ? AND server = ? AND folder = ? AND uidvalidity = ?"));
    mailcache::bindFolder(q, key);
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return -1;
    }
    if (q.next()) {
        db_->folderIds.insert(id, q.value(0).toLongLong());
        return q.value(0).toLongLong();
    }
    if (!create)
        return -1;
    q.prepare(QStringLiteral("INSERT INTO folders (account, server, folder, uidvalidity) VALUES (?, ?, ?, ?)"));
    mailcache::bindFolder(q, key);
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return -1;
    }
    const qint64 newId = q.lastInsertId().toLongLong();
    db_->folderIds.insert(id, newId);
    return newId;
}

}  // namespace vc
