// The fixed help texts: their exact line structure, and that the worked
// examples they show agree with what the rules really extract.
#include "core/Product.h"
#include "output/HelpTexts.h"
#include "rules/Rules.h"

#include <QTest>

using namespace vc;

namespace {

// A help text as its parts: each run of text with the number of CRs after it.
struct Part {
    QString text;
    int crs = 0;
};

QList<Part> parts(const QString &help)
{
    QList<Part> out;
    qsizetype i = 0;
    while (i < help.size()) {
        Part p;
        while (i < help.size() && help.at(i) != u'\r')
            p.text += help.at(i++);
        while (i < help.size() && help.at(i) == u'\r') {
            ++p.crs;
            ++i;
        }
        out << p;
    }
    return out;
}

QString describe(const QList<Part> &ps)
{
    QStringList s;
    for (const Part &p : ps)
        s << QStringLiteral("[%1]x%2").arg(p.text).arg(p.crs);
    return s.join(QLatin1Char(' '));
}

}  // namespace

class HelpTextsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void contactNote();
    void linesByNumberExample();
    void betweenHelpStructure();
    void betweenExamplesAgreeWithTheRule();
    void betweenExampleAddsTwoCRs();
    void textSetHelpStructure();
    void textSetResultsMatchTheVerse();
};

void HelpTextsTest::contactNote()
{
    const QString note = help::contactNote();
    QCOMPARE(note, QStringLiteral("Questions? Please contact Team Quillmark at ") + product::kContactPage);
    QVERIFY(!note.contains(u'\r'));
    QVERIFY(!product::kContactPage.isEmpty());
}

void HelpTextsTest::linesByNumberExample()
{
    const QStringList lines = help::linesByNumberExample().split(u'\r');
    const QStringList expected = {"If one of the files has this for content:",
                                  "",
                                  "A",
                                  "B",
                                  "C",
                                  "D",
                                  "E",
                                  "F",
                                  "G",
                                  "",
                                  "and your input is: 1,3,4",
                                  "",
                                  "then ",
                                  "",
                                  "A",
                                  "C",
                                  "D",
                                  "",
                                  "will be extracted.",
                                  "",
                                  "The same lines will be extracted throughout all the files you add to the list."};
    QCOMPARE(lines, expected);

    // The example's promise holds for the real rule: lines 1, 3 and 4 of A..G.
    const QString body = lines.mid(2, 7).join(QStringLiteral("\r\n"));
    QCOMPARE(rules::linesByNumber(body, QStringLiteral("1,3,4")), lines.mid(14, 3));
}

void HelpTextsTest::betweenHelpStructure()
{
    const QList<Part> ps = parts(help::betweenHelp());
    QCOMPARE(ps.size(), 17);
    const QList<Part> fixed = {
        {"If one of the files has this for content:", 2},
        {"The rain in spain falls mainly on the plain.", 2},
        {"and your input is: ", 1},
        {"p", 1},
        {"n", 2},
        {"then ", 2},
        {"ai", 1},
        {"lai", 2},
        {"will be extracted.", 2},
        {"If one of the files has this for content:", 2},
        {QString(), 2},  // the sample HTML line: checked below
        {"and your input is: ", 1},
        {"remove=", 1},
        {" target", 2},
        {"then ", 2},
        {QString(), 2},  // the address of the sample line
        {"will be extracted.", 0},
    };
    for (int i = 0; i < fixed.size(); ++i) {
        QVERIFY2(ps[i].crs == fixed[i].crs, qPrintable(QStringLiteral("piece %1: ").arg(i + 1) + describe(ps)));
        if (i != 10 && i != 15)
            QCOMPARE(ps[i].text, fixed[i].text);
    }

    // The sample: an HTML line whose unsubscribe link holds remove=<address>" target=.
    const QString html = ps[10].text;
    QVERIFY(html.startsWith(u'<'));
    const qsizetype at = html.indexOf(QStringLiteral("remove="));
    QVERIFY(at > 0);
    const qsizetype quote = html.indexOf(u'"', at);
    QVERIFY(quote > at);
    QCOMPARE(html.mid(quote, 9), QStringLiteral("\" target="));
    const QString address = html.mid(at + 7, quote - at - 7);
    // A made-up address: its domain is one of the reserved example domains.
    QVERIFY(address.contains(u'@'));
    QVERIFY(address.section(u'@', 1).startsWith(QStringLiteral("example.")));
    // The result named below it is that address.
    QCOMPARE(ps[15].text, address);
}

void HelpTextsTest::betweenExamplesAgreeWithTheRule()
{
    const QList<Part> ps = parts(help::betweenHelp());
    QCOMPARE(ps.size(), 17);
    // First example: source, X and Y as shown give the two items shown.
    QCOMPARE(rules::betweenItems(ps[1].text, ps[3].text, ps[4].text), (QStringList{ps[6].text, ps[7].text}));
    // Second example: the item runs up to the start of " target", so the rule
    // also keeps the closing quote of the link; the box names the address alone.
    QCOMPARE(rules::betweenItems(ps[10].text, ps[12].text, ps[13].text), QStringList{ps[15].text + u'"'});
}

void HelpTextsTest::betweenExampleAddsTwoCRs()
{
    QCOMPARE(help::betweenExample(), help::betweenHelp() + QStringLiteral("\r\r"));
    QVERIFY(help::betweenHelp().endsWith(QStringLiteral("will be extracted.")));
}

void HelpTextsTest::textSetHelpStructure()
{
    const QList<Part> ps = parts(help::textSetHelp());
    // 4 headings, 8 verse lines, attribution, "Containing Text:", 3 texts, "Results:", 5 result lines.
    QVERIFY2(ps.size() == 4 + 8 + 1 + 1 + 3 + 1 + 5, qPrintable(describe(ps)));
    QCOMPARE(ps[0].text, QStringLiteral("A text set is a set of words or characters."));
    QCOMPARE(ps[1].text, QStringLiteral("Add what you want to search for into the set by selecting \"Add Text\""));
    QCOMPARE(ps[2].text, QStringLiteral("Sample Execution:"));
    QCOMPARE(ps[3].text, QStringLiteral("Sample File:"));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(ps[i].crs, 2);

    // The verse: one CR after each line, two after each stanza; the second and
    // fourth line of each stanza indented by exactly three spaces.
    for (int v = 0; v < 8; ++v) {
        const Part &line = ps[4 + v];
        const bool lastOfStanza = v % 4 == 3;
        const bool indented = v % 2 == 1;
        QVERIFY2(line.crs == (lastOfStanza ? 2 : 1), qPrintable(line.text));
        QVERIFY2(!line.text.trimmed().isEmpty(), qPrintable(describe(ps)));
        if (indented)
            QVERIFY2(line.text.startsWith(QStringLiteral("   ")) && line.text.at(3) != u' ', qPrintable(line.text));
        else
            QVERIFY2(!line.text.startsWith(u' '), qPrintable(line.text));
    }
    QVERIFY(!ps[12].text.trimmed().isEmpty());  // attribution
    QCOMPARE(ps[12].crs, 2);

    const QList<Part> tail = ps.mid(13, 5);
    const QList<Part> expectedTail = {{"Containing Text:", 2}, {"i", 1}, {"width", 1}, {"misery", 2}, {"Results:", 2}};
    for (int i = 0; i < expectedTail.size(); ++i) {
        QCOMPARE(tail[i].text, expectedTail[i].text);
        QCOMPARE(tail[i].crs, expectedTail[i].crs);
    }
    // Results: one CR between lines, nothing after the last.
    for (int r = 0; r < 5; ++r)
        QCOMPARE(ps[18 + r].crs, r < 4 ? 1 : 0);
}

void HelpTextsTest::textSetResultsMatchTheVerse()
{
    const QList<Part> ps = parts(help::textSetHelp());
    QCOMPARE(ps.size(), 23);
    QStringList verse;
    for (int v = 0; v < 8; ++v)
        verse << ps[4 + v].text;
    const QStringList set = {ps[14].text, ps[15].text, ps[16].text};
    QStringList shown;
    for (int r = 0; r < 5; ++r)
        shown << ps[18 + r].text;

    // What the text-set rule lists for a message whose body is the sample file.
    MailRecord m;
    m.PlainTextBody = verse.join(QStringLiteral("\r\n"));
    QCOMPARE(rules::textSetLines(m, set), shown);

    // The same by plain reasoning: lines holding any text of the set, letters
    // compared without regard to case, leading spaces removed.
    QStringList expected;
    for (const QString &line : verse) {
        bool hit = false;
        for (const QString &t : set)
            hit = hit || line.toLower().contains(t.toLower());
        if (hit) {
            qsizetype k = 0;
            while (k < line.size() && line.at(k) == u' ')
                ++k;
            expected << line.mid(k);
        }
    }
    QCOMPARE(expected.size(), 5);
    QCOMPARE(shown, expected);
    // The sample texts each earn their place: "width" and "misery" are in the verse.
    QVERIFY(m.PlainTextBody.contains(QStringLiteral("width"), Qt::CaseInsensitive));
    QVERIFY(m.PlainTextBody.contains(QStringLiteral("misery"), Qt::CaseInsensitive));
}

QTEST_APPLESS_MAIN(HelpTextsTest)
#include "test_help_texts.moc"
