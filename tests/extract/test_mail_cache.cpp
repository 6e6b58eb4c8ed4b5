// The local mail copy: records back as they went in, keys kept apart, the
// size cap, damaged and foreign files, and two programs at once.
#include "TestFiles.h"
#include "core/DateText.h"
#include "extract/LocalCopyImap.h"
#include "extract/MailCache.h"
#include "extract/MailCacheWriter.h"
#include "extract/WalkCache.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <zlib.h>
#include <zstd.h>

using vc::CacheContent;
using vc::MailCache;
using vc::MailCacheKey;
using vc::MailRecord;
using vc::UidSet;

namespace {

const MailCacheKey kInbox{QStringLiteral("ann@example.org"), QStringLiteral("imap.example.org:993"),
                          QStringLiteral("INBOX"), 700};

MailRecord record(quint32 uid, int bodyLines = 20, quint32 uidValidity = 700)
{
    MailRecord r;
    r.uid = uid;
    r.uidValidity = uidValidity;
    r.From = QStringLiteral("\"Jörg Ü\" <j@example.org>");
    r.FromName = QStringLiteral("Jörg Ü");
    r.FromAddress = QStringLiteral("j@example.org");
    r.Subject = QStringLiteral("Message %1 — ✓").arg(uid);
    for (int i = 0; i < bodyLines; ++i)
        r.PlainTextBody += QStringLiteral("Line %1 of message %2, with words alpha beta gamma.\r\n").arg(i).arg(uid);
    r.HTMLTextBody = QStringLiteral("<p>Message %1</p>").arg(uid);
    r.messageId = QStringLiteral("m%1@example.org").arg(uid);
    r.date = QDateTime(QDate(2024, 3, 1 + int(uid % 28)), QTime(10, 20, 30), QTimeZone(2 * 3600));
    r.ReceivedDate = vc::dateToText(r.date);
    r.headers = {{QStringLiteral("From"), r.From}, {QStringLiteral("X-Note"), QStringLiteral("é\tx")}};
    r.attachments = {
        {QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), 1234, QStringLiteral("pdf text"), QString()},
        {QString(), QStringLiteral("image/png"), 9, QString(), QStringLiteral("no text")}};
    r.gmailLabels = {QStringLiteral("\\Inbox"), QStringLiteral("Big Clients")};
    return r;
}

QList<MailRecord> records(quint32 first, quint32 last, int bodyLines = 20)
{
    QList<MailRecord> out;
    for (quint32 u = first; u <= last; ++u)
        out << record(u, bodyLines);
    return out;
}

QString differences(const MailRecord &a, const MailRecord &b)
{
    QStringList d;
    const auto same = [&d](const char *what, const auto &x, const auto &y) {
        if (!(x == y))
            d << QLatin1String(what);
    };
    same("uid", a.uid, b.uid);
    same("uidValidity", a.uidValidity, b.uidValidity);
    same("From", a.From, b.From);
    same("FromName", a.FromName, b.FromName);
    same("FromAddress", a.FromAddress, b.FromAddress);
    same("Subject", a.Subject, b.Subject);
    same("ReceivedDate", a.ReceivedDate, b.ReceivedDate);
    same("PlainTextBody", a.PlainTextBody, b.PlainTextBody);
    same("HTMLTextBody", a.HTMLTextBody, b.HTMLTextBody);
    same("messageId", a.messageId, b.messageId);
    same("date", a.date, b.date);
    same("offset", a.date.offsetFromUtc(), b.date.offsetFromUtc());
    same("headers", a.headers.size(), b.headers.size());
    for (qsizetype i = 0; i < qMin(a.headers.size(), b.headers.size()); ++i) {
        same("header name", a.headers[i].name, b.headers[i].name);
        same("header value", a.headers[i].value, b.headers[i].value);
    }
    same("attachments", a.attachments.size(), b.attachments.size());
    for (qsizetype i = 0; i < qMin(a.attachments.size(), b.attachments.size()); ++i) {
        const auto &x = a.attachments[i];
        const auto &y = b.attachments[i];
        if (x.name != y.name || x.contentType != y.contentType || x.size != y.size || x.text != y.text
            || x.problem != y.problem)
            d << QStringLiteral("attachment %1").arg(i);
    }
    same("gmailLabels", a.gmailLabels, b.gmailLabels);
    return d.join(QLatin1Char(','));
}

// Reads `uids` back: how many came with a record, each checked against
// record(uid, bodyLines); negative when one differs or the order is wrong.
int readAndCheck(MailCache &cache, const MailCacheKey &key, const UidSet &uids, CacheContent need = {},
                 int bodyLines = 20)
{
    MailCache::Reader r = cache.read(key, uids, need);
    int found = 0;
    qint64 n = 0;
    while (std::optional<MailCache::Reader::Entry> e = r.next()) {
        if (e->uid != uids.at(n++))
            return -1000000;  // out of order or a UID not asked for
        if (!e->record)
            continue;
        const QString diff = differences(*e->record, record(e->uid, bodyLines));
        if (!diff.isEmpty()) {
            qWarning("record %u differs: %s", e->uid, qPrintable(diff));
            return -1;
        }
        ++found;
    }
    return n == uids.size() ? found : -2000000;
}

// Runs SQL on the cache file from outside, as another tool would.
bool sql(const QString &path, const QStringList &statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("outside"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString &s : statements)
            ok = ok && q.exec(s);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("outside"));
    return ok;
}

int writerProcess(const QString &folder, quint32 first, quint32 count)
{
    MailCache cache(folder);
    if (!cache.open().ok)
        return 2;
    for (quint32 u = first; u < first + count; u += 5) {
        if (!cache.put(kInbox, records(u, u + 4, 5), {}))
            return 3;
    }
    return 0;
}

}  // namespace

class TestMailCache : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void recordsComeBackAsTheyWentIn();
    void keysAndContentKeepRecordsApart();
    void readerGivesEveryUidInOrder();
    void dropsWhatTheServerNoLongerHas();
    void forgetsAnAccount();
    void folderStateServesOnlyItsValidity();
    void sizeCapDropsLeastRecentlyUsed();
    void badFilesAreSetAside_data();
    void badFilesAreSetAside();
    void damageInsideTheFileNeverGivesAWrongRecord();
    void folderAndFileAreTheOwnersOnly();
    void twoProgramsWriteAtOnce();
    void writerThreadWritesEverything();
    void walkServesOnlyWhatTheRunReads_data();
    void walkServesOnlyWhatTheRunReads();
    void offlineComponentServesTheKeptWalk();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString folder() const { return dir->filePath(QStringLiteral("cache")); }
    QString file() const { return folder() + QStringLiteral("/mail-cache.sqlite"); }
};

void TestMailCache::init()
{
    dir = std::make_unique<QTemporaryDir>();
}

void TestMailCache::recordsComeBackAsTheyWentIn()
{
    MailCache cache(folder());
    const MailCache::Opened o = cache.open();
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(o.warning, QString());
    QVERIFY(cache.put(kInbox, records(1, 50), {}));
    MailRecord undated = record(51);
    undated.date = QDateTime();
    undated.ReceivedDate.clear();
    undated.headers.clear();
    undated.attachments.clear();
    undated.gmailLabels.clear();
    undated.PlainTextBody.clear();
    QVERIFY(cache.put(kInbox, {undated}, {}));
    QCOMPARE(cache.cached(kInbox, *UidSet::parse("1:100"), {}).toImap(), QByteArray("1:51"));
    QCOMPARE(readAndCheck(cache, kInbox, *UidSet::parse("1:50")), 50);
    MailCache::Reader r = cache.read(kInbox, *UidSet::parse("51"), {});
    const auto e = r.next();
    QVERIFY(e && e->record);
    QCOMPARE(differences(*e->record, undated), QString());
    QCOMPARE(e->record->folder, QStringLiteral("INBOX"));
    QVERIFY(!r.next());

    // A record put again replaces the one kept.
    MailRecord changed = record(7);
    changed.Subject = QStringLiteral("changed");
    QVERIFY(cache.put(kInbox, {changed}, {}));
    MailCache::Reader again = cache.read(kInbox, *UidSet::parse("7"), {});
    QCOMPARE(again.next()->record->Subject, QStringLiteral("changed"));
    QCOMPARE(cache.stats().records, 51);

    // And the stored form refuses bytes that are not a record of that UID.
    const QByteArray stored = MailCache::encodeRecord(record(9));
    QVERIFY(MailCache::decodeRecord(stored, 9, 700));
    QVERIFY(!MailCache::decodeRecord(stored, 8, 700));
    QVERIFY(!MailCache::decodeRecord(stored, 9, 701));
    QVERIFY(!MailCache::decodeRecord(stored.left(stored.size() - 3), 9, 700));
    QByteArray flipped = stored;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x40);
    QVERIFY(!MailCache::decodeRecord(flipped, 9, 700));
    QByteArray bloated = stored;
    bloated[0] = char(0x7f);  // claims 2 GiB unpacked
    QVERIFY(!MailCache::decodeRecord(bloated, 9, 700));
    QByteArray shorter = stored;
    shorter[3] = char(shorter[3] - 1);  // one byte less than the frame says
    QVERIFY(!MailCache::decodeRecord(shorter, 9, 700));

    // A record written compressed by zlib, as copies made before zstd hold
    // them, reads back the same.
    QByteArray raw(qsizetype(qFromBigEndian<quint32>(stored.constData())), Qt::Uninitialized);
    QCOMPARE(ZSTD_decompress(raw.data(), size_t(raw.size()), stored.constData() + 4, size_t(stored.size() - 4)),
             size_t(raw.size()));
    uLongf packed = compressBound(uLong(raw.size()));
    QByteArray older(qsizetype(4 + packed), Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(raw.size()), older.data());
    QCOMPARE(compress2(reinterpret_cast<Bytef *>(older.data() + 4), &packed,
                       reinterpret_cast<const Bytef *>(raw.constData()), uLong(raw.size()), Z_DEFAULT_COMPRESSION),
             Z_OK);
    older.resize(qsizetype(4 + packed));
    const std::optional<MailRecord> fromZlib = MailCache::decodeRecord(older, 9, 700);
    QVERIFY(fromZlib);
    QCOMPARE(differences(*fromZlib, record(9)), QString());
    older[older.size() / 2] = char(older[older.size() / 2] ^ 0x40);
    QVERIFY(!MailCache::decodeRecord(older, 9, 700));
}

void TestMailCache::keysAndContentKeepRecordsApart()
{
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    QVERIFY(cache.put(kInbox, records(1, 10), {.headers = true}));
    const UidSet all = *UidSet::parse("1:10");
    QList<MailCacheKey> others(4, kInbox);
    others[0].account = QStringLiteral("bob@example.org");
    others[1].server = QStringLiteral("imap.example.org:143");
    others[2].folder = QStringLiteral("inbox/sub");
    others[3].uidValidity = 701;
    for (const MailCacheKey &other : std::as_const(others)) {
        QVERIFY(cache.cached(other, all, {}).isEmpty());
        MailCache::Reader r = cache.read(other, all, {});
        while (const auto e = r.next())
            QVERIFY(!e->record);
    }
    QCOMPARE(cache.cached(kInbox, all, {.headers = true}).size(), 10);
    QVERIFY(cache.cached(kInbox, all, {.headers = true, .attachmentText = true}).isEmpty());
    QVERIFY(cache.cached(kInbox, all, {.attachments = true}).isEmpty());
    for (quint32 b = 0; b < 32; ++b)
        QCOMPARE(CacheContent::fromBits(b).bits(), b);
    // Records decoded without their HTML body serve only runs that leave it out.
    QVERIFY(cache.cached(kInbox, all, vc::contentOf(vc::DecodeNeeds{})).isEmpty());
    vc::DecodeNeeds plainOnly;
    plainOnly.htmlBody = false;
    QCOMPARE(cache.cached(kInbox, all, vc::contentOf(plainOnly)).size(), 10);
    QVERIFY(cache.put(kInbox, records(1, 2), vc::contentOf(vc::DecodeNeeds{})));
    QCOMPARE(cache.cached(kInbox, all, vc::contentOf(vc::DecodeNeeds{})).toImap(), QByteArray("1:2"));
    QCOMPARE(readAndCheck(cache, kInbox, all, {.gmailLabels = true}), 0);
    // Records of another decoder version count as not kept.
    QVERIFY(sql(file(), {QStringLiteral("UPDATE messages SET decoder = decoder + 1 WHERE uid <= 3")}));
    QCOMPARE(cache.cached(kInbox, all, {}).toImap(), QByteArray("4:10"));
    QCOMPARE(readAndCheck(cache, kInbox, all), 7);
}

void TestMailCache::readerGivesEveryUidInOrder()
{
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    std::vector<quint32> kept;
    for (quint32 u = 1; u <= 2000; u += 3)
        kept.push_back(u);
    QList<MailRecord> batch;
    for (const quint32 u : kept)
        batch << record(u, 2);
    QVERIFY(cache.put(kInbox, batch, {}));
    // Spread over many batches of the reader, with UIDs not kept in between.
    const UidSet asked = *UidSet::parse("1:3000");
    MailCache::Reader r = cache.read(kInbox, asked, {});
    QCOMPARE(r.left(), 3000);
    quint32 expect = 1;
    int with = 0;
    while (const auto e = r.next()) {
        QCOMPARE(e->uid, expect++);
        QCOMPARE(bool(e->record), e->uid <= 2000 && e->uid % 3 == 1);
        with += e->record ? 1 : 0;
    }
    QCOMPARE(expect, 3001u);
    QCOMPARE(with, int(kept.size()));
    QCOMPARE(r.left(), 0);
}

void TestMailCache::dropsWhatTheServerNoLongerHas()
{
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    QVERIFY(cache.put(kInbox, records(1, 20, 2), {}));
    MailCacheKey renumbered = kInbox;
    renumbered.uidValidity = 701;
    MailCacheKey sent = kInbox;
    sent.folder = QStringLiteral("Sent");
    QVERIFY(cache.put(sent, records(1, 5, 2), {}));
    // The server now has 1:5 and 12:30 of the folder.
    QCOMPARE(cache.dropMissing(kInbox, *UidSet::parse("1:5,12:30")), 6);
    QCOMPARE(cache.cached(kInbox, *UidSet::parse("1:100"), {}).toImap(), QByteArray("1:5,12:20"));
    // A new UIDVALIDITY: everything of the old one goes, other folders stay.
    QCOMPARE(cache.dropMissing(renumbered, *UidSet::parse("1:100")), 14);
    QVERIFY(cache.cached(kInbox, *UidSet::parse("1:100"), {}).isEmpty());
    QCOMPARE(cache.cached(sent, *UidSet::parse("1:100"), {}).size(), 5);
}

void TestMailCache::forgetsAnAccount()
{
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    MailCacheKey otherServer = kInbox;
    otherServer.server = QStringLiteral("mail.example.net:993");
    MailCacheKey bob = kInbox;
    bob.account = QStringLiteral("bob@example.org");
    QVERIFY(cache.put(kInbox, records(1, 4, 2), {}));
    QVERIFY(cache.put(otherServer, records(1, 3, 2), {}));
    QVERIFY(cache.put(bob, records(1, 2, 2), {}));
    const UidSet all = *UidSet::parse("1:10");
    QCOMPARE(cache.forgetAccount(kInbox.account, kInbox.server), 4);
    QVERIFY(cache.cached(kInbox, all, {}).isEmpty());
    QCOMPARE(cache.cached(otherServer, all, {}).size(), 3);
    QCOMPARE(cache.forgetAccount(kInbox.account), 3);
    QVERIFY(cache.cached(otherServer, all, {}).isEmpty());
    QCOMPARE(cache.cached(bob, all, {}).size(), 2);
    // Put afresh after forgetting: kept again.
    QVERIFY(cache.put(kInbox, records(1, 1, 2), {}));
    QCOMPARE(cache.cached(kInbox, all, {}).size(), 1);
}

// A folder's state is its UIDVALIDITY's only; a row that contradicts itself
// is not given out, and forgetting the account forgets it.
void TestMailCache::folderStateServesOnlyItsValidity()
{
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    QVERIFY(!cache.folderState(kInbox));
    QVERIFY(cache.setFolderState(kInbox, {3, 10, *UidSet::parse("2,5,9")}));
    std::optional<MailCache::FolderState> kept = cache.folderState(kInbox);
    QVERIFY(kept);
    QCOMPARE(kept->exists, qint64(3));
    QCOMPARE(kept->uidNext, 10u);
    QCOMPARE(kept->uids.toImap(), QByteArray("2,5,9"));

    MailCacheKey renewed = kInbox;
    renewed.uidValidity = kInbox.uidValidity + 1;
    QVERIFY(!cache.folderState(renewed));
    QVERIFY(cache.setFolderState(renewed, {1, 2, *UidSet::parse("1")}));
    QVERIFY(!cache.folderState(kInbox));  // one state per folder: the newer validity's
    QCOMPARE(cache.folderState(renewed)->uids.toImap(), QByteArray("1"));
    // Asked without a UIDVALIDITY (working offline): the one kept, and its validity.
    MailCacheKey unknown = kInbox;
    unknown.uidValidity = 0;
    QCOMPARE(cache.lastFolderState(unknown)->uids.toImap(), QByteArray("1"));
    QCOMPARE(unknown.uidValidity, renewed.uidValidity);
    MailCacheKey elsewhere = unknown;
    elsewhere.folder = QStringLiteral("Sent");
    QVERIFY(!cache.lastFolderState(elsewhere));
    QCOMPARE(cache.completeFolders(kInbox.account, kInbox.server), QStringList{kInbox.folder});

    // The count and the UIDs disagree, or a UID is not below UIDNEXT.
    QVERIFY(cache.setFolderState(kInbox, {4, 10, *UidSet::parse("2,5,9")}));
    QVERIFY(!cache.folderState(kInbox));
    QVERIFY(cache.setFolderState(kInbox, {3, 9, *UidSet::parse("2,5,9")}));
    QVERIFY(!cache.folderState(kInbox));

    QVERIFY(cache.setFolderState(kInbox, {0, 1, UidSet()}));
    QCOMPARE(cache.folderState(kInbox)->exists, qint64(0));
    cache.forgetAccount(kInbox.account);
    QVERIFY(!cache.folderState(kInbox));
}

void TestMailCache::sizeCapDropsLeastRecentlyUsed()
{
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    cache.setSizeCap(qint64(4) << 20);
    // Bodies that do not compress much: random words.
    QRandomGenerator rng(7);
    const auto noisy = [&rng](quint32 uid) {
        MailRecord r = record(uid, 0);
        for (int i = 0; i < 1000; ++i)
            r.PlainTextBody += QString::number(rng.generate64(), 36) + QLatin1Char(' ');
        return r;
    };
    QList<MailRecord> first;
    for (quint32 u = 1; u <= 300; ++u)
        first << noisy(u);
    QVERIFY(cache.put(kInbox, first, {}));
    // 1:100 were used long ago, 101:200 a while ago, 201:300 just now.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(
        sql(file(), {QStringLiteral("UPDATE messages SET used = %1 WHERE uid <= 100").arg(now - 90000),
                     QStringLiteral("UPDATE messages SET used = %1 WHERE uid BETWEEN 101 AND 200").arg(now - 9000)}));
    const qint64 before = cache.stats().recordBytes;
    QVERIFY2(before < (qint64(4) << 20), qPrintable(QString::number(before)));
    for (quint32 u = 301; u <= 700; u += 50) {
        QList<MailRecord> more;
        for (quint32 v = u; v < u + 50; ++v)
            more << noisy(v);
        QVERIFY(cache.put(kInbox, more, {}));
    }
    const MailCache::Stats s = cache.stats();
    QVERIFY2(s.recordBytes <= (qint64(4) << 20), qPrintable(QString::number(s.recordBytes)));
    const UidSet kept = cache.cached(kInbox, *UidSet::parse("1:700"), {});
    QVERIFY2(!kept.contains(1) && !kept.contains(100), kept.toImap().constData());
    QVERIFY2(kept.contains(650) && kept.contains(700), kept.toImap().constData());
    // Whatever went, went oldest first: nothing older is kept where something newer went.
    // Oldest use first, then in the order they came: what is left is the
    // newest end, with both groups used long ago gone.
    QCOMPARE(kept.ranges().size(), size_t(1));
    QCOMPARE(kept.last(), 700u);
    QVERIFY2(kept.first() > 200, kept.toImap().constData());
    // The file shrinks back near the cap.
    QVERIFY2(QFileInfo(file()).size() < (qint64(6) << 20), qPrintable(QString::number(QFileInfo(file()).size())));
}

void TestMailCache::badFilesAreSetAside_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");  // in the warning; empty: no warning
    QTest::newRow("garbage") << QStringLiteral("garbage") << QStringLiteral("is not a database");
    QTest::newRow("a few bytes") << QStringLiteral("short") << QStringLiteral("is not a database");
    QTest::newRow("cut in the middle") << QStringLiteral("truncated") << QStringLiteral("is damaged");
    QTest::newRow("another program's database")
        << QStringLiteral("foreign") << QStringLiteral("is not a mail copy of this program");
    QTest::newRow("another version") << QStringLiteral("version")
                                     << QStringLiteral("was made by another version of this program");
    QTest::newRow("the version before the folder states")
        << QStringLiteral("version 1") << QStringLiteral("was made by another version of this program");
    QTest::newRow("empty file") << QStringLiteral("empty") << QString();
}

void TestMailCache::badFilesAreSetAside()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);
    {
        MailCache cache(folder());
        QVERIFY(cache.open().ok);
        QVERIFY(cache.put(kInbox, records(1, 1500, 20), {}));
    }
    QFile f(file());
    const qint64 full = f.size();
    QVERIFY(full > 200000);
    if (kind == QLatin1String("garbage")) {
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (int i = 0; i < 1000; ++i)
            f.write("not a database at all, just text\n");
    } else if (kind == QLatin1String("short")) {
        QVERIFY(f.resize(40));
    } else if (kind == QLatin1String("truncated")) {
        QVERIFY(f.resize(full / 2));
    } else if (kind == QLatin1String("foreign")) {
        QVERIFY(f.remove());
        QVERIFY(sql(file(), {QStringLiteral("CREATE TABLE messages (uid INTEGER, record BLOB)"),
                             QStringLiteral("INSERT INTO messages VALUES (1, x'00')")}));
    } else if (kind == QLatin1String("version")) {
        QVERIFY(sql(file(), {QStringLiteral("PRAGMA user_version = 99")}));
    } else if (kind == QLatin1String("version 1")) {
        QVERIFY(sql(file(), {QStringLiteral("DROP TABLE folder_state"), QStringLiteral("PRAGMA user_version = 1")}));
    } else {
        QVERIFY(f.resize(0));
    }
    f.close();
    MailCache cache(folder());
    const MailCache::Opened o = cache.open();
    QVERIFY2(o.ok, qPrintable(o.error));
    if (why.isEmpty()) {
        QCOMPARE(o.warning, QString());
    } else {
        QCOMPARE(o.warning, QStringLiteral("The local mail copy %1 %2; it was set aside as %1.damaged and a new one is "
                                           "made.")
                                .arg(file(), why));
        QVERIFY(QFileInfo::exists(file() + QStringLiteral(".damaged")));
    }
    QVERIFY(cache.cached(kInbox, *UidSet::parse("1:3000"), {}).isEmpty());
    QVERIFY(cache.put(kInbox, records(5, 6), {}));
    QCOMPARE(readAndCheck(cache, kInbox, *UidSet::parse("1:10")), 2);
    QCOMPARE(cache.takeWarning(), QString());
}

// Bytes overwritten inside the file, where the header cannot tell: whatever
// comes back is exactly what went in, and the file recovers.
void TestMailCache::damageInsideTheFileNeverGivesAWrongRecord()
{
    {
        MailCache cache(folder());
        QVERIFY(cache.open().ok);
        for (quint32 u = 1; u <= 3000; u += 500)
            QVERIFY(cache.put(kInbox, records(u, u + 499, 20), {}));
    }
    QRandomGenerator rng(11);
    {
        QFile f(file());
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        for (int i = 0; i < 40; ++i) {
            f.seek(8192 + qint64(rng.bounded(quint32(size - 8192 - 64))));
            QByteArray junk(48, '\0');
            for (char &c : junk)
                c = char(rng.bounded(256));
            f.write(junk);
        }
    }
    MailCache cache(folder());
    const MailCache::Opened o = cache.open();
    QVERIFY2(o.ok, qPrintable(o.error));
    const UidSet all = *UidSet::parse("1:3000");
    const UidSet kept = cache.cached(kInbox, all, {});
    const int found = readAndCheck(cache, kInbox, all);
    QVERIFY2(found >= 0, qPrintable(QString::number(found)));
    // Damage to an index page can hide rows from cached() that the reader
    // still finds whole (each checked above): the count read is bounded by
    // what was put, not by what cached() answered.
    QVERIFY2(found <= all.size(), qPrintable(QStringLiteral("%1 read, %2 kept").arg(found).arg(kept.size())));
    const QString warning = o.warning + cache.takeWarning();
    QVERIFY2(found < 3000 || warning.isEmpty(), qPrintable(warning));
    // Usable afterwards, whatever happened.
    QVERIFY(cache.put(kInbox, records(4001, 4010), {}));
    QCOMPARE(readAndCheck(cache, kInbox, *UidSet::parse("4001:4010")), 10);
}

void TestMailCache::folderAndFileAreTheOwnersOnly()
{
    MailCache cache(folder() + QStringLiteral("/deeper"));
    QVERIFY(cache.open().ok);
    QVERIFY(cache.put(kInbox, records(1, 2), {}));
    // Owner bits, and what the group and others may do.
    const auto mode = [](const QString &path) {
        const QFile::Permissions p = QFileInfo(path).permissions();
        return QStringLiteral("%1%2%3 %4")
            .arg(p & QFile::ReadOwner ? 'r' : '-')
            .arg(p & QFile::WriteOwner ? 'w' : '-')
            .arg(p & QFile::ExeOwner ? 'x' : '-')
            .arg(int(p
                     & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther
                        | QFile::ExeOther)));
    };
    QCOMPARE(mode(folder() + QStringLiteral("/deeper")), QStringLiteral("rwx 0"));
    QCOMPARE(mode(cache.path()), QStringLiteral("rw- 0"));
    QCOMPARE(mode(cache.path() + QStringLiteral("-wal")), QStringLiteral("rw- 0"));
}

void TestMailCache::twoProgramsWriteAtOnce()
{
    {
        MailCache cache(folder());
        QVERIFY(cache.open().ok);
    }
    QList<QProcess *> writers;
    for (int i = 0; i < 2; ++i) {
        auto *p = new QProcess(this);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--write-cache"), folder(), QString::number(1 + i * 100000), QStringLiteral("1000")});
        writers << p;
    }
    // And this program reads meanwhile.
    MailCache reader(folder());
    QVERIFY(reader.open().ok);
    int reads = 0;
    while (writers[0]->state() != QProcess::NotRunning || writers[1]->state() != QProcess::NotRunning) {
        reader.cached(kInbox, *UidSet::parse("1:200000"), {});
        ++reads;
        QTest::qWait(5);
    }
    for (QProcess *p : writers) {
        QCOMPARE(p->state(), QProcess::NotRunning);
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }
    QVERIFY(reads > 0);
    QCOMPARE(reader.cached(kInbox, *UidSet::parse("1:200000"), {}).toImap(), QByteArray("1:1000,100001:101000"));
    QCOMPARE(readAndCheck(reader, kInbox, *UidSet::parse("995:1000,100001:100005"), {}, 5), 11);
}

void TestMailCache::writerThreadWritesEverything()
{
    vc::MailCacheWriter writer(folder(), MailCache::kDefaultSizeCap, 64 * 1024);  // a small queue: add() waits
    MailCacheKey sent = kInbox;
    sent.folder = QStringLiteral("Sent");
    for (quint32 u = 1; u <= 1000; ++u)
        writer.add(u % 2 ? kInbox : sent, record(u, 5), {.headers = true});
    const vc::MailCacheWriter::Done done = writer.finish();
    QCOMPARE(done.error, QString());
    QCOMPARE(done.written, 1000);
    QCOMPARE(done.failed, 0);
    MailCache cache(folder());
    QVERIFY(cache.open().ok);
    QCOMPARE(cache.cached(kInbox, *UidSet::parse("1:1000"), {.headers = true}).size(), 500);
    QCOMPARE(cache.cached(sent, *UidSet::parse("1:1000"), {.headers = true}).size(), 500);
    QCOMPARE(readAndCheck(cache, sent, *UidSet::parse("1:20"), {.headers = true}, 5), 10);

    // A writer given nothing (a walk that fetched nothing) leaves the file alone.
    const QString untouched = dir->filePath(QStringLiteral("untouched"));
    QVERIFY(vc::MailCacheWriter(untouched).finish().error.isEmpty());
    QVERIFY(!QFileInfo::exists(untouched + QLatin1Char('/') + QLatin1String(MailCache::kFileName)));
}

// A walk's kept records come back as this run's decoder would make them, or
// are fetched again: never with attachment text the run did not ask for, and
// not at all for a run that needs attachment bytes.
void TestMailCache::walkServesOnlyWhatTheRunReads_data()
{
    QTest::addColumn<bool>("headers");
    QTest::addColumn<bool>("htmlBody");
    QTest::addColumn<bool>("attachments");
    QTest::addColumn<bool>("attachmentText");
    QTest::addColumn<bool>("keepBytes");
    QTest::addColumn<QByteArray>("fetched");
    QTest::newRow("what was decoded") << true << true << true << true << false << QByteArray("5");
    QTest::newRow("less: no headers, no HTML") << false << false << true << true << false << QByteArray("5");
    QTest::newRow("no attachment text in the body") << true << true << true << false << false << QByteArray("1:5");
    QTest::newRow("attachment bytes to save") << true << true << true << true << true << QByteArray("1:5");
}

void TestMailCache::walkServesOnlyWhatTheRunReads()
{
    QFETCH(bool, headers);
    QFETCH(bool, htmlBody);
    QFETCH(bool, attachments);
    QFETCH(bool, attachmentText);
    QFETCH(bool, keepBytes);
    QFETCH(QByteArray, fetched);
    vc::MailCacheSettings settings{true, folder(), MailCache::kDefaultSizeCap};
    vc::DecodeNeeds full;
    full.headers = full.htmlBody = full.attachments = full.attachmentText = true;
    {
        vc::WalkCache first(settings, kInbox, full);
        QVERIFY(first.open());
        first.plan(*UidSet::parse("1:4"), true);
        QCOMPARE(first.toFetch().toImap(), QByteArray("1:4"));
        for (const MailRecord &r : records(1, 4))
            first.keep(r);
        QCOMPARE(first.finish().fetched, 4);
    }
    vc::DecodeNeeds needs;
    needs.headers = headers;
    needs.htmlBody = htmlBody;
    needs.attachments = attachments;
    needs.attachmentText = attachmentText;
    if (keepBytes)
        needs.keepBytes = [](const vc::AttachmentInfo &) { return true; };
    vc::WalkCache again(settings, kInbox, needs);
    QVERIFY(again.open());
    const UidSet walk = *UidSet::parse("1:5");
    again.plan(walk, true);
    QCOMPARE(again.toFetch().toImap(), fetched);
    for (qint64 i = 0; i < walk.size(); ++i) {
        const quint32 uid = walk.at(i);
        const std::optional<MailRecord> r = again.take(uid);
        QCOMPARE(bool(r), !again.toFetch().contains(uid));
        if (!r)
            continue;
        MailRecord expected = record(uid);
        expected.gmailLabels.clear();
        if (!headers)
            expected.headers.clear();
        if (!htmlBody)
            expected.HTMLTextBody.clear();
        expected.folder = kInbox.folder;
        QVERIFY2(differences(*r, expected).isEmpty(), qPrintable(differences(*r, expected)));
        QVERIFY(!again.take(uid));  // handed out once
    }
    QCOMPARE(again.finish().fromDisk, walk.size() - again.toFetch().size());
}

// The component of a program working offline: the folders the copy has read
// whole, a select as that read found the folder, and single fetches by place
// and by UID, each with only what the decoder is asked for.
void TestMailCache::offlineComponentServesTheKeptWalk()
{
    {
        MailCache cache(folder());
        QVERIFY(cache.open().ok);
        QVERIFY(cache.put(kInbox, {record(3), record(8), record(9)}, {.headers = true}));
        QVERIFY(cache.setFolderState(kInbox, {3, 12, *UidSet::parse("3,8:9")}));
    }
    vc::LocalCopyImap imap({true, folder(), MailCache::kDefaultSizeCap});
    vc::DecodeNeeds plain;
    plain.htmlBody = false;
    imap.setDecodeNeeds(plain);
    QVERIFY(!imap.ListMailboxes(QString(), QStringLiteral("*")));  // not signed in yet
    imap.setPort(993);
    QVERIFY(imap.Connect(QStringLiteral("IMAP.example.org")));
    QVERIFY(imap.Login(kInbox.account, QString()));
    const vc::ImapResult<vc::MailboxList> boxes = imap.ListMailboxes(QString(), QStringLiteral("*"));
    QVERIFY(boxes);
    QCOMPARE(boxes->Count(), 1);
    QCOMPARE(boxes->GetName(0), QStringLiteral("INBOX"));

    const vc::ImapResult<vc::MailboxStatus> none = imap.SelectMailbox(QStringLiteral("Archive"));
    QVERIFY(!none);
    QCOMPARE(none.fault().kind, vc::ImapFailure::NotKept);
    QVERIFY(none.fault().reason.contains(QLatin1String("no complete read of Archive of ann@example.org")));

    const vc::ImapResult<vc::MailboxStatus> selected = imap.SelectMailbox(QStringLiteral("INBOX"));
    QVERIFY(selected);
    QCOMPARE(selected->exists, 3);
    QCOMPARE(selected->uidValidity, 700u);
    QCOMPARE(selected->uidNext, 12u);
    QCOMPARE(imap.NumMessages(), 3);

    const vc::ImapResult<MailRecord> second = imap.FetchSingle(2, false);
    QVERIFY(second);
    QCOMPARE(second->uid, 8u);
    QCOMPARE(second->Subject, record(8).Subject);
    QVERIFY(second->headers.isEmpty());       // not asked for
    QVERIFY(second->HTMLTextBody.isEmpty());  // nor this
    const vc::ImapResult<MailRecord> byUid = imap.FetchSingle(9, true);
    QVERIFY(byUid);
    QCOMPARE(byUid->messageId, record(9).messageId);
    QVERIFY(!imap.FetchSingle(4, false));  // past the kept walk
    QVERIFY(!imap.FetchSingle(5, true));   // a UID the walk did not find

    // Asked for more than the copy keeps (attachment text): nothing is made up.
    vc::DecodeNeeds more = plain;
    more.attachmentText = true;
    imap.setDecodeNeeds(more);
    const vc::ImapResult<MailRecord> lacking = imap.FetchSingle(1, false);
    QVERIFY(!lacking);
    QCOMPARE(lacking.fault().kind, vc::ImapFailure::NoMessage);
    QVERIFY(!imap.startUidWalk(*UidSet::parse("3")));
}

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--write-cache") == 0) {
        QCoreApplication app(argc, argv);
        return writerProcess(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toUInt(),
                             QByteArray(argv[4]).toUInt());
    }
    QCoreApplication app(argc, argv);
    TestMailCache test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_mail_cache.moc"
