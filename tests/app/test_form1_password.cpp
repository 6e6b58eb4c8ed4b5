// The window's password never reaches the settings file: without "Remember
// me" it lives in the window only (a killed program leaves nothing behind),
// with it the system keychain keeps it under the server and the account, and
// a password an older version left in the file is moved there and erased.
//
// CTest runs this twice: inside a private D-Bus session with an unlocked
// gnome-keyring (VC_KEYCHAIN=present) and with no session bus at all
// (VC_KEYCHAIN=absent), where the window says once that it cannot remember.
#include "AppTestSupport.h"
#include "TestFiles.h"
#include "app/PasswordKeeper.h"
#include "mail/signin/TokenStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace vc;
using namespace vc::test;

namespace {

const QString kTyped = QStringLiteral("typed-Secret-42");

// The keychain entry of the fake's account, as the window keys it.
QString keyOf(Form1 &f, const QString &account)
{
    return PasswordKeeper::key(f.options().connection.host, f.options().connection.port, account);
}

QString inKeychain(const QString &key)
{
    KeychainTokenStore store({}, 10000);
    return store.load(key);
}

// A window on the real keychain (or on none), the fake component answering
// alice@live.com / `password`.
struct RealKeychainWindow : Window {
    explicit RealKeychainWindow(const QString &password = kTyped)
        : Window([password](FakeImap &f) { f.password = password; })
    {
        PasswordKeeper::useStore(nullptr);
    }
};

// What the child process does (VC_PASSWORD_CHILD set): a window on the given
// settings file, the account and password typed in the way a user does, then
// "typed" on standard output; it waits there to be killed.
int childMain(int argc, char **argv)
{
    QApplication app(argc, argv);
    settings::useFile(qEnvironmentVariable("VC_PASSWORD_CHILD"));
    ScriptedDialogs d;
    RealKeychainWindow w;
    w->Form_Load();
    w->show();
    QTest::keyClicks(w->Text7, QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    if (qEnvironmentVariableIsSet("VC_CHILD_REMEMBER"))
        QTest::mouseClick(w->Check1, Qt::LeftButton);
    QTest::keyClicks(w->Text6, kTyped);
    // With "Remember me" the keychain gets it once typing pauses.
    QTest::qWait(1500);
    std::printf("typed\n");
    for (const QString &t : d.texts())
        std::printf("box: %s\n", qPrintable(t));
    std::fflush(stdout);
    return app.exec();
}

}  // namespace

class TestForm1Password : public QObject {
    Q_OBJECT
    bool present = false;
    QTemporaryDir dir;

    // Runs the child on `file` and kills it (SIGKILL) once it has typed;
    // returns what it printed.
    QByteArray typeThenKill(const QString &file, bool remember)
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VC_PASSWORD_CHILD"), file);
        if (remember)
            env.insert(QStringLiteral("VC_CHILD_REMEMBER"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        if (!child.waitForStarted(10000))
            return {};
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains("typed\n") && t.elapsed() < 30000 && child.state() == QProcess::Running) {
            child.waitForReadyRead(200);
            out += child.readAllStandardOutput();
        }
        QTest::qWait(200);
        out += child.readAllStandardOutput();
        child.kill();  // SIGKILL: nothing gets to run on the way out
        child.waitForFinished(10000);
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString mode = qEnvironmentVariable("VC_KEYCHAIN");
        if (mode.isEmpty())
            QSKIP("run through CTest (VC_KEYCHAIN=present|absent)");
        present = mode == QLatin1String("present");
        QVERIFY(dir.isValid());
    }
    void init()
    {
        storeOnly({});
        KeychainTokenStore::resetNotice();
    }

    void killedWithoutRememberMeLeavesNoPassword()
    {
        const QString file = dir.filePath(QStringLiteral("forgetful.ini"));
        const QByteArray said = typeThenKill(file, false);
        QVERIFY2(said.contains("typed\n"), said.constData());
        QVERIFY2(!said.contains("box:"), said.constData());
        const QByteArray ini = readFile(file);
        QVERIFY2(ini.contains("User=alice"), ini.constData());  // the child did write its settings
        QVERIFY2(!ini.contains("Password") && !ini.contains(kTyped.toLatin1()), ini.constData());
        QCOMPARE(
            inKeychain(PasswordKeeper::key(product::kImapHost, product::kImapPort, QStringLiteral("alice@live.com"))),
            QString());
    }

    // With "Remember me": the keychain has it (where there is one), the file
    // never; the next start signs in with it.
    void killedWithRememberMeKeepsItInTheKeychainOnly()
    {
        const QString file = dir.filePath(QStringLiteral("remembering.ini"));
        const QByteArray said = typeThenKill(file, true);
        QVERIFY2(said.contains("typed\n"), said.constData());
        const QByteArray ini = readFile(file);
        QVERIFY2(ini.contains("StayConnected=1"), ini.constData());
        QVERIFY2(!ini.contains("Password") && !ini.contains(kTyped.toLatin1()), ini.constData());
        const QString key =
            PasswordKeeper::key(product::kImapHost, product::kImapPort, QStringLiteral("alice@live.com"));
        if (!present) {
            // Said once, not at every keystroke; nothing kept anywhere.
            QCOMPARE(said.count("box: "), 1);
            QVERIFY(said.contains("box: " + PasswordKeeper::unavailableText().toUtf8()));
            return;
        }
        QVERIFY2(!said.contains("box:"), said.constData());
        QCOMPARE(inKeychain(key), kTyped);

        settings::useFile(file);
        {
            ScriptedDialogs d;
            RealKeychainWindow w;
            w->Form_Load();
            QCOMPARE(w->Text6->text(), kTyped);
            w->PushButton17->click();
            QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
            QCOMPARE(w.fake->logins, QStringList{QStringLiteral("alice@live.com|") + kTyped});
            // Unticking "Remember me" forgets it in the keychain too.
            QTest::mouseClick(w->Check1, Qt::LeftButton);
            QVERIFY(d.boxes.isEmpty());
        }
        QCOMPARE(inKeychain(key), QString());
        settings::useFile(QString());
    }

    // A settings file of an older version holds the password: the first start
    // uses it, moves it to the keychain and erases it from the file.
    void oldPasswordEntryIsMigrated()
    {
        storeOnly({{"User", "alice"},
                   {"Password", "old-Secret-7"},
                   {"StayConnected", "1"},
                   {"AutoConnect", "1"},
                   {"Combo1", "2"}});
        {
            ScriptedDialogs d;
            RealKeychainWindow w(QStringLiteral("old-Secret-7"));
            w->Form_Load();
            QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
            QCOMPARE(w->Text6->text(), QStringLiteral("old-Secret-7"));
            QCOMPARE(d.texts(), present ? QStringList() : QStringList{PasswordKeeper::unavailableText()});
            QCOMPARE(inKeychain(keyOf(*w, QStringLiteral("alice@live.com"))),
                     present ? QStringLiteral("old-Secret-7") : QString());
        }
        QVERIFY(!fileValues().contains(QStringLiteral("Password")));
        QVERIFY(!readFile(settings::filePath()).contains("old-Secret-7"));

        // The next start: from the keychain, or (without one) typed again.
        ScriptedDialogs d;
        RealKeychainWindow w(QStringLiteral("old-Secret-7"));
        w->Form_Load();
        QCOMPARE(w->Text6->text(), present ? QStringLiteral("old-Secret-7") : QString());
        QCOMPARE(w->PushButton17->text(), present ? QStringLiteral("Disconnect") : QStringLiteral("1. Connect"));
        if (present) {
            QTest::mouseClick(w->Check1, Qt::LeftButton);  // clean up: forgotten
            QCOMPARE(inKeychain(keyOf(*w, QStringLiteral("alice@live.com"))), QString());
        }
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("VC_PASSWORD_CHILD"))
        return childMain(argc, argv);
    QApplication app(argc, argv);
    TestForm1Password test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_form1_password.moc"
