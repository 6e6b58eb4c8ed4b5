// Attachments as the decoder reads them: the list (names, types, sizes), the
// text of each kind after the body and in the attachment's own record, the
// problems that leave a file without text while decoding goes on, the bytes
// handed to a saver, and decoding with attachment text on several threads.
#include "AttachmentMail.h"
#include "mail/MimeDecode.h"

#include <QGuiApplication>
#include <QtConcurrent>
#include <QtTest>

using vc::AttachmentInfo;
using vc::decodeMessage;
using vc::DecodeNeeds;
using vc::MailRecord;
using vc::test::attached;
using vc::test::MailPart;
using vc::test::makePdf;
using vc::test::mixedMessage;

namespace {

DecodeNeeds withText()
{
    DecodeNeeds needs;
    needs.attachmentText = true;
    return needs;
}

QByteArray invoicePdf()
{
    return makePdf({{QStringLiteral("Invoice 1001"), QStringLiteral("Total due: 118.45 EUR")}});
}

// Three pages; the second holds an order table.
QByteArray orderPdf()
{
    return makePdf({{QStringLiteral("Order sheet 77"), QStringLiteral("Page 1 of 3")},
                    {QStringLiteral("Item\tQty\tPrice"), QStringLiteral("Widget\t3\t4.50"),
                     QStringLiteral("Gadget\t12\t19.99"), QStringLiteral("Page 2 of 3")},
                    {QStringLiteral("Thank you for your order"), QStringLiteral("Page 3 of 3")}});
}

// The text after the marker line of attachment `name` in a body, up to the next marker.
QString textAfterMarker(const QString &body, const QString &name)
{
    const QString marker = QStringLiteral("--- attachment ") + name + QStringLiteral(" ---\r\n");
    const qsizetype at = body.indexOf(marker);
    if (at < 0)
        return QStringLiteral("<no marker for %1>").arg(name);
    const qsizetype from = at + marker.size();
    const qsizetype next = body.indexOf(QStringLiteral("--- attachment "), from);
    return body.mid(from, next < 0 ? -1 : next - from);
}

}  // namespace

Q_DECLARE_METATYPE(vc::test::MailPart)

class TestAttachments : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textOfEachKind_data();
    void textOfEachKind();
    void pdfPagesAndTableInReadingOrder();
    void problemsLeaveTheRestAlone_data();
    void problemsLeaveTheRestAlone();
    void listWithoutText();
    void attachedMessageNamesAndNesting();
    void partsAfterAnAttachedMessage_data();
    void partsAfterAnAttachedMessage();
    void bytesGoToTheSinkOnly();
    void decodingOnSeveralThreads();
};

void TestAttachments::textOfEachKind_data()
{
    QTest::addColumn<MailPart>("part");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("plain, windows-1252") << attached("text/plain; charset=windows-1252", "notes.txt",
                                                     "Price \x80 12\nsecond line\n")
                                         << "notes.txt"
                                         << "text/plain" << QStringList{"Price € 12", "second line"};
    QTest::newRow("csv, iso-8859-2") << attached("text/csv; charset=iso-8859-2", "orders.csv",
                                                 "city;qty\r\n\xA3\xF3\x64\xBC;4\r\n")
                                     << "orders.csv"
                                     << "text/csv" << QStringList{"city;qty", "Łódź;4"};
    QTest::newRow("csv sent as bytes") << attached("application/octet-stream", "Orders.CSV", "sku,qty\nA-1,2")
                                       << "Orders.CSV"
                                       << "application/octet-stream" << QStringList{"sku,qty", "A-1,2"};
    QTest::newRow("html") << attached("text/html; charset=utf-8", "receipt.html",
                                      "<html><head><style>p{}</style></head><body><p>Receipt&nbsp;No. 9</p>"
                                      "<table><tr><td>Tea</td><td>2.10</td></tr></table></body></html>")
                          << "receipt.html"
                          << "text/html" << QStringList{"Receipt No. 9", "Tea 2.10"};
    QTest::newRow("forwarded message")
        << MailPart{"message/rfc822", "attachment; filename=\"fwd.eml\"",
                    "From: Bob <bob@example.org>\r\nSubject: Order 42\r\nDate: Tue, 3 Mar 2015 09:00:00 +0100\r\n\r\n"
                    "Please send 5 boxes.\r\n",
                    "7bit"}
        << "fwd.eml"
        << "message/rfc822" << QStringList{"From: Bob <bob@example.org>", "Subject: Order 42", "Please send 5 boxes."};
    QTest::newRow("pdf, one page") << attached("application/pdf", "invoice.pdf", invoicePdf()) << "invoice.pdf"
                                   << "application/pdf" << QStringList{"Invoice 1001", "Total due: 118.45 EUR"};
    QTest::newRow("pdf sent as bytes, type in capitals")
        << attached("Application/Octet-Stream", "INVOICE.PDF", invoicePdf()) << "INVOICE.PDF"
        << "application/octet-stream" << QStringList{"Invoice 1001"};
}

void TestAttachments::textOfEachKind()
{
    QFETCH(MailPart, part);
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QStringList, lines);
    const MailRecord e = decodeMessage(mixedMessage("See attached.", {part}), withText());

    QCOMPARE(e.attachments.size(), 1);
    const AttachmentInfo &a = e.attachments[0];
    QCOMPARE(a.name, name);
    QCOMPARE(a.contentType, type);
    QCOMPARE(a.size, qint64(part.bytes.size()));
    QVERIFY2(a.problem.isEmpty(), qPrintable(a.problem));
    // The body comes first, then the marker line, then the text, every line ending in CR LF.
    QVERIFY2(e.PlainTextBody.startsWith(QStringLiteral("See attached.\r\n--- attachment ") + name
                                        + QStringLiteral(" ---\r\n")),
             qPrintable(e.PlainTextBody.left(200)));
    const QStringList bodyLines = e.PlainTextBody.split(QStringLiteral("\r\n"));
    const QStringList ownLines = a.text.split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        QVERIFY2(bodyLines.contains(line), qPrintable(line + QStringLiteral(" not a line of: ") + e.PlainTextBody));
        QVERIFY2(ownLines.contains(line), qPrintable(line + QStringLiteral(" not a line of: ") + a.text));
    }
    QCOMPARE(a.text.count(QLatin1Char('\n')), a.text.count(QStringLiteral("\r\n")));
    QCOMPARE(textAfterMarker(e.PlainTextBody, name), a.text);
    QVERIFY2(!a.text.contains(QStringLiteral("See attached.")), qPrintable(a.text));
}

void TestAttachments::pdfPagesAndTableInReadingOrder()
{
    const QByteArray pdf = orderPdf();
    const MailRecord e =
        decodeMessage(mixedMessage("Order below.", {attached("application/pdf", "order.pdf", pdf)}), withText());
    QCOMPARE(e.attachments.size(), 1);
    const QString text = e.attachments[0].text;
    QVERIFY2(e.attachments[0].problem.isEmpty(), qPrintable(e.attachments[0].problem));
    // Pages in order, and the table's rows in order with each row's cells on one line.
    const QStringList order = {"Order sheet 77",           "Page 1 of 3", "Item", "Widget", "Gadget", "Page 2 of 3",
                               "Thank you for your order", "Page 3 of 3"};
    qsizetype last = -1;
    for (const QString &piece : order) {
        const qsizetype at = text.indexOf(piece);
        QVERIFY2(at > last, qPrintable(piece + QStringLiteral(" out of order in: ") + text));
        last = at;
    }
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    const auto lineWith = [&lines](const QString &word) {
        for (const QString &l : lines)
            if (l.contains(word))
                return l.simplified();
        return QString();
    };
    QCOMPARE(lineWith(QStringLiteral("Widget")), QStringLiteral("Widget 3 4.50"));
    QCOMPARE(lineWith(QStringLiteral("Gadget")), QStringLiteral("Gadget 12 19.99"));
}

void TestAttachments::problemsLeaveTheRestAlone_data()
{
    QTest::addColumn<MailPart>("part");
    QTest::addColumn<QString>("problem");

    const QByteArray encrypted = vc::test::encryptedPdf(invoicePdf());
    QVERIFY2(!encrypted.isEmpty(), "qpdf could not encrypt the test PDF");
    QTest::newRow("encrypted") << attached("application/pdf", "locked.pdf", encrypted)
                               << "the PDF is encrypted; its text cannot be read";
    const QByteArray whole = orderPdf();
    QTest::newRow("truncated") << attached("application/pdf", "cut.pdf", whole.left(whole.size() / 2))
                               << "the PDF is damaged or not a PDF; its text cannot be read";
    QTest::newRow("not a PDF at all") << attached("application/pdf", "fake.pdf", QByteArray(3000, 'x'))
                                      << "the PDF is damaged or not a PDF; its text cannot be read";
    QTest::newRow("only a picture") << attached("application/pdf", "scan.pdf", vc::test::imageOnlyPdf())
                                    << "the PDF has no text, only images (a scan?)";
    QByteArray big = "%PDF-1.4\n";
    big += QByteArray(60 << 20, 'A');
    QTest::newRow("60 MB") << attached("application/pdf", "huge.pdf", big)
                           << "the attachment is larger than 50 MB (60.0 MB); its text was not read";
}

void TestAttachments::problemsLeaveTheRestAlone()
{
    QFETCH(MailPart, part);
    QFETCH(QString, problem);
    const MailPart csv = attached("text/csv", "after.csv", "sku;qty\nB-7;1\n");
    const MailRecord e = decodeMessage(mixedMessage("Two files.", {part, csv}), withText());

    QCOMPARE(e.attachments.size(), 2);
    QCOMPARE(e.attachments[0].problem, problem);
    QVERIFY2(e.attachments[0].text.isEmpty(), qPrintable(e.attachments[0].text.left(200)));
    QCOMPARE(e.attachments[0].size, qint64(part.bytes.size()));
    // The problem is the one line under the marker; the next attachment still has its text.
    QCOMPARE(textAfterMarker(e.PlainTextBody, e.attachments[0].name), problem + QStringLiteral("\r\n"));
    QCOMPARE(e.attachments[1].text, QStringLiteral("sku;qty\r\nB-7;1\r\n"));
    QVERIFY(e.PlainTextBody.endsWith(QStringLiteral("--- attachment after.csv ---\r\nsku;qty\r\nB-7;1\r\n")));
}

void TestAttachments::listWithoutText()
{
    const QList<MailPart> parts = {
        {"Application/PDF", "attachment; filename*=UTF-8''%C3%BCber%20uns.pdf", invoicePdf()},
        {"image/png; name=\"=?UTF-8?B?R3LDvMOfZS5wbmc=?=\"", "inline", QByteArray(1234, '\x89')},
        {"text/plain; charset=utf-8", "attachment; filename=\"a.txt\"", "caf=C3=A9=\r\n", "quoted-printable"},
        // An inline picture without a name is part of the message, not an attachment.
        {"image/gif", "inline", QByteArray(10, 'G')},
        {"application/zip", "attachment", QByteArray(777, 'Z')},
    };
    const QByteArray raw = mixedMessage("Body only.", parts);
    DecodeNeeds needs;
    needs.attachments = true;
    const MailRecord e = decodeMessage(raw, needs);

    QCOMPARE(e.PlainTextBody, decodeMessage(raw).PlainTextBody);
    QVERIFY(decodeMessage(raw).attachments.isEmpty());
    QCOMPARE(e.attachments.size(), 4);
    const QStringList names = {e.attachments[0].name, e.attachments[1].name, e.attachments[2].name,
                               e.attachments[3].name};
    QCOMPARE(names, (QStringList{"über uns.pdf", "Grüße.png", "a.txt", QString()}));
    QCOMPARE(e.attachments[0].contentType, QStringLiteral("application/pdf"));
    QCOMPARE(e.attachments[0].size, qint64(invoicePdf().size()));
    QCOMPARE(e.attachments[1].size, qint64(1234));
    QCOMPARE(e.attachments[2].size, qint64(5));  // "café" with "=" + CR LF as a soft line break: 5 bytes
    QCOMPARE(e.attachments[3].contentType, QStringLiteral("application/zip"));
    QCOMPARE(e.attachments[3].size, qint64(777));
    for (const AttachmentInfo &a : e.attachments) {
        QVERIFY(a.text.isEmpty());
        QVERIFY(a.problem.isEmpty());
    }
}

void TestAttachments::attachedMessageNamesAndNesting()
{
    // A forwarded message that carries a CSV of its own, itself forwarded once more.
    const QByteArray inner = mixedMessage("Inner body.", {attached("text/csv", "inner.csv", "x;1\n")}, "Stock list");
    const QByteArray middle = mixedMessage("Middle body.", {{"message/rfc822", "inline", inner, "8bit"}}, "Fwd: Stock");
    const MailRecord e =
        decodeMessage(mixedMessage("Outer.", {{"message/rfc822", QByteArray(), middle, "8bit"}}), withText());
    QCOMPARE(e.attachments.size(), 1);
    QCOMPARE(e.attachments[0].name, QStringLiteral("Fwd: Stock.eml"));
    QCOMPARE(e.attachments[0].contentType, QStringLiteral("message/rfc822"));
    const QString text = e.attachments[0].text;
    for (const char *piece : {"Subject: Fwd: Stock\r\n", "Middle body.\r\n", "--- attachment Stock list.eml ---\r\n",
                              "Subject: Stock list\r\n", "Inner body.\r\n", "--- attachment inner.csv ---\r\nx;1\r\n"})
        QVERIFY2(text.contains(QLatin1String(piece)),
                 qPrintable(QLatin1String(piece) + QStringLiteral(" not in ") + text));
    QVERIFY(e.PlainTextBody.startsWith(QStringLiteral("Outer.\r\n--- attachment Fwd: Stock.eml ---\r\n")));
}

void TestAttachments::partsAfterAnAttachedMessage_data()
{
    QTest::addColumn<QList<MailPart>>("parts");
    QTest::addColumn<QStringList>("texts");  // a piece of each attachment's text, in order

    // Header fields the record does not use, so that each message, the outer
    // one and the attached one, is decoded from a copy without them. The
    // attached messages are mostly empty lines: written out with CR LF for
    // their own decoding, they take nearly twice the room they take inside
    // the outer message, beyond where the parts after them begin there.
    const QByteArray relayed = "Received: from relay.example.org by mx.example.org; Mon, 2 Mar 2015 10:00:00 +0000\n"
                               "X-Mailer: Forwarder 2\n";
    const QByteArray gap(3000, '\n');
    const QByteArray fwd1 =
        relayed + "From: Bob <bob@example.org>\nSubject: First\n\n" + gap + "First forwarded body.\n";
    const QByteArray fwd2 =
        relayed + "From: Cy <cy@example.org>\nSubject: Second\n\n" + gap + "Second forwarded body.\n";
    const MailPart first{"message/rfc822", "attachment; filename=\"first.eml\"", fwd1, "7bit"};
    const MailPart second{"message/rfc822", "attachment; filename=\"second.eml\"", fwd2, "7bit"};
    const MailPart notes = attached("text/plain", "notes.txt", "Notes after the forward: ship on Friday.\n");
    const MailPart pdf = attached("application/pdf", "invoice.pdf", invoicePdf());

    QTest::newRow("text file") << QList<MailPart>{first, notes}
                               << QStringList{"First forwarded body.", "ship on Friday."};
    QTest::newRow("another message") << QList<MailPart>{first, second}
                                     << QStringList{"First forwarded body.", "Second forwarded body."};
    QTest::newRow("pdf between two messages")
        << QList<MailPart>{first, pdf, second, notes}
        << QStringList{"First forwarded body.", "Total due: 118.45 EUR", "Second forwarded body.", "ship on Friday."};
}

// An attached message is decoded while the message around it is still being
// read: the parts after it come from the outer message's own bytes, however
// the attached one was decoded, on a thread that has decoded larger mail before.
void TestAttachments::partsAfterAnAttachedMessage()
{
    QFETCH(QList<MailPart>, parts);
    QFETCH(QStringList, texts);
    const QByteArray relayed = "Received: from outside.example.org by mx.example.org; Mon, 2 Mar 2015 10:00:01 +0000\n"
                               "DKIM-Signature: v=1; a=rsa-sha256; d=example.org;\n\tb=c2lnbmF0dXJl\n";
    // Mail stored with bare LF line ends, as many servers keep it.
    QByteArray raw = relayed + mixedMessage("Outer body.", parts);
    raw.replace("\r\n", "\n");
    const QByteArray earlier = relayed + "From: Dan <dan@example.org>\nSubject: Earlier\n\n" + QByteArray(64000, 'x');
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(decodeMessage(earlier, withText()).Subject, QStringLiteral("Earlier"));
        const MailRecord e = decodeMessage(raw, withText());
        QCOMPARE(e.Subject, QStringLiteral("Invoices"));
        QCOMPARE(e.attachments.size(), texts.size());
        for (int i = 0; i < texts.size(); ++i) {
            QVERIFY2(e.attachments[i].problem.isEmpty(), qPrintable(e.attachments[i].problem));
            QVERIFY2(e.attachments[i].text.contains(texts[i]),
                     qPrintable(texts[i] + QStringLiteral(" not in: ") + e.attachments[i].text.right(300)));
            QVERIFY2(e.PlainTextBody.contains(texts[i]), qPrintable(e.PlainTextBody.right(300)));
        }
        QVERIFY(e.PlainTextBody.startsWith(QStringLiteral("Outer body.\r\n--- attachment first.eml ---\r\n")));
        QVERIFY(!e.PlainTextBody.contains(QStringLiteral("X-Mailer")));
    }
}

void TestAttachments::bytesGoToTheSinkOnly()
{
    const QByteArray pdf = invoicePdf();
    const QByteArray raw = mixedMessage(
        "Files.", {attached("application/pdf", "a.pdf", pdf),
                   attached("text/plain", "b.txt", "bee"),
                   {"message/rfc822", "attachment; filename=\"c.eml\"", "Subject: c\r\n\r\nsee\r\n", "7bit"}});
    QStringList asked;
    QList<std::pair<AttachmentInfo, QByteArray>> taken;
    DecodeNeeds needs;
    needs.attachmentBytes.wants = [&](const AttachmentInfo &a) {
        asked << a.name + QLatin1Char(' ') + a.contentType;
        return a.name != QLatin1String("b.txt");
    };
    needs.attachmentBytes.take = [&](const AttachmentInfo &a, const QByteArray &bytes) { taken.append({a, bytes}); };
    const MailRecord e = decodeMessage(raw, needs);

    QCOMPARE(asked, (QStringList{"a.pdf application/pdf", "b.txt text/plain", "c.eml message/rfc822"}));
    QCOMPARE(taken.size(), 2);
    QCOMPARE(taken[0].first.name, QStringLiteral("a.pdf"));
    QCOMPARE(taken[0].second, pdf);
    QCOMPARE(taken[0].first.size, qint64(pdf.size()));
    QCOMPARE(taken[1].first.name, QStringLiteral("c.eml"));
    QVERIFY2(taken[1].second.contains("see"), taken[1].second.constData());
    // The record lists all three, without bytes or text (none was asked for).
    QCOMPARE(e.attachments.size(), 3);
    QCOMPARE(e.attachments[1].size, qint64(3));
    QVERIFY(e.attachments[0].text.isEmpty());
    QCOMPARE(e.PlainTextBody, QStringLiteral("Files."));
}

void TestAttachments::decodingOnSeveralThreads()
{
    QList<QByteArray> raws;
    for (int i = 0; i < 6; ++i)
        raws << mixedMessage(
            "n" + QByteArray::number(i),
            {attached("application/pdf", "p.pdf", makePdf({{QStringLiteral("Invoice %1").arg(1000 + i)}}))});
    const QList<MailRecord> records =
        QtConcurrent::blockingMapped(raws, [](const QByteArray &raw) { return decodeMessage(raw, withText()); });
    QCOMPARE(records.size(), raws.size());
    for (int i = 0; i < records.size(); ++i) {
        QCOMPARE(records[i].attachments.size(), 1);
        QVERIFY2(records[i].attachments[0].text.contains(QStringLiteral("Invoice %1").arg(1000 + i)),
                 qPrintable(records[i].attachments[0].problem));
    }
}

int main(int argc, char **argv)
{
    // QPdfWriter needs fonts, hence a GUI application; no display is used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestAttachments test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_attachments.moc"
