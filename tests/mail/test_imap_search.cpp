// UID sets, search keys and SEARCH/ESEARCH answers, and folder-name suggestions.
#include "mail/ImapFolders.h"
#include "mail/ImapSearch.h"

#include <QRandomGenerator>
#include <QtTest>

#include <set>

using vc::ImapParser;
using vc::ImapResponse;
using vc::SearchFilter;
using vc::UidSet;

Q_DECLARE_METATYPE(vc::SearchFilter)

namespace {

// The command as the server reads it: pieces after a synchronising literal
// each on a line of their own.
QByteArray wire(const vc::ImapCommand &c)
{
    return c.pieces.join('\n');
}

ImapResponse parsed(const QByteArray &line)
{
    ImapParser p;
    p.feed(line + "\r\n");
    return p.hasResponse() ? p.takeResponse() : ImapResponse();
}

UidSet randomSet(QRandomGenerator &rng, int span, int density)
{
    std::vector<quint32> uids;
    for (int u = 1; u <= span; ++u) {
        if (int(rng.bounded(100)) < density)
            uids.push_back(quint32(u));
    }
    return UidSet::of(uids);
}

std::set<quint32> asSet(const UidSet &s)
{
    const std::vector<quint32> v = s.toVector();
    return {v.begin(), v.end()};
}

}  // namespace

class TestImapSearch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void uidSetText_data();
    void uidSetText();
    void uidSetOperationsAgreeWithPlainSets();
    void uidSetAtTheTopOfTheRange();
    void searchCommand_data();
    void searchCommand();
    void keysThatCannotBeSent_data();
    void keysThatCannotBeSent();
    void dates_data();
    void dates();
    void answers_data();
    void answers();
    void folderSuggestions_data();
    void folderSuggestions();
};

void TestImapSearch::uidSetText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("compressed");  // empty: refused
    QTest::addColumn<qint64>("size");
    QTest::newRow("ranges and singles") << QByteArray("1:5,9,12:20") << QByteArray("1:5,9,12:20") << qint64(15);
    QTest::newRow("backwards range") << QByteArray("5:1") << QByteArray("1:5") << qint64(5);
    QTest::newRow("any order, touching") << QByteArray("3,1,2,7,4") << QByteArray("1:4,7") << qint64(5);
    QTest::newRow("overlapping") << QByteArray("1:3,2:6,6,10:12,11") << QByteArray("1:6,10:12") << qint64(9);
    QTest::newRow("highest UID") << QByteArray("4294967294:4294967295") << QByteArray("4294967294:4294967295")
                                 << qint64(2);
    QTest::newRow("every UID") << QByteArray("1:4294967295") << QByteArray("1:4294967295") << qint64(4294967295);
    QTest::newRow("empty") << QByteArray() << QByteArray() << qint64(0);
    QTest::newRow("zero") << QByteArray("0") << QByteArray() << qint64(0);
    QTest::newRow("range from zero") << QByteArray("0:4") << QByteArray() << qint64(0);
    QTest::newRow("star") << QByteArray("1:*") << QByteArray() << qint64(0);
    QTest::newRow("empty part") << QByteArray("1,,2") << QByteArray() << qint64(0);
    QTest::newRow("trailing comma") << QByteArray("1,") << QByteArray() << qint64(0);
    QTest::newRow("two colons") << QByteArray("1:2:3") << QByteArray() << qint64(0);
    QTest::newRow("above 32 bits") << QByteArray("4294967296") << QByteArray() << qint64(0);
    QTest::newRow("sign") << QByteArray("+5") << QByteArray() << qint64(0);
    QTest::newRow("blank") << QByteArray("1, 2") << QByteArray() << qint64(0);
}

void TestImapSearch::uidSetText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, compressed);
    QFETCH(qint64, size);
    const std::optional<UidSet> s = UidSet::parse(text);
    QCOMPARE(s.has_value(), !compressed.isEmpty());
    if (!s)
        return;
    QCOMPARE(s->toImap(), compressed);
    QCOMPARE(s->imapLength(), compressed.size());
    QCOMPARE(s->size(), size);
    QCOMPARE(UidSet::parse(s->toImap()), s);
}

// Every operation against the same computed on plain std::set, over random
// sets of different densities.
void TestImapSearch::uidSetOperationsAgreeWithPlainSets()
{
    QRandomGenerator rng(19);
    for (int round = 0; round < 60; ++round) {
        const UidSet a = randomSet(rng, 300, 10 + round);
        const UidSet b = randomSet(rng, 300, 90 - round);
        const std::set<quint32> sa = asSet(a);
        const std::set<quint32> sb = asSet(b);
        QCOMPARE(a.size(), qint64(sa.size()));

        std::set<quint32> minus;
        std::set<quint32> both;
        for (const quint32 u : sa)
            (sb.count(u) ? both : minus).insert(u);
        QCOMPARE(asSet(a.minus(b)), minus);
        QCOMPARE(asSet(a.intersected(b)), both);
        QCOMPARE(asSet(a.above(150)), std::set<quint32>(sa.upper_bound(150), sa.end()));

        const std::vector<quint32> v = a.toVector();
        for (qint64 i = 0; i < qint64(v.size()); ++i) {
            QCOMPARE(a.at(i), v[size_t(i)]);
            QCOMPARE(a.indexOf(v[size_t(i)]), i);
        }
        QCOMPARE(a.at(qint64(v.size())), quint32(0));
        QCOMPARE(a.at(-1), quint32(0));
        for (quint32 u = 1; u <= 300; ++u)
            QCOMPARE(a.contains(u), sa.count(u) > 0);

        const qint64 from = rng.bounded(qint64(v.size()) + 1);
        const qint64 count = rng.bounded(qint64(v.size()) + 2);
        const std::vector<quint32> part(v.begin() + from, v.begin() + qMin<qint64>(qint64(v.size()), from + count));
        QCOMPARE(a.slice(from, count).toVector(), part);

        // Built one UID at a time in random order, the set is the same.
        std::vector<quint32> shuffled = v;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(round));
        UidSet added;
        for (const quint32 u : shuffled)
            added.add(u);
        QCOMPARE(added, a);
        QCOMPARE(added.size(), a.size());
        QCOMPARE(UidSet::parse(a.toImap()).value_or(UidSet()), a);
    }
}

void TestImapSearch::uidSetAtTheTopOfTheRange()
{
    UidSet s;
    s.add(4294967295u);
    s.add(4294967290u, 4294967294u);
    QCOMPARE(s.toImap(), QByteArray("4294967290:4294967295"));
    QCOMPARE(s.above(4294967294u).toImap(), QByteArray("4294967295"));
    QVERIFY(s.above(4294967295u).isEmpty());
    QCOMPARE(s.indexOf(4294967295u), qint64(5));
    UidSet all;
    all.add(1, 4294967295u);
    QCOMPARE(all.minus(s).toImap(), QByteArray("1:4294967289"));
    QCOMPARE(all.slice(4294967290, 10).toImap(), QByteArray("4294967291:4294967295"));
    s.add(0);
    QCOMPARE(s.size(), qint64(6));
}

void TestImapSearch::searchCommand_data()
{
    QTest::addColumn<SearchFilter>("filter");
    QTest::addColumn<bool>("esearch");
    QTest::addColumn<bool>("literalPlus");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("nothing") << SearchFilter() << false << false << QByteArray("UID SEARCH ALL");
    QTest::newRow("nothing, esearch") << SearchFilter() << true << false << QByteArray("UID SEARCH RETURN (ALL) ALL");
    SearchFilter f;
    f.since = QDate(2024, 2, 1);
    f.before = QDate(2023, 12, 25);
    QTest::newRow("dates") << f << true << false
                           << QByteArray("UID SEARCH RETURN (ALL) SENTSINCE 1-Feb-2024 SENTBEFORE 25-Dec-2023");
    f = SearchFilter();
    f.from = QStringLiteral("ann@example.org");
    f.to = QStringLiteral("bob");
    f.subject = QStringLiteral("say \"hi\" \\o/");
    QTest::newRow("texts quoted") << f << false << false
                                  << QByteArray(
                                         R"(UID SEARCH FROM "ann@example.org" TO "bob" SUBJECT "say \"hi\" \\o/")");
    f = SearchFilter();
    f.from = QStringLiteral("Jörg");
    QTest::newRow("non-ASCII, literal+") << f << true << true
                                         << QByteArray(
                                                "UID SEARCH RETURN (ALL) CHARSET UTF-8 FROM {5+}\r\nJ\xc3\xb6rg");
    QTest::newRow("non-ASCII, synchronising")
        << f << false << false << QByteArray("UID SEARCH CHARSET UTF-8 FROM {5}\nJ\xc3\xb6rg");
    f.subject = QStringLiteral("Grüße");
    f.to = QStringLiteral("plain");
    QTest::newRow("two literals") << f << false << false
                                  << QByteArray("UID SEARCH CHARSET UTF-8 FROM {5}\nJ\xc3\xb6rg TO \"plain\" SUBJECT "
                                                "{7}\nGr\xc3\xbc\xc3\x9f"
                                                "e");
    f = SearchFilter();
    f.larger = 1000;
    f.smaller = 0;
    f.unseen = true;
    f.subject = QStringLiteral("x");
    QTest::newRow("fixed order") << f << false << false
                                 << QByteArray("UID SEARCH SUBJECT \"x\" LARGER 1000 SMALLER 0 UNSEEN");
    f = SearchFilter();
    f.gmailLabel = QStringLiteral("Work/2024");
    QTest::newRow("label, one word") << f << true << false
                                     << QByteArray("UID SEARCH RETURN (ALL) X-GM-RAW \"label:Work/2024\"");
    f.gmailLabel = QStringLiteral("My \"Big\" Label");
    QTest::newRow("label with blanks") << f << false << false
                                       << QByteArray(R"(UID SEARCH X-GM-RAW "label:\"My Big Label\"")");
    f = SearchFilter();
    f.uidAbove = 41;
    f.raw = QStringLiteral("FLAGGED");
    QTest::newRow("only above a UID") << f << true << false << QByteArray("UID SEARCH RETURN (ALL) UID 42:* FLAGGED");
    f.raw.clear();
    f.uidAbove = 0xffffffffu;
    QTest::newRow("above the highest UID") << f << false << false << QByteArray("UID SEARCH UID *");
    f = SearchFilter();
    f.unseen = true;
    f.raw = QStringLiteral("  OR FROM ann (NOT  SEEN)  ");
    QTest::newRow("raw keys after the others")
        << f << false << false << QByteArray("UID SEARCH UNSEEN OR FROM ann (NOT SEEN)");
    f.raw = QStringLiteral("SUBJECT \"a \\\"b\\\"\" HEADER X-Spam yes");
    QTest::newRow("raw quoted text") << f << false << false
                                     << QByteArray(R"(UID SEARCH UNSEEN SUBJECT "a \"b\"" HEADER X-Spam yes)");
    f.unseen = false;
    f.raw = QStringLiteral("SUBJECT Grüße");
    QTest::newRow("raw non-ASCII word") << f << false << true
                                        << QByteArray("UID SEARCH CHARSET UTF-8 SUBJECT {7+}\r\nGr\xc3\xbc\xc3\x9f"
                                                      "e");
}

void TestImapSearch::searchCommand()
{
    QFETCH(SearchFilter, filter);
    QFETCH(bool, esearch);
    QFETCH(bool, literalPlus);
    QFETCH(QByteArray, expected);
    const vc::ImapResult<std::vector<vc::SearchKey>> keys = vc::searchKeys(filter);
    QVERIFY2(keys, qPrintable(keys.fault().reason));
    QCOMPARE(wire(vc::searchCommand(*keys, esearch, literalPlus)), expected);
}

void TestImapSearch::keysThatCannotBeSent_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<qint64>("larger");
    QTest::addColumn<QString>("why");
    QTest::newRow("unclosed quote") << QStringLiteral("SUBJECT \"abc") << qint64(-1)
                                    << QStringLiteral("a quoted text has no closing \"");
    QTest::newRow("unclosed parenthesis")
        << QStringLiteral("(SEEN") << qint64(-1) << QStringLiteral("a \"(\" is not closed");
    QTest::newRow("stray parenthesis") << QStringLiteral("SEEN)") << qint64(-1)
                                       << QStringLiteral("a \")\" closes nothing");
    QTest::newRow("line break") << QStringLiteral("SEEN\r\nA LOGOUT") << qint64(-1)
                                << QStringLiteral("they hold a control character");
    QTest::newRow("literal") << QStringLiteral("SUBJECT {3}") << qint64(-1)
                             << QStringLiteral("\"{\" would start a literal; write the text in double quotes");
    QTest::newRow("size") << QString() << qint64(4294967296)
                          << QStringLiteral(
                                 "LARGER 4294967296 is more than a search can hold (at most 4294967295 bytes)");
}

void TestImapSearch::keysThatCannotBeSent()
{
    QFETCH(QString, raw);
    QFETCH(qint64, larger);
    QFETCH(QString, why);
    SearchFilter f;
    f.raw = raw;
    f.larger = larger;
    const auto keys = vc::searchKeys(f);
    QVERIFY(!keys);
    QCOMPARE(keys.fault().reason, QStringLiteral("the search keys cannot be sent: ") + why);
    QCOMPARE(vc::failureName(keys.fault().kind), "BadRequest");
}

void TestImapSearch::dates_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDate>("date");  // invalid: refused
    QTest::addColumn<QByteArray>("imap");
    QTest::newRow("ISO") << QStringLiteral("2024-02-01") << QDate(2024, 2, 1) << QByteArray("1-Feb-2024");
    QTest::newRow("IMAP") << QStringLiteral("9-Sep-1999") << QDate(1999, 9, 9) << QByteArray("9-Sep-1999");
    QTest::newRow("IMAP, lower case, padded")
        << QStringLiteral(" 05-dec-2030 ") << QDate(2030, 12, 5) << QByteArray("5-Dec-2030");
    QTest::newRow("leap day") << QStringLiteral("2024-02-29") << QDate(2024, 2, 29) << QByteArray("29-Feb-2024");
    QTest::newRow("no such day") << QStringLiteral("2023-02-29") << QDate() << QByteArray();
    QTest::newRow("no such month") << QStringLiteral("1-Foo-2024") << QDate() << QByteArray();
    QTest::newRow("US order") << QStringLiteral("02/01/2024") << QDate() << QByteArray();
    QTest::newRow("empty") << QString() << QDate() << QByteArray();
}

void TestImapSearch::dates()
{
    QFETCH(QString, typed);
    QFETCH(QDate, date);
    QFETCH(QByteArray, imap);
    const std::optional<QDate> d = vc::parseSearchDate(typed);
    QCOMPARE(d.has_value(), date.isValid());
    if (!d)
        return;
    QCOMPARE(*d, date);
    QCOMPARE(vc::imapDate(*d), imap);
}

void TestImapSearch::answers_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("uids");  // the set as text; "!" + text: a fault with that text; "-": not an answer
    QTest::addColumn<QByteArray>("tag");
    QTest::newRow("SEARCH, none") << QByteArray("* SEARCH") << QByteArray("") << QByteArray();
    QTest::newRow("SEARCH, any order") << QByteArray("* SEARCH 9 3 4 5 1") << QByteArray("1,3:5,9") << QByteArray();
    QTest::newRow("SEARCH, MODSEQ") << QByteArray("* SEARCH 2 7 (MODSEQ 917162500)") << QByteArray("2,7")
                                    << QByteArray();
    QTest::newRow("SEARCH, zero") << QByteArray("* SEARCH 1 0")
                                  << QByteArray("!the server's SEARCH answer holds \"0\", which is not a UID")
                                  << QByteArray();
    QTest::newRow("SEARCH, word") << QByteArray("* SEARCH 1 two")
                                  << QByteArray("!the server's SEARCH answer holds \"two\", which is not a UID")
                                  << QByteArray();
    QTest::newRow("SEARCH, quoted") << QByteArray("* SEARCH \"5\"")
                                    << QByteArray("!the server's SEARCH answer holds \"5\", which is not a UID")
                                    << QByteArray();
    QTest::newRow("ESEARCH") << QByteArray("* ESEARCH (TAG \"V0003\") UID ALL 1:3,5,17:21") << QByteArray("1:3,5,17:21")
                             << QByteArray("V0003");
    QTest::newRow("ESEARCH, none") << QByteArray("* ESEARCH (TAG \"V0004\") UID") << QByteArray("")
                                   << QByteArray("V0004");
    QTest::newRow("ESEARCH, count and bounds") << QByteArray("* ESEARCH (TAG \"a\") UID COUNT 3 MIN 4 ALL 4,6:7 MAX 7")
                                               << QByteArray("4,6:7") << QByteArray("a");
    QTest::newRow("ESEARCH, lower case, no tag")
        << QByteArray("* esearch uid all 8:6") << QByteArray("6:8") << QByteArray();
    QTest::newRow("ESEARCH, bad set") << QByteArray("* ESEARCH (TAG \"V1\") UID ALL 1:*")
                                      << QByteArray(
                                             "!the server's ESEARCH answer holds \"1:*\", which is not a UID set")
                                      << QByteArray("V1");
    QTest::newRow("not an answer") << QByteArray("* 3 EXISTS") << QByteArray("-") << QByteArray();
    QTest::newRow("status") << QByteArray("* OK [UIDNEXT 4] next") << QByteArray("-") << QByteArray();
}

void TestImapSearch::answers()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, uids);
    QFETCH(QByteArray, tag);
    const ImapResponse r = parsed(line);
    const auto plain = vc::searchAnswer(r);
    const auto extended = vc::esearchAnswer(r);
    QVERIFY(!(plain && extended));
    if (uids == "-") {
        QVERIFY(!plain && !extended);
        return;
    }
    QVERIFY(plain || extended);
    const vc::ImapResult<UidSet> got = plain ? *plain : extended->uids;
    if (extended)
        QCOMPARE(extended->tag, tag);
    if (uids.startsWith('!')) {
        QVERIFY(!got);
        QCOMPARE(got.fault().reason, QString::fromUtf8(uids.mid(1)));
        QCOMPARE(vc::failureName(got.fault().kind), "Protocol");
    } else {
        QVERIFY(got);
        QCOMPARE(got->toImap(), uids);
    }
}

void TestImapSearch::folderSuggestions_data()
{
    const QStringList server{QStringLiteral("INBOX"),          QStringLiteral("Sent Items"),
                             QStringLiteral("Drafts"),         QStringLiteral("Deleted Items"),
                             QStringLiteral("INBOX/Archives"), QStringLiteral("Junk Email"),
                             QStringLiteral("Notes"),          QStringLiteral("Outbox")};
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("text");
    QTest::newRow("prefix of a last part")
        << server << QStringLiteral("Archive")
        << QStringLiteral("There is no folder Archive on this server; it has INBOX/Archives, INBOX, Sent Items, "
                          "Drafts, Deleted Items and 3 more.");
    QTest::newRow("letter case") << server << QStringLiteral("sent items")
                                 << QStringLiteral("There is no folder sent items on this server; it has Sent Items, "
                                                   "INBOX, Drafts, Deleted Items, INBOX/Archives and 3 more.");
    QTest::newRow("typing slips, nearest first")
        << server << QStringLiteral("Draftz")
        << QStringLiteral("There is no folder Draftz on this server; it has Drafts, INBOX, Sent Items, Deleted Items, "
                          "INBOX/Archives and 3 more.");
    QTest::newRow("starts like") << server << QStringLiteral("Junk")
                                 << QStringLiteral("There is no folder Junk on this server; it has Junk Email, INBOX, "
                                                   "Sent Items, Drafts, Deleted Items and 3 more.");
    QTest::newRow("few folders") << QStringList{QStringLiteral("INBOX"), QStringLiteral("Sent")}
                                 << QStringLiteral("Archive")
                                 << QStringLiteral("There is no folder Archive on this server; it has INBOX and Sent.");
    QTest::newRow("one folder") << QStringList{QStringLiteral("INBOX")} << QStringLiteral("Sent")
                                << QStringLiteral("There is no folder Sent on this server; it has INBOX.");
    QTest::newRow("none") << QStringList() << QStringLiteral("Sent")
                          << QStringLiteral("There is no folder Sent on this server; it has no folders.");
}

void TestImapSearch::folderSuggestions()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, wanted);
    QFETCH(QString, text);
    QCOMPARE(vc::noSuchFolderText(wanted, existing), text);
    // Far names are no suggestion.
    QVERIFY(!vc::nearestFolderNames(wanted, existing).contains(QStringLiteral("Outbox")));
}

QTEST_GUILESS_MAIN(TestImapSearch)
#include "test_imap_search.moc"
