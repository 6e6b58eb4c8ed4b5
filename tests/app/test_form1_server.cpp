// Connect and disconnect of the main window against the test server, through
// our own IMAP client.
#include "AppTestSupport.h"
#include "TestServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace vc;
using namespace vc::test;

class TestForm1Server : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> window()
    {
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        auto f = std::make_unique<Form1>(o);
        f->Form_Load();
        f->Combo1->setCurrentIndex(0);  // "Live!ID": the name as typed
        f->Text7->setText(TestServer::user());
        return f;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
    }
    void init() { storeOnly({}); }

    void wrongPassword()
    {
        ScriptedDialogs d;
        auto f = window();
        f->Text6->setText(TestServer::password() + QStringLiteral("-wrong"));
        f->results().append(QStringLiteral("row"));
        f->PushButton17->click();
        // The test server also takes OAuth 2.0 tokens: the box says how to use them.
        QCOMPARE(d.texts(), QStringList{QStringLiteral(
                                "Invalid login. Please double-check your username and password.\r\rThe server also "
                                "offers OAuth 2.0 sign-in, which this account may need. To turn it on, right-click the "
                                "Login frame and choose \"Sign in with OAuth 2.0 (browser)\".")});
        QCOMPARE(f->PushButton17->text(), QStringLiteral("1. Connect"));
        QCOMPARE(f->statusText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
        QCOMPARE(f->results().count(), 0);
    }

    void goodLoginThenDisconnectForgetting()
    {
        ScriptedDialogs d;
        auto f = window();
        f->Text6->setText(TestServer::password());
        f->PushButton17->click();
        QCOMPARE(d.texts(), QStringList());
        QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(f->statusText(), QStringLiteral("Connected to Windows Live Hotmail. Please select folder."));
        QVERIFY(!f->Check1->isChecked());
        f->PushButton17->click();
        QCOMPARE(f->PushButton17->text(), QStringLiteral("1. Connect"));
        QCOMPARE(f->Text7->text(), QString());
        QCOMPARE(f->Text6->text(), QString());
        QCOMPARE(fileValues().value(QStringLiteral("User")), QString());
        QCOMPARE(fileValues().value(QStringLiteral("Password")), QString());
        QCOMPARE(d.texts(), QStringList());
    }
};

QTEST_MAIN(TestForm1Server)
#include "test_form1_server.moc"
