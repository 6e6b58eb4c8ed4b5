// The scope commands and the UID walk against the test Dovecot: folders with
// blanks, accents and "&", every search filter compared with what Dovecot's
// own doveadm search finds, a refused key, and a walk over a folder with
// holes in its UIDs.
#include "TestServer.h"
#include "mail/ImapClient.h"

#include <QtTest>

using vc::failureName;
using vc::FolderInfo;
using vc::ImapClient;
using vc::SearchFilter;
using vc::UidSet;
using vc::test::TestServer;

Q_DECLARE_METATYPE(vc::SearchFilter)

namespace {

const QString kFilters = QStringLiteral("Filters");

QByteArray mail(const QByteArray &from, const QByteArray &to, const QByteArray &subject, int day, int bodyLines)
{
    QByteArray m = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\nDate: "
                   + QByteArray::number(day) + " Mar 2024 12:00:00 +0000\r\nMessage-ID: <d" + QByteArray::number(day)
                   + "@example.org>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    for (int i = 0; i < bodyLines; ++i)
        m += "Body line " + QByteArray::number(i) + " of the message, with a few words.\r\n";
    return m;
}

// What doveadm search finds in `folder` for the IMAP search keys `query`.
UidSet doveadmSearch(const QString &folder, const QStringList &query)
{
    QByteArray out;
    const int code =
        TestServer::script(QStringList{QStringLiteral("doveadm"), QStringLiteral("search"), QStringLiteral("-u"),
                                       TestServer::user(), QStringLiteral("mailbox"), folder}
                               + query,
                           &out);
    if (code != 0) {
        qWarning("doveadm search failed: %s", out.constData());
        return {};
    }
    std::vector<quint32> uids;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() == 2)
            uids.push_back(words[1].toUInt());
    }
    return UidSet::of(uids);
}

bool doveadm(const QStringList &args)
{
    QByteArray out;
    const bool ok = TestServer::script(QStringList{QStringLiteral("doveadm")} + args, &out) == 0;
    if (!ok)
        qWarning("doveadm %s: %s", qPrintable(args.join(QLatin1Char(' '))), out.constData());
    return ok;
}

}  // namespace

class TestImapScopeServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void foldersWithAwkwardNames();
    void filtersMatchDoveadm_data();
    void filtersMatchDoveadm();
    void refusedKeyIsNamed();
    void uidWalkOverAFolderWithHoles();

private:
    bool open(ImapClient &client, const QString &folder = QStringLiteral("INBOX"));
};

void TestImapScopeServer::initTestCase()
{
    if (!TestServer::available())
        QSKIP("the test IMAP server is not running");
    TestServer::resetMailbox();
    // The messages the filters choose from, in a folder of their own (made
    // afresh, so their UIDs are 1 to 6); 1 and 4 are read.
    TestServer::deliver(kFilters, mail("Ann <ann@example.org>", "bob@example.org", "Invoice 1", 1, 5));
    TestServer::deliver(kFilters, mail("=?UTF-8?Q?J=C3=B6rg?= <joerg@example.de>", "bob@example.org",
                                       "=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=", 5, 5));
    TestServer::deliver(kFilters, mail("Carl <carl@example.com>", "dora@example.net", "say \"hi\"", 10, 100));
    TestServer::deliver(kFilters, mail("Ann <ann@example.org>", "dora@example.net", "Meeting", 15, 100));
    TestServer::deliver(kFilters, mail("Eve <eve@example.com>", "bob@example.org", "Invoice 2", 20, 5));
    TestServer::deliver(kFilters, mail("=?UTF-8?Q?J=C3=B6rg?= <joerg@example.de>", "dora@example.net",
                                       "Re: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=", 25, 100));
    QVERIFY(doveadm({QStringLiteral("flags"), QStringLiteral("add"), QStringLiteral("-u"), TestServer::user(),
                     QStringLiteral("\\Seen"), QStringLiteral("mailbox"), kFilters, QStringLiteral("uid"),
                     QStringLiteral("1,4")}));
}

void TestImapScopeServer::cleanupTestCase()
{
    if (TestServer::available())
        TestServer::resetMailbox();  // the awkward folders go
}

bool TestImapScopeServer::open(ImapClient &client, const QString &folder)
{
    client.configure(TestServer::config());
    client.setPort(TestServer::port());
    return client.Connect(TestServer::config().host).ok()
           && client.Login(TestServer::user(), TestServer::password()).ok() && client.SelectMailbox(folder).ok();
}

void TestImapScopeServer::foldersWithAwkwardNames()
{
    const QStringList awkward{QStringLiteral("Résumé & Notes"), QStringLiteral("R&D"), QStringLiteral("Two  Blanks"),
                              QStringLiteral("Ποιήματα/Νέα")};
    for (int i = 0; i < awkward.size(); ++i) {
        for (int n = 0; n <= i; ++n)
            TestServer::deliver(awkward[i], mail("Ann <ann@example.org>", "bob@example.org", "In a folder", 1 + n, 3));
    }
    ImapClient client;
    QVERIFY2(open(client), qPrintable(client.LastErrorText()));
    const auto folders = client.listFolders(true);
    QVERIFY2(folders, qPrintable(folders.fault().reason));
    QHash<QString, FolderInfo> byName;
    for (const FolderInfo &f : *folders)
        byName.insert(f.name, f);
    for (int i = 0; i < awkward.size(); ++i) {
        QVERIFY2(byName.contains(awkward[i]), qPrintable(byName.keys().join(QLatin1Char('|'))));
        const FolderInfo f = byName.value(awkward[i]);
        QVERIFY(f.selectable);
        QCOMPARE(f.delimiter, QStringLiteral("/"));
        QCOMPARE(f.messages, i + 1);
        // Each can be counted, selected, searched and walked under its decoded name.
        const auto status = client.folderStatus(awkward[i]);
        QVERIFY2(status, qPrintable(status.fault().reason));
        QCOMPARE(status->messages, i + 1);
        QCOMPARE(status->uidNext, quint32(i + 2));
        QVERIFY(client.SelectMailbox(awkward[i]).ok());
        QCOMPARE(status->uidValidity, client.uidValidity());
        const auto all = client.searchUids({});
        QVERIFY2(all, qPrintable(all.fault().reason));
        QCOMPARE(*all, doveadmSearch(awkward[i], {QStringLiteral("ALL")}));
        QVERIFY(client.startUidWalk(*all));
        for (qint64 p = 1; p <= all->size(); ++p) {
            const auto m = client.fetchUidWalk(p);
            QVERIFY2(m, qPrintable(m.fault().reason));
            QCOMPARE(m->Subject, QStringLiteral("In a folder"));
        }
    }
    QCOMPARE(byName.value(QStringLiteral("Sent")).specialUse, QStringLiteral("\\Sent"));
    QCOMPARE(byName.value(QStringLiteral("Deleted")).specialUse, QStringLiteral("\\Trash"));
    QCOMPARE(byName.value(QStringLiteral("Junk")).specialUse, QStringLiteral("\\Junk"));
    QCOMPARE(byName.value(kFilters).messages, 6);
    QVERIFY(!client.isGmail());
}

void TestImapScopeServer::filtersMatchDoveadm_data()
{
    QTest::addColumn<SearchFilter>("filter");
    QTest::addColumn<QStringList>("query");  // the same for doveadm search
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char *name, SearchFilter f, const QStringList &query, const char *uids) {
        QTest::newRow(name) << f << query << QByteArray(uids);
    };
    row("everything", {}, {QStringLiteral("ALL")}, "1:6");
    SearchFilter f;
    f.since = QDate(2024, 3, 10);
    row("since", f, {QStringLiteral("SENTSINCE"), QStringLiteral("10-Mar-2024")}, "3:6");
    f = {};
    f.before = QDate(2024, 3, 10);
    row("before", f, {QStringLiteral("SENTBEFORE"), QStringLiteral("10-Mar-2024")}, "1:2");
    f.since = QDate(2024, 3, 5);
    f.before = QDate(2024, 3, 20);
    row("between", f,
        {QStringLiteral("SENTSINCE"), QStringLiteral("5-Mar-2024"), QStringLiteral("SENTBEFORE"),
         QStringLiteral("20-Mar-2024")},
        "2:4");
    f = {};
    f.from = QStringLiteral("ann");
    row("from", f, {QStringLiteral("FROM"), QStringLiteral("ann")}, "1,4");
    f.from = QStringLiteral("Jörg");
    row("from, not ASCII", f, {QStringLiteral("FROM"), QStringLiteral("Jörg")}, "2,6");
    f = {};
    f.to = QStringLiteral("dora");
    row("to", f, {QStringLiteral("TO"), QStringLiteral("dora")}, "3:4,6");
    f = {};
    f.subject = QStringLiteral("Grüße");
    row("subject, not ASCII", f, {QStringLiteral("SUBJECT"), QStringLiteral("Grüße")}, "2,6");
    f.subject = QStringLiteral("say \"hi\"");
    row("subject with quotes", f, {QStringLiteral("SUBJECT"), QStringLiteral("say \"hi\"")}, "3");
    f = {};
    f.larger = 3000;
    row("larger", f, {QStringLiteral("LARGER"), QStringLiteral("3000")}, "3:4,6");
    f = {};
    f.smaller = 3000;
    row("smaller", f, {QStringLiteral("SMALLER"), QStringLiteral("3000")}, "1:2,5");
    f = {};
    f.unseen = true;
    row("unseen", f, {QStringLiteral("UNSEEN")}, "2:3,5:6");
    f.from = QStringLiteral("ann");
    row("unseen from", f, {QStringLiteral("FROM"), QStringLiteral("ann"), QStringLiteral("UNSEEN")}, "");
    f = {};
    f.raw = QStringLiteral("OR FROM ann SUBJECT invoice");
    // doveadm writes OR between its two keys.
    row("raw OR", f,
        {QStringLiteral("("), QStringLiteral("FROM"), QStringLiteral("ann"), QStringLiteral("OR"),
         QStringLiteral("SUBJECT"), QStringLiteral("invoice"), QStringLiteral(")")},
        "1,4:5");
    f.raw = QStringLiteral("NOT FROM ann");
    row("raw NOT", f, {QStringLiteral("NOT"), QStringLiteral("FROM"), QStringLiteral("ann")}, "2:3,5:6");
    f.raw = QStringLiteral("SUBJECT Grüße LARGER 3000");
    f.to = QStringLiteral("dora");
    row("to and raw keys, not ASCII", f,
        {QStringLiteral("TO"), QStringLiteral("dora"), QStringLiteral("SUBJECT"), QStringLiteral("Grüße"),
         QStringLiteral("LARGER"), QStringLiteral("3000")},
        "6");
}

void TestImapScopeServer::filtersMatchDoveadm()
{
    QFETCH(SearchFilter, filter);
    QFETCH(QStringList, query);
    QFETCH(QByteArray, expected);
    ImapClient client;
    QVERIFY2(open(client, kFilters), qPrintable(client.LastErrorText()));
    QVERIFY(client.capabilities().contains(QStringLiteral("ESEARCH")));
    const auto found = client.searchUids(filter);
    QVERIFY2(found, qPrintable(found.fault().reason));
    QCOMPARE(*found, doveadmSearch(kFilters, query));
    QCOMPARE(found->toImap(), expected);
}

void TestImapScopeServer::refusedKeyIsNamed()
{
    ImapClient client;
    QVERIFY2(open(client), qPrintable(client.LastErrorText()));
    SearchFilter f;
    f.from = QStringLiteral("ann");
    f.raw = QStringLiteral("SENTSINCE not-a-date");
    const auto refused = client.searchUids(f);
    QVERIFY(!refused);
    QVERIFY2(refused.fault().reason.startsWith(
                 QStringLiteral("UID SEARCH failed: the server refused the search key SENTSINCE not-a-date (BAD ")),
             qPrintable(refused.fault().reason));
    QCOMPARE(failureName(refused.fault().kind), "Refusal");
    f.raw = QStringLiteral("NO-SUCH-KEY");
    QVERIFY2(client.searchUids(f).fault().reason.contains(QStringLiteral("the search key NO-SUCH-KEY (")),
             qPrintable(client.LastErrorText()));
    // The connection goes on.
    QVERIFY(client.searchUids({}));
    f = {};
    f.gmailLabel = QStringLiteral("Work");
    QCOMPARE(failureName(client.searchUids(f).fault().kind), "BadRequest");
}

void TestImapScopeServer::uidWalkOverAFolderWithHoles()
{
    const QString folder = QStringLiteral("Walk Here");
    // Loaded in name order, so message n gets UID n.
    QTemporaryDir source;
    for (int n = 1; n <= 300; ++n) {
        QFile f(source.filePath(QStringLiteral("%1.eml").arg(n, 4, 10, QLatin1Char('0'))));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(mail("Ann <ann@example.org>", "bob@example.org", "Walk message " + QByteArray::number(n), 1 + n % 28,
                     3 + n % 40));
    }
    QCOMPARE(TestServer::script({QStringLiteral("load"), folder, source.path()}), 0);
    QVERIFY(doveadm({QStringLiteral("expunge"), QStringLiteral("-u"), TestServer::user(), QStringLiteral("mailbox"),
                     folder, QStringLiteral("uid"), QStringLiteral("7,20:40,100:101,299")}));
    ImapClient client;
    client.setReadAheadWindow(40);  // many ranges
    QVERIFY2(open(client, folder), qPrintable(client.LastErrorText()));
    const auto all = client.searchUids({});
    QVERIFY2(all, qPrintable(all.fault().reason));
    QCOMPARE(all->toImap(), QByteArray("1:6,8:19,41:99,102:298,300"));
    QCOMPARE(*all, doveadmSearch(folder, {QStringLiteral("ALL")}));
    // The walk is also given UIDs that are gone: each is a failed fetch, the walk goes on.
    UidSet walk = *all;
    walk.add(20, 22);
    walk.add(299);
    QVERIFY(client.startUidWalk(walk));
    QStringList failed;
    for (qint64 p = 1; p <= walk.size(); ++p) {
        const quint32 uid = walk.at(p - 1);
        const auto m = client.fetchUidWalk(p);
        if (!m) {
            QCOMPARE(failureName(m.fault().kind), "NoMessage");
            failed << QString::number(uid);
            continue;
        }
        QCOMPARE(m->uid, uid);
        QCOMPARE(m->Subject, QStringLiteral("Walk message %1").arg(uid));
        QCOMPARE(m->uidValidity, client.uidValidity());
    }
    QCOMPARE(failed,
             (QStringList{QStringLiteral("20"), QStringLiteral("21"), QStringLiteral("22"), QStringLiteral("299")}));
    QVERIFY(client.isConnected());
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")).ok());
    QVERIFY(client.Disconnect().ok());
}

QTEST_GUILESS_MAIN(TestImapScopeServer)
#include "test_imap_scope_server.moc"
