// The listing handler: dispatch, one batch per message, duplicates across
// messages and the error convention.
#include "ScriptedDialogs.h"
#include "TestMail.h"
#include "core/AppError.h"
#include "rules/Listing.h"

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

using namespace vc;
using vc::test::mail;

namespace {
RuleMembers only(Rule r)
{
    RuleMembers m;
    m.select(r);
    return m;
}

// Parameters whose line-number entry cannot be read.
struct BrokenParams : FixedRuleParams {
    QString lineNumbers() const override { throw AppError(err::ObjectNotSet); }
};

const QString kLocation = QStringLiteral("Vellumcast12/4/2014.Form1.oChilkat_MailExtractListing");
}  // namespace

class TestListing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void selectSetsExactlyOne();
    void eachRuleThroughTheHandler_data();
    void eachRuleThroughTheHandler();
    void oneBatchPerMessage();
    void betweenDuplicatesAcrossMessages();
    void duplicatesKnownAcrossAppendsAndClear();
    void clearingABigListLeavesCopiesIntact();
    void failedStepShowsBoxAndRestGoesOn();
    void outOfRangeLineNumberRaisesNothing();
    void tickManyRowsAtOnce();
};

void TestListing::selectSetsExactlyOne()
{
    const QList<Rule> all{Rule::AllEmailData,  Rule::Containing, Rule::ContainingList,
                          Rule::NotContaining, Rule::StartsWith, Rule::LineNumber};
    for (Rule r : all) {
        RuleMembers m;
        m.select(Rule::LineNumber);  // a previous run's choice must be cleared
        m.select(r);
        const QList<bool> flags{m.mExtractAllEmailData,
                                m.mExtractAllEmailDataContaining,
                                m.mExtractAllEmailDataContaininglist,
                                m.mExtractAllEmailDataNotContaining,
                                m.mExtractAllEmailDataStartsWith,
                                m.mExtractAllEmailDataLineNumber};
        QCOMPARE(flags.count(true), 1);
        QVERIFY(flags.at(all.indexOf(r)));
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
    QTest::newRow("between") << int(Rule::StartsWith) << QStringList{"x"};
    QTest::newRow("line numbers") << int(Rule::LineNumber) << QStringList{"one [x]", ""};
}

void TestListing::eachRuleThroughTheHandler()
{
    QFETCH(int, rule);
    QFETCH(QStringList, rows);
    test::ScriptedDialogs boxes;
    FixedRuleParams p;
    p.containing = QStringLiteral("O");     // Text1
    p.notContaining = QStringLiteral("T");  // Text2
    p.lines = QStringLiteral("3,1");
    p.start = QStringLiteral("[");
    p.end = QStringLiteral("]");
    p.items = QStringList{QStringLiteral("ANN"), QStringLiteral("tw")};
    ResultsModel results;
    listMessage(mail("Ann", "", "Hello [x]", "one [x]\r\n  two\r\n"), only(Rule(rule)), p, results);
    QCOMPARE(results.texts(), rows);
    QVERIFY(boxes.boxes.isEmpty());
}

void TestListing::oneBatchPerMessage()
{
    test::ScriptedDialogs boxes;
    ResultsModel results;
    results.append(QStringLiteral("earlier"));
    QSignalSpy inserted(&results, &QAbstractItemModel::rowsInserted);
    FixedRuleParams p;
    listMessage(mail("F", "", "S", "a\r\nb\r\nc"), only(Rule::AllEmailData), p, results);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 1);
    QCOMPARE(inserted.at(0).at(2).toInt(), 6);
    // A message without rows touches nothing.
    listMessage(mail("", "", "", ""), only(Rule::Containing), p, results);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(results.count(), 7);
}

void TestListing::betweenDuplicatesAcrossMessages()
{
    test::ScriptedDialogs boxes;
    FixedRuleParams p;
    p.start = QStringLiteral("p");
    p.end = QStringLiteral("n");
    const MailRecord first = mail("", "", "", "The rain in spain falls mainly on the plain.");
    const MailRecord second = mail("", "", "Spain and pain", "plain PAIN");

    ResultsModel clear;  // Check3 clear
    listMessage(first, only(Rule::StartsWith), p, clear);
    listMessage(second, only(Rule::StartsWith), p, clear);
    // The second message: "ai" twice (subject, known), "lai" (known), "AI" (differs in case).
    QCOMPARE(clear.texts(), (QStringList{"ai", "lai", "AI"}));

    p.duplicates = true;  // Check3 set
    ResultsModel all;
    listMessage(first, only(Rule::StartsWith), p, all);
    listMessage(second, only(Rule::StartsWith), p, all);
    QCOMPARE(all.texts(), (QStringList{"ai", "lai", "ai", "ai", "lai", "AI"}));
    QVERIFY(boxes.boxes.isEmpty());
}

// The duplicate test sees rows appended before its first question, rows
// appended after it, and nothing of a cleared list.
void TestListing::duplicatesKnownAcrossAppendsAndClear()
{
    test::ScriptedDialogs boxes;
    FixedRuleParams p;
    p.start = QStringLiteral("<");
    p.end = QStringLiteral(">");
    ResultsModel results;
    results.appendRows({"a", "b"});
    listMessage(mail("", "", "", "<a><c>"), only(Rule::StartsWith), p, results);
    QCOMPARE(results.texts(), (QStringList{"a", "b", "c"}));
    results.append(QStringLiteral("d"));
    listMessage(mail("", "", "", "<d><c><e>"), only(Rule::StartsWith), p, results);
    QCOMPARE(results.texts(), (QStringList{"a", "b", "c", "d", "e"}));
    results.clear();
    listMessage(mail("", "", "", "<a><e>"), only(Rule::StartsWith), p, results);
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

void TestListing::failedStepShowsBoxAndRestGoesOn()
{
    test::ScriptedDialogs boxes;
    BrokenParams p;
    p.containing = QStringLiteral("b");
    RuleMembers m;
    m.mExtractAllEmailDataContaining = true;
    m.mExtractAllEmailDataLineNumber = true;  // its entry cannot be read
    ResultsModel results;
    listMessage(mail("", "", "", "a\r\nb"), m, p, results);
    QCOMPARE(boxes.boxes.size(), 1);
    const auto &box = boxes.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Application Error"));
    QCOMPARE(box.icon, BoxIcon::Warning);
    QVERIFY2(
        box.text.startsWith(AppError::standardDescription(err::ObjectNotSet) + "\r\nin " + kLocation + " at line "),
        qPrintable(box.text));
    // The rows of the step before the failure still reach the list.
    QCOMPARE(results.texts(), QStringList{"b"});
}

void TestListing::outOfRangeLineNumberRaisesNothing()
{
    test::ScriptedDialogs boxes;
    FixedRuleParams p;
    p.lines = QStringLiteral("99999,-40000,2");
    ResultsModel results;
    listMessage(mail("", "", "", "a\r\nb"), only(Rule::LineNumber), p, results);
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(results.texts(), QStringList{"b"});
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
