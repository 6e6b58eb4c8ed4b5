// The line to the server on its own: what the socket may hold while the
// program is busy with a response and the server goes on sending.
#include "FakeImapServer.h"
#include "mail/ImapConnection.h"

#include <QtTest>

using vc::ImapConnection;
using vc::ImapFault;
using vc::ImapResponse;

namespace {

constexpr qint64 kMaxLiteral = qint64(1) << 20;
constexpr int kFloodMessages = 32;

// Holds the greeting's handler open, running the event loop as a handler that
// keeps the window alive does, until nothing more arrives; meanwhile the
// server floods the line. Then it counts what comes.
class SlowReceiver : public ImapConnection::Receiver {
public:
    ImapConnection *connection = nullptr;
    qint64 mostBuffered = 0;  // the most the socket held while the handler ran
    int fetches = 0;
    qint64 bodyBytes = 0;
    bool broken = false;

    void received(ImapResponse &r) override
    {
        if (!greeted_) {
            greeted_ = true;
            holdTheEventLoop();
            return;
        }
        if (r.name() != "FETCH" || r.values.size() < 3)
            return;
        ++fetches;
        if (const vc::ImapValue *body = r.values[2].item("BODY[]"))
            bodyBytes += body->text.size();
    }
    void readChunk() override {}
    void heard() override {}
    void dropped(const ImapFault &) override { broken = true; }
    void garbled(const ImapFault &, qint64) override { broken = true; }

private:
    void holdTheEventLoop()
    {
        QElapsedTimer all;
        all.start();
        QElapsedTimer still;
        still.start();
        qint64 last = -1;
        while (still.elapsed() < 500 && all.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const qint64 now = connection->bufferedBytes();
            if (now != last) {
                last = now;
                still.restart();
            }
            mostBuffered = qMax(mostBuffered, now);
        }
    }
    bool greeted_ = false;
};

}  // namespace

class TestImapConnection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readBufferBoundedWhileAHandlerRuns();
};

// A server sends 32 MiB while the program is inside a response's handler: the
// socket stops reading at its bound (one response's budget and a margin, here
// about 10 MiB) and the server waits; afterwards every message arrives whole.
void TestImapConnection::readBufferBoundedWhileAHandlerRuns()
{
    FakeImapServer server;
    server.literals["mib"] = QByteArray(kMaxLiteral, 'x');
    QByteArray script = "S: * OK ready\n";
    for (int n = 1; n <= kFloodMessages; ++n)
        script += "S: * " + QByteArray::number(n) + " FETCH (BODY[] {{mib}})\n";
    server.scripts = {script + "DELAY 60000\n"};

    SlowReceiver receiver;
    ImapConnection connection(receiver);
    receiver.connection = &connection;
    QVERIFY(!connection.open(QStringLiteral("127.0.0.1"), server.port(), false, QString(), kMaxLiteral));
    const qint64 limit = connection.readBufferLimit();
    QVERIFY(limit < kFloodMessages * kMaxLiteral / 2);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.fetches, kFloodMessages, 30000);
    QVERIFY(!receiver.broken);
    QCOMPARE(receiver.bodyBytes, kFloodMessages * kMaxLiteral);
    // The bytes did pile up while the handler ran, but not past the bound.
    QVERIFY2(receiver.mostBuffered > limit / 2, qPrintable(QString::number(receiver.mostBuffered)));
    QVERIFY2(receiver.mostBuffered <= limit, qPrintable(QString::number(receiver.mostBuffered)));
}

QTEST_GUILESS_MAIN(TestImapConnection)
#include "test_imap_connection.moc"
