#include "extract/MailCache.h"

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
constexpr quint32 kSchemaVersion = 1;
constexpr int kBusyWaitMs = 5000;
// Records read per query, and how stale a use mark may get before it is renewed.
constexpr qsizetype kReadBatch = 256;
constexpr qint64 kUseMarkSeconds = 3600;

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

QString uidList(const UidSet &uids)
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

}  // namespace

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
                     && run(QStringLiteral("SELECT id, account, server, folder, uidvalidity FROM folders LIMIT 1"));
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
    const auto bindKey = [&] {
        q.addBindValue(key.account);
        q.addBindValue(key.server);
        q.addBindValue(key.folder);
        q.addBindValue(qint64(key.uidValidity));
    };
    q.prepare(
        QStringLiteral("SELECT id FROM folders WHERE account = ? AND server = ? AND folder = ? AND uidvalidity = ?"));
    bindKey();
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
    bindKey();
    if (!q.exec()) {
        checkDamage(q.lastError().nativeErrorCode());
        return -1;
    }
    const qint64 newId = q.lastInsertId().toLongLong();
    db_->folderIds.insert(id, newId);
    return newId;
}

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
    q.addBindValue(need.bits());
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
    q.addBindValue(key.account);
    q.addBindValue(key.server);
    q.addBindValue(key.folder);
    q.addBindValue(qint64(key.uidValidity));
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
