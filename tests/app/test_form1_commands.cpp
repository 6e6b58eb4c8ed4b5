// The main window's commands on a fake component: connect/disconnect, the
// start-command state machine, runs, and the output and help wiring.
#include "AppTestSupport.h"
#include "app/Form2.h"
#include "app/WindowHelpers.h"
#include "extract/ErrorLog.h"
#include "output/HelpTexts.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using namespace vc::test;

namespace {

const QString kConnect = QStringLiteral("1. Connect");
const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");
const QString kNotConnected = QStringLiteral("Please connect first (Step 1) before using this feature.");
const QString kBadNumbers = QStringLiteral("Entry must be number or numbers separated by commas.");
const QString kDone = QStringLiteral("Done.");

void threeMessages(FakeImap &f)
{
    f.setInbox({FakeImap::message(QStringLiteral("first"), QStringLiteral("a\r\nb")),
                FakeImap::message(QStringLiteral("second"), QStringLiteral("c")),
                FakeImap::message(QStringLiteral("third"), QStringLiteral("d"))});
}

// A loaded window with the account typed in; `connected` clicks Connect.
void prepare(Window &w, bool connected)
{
    w->Form_Load();
    w->Text7->setText(QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    w->Text6->setText(QStringLiteral("secret"));
    if (connected) {
        w->PushButton17->click();
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
    }
}

}  // namespace

class TestForm1Commands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        storeOnly({});
        windowKeychain().entries.clear();
    }

    // --- connect and disconnect ------------------------------------------

    void connectWithWrongPassword()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        w->Text6->setText(QStringLiteral("wrong"));
        w->results().append(QStringLiteral("left over"));
        w->PushButton17->click();
        QCOMPARE(d.texts(), QStringList{kInvalidLogin});
        QCOMPARE(w.fake->logins, QStringList{QStringLiteral("alice@live.com|wrong")});
        QCOMPARE(w->PushButton17->text(), kConnect);
        QCOMPARE(w->statusText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
        QCOMPARE(w->results().count(), 0);
        QVERIFY(w->oChilkat == nullptr);
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
        QVERIFY(!w->commandActive());
    }

    void connectAndDisconnect_data()
    {
        QTest::addColumn<bool>("remember");
        QTest::newRow("remember me ticked") << true;
        QTest::newRow("remember me unticked") << false;
    }
    void connectAndDisconnect()
    {
        QFETCH(bool, remember);
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        w->Check1->setChecked(remember);
        w->PushButton17->click();
        QVERIFY(d.boxes.isEmpty());
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(w->statusText(), QStringLiteral("Connected to Windows Live Hotmail. Please select folder."));
        QVERIFY(w->oChilkat != nullptr);
        QCOMPARE(w.fake->hosts, QStringList{w->options().connection.host});
        QCOMPARE(w.fake->ports, QList<int>{w->options().connection.port});
        QCOMPARE(w.fake->ssl, QList<bool>{true});
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);

        w->results().append(QStringLiteral("row"));
        w->PushButton17->click();
        QCOMPARE(w->PushButton17->text(), kConnect);
        QCOMPARE(w->statusText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
        QCOMPARE(w.fake->count(QStringLiteral("disconnect")), 1);
        QVERIFY(w->oChilkat == nullptr);
        QCOMPARE(w->results().count(), 0);
        QCOMPARE(w->Check1->isChecked(), remember);
        const auto v = fileValues();
        // Without "Remember me" the password goes; the account name stays.
        QCOMPARE(w->Text7->text(), QStringLiteral("alice"));
        QCOMPARE(w->Text6->text(), remember ? QStringLiteral("secret") : QString());
        QCOMPARE(v.value(QStringLiteral("User")), QStringLiteral("alice"));
        QVERIFY(!v.contains(QStringLiteral("Password")));
        // "Remember me" keeps it in the keychain, under the server and account.
        const QString key = PasswordKeeper::key(w->options().connection.host, w->options().connection.port,
                                                QStringLiteral("alice@live.com"));
        QCOMPARE(windowKeychain().entries.value(key), remember ? QStringLiteral("secret") : QString());
        QVERIFY(d.boxes.isEmpty());
    }

    void accountNameUsesSuffixOnlyWhenItIsOne()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        w->Combo1->setCurrentIndex(0);  // "Live!ID": the name alone
        w->Text7->setText(QStringLiteral("alice@live.com"));
        w->PushButton17->click();
        QCOMPARE(w.fake->logins, QStringList{QStringLiteral("alice@live.com|secret")});
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
    }

    // --- start commands ------------------------------------------------------

    void refusedWhenNotConnected()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, false);
        w->results().append(QStringLiteral("kept"));
        w->PushButton13->click();
        QCOMPARE(d.texts(), QStringList{kNotConnected});
        QCOMPARE(w->PushButton13->text(), QStringLiteral("Extract All Email Data"));
        QCOMPARE(w->results().count(), 1);
        QVERIFY(w.fake->fetched.isEmpty());
        QVERIFY(!w->onExtractEmail);
        QVERIFY(!w->members.mExtractAllEmailData());
    }

    void fullRun()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        QString statusDuringFetch;
        int barDuringFetch = -1;
        QString captionDuringFetch;
        bool guardDuringFetch = false;
        WindowState::Phase phaseDuringFetch = WindowState::Phase::Idle;
        QCOMPARE(w->state().phase(), WindowState::Phase::Connected);
        w.fake->onFetch = [&](int n) {
            if (n != 2)
                return;
            Q_EMIT w.fake->PercentDone(40);
            statusDuringFetch = w->statusText();
            barDuringFetch = w->ProgressBar1->value();
            captionDuringFetch = w->PushButton13->text();
            guardDuringFetch = w->onExtractEmail;
            phaseDuringFetch = w->state().phase();
        };
        w->PushButton13->click();
        QCOMPARE(phaseDuringFetch, WindowState::Phase::Running);
        QCOMPARE(w->state().phase(), WindowState::Phase::Connected);
        QCOMPARE(d.texts(), QStringList{kDone});
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        QCOMPARE(statusDuringFetch, QStringLiteral("Reading mail 2 of 3"));
        QCOMPARE(barDuringFetch, 1);  // messages done, not the fetch's percentage
        QCOMPARE(captionDuringFetch, QStringLiteral("Stop"));
        QVERIFY(guardDuringFetch);
        // Header rows, the whole body, then its lines, message after message.
        QCOMPARE(w->results().texts().first(), QStringLiteral("Ann Example <ann@example.org>"));
        QVERIFY(w->results().contains(QStringLiteral("first")));
        QVERIFY(w->results().contains(QStringLiteral("a\r\nb")));
        QVERIFY(w->results().contains(QStringLiteral("d")));
        QVERIFY(w->members.mExtractAllEmailData());
        QVERIFY(!w->onExtractEmail);
        QVERIFY(w->oChilkat == nullptr);  // a run drops its connection object
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(w->PushButton13->text(), QStringLiteral("Extract All Email Data"));
        QCOMPARE(w->statusText(), QStringLiteral("Progress Bar"));
        QCOMPARE(w->ProgressBar1->value(), 0);
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);

        // The next run builds a new object and logs in again.
        const int loginsBefore = int(w.fake->logins.size());
        d.clear();
        w.fake->fetched.clear();
        w->PushButton13->click();
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        QVERIFY(w.fake->logins.size() > loginsBefore);
        QCOMPARE(d.texts(), QStringList{kDone});
    }

    // How a run that goes wrong ends in the window: its boxes, in order, with
    // their titles ("Done." carries the window's), and the window idle again.
    void runsThatGoWrong_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("boxes");
        const QString walkFailed = QStringLiteral("Connection failed. Check username and password.");
        const QString noEmails = QStringLiteral("There are no emails in the Folder you selected.");
        QTest::newRow("the walk's sign-in refused") << 0 << QStringList{kInvalidLogin, walkFailed, kDone};
        QTest::newRow("the walk's select refused") << 1 << QStringList{kInvalidLogin, kDone};
        QTest::newRow("no folder option selected") << 2 << QStringList{kInvalidLogin, noEmails};
        QTest::newRow("an empty folder") << 3 << QStringList{noEmails};
        QTest::newRow("a message that cannot be read")
            << 4 << QStringList{kDone + QStringLiteral("\r1 of 3 messages could not be read (see %1)")};
    }
    void runsThatGoWrong()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, boxes);
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        // The run counts on the connection of the connect command. The line
        // goes right after the count's select, so the walk signs in afresh:
        // that sign-in, or its select, is where the fault is.
        bool dropped = false;
        w.fake->onSelected = [&](const QString &) {
            if (dropped || fault > 1)
                return;
            dropped = true;
            w.fake->dropLine();
            if (fault == 0)
                w.fake->loginOk = false;
            if (fault == 1)
                w.fake->refuseSelect << QStringLiteral("Inbox");
        };
        if (fault == 2) {
            for (QRadioButton *o : {w->Option3, w->Option5, w->Option6, w->Option7, w->Option9}) {
                o->setAutoExclusive(false);
                o->setChecked(false);
            }
        }
        if (fault == 3)
            w->Option5->setChecked(true);  // Drafts: empty
        if (fault == 4)
            w.fake->folder(QStringLiteral("Inbox")).messages[1].reset();
        QTemporaryDir logs;
        const QString log = logs.filePath(QStringLiteral("errorlog.txt"));
        vc::errorlog::overrideFolders(logs.path(), logs.path());
        w->PushButton13->click();
        vc::errorlog::overrideFolders(QString(), QString());
        for (QString &b : boxes)
            b = b.contains(QLatin1String("%1")) ? b.arg(log) : b;
        QCOMPARE(d.texts(), boxes);
        for (const ScriptedDialogs::Box &b : d.boxes) {
            QCOMPARE(b.icon, BoxIcon::None);
            QCOMPARE(b.title, b.text.startsWith(kDone) ? w->windowTitle() : QString());
        }
        QVERIFY(!w->onExtractEmail);
        QCOMPARE(w->PushButton13->text(), QStringLiteral("Extract All Email Data"));
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(w->statusText(), QStringLiteral("Progress Bar"));
    }

    // The rule's text is read for every message: an edit during the run applies
    // to the messages delivered after it.
    void editDuringRunAppliesToLaterMessages()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        w->Text1->setText(QStringLiteral("second"));
        w.fake->onFetch = [&](int n) {
            if (n == 2)
                w->Text1->setText(QStringLiteral("third"));  // before message 2 is listed
        };
        w->PushButton2->click();
        QCOMPARE(w->results().texts(), QStringList{QStringLiteral("third")});
        QCOMPARE(d.texts(), QStringList{kDone});
    }

    void stopDuringRun()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        QString captionAfterStop, captionAfterSecondClick;
        WindowState::Phase phaseAfterStop = WindowState::Phase::Idle;
        w.fake->fetchHonoursAbort = false;  // the fetch in progress still returns its message
        w.fake->onFetch = [&](int n) {
            if (n == 2) {
                w->PushButton13->click();  // reads "Stop": a stop request
                captionAfterStop = w->PushButton13->text();
                phaseAfterStop = w->state().phase();
                // Clicked again while the run ends: no second stop, no second run.
                w->PushButton13->click();
                captionAfterSecondClick = w->PushButton13->text();
            }
        };
        w->PushButton13->click();
        QCOMPARE(captionAfterStop, QStringLiteral("Extract All Email Data"));
        QCOMPARE(phaseAfterStop, WindowState::Phase::Stopping);
        QCOMPARE(captionAfterSecondClick, QStringLiteral("Extract All Email Data"));
        QCOMPARE(w->state().phase(), WindowState::Phase::Connected);
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2}));
        // The box says where the stop came; rows of the first message stay,
        // nothing of the third arrived.
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Stopped at message 2 of 3. The %1 rows found so far are kept.")
                                            .arg(w->results().count())});
        QVERIFY(w->results().contains(QStringLiteral("first")));
        QVERIFY(!w->results().contains(QStringLiteral("third")));
        QVERIFY(!w->onExtractEmail);
    }

    void secondCommandDuringRunOnlyFlipsItsCaption()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        QString otherCaption, runningCaption;
        bool guardAfter = false;
        w.fake->onFetch = [&](int n) {
            if (n != 1)
                return;
            w->PushButton2->click();
            otherCaption = w->PushButton2->text();
            runningCaption = w->PushButton13->text();
            guardAfter = w->onExtractEmail;
        };
        w->PushButton13->click();
        QCOMPARE(otherCaption, QStringLiteral("Extract All Lines Containing This Text:"));
        QCOMPARE(runningCaption, QStringLiteral("Stop"));
        QVERIFY(guardAfter);  // the refused command did not clear the guard
        QVERIFY(w->members.mExtractAllEmailData());
        QVERIFY(!w->members.mExtractAllEmailDataContaining());
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        QCOMPARE(d.texts(), QStringList{kDone});
    }

    void numberListCheck_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("runs");
        QTest::newRow("one number") << "2" << true;
        QTest::newRow("list with blanks and decimals") << " 1, 2.5,-3" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("number and word") << "1,x" << false;
        QTest::newRow("trailing comma") << "1," << false;
        QTest::newRow("word") << "first" << false;
    }
    void numberListCheck()
    {
        QFETCH(QString, entry);
        QFETCH(bool, runs);
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        w->results().append(QStringLiteral("old"));
        w->Text5->setText(entry);
        w->PushButton7->click();
        QVERIFY(w->members.mExtractAllEmailDataLineNumber());
        QCOMPARE(w.fake->fetched.isEmpty(), !runs);
        QCOMPARE(d.texts(), runs ? QStringList{kDone} : QStringList{kBadNumbers});
        if (!runs)
            QCOMPARE(w->results().count(), 0);  // cleared before the check
        QCOMPARE(w->PushButton7->text(), QStringLiteral("Extract Lines By Number:"));
        QVERIFY(!w->onExtractEmail);
    }

    void ruleWindowStartsThroughMainWindow()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        w->PushButton4->click();
        Form2 *between = Form2::instance();
        QVERIFY(between->isVisible());
        between->Text3->setText(QStringLiteral("<"));
        between->Text4->setText(QStringLiteral(">"));
        between->PushButton4->click();
        QVERIFY(w->members.mExtractAllEmailDataStartsWith());
        QVERIFY(!w->members.mExtractAllEmailData());
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        QCOMPARE(d.texts(), QStringList{kDone});
        QCOMPARE(between->PushButton4->text(), QStringLiteral("Start Extracting"));
        between->hide();
        Form2::destroyInstance();
    }

    void disconnectDuringRun()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        bool clicked = false;
        w.fake->onFetch = [&](int n) {
            if (n == 1 && !clicked) {
                clicked = true;
                w->PushButton17->click();
            }
        };
        w->PushButton13->click();
        QCOMPARE(w->PushButton17->text(), kConnect);
        QVERIFY(w->oChilkat == nullptr);
        // The run still ends with "Done." (the walk signed in again for the
        // message it lost), followed by what it could not read, if anything.
        QVERIFY2(d.texts().size() == 1, qPrintable(d.texts().join(u'|')));
        QVERIFY2(d.texts().first().startsWith(kDone), qPrintable(d.texts().first()));
        QVERIFY(!w->onExtractEmail);
        QCOMPARE(w->PushButton13->text(), QStringLiteral("Extract All Email Data"));
    }

    void closingReportsWhetherACommandWorks()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        prepare(w, true);
        QList<bool> closes;
        w->setExitHandler([&](bool busy) { closes << busy; });
        w.fake->onFetch = [&](int n) {
            if (n == 1)
                w->close();
        };
        w->PushButton13->click();
        w->show();
        w->close();
        QCOMPARE(closes, (QList<bool>{true, false}));
    }

    // --- output and help commands -----------------------------------------

    void helpButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("contact") << "PushButton15" << help::contactNote();
        QTest::newRow("lines") << "PushButton10" << help::linesByNumberExample();
        QTest::newRow("between") << "PushButton16" << help::betweenExample();
        QTest::newRow("text sets") << "PushButton18" << help::textSetHelp();
    }
    void helpButtons()
    {
        QFETCH(QString, button);
        QFETCH(QString, text);
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->results().append(QStringLiteral("row"));
        const auto before = fileValues();
        w->findChild<QPushButton *>(button)->click();
        QCOMPARE(d.texts(), QStringList{text});
        QCOMPARE(d.boxes.first().icon, BoxIcon::None);
        QCOMPARE(w->results().count(), 1);
        QCOMPARE(fileValues(), before);
    }

    void copyAndClear()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->results().appendRows({QStringLiteral("ab"), QStringLiteral("abcd"), QStringLiteral("abcdefg")});
        w->results().setChecked(0, true);
        w->results().setChecked(1, true);
        w->PushButton1->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("ab\r\nabcd\r\n"));
        w->PushButton3->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("ab     \t\r\nabcd   \t\r\n"));
        QCOMPARE(w->statusText(), QStringLiteral("Progress Bar"));
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
        QCOMPARE(d.texts().size(), 1);  // the confirmation of the tab copy
        w->PushButton9->click();
        QCOMPARE(w->results().count(), 0);
    }

    void saveAsText()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->results().appendRows({QStringLiteral("t1"), QStringLiteral("t2")});
        const QString path = QDir::current().filePath(QStringLiteral("saved-results.txt"));
        QFile::remove(path);
        d.saveNames << path;
        w->PushButton6->click();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("t1\r\nt2\r\n"));
    }
};

QTEST_MAIN(TestForm1Commands)
#include "test_form1_commands.moc"
