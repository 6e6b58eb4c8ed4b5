// The main window and vellumcast-cli over the same folder of the test server:
// for every rule the window's saved results file and the program's output are
// the same bytes. The window runs with our real IMAP client, started from its
// own buttons (the rule windows included); the program runs as a process.
//
// The messages live in the "Deleted" folder of the second test account
// ("quoter"), which the other server tests never fill.
#include "AppTestSupport.h"
#include "TestServer.h"
#include "app/Form2.h"
#include "app/Form3.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using namespace vc::test;

namespace {

const QString kUser = QStringLiteral("quoter");
const QString kFolder = QStringLiteral("Deleted");
const QString kDone = QStringLiteral("Done.");

QString passwordFile()
{
    return TestServer::dir() + QStringLiteral("/password2");
}

QString readPassword()
{
    QFile f(passwordFile());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Runs the server script with `input` on its standard input.
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

QByteArray header(const QByteArray &from, const QByteArray &subject, const QByteArray &date)
{
    QByteArray h;
    if (!from.isEmpty())
        h += "From: " + from + "\r\n";
    h += "To: quoter@example.org\r\n";
    if (!subject.isEmpty())
        h += "Subject: " + subject + "\r\n";
    h += "Date: " + date + "\r\nMIME-Version: 1.0\r\n";
    return h;
}

QByteArray encodedWord(const QString &text)
{
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

// Five messages, in delivery order. Their decoded bodies:
//  1: "Your order shipped" / "  Tracking code [AB12] sent" / "Items: [pen] and [ink]" / ""
//  2: one line holding lone LFs: "lf one [pen]\nlf two Order\nlf three\n"
//  3: "Café crème [pen]" / "naïve <b>bold</b> text continued" / "\tTAB line order" / ""
//  4: HTML only: "HTML Order here", "[ink] inside html"
//  5: no sender; "[Pen] and [pen] again" / "no markers here" / ""
QList<QByteArray> messages()
{
    QList<QByteArray> m;
    m << header("Ann Example <ann@example.org>", "Your ORDER 1001", "Mon, 02 Jun 2025 10:00:00 +0200")
             + "Content-Type: text/plain; charset=utf-8\r\n\r\n"
               "Your order shipped\r\n  Tracking code [AB12] sent\r\nItems: [pen] and [ink]\r\n";
    m << header("Bob <bob@example.org>", "lf message", "Mon, 02 Jun 2025 11:00:00 +0200")
             + "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
             + QByteArray("lf one [pen]\nlf two Order\nlf three\n").toBase64() + "\r\n";
    m << header("=?ISO-8859-1?Q?J=F6rg?= <joerg@example.org>", encodedWord(QStringLiteral("Grüße [üml] ORDER")),
                "Tue, 03 Jun 2025 09:30:00 +0000")
             + "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
               "Caf=E9 cr=E8me [pen]\r\nna=EFve <b>bold</b> text=\r\n continued\r\n\tTAB line order\r\n";
    m << header("Cara <cara@example.org>", "html only", "Wed, 04 Jun 2025 08:00:00 +0000")
             + "Content-Type: text/html; charset=utf-8\r\n\r\n"
               "<html><body><p>HTML <B>Order</B> here</p><div>[ink] inside html</div></body></html>\r\n";
    m << header(QByteArray(), "[PEN] upper", "Thu, 05 Jun 2025 07:00:00 +0000")
             + "Content-Type: text/plain; charset=utf-8\r\n\r\n"
               "[Pen] and [pen] again\r\nno markers here\r\n";
    return m;
}

// One rule with its parameters, as the window and the program take them.
struct Case {
    QString rule;  // the program's --rule
    QString text, lines, start, end;
    bool duplicates = false;
    QStringList items;  // typed into the text-set window one by one
    bool itemsFromFile = false;
    QString format = QStringLiteral("text");
};

}  // namespace

Q_DECLARE_METATYPE(Case)

class TestGuiCliRules : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString itemFile;

    // The main window on our IMAP client, signed in to the test account with the
    // folder chosen.
    std::unique_ptr<Form1> connectedWindow(ScriptedDialogs &d)
    {
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        auto f = std::make_unique<Form1>(o);
        f->Form_Load();
        f->Combo1->setCurrentIndex(0);  // "Live!ID": the account name as typed
        f->Text7->setText(kUser);
        f->Text6->setText(readPassword());
        f->Option9->setChecked(true);  // "Deleted"
        f->PushButton17->click();
        if (f->PushButton17->text() != QStringLiteral("Disconnect"))
            qWarning() << "connect failed:" << d.texts();
        return f;
    }

    // Sets the rule's parameters where a user types them and clicks its start command.
    void runInWindow(Form1 &f, ScriptedDialogs &d, const Case &c)
    {
        if (c.rule == u"all") {
            f.PushButton13->click();
        } else if (c.rule == u"containing") {
            f.Text1->setText(c.text);
            f.PushButton2->click();
        } else if (c.rule == u"not-containing") {
            f.Text2->setText(c.text);
            f.PushButton8->click();
        } else if (c.rule == u"lines") {
            f.Text5->setText(c.lines);
            f.PushButton7->click();
        } else if (c.rule == u"between") {
            f.Check3->setChecked(c.duplicates);
            f.PushButton4->click();
            Form2 *w = Form2::instance();
            w->Text3->setText(c.start);
            w->Text4->setText(c.end);
            w->PushButton4->click();
        } else if (c.rule == u"text-set") {
            f.PushButton11->click();
            Form3 *w = Form3::instance();
            w->PushButton5->click();  // start from an empty set
            for (const QString &item : c.items) {
                d.inputs << item;
                w->PushButton2->click();
            }
            if (c.itemsFromFile) {
                d.openNames << QStringList{itemFile};
                w->PushButton3->click();
            }
            w->PushButton4->click();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown rule ") + c.rule));
        }
    }

    QStringList cliArguments(const Case &c) const
    {
        QStringList a{QStringLiteral("--user"),          kUser,
                      QStringLiteral("--password-file"), passwordFile(),
                      QStringLiteral("--server"),        QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
                      QStringLiteral("--ca-file"),       TestServer::caFile(),
                      QStringLiteral("--folder"),        kFolder,
                      QStringLiteral("--error-log"),     tmp.filePath(QStringLiteral("cli-errorlog.txt")),
                      QStringLiteral("--rule"),          c.rule,
                      QStringLiteral("--format"),        c.format};
        if (c.rule == u"containing" || c.rule == u"not-containing")
            a << QStringLiteral("--text") << c.text;
        if (c.rule == u"lines")
            a << QStringLiteral("--lines") << c.lines;
        if (c.rule == u"between") {
            a << QStringLiteral("--start") << c.start << QStringLiteral("--end") << c.end;
            if (c.duplicates)
                a << QStringLiteral("--show-duplicates");
        }
        for (const QString &item : c.items)
            a << QStringLiteral("--item") << item;
        if (c.itemsFromFile)
            a << QStringLiteral("--items-file") << itemFile;
        return a;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        QVERIFY(tmp.isValid());
        QCOMPARE(serverScript({QStringLiteral("reset"), kUser}), 0);
        for (const QByteArray &m : messages())
            QCOMPARE(serverScript({QStringLiteral("deliver"), kFolder, kUser}, m), 0);

        // Item file: LF and CR LF line ends mixed, an empty line (an empty item
        // that must match nothing), no line end after the last item.
        itemFile = tmp.filePath(QStringLiteral("items.txt"));
        QFile f(itemFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("crème\n\nPEN]\r\nupper").toUtf8());
    }

    void init() { storeOnly({}); }

    void cleanup()
    {
        Form2::destroyInstance();
        Form3::destroyInstance();
    }

    void windowSavesWhatTheProgramWrites_data()
    {
        QTest::addColumn<Case>("c");
        // Rows the window must hold (worked out by hand from the messages) and
        // rows it must not hold; the byte comparison with the program covers the rest.
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        // For the between rule the whole row list is known.
        QTest::addColumn<QStringList>("exact");

        const QString lfBody = QStringLiteral("lf one [pen]\nlf two Order\nlf three\n");
        Case c;

        c = Case{};
        c.rule = "all";
        QTest::newRow("all e-mail data")
            << c
            << QStringList{"Your ORDER 1001",
                           "Your order shipped\r\n  Tracking code [AB12] sent\r\nItems: [pen] and [ink]\r\n",
                           "Your order shipped",
                           "  Tracking code [AB12] sent",
                           "",
                           lfBody,
                           "Grüße [üml] ORDER",
                           "Café crème [pen]",
                           "naïve <b>bold</b> text continued",
                           "\tTAB line order",
                           "[PEN] upper"}
            << QStringList{} << QStringList{};

        c = Case{};
        c.rule = "containing";
        c.text = "ORDER";
        QTest::newRow("containing, other case")
            << c
            << QStringList{"Your ORDER 1001", "Your order shipped", lfBody, "Grüße [üml] ORDER", "\tTAB line order"}
            << QStringList{"", "Items: [pen] and [ink]", "[PEN] upper", "lf message"} << QStringList{};

        c.format = "comma";
        QTest::newRow("containing, comma-delimited")
            << c << QStringList{"Your order shipped"} << QStringList{"no markers here"} << QStringList{};

        c = Case{};
        c.rule = "containing";
        QTest::newRow("containing, empty text")
            << c << QStringList{"Your order shipped", "no markers here", "[PEN] upper"} << QStringList{""}
            << QStringList{};

        c = Case{};
        c.rule = "not-containing";
        c.text = "pen";
        QTest::newRow("not containing") << c
                                        << QStringList{"Your order shipped", "", "no markers here", "Your ORDER 1001",
                                                       "\tTAB line order"}
                                        << QStringList{"Items: [pen] and [ink]", "[Pen] and [pen] again", "[PEN] upper",
                                                       lfBody, "Café crème [pen]"}
                                        << QStringList{};

        c = Case{};
        c.rule = "lines";
        c.lines = "3,1,3";
        QTest::newRow("lines 3,1,3")
            << c << QStringList{"Your order shipped", "Items: [pen] and [ink]", lfBody, "Café crème [pen]",
                                "\tTAB line order",   "[Pen] and [pen] again",  ""}
            << QStringList{"  Tracking code [AB12] sent", "Your ORDER 1001", "no markers here"} << QStringList{};

        c.lines = " 2, 2.5";
        QTest::newRow("lines with blanks and a half")
            << c << QStringList{"  Tracking code [AB12] sent", "naïve <b>bold</b> text continued", "no markers here"}
            << QStringList{"Your order shipped", lfBody, "Items: [pen] and [ink]"} << QStringList{};

        c = Case{};
        c.rule = "between";
        c.start = "[";
        c.end = "]";
        QTest::newRow("between, duplicates dropped")
            << c << QStringList{} << QStringList{} << QStringList{"AB12", "pen", "ink", "üml", "PEN", "Pen"};

        c.duplicates = true;
        QTest::newRow("between, duplicates shown")
            << c << QStringList{} << QStringList{}
            << QStringList{"AB12", "pen", "ink", "pen", "üml", "pen", "ink", "PEN", "Pen", "pen"};

        c.format = "comma";
        QTest::newRow("between, duplicates shown, comma-delimited")
            << c << QStringList{} << QStringList{}
            << QStringList{"AB12", "pen", "ink", "pen", "üml", "pen", "ink", "PEN", "Pen", "pen"};

        c = Case{};
        c.rule = "between";
        c.start = "<B>";
        c.end = "</b>";
        QTest::newRow("between, markers in other case") << c << QStringList{} << QStringList{} << QStringList{"bold"};

        c = Case{};
        c.rule = "text-set";
        c.items = QStringList{"tracking", "INK]", "tab line"};
        QTest::newRow("text set, typed items")
            << c << QStringList{"Tracking code [AB12] sent", "Items: [pen] and [ink]", "TAB line order"}
            << QStringList{"  Tracking code [AB12] sent", "\tTAB line order", "Your order shipped", ""}
            << QStringList{};

        c = Case{};
        c.rule = "text-set";
        c.itemsFromFile = true;
        QTest::newRow("text set from a file")
            << c << QStringList{"Café crème [pen]", "[PEN] upper", "Items: [pen] and [ink]", lfBody}
            << QStringList{"no markers here", "Your order shipped", ""} << QStringList{};
    }

    void windowSavesWhatTheProgramWrites()
    {
        QFETCH(Case, c);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        QFETCH(QStringList, exact);

        ScriptedDialogs d;
        auto f = connectedWindow(d);
        QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(d.texts(), QStringList());

        runInWindow(*f, d, c);
        QCOMPARE(d.texts(), QStringList{kDone});
        QVERIFY(!f->onExtractEmail);
        const QStringList rows = f->results().texts();
        QVERIFY2(!rows.isEmpty(), "the window listed nothing");
        for (const QString &row : present)
            QVERIFY2(rows.contains(row), qPrintable(QStringLiteral("missing row: ") + row));
        for (const QString &row : absent)
            QVERIFY2(!rows.contains(row), qPrintable(QStringLiteral("unexpected row: ") + row));
        if (!exact.isEmpty())
            QCOMPARE(rows, exact);

        // The window's own save command, with the dialog answered by a fresh path.
        const QString saved = tmp.filePath(QStringLiteral("%1.%2").arg(QTest::currentDataTag(), c.format));
        QFile::remove(saved);
        d.clear();
        d.saveNames << saved;
        (c.format == u"comma" ? f->PushButton12 : f->PushButton6)->click();
        QCOMPARE(d.texts(), QStringList());  // a new file: no question, nothing on success
        const QByteArray windowBytes = readAll(saved);

        QProcess cli;
        cli.start(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"), cliArguments(c));
        QVERIFY(cli.waitForStarted(10000));
        cli.closeWriteChannel();
        QVERIFY(cli.waitForFinished(120000));
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0, err.constData());
        QVERIFY2(err.contains("Done."), err.constData());
        QCOMPARE(cli.readAllStandardOutput(), windowBytes);

        // The bytes hold the rows the window listed, in order and in full.
        if (c.format == u"comma") {
            QCOMPARE(windowBytes, (rows.join(QLatin1Char(',')) + QStringLiteral(",\r\n")).toUtf8());
        } else {
            QString expected;
            for (const QString &row : rows)
                expected += row + QStringLiteral("\r\n");
            QCOMPARE(windowBytes, expected.toUtf8());
        }
    }
};

QTEST_MAIN(TestGuiCliRules)
#include "test_gui_cli_rules.moc"
