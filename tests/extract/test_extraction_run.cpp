// The run procedure (ExtractEmail) and the connection set-up against the
// in-memory component.
#include "FakeImap.h"
#include "ScriptedDialogs.h"

#include "core/AppError.h"
#include "extract/ErrorLog.h"
#include "extract/ExtractionRun.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::FakeImap;

namespace {

const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");
const QString kNoEmails = QStringLiteral("There are no emails in the Folder you selected.");
const QString kDone = QStringLiteral("Done.");

class FakeHost : public RunHost {
public:
    explicit FakeHost(FakeImap &imap, QString log) : imap_(imap), log_(std::move(log)) {}

    std::shared_ptr<clsChilkatIMAP> connection() override { return conn; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override
    {
        events << (c ? QStringLiteral("set") : QStringLiteral("drop"));
        conn = std::move(c);
    }
    std::shared_ptr<clsChilkatIMAP> setUpConnection() override
    {
        events << QStringLiteral("setup");
        auto c = newConnection(&imap_, ConnectionConfig{}, QStringLiteral("user"), QStringLiteral("pw"));
        c->setErrorLogPath(log_);
        QObject::connect(c.get(), &clsChilkatIMAP::MailExtractListing,
                         [this](const QString &, const QString &, const QString &, const QString &Subject,
                                const QString &, const QString &, const QString &, int uID) {
                             rows << QStringLiteral("%1:%2").arg(uID).arg(Subject);
                             if (onMessage)
                                 onMessage(uID);
                         });
        return c;
    }
    QString folderName() override { return folder; }
    void clearResults() override
    {
        events << QStringLiteral("clear");
        rows.clear();
    }
    void setBusy(bool busy) override { events << (busy ? QStringLiteral("busy") : QStringLiteral("idle")); }
    void resetProgress() override { events << QStringLiteral("progress reset"); }

    std::shared_ptr<clsChilkatIMAP> conn;
    QString folder = QStringLiteral("Inbox");
    QStringList rows;
    QStringList events;
    std::function<void(int)> onMessage;

private:
    FakeImap &imap_;
    QString log_;
};

}  // namespace

class ExtractionRunTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString log;

    void fill(FakeImap &imap, const QString &folder, int n)
    {
        auto &f = imap.folder(folder);
        for (int i = 1; i <= n; ++i)
            f.messages << FakeImap::message(QStringLiteral("m%1").arg(i));
    }

private Q_SLOTS:
    void init() { log = tmp.filePath(QStringLiteral("%1.log").arg(QTest::currentTestFunction())); }

    void runWithoutConnectionSetsUpLogsInTwiceAndSaysDone()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 3);
        FakeHost host(imap, log);
        host.rows << QStringLiteral("left over");

        QCOMPARE(ExtractEmail(host), RunOutcome::Done);
        QCOMPARE(host.rows, (QStringList{"1:m1", "2:m2", "3:m3"}));
        QCOMPARE(boxes.texts(), QStringList{kDone});
        QCOMPARE(boxes.boxes[0].icon, BoxIcon::None);
        QCOMPARE(boxes.boxes[0].buttons, BoxButtons::Ok);
        QVERIFY(!host.conn);  // the run drops its object
        QCOMPARE(host.events, (QStringList{"busy", "clear", "setup", "set", "drop", "progress reset", "idle"}));
        // The run's login, then the walk's fresh connect and login.
        QCOMPARE(imap.logins, 2);
        QCOMPARE(imap.count(QStringLiteral("connect")), 2);
    }

    void existingConnectionIsUsedWithoutANewLogin()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        FakeHost host(imap, log);
        host.conn = newConnection(&imap, ConnectionConfig{}, QStringLiteral("u"), QStringLiteral("p"));
        host.conn->setErrorLogPath(log);
        QVERIFY(host.conn->Connect());
        imap.logins = 0;

        QCOMPARE(ExtractEmail(host), RunOutcome::Done);
        QVERIFY(!host.events.contains(QStringLiteral("setup")));
        QCOMPARE(imap.logins, 1);  // only the walk's
        QCOMPARE(imap.fetched, (QList<int>{1, 2}));
        QVERIFY(!host.conn);
    }

    void failedLoginEndsWithoutDone()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        imap.loginOk = false;
        FakeHost host(imap, log);

        QCOMPARE(ExtractEmail(host), RunOutcome::ConnectFailed);
        QCOMPARE(boxes.texts(), QStringList{kInvalidLogin});
        QVERIFY(imap.fetched.isEmpty());
        QCOMPARE(imap.count(QStringLiteral("select Inbox")), 0);
        QVERIFY(!host.conn);
        QVERIFY(host.events.contains(QStringLiteral("progress reset")));
        QCOMPARE(host.events.last(), QStringLiteral("idle"));
    }

    void emptyAndUnselectableFolders()
    {
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            imap.folder(QStringLiteral("Drafts"));
            FakeHost host(imap, log);
            host.folder = QStringLiteral("Drafts");
            QCOMPARE(ExtractEmail(host), RunOutcome::NoMessages);
            QCOMPARE(boxes.texts(), QStringList{kNoEmails});
            QVERIFY(!host.conn);
        }
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, QStringLiteral("Inbox"), 1);
            FakeHost host(imap, log);
            host.folder.clear();  // no folder option selected
            QCOMPARE(ExtractEmail(host), RunOutcome::FolderNotSelected);
            QCOMPARE(boxes.texts(), (QStringList{kInvalidLogin, kNoEmails}));
            QVERIFY(imap.fetched.isEmpty());
        }
    }

    void stoppedRunKeepsRowsAndSaysDone()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 5);
        FakeHost host(imap, log);
        host.onMessage = [&](int uID) {
            if (uID == 1)
                host.conn->AbortProcess = true;  // Stop clicked while message 1 is listed
        };
        QCOMPARE(ExtractEmail(host), RunOutcome::Stopped);
        QCOMPARE(host.rows, QStringList{"1:m1"});
        QCOMPARE(boxes.texts(), QStringList{kDone});
        // The component's abort check now answers "abort", so every later
        // fetch fails; the walk still asks for (and logs) each of them.
        QCOMPARE(imap.fetched, (QList<int>{1, 2, 3, 4, 5}));
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QCOMPARE(logFile.readAll().count(QByteArray(52, '*')), 5);

        // The next run makes a fresh object and walks the whole folder.
        boxes.clear();
        host.onMessage = nullptr;
        QCOMPARE(ExtractEmail(host), RunOutcome::Done);
        QCOMPARE(host.rows.size(), 5);
    }

    void disconnectDuringTheWalkDoesNotPullTheObjectAway()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 3);
        FakeHost host(imap, log);
        std::weak_ptr<clsChilkatIMAP> seen;
        imap.onFetch = [&](int n) {
            if (n == 2) {
                seen = host.conn;
                host.setConnection(nullptr);  // the window's Disconnect click
                QVERIFY(!seen.expired());
            }
        };
        QCOMPARE(ExtractEmail(host), RunOutcome::Done);
        QCOMPARE(host.rows, (QStringList{"1:m1", "2:m2", "3:m3"}));
        QVERIFY(seen.expired());  // released once the run is over
        QCOMPARE(boxes.texts(), QStringList{kDone});
    }

    void failingWalkIsReportedAndTheRunStillEnds()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        QFile blocker(tmp.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FakeHost host(imap, blocker.fileName() + QStringLiteral("/errorlog.txt"));

        QCOMPARE(ExtractEmail(host), RunOutcome::Failed);
        QVERIFY(host.rows.isEmpty());
        QCOMPARE(boxes.boxes.size(), 2);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Application Error"));
        QCOMPARE(boxes.boxes[0].icon, BoxIcon::Warning);
        QVERIFY2(
            boxes.boxes[0].text.startsWith(AppError::standardDescription(err::PathFileAccess)
                                           + QStringLiteral("\r\nin Vellumcast2/19/2015.Form1.ExtractEmail at line ")),
            qPrintable(boxes.boxes[0].text));
        QCOMPARE(boxes.boxes[1].text, kDone);
        QVERIFY(!host.conn);
    }

    void setUpFailureIsTrappedPerStep()
    {
        // A host whose set-up fails: every later step that needs the object
        // reports it, and the run still ends with the reset steps.
        struct BrokenHost : FakeHost {
            using FakeHost::FakeHost;
            std::shared_ptr<clsChilkatIMAP> setUpConnection() override { vc::raise(err::InvalidCall); }
        };
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        BrokenHost host(imap, log);
        QCOMPARE(ExtractEmail(host), RunOutcome::Failed);
        QVERIFY(boxes.boxes.size() >= 2);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Application Error"));
        QVERIFY(boxes.boxes[0].text.startsWith(AppError::standardDescription(err::InvalidCall)));
        QVERIFY(boxes.boxes[0].text.contains(QStringLiteral(" at line 106\r\r")));
        // Steps that need the missing object report "Object variable ..." each.
        QVERIFY(boxes.boxes[1].text.startsWith(AppError::standardDescription(err::ObjectNotSet)));
        QCOMPARE(boxes.count(kDone), 0);  // no walk happened: the empty-folder path ends the run
        QVERIFY(host.events.contains(QStringLiteral("progress reset")));
    }

    void accountNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("suffix") << "jo"
                                << "@live.com"
                                << "jo@live.com";
        QTest::newRow("live id item") << "jo@x.org"
                                      << "Live!ID"
                                      << "jo@x.org";
        QTest::newRow("empty combo") << "jo"
                                     << ""
                                     << "jo";
        QTest::newRow("no trimming") << " jo "
                                     << "@msn.com"
                                     << " jo @msn.com";
        QTest::newRow("at later") << "jo"
                                  << "x@y"
                                  << "jo";
    }

    void accountNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, suffix);
        QFETCH(QString, expected);
        QCOMPARE(accountName(name, suffix), expected);
    }

    void newConnectionCarriesTheParameters()
    {
        FakeImap imap;
        ConnectionConfig cfg;
        QVERIFY(cfg.setServer(QStringLiteral("mail.example.net:1993")));
        const auto c = newConnection(&imap, cfg, QStringLiteral("a@b"), QStringLiteral("secret"));
        QCOMPARE(c->ChilkatIMAPObject(), &imap);
        QVERIFY(c->SSL());
        QCOMPARE(c->PORT(), 1993);
        QCOMPARE(c->IMAPServer(), QStringLiteral("mail.example.net"));
        QCOMPARE(c->Username(), QStringLiteral("a@b"));
        QCOMPARE(c->Password(), QStringLiteral("secret"));
        QVERIFY(!c->AbortProcess);
        QCOMPARE(imap.calls, QStringList());  // nothing connects yet
    }
};

QTEST_GUILESS_MAIN(ExtractionRunTest)
#include "test_extraction_run.moc"
