// The extraction rules as plain functions.
#include "TestMail.h"
#include "rules/Rules.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

Q_DECLARE_METATYPE(vc::MailRecord)

using namespace vc;
using namespace vc::rules;
using vc::test::mail;

namespace {
const QString CRLF = QStringLiteral("\r\n");
}  // namespace

class TestRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bodyLines_data();
    void bodyLines();
    void containment_data();
    void containment();
    void lowerCaseKeepsPositions();
    void lowerCaseOfMixedRuns();
    void caseBlindFinderFindsWhatTheLoweredCopyHolds();
    void allEmailData_data();
    void allEmailData();
    void containing_data();
    void containing();
    void notContaining_data();
    void notContaining();
    void lineNumbers_data();
    void lineNumbers();
    void lineNumberEntryCheck_data();
    void lineNumberEntryCheck();
    void between_data();
    void between();
    void betweenDuplicates();
    void betweenSourcesInOrder();
    void betweenLongBodyIsNotQuadratic();
    void textSet_data();
    void textSet();
    void lettersWhoseCaseMappingsDiffer_data();
    void lettersWhoseCaseMappingsDiffer();
    void filtersMatchLineByLineLowerCasing();
};

void TestRules::bodyLines_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty body has no lines") << QString() << QStringList();
    QTest::newRow("one line") << "abc" << QStringList{"abc"};
    QTest::newRow("trailing CR LF gives empty last line") << "a\r\nb\r\n" << QStringList{"a", "b", ""};
    QTest::newRow("lone LF stays inside") << "a\nb\r\nc" << QStringList{"a\nb", "c"};
    QTest::newRow("lone CR stays inside") << "a\rb" << QStringList{"a\rb"};
    QTest::newRow("LF CR is not a line end") << "a\n\rb" << QStringList{"a\n\rb"};
    QTest::newRow("only CR LF") << "\r\n" << QStringList{"", ""};
    QTest::newRow("CR before CR LF stays in the line") << "a\r\r\nb\r\n\r\n" << QStringList{"a\r", "b", "", ""};
    QTest::newRow("nothing trimmed") << "  a  \r\n\tb" << QStringList{"  a  ", "\tb"};
}

void TestRules::bodyLines()
{
    QFETCH(QString, body);
    QFETCH(QStringList, lines);
    QCOMPARE(rules::bodyLines(body), lines);
}

void TestRules::containment_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("contains");
    QTest::newRow("case ignored") << "Your order shipped"
                                  << "ORDER" << true;
    QTest::newRow("not there") << "Your order shipped"
                               << "orders" << false;
    QTest::newRow("empty part in text") << "x"
                                        << "" << true;
    QTest::newRow("empty part in blanks") << "   "
                                          << "" << true;
    QTest::newRow("empty part in empty text") << ""
                                              << "" << false;
    QTest::newRow("part in empty text") << ""
                                        << "a" << false;
    QTest::newRow("non-ASCII letters") << QString::fromUtf8("GRÜSSE aus Köln") << QString::fromUtf8("grüsse AUS KÖLN")
                                       << true;
    QTest::newRow("Greek") << QString::fromUtf8("ΚΑΛΗΜΕΡΑ") << QString::fromUtf8("καλημερα") << true;
    QTest::newRow("exact after lower-casing, no folding of accents") << "cafe" << QString::fromUtf8("café") << false;
}

void TestRules::containment()
{
    QFETCH(QString, text);
    QFETCH(QString, part);
    QFETCH(bool, contains);
    QCOMPARE(containsText(text, part), contains);
}

void TestRules::lowerCaseKeepsPositions()
{
    // Letters whose full lower-case form is longer (dotted capital I) and
    // letters outside the basic plane must not shift positions.
    const QString dotted = QString(QChar(0x0130)) + QStringLiteral("ABC");
    QCOMPARE(lowerCase(dotted).size(), dotted.size());
    QCOMPARE(lowerCase(dotted).mid(1), QStringLiteral("abc"));
    const QString deseret = QString::fromUcs4(U"\U00010400X");  // capital long I, then X
    QCOMPARE(lowerCase(deseret), QString::fromUcs4(U"\U00010428x"));

    // So an item cut out of the source after such letters keeps its place.
    const QString src = QString(QChar(0x0130)) + QString(QChar(0x0130)) + QStringLiteral("<b>Bold</B> end");
    QCOMPARE(betweenItems(src, QStringLiteral("<B>"), QStringLiteral("</b>")), QStringList{"Bold"});
}

void TestRules::allEmailData_data()
{
    QTest::addColumn<MailRecord>("message");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("everything empty: one empty row") << mail("", "", "", "") << QStringList{""};
    QTest::newRow("header rows, body, then lines with empty last")
        << mail("a@b.example", "Mon, 1 Dec 2014", "Hi", "a\r\nb\r\n")
        << QStringList{"a@b.example", "Mon, 1 Dec 2014", "Hi", "a\r\nb\r\n", "a", "b", ""};
    QTest::newRow("LF-only body listed twice")
        << mail("", "", "", "one\ntwo\n") << QStringList{"one\ntwo\n", "one\ntwo\n"};
    QTest::newRow("blank fields are not empty") << mail(" ", "", "  ", "x") << QStringList{" ", "  ", "x", "x"};
    QTest::newRow("empty subject skipped, order kept") << mail("F", "D", "", "b") << QStringList{"F", "D", "b", "b"};
}

void TestRules::allEmailData()
{
    QFETCH(MailRecord, message);
    QFETCH(QStringList, rows);
    QCOMPARE(rules::allEmailData(message), rows);
}

void TestRules::containing_data()
{
    QTest::addColumn<MailRecord>("message");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("case ignored, row in source case")
        << mail("", "", "", "Hello\r\nYour Order shipped\r\nbye") << "ORDER" << QStringList{"Your Order shipped"};
    QTest::newRow("header fields first, as received")
        << mail("Orders <o@shop.example>", "Tue", "Your ORDER", "order 1\r\nnone") << "order"
        << QStringList{"Orders <o@shop.example>", "Your ORDER", "order 1"};
    QTest::newRow("empty text: non-empty fields and lines only")
        << mail("F", "", "S", "a\r\n\r\nb\r\n") << "" << QStringList{"F", "S", "a", "b"};
    QTest::newRow("lone LF inside a matching line")
        << mail("", "", "", "x\nkey\r\ny") << "KEY" << QStringList{"x\nkey"};
    QTest::newRow("every match, also equal ones") << mail("", "", "", "ab\r\nab") << "a" << QStringList{"ab", "ab"};
    QTest::newRow("unlisted fields never tested") << mail("", "", "", "z") << "NEVER-LISTED" << QStringList{};
}

void TestRules::containing()
{
    QFETCH(MailRecord, message);
    QFETCH(QString, text);
    QFETCH(QStringList, rows);
    QCOMPARE(linesContaining(message, text), rows);
}

void TestRules::notContaining_data()
{
    QTest::addColumn<MailRecord>("message");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("empty text: only empty lines") << mail("F", "D", "S", "a\r\n\r\nb\r\n") << "" << QStringList{"", ""};
    QTest::newRow("empty headers skipped") << mail("", "", "", "x\r\ny") << "x" << QStringList{"y"};
    QTest::newRow("case ignored") << mail("From X", "D", "Sub", "aXb\r\nplain") << "x"
                                  << QStringList{"D", "Sub", "plain"};
    QTest::newRow("trailing CR LF line listed") << mail("", "", "", "xx\r\n") << "x" << QStringList{""};
}

void TestRules::notContaining()
{
    QFETCH(MailRecord, message);
    QFETCH(QString, text);
    QFETCH(QStringList, rows);
    QCOMPARE(linesNotContaining(message, text), rows);
}

void TestRules::lineNumbers_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("rows");
    const QString five = QStringLiteral("l1\r\nl2\r\nl3\r\nl4\r\nl5");
    QTest::newRow("3,1,3: body order, once") << five << "3,1,3" << QStringList{"l1", "l3"};
    QTest::newRow("beyond the body") << five << "7" << QStringList{};
    QTest::newRow("2.5 rounds to 2") << five << "2.5" << QStringList{"l2"};
    QTest::newRow("3.5 rounds to 4") << five << "3.5" << QStringList{"l4"};
    QTest::newRow("blanks around a piece") << five << " 2" << QStringList{"l2"};
    QTest::newRow("blanks both sides") << five << "\t5 , 1 " << QStringList{"l1", "l5"};
    QTest::newRow("zero") << five << "0" << QStringList{};
    QTest::newRow("negative") << five << "-1" << QStringList{};
    QTest::newRow("outside 16 bits") << five << "99999" << QStringList{};
    QTest::newRow("outside 16 bits beside a good piece") << five << "99999,4" << QStringList{"l4"};
    QTest::newRow("non-numeric piece ignored") << five << "abc,2,,x" << QStringList{"l2"};
    QTest::newRow("empty entry") << five << "" << QStringList{};
    QTest::newRow("trailing CR LF line counts") << "a\r\nb\r\n"
                                                << "3,1" << QStringList{"a", ""};
    QTest::newRow("headers never listed, empty body") << QString() << "1" << QStringList{};
    QTest::newRow("line with lone LF is one line") << "a\nb\r\nc"
                                                   << "2" << QStringList{"c"};
}

void TestRules::lineNumbers()
{
    QFETCH(QString, body);
    QFETCH(QString, entry);
    QFETCH(QStringList, rows);
    QCOMPARE(linesByNumber(body, entry), rows);
}

void TestRules::lineNumberEntryCheck_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("ok");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("list") << "1,2, 3" << true;
    QTest::newRow("decimal") << "2.5" << true;
    QTest::newRow("empty piece") << "1,,2" << false;
    QTest::newRow("trailing comma") << "1," << false;
    QTest::newRow("word") << "one" << false;
    QTest::newRow("range is not a number") << "1-3" << false;
}

void TestRules::lineNumberEntryCheck()
{
    QFETCH(QString, entry);
    QFETCH(bool, ok);
    QCOMPARE(isLineNumberEntry(entry), ok);
}

void TestRules::between_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("help example") << "The rain in spain falls mainly on the plain."
                                  << "p"
                                  << "n" << QStringList{"ai", "lai"};
    QTest::newRow("nested starts") << "X1X2Y"
                                   << "X"
                                   << "Y" << QStringList{"1X2", "2"};
    QTest::newRow("case-blind markers, source case kept") << "a<b>Bold Text</B>c"
                                                          << "<B>"
                                                          << "</b>" << QStringList{"Bold Text"};
    QTest::newRow("Y only before X") << "n p"
                                     << "p"
                                     << "n" << QStringList{};
    QTest::newRow("Y right after X") << "pn"
                                     << "p"
                                     << "n" << QStringList{};
    QTest::newRow("Y overlapping X") << "abc"
                                     << "ab"
                                     << "b" << QStringList{};
    QTest::newRow("Y inside X, later Y not searched past it") << "abxb"
                                                              << "ab"
                                                              << "b" << QStringList{};
    QTest::newRow("empty end marker") << "abc"
                                      << "a"
                                      << "" << QStringList{};
    QTest::newRow("empty start marker") << "abc"
                                        << ""
                                        << "c" << QStringList{};
    QTest::newRow("empty source") << ""
                                  << "a"
                                  << "b" << QStringList{};
    QTest::newRow("item spanning lines") << "start[one\r\ntwo]end"
                                         << "["
                                         << "]" << QStringList{"one\r\ntwo"};
    QTest::newRow("one Y closes several X") << "<a<b<c>"
                                            << "<"
                                            << ">" << QStringList{"a<b<c", "b<c", "c"};
    QTest::newRow("repeated pairs") << "[1][2][]"
                                    << "["
                                    << "]" << QStringList{"1", "2"};
    QTest::newRow("unsubscribe example")
        << "<a href=\"https://list.example/u?remove=jo@mail.example\" target=\"_blank\">"
        << "remove="
        << "\" target" << QStringList{"jo@mail.example"};
    QTest::newRow("multi-character markers") << "--BEGIN--x--END----BEGIN--y--END--"
                                             << "--begin--"
                                             << "--end--" << QStringList{"x", "y"};
}

void TestRules::between()
{
    QFETCH(QString, source);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QStringList, items);
    QCOMPARE(betweenItems(source, start, end), items);
}

void TestRules::betweenDuplicates()
{
    const MailRecord m = mail("", "", "[a] twice", "[a] and [A] and [a]");
    // Check3 clear: one row per distinct item of the message, case counts.
    QCOMPARE(betweenMarkers(m, "[", "]", false), (QStringList{"a", "A"}));
    // Check3 set: every item.
    QCOMPARE(betweenMarkers(m, "[", "]", true), (QStringList{"a", "a", "A", "a"}));
    // Items already listed (earlier messages) are dropped only when Check3 is clear.
    const QStringList listed{"A"};
    auto known = [&](const QString &t) { return listed.contains(t); };
    QCOMPARE(betweenMarkers(m, "[", "]", false, known), QStringList{"a"});
    QCOMPARE(betweenMarkers(m, "[", "]", true, known), (QStringList{"a", "a", "A", "a"}));
}

void TestRules::betweenSourcesInOrder()
{
    // From, date, subject, then the body; a body without the end marker still
    // leaves the header items.
    const MailRecord m = mail("(f)", "(d)", "(s)", "(b1 no end");
    QCOMPARE(betweenMarkers(m, "(", ")", true), (QStringList{"f", "d", "s"}));
    const MailRecord n = mail("", "", "(s)", "(b)");
    QCOMPARE(betweenMarkers(n, "(", ")", true), (QStringList{"s", "b"}));
}

void TestRules::betweenLongBodyIsNotQuadratic()
{
    // 40,000 items in a body of about 700,000 characters.
    const int count = 40000;
    QString body;
    body.reserve(count * 18);
    for (int i = 0; i < count; ++i)
        body += QStringLiteral("<td>%1</TD>\r\n").arg(i, 5, 10, QLatin1Char('0'));
    QElapsedTimer t;
    t.start();
    const QStringList items = betweenItems(body, "<TD>", "</td>");
    const qint64 ms = t.elapsed();
    QCOMPARE(items.size(), count);
    QCOMPARE(items.first(), QStringLiteral("00000"));
    QCOMPARE(items.last(), QStringLiteral("39999"));
    // A scan that lower-cases the rest of the body for every item needs minutes here.
    QVERIFY2(ms < 3000, qPrintable(QStringLiteral("took %1 ms").arg(ms)));
}

void TestRules::textSet_data()
{
    QTest::addColumn<MailRecord>("message");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("rows");
    const QString verse = QStringLiteral(
        "The lantern swings above the quay,\r\n   its width of light on misty stone;\r\nthe sailors sing of "
        "misery\r\n   and wander home alone.");
    QTest::newRow("lines with any item, blanks removed, others not")
        << mail("", "", "", verse) << QStringList{"i", "width", "misery"}
        << QStringList{"The lantern swings above the quay,", "its width of light on misty stone;",
                       "the sailors sing of misery"};
    QTest::newRow("case ignored, header fields tested")
        << mail("Ann <ann@x.example>", "", "Weekly REPORT", "report\r\nother") << QStringList{"Report"}
        << QStringList{"Weekly REPORT", "report"};
    QTest::newRow("empty item never matches")
        << mail("F", "D", "S", "a\r\n\r\nb") << QStringList{"", ""} << QStringList{};
    QTest::newRow("empty item beside a real one")
        << mail("", "", "", "a\r\nb") << QStringList{"", "B"} << QStringList{"b"};
    QTest::newRow("tabs and spaces removed, trailing kept")
        << mail("", "", "", " \t key  ") << QStringList{"KEY"} << QStringList{"key  "};
    QTest::newRow("line listed once for several items")
        << mail("", "", "", "abc") << QStringList{"a", "b"} << QStringList{"abc"};
    QTest::newRow("empty set") << mail("F", "", "", "x") << QStringList{} << QStringList{};
}

void TestRules::textSet()
{
    QFETCH(MailRecord, message);
    QFETCH(QStringList, items);
    QFETCH(QStringList, rows);
    QCOMPARE(textSetLines(message, items), rows);
}

namespace {
// ASCII runs, letters whose lower case is another letter (or the same), the
// letters outside ASCII that lower-case into it, a surrogate pair and lone
// surrogates: the pieces random texts are made of.
QStringList mixedPieces()
{
    return {"a",
                             "Z",
                             "@",
                             "[",
                             "`",
                             "{",
                             "Mail",
                             "0",
                             " ",
                             "\r\n",
                             "\u00C9",
                             "\u0130",
                             "\u03A3",
                             "\u212A",
                             QString::fromUcs4(U"\U00010400"),
                             QString(QChar(0xD801)),
                             QString(QChar(0xDC00)),
                             "ABCDEFGH"};
}

// A random text of fewer than `most` of those pieces.
QString mixedText(QRandomGenerator &rng, int most)
{
    static const QStringList pieces = mixedPieces();
    QString text;
    for (int k = int(rng.bounded(most)); k > 0; --k)
        text += pieces.at(int(rng.bounded(int(pieces.size()))));
    return text;
}
}  // namespace

// Runs of ASCII (read four code units at a time) broken by other letters,
// surrogate pairs and lone surrogates at every offset: each code point in
// lower case where that keeps its length, as one at a time would give.
void TestRules::lowerCaseOfMixedRuns()
{
    const auto oneByOne = [](const QString &text) {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                const char32_t cp = QChar::surrogateToUcs4(c, text.at(i + 1));
                const char32_t lc = QChar::toLower(cp);
                out += QString::fromUcs4(QChar::requiresSurrogates(lc) ? &lc : &cp, 1);
                ++i;
            } else {
                const char32_t lc = c.isSurrogate() ? c.unicode() : QChar::toLower(char32_t(c.unicode()));
                out += QChar::requiresSurrogates(lc) ? c : QChar(char16_t(lc));
            }
        }
        return out;
    };
    QRandomGenerator rng(20250611);
    int unchanged = 0;
    for (int round = 0; round < 3000; ++round) {
        const QString text = mixedText(rng, 14);
        const QString low = lowerCase(text);
        QCOMPARE(low, oneByOne(text));
        if (low.constData() == text.constData())
            ++unchanged;  // nothing to change: no copy was made
    }
    QVERIFY(unchanged > 100);
}

// The case-blind finder, at every start, finds what a search of the lower-cased
// copy finds: for parts cut from the lower-cased text (starting with ASCII, with
// a letter outside ASCII, inside a surrogate pair) and parts that may be absent.
void TestRules::caseBlindFinderFindsWhatTheLoweredCopyHolds()
{
    const QStringList pieces = mixedPieces();
    QRandomGenerator rng(20261210);
    int found = 0;
    for (int round = 0; round < 2000; ++round) {
        const QString text = mixedText(rng, 16);
        const QString low = lowerCase(text);
        QString part;
        if (round % 3 != 0 && !low.isEmpty()) {
            const int from = int(rng.bounded(int(low.size())));
            part = low.mid(from, 1 + int(rng.bounded(6)));
        } else {
            for (int k = int(rng.bounded(3)); k >= 0; --k)
                part += lowerCase(pieces.at(int(rng.bounded(int(pieces.size())))));
        }
        const LoweredText searched(text);
        const CaseBlindFinder finder(searched, part);
        for (qsizetype from = 0; from <= text.size(); ++from) {
            const qsizetype want = low.indexOf(part, from);
            QVERIFY2(finder.indexIn(from) == want, qPrintable(QStringLiteral("round %1, from %2").arg(round).arg(from)));
            found += want >= 0;
        }
    }
    QVERIFY(found > 1000);
}

// Letters whose lower case is not their case folding, whose full lower case is
// longer, or that lie outside the basic plane: a letter-case-blind match means
// "equal after lowerCase", nothing more and nothing less.
void TestRules::lettersWhoseCaseMappingsDiffer_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("contains");
    QTest::newRow("long s is not s") << QString::fromUtf8("\u017Ftop") << "STOP" << false;
    QTest::newRow("Kelvin sign lowers to k") << QString::fromUtf8("\u212Aelvin") << "KELVIN" << true;
    // Its lower case would be two code units: it is kept as it is.
    QTest::newRow("dotted capital I is not i") << QString::fromUtf8("\u0130stanbul") << "istanbul" << false;
    QTest::newRow("dotted capital I matches itself")
        << QString::fromUtf8("\u0130stanbul") << QString::fromUtf8("\u0130STANBUL") << true;
    QTest::newRow("final sigma is not sigma")
        << QString::fromUtf8("\u03BF\u03B4\u03BF\u03C2") << QString::fromUtf8("\u039F\u0394\u039F\u03A3") << false;
    QTest::newRow("capital sharp s lowers to sharp s")
        << QString::fromUtf8("STRA\u1E9EE") << QString::fromUtf8("stra\u00DFe") << true;
    QTest::newRow("sharp s is not ss") << QString::fromUtf8("stra\u00DFe") << "STRASSE" << false;
    QTest::newRow("Cherokee capital lowers to small")
        << QString::fromUtf8("x\uAB70y") << QString::fromUtf8("X\u13A0Y") << true;
    QTest::newRow("ypogegrammeni is not iota") << QString::fromUtf8("a\u0345") << QString::fromUtf8("A\u03B9") << false;
    QTest::newRow("Deseret capital lowers to small")
        << QString::fromUcs4(U"x\U00010400y") << QString::fromUcs4(U"X\U00010428Y") << true;
    QTest::newRow("lone high surrogate stays") << QString(QChar(0xD801)) + "AB" << QString(QChar(0xD801)) + "a" << true;
    QTest::newRow("lone high surrogate is not a pair")
        << QString(QChar(0xD801)) + "x" << QString::fromUcs4(U"\U00010428") << false;
}

void TestRules::lettersWhoseCaseMappingsDiffer()
{
    QFETCH(QString, line);
    QFETCH(QString, part);
    QFETCH(bool, contains);
    QCOMPARE(containsText(line, part), contains);
    // The same answer for the line inside a body, between other lines, by every filter.
    const MailRecord m = mail("", "", "", "before\r\n" + line + "\r\nafter");
    const QStringList with = contains ? QStringList{line} : QStringList{};
    QCOMPARE(linesContaining(m, part), with);
    QCOMPARE(textSetLines(m, {part}), with);
    QStringList without{"before", "after"};
    if (!contains)
        without.insert(1, line);
    QCOMPARE(linesNotContaining(m, part), without);
}

namespace {
// The filters as plain loops: every line split off and lower-cased on its own.
QStringList referenceFilter(const QString &body, const QStringList &parts, bool wanted)
{
    QStringList rows;
    if (body.isEmpty())
        return rows;
    for (const QString &line : body.split(CRLF)) {
        const QString low = lowerCase(line);
        bool hit = false;
        for (const QString &p : parts)
            hit = hit || (!low.isEmpty() && low.indexOf(lowerCase(p)) >= 0);
        if (hit == wanted)
            rows << line;
    }
    return rows;
}
}  // namespace

// Bodies and parts drawn from letters with awkward case mappings, CR, LF and
// lone surrogates: the filters that search one lower-cased copy of the body
// must list exactly the lines that a line-by-line search lists.
void TestRules::filtersMatchLineByLineLowerCasing()
{
    const QList<QString> pieces{"a",
                                "A",
                                "b",
                                "B",
                                "ab",
                                "AB",
                                "\r\n",
                                "\r",
                                "\n",
                                "\r\n\r\n",
                                " ",
                                QString(QChar(0x017F)),
                                QString(QChar(0x212A)),
                                "k",
                                QString(QChar(0x0130)),
                                "i",
                                QString(QChar(0x03A3)),
                                QString(QChar(0x03C2)),
                                QString(QChar(0x03C3)),
                                QString::fromUcs4(U"\U00010400"),
                                QString::fromUcs4(U"\U00010428"),
                                QString(QChar(0xD801)),
                                QString(QChar(0xDC00))};
    QRandomGenerator rng(20250602);
    auto draw = [&](int maxPieces) {
        QString s;
        const int n = int(rng.bounded(maxPieces + 1));
        for (int i = 0; i < n; ++i)
            s += pieces.at(int(rng.bounded(int(pieces.size()))));
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        const QString body = draw(24);
        const QString part = draw(3);
        const QStringList set{draw(2), draw(3)};
        const MailRecord m = mail("", "", "", body);
        const QString what = QStringLiteral("round %1").arg(round);
        QVERIFY2(linesContaining(m, part) == referenceFilter(body, {part}, true), qPrintable(what));
        QVERIFY2(linesNotContaining(m, part) == referenceFilter(body, {part}, false), qPrintable(what));
        QStringList nonEmpty;
        for (const QString &p : set)
            if (!p.isEmpty())
                nonEmpty << p;
        QStringList expected = nonEmpty.isEmpty() ? QStringList{} : referenceFilter(body, nonEmpty, true);
        for (QString &row : expected) {
            while (row.startsWith(u' ') || row.startsWith(u'\t'))
                row.remove(0, 1);
        }
        QVERIFY2(textSetLines(m, set) == expected, qPrintable(what));
    }
}

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
