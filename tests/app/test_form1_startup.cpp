// Start-up of the main window and the small handlers that store each entry.
#include "AppTestSupport.h"
#include "TestFiles.h"
#include "app/WindowHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>

#include <sys/stat.h>

using namespace vc;
using namespace vc::test;

namespace {
const QString kConnect = QStringLiteral("1. Connect");

void moveOver(QWidget *w, QPoint pos = QPoint(3, 3))
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
}  // namespace

class TestForm1Startup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyStore()
    {
        storeOnly({});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QCOMPARE(w->windowTitle(), QStringLiteral("Vellumcast"));
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(w->Text7->text(), QString());
        QCOMPARE(w->Text6->text(), QString());
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(!w->Check2->isChecked());
        QVERIFY(!w->Check2->isEnabled());
        QVERIFY(!w->Check3->isChecked());
        QVERIFY(w->Option3->isChecked());
        for (QRadioButton *o : {w->Option5, w->Option6, w->Option7, w->Option9})
            QVERIFY(!o->isChecked());
        QCOMPARE(w->Combo1->count(), 4);
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("Live!ID"));
        for (int i = 1; i < 4; ++i)
            QVERIFY(w->Combo1->itemText(i).startsWith(QLatin1Char('@')));
        QCOMPARE(w->Combo1->currentIndex(), 0);
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("Live!ID"));
        QCOMPARE(fileValues().value(QStringLiteral("Combo1")), QStringLiteral("0"));
        QCOMPARE(w->PushButton17->text(), kConnect);
        QCOMPARE(w->statusText(), QStringLiteral("Progress Bar"));
        QCOMPARE(w->results().header(), QStringLiteral("Results"));
        QCOMPARE(w->ListView1->header()->sectionSize(0), twips(7300));
        QVERIFY(w->ChilkatImap1 != nullptr);
        QVERIFY(w->oChilkat == nullptr);
        const RuleMembers &m = w->members;
        QVERIFY(!m.mExtractAllEmailData() && !m.mExtractAllEmailDataContaining()
                && !m.mExtractAllEmailDataContaininglist() && !m.mExtractAllEmailDataNotContaining()
                && !m.mExtractAllEmailDataStartsWith() && !m.mExtractAllEmailDataLineNumber());
        QVERIFY(w.fake->logins.isEmpty());  // no auto-connect
        QVERIFY(d.boxes.isEmpty());
    }

    // A password that an older version left in the file is erased at the
    // first start, remembered or not (see test_form1_password for the keychain).
    void rememberOffErasesStoredPassword()
    {
        storeOnly({{"User", "alice"}, {"Password", "pw"}, {"StayConnected", "0"}});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QCOMPARE(w->Text7->text(), QStringLiteral("alice"));  // the account name is kept
        QCOMPARE(w->Text6->text(), QString());
        QVERIFY(!w->Check1->isChecked());
        const auto v = fileValues();
        QCOMPARE(v.value(QStringLiteral("User")), QStringLiteral("alice"));
        QVERIFY(!v.contains(QStringLiteral("Password")));
        QVERIFY(!readFile(settings::filePath()).contains("pw"));
        QVERIFY(d.boxes.isEmpty());
    }

    void rememberOnRestoresAndAutoConnects()
    {
        storeOnly(
            {{"User", "alice"}, {"Password", "secret"}, {"StayConnected", "1"}, {"AutoConnect", "1"}, {"Combo1", "2"}});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QCOMPARE(w->Text7->text(), QStringLiteral("alice"));
        QCOMPARE(w->Text6->text(), QStringLiteral("secret"));
        QVERIFY(w->Check1->isChecked());
        QVERIFY(w->Check2->isEnabled());
        QVERIFY(w->Check2->isChecked());
        QCOMPARE(w->Combo1->currentIndex(), 2);
        // The auto-connect logged in with name + suffix and left the window connected.
        QCOMPARE(w.fake->logins,
                 QStringList{QStringLiteral("alice") + w->Combo1->itemText(2) + QStringLiteral("|secret")});
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        QVERIFY(w->oChilkat != nullptr);
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
        QVERIFY(d.boxes.isEmpty());
        // Stored values came through unchanged; the password moved to the keychain.
        QCOMPARE(fileValues().value(QStringLiteral("User")), QStringLiteral("alice"));
        QCOMPARE(fileValues().value(QStringLiteral("StayConnected")), QStringLiteral("1"));
        QVERIFY(!fileValues().contains(QStringLiteral("Password")));
        QCOMPARE(windowKeychain().entries.value(PasswordKeeper::key(w->options().connection.host,
                                                                    w->options().connection.port,
                                                                    QStringLiteral("alice") + w->Combo1->itemText(2))),
                 QStringLiteral("secret"));
    }

    void autoConnectWithRememberOffFailsLogin()
    {
        storeOnly({{"User", "alice"}, {"Password", "secret"}, {"StayConnected", "0"}, {"AutoConnect", "1"}});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QVERIFY(w->Check2->isChecked());
        QVERIFY(!w->Check2->isEnabled());
        QCOMPARE(w->Text7->text(), QStringLiteral("alice"));
        QCOMPARE(w.fake->logins, QStringList{QStringLiteral("alice|")});
        QCOMPARE(d.count(QStringLiteral("Invalid login. Please double-check your username and password.")), 1);
        QCOMPARE(w->PushButton17->text(), kConnect);
        QCOMPARE(w->statusText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
    }

    // Values that do not convert: one error box per failing line, start-up goes on.
    void unconvertibleValues_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("line");
        QTest::newRow("Combo1 text") << "Combo1"
                                     << "abc" << 777;
        QTest::newRow("Combo1 out of range") << "Combo1"
                                             << "9" << 777;
        QTest::newRow("AutoConnect text") << "AutoConnect"
                                          << "yes" << 176;
        QTest::newRow("AutoConnect overflow") << "AutoConnect"
                                              << "40000" << 176;
        QTest::newRow("Option5 text") << "Option5"
                                      << "maybe" << 180;
        QTest::newRow("StayConnected text") << "StayConnected"
                                            << "x" << 154;
    }
    void unconvertibleValues()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(int, line);
        QMap<QString, QString> stored{
            {"User", "alice"}, {"Password", "secret"}, {"StayConnected", "1"}, {"AutoConnect", "1"}};
        stored.insert(name, value);
        ScriptedDialogs d;
        storeOnly(stored);
        Window w([](FakeImap &f) { f.user = QStringLiteral("alice"); });
        w->Form_Load();
        QVERIFY2(d.texts().size() == 1, qPrintable(d.texts().join(QStringLiteral(" | "))));
        const ScriptedDialogs::Box box = d.boxes.first();
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QCOMPARE(box.icon, BoxIcon::Warning);
        QVERIFY2(box.text.contains(QStringLiteral("in Vellumcast2/19/2015.Form1.Form_Load at line %1").arg(line)),
                 qPrintable(box.text));
        // The steps after the failing one still ran: the combo is filled and,
        // unless the auto-connect value itself failed, the auto-connect happened.
        QCOMPARE(w->Combo1->count(), 4);
        if (name != QLatin1String("AutoConnect"))
            QCOMPARE(w.fake->logins.size(), 1);
        else
            QVERIFY(w.fake->logins.isEmpty());
    }

    void optionValues_data()
    {
        QTest::addColumn<QString>("option3");
        QTest::addColumn<QString>("option6");
        QTest::addColumn<QString>("selected");
        QTest::newRow("hand-edited number") << "False"
                                            << "1"
                                            << "Option6";
        QTest::newRow("texts any case") << "false"
                                        << "TRUE"
                                        << "Option6";
        QTest::newRow("zero is false") << "True"
                                       << "0"
                                       << "Option3";
    }
    void optionValues()
    {
        QFETCH(QString, option3);
        QFETCH(QString, option6);
        QFETCH(QString, selected);
        storeOnly({{"Option3", option3}, {"Option6", option6}});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QVERIFY(d.boxes.isEmpty());
        for (QRadioButton *o : {w->Option3, w->Option5, w->Option6, w->Option7, w->Option9})
            QCOMPARE(o->isChecked(), o->objectName() == selected);
        QCOMPARE(w->folderName(),
                 selected == QLatin1String("Option6") ? QStringLiteral("Sent") : QStringLiteral("Inbox"));
    }

    void typingStoresEveryKeystrokeButThePassword()
    {
        storeOnly({});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QStringList seen;
        for (QChar c : QStringLiteral("abc")) {
            QTest::keyClick(w->Text7, c.toLatin1());
            seen << fileValues().value(QStringLiteral("User"));
        }
        QCOMPARE(seen, (QStringList{"a", "ab", "abc"}));
        QTest::keyClicks(w->Text6, QStringLiteral("p\"w"));
        QCOMPARE(w->Text6->text(), QStringLiteral("p\"w"));
        QVERIFY(!fileValues().contains(QStringLiteral("Password")));
        QCOMPARE(w->Text6->echoMode(), QLineEdit::Password);
        // The next start with "Remember me" unticked keeps the name and empties
        // the password, in the box and in the store.
        w.form.reset();
        Window again;
        again->Form_Load();
        QCOMPARE(again->Text7->text(), QStringLiteral("abc"));
        QCOMPARE(again->Text6->text(), QString());
        QVERIFY(!fileValues().contains(QStringLiteral("Password")));
    }

    void selectingSentStoresAllFive()
    {
        storeOnly({});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QTest::mouseClick(w->Option6, Qt::LeftButton);
        QVERIFY(w->Option6->isChecked());
        const auto v = fileValues();
        QCOMPARE(v.value(QStringLiteral("Option3")), QStringLiteral("False"));
        QCOMPARE(v.value(QStringLiteral("Option5")), QStringLiteral("False"));
        QCOMPARE(v.value(QStringLiteral("Option6")), QStringLiteral("True"));
        QCOMPARE(v.value(QStringLiteral("Option7")), QStringLiteral("False"));
        QCOMPARE(v.value(QStringLiteral("Option9")), QStringLiteral("False"));
        QCOMPARE(w->folderName(), QStringLiteral("Sent"));
    }

    void checkBoxesAndCombo()
    {
        storeOnly({});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QTest::mouseClick(w->Check1, Qt::LeftButton);
        QCOMPARE(fileValues().value(QStringLiteral("StayConnected")), QStringLiteral("1"));
        QVERIFY(w->Check2->isEnabled());
        QTest::mouseClick(w->Check2, Qt::LeftButton);
        QCOMPARE(fileValues().value(QStringLiteral("AutoConnect")), QStringLiteral("1"));
        // Unticking "Remember me" disables the auto-connect box but keeps its tick.
        QTest::mouseClick(w->Check1, Qt::LeftButton);
        QCOMPARE(fileValues().value(QStringLiteral("StayConnected")), QStringLiteral("0"));
        QVERIFY(!w->Check2->isEnabled());
        QVERIFY(w->Check2->isChecked());
        w->Combo1->setCurrentIndex(3);
        QCOMPARE(fileValues().value(QStringLiteral("Combo1")), QStringLiteral("3"));
        // A pick in the list (here with the arrow key) writes the index once.
        const int writes = settings::writeCount();
        QTest::keyClick(w->Combo1, Qt::Key_Up);
        QCOMPARE(w->Combo1->currentIndex(), 2);
        QCOMPARE(fileValues().value(QStringLiteral("Combo1")), QStringLiteral("2"));
        QCOMPARE(settings::writeCount() - writes, 1);
        QVERIFY(d.boxes.isEmpty());
    }

    void settingsFileIsOwnerOnly()
    {
        storeOnly({});
        QFile::setPermissions(settings::filePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QTest::keyClick(w->Text7, 'x');
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(settings::filePath()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    void focusSelectsWholeText()
    {
        storeOnly({{"User", "alice"}, {"StayConnected", "1"}});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        w->Text6->setFocus();
        w->Text7->setCursorPosition(2);
        w->Text7->setFocus(Qt::MouseFocusReason);
        QTRY_COMPARE(w->Text7->selectedText(), QStringLiteral("alice"));
    }

    void hoverPointer()
    {
        storeOnly({});
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        WindowPointer *p = w->pointer();
        // Busy: extraction commands still show the hand; others keep the hourglass.
        p->setMousePointer(pointer::Hourglass);
        moveOver(w->PushButton9);
        QCOMPARE(p->MousePointer(), pointer::Hourglass);
        moveOver(w->Check3);
        QCOMPARE(p->MousePointer(), pointer::Hourglass);
        moveOver(w->Frame5);
        QCOMPARE(p->MousePointer(), pointer::Hourglass);
        moveOver(w->PushButton13);
        QCOMPARE(p->MousePointer(), pointer::Custom);
        p->setMousePointer(pointer::Hourglass);
        moveOver(w->PushButton7);
        QCOMPARE(p->MousePointer(), pointer::Custom);
        // Idle: the hand over commands, the default over the background and boxes.
        p->setMousePointer(pointer::Default);
        moveOver(w->PushButton9);
        QCOMPARE(p->MousePointer(), pointer::Custom);
        moveOver(w->Text7);
        QCOMPARE(p->MousePointer(), pointer::Default);
        moveOver(w->PushButton17);
        QCOMPARE(p->MousePointer(), pointer::Custom);
        moveOver(w->ListView1->viewport());
        QCOMPARE(p->MousePointer(), pointer::Default);
        // A label (no rule of its own) inside a frame does not take the frame's rule.
        moveOver(w->PushButton15);
        QCOMPARE(p->MousePointer(), pointer::Custom);
        moveOver(w->lblLabels[0]);
        QCOMPARE(p->MousePointer(), pointer::Custom);
        moveOver(w->Frame5);
        QCOMPARE(p->MousePointer(), pointer::Default);
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        moveOver(w->PushButton9);
        QCOMPARE(w->cursor().shape(), Qt::PointingHandCursor);
    }
};

QTEST_MAIN(TestForm1Startup)
#include "test_form1_startup.moc"
