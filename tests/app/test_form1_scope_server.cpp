// The main window's scope against the test server: the local mail copy
// behind the settings window's check box and "Forget Cached Mail...", the
// folder chooser's folders and filter row, only new mail and watching.
#include "AppTestSupport.h"
#include "TestServer.h"
#include "app/FolderChooser.h"
#include "app/SettingsStore.h"
#include "app/SettingsWindow.h"
#include "extract/MailCache.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTime>
#include <QTimer>

using namespace vc;
using namespace vc::test;

namespace {

QByteArray mail(int n, const QString &subject = QStringLiteral("order"), const QString &from = QStringLiteral("ann"),
                const QString &date = QStringLiteral("Tue, 5 Mar 2024 14:07:09 +0000"))
{
    return QStringLiteral("From: %2 <%2@example.org>\r\nTo: tester@example.org\r\nSubject: %3 %1\r\n"
                          "Date: %4\r\nMessage-ID: <scope-%1@example.org>\r\n\r\n"
                          "Order number %1\r\nTotal %1.00\r\n")
        .arg(n)
        .arg(from, subject, date)
        .toUtf8();
}

// The order numbers of the rows that are one body line "Order number N", in order.
QStringList orders(const QStringList &rows)
{
    static const QRegularExpression line(QStringLiteral("^Order number (\\d+)$"));
    QStringList out;
    for (const QString &row : rows)
        if (const QRegularExpressionMatch m = line.match(row); m.hasMatch())
            out << m.captured(1);
    return out;
}

qint64 cachedRecords()
{
    MailCache cache;
    if (!cache.open().ok)
        return -1;
    return cache.stats().records;
}

QAction *action(Form1 &f, const char *name)
{
    auto *a = f.findChild<QAction *>(QLatin1String(name));
    if (!a)
        qFatal("no %s", name);
    return a;
}

}  // namespace

class TestForm1ScopeServer : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> connectedWindow()
    {
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        auto f = std::make_unique<Form1>(o);
        f->Form_Load();
        f->Combo1->setCurrentIndex(0);
        f->Text7->setText(TestServer::user());
        f->Text6->setText(TestServer::password());
        f->PushButton17->click();
        return f;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        // The window's own check box decides here, not the test environment.
        qunsetenv("VC_NO_CACHE");
    }
    void init()
    {
        storeOnly({});
        QDir(MailCache::defaultFolder()).removeRecursively();
        TestServer::resetMailbox();
    }
    void cleanup()
    {
        SettingsWindow::destroyInstance();
        FolderChooser::destroyInstance();
    }

    void checkBoxDecidesAndForgetFreesTheAccountsMail()
    {
        for (int n = 1; n <= 3; ++n)
            TestServer::deliver(QStringLiteral("Inbox"), mail(n));
        ScriptedDialogs d;
        auto f = connectedWindow();
        QCOMPARE(d.texts(), QStringList());

        action(*f, "settingsAction")->trigger();
        QCheckBox *box = SettingsWindow::instance()->mailCacheBox();
        QVERIFY(box->isChecked());  // on by default
        box->setChecked(false);
        QCOMPARE(fileValues().value(QStringLiteral("MailCache")), QStringLiteral("False"));
        f->PushButton13->click();
        const QStringList fetched = f->results().texts();
        QVERIFY2(fetched.join(u'\n').contains(QLatin1String("Order number 3")), qPrintable(fetched.join(u'\n')));
        QCOMPARE(cachedRecords(), 0);

        box->setChecked(true);
        f->PushButton13->click();
        QCOMPARE(cachedRecords(), 3);
        f->PushButton13->click();  // from the copy this time: the same rows
        QCOMPARE(f->results().texts(), fetched);

        d.clear();
        d.answers = {BoxAnswer::No};
        action(*f, "forgetCacheAction")->trigger();
        QCOMPARE(d.boxes.size(), 1);
        QCOMPARE(d.boxes.first().buttons, BoxButtons::YesNo);
        QCOMPARE(cachedRecords(), 3);

        d.clear();
        d.answers = {BoxAnswer::Yes};
        action(*f, "forgetCacheAction")->trigger();
        QCOMPARE(d.texts().size(), 2);
        QVERIFY2(
            d.texts().at(1).startsWith(QStringLiteral("Forgot 3 cached message(s) of %1 (").arg(TestServer::user())),
            qPrintable(d.texts().at(1)));
        QVERIFY(!d.texts().at(1).contains(QLatin1String("(0 bytes freed)")));
        QCOMPARE(cachedRecords(), 0);
    }

    // "Work Offline": Connect and the runs read the local copy alone, the
    // folder as the last run with the server found it. Refused while
    // connected and while the copy is off.
    void workOfflineReadsTheCopyAlone()
    {
        for (int n = 1; n <= 3; ++n)
            TestServer::deliver(QStringLiteral("Inbox"), mail(n));
        ScriptedDialogs d;
        auto f = connectedWindow();
        f->PushButton13->click();
        const QStringList online = f->results().texts();
        QCOMPARE(orders(online), (QStringList{"1", "2", "3"}));
        QAction *offline = action(*f, "workOfflineAction");
        QVERIFY(offline->isCheckable());

        d.clear();
        offline->trigger();
        QCOMPARE(d.texts(), QStringList{"Please disconnect first."});
        QVERIFY(!offline->isChecked());
        QVERIFY(!f->workingOffline());

        f->PushButton17->click();  // disconnect
        settings::saveFlag(settings::key::MailCache, false);
        d.clear();
        offline->trigger();
        QCOMPARE(d.texts().size(), 1);
        QVERIFY2(d.texts().first().contains(QLatin1String("Keep a local copy of mail")), qPrintable(d.texts().first()));
        QVERIFY(!offline->isChecked());
        settings::saveFlag(settings::key::MailCache, true);

        d.clear();
        offline->trigger();
        QVERIFY(offline->isChecked());
        QVERIFY(f->workingOffline());
        QCOMPARE(d.texts(), QStringList());
        TestServer::deliver(QStringLiteral("Inbox"), mail(4));
        f->Text6->clear();  // no password is needed
        f->PushButton17->click();
        QCOMPARE(d.texts(), QStringList());
        QCOMPARE(f->folderBox->count(), 1);  // the one folder the copy has read whole
        f->PushButton13->click();
        QCOMPARE(f->results().texts(), online);
        for (const QString &text : d.texts())
            QVERIFY2(!text.contains(QLatin1String("could not")) && !text.contains(QLatin1String("lacks")),
                     qPrintable(text));

        f->PushButton17->click();
        offline->trigger();
        QVERIFY(!f->workingOffline());
        f->Text6->setText(TestServer::password());
        f->PushButton17->click();
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), (QStringList{"1", "2", "3", "4"}));
    }

    // The server selects the messages; the rule runs on those alone.
    void filterRowNarrowsWhatTheServerSelects()
    {
        TestServer::deliver(QStringLiteral("Inbox"), mail(1));
        TestServer::deliver(QStringLiteral("Inbox"), mail(2, QStringLiteral("invoice"), QStringLiteral("bob"),
                                                          QStringLiteral("Wed, 10 Jan 2024 09:00:00 +0000")));
        TestServer::deliver(QStringLiteral("Inbox"), mail(3, QStringLiteral("order"), QStringLiteral("bob"),
                                                          QStringLiteral("Wed, 20 Mar 2024 09:00:00 +0000")));
        ScriptedDialogs d;
        auto f = connectedWindow();
        settings::saveFlag(settings::key::MailCache, false);
        action(*f, "foldersAction")->trigger();
        FolderChooser *c = FolderChooser::existing();
        QVERIFY(c->folders().contains(QStringLiteral("INBOX")));
        const struct {
            const char *since, *before, *from, *subject;
            QStringList orders;
        } cases[] = {
            {"", "", "", "", {"1", "2", "3"}},
            {"", "", "", "order", {"1", "3"}},
            {"2024-03-01", "10-Mar-2024", "", "", {"1"}},
            {"1-Mar-2024", "", "bob", "", {"3"}},
            {"", "", "bob", "", {"2", "3"}},
            {"", "", "nobody", "", {}},
        };
        for (const auto &k : cases) {
            c->sinceBox()->setText(QString::fromLatin1(k.since));
            c->beforeBox()->setText(QString::fromLatin1(k.before));
            c->fromBox()->setText(QString::fromLatin1(k.from));
            c->subjectBox()->setText(QString::fromLatin1(k.subject));
            f->PushButton13->click();
            QVERIFY2(orders(f->results().texts()) == k.orders, qPrintable(f->results().texts().join(u'|')));
        }
    }

    // Folders ticked in the chooser are walked one after another into one list.
    void tickedFoldersAreWalkedInTurn()
    {
        TestServer::deliver(QStringLiteral("Inbox"), mail(1));
        TestServer::deliver(QStringLiteral("Archive 2024"), mail(2));
        TestServer::deliver(QStringLiteral("Archive 2024"), mail(3));
        ScriptedDialogs d;
        auto f = connectedWindow();
        settings::saveFlag(settings::key::MailCache, false);
        QVERIFY(f->folderBox->findText(QStringLiteral("Archive 2024")) >= 0);
        action(*f, "foldersAction")->trigger();
        FolderChooser *c = FolderChooser::existing();
        c->tick(QStringLiteral("Archive 2024"), true);
        c->tick(QStringLiteral("INBOX"), true);
        f->PushButton13->click();
        const QStringList inListOrder = c->tickedFolders();
        QCOMPARE(inListOrder.size(), 2);
        const QStringList expected =
            inListOrder.first() == QLatin1String("INBOX") ? QStringList{"1", "2", "3"} : QStringList{"2", "3", "1"};
        QCOMPARE(orders(f->results().texts()), expected);
        // One folder picked in the main window again: that folder alone.
        f->Option3->click();
        QCOMPARE(c->tickedFolders(), QStringList());
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), QStringList{"1"});
    }

    // "Only mail since the last run": each run takes what came after the
    // last one's rows were in the list; unticked, the folder whole.
    void onlyMailSinceTheLastRun()
    {
        TestServer::deliver(QStringLiteral("Inbox"), mail(1));
        TestServer::deliver(QStringLiteral("Inbox"), mail(2));
        ScriptedDialogs d;
        auto f = connectedWindow();
        settings::saveFlag(settings::key::MailCache, false);
        action(*f, "foldersAction")->trigger();
        FolderChooser::existing()->newOnlyBox()->setChecked(true);
        QCOMPARE(fileValues().value(QStringLiteral("NewOnly")), QStringLiteral("True"));
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), (QStringList{"1", "2"}));
        TestServer::deliver(QStringLiteral("Inbox"), mail(3));
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), QStringList{"3"});
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), QStringList());
        FolderChooser::existing()->newOnlyBox()->setChecked(false);
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), (QStringList{"1", "2", "3"}));
    }

    // "Keep watching": new mail joins the list while the run waits, the
    // status line counts it, Stop ends the watch; with "Only mail since the
    // last run" the watched messages are not taken again.
    void keepWatchingUntilStop()
    {
        TestServer::deliver(QStringLiteral("Inbox"), mail(1));
        ScriptedDialogs d;
        auto f = connectedWindow();
        settings::saveFlag(settings::key::MailCache, false);
        setNewOnlyWanted(true);
        f->keepWatchingBox->setChecked(true);
        QStringList statuses;
        int delivered = 0;
        QElapsedTimer clock;
        clock.start();
        QTimer step;
        step.setInterval(50);
        connect(&step, &QTimer::timeout, this, [&] {
            const QString status = f->statusText();
            if (status.startsWith(QLatin1String("Watching")) && !statuses.contains(status))
                statuses << status;
            const QStringList got = orders(f->results().texts());
            if (delivered == 0 && status.startsWith(QLatin1String("Watching"))) {
                TestServer::deliver(QStringLiteral("Inbox"), mail(2));
                delivered = 1;
            } else if (delivered == 1 && got.contains(QLatin1String("2"))) {
                TestServer::deliver(QStringLiteral("Inbox"), mail(3));
                delivered = 2;
            } else if ((delivered == 2 && got.contains(QLatin1String("3")) && status.endsWith(QLatin1String("(2 new)")))
                       || clock.elapsed() > 30000) {
                step.stop();
                f->PushButton13->click();  // Stop
            }
        });
        step.start();
        const QTime started = QTime::currentTime();
        f->PushButton13->click();
        QVERIFY2(clock.elapsed() < 30000, "the watch did not deliver the new mail");
        QCOMPARE(orders(f->results().texts()), (QStringList{"1", "2", "3"}));
        QVERIFY(!statuses.isEmpty());
        const QRegularExpression shape(QStringLiteral("^Watching Inbox since (\\d\\d:\\d\\d) \\((\\d) new\\)$"));
        const QRegularExpressionMatch first = shape.match(statuses.first());
        QVERIFY2(first.hasMatch(), qPrintable(statuses.first()));
        QVERIFY(first.captured(1) == started.toString(QStringLiteral("HH:mm"))
                || first.captured(1) == started.addSecs(60).toString(QStringLiteral("HH:mm")));
        QCOMPARE(first.captured(2), QStringLiteral("0"));
        QVERIFY2(statuses.last().endsWith(QLatin1String("(2 new)")), qPrintable(statuses.join(u'|')));
        QCOMPARE(f->PushButton13->text(), QStringLiteral("Extract All Email Data"));

        f->keepWatchingBox->setChecked(false);
        TestServer::deliver(QStringLiteral("Inbox"), mail(4));
        f->PushButton13->click();
        QCOMPARE(orders(f->results().texts()), QStringList{"4"});
    }
};

QTEST_MAIN(TestForm1ScopeServer)
#include "test_form1_scope_server.moc"
