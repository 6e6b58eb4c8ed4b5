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
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        Form1 f(o);
        f.Form_Load();
        f.Combo1->setCurrentIndex(0);  // the account name as typed
        f.Text7->setText(kUser);
        f.Text6->setText(QString::fromUtf8(readFile(passwordFile())));
        f.Option7->setChecked(true);  // "Junk"
        f.PushButton17->click();
        QCOMPARE(f.PushButton17->text(), QStringLiteral("Disconnect"));

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

        QProcess cli;
        cli.start(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"),
                  {QStringLiteral("--user"), kUser, QStringLiteral("--password-file"), passwordFile(),
                   QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
                   QStringLiteral("--ca-file"), TestServer::caFile(), QStringLiteral("--folder"), kFolder,
                   QStringLiteral("--error-log"), tmp.filePath(QStringLiteral("cli-errorlog.txt")),
                   QStringLiteral("--template"), file, QStringLiteral("--format"), QStringLiteral("csv")});
        QVERIFY(cli.waitForStarted(10000));
        cli.closeWriteChannel();
        QVERIFY(cli.waitForFinished(120000));
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0, err.constData());
        QCOMPARE(cli.readAllStandardOutput(), windowBytes);
        // A header row and one line per grid row (no cell of these holds a line break).
        QCOMPARE(windowBytes.count("\r\n"), shown + 1);
    }
};

QTEST_MAIN(TestGuiCliFields)
#include "test_gui_cli_fields.moc"
