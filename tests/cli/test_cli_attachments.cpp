// vellumcast-cli against the throw-away Dovecot with mail that carries
// attachments: the rules find the text of PDF and CSV attachments, a locked
// and a truncated PDF each give their line and the walk goes on, and
// --save-attachments writes only matching files, with safe names, inside DIR.
#include "TestProcess.h"
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vc::test::ProcessResult;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

// A one-page PDF whose page shows `line` in Helvetica; the cross-reference
// offsets are computed, so the file is sound.
QByteArray pdfWithText(const QByteArray &line)
{
    const QByteArray content = "BT /F1 12 Tf 72 712 Td (" + line + ") Tj ET";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> "
        ">> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype o : offsets)
        pdf += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
           + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray attachment(const QByteArray &type, const QByteArray &name, const QByteArray &bytes)
{
    return "--b\r\nContent-Type: " + type + "; name=\"" + name
           + "\"\r\nContent-Disposition: attachment\r\nContent-Transfer-Encoding: base64\r\n\r\n" + bytes.toBase64()
           + "\r\n";
}

QByteArray message(const QByteArray &subject, const QByteArray &parts)
{
    return "From: shop@example.org\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Wed, 06 Mar 2024 09:15:00 +0100\r\nMIME-Version: 1.0\r\n"
             "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nSee attached.\r\n"
           + parts + "--b--\r\n";
}

}  // namespace

class CliAttachmentsTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QByteArray locked;

    ProcessResult cli(QStringList extra)
    {
        return runProgram(QStringLiteral("vellumcast-cli"),
                          TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log"))) + extra);
    }

    QString log() const
    {
        QFile f(tmp.filePath(QStringLiteral("cli.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        const QByteArray invoice = pdfWithText("Total: 42.50 EUR");
        // A PDF locked with a user password, made by qpdf.
        const QString plain = tmp.filePath(QStringLiteral("plain.pdf"));
        const QString enc = tmp.filePath(QStringLiteral("locked.pdf"));
        {
            QFile f(plain);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(pdfWithText("Total: 99.99 EUR secret"));
        }
        const ProcessResult q =
            vc::test::runProcess(QStringLiteral("qpdf"), {"--encrypt", "user", "owner", "256", "--", plain, enc});
        QCOMPARE(q.code, 0);
        QFile lockedFile(enc);
        QVERIFY(lockedFile.open(QIODevice::ReadOnly));
        locked = lockedFile.readAll();

        TestServer::resetMailbox();
        TestServer::deliver(
            QStringLiteral("Inbox"),
            message("invoice", attachment("application/pdf", "invoice.pdf", invoice)
                                   + attachment("text/csv", "lines.csv", "item,amount\r\nTea,4.20\r\n")));
        TestServer::deliver(QStringLiteral("Inbox"),
                            message("broken ones", attachment("application/pdf", "locked.pdf", locked)
                                                       + attachment("application/pdf", "cut.pdf", invoice.left(120))));
        TestServer::deliver(QStringLiteral("Inbox"),
                            message("hostile", attachment("application/pdf", "../../x.pdf", invoice)
                                                   + attachment("application/pdf", ".bashrc.pdf", invoice)
                                                   + attachment("text/plain", "readme.txt", "hello")));
    }

    // The rules see attachment text only with --attachments.
    void rulesSearchAttachmentText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("withAttachments");
        QTest::addColumn<int>("rows");
        QTest::newRow("pdf text") << "Total: 42.50" << true << 3;  // the invoice, the hostile two
        QTest::newRow("pdf text without the option") << "Total: 42.50" << false << 0;
        QTest::newRow("csv text") << "Tea,4.20" << true << 1;
        QTest::newRow("marker line") << "--- attachment lines.csv ---" << true << 1;
    }

    void rulesSearchAttachmentText()
    {
        QFETCH(QString, text);
        QFETCH(bool, withAttachments);
        QFETCH(int, rows);
        QStringList a{"--rule", "containing", "--text", text};
        if (withAttachments)
            a << "--attachments";
        const ProcessResult r = cli(a);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), rows);
        for (const QString &line : lines)
            QVERIFY2(line.contains(text, Qt::CaseInsensitive), qPrintable(line));
    }

    // The locked and the cut PDF each give one line in the text and one
    // record in the error log; the walk reads every message and ends with 0.
    void brokenPdfsGiveTheirLine()
    {
        const ProcessResult r = cli({"--rule", "containing", "--text", "PDF", "--attachments"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains("encrypted"), r.out.constData());
        QVERIFY2(!r.out.contains("99.99"), r.out.constData());
        QVERIFY2(r.err.contains("gave no text"), r.err.constData());
        QVERIFY2(log().contains(QStringLiteral("attachment locked.pdf")), qPrintable(log()));
        QVERIFY2(log().contains(QStringLiteral("attachment cut.pdf")), qPrintable(log()));
    }

    void savesMatchingAttachmentsInsideTheFolder()
    {
        const QString dir = tmp.filePath(QStringLiteral("saved"));
        const ProcessResult r = cli(
            {"--rule", "containing", "--text", "zzz-none", "--save-attachments", dir, "--attachment-glob", "*.PDF"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QStringList files = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QCOMPARE(files.size(), 5);  // invoice, locked, cut, x, bashrc; not the csv or the txt
        for (const QString &f : files) {
            QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]+-[^./][^/]*\\.pdf$")).match(f).hasMatch(),
                     qPrintable(f));
        }
        QVERIFY(!QFile::exists(tmp.filePath(QStringLiteral("x.pdf"))));
        QFile saved(QDir(dir).filePath(files.filter(QStringLiteral("locked")).value(0)));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), locked);

        // Again into the same folder: nothing replaced, numbered names instead.
        const ProcessResult again = cli(
            {"--rule", "containing", "--text", "zzz-none", "--save-attachments", dir, "--attachment-glob", "*.pdf"});
        QVERIFY2(again.code == 0, qPrintable(again.err));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 10);
    }

    void unwritableFolderIsRefused()
    {
        QFile blocker(tmp.filePath(QStringLiteral("a-file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const ProcessResult r = cli({"--save-attachments", blocker.fileName()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("--save-attachments"), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(CliAttachmentsTest)
#include "test_cli_attachments.moc"
