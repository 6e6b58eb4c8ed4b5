// How a PDF's text is read through the helper process, with stand-in helpers
// that misbehave on purpose: one that hangs, floods, crashes, fails, echoes
// what it is given, or reports the limits it runs under.
#include "mail/PdfText.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vc::PdfText;
using vc::PdfTextOptions;
using vc::readPdfText;

#if defined(__SANITIZE_ADDRESS__)
#define TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEST_ASAN 1
#endif
#endif

class TestPdfText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void misbehavingHelpers_data();
    void misbehavingHelpers();
    void inputReachesTheHelperWhileItsOutputIsRead();
    void helperRunsUnderItsLimits();
    void tooLargeOrMissing();
    void realHelperIsFoundBesideTheProgram();

private:
    QString helper(const QByteArray &name, const QByteArray &script);
    QTemporaryDir dir;
};

QString TestPdfText::helper(const QByteArray &name, const QByteArray &script)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write("#!/bin/bash\n" + script + "\n") < 0)
        return {};
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void TestPdfText::misbehavingHelpers_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem");

    QTest::newRow("hangs") << QByteArray("exec sleep 60") << QString()
                           << "reading the PDF took longer than 1 s; it was given up";
    QTest::newRow("hangs after some text") << QByteArray("echo 'first page'; exec sleep 60") << QString()
                                           << "reading the PDF took longer than 1 s; it was given up";
    QTest::newRow("crashes") << QByteArray("kill -SEGV $$") << QString()
                             << "the PDF could not be read: the PDF reader failed on it";
    QTest::newRow("unknown status") << QByteArray("exit 9") << QString()
                                    << "the PDF could not be read: the PDF text helper ended with status 9";
    QTest::newRow("pages and line ends") << QByteArray(R"(printf 'one\ntwo\r\n\fthree')") << "one\r\ntwo\r\nthree\r\n"
                                         << QString();
    QTest::newRow("damaged, some text") << QByteArray("printf 'kept'; exit 7") << "kept\r\n"
                                        << "the PDF is damaged; its text may be incomplete";
    QTest::newRow("encrypted") << QByteArray("exit 3") << QString() << "the PDF is encrypted; its text cannot be read";
}

void TestPdfText::misbehavingHelpers()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, text);
    QFETCH(QString, problem);
    PdfTextOptions options;
    options.helper = helper(QTest::currentDataTag(), script);
    options.timeoutMs = 700;
    QElapsedTimer clock;
    clock.start();
    const PdfText got = readPdfText("%PDF-1.4 whatever", options);
    QCOMPARE(got.problem, problem);
    QCOMPARE(got.text, text);
    // The time limit ends a helper that hangs: far sooner than its sleep.
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
}

void TestPdfText::inputReachesTheHelperWhileItsOutputIsRead()
{
    // cat answers while it is still being fed: the whole input must go in and
    // come back, which only works when writing and reading go on together.
    QByteArray input;
    for (int i = 0; input.size() < (6 << 20); ++i)
        input += "line " + QByteArray::number(i) + "\n";
    PdfTextOptions options;
    options.helper = helper("echo", "exec cat");
    PdfText got = readPdfText(input, options);
    QVERIFY2(got.problem.isEmpty(), qPrintable(got.problem));
    QCOMPARE(got.text.size(), input.size() + input.count('\n'));
    QVERIFY(got.text.endsWith(QStringLiteral("line %1\r\n").arg(input.count('\n') - 1)));

    // A helper that never stops talking is cut off at the text limit.
    options.helper = helper("flood", "exec yes 'row of text'");
    options.maxTextBytes = 1 << 20;
    got = readPdfText("x", options);
    QCOMPARE(got.problem, QStringLiteral("the PDF's text is longer than 1 MB; the rest was left out"));
    QVERIFY(got.text.size() <= (1 << 20) + (1 << 20) / 11 + 2);
    QVERIFY(got.text.size() > (1 << 19));
    QVERIFY(got.text.startsWith(QStringLiteral("row of text\r\nrow of text\r\n")));
}

void TestPdfText::helperRunsUnderItsLimits()
{
    PdfTextOptions options;
    options.helper = helper("limits", "ulimit -c; ulimit -f; ulimit -t; ulimit -v");
    options.maxMemoryBytes = qint64(300) << 20;
    options.timeoutMs = 5000;
    const PdfText got = readPdfText("x", options);
    QVERIFY2(got.problem.isEmpty(), qPrintable(got.problem));
    const QStringList lines = got.text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("0"));  // no core files
    QCOMPARE(lines[1], QStringLiteral("0"));  // no files written
    QCOMPARE(lines[2], QStringLiteral("7"));  // CPU seconds: the time limit and a little
#ifndef TEST_ASAN
    QCOMPARE(lines[3], QString::number(300 * 1024));  // address space in KiB
#endif
}

void TestPdfText::tooLargeOrMissing()
{
    PdfTextOptions options;
    options.helper = helper("never", "exit 0");
    options.maxPdfBytes = 1000;
    PdfText got = readPdfText(QByteArray(1001, 'x'), options);
    QCOMPARE(got.problem, QStringLiteral("the PDF is larger than 1000 bytes; its text was not read"));
    QVERIFY(got.text.isEmpty());

    options.helper = dir.filePath(QStringLiteral("no-such-helper"));
    got = readPdfText("x", options);
    QVERIFY2(got.problem.startsWith(QStringLiteral("the PDF was not read: the PDF text helper could not be started")),
             qPrintable(got.problem));
}

void TestPdfText::realHelperIsFoundBesideTheProgram()
{
    const QString found = vc::pdfTextHelper();
    QCOMPARE(found, QCoreApplication::applicationDirPath() + QStringLiteral("/vellumcast-pdftext"));
    // Not a PDF: the helper says so through its status.
    const PdfText got = readPdfText("plain words, no PDF");
    QCOMPARE(got.problem, QStringLiteral("the PDF is damaged or not a PDF; its text cannot be read"));
}

QTEST_GUILESS_MAIN(TestPdfText)
#include "test_pdf_text.moc"
