// Running a command hidden and the start-up online check, with small scripts
// standing in for the ping tool.
#include "ScriptedDialogs.h"
#include "app/CmdOutput.h"
#include "core/AppError.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;

class TestConnectivity : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    // A shell script in the test folder; returns its path.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write("#!/bin/sh\n" + body + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private Q_SLOTS:
    void cleanup() { setOnlineCheckCommand(QString()); }
    void capturedStreams_data();
    void capturedStreams();
    void longOutputJoinedInOrder();
    void argumentsPassed();
    void noStreamRaisesAndStartsNothing();
    void missingProgram();
    void endlessCommandIsCutShort();
    void onlineCheck_data();
    void onlineCheck();
    void onlineCheckNeverStalls();
};

void TestConnectivity::capturedStreams_data()
{
    QTest::addColumn<bool>("out");
    QTest::addColumn<bool>("err");
    QTest::addColumn<QString>("expected");
    QTest::newRow("standard output") << true << false << "out1\nout2\n";
    QTest::newRow("standard error") << false << true << "err1\n";
    QTest::newRow("both, in arrival order") << true << true << "out1\nerr1\nout2\n";
}

void TestConnectivity::capturedStreams()
{
    QFETCH(bool, out);
    QFETCH(bool, err);
    QFETCH(QString, expected);
    const QString cmd = script("streams.sh", "echo out1; sleep 0.2; echo err1 >&2; sleep 0.2; echo out2");
    QCOMPARE(GetCommandOutput(cmd, out, err, true), expected);
}

void TestConnectivity::longOutputJoinedInOrder()
{
    // Far more than one read, written in bursts with pauses between them.
    const QString cmd = script("long.sh", "i=1; while [ $i -le 600 ]; do echo \"line $i of the reply\"; "
                                          "if [ $((i % 200)) -eq 0 ]; then sleep 0.1; fi; i=$((i+1)); done");
    QString expected;
    for (int i = 1; i <= 600; ++i)
        expected += QStringLiteral("line %1 of the reply\n").arg(i);
    QVERIFY(expected.size() > 4 * 1024);
    QCOMPARE(GetCommandOutput(cmd, true, false, false), expected);
}

void TestConnectivity::argumentsPassed()
{
    const QString cmd = script("args.sh", "printf '%s|' \"$@\"");
    QCOMPARE(GetCommandOutput(cmd + " -c 1 \"two words\" x", true, false, true), QStringLiteral("-c|1|two words|x|"));
}

void TestConnectivity::noStreamRaisesAndStartsNothing()
{
    const QString marker = dir_.filePath("started");
    const QString cmd = script("touch.sh", "touch '" + marker.toLocal8Bit() + "'");
    try {
        GetCommandOutput(cmd, false, false, true);
        QFAIL("no error raised");
    } catch (const AppError &e) {
        QCOMPARE(e.number(), 5);
    }
    QTest::qWait(300);
    QVERIFY(!QFile::exists(marker));
    // The same script does run when a stream is captured (the check above can fail).
    GetCommandOutput(cmd, true, false, true);
    QVERIFY(QFile::exists(marker));
}

void TestConnectivity::missingProgram()
{
    QCOMPARE(GetCommandOutput(dir_.filePath("no-such-program") + " -c 1", true, false, true),
             QStringLiteral("Failed to create process, check the path of the command line."));
    QCOMPARE(GetCommandOutput(QString(), true, false, true), kCreateProcessFailed);
}

void TestConnectivity::endlessCommandIsCutShort()
{
    const QString cmd = script("endless.sh", "echo partial; exec sleep 60");
    QElapsedTimer t;
    t.start();
    const QString out = GetCommandOutput(cmd, true, false, true, 1500);
    const qint64 ms = t.elapsed();
    QCOMPARE(out, QStringLiteral("partial\n"));
    QVERIFY2(ms >= 1400 && ms < 4000, qPrintable(QString::number(ms)));
}

void TestConnectivity::onlineCheck_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("online");
    const QByteArray marker = onlineReplyMarker().toLatin1();
    QTest::newRow("reply") << "echo 'PING host: 56 data bytes'; echo '64 " + marker + " 192.0.2.1: seq=0 ttl=57'"
                           << true;
    QTest::newRow("reply in capitals") << "echo '64 " + marker.toUpper() + " 192.0.2.1'" << true;
    QTest::newRow("timeout") << QByteArray(
        "echo 'PING host 56(84) bytes of data.'; echo '1 packets transmitted, 0 received'")
                             << false;
    QTest::newRow("marker on standard error only") << "echo '64 " + marker + " 192.0.2.1' >&2" << false;
    QTest::newRow("nothing printed") << QByteArray("exit 2") << false;
}

void TestConnectivity::onlineCheck()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, online);
    test::ScriptedDialogs boxes;
    setOnlineCheckCommand(script("ping.sh", reply));
    QCOMPARE(CheckOnlineWithin(3000), online);
    if (online) {
        QVERIFY(boxes.boxes.isEmpty());
    } else {
        QCOMPARE(boxes.texts(), QStringList{"You must be online to use this software accurately."});
        QCOMPARE(boxes.boxes.first().buttons, BoxButtons::Ok);
        QCOMPARE(boxes.boxes.first().icon, BoxIcon::None);
        QVERIFY(boxes.boxes.first().title.isEmpty());
    }
}

void TestConnectivity::onlineCheckNeverStalls()
{
    test::ScriptedDialogs boxes;
    // A ping tool that is missing, and one that never answers.
    setOnlineCheckCommand(dir_.filePath("missing-ping"));
    CheckOnline();
    QCOMPARE(boxes.count(kOfflineWarning), 1);

    setOnlineCheckCommand(script("hang.sh", "exec sleep 60"));
    QElapsedTimer t;
    t.start();
    CheckOnline();
    QVERIFY2(t.elapsed() < 7000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(boxes.count(kOfflineWarning), 2);
}

QTEST_GUILESS_MAIN(TestConnectivity)
#include "tst_connectivity.moc"
