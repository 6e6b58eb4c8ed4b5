// The client's scope commands against scripted dialogues: UID SEARCH with and
// without ESEARCH, refused keys, STATUS, and the folder list.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "mail/ImapClient.h"

#include <QtTest>

using vc::failureName;
using vc::FolderInfo;
using vc::ImapClient;
using vc::SearchFilter;

Q_DECLARE_METATYPE(vc::SearchFilter)

namespace {

const QByteArray kSelect = R"(
    C: V0001 SELECT "INBOX"
    S: * 3 EXISTS
    S: * OK [UIDVALIDITY 77] valid
    S: V0001 OK [READ-WRITE] done
)";

QByteArray greeting(const QByteArray &capability)
{
    return "S: * OK [CAPABILITY IMAP4rev1 " + capability + "] ready\n";
}

QStringList described(const QList<FolderInfo> &folders)
{
    QStringList out;
    for (const FolderInfo &f : folders)
        out << QStringLiteral("%1|%2|%3|%4|%5")
                   .arg(f.name, f.delimiter, f.specialUse, f.selectable ? QStringLiteral("yes") : QStringLiteral("no"))
                   .arg(f.messages);
    return out;
}

}  // namespace

class TestImapScope : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { server = std::make_unique<FakeImapServer>(); }

    void search_data();
    void search();
    void searchRefusedBeforeTheWire();
    void gmailLabelSearch();
    void status();
    void listWithSpecialUseAndStatus();
    void listPlainCountsEachFolder();

private:
    bool open(ImapClient &client, bool select = true);
    std::unique_ptr<FakeImapServer> server;
};

bool TestImapScope::open(ImapClient &client, bool select)
{
    vc::test::connectPlain(client, *server);
    return client.Connect(QStringLiteral("127.0.0.1")).ok()
           && (!select || client.SelectMailbox(QStringLiteral("INBOX")).ok());
}

void TestImapScope::search_data()
{
    QTest::addColumn<QByteArray>("capability");
    QTest::addColumn<SearchFilter>("filter");
    QTest::addColumn<QByteArray>("dialogue");  // after SELECT
    QTest::addColumn<QString>("expected");     // the UID set, or the error text

    SearchFilter jorg;
    jorg.from = QStringLiteral("Jörg");
    jorg.subject = QStringLiteral("x");
    QTest::newRow("ESEARCH, non-synchronising literal") << QByteArray("ESEARCH LITERAL+") << jorg << QByteArray(R"(
        C: V0002 UID SEARCH RETURN (ALL) CHARSET UTF-8 FROM {5+}
        C: J\xC3\xB6rg SUBJECT "x"
        S: * ESEARCH (TAG "OTHER") UID ALL 100:200
        S: * ESEARCH (TAG "V0002") UID ALL 4:6,9
        S: V0002 OK done
    )") << QStringLiteral("4:6,9");
    QTest::newRow("SEARCH, synchronising literal") << QByteArray() << jorg << QByteArray(R"(
        C: V0002 UID SEARCH CHARSET UTF-8 FROM {5}
        S: + go ahead
        C: J\xC3\xB6rg SUBJECT "x"
        S: * SEARCH 9 4 5
        S: * SEARCH 6
        S: V0002 OK done
    )") << QStringLiteral("4:6,9");
    QTest::newRow("ESEARCH, nothing found") << QByteArray("ESEARCH") << SearchFilter() << QByteArray(R"(
        C: V0002 UID SEARCH RETURN (ALL) ALL
        S: * ESEARCH (TAG "V0002") UID
        S: V0002 OK done
    )") << QString();

    SearchFilter raw;
    raw.raw = QStringLiteral("FOO 3");
    QTest::newRow("one key refused")
        << QByteArray() << raw << QByteArray(R"(
        C: V0002 UID SEARCH FOO 3
        S: V0002 BAD Error in IMAP command UID SEARCH: Unknown argument FOO
    )")
        << QStringLiteral("UID SEARCH failed: the server refused the search key FOO 3 (BAD Error in IMAP command UID "
                          "SEARCH: Unknown argument FOO)");

    SearchFilter three;
    three.from = QStringLiteral("ann");
    three.unseen = true;
    three.raw = QStringLiteral("X-FOO");
    QTest::newRow("the refused one of several") << QByteArray() << three << QByteArray(R"(
        C: V0002 UID SEARCH FROM "ann" UNSEEN X-FOO
        S: V0002 BAD Unknown argument
        C: V0003 UID SEARCH FROM "ann"
        S: * SEARCH 1
        S: V0003 OK done
        C: V0004 UID SEARCH UNSEEN
        S: * SEARCH
        S: V0004 OK done
        C: V0005 UID SEARCH X-FOO
        S: V0005 BAD Unknown argument
    )") << QStringLiteral("UID SEARCH failed: the server refused the search key X-FOO (BAD Unknown argument)");

    SearchFilter two;
    two.from = QStringLiteral("ann");
    two.unseen = true;
    QTest::newRow("refused together only")
        << QByteArray() << two << QByteArray(R"(
        C: V0002 UID SEARCH FROM "ann" UNSEEN
        S: V0002 NO Too complex
        C: V0003 UID SEARCH FROM "ann"
        S: V0003 OK done
        C: V0004 UID SEARCH UNSEEN
        S: V0004 OK done
    )")
        << QStringLiteral("UID SEARCH failed: the server refused the search keys FROM \"ann\" UNSEEN together (NO "
                          "Too complex)");

    QTest::newRow("no UTF-8 on the server")
        << QByteArray() << jorg << QByteArray(R"(
        C: V0002 UID SEARCH CHARSET UTF-8 FROM {5}
        S: V0002 NO [BADCHARSET (US-ASCII)] charset not supported
        C: V0003 UID SEARCH CHARSET UTF-8 FROM {5}
        S: V0003 NO [BADCHARSET (US-ASCII)] charset not supported
    )")
        << QStringLiteral("UID SEARCH failed: the server refused the search key FROM \"Jörg\" (NO [BADCHARSET "
                          "(US-ASCII)] charset not supported)");

    QTest::newRow("not a UID in the answer") << QByteArray() << SearchFilter() << QByteArray(R"(
        C: V0002 UID SEARCH ALL
        S: * SEARCH 1 x
        S: V0002 OK done
    )") << QStringLiteral("UID SEARCH failed: the server's SEARCH answer holds \"x\", which is not a UID");

    QTest::newRow("line lost") << QByteArray("ESEARCH") << raw << QByteArray(R"(
        C: V0002 UID SEARCH RETURN (ALL) FOO 3
        DROP
    )") << QStringLiteral("UID SEARCH failed: the connection was closed by the server");
}

void TestImapScope::search()
{
    QFETCH(QByteArray, capability);
    QFETCH(SearchFilter, filter);
    QFETCH(QByteArray, dialogue);
    QFETCH(QString, expected);
    server->scripts = {greeting(capability) + kSelect + dialogue};
    ImapClient client;
    QVERIFY(open(client));
    const vc::ImapResult<vc::UidSet> found = client.searchUids(filter);
    QCOMPARE(found ? QString::fromLatin1(found->toImap()) : found.fault().reason, expected);
    QCOMPARE(client.LastErrorText(), found ? QStringLiteral("UID SEARCH: OK") : expected);
    QCOMPARE(server->scriptError(), QString());
}

void TestImapScope::searchRefusedBeforeTheWire()
{
    server->scripts = {greeting("ESEARCH") + kSelect};
    ImapClient client;
    SearchFilter f;
    QVERIFY(!client.searchUids(f));
    QCOMPARE(client.LastErrorText(), QStringLiteral("UID SEARCH failed: not connected"));
    QVERIFY(open(client, false));
    QCOMPARE(client.searchUids(f).fault().reason, QStringLiteral("UID SEARCH failed: no mailbox is selected"));
    QCOMPARE(failureName(client.lastFailure()), "NotSelected");
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")).ok());
    f.gmailLabel = QStringLiteral("Work");
    const auto label = client.searchUids(f);
    QCOMPARE(label.fault().reason, QStringLiteral("UID SEARCH failed: labels are a feature of Gmail, and this server "
                                                  "is not Gmail's (it does not offer X-GM-EXT-1)"));
    QCOMPARE(failureName(label.fault().kind), "BadRequest");
    f = SearchFilter();
    f.raw = QStringLiteral("(SEEN");
    QCOMPARE(client.searchUids(f).fault().reason,
             QStringLiteral("UID SEARCH failed: the search keys cannot be sent: a \"(\" is not closed"));
    QVERIFY(client.isConnected());
    QCOMPARE(server->scriptError(), QString());
}

void TestImapScope::gmailLabelSearch()
{
    server->scripts = {greeting("X-GM-EXT-1") + kSelect + R"(
        C: V0002 UID SEARCH X-GM-RAW "label:\\\"Big Clients\\\"" UNSEEN
        S: * SEARCH 12 13
        S: V0002 OK done
    )"};
    ImapClient client;
    QVERIFY(open(client));
    QVERIFY(client.isGmail());
    SearchFilter f;
    f.gmailLabel = QStringLiteral("Big Clients");
    f.raw = QStringLiteral("UNSEEN");
    const auto found = client.searchUids(f);
    QVERIFY2(found, qPrintable(found.fault().reason));
    QCOMPARE(found->toImap(), QByteArray("12:13"));
    QCOMPARE(server->scriptError(), QString());
}

void TestImapScope::status()
{
    server->scripts = {greeting("LITERAL+") + R"(
        C: V0001 STATUS "Sent Items" (MESSAGES UIDNEXT UIDVALIDITY)
        S: * STATUS "Other" (MESSAGES 1 UIDNEXT 2 UIDVALIDITY 3)
        S: * STATUS "Sent Items" (MESSAGES 12 UIDNEXT 40 UIDVALIDITY 1234)
        S: V0001 OK done
        C: V0002 STATUS "Entw&APw-rfe" (MESSAGES UIDNEXT UIDVALIDITY)
        S: * STATUS {12}\r\nEntw&APw-rfe (UIDVALIDITY 9 MESSAGES 0 UIDNEXT 1)
        S: V0002 OK done
        C: V0003 STATUS "Gone" (MESSAGES UIDNEXT UIDVALIDITY)
        S: V0003 NO Mailbox doesn't exist: Gone
        C: V0004 STATUS "Quiet" (MESSAGES UIDNEXT UIDVALIDITY)
        S: V0004 OK done
    )"};
    ImapClient client;
    QVERIFY(open(client, false));
    const auto sent = client.folderStatus(QStringLiteral("Sent Items"));
    QVERIFY2(sent, qPrintable(sent.fault().reason));
    QCOMPARE(sent->messages, 12);
    QCOMPARE(sent->uidNext, 40u);
    QCOMPARE(sent->uidValidity, 1234u);
    const auto drafts = client.folderStatus(QStringLiteral("Entwürfe"));
    QVERIFY2(drafts, qPrintable(drafts.fault().reason));
    QCOMPARE(drafts->messages, 0);
    QCOMPARE(drafts->uidNext, 1u);
    QCOMPARE(drafts->uidValidity, 9u);
    const auto gone = client.folderStatus(QStringLiteral("Gone"));
    QCOMPARE(gone.fault().reason, QStringLiteral("STATUS Gone failed: NO Mailbox doesn't exist: Gone"));
    QCOMPARE(failureName(gone.fault().kind), "Refusal");
    QCOMPARE(client.folderStatus(QStringLiteral("Quiet")).fault().reason,
             QStringLiteral("STATUS Quiet failed: the server answered without the folder's status"));
    QCOMPARE(server->scriptError(), QString());
}

void TestImapScope::listWithSpecialUseAndStatus()
{
    server->scripts = {greeting("SPECIAL-USE LIST-STATUS") + R"(
        C: V0001 LIST "" "*" RETURN (SPECIAL-USE STATUS (MESSAGES))
        S: * LIST (\\HasNoChildren) "/" INBOX
        S: * STATUS INBOX (MESSAGES 3)
        S: * LIST (\\HasNoChildren \\Sent) "/" "Sent Items"
        S: * STATUS "Sent Items" (MESSAGES 12)
        S: * LIST (\\Noselect \\HasChildren) "/" Archive
        S: * LIST (\\HasNoChildren) "/" "Archive/R&AOk-sum&AOk- &- Notes"
        S: * STATUS "Archive/R&AOk-sum&AOk- &- Notes" (MESSAGES 0)
        S: * LIST (\\Trash \\HasNoChildren) NIL Deleted
        S: * LIST (\\NonExistent) "/" Ghost
        S: V0001 OK done
        C: V0002 LIST "" "*" RETURN (SPECIAL-USE)
        S: * LIST (\\Junk) "." {11}\r\nJunk "Mail"
        S: V0002 OK done
    )"};
    ImapClient client;
    QVERIFY(open(client, false));
    const auto folders = client.listFolders(true);
    QVERIFY2(folders, qPrintable(folders.fault().reason));
    QCOMPARE(described(*folders), (QStringList{
                                      QStringLiteral("INBOX|/||yes|3"),
                                      QStringLiteral("Sent Items|/|\\Sent|yes|12"),
                                      QStringLiteral("Archive|/||no|-1"),
                                      QStringLiteral("Archive/Résumé & Notes|/||yes|0"),
                                      QStringLiteral("Deleted||\\Trash|yes|-1"),
                                      QStringLiteral("Ghost|/||no|-1"),
                                  }));
    QCOMPARE(folders->value(1).attributes, (QStringList{QStringLiteral("\\HasNoChildren"), QStringLiteral("\\Sent")}));
    QCOMPARE(client.LastErrorText(), QStringLiteral("LIST: OK"));
    const auto plain = client.listFolders(false);
    QVERIFY(plain);
    QCOMPARE(described(*plain), QStringList{QStringLiteral("Junk \"Mail\"|.|\\Junk|yes|-1")});
    QCOMPARE(server->scriptError(), QString());
}

void TestImapScope::listPlainCountsEachFolder()
{
    server->scripts = {greeting("") + R"(
        C: V0001 LIST "" "*"
        S: * LIST (\\HasNoChildren) "/" INBOX
        S: * LIST (\\Noselect) "/" Shared
        S: * LIST (\\Drafts) "/" Entw&APw-rfe
        S: * LIST () "/" Vanished
        S: V0001 OK done
        C: V0002 STATUS "INBOX" (MESSAGES UIDNEXT UIDVALIDITY)
        S: * STATUS INBOX (MESSAGES 7 UIDNEXT 8 UIDVALIDITY 1)
        S: V0002 OK done
        C: V0003 STATUS "Entw&APw-rfe" (MESSAGES UIDNEXT UIDVALIDITY)
        S: * STATUS Entw&APw-rfe (MESSAGES 2 UIDNEXT 3 UIDVALIDITY 1)
        S: V0003 OK done
        C: V0004 STATUS "Vanished" (MESSAGES UIDNEXT UIDVALIDITY)
        S: V0004 NO no such folder
        S: * BYE going away
        DROP
    )"};
    ImapClient client;
    QVERIFY(open(client, false));
    const auto folders = client.listFolders(true);
    QVERIFY2(folders, qPrintable(folders.fault().reason));
    QCOMPARE(described(*folders), (QStringList{
                                      QStringLiteral("INBOX|/||yes|7"),
                                      QStringLiteral("Shared|/||no|-1"),
                                      QStringLiteral("Entwürfe|/|\\Drafts|yes|2"),
                                      QStringLiteral("Vanished|/||yes|-1"),
                                  }));
    QTRY_VERIFY(!client.isConnected());
    const auto lost = client.listFolders(true);
    QCOMPARE(lost.fault().reason, QStringLiteral("LIST failed: not connected"));
    QCOMPARE(server->scriptError(), QString());
}

QTEST_GUILESS_MAIN(TestImapScope)
#include "test_imap_scope.moc"
