// The marks of "only new mail": per account, server and folder, never
// backwards, a renumbered folder said as such, an unreadable state file, and
// two programs moving marks at once.
#include "TestFiles.h"
#include "extract/NewOnlyMark.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using vc::NewOnlyMark;
using Mark = vc::NewOnlyMark::Mark;

namespace {

const NewOnlyMark::Key kInbox{QStringLiteral("ann@example.org"), QStringLiteral("imap.example.org:993"),
                              QStringLiteral("INBOX")};

QString shown(const Mark &m)
{
    switch (m.state) {
    case Mark::None: return QStringLiteral("none");
    case Mark::Ready: return QStringLiteral("above %1").arg(m.uid);
    case Mark::ValidityChanged: return QStringLiteral("renumbered from %1").arg(m.oldValidity);
    case Mark::Unreadable: return QStringLiteral("unreadable: ") + m.error;
    }
    return {};
}

}  // namespace

class TestNewOnlyMark : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { dir = std::make_unique<QTemporaryDir>(); }
    void marksMoveForwardPerFolder();
    void renumberedFolder();
    void resetOneFolderOrTheAccount();
    void unreadableStateFile_data();
    void unreadableStateFile();
    void twoProgramsAtOnce();

private:
    QString path() const { return dir->filePath(QStringLiteral("state/new-only-marks.json")); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestNewOnlyMark::marksMoveForwardPerFolder()
{
    NewOnlyMark marks(path());
    QCOMPARE(shown(marks.load(kInbox, 5)), QStringLiteral("none"));
    QVERIFY2(marks.advance(kInbox, 5, 120), qPrintable(marks.lastError()));
    QCOMPARE(shown(marks.load(kInbox, 5)), QStringLiteral("above 120"));
    QVERIFY(marks.advance(kInbox, 5, 90));  // never backwards
    QCOMPARE(shown(marks.load(kInbox, 5)), QStringLiteral("above 120"));
    QVERIFY(marks.advance(kInbox, 5, 4294967295u));
    QCOMPARE(shown(NewOnlyMark(path()).load(kInbox, 5)), QStringLiteral("above 4294967295"));

    NewOnlyMark::Key sent = kInbox;
    sent.folder = QStringLiteral("Sent");
    NewOnlyMark::Key otherServer = kInbox;
    otherServer.server = QStringLiteral("imap.example.org:143");
    NewOnlyMark::Key bob = kInbox;
    bob.account = QStringLiteral("bob@example.org");
    for (const NewOnlyMark::Key &k : {sent, otherServer, bob})
        QCOMPARE(shown(marks.load(k, 5)), QStringLiteral("none"));
    QVERIFY(marks.advance(sent, 9, 3));
    QCOMPARE(shown(marks.load(sent, 9)), QStringLiteral("above 3"));
    QCOMPARE(shown(marks.load(kInbox, 5)), QStringLiteral("above 4294967295"));
    QVERIFY(!QFileInfo::exists(path() + QStringLiteral(".lock")));
}

void TestNewOnlyMark::renumberedFolder()
{
    NewOnlyMark marks(path());
    QVERIFY(marks.advance(kInbox, 5, 120));
    QCOMPARE(shown(marks.load(kInbox, 6)), QStringLiteral("renumbered from 5"));
    // The caller walks the folder whole, then marks it under the new UIDVALIDITY, even lower.
    QVERIFY(marks.advance(kInbox, 6, 40));
    QCOMPARE(shown(marks.load(kInbox, 6)), QStringLiteral("above 40"));
    QCOMPARE(shown(marks.load(kInbox, 5)), QStringLiteral("renumbered from 6"));
    QCOMPARE(NewOnlyMark::validityChangedText(QStringLiteral("INBOX")),
             QStringLiteral("The folder INBOX was renumbered on the server (its UIDVALIDITY changed), so this run "
                            "reads all of it once; later runs take only new mail again."));
}

void TestNewOnlyMark::resetOneFolderOrTheAccount()
{
    NewOnlyMark marks(path());
    NewOnlyMark::Key sent = kInbox;
    sent.folder = QStringLiteral("Sent");
    NewOnlyMark::Key bob = kInbox;
    bob.account = QStringLiteral("bob@example.org");
    QVERIFY(marks.reset(kInbox));  // nothing to forget yet
    QVERIFY(marks.advance(kInbox, 1, 10) && marks.advance(sent, 1, 20) && marks.advance(bob, 1, 30));
    QVERIFY(marks.reset(kInbox));
    QCOMPARE(shown(marks.load(kInbox, 1)), QStringLiteral("none"));
    QCOMPARE(shown(marks.load(sent, 1)), QStringLiteral("above 20"));
    QVERIFY(marks.advance(kInbox, 1, 10));
    NewOnlyMark::Key wholeAccount = kInbox;
    wholeAccount.folder.clear();
    QVERIFY(marks.reset(wholeAccount));
    QCOMPARE(shown(marks.load(kInbox, 1)), QStringLiteral("none"));
    QCOMPARE(shown(marks.load(sent, 1)), QStringLiteral("none"));
    QCOMPARE(shown(marks.load(bob, 1)), QStringLiteral("above 30"));
}

void TestNewOnlyMark::unreadableStateFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("why");
    QTest::newRow("not JSON") << QByteArray("{\"marks\": [") << QStringLiteral("unterminated array");
    QTest::newRow("someone else's JSON") << QByteArray("{\"marks\": []}")
                                         << QStringLiteral("it is not a state file of this program");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02", 3) << QStringLiteral("illegal value");
}

void TestNewOnlyMark::unreadableStateFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, why);
    QDir().mkpath(QFileInfo(path()).absolutePath());
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    NewOnlyMark marks(path());
    const QString error = QStringLiteral("The state file %1 cannot be read: %2").arg(path(), why);
    QCOMPARE(shown(marks.load(kInbox, 1)), QStringLiteral("unreadable: ") + error);
    // Moving a mark leaves the file as it is: the user decides.
    QVERIFY(!marks.advance(kInbox, 1, 5));
    QCOMPARE(marks.lastError(), error);
    QCOMPARE(vc::test::readFile(path()), content);
    // Forgetting sets it aside and starts afresh.
    QVERIFY2(marks.reset(kInbox), qPrintable(marks.lastError()));
    QCOMPARE(vc::test::readFile(path() + QStringLiteral(".damaged")), content);
    QCOMPARE(shown(marks.load(kInbox, 1)), QStringLiteral("none"));
    QVERIFY(marks.advance(kInbox, 1, 5));
    QCOMPARE(shown(marks.load(kInbox, 1)), QStringLiteral("above 5"));
}

void TestNewOnlyMark::twoProgramsAtOnce()
{
    QList<QProcess *> programs;
    for (const char *folder : {"INBOX", "Sent"}) {
        auto *p = new QProcess(this);
        p->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--advance"), path(), QLatin1String(folder)});
        programs << p;
    }
    for (QProcess *p : programs) {
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
    }
    NewOnlyMark marks(path());
    NewOnlyMark::Key sent = kInbox;
    sent.folder = QStringLiteral("Sent");
    QCOMPARE(shown(marks.load(kInbox, 1)), QStringLiteral("above 60"));
    QCOMPARE(shown(marks.load(sent, 1)), QStringLiteral("above 60"));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--advance") == 0) {
        NewOnlyMark marks(QString::fromLocal8Bit(argv[2]));
        NewOnlyMark::Key key = kInbox;
        key.folder = QString::fromLocal8Bit(argv[3]);
        for (quint32 uid = 1; uid <= 60; ++uid) {
            if (!marks.advance(key, 1, uid))
                return 2;
        }
        return 0;
    }
    TestNewOnlyMark test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_new_only_mark.moc"
