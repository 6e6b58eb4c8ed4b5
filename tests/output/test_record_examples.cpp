// The example templates that come with the program (data/templates, shown in
// README) over the record test messages (tests/fixtures/records: order
// confirmations of three shops laid out their own ways, one HTML-only, one
// quoted-printable Latin-1, one base64 UTF-8; shipping notices; a newsletter
// full of addresses), decoded as a run decodes them: the CSV and JSON lines
// are byte for byte those in tests/fixtures/records/expected, the workbook
// reads back cell by cell.
#include "TestFiles.h"
#include "XlsxReadBack.h"
#include "mail/MimeDecode.h"
#include "output/RecordWriters.h"
#include "rules/RecordRows.h"
#include "rules/Template.h"
#include "rules/TemplateFile.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using namespace vc::records;

Q_DECLARE_METATYPE(vc::records::RecordFormat)

namespace {

const QString kFixtures = QStringLiteral(VC_FIXTURE_DIR "/records");

// The messages in file-name order, as a folder that received them in that
// order holds them: UIDs from 1, UIDVALIDITY 1, in "INBOX".
QList<MailRecord> fixtureMessages()
{
    QList<MailRecord> out;
    const QStringList names = QDir(kFixtures).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        MailRecord m = decodeMessage(test::readFile(kFixtures + QLatin1Char('/') + name), DecodeNeeds{true});
        m.folder = QStringLiteral("INBOX");
        m.uidValidity = 1;
        m.uid = quint32(out.size() + 1);
        m.uID = int(out.size() + 1);
        out << m;
    }
    return out;
}

Template exampleTemplate(const QString &name)
{
    const TemplateRead read = readTemplateFile(QStringLiteral(VC_TEMPLATE_DIR "/%1.json").arg(name));
    if (!read.ok())
        qFatal("%s", qPrintable(problemsText(read.problems)));
    TemplateCompile c = compileTemplate(read.spec);
    if (!c.ok())
        qFatal("%s", qPrintable(problemsText(c.problems)));
    return *c.compiled;
}

// A run's rows written message by message to `path`.
bool writeRun(const Template &t, RecordFormat format, const QString &path, const WriterOptions &options, QString *error)
{
    auto writer = replaceFile(format, path, t.columns(), options, error);
    if (!writer)
        return false;
    RecordRows rows(t);
    for (const MailRecord &m : fixtureMessages()) {
        QList<Row> batch;
        rows.append(m, batch);
        if (!writer->append(batch)) {
            *error = writer->errorString();
            return false;
        }
    }
    if (!writer->commit()) {
        *error = writer->errorString();
        return false;
    }
    return true;
}

}  // namespace

class TestRecordExamples : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readmeShowsTheExamples();
    void fixturesDecode();
    void examplesGiveTheExpectedBytes_data();
    void examplesGiveTheExpectedBytes();
    void ordersWorkbook();
    void demoMailbox();
};

// README shows the example templates as their files hold them, so what is
// tested here is what users read.
void TestRecordExamples::readmeShowsTheExamples()
{
    const QByteArray readme = test::readFile(qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/README.md"));
    QVERIFY(!readme.isEmpty());
    for (const char *name : {"orders", "shipping", "addresses"}) {
        const QByteArray file = test::readFile(QStringLiteral(VC_TEMPLATE_DIR "/%1.json").arg(QLatin1String(name)));
        QVERIFY(!file.isEmpty());
        QVERIFY2(readme.contains("```json\n" + file + "```"), name);
    }
}

// The messages are what the expected rows were made from: six of them, the
// HTML-only one as its visible text, Latin-1 and base64 bodies decoded.
void TestRecordExamples::fixturesDecode()
{
    const QList<MailRecord> all = fixtureMessages();
    QCOMPARE(all.size(), 6);
    QVERIFY(all[1].PlainTextBody.contains(QStringLiteral("Größe M")));
    QVERIFY(all[2].HTMLTextBody.contains(QLatin1String("<table>")));
    QVERIFY(all[2].PlainTextBody.contains(QStringLiteral("Total: \u20ac42.10")));
    QVERIFY(all[3].PlainTextBody.contains(QStringLiteral("Fjord wool blanket, grå")));
    QCOMPARE(all[3].Subject, QStringLiteral("Ordrebekreftelse ND-30418 – takk!"));
    QCOMPARE(all[0].header(u"List-Id"), QStringLiteral("Guild news <news.makers-guild.example>"));
}

void TestRecordExamples::examplesGiveTheExpectedBytes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RecordFormat>("format");
    QTest::addColumn<QString>("expected");
    for (const char *name : {"orders", "shipping", "addresses", "mentioned-addresses"}) {
        const QString n = QLatin1String(name);
        QTest::addRow("%s csv", name) << n << RecordFormat::Csv << kFixtures + "/expected/" + n + ".csv";
        QTest::addRow("%s jsonl", name) << n << RecordFormat::Jsonl << kFixtures + "/expected/" + n + ".jsonl";
    }
}

void TestRecordExamples::examplesGiveTheExpectedBytes()
{
    QFETCH(QString, name);
    QFETCH(RecordFormat, format);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out"));
    QString error;
    QVERIFY2(writeRun(exampleTemplate(name), format, path, {}, &error), qPrintable(error));
    const QByteArray want = test::readFile(expected);
    QVERIFY(!want.isEmpty());
    QCOMPARE(test::readFile(path), want);
}

void TestRecordExamples::ordersWorkbook()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("orders.xlsx"));
    const Template orders = exampleTemplate(QStringLiteral("orders"));
    WriterOptions options;
    options.sheetName = orders.spec().name;
    QString error;
    QVERIFY2(writeRun(orders, RecordFormat::Xlsx, path, options, &error), qPrintable(error));

    const test::Workbook book = test::readWorkbook(path);
    QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
    QCOMPARE(book.sheets, QStringList{"Orders"});
    QCOMPARE(book.freeze, QStringLiteral("A2"));
    using C = test::WorkbookCell;
    const QString when = QStringLiteral("yyyy-mm-dd hh:mm:ss");
    const QList<QList<C>> expected = {
        {C::text("order", true), C::text("date", true), C::text("shop", true), C::text("address", true),
         C::text("total", true), C::text("note", true), C::text("uid", true)},
        {C::text("55120"), C::date("2025-03-05T14:03:55", when), C::text(QStringLiteral("Bücherstube Lindenhof")),
         C::text(QStringLiteral("Robin Vale, 14 Orchard Row, Bramwell BR4 7QT, Großbritannien")), C::number(26.3), C(),
         C::text("2")},
        {C::text("MG-7731"), C::date("2025-03-04T09:41:07", when), C::text("Mossgrove Tea Company"),
         C::text("Robin Vale, 14 Orchard Row, Bramwell BR4 7QT"), C::number(42.1), C(), C::text("3")},
        {C::text("ND-30418"), C::date("2025-03-06T08:15:30", when), C::text("Nordlys Design"),
         C::text("Robin Vale, 14 Orchard Row, Bramwell BR4 7QT, Storbritannia"), C::number(1607),
         C::text("'=2+3 leave it by the back door, takk!"), C::text("4")},
    };
    QCOMPARE(book.rows.size(), expected.size());
    for (qsizetype r = 0; r < expected.size(); ++r)
        QCOMPARE(book.rows[r], expected[r]);

    // Raw cells: the note keeps its "=" and is still a text cell, not a formula.
    options.rawCells = true;
    QVERIFY2(writeRun(orders, RecordFormat::Xlsx, path, options, &error), qPrintable(error));
    QCOMPARE(test::readWorkbook(path).rows[3][5], C::text("=2+3 leave it by the back door, takk!"));
}

// The demo mailbox as scripts/demo-mailbox.py writes it: each example finds
// what the messages say (checked against their subjects and senders).
void TestRecordExamples::demoMailbox()
{
    QTemporaryDir dir;
    QProcess make;
    make.start(QStringLiteral(VC_PYTHON3),
               {qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/demo-mailbox.py"), dir.path()});
    QVERIFY(make.waitForFinished(60000));
    QCOMPARE(make.exitCode(), 0);
    QList<MailRecord> inbox;
    const QDir folder(dir.filePath(QStringLiteral("Inbox")));
    for (const QString &name : folder.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        MailRecord m = decodeMessage(test::readFile(folder.filePath(name)), DecodeNeeds{true});
        m.uid = quint32(inbox.size() + 1);
        inbox << m;
    }
    QVERIFY(inbox.size() > 100);
    const auto run = [&](const QString &name) {
        RecordRows rows(exampleTemplate(name));
        QList<Row> out;
        for (const MailRecord &m : inbox)
            rows.append(m, out);
        return out;
    };
    const QRegularExpression confirmed(QStringLiteral("^Order #(\\d+) confirmed$"));
    const QRegularExpression shipped(QStringLiteral("^Your order #(\\d+) has shipped$"));
    QStringList confirmedOrders, shippedOrders;
    QSet<QString> senders;
    for (const MailRecord &m : inbox) {
        if (const auto c = confirmed.match(m.Subject); c.hasMatch())
            confirmedOrders << c.captured(1);
        if (const auto s = shipped.match(m.Subject); s.hasMatch())
            shippedOrders << s.captured(1);
        senders.insert(m.FromAddress);
    }
    QVERIFY(!confirmedOrders.isEmpty() && !shippedOrders.isEmpty());

    // Orders: one row per confirmation (invoices and notices have no total), in mail order.
    const QList<Row> orders = run(QStringLiteral("orders"));
    QStringList orderNumbers;
    for (const Row &r : orders) {
        orderNumbers << r[0].text;
        QVERIFY2(cellNumber(r[4].text).has_value(), qPrintable(r[4].text));
        QCOMPARE(r[3].text, QStringLiteral("Robin Vale, 14 Orchard Row, Bramwell BR4 7QT"));
        QVERIFY(!r[2].text.isEmpty());
    }
    QCOMPARE(orderNumbers, confirmedOrders);

    // Shipping notices: one parcel each, its carrier, the order of the subject.
    const QList<Row> parcels = run(QStringLiteral("shipping"));
    QStringList parcelOrders;
    for (const Row &r : parcels) {
        parcelOrders << r[2].text;
        QVERIFY2(QStringList({"Parcelline", "Swiftpost", "Northway Freight"}).contains(r[1].text),
                 qPrintable(r[1].text));
        QVERIFY2(r[3].text.endsWith(r[0].text), qPrintable(r[3].text));
    }
    QCOMPARE(parcelOrders, shippedOrders);

    // Addresses: every sender once.
    const QList<Row> addresses = run(QStringLiteral("addresses"));
    QSet<QString> listed;
    for (const Row &r : addresses)
        listed.insert(r[0].text);
    QCOMPARE(addresses.size(), senders.size());
    QCOMPARE(listed, senders);
}

QTEST_GUILESS_MAIN(TestRecordExamples)
#include "test_record_examples.moc"
