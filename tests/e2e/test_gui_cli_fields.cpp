// The fields window and vellumcast-cli --template over the same folder of the
// test server: for each template, the window's "Save as CSV..." from its
// results grid and the program's --format csv are the same bytes. The window
// runs with our real IMAP client, opened from its menu entry, the template
// opened through its Open Template command; the program runs as a process.
//
// The messages (the record fixtures) live in the "Junk" folder of the second
// test account ("quoter").
#include "AppTestSupport.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "app/FieldsWindow.h"
#include "app/FieldsWindowPreview.h"
#include "app/FieldsWindowResults.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace vc;
using namespace vc::test;

namespace {

const QString kUser = QStringLiteral("quoter");
const QString kFolder = QStringLiteral("Junk");
const QString kFixtures = QStringLiteral(VC_FIXTURE_DIR "/records");
const QString kTemplates = QStringLiteral(VC_TEMPLATE_DIR);

QString passwordFile()
{
    return TestServer::dir() + QStringLiteral("/password2");
}

int serverScript(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString script = qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/test-server.sh");
    p.start(QStringLiteral("bash"), QStringList{script, args.first(), TestServer::dir()} + args.mid(1));
    if (!p.waitForStarted(10000))
        return -1;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A template of our own with header fields (the decoder must be asked for
// them) and a formula-looking cell.
const QByteArray kHeaderTemplate = R"json({"version": 1, "rows": "message", "fields": [
    {"name": "subject", "header": "Subject"},
    {"name": "to", "header": "To"},
    {"name": "list", "header": "List-Id", "default": "=none"},
    {"name": "emails", "pattern": "email", "all": true, "separator": "; "},
    {"name": "seq", "builtin": "seq"}]})json";

const QString kAttachmentFolder = QStringLiteral("Sent");
const QByteArray kNotPdf = "%PDF-1.4 cut off here";

// A message with a text attachment (its total is found only with attachment
// text on) and a "PDF" that is not one (it gives no text, and is saved as it is).
QByteArray messageWithAttachments()
{
    return "From: Shop <shop@example.org>\r\nTo: quoter@example.org\r\nSubject: Invoice 77\r\n"
           "Date: Mon, 02 Jun 2025 10:00:00 +0200\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nYour invoice is attached.\r\n"
           "--b1\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Disposition: attachment; "
           "filename=\"notes.txt\"\r\n\r\n"
           "Total: 99.50 EUR\r\n"
           "--b1\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"invoice.pdf\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n"
           + kNotPdf.toBase64() + "\r\n--b1--\r\n";
}

QStringList signInArguments(const QString &errorLog, const QString &folder)
{
    return {QStringLiteral("--user"),          kUser,
            QStringLiteral("--password-file"), passwordFile(),
            QStringLiteral("--server"),        QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
            QStringLiteral("--ca-file"),       TestServer::caFile(),
            QStringLiteral("--folder"),        folder,
            QStringLiteral("--error-log"),     errorLog};
}

// The program's standard output; fails the test when it does not end well.
QByteArray runCli(const QStringList &args)
{
    QProcess cli;
    cli.start(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"), args);
    if (!cli.waitForStarted(10000))
        return "<not started>";
    cli.closeWriteChannel();
    if (!cli.waitForFinished(120000))
        return "<hung>";
    if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0)
        return "<failed> " + cli.readAllStandardError();
    return cli.readAllStandardOutput();
}

// The main window on our IMAP client, signed in to the test account.
std::unique_ptr<Form1> connectedWindow()
{
    Form1Options o;
    o.onlineCheck = false;
    o.connection = TestServer::config();
    auto f = std::make_unique<Form1>(o);
    f->Form_Load();
    f->Combo1->setCurrentIndex(0);  // the account name as typed
    f->Text7->setText(kUser);
    f->Text6->setText(QString::fromUtf8(readFile(passwordFile())));
    f->PushButton17->click();
    return f;
}

}  // namespace

class TestGuiCliFields : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        QVERIFY(tmp.isValid());
        QCOMPARE(serverScript({QStringLiteral("reset"), kUser}), 0);
        QCOMPARE(serverScript({QStringLiteral("deliver"), kAttachmentFolder, kUser}, messageWithAttachments()), 0);
        const QStringList names = QDir(kFixtures).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
        QVERIFY(names.size() >= 5);
        for (const QString &name : names)
            QCOMPARE(serverScript({QStringLiteral("deliver"), kFolder, kUser},
                                  readFile(kFixtures + QLatin1Char('/') + name)),
                     0);
        QFile own(tmp.filePath(QStringLiteral("headers.json")));
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write(kHeaderTemplate);
    }

    void init() { storeOnly({}); }
    void cleanup() { FieldsWindow::destroyInstance(); }

    void gridSavesWhatTheProgramWrites_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rows");  // in the grid, worked out from the fixtures
        for (const char *name : {"orders", "shipping", "addresses", "mentioned-addresses"})
            QTest::newRow(name) << kTemplates + QLatin1Char('/') + QLatin1String(name) + ".json" << -1;
        QTest::newRow("header fields") << tmp.filePath(QStringLiteral("headers.json")) << 6;
    }

    void gridSavesWhatTheProgramWrites()
    {
        QFETCH(QString, file);
        QFETCH(int, rows);

        ScriptedDialogs d;
        const std::unique_ptr<Form1> window = connectedWindow();
        Form1 &f = *window;
        QCOMPARE(f.PushButton17->text(), QStringLiteral("Disconnect"));
        f.Option7->setChecked(true);  // "Junk"

        f.findChild<QAction *>(QStringLiteral("MenuFields"))->trigger();
        FieldsWindow *w = FieldsWindow::existing();
        QVERIFY(w);
        d.openNames << QStringList{file};
        w->findChild<QPushButton *>(QStringLiteral("openTemplateButton"))->click();
        QVERIFY2(w->compiledTemplate().has_value(), qPrintable(d.texts().join(u'\n')));
        // The preview came from the same folder meanwhile.
        QTRY_VERIFY(!w->preview()->records().isEmpty());
        d.clear();
        w->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Done.")});
        const int shown = w->results()->grid()->model()->rowCount();
        QVERIFY(shown > 0);
        if (rows >= 0)
            QCOMPARE(shown, rows);

        const QString saved = tmp.filePath(QStringLiteral("%1.csv").arg(QTest::currentDataTag()));
        QFile::remove(saved);
        d.saveNames << saved;
        w->findChild<QPushButton *>(QStringLiteral("saveCsvButton"))->click();
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Done.")});
        const QByteArray windowBytes = readFile(saved);

        QCOMPARE(runCli(signInArguments(tmp.filePath(QStringLiteral("cli-errorlog.txt")), kFolder)
                        + QStringList{QStringLiteral("--template"), file, QStringLiteral("--format"),
                                      QStringLiteral("csv")}),
                 windowBytes);
        // A header row and one line per grid row (no cell of these holds a line break).
        QCOMPARE(windowBytes.count("\r\n"), shown + 1);
    }

    // Attachment text on: the window's rows are the program's with
    // --attachments; then "Save Attachments..." with a pattern writes the
    // matching attachment only, byte for byte.
    void attachmentsAsTheProgramHasThem()
    {
        ScriptedDialogs d;
        const std::unique_ptr<Form1> f = connectedWindow();
        QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
        f->Option6->setChecked(true);  // "Sent"
        f->findChild<QAction *>(QStringLiteral("MenuAttachmentText"))->setChecked(true);
        f->Text1->setText(QStringLiteral("total"));
        f->PushButton2->click();
        QCOMPARE(d.texts().size(), 2);
        QCOMPARE(d.texts().first(), QStringLiteral("Done."));
        QVERIFY2(d.texts().last().startsWith(QStringLiteral("1 attachment(s) gave no text")),
                 qPrintable(d.texts().last()));
        QCOMPARE(f->results().texts(), QStringList{QStringLiteral("Total: 99.50 EUR")});
        // Saved attachments are named by their message's UID, which the walk by number learns too.
        const RowOrigin *origin = f->results().originOf(0);
        QVERIFY(origin && origin->uid > 0);
        const QString savedName = QStringLiteral("%1-invoice.pdf").arg(origin->uid);

        const QString saved = tmp.filePath(QStringLiteral("attachment-rows.txt"));
        d.clear();
        d.saveNames << saved;
        f->PushButton6->click();
        QCOMPARE(runCli(signInArguments(tmp.filePath(QStringLiteral("cli-errorlog.txt")), kAttachmentFolder)
                        + QStringList{QStringLiteral("--attachments"), QStringLiteral("--rule"),
                                      QStringLiteral("containing"), QStringLiteral("--text"), QStringLiteral("total")}),
                 readFile(saved));

        // Off again: the body alone has no total.
        f->findChild<QAction *>(QStringLiteral("MenuAttachmentText"))->setChecked(false);
        d.clear();
        f->PushButton2->click();
        QCOMPARE(f->results().count(), 0);

        QTemporaryDir into;
        d.clear();
        d.folderNames << into.path();
        d.inputs << QStringLiteral("*.PDF");
        f->findChild<QAction *>(QStringLiteral("MenuSaveAttachments"))->trigger();
        QCOMPARE(d.texts().first(),
                 QStringLiteral("1 attachment(s) saved in %1.").arg(QDir(into.path()).canonicalPath()));
        QCOMPARE(QDir(into.path()).entryList(QDir::Files), QStringList{savedName});
        QCOMPARE(readFile(into.filePath(savedName)), kNotPdf);
    }
};

QTEST_MAIN(TestGuiCliFields)
#include "test_gui_cli_fields.moc"
