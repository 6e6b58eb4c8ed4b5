// The run's attachment step: what it asks the decoder for, the files it saves
// from a decoded message (as UID-NAME, only those the globs match), the bytes
// it drops, and the error-log records of attachments without text or not saved.
#include "extract/AttachmentSaver.h"
#include "extract/AttachmentStep.h"
#include "mail/MimeDecode.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vc::AttachmentRequest;
using vc::AttachmentSaver;
using vc::AttachmentStep;

namespace {

QByteArray part(const QByteArray &type, const QByteArray &name, const QByteArray &bytes)
{
    return "--b\r\nContent-Type: " + type + "; name=\"" + name
           + "\"\r\nContent-Disposition: attachment\r\nContent-Transfer-Encoding: base64\r\n\r\n" + bytes.toBase64()
           + "\r\n";
}

// A message with a body and the given attachment parts.
QByteArray message(const QByteArray &parts)
{
    return "From: a@example.org\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
           + parts + "--b--\r\n";
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

}  // namespace

class TestAttachmentStep : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void savesWhatTheGlobsMatch_data();
    void savesWhatTheGlobsMatch();
    void textOnlyKeepsNoBytes();
    void problemsGoToTheLogAndTheWalkGoesOn();
};

void TestAttachmentStep::savesWhatTheGlobsMatch_data()
{
    QTest::addColumn<QStringList>("globs");
    QTest::addColumn<quint32>("uid");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("pdf glob, uid known") << QStringList{"*.pdf"} << 77u << 3
                                         << QStringList{"77-Invoice.PDF", "77-Invoice (2).PDF", "77-x.pdf"};
    QTest::newRow("no glob saves all") << QStringList() << 5u << 1
                                       << QStringList{"5-Invoice.PDF", "5-Invoice (2).PDF", "5-notes.csv", "5-x.pdf"};
    QTest::newRow("two globs, sequence stands in")
        << QStringList{"*.csv", "none"} << 0u << 9 << QStringList{"9-notes.csv"};
}

void TestAttachmentStep::savesWhatTheGlobsMatch()
{
    QFETCH(QStringList, globs);
    QFETCH(quint32, uid);
    QFETCH(int, sequence);
    QFETCH(QStringList, files);
    const QByteArray raw =
        message(part("application/pdf", "Invoice.PDF", "%PDF one") + part("application/pdf", "Invoice.PDF", "%PDF two")
                + part("text/csv", "notes.csv", "a,b\r\n") + part("application/pdf", "../../x.pdf", "%PDF x"));
    QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("out"));
    AttachmentSaver saver(dir, globs);
    QString error;
    QVERIFY(saver.open(&error));
    AttachmentStep step(AttachmentRequest{false, &saver}, root.filePath(QStringLiteral("log.txt")));
    vc::MailRecord record = vc::decodeMessage(raw, step.needs());
    record.uid = uid;
    record.uID = sequence;
    QCOMPARE(record.attachments.size(), 4);
    step.handle(record);
    QStringList written = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QStringList expected = files;
    expected.sort();
    QCOMPARE(written, expected);
    QCOMPARE(step.saved(), files.size());
    QCOMPARE(step.saveFailures(), 0);
    QVERIFY(record.heldAttachmentBytes.isEmpty());
    // Nothing lands beside the folder (not "../../x.pdf"), and no problem was logged.
    QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("out")});
    if (written.contains(QString::number(uid ? uid : quint32(sequence)) + QStringLiteral("-Invoice (2).PDF"))) {
        QFile second(dir + QStringLiteral("/%1-Invoice (2).PDF").arg(uid ? uid : quint32(sequence)));
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.readAll(), QByteArray("%PDF two"));
    }
}

void TestAttachmentStep::textOnlyKeepsNoBytes()
{
    AttachmentStep step(AttachmentRequest{true, nullptr}, QString());
    const vc::DecodeNeeds needs = step.needs();
    QVERIFY(needs.attachmentText);
    QVERIFY(!needs.keepBytes);
    const vc::MailRecord record = vc::decodeMessage(message(part("text/csv", "t.csv", "total,42\r\n")), needs);
    QCOMPARE(record.attachments.size(), 1);
    QVERIFY(record.heldAttachmentBytes.isEmpty());
    QVERIFY(record.PlainTextBody.contains(QStringLiteral("--- attachment t.csv ---\r\ntotal,42")));
}

void TestAttachmentStep::problemsGoToTheLogAndTheWalkGoesOn()
{
    QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("out"));
    const QString log = root.filePath(QStringLiteral("log.txt"));
    AttachmentSaver saver(dir, {});
    QString error;
    QVERIFY(saver.open(&error));
    AttachmentStep step(AttachmentRequest{true, &saver}, log);

    vc::MailRecord first;
    first.uid = 12;
    vc::AttachmentInfo locked;
    locked.name = QStringLiteral("locked.pdf");
    locked.problem = QStringLiteral("the PDF is encrypted");
    first.attachments << locked;
    first.heldAttachmentBytes << QByteArray("%PDF locked");
    step.handle(first);
    QCOMPARE(step.saved(), 1);
    QCOMPARE(step.textProblems(), 1);

    // The folder goes away under the run: the next message's attachment is
    // not saved, the failure is counted and logged, and nothing stops.
    QVERIFY(QDir(dir).removeRecursively());
    vc::MailRecord second;
    second.uid = 13;
    vc::AttachmentInfo plain;
    plain.name = QStringLiteral("a.txt");
    second.attachments << plain;
    second.heldAttachmentBytes << QByteArray("text");
    step.handle(second);
    QCOMPARE(step.saveFailures(), 1);
    QVERIFY(second.heldAttachmentBytes.isEmpty());

    const QString text = readText(log);
    QVERIFY2(text.contains(QStringLiteral("message 12: attachment locked.pdf: the PDF is encrypted")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("message 13: attachment not saved: 13-a.txt")), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestAttachmentStep)
#include "test_attachment_step.moc"
