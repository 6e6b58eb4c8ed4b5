// The listing handler: one rule value in, the message's rows out; duplicates
// across messages through the "already listed" test it is given; the error
// convention; and the results model the window appends the rows to.
#include "ScriptedDialogs.h"
#include "TestMail.h"
#include "core/AppError.h"
#include "rules/Listing.h"
#include "rules/ResultsModel.h"

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <algorithm>

using namespace vc;
using vc::test::mail;

namespace {
ExtractionRule only(Rule r)
{
    ExtractionRule rule;
    rule.rule = r;
    return rule;
}

// The between rule's rows, appended to `results` as the window appends them.
void listInto(ResultsModel &results, const MailRecord &m, const ExtractionRule &rule)
{
    results.appendRows(listMessage(m, rule, [&](const QString &item) { return results.contains(item); }));
}

const QString kLocation = QStringLiteral("Vellumcast12/4/2014.Form1.oChilkat_MailExtractListing");
}  // namespace

class TestListing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void membersAreViewsOfTheRule();
    void eachRuleThroughTheHandler_data();
    void eachRuleThroughTheHandler();
    void oneBatchPerMessage();
    void betweenDuplicatesAcrossMessages();
    void duplicatesKnownAcrossAppendsAndClear();
    void clearingABigListLeavesCopiesIntact();
    void failedRuleShowsBoxAndGivesNoRows();
    void outOfRangeLineNumberRaisesNothing();
    void tickManyRowsAtOnce();
};

void TestListing::membersAreViewsOfTheRule()
{
    const QList<Rule> all{Rule::AllEmailData,  Rule::Containing, Rule::ContainingList,
                          Rule::NotContaining, Rule::Between,    Rule::LineNumber};
    RuleMembers m;
    const auto flags = [&m] {
        return QList<bool>{m.mExtractAllEmailData(),
                           m.mExtractAllEmailDataContaining(),
                           m.mExtractAllEmailDataContaininglist(),
                           m.mExtractAllEmailDataNotContaining(),
                           m.mExtractAllEmailDataStartsWith(),
                           m.mExtractAllEmailDataLineNumber()};
    };
    QCOMPARE(flags().count(true), 0);  // before the first run
    for (Rule r : all) {
        m.rule = Rule::LineNumber;  // a previous run's choice is replaced
        m.rule = r;
        QCOMPARE(flags().count(true), 1);
        QVERIFY(flags().at(all.indexOf(r)));
    }
}

void TestListing::eachRuleThroughTheHandler_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("all data") << int(Rule::AllEmailData)
                              << QStringList{"Ann", "Hello [x]", "one [x]\r\n  two\r\n", "one [x]", "  two", ""};
    QTest::newRow("containing") << int(Rule::Containing) << QStringList{"Hello [x]", "one [x]", "  two"};
    QTest::newRow("not containing") << int(Rule::NotContaining) << QStringList{"Ann", "Hello [x]", "one [x]", ""};
    QTest::newRow("text set") << int(Rule::ContainingList) << QStringList{"Ann", "two"};
    QTest::newRow("between") << int(Rule::Between) << QStringList{"x"};
    QTest::newRow("line numbers") << int(Rule::LineNumber) << QStringList{"one [x]", ""};
}

void TestListing::eachRuleThroughTheHandler()
{
    QFETCH(int, rule);
    QFETCH(QStringList, rows);
    test::ScriptedDialogs boxes;
    ExtractionRule r = only(Rule(rule));
    r.containing = QStringLiteral("O");     // Text1
    r.notContaining = QStringLiteral("T");  // Text2
    r.lineNumbers = QStringLiteral("3,1");
    r.startMarker = QStringLiteral("[");
    r.endMarker = QStringLiteral("]");
    r.textSet = QStringList{QStringLiteral("ANN"), QStringLiteral("tw")};
    QCOMPARE(listMessage(mail("Ann", "", "Hello [x]", "one [x]\r\n  two\r\n"), r), rows);
    QVERIFY(boxes.boxes.isEmpty());

    // The same rows as views of the record's text; as copies, no part of the
    // body shares its characters (the all-data rule's whole body is the body
    // string itself, shared and counted), so they outlive the record.
    const MailRecord m = mail("Ann", "", "Hello [x]", QString::fromLatin1("one [x]\r\n  two\r\n"));
    const QChar *bodyBegin = m.PlainTextBody.constData();
    const QChar *bodyEnd = bodyBegin + m.PlainTextBody.size();
    const auto insideBody = [&](const QString &row) {
        return !row.isEmpty() && row.size() < bodyEnd - bodyBegin && row.constData() >= bodyBegin
               && row.constData() < bodyEnd;
    };
    const QStringList views = listMessage(m, r, {}, rules::RowText::Views);
    QCOMPARE(views, rows);
    const QStringList copies = listMessage(m, r, {}, rules::RowText::Copies);
    QCOMPARE(copies, rows);
    QVERIFY(std::none_of(copies.begin(), copies.end(), insideBody));
    // Every non-empty row that is a part of the body (not the body itself) is a view of it.
    for (const QString &row : views) {
        if (!row.isEmpty() && row.size() < m.PlainTextBody.size() && m.PlainTextBody.contains(row)
            && !QStringList{"Ann", "Hello [x]", "x"}.contains(row))
            QVERIFY2(insideBody(row), qPrintable(row));
    }
}

// The rows of a message reach the list in one model operation; a message
// without rows touches nothing.
void TestListing::oneBatchPerMessage()
{
    test::ScriptedDialogs boxes;
    ResultsModel results;
    results.append(QStringLiteral("earlier"));
    QSignalSpy inserted(&results, &QAbstractItemModel::rowsInserted);
    listInto(results, mail("F", "", "S", "a\r\nb\r\nc"), only(Rule::AllEmailData));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 1);
    QCOMPARE(inserted.at(0).at(2).toInt(), 6);
    listInto(results, mail("", "", "", ""), only(Rule::Containing));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(results.count(), 7);
}

void TestListing::betweenDuplicatesAcrossMessages()
{
    test::ScriptedDialogs boxes;
    ExtractionRule r = only(Rule::Between);
    r.startMarker = QStringLiteral("p");
    r.endMarker = QStringLiteral("n");
    const MailRecord first = mail("", "", "", "The rain in spain falls mainly on the plain.");
    const MailRecord second = mail("", "", "Spain and pain", "plain PAIN");

    ResultsModel clear;  // Check3 clear
    listInto(clear, first, r);
    listInto(clear, second, r);
    // The second message: "ai" twice (subject, known), "lai" (known), "AI" (differs in case).
    QCOMPARE(clear.texts(), (QStringList{"ai", "lai", "AI"}));

    r.showDuplicates = true;  // Check3 set
    ResultsModel all;
    listInto(all, first, r);
    listInto(all, second, r);
    QCOMPARE(all.texts(), (QStringList{"ai", "lai", "ai", "ai", "lai", "AI"}));
    // The test of what is listed already is the caller's: one that knows
    // nothing lets every item of a message through once.
    r.showDuplicates = false;
    QCOMPARE(listMessage(second, r, [](const QString &) { return false; }), (QStringList{"ai", "lai", "AI"}));
    QVERIFY(boxes.boxes.isEmpty());
}

// The duplicate test sees rows appended before its first question, rows
// appended after it, and nothing of a cleared list.
void TestListing::duplicatesKnownAcrossAppendsAndClear()
{
    test::ScriptedDialogs boxes;
    ExtractionRule r = only(Rule::Between);
    r.startMarker = QStringLiteral("<");
    r.endMarker = QStringLiteral(">");
    ResultsModel results;
    results.appendRows({"a", "b"});
    listInto(results, mail("", "", "", "<a><c>"), r);
    QCOMPARE(results.texts(), (QStringList{"a", "b", "c"}));
    results.append(QStringLiteral("d"));
    listInto(results, mail("", "", "", "<d><c><e>"), r);
    QCOMPARE(results.texts(), (QStringList{"a", "b", "c", "d", "e"}));
    results.clear();
    listInto(results, mail("", "", "", "<a><e>"), r);
    QCOMPARE(results.texts(), (QStringList{"a", "e"}));
    QVERIFY(results.contains(QStringLiteral("e")));
    QVERIFY(!results.contains(QStringLiteral("d")));
}

// A big list is freed elsewhere; a copy of its rows (an output command's) stays whole.
void TestListing::clearingABigListLeavesCopiesIntact()
{
    ResultsModel results;
    QStringList rows;
    for (int i = 0; i < 50000; ++i)
        rows << QStringLiteral("row %1").arg(i);
    results.appendRows(rows);
    QVERIFY(results.contains(QStringLiteral("row 49999")));
    const QList<QString> copy = results.texts();
    QSignalSpy reset(&results, &QAbstractItemModel::modelReset);
    results.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(results.count(), 0);
    QCOMPARE(results.rowCount(), 0);
    QVERIFY(!results.contains(QStringLiteral("row 1")));
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(copy, QList<QString>(rows));
    results.append(QStringLiteral("again"));
    QCOMPARE(results.texts(), QStringList{"again"});
}

// A failure inside the rule (here the caller's test of listed items) shows the
// "Application Error" box of the listing handler; the message gives no rows
// and the next message is listed as usual.
void TestListing::failedRuleShowsBoxAndGivesNoRows()
{
    test::ScriptedDialogs boxes;
    ExtractionRule r = only(Rule::Between);
    r.startMarker = QStringLiteral("<");
    r.endMarker = QStringLiteral(">");
    const rules::ListedPredicate broken = [](const QString &) -> bool { throw AppError(err::ObjectNotSet); };
    QCOMPARE(listMessage(mail("", "", "", "<a>"), r, broken), QStringList());
    QCOMPARE(boxes.boxes.size(), 1);
    const auto &box = boxes.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Application Error"));
    QCOMPARE(box.icon, BoxIcon::Warning);
    QVERIFY2(
        box.text.startsWith(AppError::standardDescription(err::ObjectNotSet) + "\r\nin " + kLocation + " at line 108"),
        qPrintable(box.text));
    QCOMPARE(listMessage(mail("", "", "", "<a>"), r), QStringList{"a"});
}

void TestListing::outOfRangeLineNumberRaisesNothing()
{
    test::ScriptedDialogs boxes;
    ExtractionRule r = only(Rule::LineNumber);
    r.lineNumbers = QStringLiteral("99999,-40000,2");
    QCOMPARE(listMessage(mail("", "", "", "a\r\nb"), r), QStringList{"b"});
    QVERIFY(boxes.boxes.isEmpty());
}

// Tick all, untick all, invert, and Space on a selection: each is one change
// notification, and only the tick states change.
void TestListing::tickManyRowsAtOnce()
{
    ResultsModel model;
    model.appendRows({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
    QSignalSpy changed(&model, &ResultsModel::dataChanged);
    auto ticks = [&] {
        QString s;
        for (int i = 0; i < model.count(); ++i)
            s += model.isChecked(i) ? QLatin1Char('x') : QLatin1Char('-');
        return s;
    };

    model.setChecked(1, true);
    changed.clear();
    model.tickAll(ResultsModel::Tick::Invert);
    QCOMPARE(ticks(), QStringLiteral("x-xx"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().at(0).value<QModelIndex>().row(), 0);
    QCOMPARE(changed.first().at(1).value<QModelIndex>().row(), 3);
    model.tickAll(ResultsModel::Tick::On);
    QCOMPARE(ticks(), QStringLiteral("xxxx"));
    QCOMPARE(model.checkedCount(), 4);
    model.tickAll(ResultsModel::Tick::Off);
    QCOMPARE(ticks(), QStringLiteral("----"));

    // Space: a selection with an unticked row gets ticked whole ...
    model.setChecked(2, true);
    changed.clear();
    model.toggleRows({1, 2, 99});
    QCOMPARE(ticks(), QStringLiteral("-xx-"));
    QCOMPARE(changed.size(), 1);
    // ... and a wholly ticked one gets unticked.
    model.toggleRows({2, 1});
    QCOMPARE(ticks(), QStringLiteral("----"));
    QCOMPARE(model.texts(),
             QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));

    ResultsModel empty;
    QSignalSpy none(&empty, &ResultsModel::dataChanged);
    empty.tickAll(ResultsModel::Tick::On);
    empty.toggleRows({0});
    QCOMPARE(none.size(), 0);
}

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
