// The record writers: the CSV and JSON-lines encodings, what number and date
// columns read, and how each writer treats the file it writes (replaced only
// when committed, appended message by message, a workbook read back).
#include "TestFiles.h"
#include "XlsxReadBack.h"
#include "output/RecordWriters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vc::records;

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

Column column(const QString &name, CellType type = CellType::Text, bool multi = false)
{
    return Column{name, 0, multi, QStringLiteral("; "), type};
}

Cell text(const QString &t)
{
    return Cell{t, {}};
}

Cell list(const QStringList &items)
{
    return Cell{items.join(QStringLiteral("; ")), items};
}

const QList<Column> kColumns = {column("order"), column("total", CellType::Number), column("when", CellType::Date),
                                column("emails", CellType::Text, true)};

QList<Row> twoRows()
{
    return {
        Row{text("A-1"), text("£1,234.50"), text("2025-01-06T08:12:00+01:00"), list({"a@x.example", "b@y.example"})},
        Row{text("=2+3, say \"hi\""), text("-5"), text("Monday 6 January 2025"), list({})}};
}

}  // namespace

class TestRecordWriters : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void csvCells_data();
    void csvCells();
    void csvFile();
    void jsonLines();
    void numbers_data();
    void numbers();
    void dates_data();
    void dates();
    void replacedFileOnlyWhenCommitted();
    void unusablePathFailsAtOnce();
    void appendsMessageByMessage();
    void failedSinkTakesNoMore();
    void workbookReadsBack();
    void workbookReplacesOnlyWhenCommitted();
    void workbookToSink();
};

void TestRecordWriters::csvCells_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("plain") << "48213" << false << QByteArray("48213\r\n");
    QTest::newRow("comma") << "Robin Vale, 14 Orchard Row" << false << QByteArray("\"Robin Vale, 14 Orchard Row\"\r\n");
    QTest::newRow("quote") << "27\" monitor arm" << false << QByteArray("\"27\"\" monitor arm\"\r\n");
    QTest::newRow("line break") << "a\r\nb" << false << QByteArray("\"a\r\nb\"\r\n");
    QTest::newRow("accents in UTF-8") << QStringLiteral("Bücherstube") << false
                                      << QByteArray("B\xc3\xbc"
                                                    "cherstube\r\n");
    QTest::newRow("formula") << "=HYPERLINK(\"http://x.example\")" << false
                             << QByteArray("\"'=HYPERLINK(\"\"http://x.example\"\")\"\r\n");
    QTest::newRow("plus") << "+1 555" << false << QByteArray("'+1 555\r\n");
    QTest::newRow("minus") << "-cmd" << false << QByteArray("'-cmd\r\n");
    QTest::newRow("at") << "@SUM(A1)" << false << QByteArray("'@SUM(A1)\r\n");
    QTest::newRow("tab") << "\tx" << false << QByteArray("'\tx\r\n");
    QTest::newRow("carriage return") << "\rx" << false << QByteArray("\"'\rx\"\r\n");
    QTest::newRow("raw formula") << "=2+3" << true << QByteArray("=2+3\r\n");
    QTest::newRow("empty") << "" << false << QByteArray("\r\n");
}

void TestRecordWriters::csvCells()
{
    QFETCH(QString, cell);
    QFETCH(bool, raw);
    QFETCH(QByteArray, bytes);
    QByteArray out;
    WriterOptions options;
    options.rawCells = raw;
    appendCsvRow(out, {column("c")}, Row{text(cell)}, options);
    QCOMPARE(out, bytes);
}

void TestRecordWriters::csvFile()
{
    WriterOptions excel;
    excel.byteOrderMark = true;
    QCOMPARE(recordBytes(RecordFormat::Csv, kColumns, twoRows(), excel),
             QByteArray("\xEF\xBB\xBF"
                        "order,total,when,emails\r\n"
                        "A-1,\"\xC2\xA3"
                        "1,234.50\",2025-01-06T08:12:00+01:00,a@x.example; b@y.example\r\n"
                        "\"'=2+3, say \"\"hi\"\"\",-5,Monday 6 January 2025,\r\n"));
    // A number column keeps a negative number as it is; any other column neutralises it.
    QByteArray out;
    appendCsvRow(out, {column("n", CellType::Number), column("t")}, Row{text("-5"), text("-5")}, {});
    QCOMPARE(out, QByteArray("-5,'-5\r\n"));
    QCOMPARE(recordBytes(RecordFormat::Csv, {column("a,b"), column("c")}, {}, {}), QByteArray("\"a,b\",c\r\n"));
}

void TestRecordWriters::jsonLines()
{
    QCOMPARE(recordBytes(RecordFormat::Jsonl, kColumns, twoRows(), {}),
             QByteArray("{\"order\":\"A-1\",\"total\":1234.5,\"when\":\"2025-01-06T08:12:00+01:00\","
                        "\"emails\":[\"a@x.example\",\"b@y.example\"]}\n"
                        "{\"order\":\"=2+3, say \\\"hi\\\"\",\"total\":-5,\"when\":\"Monday 6 January 2025\","
                        "\"emails\":[]}\n"));
    // Text that is no number stays text; control characters are escaped.
    QCOMPARE(recordBytes(RecordFormat::Jsonl, {column("n", CellType::Number), column("t")},
                         {Row{text("n/a"), text(QStringLiteral("a\tb\x01\u00e9"))}}, {}),
             QByteArray("{\"n\":\"n/a\",\"t\":\"a\\tb\\u0001\xC3\xA9\"}\n"));
}

void TestRecordWriters::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<double>>("number");
    const std::optional<double> none;
    QTest::newRow("plain") << "42" << std::optional<double>(42);
    QTest::newRow("decimal point") << "42.10" << std::optional<double>(42.1);
    QTest::newRow("currency first") << "$1,234.50" << std::optional<double>(1234.5);
    QTest::newRow("decimal comma, currency after") << "1.234,56 €" << std::optional<double>(1234.56);
    QTest::newRow("comma decimals") << "11,90" << std::optional<double>(11.9);
    QTest::newRow("grouped by spaces") << "NOK 1 607,00" << std::optional<double>(1607);
    QTest::newRow("a thousand") << "1,234" << std::optional<double>(1234);
    QTest::newRow("code first") << "GBP 18.99" << std::optional<double>(18.99);
    QTest::newRow("negative") << "-€5" << std::optional<double>(-5);
    QTest::newRow("millions") << "USD 1,000,000.00" << std::optional<double>(1000000);
    QTest::newRow("words") << "n/a" << none;
    QTest::newRow("two numbers") << "3 x 4" << none;
    QTest::newRow("bad grouping") << "1,23,4" << none;
    QTest::newRow("grouping after decimals") << "1.5,000" << none;
    QTest::newRow("empty") << "" << none;
}

void TestRecordWriters::numbers()
{
    QFETCH(QString, text);
    QFETCH(std::optional<double>, number);
    const std::optional<double> got = cellNumber(text);
    QCOMPARE(got.has_value(), number.has_value());
    if (number)
        QCOMPARE(*got, *number);
}

void TestRecordWriters::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::newRow("ISO with offset") << "2025-01-06T08:12:00+01:00" << QDate(2025, 1, 6) << QTime(8, 12);
    QTest::newRow("ISO date") << "2025-02-03" << QDate(2025, 2, 3) << QTime();
    QTest::newRow("RFC 2822") << "Tue, 04 Mar 2025 09:41:07 +0000" << QDate(2025, 3, 4) << QTime(9, 41, 7);
    QTest::newRow("written, with weekday") << "Monday 6 January 2025" << QDate(2025, 1, 6) << QTime();
    QTest::newRow("month first") << "January 6, 2025" << QDate(2025, 1, 6) << QTime();
    QTest::newRow("short month") << "6 Jan 2025" << QDate(2025, 1, 6) << QTime();
    QTest::newRow("day first with slashes") << "06/01/2025" << QDate(2025, 1, 6) << QTime();
    QTest::newRow("dotted") << "5.3.2025" << QDate(2025, 3, 5) << QTime();
    QTest::newRow("no year") << "Tuesday 14 January" << QDate() << QTime();
    QTest::newRow("not a date") << "soon" << QDate() << QTime();
}

void TestRecordWriters::dates()
{
    QFETCH(QString, text);
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    const std::optional<CellDate> got = cellDate(text);
    QCOMPARE(got.has_value(), date.isValid());
    if (got) {
        QCOMPARE(got->date, date);
        QCOMPARE(got->time, time);
    }
}

void TestRecordWriters::replacedFileOnlyWhenCommitted()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old content\n");
    old.close();

    for (RecordFormat format : {RecordFormat::Csv, RecordFormat::Jsonl}) {
        QString error;
        auto w = replaceFile(format, path, kColumns, {}, &error);
        QVERIFY2(w, qPrintable(error));
        QVERIFY(w->append(twoRows()));
        w->discard();
        QCOMPARE(vc::test::readFile(path), QByteArray("old content\n"));
    }
    QString error;
    auto w = replaceFile(RecordFormat::Csv, path, kColumns, {}, &error);
    QVERIFY(w->append(twoRows().mid(0, 1)));
    QVERIFY(w->append({}));
    QVERIFY(w->append(twoRows().mid(1)));
    QCOMPARE(vc::test::readFile(path), QByteArray("old content\n"));
    QVERIFY2(w->commit(), qPrintable(w->errorString()));
    QCOMPARE(w->rowsWritten(), 2);
    QCOMPARE(vc::test::readFile(path), recordBytes(RecordFormat::Csv, kColumns, twoRows(), {}));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"rows.csv"});
}

void TestRecordWriters::unusablePathFailsAtOnce()
{
    QTemporaryDir dir;
    for (RecordFormat format : {RecordFormat::Csv, RecordFormat::Jsonl, RecordFormat::Xlsx}) {
        QString error;
        QVERIFY(!replaceFile(format, dir.filePath("missing/rows.out"), kColumns, {}, &error));
        QVERIFY2(error.contains(dir.filePath("missing")), qPrintable(error));
    }
    QString error;
    QVERIFY(!appendFile(RecordFormat::Xlsx, dir.filePath("a.xlsx"), kColumns, {}, &error));
    QVERIFY(!error.isEmpty());
}

void TestRecordWriters::appendsMessageByMessage()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("watch.csv");
    WriterOptions excel;
    excel.byteOrderMark = true;
    QString error;
    {
        auto w = appendFile(RecordFormat::Csv, path, kColumns, excel, &error);
        QVERIFY2(w, qPrintable(error));
        QVERIFY(w->append(twoRows().mid(0, 1)));
        // Each message's rows are in the file as soon as append returns.
        QCOMPARE(vc::test::readFile(path), recordBytes(RecordFormat::Csv, kColumns, twoRows().mid(0, 1), excel));
        QVERIFY(w->commit());
    }
    auto again = appendFile(RecordFormat::Csv, path, kColumns, excel, &error);
    QVERIFY(again->append(twoRows().mid(1)));
    QVERIFY(again->commit());
    // One header, one byte-order mark: the same bytes as one run of both rows.
    QCOMPARE(vc::test::readFile(path), recordBytes(RecordFormat::Csv, kColumns, twoRows(), excel));

    // A device that takes nothing: the append fails with the system's reason.
    auto full = appendFile(RecordFormat::Jsonl, QStringLiteral("/dev/full"), kColumns, {}, &error);
    QVERIFY2(full, qPrintable(error));
    QVERIFY(!full->append(twoRows()));
    QVERIFY2(full->errorString().contains(QLatin1String("/dev/full")), qPrintable(full->errorString()));
    QCOMPARE(full->rowsWritten(), 0);
}

void TestRecordWriters::failedSinkTakesNoMore()
{
    QList<QByteArray> taken;
    int accept = 2;  // the header and the first message
    QString error;
    auto w = toSink(
        RecordFormat::Csv,
        [&](const QByteArray &bytes) {
            if (accept-- <= 0)
                return false;
            taken << bytes;
            return true;
        },
        kColumns, {}, &error);
    QVERIFY(w);
    QVERIFY(w->append(twoRows().mid(0, 1)));
    QVERIFY(!w->append(twoRows().mid(1)));
    QVERIFY(!w->errorString().isEmpty());
    accept = 10;
    QVERIFY(!w->append(twoRows()));  // after a failure nothing more goes out
    QVERIFY(!w->commit());
    QCOMPARE(taken.size(), 2);
    QCOMPARE(taken.join(), recordBytes(RecordFormat::Csv, kColumns, twoRows().mid(0, 1), {}));
    QCOMPARE(w->rowsWritten(), 1);
}

void TestRecordWriters::workbookReadsBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.xlsx");
    WriterOptions options;
    options.sheetName = QStringLiteral("Orders: [2025]");
    QString error;
    auto w = replaceFile(RecordFormat::Xlsx, path, kColumns, options, &error);
    QVERIFY2(w, qPrintable(error));
    QList<Row> rows = twoRows();
    rows << Row{text(QStringLiteral("_x0041_ stays, \u00e9")), text("n/a"), text("soon"), list({"c@z.example"})};
    rows << Row{text(QString(40000, u'x')), text(""), text(""), list({})};
    QVERIFY(w->append(rows));
    QVERIFY2(w->commit(), qPrintable(w->errorString()));

    const vc::test::Workbook book = vc::test::readWorkbook(path);
    QCOMPARE(book.sheets, QStringList{"Orders 2025"});
    QCOMPARE(book.freeze, QStringLiteral("A2"));
    QCOMPARE(book.rows.size(), 5);
    using C = vc::test::WorkbookCell;
    QCOMPARE(book.rows[0], (QList<C>{C::text("order", true), C::text("total", true), C::text("when", true),
                                     C::text("emails", true)}));
    QCOMPARE(book.rows[1],
             (QList<C>{C::text("A-1"), C::number(1234.5), C::date("2025-01-06T08:12:00", "yyyy-mm-dd hh:mm:ss"),
                       C::text("a@x.example; b@y.example")}));
    QCOMPARE(book.rows[2], (QList<C>{C::text("'=2+3, say \"hi\""), C::number(-5),
                                     C::date("2025-01-06T00:00:00", "yyyy-mm-dd"), C()}));
    // Text that reads like the escape "_x0041_" keeps its underscore escaped
    // (spreadsheet programs read "_x005F_" as "_"; openpyxl shows it as stored).
    QCOMPARE(book.rows[3], (QList<C>{C::text(QStringLiteral("_x005F_x0041_ stays, \u00e9")), C::text("n/a"),
                                     C::text("soon"), C::text("c@z.example")}));
    // A cell holds at most 32,767 characters.
    QCOMPARE(book.rows[4].first(), C::text(QString(32767, u'x')));

    // Raw cells: the formula text stays, still as text, never as a formula.
    options.rawCells = true;
    auto raw = replaceFile(RecordFormat::Xlsx, path, kColumns, options, &error);
    QVERIFY(raw->append(twoRows()));
    QVERIFY(raw->commit());
    QCOMPARE(vc::test::readWorkbook(path).rows[2].first(), C::text("=2+3, say \"hi\""));
}

void TestRecordWriters::workbookReplacesOnlyWhenCommitted()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.xlsx");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("not yet a workbook");
    old.close();
    QString error;
    auto w = replaceFile(RecordFormat::Xlsx, path, kColumns, {}, &error);
    QVERIFY(w->append(twoRows()));
    QCOMPARE(vc::test::readFile(path), QByteArray("not yet a workbook"));
    w->discard();
    QVERIFY(!w->commit());
    QCOMPARE(vc::test::readFile(path), QByteArray("not yet a workbook"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"rows.xlsx"});
}

void TestRecordWriters::workbookToSink()
{
    QByteArray bytes;
    QString error;
    auto w = toSink(
        RecordFormat::Xlsx,
        [&](const QByteArray &b) {
            bytes += b;
            return true;
        },
        kColumns, {}, &error);
    QVERIFY2(w, qPrintable(error));
    QVERIFY(w->append(twoRows()));
    QVERIFY(bytes.isEmpty());  // a workbook is one file: whole at the end
    QVERIFY(w->commit());
    QVERIFY(bytes.startsWith("PK\x03\x04"));
    QTemporaryDir dir;
    QFile f(dir.filePath("sink.xlsx"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QCOMPARE(vc::test::readWorkbook(f.fileName()).rows.size(), 3);
}

QTEST_GUILESS_MAIN(TestRecordWriters)
#include "tst_record_writers.moc"
