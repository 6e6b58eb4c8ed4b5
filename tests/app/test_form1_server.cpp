// Connect and disconnect of the main window against the test server, through
// our own IMAP client.
#include "AppTestSupport.h"
#include "TestServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

#include <functional>

using namespace vc;
using namespace vc::test;

class TestForm1Server : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> window(std::function<void(ConnectionConfig &)> change = {})
    {
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        if (change)
            change(o.connection);
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
        QCOMPARE(f->statusText(), QStringLiteral("Disconnected from 127.0.0.1:%1.").arg(TestServer::port()));
        QCOMPARE(f->results().count(), 0);
    }

    // Our own client against a real server: each problem gets its own box, and
    // the window ends disconnected.
    void connectFailuresNameTheProblem()
    {
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            closedPort = probe.serverPort();
        }
        struct Case {
            std::function<void(ConnectionConfig &)> change;
            QString start;  // the box text begins so
        };
        const Case cases[] = {
            {[&](ConnectionConfig &c) { c.port = closedPort; },
             QStringLiteral("127.0.0.1 refused the connection on port %1.").arg(closedPort)},
            {[](ConnectionConfig &c) { c.host = QStringLiteral("no-such-host.invalid"); },
             QStringLiteral("The server name \"no-such-host.invalid\" could not be found.")},
            // Without the test CA the server's certificate is not trusted.
            {[](ConnectionConfig &c) { c.caFile.clear(); },
             QStringLiteral("The certificate of 127.0.0.1:%1 was not accepted:\r").arg(TestServer::port())},
        };
        for (const Case &c : cases) {
            ScriptedDialogs d;
            auto f = window(c.change);
            f->Text6->setText(TestServer::password());
            f->PushButton17->click();
            QCOMPARE(d.texts().size(), 1);
            QVERIFY2(d.texts().first().startsWith(c.start), qPrintable(d.texts().first()));
            QVERIFY(!d.texts().first().contains(QLatin1String("Invalid login")));
            QCOMPARE(f->PushButton17->text(), QStringLiteral("1. Connect"));
        }
    }

    void goodLoginThenDisconnectForgetting()
    {
        ScriptedDialogs d;
        auto f = window();
        f->Text6->setText(TestServer::password());
        f->PushButton17->click();
        QCOMPARE(d.texts(), QStringList());
        QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(f->statusText(),
                 QStringLiteral("Connected to 127.0.0.1:%1. Please select folder.").arg(TestServer::port()));
        QVERIFY(!f->Check1->isChecked());
        f->PushButton17->click();
        QCOMPARE(f->PushButton17->text(), QStringLiteral("1. Connect"));
        QCOMPARE(f->Text7->text(), TestServer::user());  // the name stays, the password goes
        QCOMPARE(f->Text6->text(), QString());
        QCOMPARE(fileValues().value(QStringLiteral("User")), TestServer::user());
        QVERIFY(!fileValues().contains(QStringLiteral("Password")));
        QCOMPARE(d.texts(), QStringList());
    }
};

QTEST_MAIN(TestForm1Server)
#include "test_form1_server.moc"
