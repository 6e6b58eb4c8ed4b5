#include "output/SafeText.h"

#include <QTest>

using namespace vc;

class TestSafeText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void terminal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QStringLiteral("Order #42 shipped") << QStringLiteral("Order #42 shipped");
        QTest::newRow("tab kept") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
        QTest::newRow("backslash kept") << QStringLiteral("C:\\x1b") << QStringLiteral("C:\\x1b");
        QTest::newRow("clear screen") << QStringLiteral("\x1b[2Jhi") << QStringLiteral("\\x1b[2Jhi");
        QTest::newRow("osc 52 clipboard")
            << QStringLiteral("\x1b]52;c;ZWNobyBodW5n\x07") << QStringLiteral("\\x1b]52;c;ZWNobyBodW5n\\x07");
        QTest::newRow("line ends inside a row") << QStringLiteral("a\rb\nc") << QStringLiteral("a\\x0db\\x0ac");
        QTest::newRow("nul and del") << QString(QChar(0)) + QStringLiteral("\x7f") << QStringLiteral("\\x00\\x7f");
        QTest::newRow("c1 csi") << QString(QChar(0x9b)) + QStringLiteral("31m") << QStringLiteral("\\x9b31m");
        QTest::newRow("bidi override") << QStringLiteral("invoice\u202Efdp.exe")
                                       << QStringLiteral("invoice\\u202efdp.exe");
        QTest::newRow("isolates") << QStringLiteral("\u2066x\u2069") << QStringLiteral("\\u2066x\\u2069");
        QTest::newRow("accents and emoji kept") << QStringLiteral("Grüße 😀 ñ") << QStringLiteral("Grüße 😀 ñ");
        QTest::newRow("no-break space kept") << QStringLiteral("a\u00a0b") << QStringLiteral("a\u00a0b");
    }
    void terminal()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(safetext::forTerminal(text), shown);
    }

    void formula_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("safe");
        QTest::newRow("equals") << QStringLiteral("=HYPERLINK(\"http://x\")")
                                << QStringLiteral("'=HYPERLINK(\"http://x\")");
        QTest::newRow("plus") << QStringLiteral("+1+2") << QStringLiteral("'+1+2");
        QTest::newRow("minus") << QStringLiteral("-2") << QStringLiteral("'-2");
        QTest::newRow("at") << QStringLiteral("@SUM(A1)") << QStringLiteral("'@SUM(A1)");
        QTest::newRow("tab") << QStringLiteral("\t=1") << QStringLiteral("'\t=1");
        QTest::newRow("cr") << QStringLiteral("\r=1") << QStringLiteral("'\r=1");
        QTest::newRow("inside is fine") << QStringLiteral("a=b") << QStringLiteral("a=b");
        QTest::newRow("leading blank is fine") << QStringLiteral(" =1") << QStringLiteral(" =1");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("plain") << QStringLiteral("$42.10") << QStringLiteral("$42.10");
    }
    void formula()
    {
        QFETCH(QString, cell);
        QFETCH(QString, safe);
        QCOMPARE(safetext::neutraliseFormula(cell), safe);
        QCOMPARE(safetext::looksLikeFormula(cell), safe != cell);
    }
};

QTEST_APPLESS_MAIN(TestSafeText)
#include "tst_safe_text.moc"
