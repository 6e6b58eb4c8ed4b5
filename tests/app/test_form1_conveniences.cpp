// What the main window offers beyond the bare commands: ticking many rows at
// once, errors that name the problem, overall progress, the parameter boxes
// and the account name kept between starts, a connect command that cannot be
// clicked into disagreement with the status line, tool tips on cut-off
// captions, rule windows beside the main window, and boxes that belong to
// their window.
#include "AppTestSupport.h"
#include "app/Form2.h"
#include "app/GuiDialogs.h"
#include "app/WindowHelpers.h"
#include "app/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using namespace vc;
using namespace vc::test;

namespace {

const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");

void messages(FakeImap &f, int count)
{
    QList<MailRecord> list;
    for (int i = 1; i <= count; ++i)
        list << FakeImap::message(QStringLiteral("subject %1").arg(i), QStringLiteral("body %1").arg(i));
    f.setInbox(list);
}

void fourMessages(FakeImap &f)
{
    messages(f, 4);
}

// A loaded window with the account typed in; `connected` clicks Connect.
void prepare(Window &w, bool connected)
{
    w->Form_Load();
    w->Text7->setText(QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    w->Text6->setText(QStringLiteral("secret"));
    if (connected)
        w->PushButton17->click();
}

QString ticks(const ResultsModel &m)
{
    QString s;
    for (int i = 0; i < m.count(); ++i)
        s += m.isChecked(i) ? QLatin1Char('x') : QLatin1Char('-');
    return s;
}

}  // namespace

class TestForm1Conveniences : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { storeOnly({}); }

    // --- ticking rows --------------------------------------------------------

    void tickAllUntickAllInvert()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        w->results().appendRows({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        QTreeView *list = w->findChild<QTreeView *>(QStringLiteral("ListView1"));
        QVERIFY(list);
        QCOMPARE(list->contextMenuPolicy(), Qt::ActionsContextMenu);
        auto action = [&](const char *name) { return list->findChild<QAction *>(QLatin1String(name)); };
        QVERIFY(action("tickAllAction") && action("untickAllAction") && action("invertTicksAction"));
        QVERIFY(list->actions().contains(action("tickAllAction")));

        w->results().setChecked(1, true);
        action("invertTicksAction")->trigger();
        QCOMPARE(ticks(w->results()), QStringLiteral("x-x"));
        action("tickAllAction")->trigger();
        QCOMPARE(ticks(w->results()), QStringLiteral("xxx"));

        // Every ticked row is copied.
        w->PushButton1->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a\r\nb\r\nc\r\n"));

        action("untickAllAction")->trigger();
        QCOMPARE(ticks(w->results()), QStringLiteral("---"));
    }

    void ctrlAThenSpaceTicksTheSelection()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w->results().appendRows({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
        QTreeView *list = w->ListView1;
        list->setFocus();
        list->setCurrentIndex(w->results().index(0));

        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 4);
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(ticks(w->results()), QStringLiteral("xxxx"));
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(ticks(w->results()), QStringLiteral("----"));

        // Two rows selected, one of them ticked: Space ticks both.
        w->results().setChecked(2, true);
        list->selectionModel()->clearSelection();
        list->selectionModel()->select(w->results().index(1), QItemSelectionModel::Select);
        list->selectionModel()->select(w->results().index(2), QItemSelectionModel::Select);
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(ticks(w->results()), QStringLiteral("-xx-"));
    }

    // --- errors that name the problem ----------------------------------------

    void connectFailuresNameTheProblem_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("box");
        const QString host = QStringLiteral("imap-mail.outlook.com");
        QTest::newRow("name does not resolve")
            << int(ImapFailure::HostNotFound)
            << QStringLiteral("The server name \"%1\" could not be found.\rPlease check the server name and your "
                              "network connection.")
                   .arg(host);
        QTest::newRow("refused") << int(ImapFailure::Refused)
                                 << QStringLiteral("%1 refused the connection on port 993.\rPlease check the server "
                                                   "name and port; the server may be down.")
                                        .arg(host);
        QTest::newRow("unreachable") << int(ImapFailure::Unreachable)
                                     << QStringLiteral("%1 cannot be reached (Connect: Unreachable).\rPlease check "
                                                       "your network connection.")
                                            .arg(host);
        QTest::newRow("certificate") << int(ImapFailure::TlsRejected)
                                     << QStringLiteral("The certificate of %1 was not accepted:\rThe certificate has "
                                                       "expired\rThe connection was not made.")
                                            .arg(host);
        QTest::newRow("cannot tell") << int(ImapFailure::None) << kInvalidLogin;
    }
    void connectFailuresNameTheProblem()
    {
        QFETCH(int, kind);
        QFETCH(QString, box);
        ScriptedDialogs d;
        Window w([&](FakeImap &f) {
            f.connectOk = false;
            f.connectFailure = ImapFailure(kind);
            f.refusedCertificate = {QStringLiteral("The certificate has expired")};
        });
        prepare(w, true);
        QCOMPARE(d.texts(), QStringList{box});
        QCOMPARE(w->PushButton17->text(), QStringLiteral("1. Connect"));
        QCOMPARE(w->statusText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
    }

    void wrongPasswordKeepsTheLoginText()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        w->Text6->setText(QStringLiteral("wrong"));
        w->PushButton17->click();
        QCOMPARE(d.texts(), QStringList{kInvalidLogin});
    }

    // --- overall progress ----------------------------------------------------

    void barCountsMessagesDone()
    {
        ScriptedDialogs d;
        Window w(fourMessages);
        prepare(w, true);
        QStringList seen;  // "value/maximum text" inside each fetch, after a progress event
        w.fake->onFetch = [&](int n) {
            Q_EMIT w.fake->PercentDone(n == 3 ? 100 : 50);
            seen << QStringLiteral("%1/%2 %3")
                        .arg(w->ProgressBar1->value())
                        .arg(w->ProgressBar1->maximum())
                        .arg(w->statusText());
        };
        w->PushButton13->click();
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("0/4 Reading mail 1 of 4"), QStringLiteral("1/4 Reading mail 2 of 4"),
                              QStringLiteral("3/4 Reading mail 3 of 4"), QStringLiteral("3/4 Reading mail 4 of 4")}));
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(w->ProgressBar1->value(), 0);
        QCOMPARE(w->ProgressBar1->maximum(), 100);
        QCOMPARE(w->statusText(), QStringLiteral("Progress Bar"));
    }

    // --- what the user typed stays --------------------------------------------

    void parameterBoxesAreKept()
    {
        {
            ScriptedDialogs d;
            Window w;
            w->Form_Load();
            w->Text1->setText(QStringLiteral("tracking"));
            w->Text2->setText(QStringLiteral("http"));
            w->Text5->setText(QStringLiteral("1, 3"));
            QCOMPARE(storedValue(settings::key::Text1), std::optional<QString>(QStringLiteral("tracking")));
            QCOMPARE(storedValue(settings::key::Text5), std::optional<QString>(QStringLiteral("1, 3")));
        }
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QCOMPARE(w->Text1->text(), QStringLiteral("tracking"));
        QCOMPARE(w->Text2->text(), QStringLiteral("http"));
        QCOMPARE(w->Text5->text(), QStringLiteral("1, 3"));
        // An emptied box stays empty at the next start.
        w->Text2->clear();
        QCOMPARE(storedValue(settings::key::Text2), std::optional<QString>(QString()));
    }

    void accountNameKeptWithoutRememberMe()
    {
        storeOnly({{QStringLiteral("User"), QStringLiteral("alice")},
                   {QStringLiteral("Password"), QStringLiteral("secret")},
                   {QStringLiteral("StayConnected"), QStringLiteral("0")}});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QCOMPARE(w->Text7->text(), QStringLiteral("alice"));
        QCOMPARE(w->Text6->text(), QString());
        QVERIFY(!w->Check1->isChecked());
        QCOMPARE(storedValue(settings::key::User), std::optional<QString>(QStringLiteral("alice")));
        QCOMPARE(storedValue(settings::key::Password), std::nullopt);

        // A disconnect without "Remember me" lets the password go, not the name.
        w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
        w->Text6->setText(QStringLiteral("secret"));
        w->PushButton17->click();
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        w->PushButton17->click();
        QCOMPARE(w->Text7->text(), QStringLiteral("alice"));
        QCOMPARE(w->Text6->text(), QString());
        QCOMPARE(storedValue(settings::key::User), std::optional<QString>(QStringLiteral("alice")));
        QCOMPARE(storedValue(settings::key::Password), std::nullopt);
    }

    // --- the connect command ---------------------------------------------------

    // A second click while the first still waits for the server changes
    // nothing; caption and status line agree at every step.
    void doubleClickOnConnect()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        QStringList states;  // caption | status, inside the connect and after each click
        auto note = [&] { states << w->PushButton17->text() + QStringLiteral(" | ") + w->statusText(); };
        w.fake->onConnect = [&] {
            note();
            w->PushButton17->click();
            note();
        };
        w->PushButton17->click();
        note();
        QCOMPARE(states, (QStringList{QStringLiteral("1. Connect | Connecting to Windows Live Hotmail..."),
                                      QStringLiteral("1. Connect | Connecting to Windows Live Hotmail..."),
                                      QStringLiteral("Disconnect | Connected to Windows Live Hotmail. Please select "
                                                     "folder.")}));
        QCOMPARE(w.fake->count(QStringLiteral("connect")), 1);
        QVERIFY(d.boxes.isEmpty());
    }

    void statusNamesTheServerUsed()
    {
        ScriptedDialogs d;
        Form1::setComponentFactory([](const ConnectionConfig &) {
            auto f = std::make_unique<FakeImap>();
            f->addStandardFolders();
            return std::unique_ptr<ImapComponent>(std::move(f));
        });
        Form1Options o;
        o.onlineCheck = false;
        o.connection.setServer(QStringLiteral("mail.example.net:1993"));
        Form1 form(o);
        form.Form_Load();
        form.PushButton17->click();
        QCOMPARE(form.statusText(), QStringLiteral("Connected to mail.example.net:1993. Please select folder."));
        form.PushButton17->click();
        QCOMPARE(form.statusText(), QStringLiteral("Disconnected from mail.example.net:1993."));
        Form1::setComponentFactory({});
    }

    // --- captions, windows and boxes ---------------------------------------------

    void cutOffCaptionsGetToolTips()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QCOMPARE(w->PushButton15->toolTip(), QString());  // "Help" fits
        // A caption that cannot fit its button, as a command's caption may not.
        const QString longCaption(200, QLatin1Char('W'));
        w->PushButton13->setText(longCaption);
        QHelpEvent tip(QEvent::ToolTip, QPoint(5, 5), w->PushButton13->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w->PushButton13, &tip);
        QCOMPARE(w->PushButton13->toolTip(), longCaption);
        w->PushButton13->setText(QStringLiteral("Go"));
        QApplication::sendEvent(w->PushButton13, &tip);
        QCOMPARE(w->PushButton13->toolTip(), QString());
        // The results list keeps its own tool tip.
        QCOMPARE(w->ListView1->toolTip(), QStringLiteral("Move bar to right and out of window to reveal full names."));
    }

    void ruleWindowGoesBesideTheMainWindow_data()
    {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QRect>("keepClear");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QList<QRect>>("others");
        QTest::addColumn<QPoint>("expected");
        QTest::addColumn<QPoint>("mainAfter");
        const QRect screen(0, 0, 1920, 1080);
        const QRect big(0, 0, 1280, 1024);
        const QList<QRect> none;
        QTest::newRow("room on the right") << QRect(300, 100, 540, 720) << QRect() << QSize(540, 200) << screen << none
                                           << QPoint(840, 100) << QPoint(300, 100);
        QTest::newRow("room on the left only") << QRect(1300, 100, 540, 720) << QRect() << QSize(540, 200) << screen
                                               << none << QPoint(760, 100) << QPoint(1300, 100);
        QTest::newRow("centred on a narrow screen: the main window makes room")
            << QRect(372, 150, 536, 720) << QRect() << QSize(536, 200) << big << none << QPoint(744, 150)
            << QPoint(208, 150);
        QTest::newRow("kept above the screen's bottom") << QRect(300, 900, 540, 720) << QRect() << QSize(540, 300)
                                                        << screen << none << QPoint(840, 780) << QPoint(300, 900);
        QTest::newRow("second screen") << QRect(2000, 200, 540, 720) << QRect() << QSize(540, 200)
                                       << QRect(1920, 0, 1920, 1080) << none << QPoint(2540, 200) << QPoint(2000, 200);
        QTest::newRow("the second rule window goes below the first")
            << QRect(208, 150, 536, 720) << QRect() << QSize(536, 360) << big << QList<QRect>{{744, 150, 536, 210}}
            << QPoint(744, 360) << QPoint(208, 150);
        QTest::newRow("a full column: cascaded over the first")
            << QRect(300, 100, 540, 720) << QRect() << QSize(540, 500) << screen << QList<QRect>{{840, 100, 540, 600}}
            << QPoint(840, 132) << QPoint(300, 100);
        QTest::newRow("no room beside: over the top part, clear of the results")
            << QRect(200, 50, 540, 720) << QRect(200, 510, 540, 260) << QSize(540, 200) << QRect(0, 0, 1000, 800)
            << none << QPoint(200, 50) << QPoint(200, 50);
        QTest::newRow("maximised: at the right end above the results")
            << big << QRect(0, 460, 1280, 564) << QSize(540, 220) << big << none << QPoint(740, 0) << QPoint(0, 0);
        QTest::newRow("maximised, the second cascades above the results")
            << big << QRect(0, 460, 1280, 564) << QSize(540, 380) << big << QList<QRect>{{740, 0, 540, 220}}
            << QPoint(708, 32) << QPoint(0, 0);
    }
    void ruleWindowGoesBesideTheMainWindow()
    {
        QFETCH(QRect, main);
        QFETCH(QRect, keepClear);
        QFETCH(QSize, window);
        QFETCH(QRect, screen);
        QFETCH(QList<QRect>, others);
        QFETCH(QPoint, expected);
        QFETCH(QPoint, mainAfter);
        const Beside at = besidePosition({main, keepClear, window, screen, others});
        QCOMPARE(at.window, expected);
        QCOMPARE(at.main, mainAfter);
        const QRect placed(at.window, window);
        QVERIFY(screen.contains(placed));
        QVERIFY(screen.contains(QRect(at.main, main.size())) || at.main == main.topLeft());
        // Beside means not over the main window, whenever the screen allows it,
        // and never over its results.
        if (main.width() + window.width() <= screen.width())
            QVERIFY(!QRect(at.main, main.size()).intersects(placed));
        QVERIFY(!keepClear.translated(at.main - main.topLeft()).intersects(placed));
    }

    // "Done." of a run started in the between window carries that window's title.
    void doneCarriesTheTitleOfItsWindow()
    {
        ScriptedDialogs d;
        Window w(fourMessages);
        prepare(w, true);
        w->PushButton13->click();
        QCOMPARE(d.boxes.last().text, QStringLiteral("Done."));
        QCOMPARE(d.boxes.last().title, QStringLiteral("Vellumcast"));

        Form2 *between = Form2::instance();
        between->startMarkerBox->setText(QStringLiteral("subject "));
        between->endMarkerBox->setText(QStringLiteral("x"));
        between->PushButton4_Click();
        QCOMPARE(d.boxes.last().text, QStringLiteral("Done. No rows found in 4 messages."));
        QCOMPARE(d.boxes.last().title, QStringLiteral("Extract Between X and Y (Repeatedly)"));
        Form2::destroyInstance();
    }

    // With no active window (the program in the background) a box is still
    // centred on the main window.
    void boxesAreCentredOnTheirWindow()
    {
        Window w;
        w->Form_Load();
        w->move(40, 30);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QApplication::setActiveWindow(nullptr);
        QVERIFY(!QApplication::activeWindow());
        GuiDialogs gui;
        gui.setMainWindow(w.form.get());
        QPoint boxCentre, windowCentre;
        QString title;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            boxCentre = box->frameGeometry().center();
            windowCentre = w->frameGeometry().center();
            title = box->windowTitle();
            box->accept();
        });
        gui.messageBox(QStringLiteral("Done."), BoxButtons::Ok, BoxIcon::None, QString());
        QCOMPARE(title, QStringLiteral("Vellumcast"));
        QVERIFY2((boxCentre - windowCentre).manhattanLength() <= 40,
                 qPrintable(QStringLiteral("box centre %1,%2, window centre %3,%4")
                                .arg(boxCentre.x())
                                .arg(boxCentre.y())
                                .arg(windowCentre.x())
                                .arg(windowCentre.y())));
    }
};

QTEST_MAIN(TestForm1Conveniences)
#include "test_form1_conveniences.moc"
