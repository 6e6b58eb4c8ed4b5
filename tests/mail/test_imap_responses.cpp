// The typed answers the client reads: SELECT/EXAMINE, LIST and FETCH responses
// from the wire, as data rows.
#include "mail/ImapParser.h"
#include "mail/ImapResponses.h"

#include <QtTest>

using vc::FetchResponse;
using vc::ImapParser;
using vc::ImapResponse;
using vc::MailboxInfo;
using vc::MailboxStatus;

namespace {

// The responses of `wire` (lines with their CRLF, literals inline).
std::vector<ImapResponse> parse(const QByteArray &wire)
{
    ImapParser parser;
    parser.feed(wire);
    std::vector<ImapResponse> out;
    while (parser.hasResponse())
        out.push_back(parser.takeResponse());
    return out;
}

}  // namespace

class TestImapResponses : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void selectAnswers_data();
    void selectAnswers();
    void listResponses_data();
    void listResponses();
    void fetchResponses_data();
    void fetchResponses();
};

void TestImapResponses::selectAnswers_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("taken");  // responses that said something the status holds
    QTest::addColumn<qint64>("exists");
    QTest::addColumn<quint32>("uidValidity");
    QTest::addColumn<quint32>("uidNext");
    QTest::addColumn<QStringList>("flags");

    QTest::newRow("a whole answer") << QByteArray("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
                                                  "* 172 EXISTS\r\n"
                                                  "* 1 RECENT\r\n"
                                                  "* OK [UNSEEN 12] Message 12 is first unseen\r\n"
                                                  "* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
                                                  "* OK [UIDNEXT 4392] Predicted next UID\r\n"
                                                  "* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Limited\r\n"
                                                  "A142 OK [READ-WRITE] SELECT completed\r\n")
                                    << 4 << qint64(172) << 3857529045u << 4392u
                                    << QStringList{"\\Answered", "\\Flagged", "\\Deleted", "\\Seen", "\\Draft"};
    QTest::newRow("empty mailbox") << QByteArray("* 0 EXISTS\r\n") << 1 << qint64(0) << 0u << 0u << QStringList();
    QTest::newRow("code in lower case") << QByteArray("* OK [uidvalidity 7] ok\r\n") << 1 << qint64(0) << 7u << 0u
                                        << QStringList();
    QTest::newRow("unreadable number") << QByteArray("* OK [UIDVALIDITY abc] ok\r\n") << 0 << qint64(0) << 0u << 0u
                                       << QStringList();
    QTest::newRow("beyond 32 bits") << QByteArray("* OK [UIDNEXT 99999999999] ok\r\n") << 0 << qint64(0) << 0u << 0u
                                    << QStringList();
    QTest::newRow("code without number") << QByteArray("* OK [UIDVALIDITY] ok\r\n") << 0 << qint64(0) << 0u << 0u
                                         << QStringList();
    QTest::newRow("a code like it") << QByteArray("* OK [UIDVALIDITYX 5] ok\r\n") << 0 << qint64(0) << 0u << 0u
                                    << QStringList();
    QTest::newRow("NO with a code is not taken")
        << QByteArray("* NO [UIDVALIDITY 5] odd\r\n") << 0 << qint64(0) << 0u << 0u << QStringList();
    QTest::newRow("tagged code is not taken")
        << QByteArray("A1 OK [UIDVALIDITY 5] done\r\n") << 0 << qint64(0) << 0u << 0u << QStringList();
    QTest::newRow("no flags") << QByteArray("* FLAGS ()\r\n") << 1 << qint64(0) << 0u << 0u << QStringList();
    QTest::newRow("flags that are no list")
        << QByteArray("* FLAGS \\Seen\r\n") << 0 << qint64(0) << 0u << 0u << QStringList();
    QTest::newRow("the last count wins") << QByteArray("* 3 EXISTS\r\n* 4 EXISTS\r\n") << 2 << qint64(4) << 0u << 0u
                                         << QStringList();
}

void TestImapResponses::selectAnswers()
{
    QFETCH(QByteArray, wire);
    QFETCH(int, taken);
    MailboxStatus status;
    int said = 0;
    for (const ImapResponse &r : parse(wire))
        said += vc::takeSelectResponse(r, status) ? 1 : 0;
    QCOMPARE(said, taken);
    QTEST(status.exists, "exists");
    QTEST(status.uidValidity, "uidValidity");
    QTEST(status.uidNext, "uidNext");
    QTEST(status.flags, "flags");
}

void TestImapResponses::listResponses_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("isList");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QStringList>("attributes");

    QTest::newRow("inbox") << QByteArray("* LIST (\\HasNoChildren) \"/\" INBOX\r\n") << true << "INBOX"
                           << "/" << QStringList{"\\HasNoChildren"};
    QTest::newRow("two attributes, dot") << QByteArray("* LIST (\\HasChildren \\Noselect) \".\" \"Archive.2015\"\r\n")
                                         << true << "Archive.2015"
                                         << "." << QStringList{"\\HasChildren", "\\Noselect"};
    QTest::newRow("no hierarchy") << QByteArray("* LIST () NIL Flat\r\n") << true << "Flat" << QString()
                                  << QStringList();
    QTest::newRow("modified UTF-7") << QByteArray("* LIST (\\Drafts) \"/\" \"Entw&APw-rfe\"\r\n") << true
                                    << QStringLiteral("Entwürfe") << "/" << QStringList{"\\Drafts"};
    QTest::newRow("literal name") << QByteArray("* LIST () \"/\" {9}\r\nSent Mail\r\n") << true << "Sent Mail"
                                  << "/" << QStringList();
    QTest::newRow("quote inside") << QByteArray("* LIST (\\Sent) \"/\" \"Sent \\\"Mail\\\"\"\r\n") << true
                                  << "Sent \"Mail\""
                                  << "/" << QStringList{"\\Sent"};
    QTest::newRow("special-use") << QByteArray("* LIST (\\HasNoChildren \\Trash) \"/\" \"Deleted Items\"\r\n") << true
                                 << "Deleted Items"
                                 << "/" << QStringList{"\\HasNoChildren", "\\Trash"};
    QTest::newRow("LSUB is not LIST") << QByteArray("* LSUB () \"/\" INBOX\r\n") << false << QString() << QString()
                                      << QStringList();
    QTest::newRow("NIL name") << QByteArray("* LIST () \"/\" NIL\r\n") << false << QString() << QString()
                              << QStringList();
    QTest::newRow("list for a name") << QByteArray("* LIST () \"/\" (x)\r\n") << false << QString() << QString()
                                     << QStringList();
    QTest::newRow("attributes no list") << QByteArray("* LIST \\HasNoChildren \"/\" INBOX\r\n") << false << QString()
                                        << QString() << QStringList();
    QTest::newRow("cut short") << QByteArray("* LIST ()\r\n") << false << QString() << QString() << QStringList();
    QTest::newRow("status line") << QByteArray("* OK LIST is fine\r\n") << false << QString() << QString()
                                 << QStringList();
}

void TestImapResponses::listResponses()
{
    QFETCH(QByteArray, wire);
    QFETCH(bool, isList);
    const std::vector<ImapResponse> responses = parse(wire);
    QCOMPARE(responses.size(), size_t(1));
    const std::optional<MailboxInfo> box = vc::parseListResponse(responses.front());
    QCOMPARE(box.has_value(), isList);
    if (!box)
        return;
    QTEST(box->name, "name");
    QTEST(box->delimiter, "delimiter");
    QTEST(box->attributes, "attributes");
}

void TestImapResponses::fetchResponses_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("isFetch");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<quint32>("uid");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<int>("has");  // FetchResponse::Body
    QTest::addColumn<QByteArray>("body");
    const int missing = int(FetchResponse::Body::Missing), nil = int(FetchResponse::Body::Nil),
              present = int(FetchResponse::Body::Present);

    QTest::newRow("every item") << QByteArray("* 12 FETCH (UID 4827 RFC822.SIZE 5 FLAGS (\\Seen $Forwarded) BODY[] "
                                              "{5}\r\nhello)\r\n")
                                << true << qint64(12) << 4827u << qint64(5) << QStringList{"\\Seen", "$Forwarded"}
                                << present << QByteArray("hello");
    QTest::newRow("body first, items after")
        << QByteArray("* 2 FETCH (BODY[] {2}\r\nhi UID 9)\r\n") << true << qint64(2) << 9u << qint64(-1)
        << QStringList() << present << QByteArray("hi");
    QTest::newRow("quoted body") << QByteArray("* 3 FETCH (BODY[] \"short\")\r\n") << true << qint64(3) << 0u
                                 << qint64(-1) << QStringList() << present << QByteArray("short");
    QTest::newRow("empty literal") << QByteArray("* 3 FETCH (BODY[] {0}\r\n)\r\n") << true << qint64(3) << 0u
                                   << qint64(-1) << QStringList() << present << QByteArray();
    QTest::newRow("no content") << QByteArray("* 3 FETCH (BODY[] NIL)\r\n") << true << qint64(3) << 0u << qint64(-1)
                                << QStringList() << nil << QByteArray();
    QTest::newRow("body is a list") << QByteArray("* 3 FETCH (BODY[] (x))\r\n") << true << qint64(3) << 0u << qint64(-1)
                                    << QStringList() << nil << QByteArray();
    QTest::newRow("flags only") << QByteArray("* 3 FETCH (FLAGS ())\r\n") << true << qint64(3) << 0u << qint64(-1)
                                << QStringList() << missing << QByteArray();
    QTest::newRow("unreadable UID and size") << QByteArray("* 3 FETCH (UID x RFC822.SIZE -5)\r\n") << true << qint64(3)
                                             << 0u << qint64(-1) << QStringList() << missing << QByteArray();
    QTest::newRow("lower-case items") << QByteArray("* 4 fetch (uid 8 body[] {1}\r\nz)\r\n") << true << qint64(4) << 8u
                                      << qint64(-1) << QStringList() << present << QByteArray("z");
    QTest::newRow("EXISTS is no FETCH") << QByteArray("* 3 EXISTS\r\n") << false << qint64(0) << 0u << qint64(-1)
                                        << QStringList() << missing << QByteArray();
    QTest::newRow("no message number") << QByteArray("* FETCH (UID 1)\r\n") << false << qint64(0) << 0u << qint64(-1)
                                       << QStringList() << missing << QByteArray();
    QTest::newRow("items no list") << QByteArray("* 3 FETCH UID 1\r\n") << false << qint64(0) << 0u << qint64(-1)
                                   << QStringList() << missing << QByteArray();
    QTest::newRow("tagged") << QByteArray("A3 OK FETCH done\r\n") << false << qint64(0) << 0u << qint64(-1)
                            << QStringList() << missing << QByteArray();
}

void TestImapResponses::fetchResponses()
{
    QFETCH(QByteArray, wire);
    QFETCH(bool, isFetch);
    std::vector<ImapResponse> responses = parse(wire);
    QCOMPARE(responses.size(), size_t(1));
    const std::optional<FetchResponse> f = vc::takeFetchResponse(responses.front());
    QCOMPARE(f.has_value(), isFetch);
    if (!f)
        return;
    QTEST(f->number, "number");
    QTEST(f->uid, "uid");
    QTEST(f->size, "size");
    QTEST(f->flags, "flags");
    QTEST(int(f->has), "has");
    QTEST(f->body, "body");
    // The body was moved out of the response, not copied.
    if (f->has == FetchResponse::Body::Present && !f->body.isEmpty())
        QVERIFY(responses.front().values[2].item("BODY[]")->text.isEmpty());
}

QTEST_GUILESS_MAIN(TestImapResponses)
#include "test_imap_responses.moc"
