// vellumcast-cli --template against the throw-away Dovecot holding the record
// test messages (tests/fixtures/records, delivered in file-name order): each
// bundled template, in CSV and JSON lines, gives the rows in
// tests/fixtures/records/expected; a template that cannot be used is refused
// before anything connects, with the reason.
#include "TestProcess.h"
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using vc::test::ProcessResult;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

const QString kFixtures = QStringLiteral(VC_FIXTURE_DIR "/records");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The fields of one CSV line (quoted fields may hold commas and doubled quotes).
QStringList csvFields(const QString &line)
{
    QStringList fields{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == u'"' && i + 1 < line.size() && line[i + 1] == u'"')
            fields.last() += c, ++i;
        else if (c == u'"')
            quoted = !quoted;
        else if (c == u',' && !quoted)
            fields << QString();
        else
            fields.last() += c;
    }
    return fields;
}

// The rows without the uid column, whose numbers depend on what the test
// mailbox held before; `uids` gets that column's cells.
QList<QStringList> csvWithoutUid(const QByteArray &bytes, QStringList *uids = nullptr)
{
    QList<QStringList> rows;
    qsizetype uid = -1;
    for (const QString &line : QString::fromUtf8(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        QStringList f = csvFields(line);
        if (rows.isEmpty())
            uid = f.indexOf(QStringLiteral("uid"));
        else if (uids && uid >= 0)
            *uids << f.value(uid);
        if (uid >= 0 && uid < f.size())
            f.removeAt(uid);
        rows << f;
    }
    return rows;
}

QList<QJsonObject> jsonlWithoutUid(const QByteArray &bytes)
{
    QList<QJsonObject> rows;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonObject o = QJsonDocument::fromJson(line).object();
        o.remove(QStringLiteral("uid"));
        rows << o;
    }
    return rows;
}

}  // namespace

class CliRecordsTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    ProcessResult cli(const QStringList &extra)
    {
        return runProgram(QStringLiteral("vellumcast-cli"),
                          TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log"))) + extra);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        for (const QString &name : QDir(kFixtures).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name))
            TestServer::deliver(QStringLiteral("Inbox"), readAll(kFixtures + u'/' + name));
    }

    void bundledTemplates_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        for (const char *name : {"orders", "shipping", "addresses", "mentioned-addresses"}) {
            QTest::addRow("%s csv", name) << QString::fromLatin1(name) << QStringLiteral("csv");
            QTest::addRow("%s jsonl", name) << QString::fromLatin1(name) << QStringLiteral("jsonl");
        }
    }
    void bundledTemplates()
    {
        QFETCH(QString, name);
        QFETCH(QString, format);
        const QString out = tmp.filePath(name + u'.' + format);
        const ProcessResult r = cli({"--template", name, "--format", format, "--output", out});
        QVERIFY2(r.code == 0, r.err.constData());
        const QByteArray got = readAll(out);
        const QByteArray expected = readAll(kFixtures + QStringLiteral("/expected/") + name + u'.' + format);
        QVERIFY(!expected.isEmpty());
        if (format == QLatin1String("csv")) {
            QStringList uids;
            QCOMPARE(csvWithoutUid(got, &uids), csvWithoutUid(expected));
            // A walk by number asks for the UIDs too: each row names its message's.
            quint64 before = 0;
            for (const QString &cell : uids) {
                const quint64 uid = cell.toULongLong();
                QVERIFY2(uid >= before && uid > 0, qPrintable(cell));
                before = uid;
            }
        } else {
            QCOMPARE(jsonlWithoutUid(got), jsonlWithoutUid(expected));
        }
    }

    // Refused before the password is read or anything connects: exit 2,
    // nothing written, the reason named.
    void unusableTemplates_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        QTest::newRow("pattern") << QByteArray("{\"fields\":[{\"name\":\"a\",\"regex\":\"[x\"}]}")
                                 << QStringLiteral("does not compile");
        QTest::newRow("broken json") << QByteArray("{\"fields\":\n  [ {\"name\": }]}") << QStringLiteral("line 2");
    }
    void unusableTemplates()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const QString file = tmp.filePath(QStringLiteral("bad.json"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(json);
        f.close();
        const QString out = tmp.filePath(QStringLiteral("bad.csv"));
        const ProcessResult r = cli({"--template", file, "--output", out});
        QCOMPARE(r.code, 2);
        QVERIFY2(QString::fromUtf8(r.err).contains(reason), r.err.constData());
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(CliRecordsTest)
#include "test_cli_records.moc"
