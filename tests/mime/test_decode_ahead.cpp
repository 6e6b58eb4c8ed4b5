// Decoding ahead on worker threads gives what decoding on the caller's thread gives.
#include "mail/DecodeAhead.h"
#include "mail/MimeDecode.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace vc;

namespace {

QList<QByteArray> fixtures()
{
    QList<QByteArray> out;
    const QDir dir(QStringLiteral(VC_FIXTURE_DIR));
    for (const QString &name : dir.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            out << f.readAll();
    }
    return out;
}

QStringList fields(const MailRecord &e)
{
    return {e.From,          e.FromName,    e.FromAddress, e.Subject, e.date.toString(Qt::ISODateWithMs),
            e.PlainTextBody, e.HTMLTextBody};
}

QByteArray message(int n, qsizetype bodyBytes = 10)
{
    return "Subject: message " + QByteArray::number(n) + "\r\n\r\n" + QByteArray(bodyBytes, 'x') + "\r\n";
}

}  // namespace

class TestDecodeAhead : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every sample message (charsets, broken MIME, NUL bytes, ...), many times
    // over, decoded by the workers while this thread decodes them too.
    void sameResultAsTheCallersThread()
    {
        const QList<QByteArray> raw = fixtures();
        QVERIFY(raw.size() >= 10);
        DecodeAhead ahead(qint64(1) << 30);
        const int rounds = 20;
        for (int i = 0; i < rounds * raw.size(); ++i)
            ahead.start(i + 1, raw.at(i % raw.size()));
        QCOMPARE(ahead.messages(), rounds * int(raw.size()));
        for (int i = 0; i < rounds * raw.size(); ++i) {
            const std::optional<MailRecord> got = ahead.take(i + 1, raw.at(i % raw.size()));
            QVERIFY(got);
            QCOMPARE(fields(*got), fields(decodeMessage(raw.at(i % raw.size()))));
        }
        QCOMPARE(ahead.messages(), 0);
        QCOMPARE(ahead.bytes(), 0);
    }

    // What the run reads: the workers decode for it, and what was started for
    // other needs is not handed out.
    void decodedForTheRunsNeeds()
    {
        const QList<QByteArray> raw = fixtures();
        DecodeAhead ahead(qint64(1) << 30);
        ahead.start(1, raw.first());
        DecodeNeeds least;
        least.htmlBody = false;
        ahead.setNeeds(least);
        QVERIFY(!ahead.started(1));
        int withHtml = 0;
        for (int i = 0; i < raw.size(); ++i)
            ahead.start(i + 1, raw.at(i));
        for (int i = 0; i < raw.size(); ++i) {
            const std::optional<MailRecord> got = ahead.take(i + 1, raw.at(i));
            QVERIFY(got);
            QCOMPARE(fields(*got), fields(decodeMessage(raw.at(i), least)));
            withHtml += decodeMessage(raw.at(i)).HTMLTextBody.isEmpty() ? 0 : 1;
        }
        QVERIFY(withHtml >= 2);  // the samples have HTML bodies that were left out
    }

    // Taken while the workers are still at it: some waiting in the queue, some
    // being decoded, some done; each is its own message, whatever the state.
    void takenWhileTheWorkersRun()
    {
        const QList<QByteArray> raw = fixtures();
        DecodeAhead ahead(qint64(1) << 30);
        const int count = 40 * int(raw.size());
        for (int n = 1; n <= count + 3; ++n) {
            if (n <= count)
                ahead.start(n, raw.at(n % raw.size()));
            const int due = n - 3;  // a few behind, as a walk takes them
            if (due < 1)
                continue;
            const std::optional<MailRecord> got = ahead.take(due, raw.at(due % raw.size()));
            QVERIFY(got);
            QCOMPARE(got->Subject, decodeMessage(raw.at(due % raw.size())).Subject);
        }
        QCOMPARE(ahead.messages(), 0);
        QCOMPARE(ahead.handedOut(), qint64(count));
    }

    void takenOnceInAnyOrder()
    {
        DecodeAhead ahead;
        QList<QByteArray> raw{QByteArray()};
        for (int n = 1; n <= 3; ++n) {
            raw << message(n);
            ahead.start(n, raw[n]);
        }
        ahead.start(2, message(99));  // started already: stays message 2
        QCOMPARE(ahead.take(3, raw[3])->Subject, QStringLiteral("message 3"));
        QCOMPARE(ahead.take(2, raw[2])->Subject, QStringLiteral("message 2"));
        QVERIFY(!ahead.take(2, raw[2]));
        QVERIFY(!ahead.take(7, raw[1]));  // never started
        QVERIFY(ahead.started(1));
        QCOMPARE(ahead.take(1, QByteArray(raw[1]))->Subject, QStringLiteral("message 1"));  // a copy sharing the bytes
    }

    // Started on other bytes (an earlier walk's message of that number): not
    // handed out, and gone.
    void otherBytesAreNotHandedOut()
    {
        DecodeAhead ahead;
        const QByteArray old = message(1);
        ahead.start(1, old);
        const QByteArray same = message(1);  // equal, but other bytes
        QVERIFY(!ahead.take(1, same));
        QVERIFY(!ahead.started(1));
        QCOMPARE(ahead.bytes(), 0);
    }

    void boundedByItsLimit()
    {
        DecodeAhead ahead(1000);
        QVERIFY(ahead.wants(5000));  // alone, any size fits
        ahead.start(1, message(1, 700));
        QCOMPARE(ahead.bytes(), message(1, 700).size());
        QVERIFY(ahead.wants(1000 - ahead.bytes()));
        QVERIFY(!ahead.wants(1000 - ahead.bytes() + 1));
        QVERIFY(ahead.take(1, message(1, 700)) == std::nullopt);  // equal bytes elsewhere: not these
        QCOMPARE(ahead.bytes(), 0);
        QVERIFY(ahead.wants(1000));
    }

    void clearForgetsEverything()
    {
        DecodeAhead ahead;
        for (int n = 1; n <= 50; ++n)
            ahead.start(n, message(n, 100000));
        ahead.clear();
        QCOMPARE(ahead.messages(), 0);
        QCOMPARE(ahead.bytes(), 0);
        QVERIFY(!ahead.started(1));
        const QByteArray five = message(5);
        ahead.start(1, five);
        QCOMPARE(ahead.take(1, five)->Subject, QStringLiteral("message 5"));
    }
};

QTEST_GUILESS_MAIN(TestDecodeAhead)
#include "test_decode_ahead.moc"
