// The MIME decoder over the sample messages in tests/fixtures, the HTML-to-text
// conversion and the charset conversion.
#include "mail/Charsets.h"
#include "mail/HtmlText.h"
#include "mail/MimeDecode.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QTimeZone>

using vc::decodeMessage;
using vc::DecodeNeeds;
using vc::HeaderField;
using vc::MailRecord;

namespace {

QByteArray fixture(const QString &name)
{
    QFile f(QStringLiteral(VC_FIXTURE_DIR "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}

MailRecord decodeFixture(const QString &name)
{
    return decodeMessage(fixture(name));
}

QStringList crlfLines(const QString &body)
{
    return body.split(QStringLiteral("\r\n"));
}

// The values a record is made of, HTML body apart.
QStringList recordValues(const MailRecord &e)
{
    return {e.From,          e.FromName, e.FromAddress, e.Subject, e.ReceivedDate, e.date.toString(Qt::ISODateWithMs),
            e.PlainTextBody, e.messageId};
}

// A run that reads neither every header field nor the HTML body gets every
// other value of the full decode, and the full decode's HTML body when it asks
// for that alone.
void checkNeedsDecodeAlike(const QByteArray &raw)
{
    const MailRecord full = decodeMessage(raw, DecodeNeeds{true, true});
    const MailRecord least = decodeMessage(raw, DecodeNeeds{false, false});
    QCOMPARE(recordValues(least), recordValues(full));
    QVERIFY(least.HTMLTextBody.isEmpty());
    QVERIFY(least.headers.isEmpty());
    const MailRecord html = decodeMessage(raw, DecodeNeeds{false, true});
    QCOMPARE(recordValues(html), recordValues(full));
    QCOMPARE(html.HTMLTextBody, full.HTMLTextBody);
}

QList<QByteArray> allFixtures()
{
    QList<QByteArray> out;
    const QDir dir(QStringLiteral(VC_FIXTURE_DIR));
    for (const QString &name : dir.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name))
        out << fixture(name);
    return out;
}

}  // namespace

class TestMimeDecode : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sender_data();
    void sender();
    void plainBody_data();
    void plainBody();
    void htmlBodyIsFirstInlineHtmlPart();
    void htmlOnlyMessageGivesDerivedText();
    void date_data();
    void date();
    void lineEndsAreKept();
    void malformedMessagesDecodePartially();
    void sloppyMessagesKeepTheirBody_data();
    void sloppyMessagesKeepTheirBody();
    void emptyAndHeaderOnlyInput();
    void headerFieldsWhenAskedFor();
    void truncatedPrefixesNeverBreakHeaders();
    void corruptedBytesNeverCrash();
    void needsDecodeAlike_data();
    void needsDecodeAlike();
    void needsDecodeAlikeWhenCorrupted();
    void sameRecordWhateverCameBefore();
    void htmlToText_data();
    void htmlToText();
    void charsets_data();
    void charsets();
};

void TestMimeDecode::sender_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("subject");

    QTest::newRow("encoded words") << "qp-latin1.eml" << QStringLiteral("Jürgen Müller <juergen@example.de>")
                                   << QStringLiteral("Jürgen Müller") << "juergen@example.de"
                                   << QStringLiteral("Grüße aus Köln");
    QTest::newRow("quoted name with comma") << "alternative.eml"
                                            << "Doe, Jane <jane@example.org>"
                                            << "Doe, Jane"
                                            << "jane@example.org"
                                            << "Alternative";
    QTest::newRow("address only") << "html-only.eml"
                                  << "newsletter@example.net"
                                  << ""
                                  << "newsletter@example.net"
                                  << "HTML only";
    QTest::newRow("angle address only") << "no-date.eml"
                                        << "bare@example.org"
                                        << ""
                                        << "bare@example.org"
                                        << "No date here";
    QTest::newRow("raw UTF-8 headers") << "8bit-headers.eml" << QStringLiteral("Jürgen Größe <jg@example.org>")
                                       << QStringLiteral("Jürgen Größe") << "jg@example.org"
                                       << QStringLiteral("Grüße – schön");
    QTest::newRow("raw Latin-1 headers") << "8bit-latin1-headers.eml" << QStringLiteral("André <andre@example.org>")
                                         << QStringLiteral("André") << "andre@example.org"
                                         << QStringLiteral("Café crème");
    QTest::newRow("encoded word in windows-1251")
        << "windows-1251.eml" << QStringLiteral("Иван <ivan@example.ru>") << QStringLiteral("Иван") << "ivan@example.ru"
        << "Cyrillic";
}

void TestMimeDecode::sender()
{
    QFETCH(QString, file);
    const MailRecord e = decodeFixture(file);
    QTEST(e.From, "from");
    QTEST(e.FromName, "name");
    QTEST(e.FromAddress, "address");
    QTEST(e.Subject, "subject");
}

void TestMimeDecode::plainBody_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("body");

    QTest::newRow("quoted-printable Latin-1, soft break, euro")
        << "qp-latin1.eml"
        << QStringLiteral("Grüße aus Köln!\r\nPreis: 5 € = fünf Euro, sehr lange Zeile die weich umbrochen "
                          "wird und weiter geht.\r\nEnde\r\n");
    QTest::newRow("base64 UTF-8") << "base64-utf8.eml"
                                  << QStringLiteral("Привет, мир!\r\nこんにちは 👋\r\nLetzte Zeile\r\n");
    QTest::newRow("alternative takes the plain part")
        << "alternative.eml" << QStringLiteral("Hello Tester,\r\ncafé at 10:00.");
    QTest::newRow("attachments and attached message skipped") << "attachment-first.eml"
                                                              << "The real body.";
    QTest::newRow("8bit UTF-8") << "8bit-headers.eml" << QStringLiteral("Schöne Grüße\r\n");
    QTest::newRow("no charset, Latin-1 bytes") << "8bit-latin1-headers.eml" << QStringLiteral("Café\r\n");
    QTest::newRow("windows-1251") << "windows-1251.eml" << QStringLiteral("Привет\r\n");
    QTest::newRow("unknown charset, Latin-1 bytes") << "unknown-charset.eml" << QStringLiteral("naïve café\r\n");
    QTest::newRow("LF-only message keeps LF") << "lf-only.eml"
                                              << "line one\nline two\n";
    QTest::newRow("NUL byte kept") << "nul-bytes.eml" << QString::fromUtf8("before\0after\r\nnext line\r\n", 25);
}

void TestMimeDecode::plainBody()
{
    QFETCH(QString, file);
    QTEST(decodeFixture(file).PlainTextBody, "body");
}

void TestMimeDecode::htmlBodyIsFirstInlineHtmlPart()
{
    const MailRecord alt = decodeFixture(QStringLiteral("alternative.eml"));
    QCOMPARE(alt.HTMLTextBody, QStringLiteral("<p>Hello Tester,</p><p>café at <b>10:00</b>.</p>"));

    // The inline alternative's HTML, not the attached page that follows it.
    const MailRecord mixed = decodeFixture(QStringLiteral("attachment-first.eml"));
    QCOMPARE(mixed.HTMLTextBody, QStringLiteral("<p>The real <i>body</i>.</p>"));

    const MailRecord plainOnly = decodeFixture(QStringLiteral("qp-latin1.eml"));
    QVERIFY(plainOnly.HTMLTextBody.isEmpty());
}

void TestMimeDecode::htmlOnlyMessageGivesDerivedText()
{
    const MailRecord e = decodeFixture(QStringLiteral("html-only.eml"));
    QVERIFY(e.HTMLTextBody.startsWith(QLatin1String("<!DOCTYPE html>\r\n<html>")));
    QVERIFY(e.HTMLTextBody.contains(QLatin1String("&amp;")));  // the HTML itself stays as sent

    const QStringList expected{
        QStringLiteral("Welcome back"), QStringLiteral("Fish & Chips, café and naïve ☺"),
        QStringLiteral("first"),        QStringLiteral("second"),
        QStringLiteral("third"),        QStringLiteral("one"),
        QStringLiteral("two"),          QStringLiteral("a b"),
        QStringLiteral("c d"),          QStringLiteral("5 < 6 &unknown; AT&T"),
    };
    QCOMPARE(crlfLines(e.PlainTextBody), expected);
    for (const char *hidden : {"Ignored title", "color", "alert", "not shown"})
        QVERIFY2(!e.PlainTextBody.contains(QLatin1String(hidden)), hidden);
}

void TestMimeDecode::date_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<int>("offset");

    const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
    };
    QTest::newRow("+0200") << fixture(QStringLiteral("qp-latin1.eml")) << true << utc(2025, 6, 3, 12, 5, 9) << 7200;
    QTest::newRow("-0500 crosses midnight")
        << fixture(QStringLiteral("base64-utf8.eml")) << true << utc(2025, 6, 5, 4, 30, 0) << -18000;
    QTest::newRow("+0000") << fixture(QStringLiteral("html-only.eml")) << true << utc(2025, 6, 5, 8, 0, 0) << 0;
    QTest::newRow("missing") << fixture(QStringLiteral("no-date.eml")) << false << QDateTime() << 0;
    QTest::newRow("garbage") << fixture(QStringLiteral("bad-date.eml")) << false << QDateTime() << 0;
    QTest::newRow("impossible day") << QByteArray("Date: Fri, 31 Feb 2025 10:00:00 +0000\r\n\r\nx") << false
                                    << QDateTime() << 0;
    QTest::newRow("empty header") << QByteArray("Date: \r\nSubject: s\r\n\r\nx") << false << QDateTime() << 0;
    // The epoch itself is a real date and must not be mistaken for "no date".
    QTest::newRow("epoch") << QByteArray("Date: Thu, 1 Jan 1970 00:00:00 +0000\r\n\r\nx") << true
                           << utc(1970, 1, 1, 0, 0, 0) << 0;
    QTest::newRow("zone name") << QByteArray("Date: 3 Jun 2025 14:05 EST\r\n\r\nx") << true << utc(2025, 6, 3, 19, 5, 0)
                               << -18000;
}

void TestMimeDecode::date()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, valid);
    const QDateTime d = decodeMessage(message).date;
    QCOMPARE(d.isValid(), valid);
    if (!valid)
        return;
    QFETCH(QDateTime, utc);
    QCOMPARE(d.toUTC(), utc);
    QTEST(d.offsetFromUtc(), "offset");
}

void TestMimeDecode::lineEndsAreKept()
{
    // Bodies keep CR LF pairs; no lone LF appears and no CR LF is doubled or lost.
    for (const char *file : {"qp-latin1.eml", "base64-utf8.eml", "alternative.eml", "missing-boundary.eml"}) {
        const QString body = decodeFixture(QLatin1String(file)).PlainTextBody;
        QVERIFY2(body.contains(QLatin1String("\r\n")), file);
        QString withoutPairs = body;
        withoutPairs.remove(QLatin1String("\r\n"));
        QVERIFY2(!withoutPairs.contains(QLatin1Char('\n')) && !withoutPairs.contains(QLatin1Char('\r')), file);
    }
    QCOMPARE(crlfLines(decodeFixture(QStringLiteral("base64-utf8.eml")).PlainTextBody).size(), 4);

    // An LF-only message stays LF-only: nothing is normalised either way.
    QVERIFY(!decodeFixture(QStringLiteral("lf-only.eml")).PlainTextBody.contains(QLatin1Char('\r')));
}

void TestMimeDecode::malformedMessagesDecodePartially()
{
    const MailRecord cut = decodeFixture(QStringLiteral("truncated-multipart.eml"));
    QCOMPARE(cut.From, QStringLiteral("Cut Off <cut@example.org>"));
    QCOMPARE(cut.Subject, QStringLiteral("Truncated"));
    QVERIFY(cut.date.isValid());
    QCOMPARE(cut.PlainTextBody, QStringLiteral("Only the first half of the pla"));

    // Without a boundary the content is shown as it stands.
    const MailRecord unsplit = decodeFixture(QStringLiteral("missing-boundary.eml"));
    QCOMPARE(unsplit.Subject, QStringLiteral("Missing boundary"));
    QVERIFY(unsplit.PlainTextBody.contains(QLatin1String("Text that has no declared boundary.\r\n")));

    // Bad base64: the good characters still decode, the junk is skipped.
    const MailRecord b64 = decodeFixture(QStringLiteral("bad-base64.eml"));
    QCOMPARE(b64.Subject, QStringLiteral("Bad base64"));
    QVERIFY2(b64.PlainTextBody.startsWith(QLatin1String("Hello world")), qPrintable(b64.PlainTextBody));

    // A NUL in a header ends that header's text but nothing else.
    const MailRecord nul = decodeFixture(QStringLiteral("nul-bytes.eml"));
    QVERIFY(nul.Subject.startsWith(QLatin1String("Has")));
    QCOMPARE(nul.From, QStringLiteral("nul@example.org"));
    QVERIFY(nul.date.isValid());
    QVERIFY(nul.PlainTextBody.endsWith(QLatin1String("next line\r\n")));
}

void TestMimeDecode::sloppyMessagesKeepTheirBody_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");

    // A type GMime cannot read is taken as text/plain.
    QTest::newRow("type without subtype") << fixture(QStringLiteral("no-subtype.eml")) << "No subtype"
                                          << "Body of a message whose type has no subtype.\r\nSecond line.\r\n";
    QTest::newRow("invalid type, its charset still read")
        << fixture(QStringLiteral("invalid-type-charset.eml")) << "Invalid type with a charset"
        << QStringLiteral("Привет\r\n");
    QTest::newRow("multipart child with a garbage type")
        << fixture(QStringLiteral("multipart-invalid-part.eml")) << "Part with a broken type"
        << "Text of the part whose type is garbage.";
    QTest::newRow("type with an empty subtype")
        << QByteArray("Subject: s\r\nContent-Type: text/\r\n\r\nbody\r\n") << "s"
        << "body\r\n";
    QTest::newRow("type with an empty type") << QByteArray("Subject: s\r\nContent-Type: /plain\r\n\r\nbody\r\n") << "s"
                                             << "body\r\n";
    // A type that is sound but not text stays out of the body.
    QTest::newRow("declared octet-stream is not text")
        << QByteArray("Subject: s\r\nContent-Type: application/octet-stream\r\n\r\nbinary\r\n") << "s"
        << "";

    // A line that is no header field ends the header block.
    QTest::newRow("header block without blank line")
        << fixture(QStringLiteral("no-blank-line.eml")) << "No blank line after the headers"
        << "This line starts the body.\r\nIt goes on: with a colon in it.\r\nLast line.\r\n";
    QTest::newRow("LF-only, no blank line") << QByteArray("Subject: s\nFrom: a@example.org\nHello there\nbye\n") << "s"
                                            << "Hello there\nbye\n";
    QTest::newRow("no header at all") << QByteArray("Just a note\r\nno headers\r\n") << ""
                                      << "Just a note\r\nno headers\r\n";
    QTest::newRow("body line with a colon after a space")
        << QByteArray("Subject: s\r\nRe the plan: yes\r\nX-Late: not a header\r\n") << "s"
        << "Re the plan: yes\r\nX-Late: not a header\r\n";
    QTest::newRow("blank before the colon is still a field")
        << QByteArray("Subject : spaced\r\nX-Note\t: kept\r\n\r\nbody\r\n") << "spaced"
        << "body\r\n";
    // The body of a message that is one part is everything after its blank
    // line, to the last byte, whatever it looks like.
    QTest::newRow("single part, no last line end") << QByteArray("Subject: s\r\n\r\nfirst\r\nlast") << "s"
                                                   << "first\r\nlast";
    QTest::newRow("single part, blank lines at the end")
        << QByteArray("Subject: s\r\n\r\nbody\r\n\r\n\r\n") << "s" << "body\r\n\r\n\r\n";
    QTest::newRow("single part, empty body") << QByteArray("Subject: s\r\n\r\n") << "s" << "";
    QTest::newRow("single part, boundary-like lines")
        << QByteArray("Subject: s\r\nContent-Type: text/plain\r\n\r\n--b\r\nx\r\n--b--\r\n") << "s"
        << "--b\r\nx\r\n--b--\r\n";
    QTest::newRow("single part, quoted-printable soft break at the end")
        << QByteArray("Subject: s\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9 =\r\nend=") << "s"
        << QStringLiteral("café end");
    QTest::newRow("single part, base64 without a line end")
        << QByteArray("Subject: s\r\nContent-Transfer-Encoding: base64\r\n\r\naGVsbG8gd29ybGQ=") << "s"
        << "hello world";
    QTest::newRow("folded type, multipart in capitals")
        << QByteArray("Subject: s\r\nContent-Type:\r\n MULTIPART/Mixed; boundary=b\r\n\r\n--b\r\n"
                      "Content-Type: text/plain\r\n\r\ninner\r\n--b--\r\n")
        << "s" << "inner";
    QTest::newRow("mailbox From line first")
        << QByteArray("From someone@example.org Mon Jun  9 07:00:00 2025\r\nSubject: s\r\n\r\nbody\r\n") << "s"
        << "body\r\n";
}

void TestMimeDecode::sloppyMessagesKeepTheirBody()
{
    QFETCH(QByteArray, message);
    const MailRecord e = decodeMessage(message);
    QTEST(e.Subject, "subject");
    QTEST(e.PlainTextBody, "body");
}

void TestMimeDecode::headerFieldsWhenAskedFor()
{
    const QByteArray raw("From: =?utf-8?q?Ren=C3=A9e?= <r@example.org>\r\n"
                         "To: a@example.org,\r\n b@example.org\r\n"
                         "Subject: =?iso-8859-1?q?Caf=E9?= order\r\n"
                         "Message-ID: <abc.123@shop.example>\r\n"
                         "List-Id: Shop news <news.shop.example>\r\n"
                         "X-Order:   42  \r\n"
                         "\r\nbody\r\n");
    // Not asked for: none, but the Message-ID always.
    const MailRecord plain = decodeMessage(raw);
    QVERIFY(plain.headers.isEmpty());
    QCOMPARE(plain.messageId, QStringLiteral("abc.123@shop.example"));

    const MailRecord m = decodeMessage(raw, DecodeNeeds{true});
    QStringList names;
    for (const HeaderField &f : m.headers)
        names << f.name;
    QCOMPARE(names, (QStringList{"From", "To", "Subject", "Message-ID", "List-Id", "X-Order"}));
    QCOMPARE(m.header(u"from"), QStringLiteral("Renée <r@example.org>"));
    QCOMPARE(m.header(u"TO"), QStringLiteral("a@example.org, b@example.org"));
    QCOMPARE(m.header(u"Subject"), QStringLiteral("Café order"));
    QCOMPARE(m.header(u"List-Id"), QStringLiteral("Shop news <news.shop.example>"));
    QCOMPARE(m.header(u"X-Order"), QStringLiteral("42"));
    QVERIFY(m.header(u"Cc").isEmpty());
    QCOMPARE(m.ReceivedDate, QString());  // no Date field
}

void TestMimeDecode::emptyAndHeaderOnlyInput()
{
    for (const QByteArray &raw : {QByteArray(), QByteArray("\r\n"), QByteArray("\0\0\0", 3), QByteArray("x")}) {
        const MailRecord e = decodeMessage(raw);
        QVERIFY(e.From.isEmpty() && e.Subject.isEmpty() && e.HTMLTextBody.isEmpty());
        QVERIFY(!e.date.isValid());
    }
    const MailRecord h = decodeFixture(QStringLiteral("header-only.eml"));
    QCOMPARE(h.From, QStringLiteral("Only Headers <oh@example.org>"));
    QCOMPARE(h.Subject, QStringLiteral("Nothing else"));
    QCOMPARE(h.date.toUTC(), QDateTime(QDate(2025, 6, 9), QTime(7, 0), QTimeZone::utc()));
    QVERIFY(h.PlainTextBody.isEmpty());
    QVERIFY(h.HTMLTextBody.isEmpty());
}

// Every prefix of every sample decodes; once the whole header block is there,
// the sender and subject are those of the complete message.
void TestMimeDecode::truncatedPrefixesNeverBreakHeaders()
{
    for (const char *file :
         {"qp-latin1.eml", "alternative.eml", "attachment-first.eml", "html-only.eml", "base64-utf8.eml"}) {
        const QByteArray raw = fixture(QLatin1String(file));
        const MailRecord full = decodeMessage(raw);
        const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
        QVERIFY(headerEnd > 0);
        for (qsizetype n = 0; n <= raw.size(); ++n) {
            const MailRecord part = decodeMessage(raw.left(n));
            if (n >= headerEnd + 4) {
                QCOMPARE(part.From, full.From);
                QCOMPARE(part.Subject, full.Subject);
                QCOMPARE(part.date, full.date);
            }
        }
    }
}

void TestMimeDecode::corruptedBytesNeverCrash()
{
    QRandomGenerator rng(20250609);
    int decodedSubjects = 0;
    for (const char *file : {"attachment-first.eml", "alternative.eml", "html-only.eml", "qp-latin1.eml"}) {
        const QByteArray raw = fixture(QLatin1String(file));
        for (int round = 0; round < 300; ++round) {
            QByteArray bad = raw;
            const int flips = 1 + int(rng.bounded(8));
            for (int k = 0; k < flips; ++k)
                bad[qsizetype(rng.bounded(int(bad.size())))] = char(rng.bounded(256));
            const MailRecord e = decodeMessage(bad);
            if (!e.Subject.isEmpty())
                ++decodedSubjects;
        }
    }
    // Most damaged copies still carry a readable subject.
    QVERIFY2(decodedSubjects > 600, qPrintable(QString::number(decodedSubjects)));
}

// The decoder keeps its parser from message to message: what one message
// left behind (a cut-off part, an attached message, a parse that gave up) must
// not change the next one's record.
void TestMimeDecode::sameRecordWhateverCameBefore()
{
    QList<QByteArray> messages = allFixtures();
    const QByteArray attached = "From: a@example.org\r\nSubject: outer\r\nContent-Type: multipart/mixed; "
                                "boundary=\"o\"\r\n\r\n--o\r\nContent-Type: text/plain\r\n\r\nouter body\r\n"
                                "--o\r\nContent-Type: message/rfc822\r\nContent-Disposition: attachment\r\n\r\n"
                                "From: b@example.org\r\nSubject: inner\r\n\r\ninner body\r\n--o--\r\n";
    messages << attached << attached.left(150) << QByteArray("\r\n") << QByteArray("Subject: only\r\n");
    DecodeNeeds needs;
    needs.headers = true;
    needs.attachmentText = true;
    QList<MailRecord> first;
    for (const QByteArray &raw : messages)
        first << decodeMessage(raw, needs);
    // The same messages again, in the other order: each after a different one.
    for (qsizetype i = messages.size() - 1; i >= 0; --i) {
        const MailRecord again = decodeMessage(messages.at(i), needs);
        QCOMPARE(recordValues(again), recordValues(first.at(i)));
        QCOMPARE(again.HTMLTextBody, first.at(i).HTMLTextBody);
        QCOMPARE(again.headers.size(), first.at(i).headers.size());
        QCOMPARE(again.attachments.size(), first.at(i).attachments.size());
        for (qsizetype a = 0; a < again.attachments.size(); ++a)
            QCOMPARE(again.attachments.at(a).text, first.at(i).attachments.at(a).text);
    }
    const MailRecord outer = first.at(messages.size() - 4);
    QCOMPARE(outer.Subject, QStringLiteral("outer"));
    QCOMPARE(outer.PlainTextBody.left(10), QStringLiteral("outer body"));
    QCOMPARE(outer.attachments.size(), 1);
    QVERIFY(outer.attachments.at(0).text.contains(QStringLiteral("inner body")));
}

void TestMimeDecode::needsDecodeAlike_data()
{
    QTest::addColumn<QByteArray>("raw");
    for (const QString &name : QDir(QStringLiteral(VC_FIXTURE_DIR)).entryList({QStringLiteral("*.eml")}))
        QTest::newRow(qPrintable(name)) << fixture(name);
    const QByteArray relayed = "Received: from a (a [192.0.2.1])\r\n\tby b; Mon, 2 Jun 2025 10:00:00 +0200\r\n"
                               "DKIM-Signature: v=1; a=rsa-sha256;\r\n b=abc;\r\n\tbh=def\r\n";
    QTest::newRow("fields around the record's, folded")
        << relayed
               + "From: =?utf-8?q?Ren=C3=A9e?= <r@example.org>\r\nX-Long: one\r\n two\r\n"
                 "Subject: Caf\xC3\xA9\r\n folded on\r\nList-Id: <l.example.org>\r\nDate: Tue, 3 Jun 2025 "
                 "12:05:09 +0200\r\nMessage-ID: <m@example.org>\r\nMIME-Version: 1.0\r\nContent-Type: "
                 "multipart/alternative;\r\n boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
                 "plain\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--b--\r\n";
    QTest::newRow("LF only") << QByteArray("X-A: 1\nSubject: s\nX-B: 2\n 3\nFrom: a@example.org\n\nbody\n");
    QTest::newRow("names that only start like the record's")
        << QByteArray("From-Address: x@example.org\r\nSubjects: no\r\nDated: no\r\nFrom: a@example.org\r\n"
                      "Subject: yes\r\n\r\nbody\r\n");
    QTest::newRow("a line that is no field ends the header block")
        << QByteArray("X-A: 1\r\nSubject: s\r\nnot a field\r\nX-B: 2\r\nFrom: late@example.org\r\n\r\nb\r\n");
    QTest::newRow("odd field names stay") << QByteArray("X(A): 1\r\nX-B : 2\r\nSubject: s\r\n\r\nb\r\n");
    QTest::newRow("mailbox From line") << QByteArray("From a@example.org Mon Jun  2 10:00:00 2025\r\nX-A: "
                                                     "1\r\nSubject: s\r\n\r\nb\r\n");
    QTest::newRow("fields only, no blank line") << QByteArray("X-A: 1\r\nSubject: s\r\nX-B: 2");
    QTest::newRow("multipart without its boundary, a field left out before the blank line")
        << QByteArray("Subject: s\r\nContent-Type: multipart/mixed; boundary=\"open\r\nX-A: 1\n\r\nbody\r\n\r\n"
                      "more\r\n");
    QTest::newRow("folded line first") << QByteArray(" lead\r\nX-A: 1\r\nSubject: s\r\n\r\nb\r\n");
    QTest::newRow("upper and lower case")
        << QByteArray("SUBJECT: up\r\nx-a: 1\r\ncontent-type: text/plain; charset=iso-8859-1\r\n"
                      "CONTENT-TRANSFER-ENCODING: quoted-printable\r\n\r\ncaf=E9\r\n");
    QByteArray large = "X-A: 1\r\nSubject: large\r\nContent-Type: text/plain\r\n\r\n";
    large += QByteArray(1100 * 1024, 'x') + "\r\n";
    QTest::newRow("over a MiB") << large;
}

void TestMimeDecode::needsDecodeAlike()
{
    QFETCH(QByteArray, raw);
    checkNeedsDecodeAlike(raw);
    if (QTest::currentTestFailed())
        return;
    // Every part the record reads is found the same way when the message ends early.
    for (qsizetype n = 1; n < qMin<qsizetype>(raw.size(), 3000); n += 7) {
        checkNeedsDecodeAlike(raw.left(n));
        if (QTest::currentTestFailed())
            return;
    }
}

void TestMimeDecode::needsDecodeAlikeWhenCorrupted()
{
    QRandomGenerator rng(20250610);
    for (const QByteArray &raw : allFixtures()) {
        for (int round = 0; round < 60; ++round) {
            QByteArray bad = raw;
            const int flips = 1 + int(rng.bounded(6));
            for (int k = 0; k < flips; ++k)
                bad[qsizetype(rng.bounded(int(bad.size())))] = "\r\n :-\t\0x"[rng.bounded(8)];
            checkNeedsDecodeAlike(bad);
            if (QTest::currentTestFailed())
                return;
        }
    }
}

void TestMimeDecode::htmlToText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");

    QTest::newRow("white space collapses") << "  a \r\n\t b  "
                                           << "a b";
    QTest::newRow("br breaks every time") << "a<br>b<br><br>c<br/>"
                                          << "a\r\nb\r\n\r\nc";
    QTest::newRow("blocks break once") << "<div><p>a</p></div><div>b</div>"
                                       << "a\r\nb";
    QTest::newRow("headings and list items") << "<h2>T</h2><ol><li>x<li>y</ol>"
                                             << "T\r\nx\r\ny";
    QTest::newRow("table rows and cells") << "<table><tr><th>h</th><td>1</td></tr><tr><td>2</td></tr></table>"
                                          << "h 1\r\n2";
    QTest::newRow("named references") << "&lt;tag&gt; &quot;q&quot; &eacute;&Eacute; &euro;&hellip;"
                                      << QStringLiteral("<tag> \"q\" éÉ €…");
    QTest::newRow("numeric references") << "&#65;&#x42;&#X43;&#233;&#x1F600;" << QStringLiteral("ABCé😀");
    QTest::newRow("references 128-159 are Windows-1252") << "&#150;&#147;x&#148;" << QStringLiteral("–“x”");
    QTest::newRow("invalid code points") << "&#0;&#xD800;&#x110000;&#99999999999;"
                                         << QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD");
    QTest::newRow("not references") << "AT&T & &#; &#x; &bogus; &amp"
                                    << "AT&T & &#; &#x; &bogus; &";
    QTest::newRow("no-break spaces are kept") << "a&nbsp;&nbsp;b"
                                              << "a  b";
    QTest::newRow("less-than that is no tag") << "1 < 2 <3 <"
                                              << "1 < 2 <3 <";
    QTest::newRow("quoted '>' inside attribute") << "<a title=\"x > y\" href='>'>link</a>"
                                                 << "link";
    QTest::newRow("script text with tags dropped") << "a<script>var s = \"</p><b>\";</script>b"
                                                   << "ab";
    QTest::newRow("STYLE in capitals dropped") << "<STYLE>p{}</STYLE>x"
                                               << "x";
    QTest::newRow("unclosed script drops the rest") << "a<script>b"
                                                    << "a";
    QTest::newRow("comments and declarations") << "<!DOCTYPE html><!-- <p>x</p> -->y<?xml?>"
                                               << "y";
    QTest::newRow("unclosed comment") << "a<!-- b"
                                      << "a";
    QTest::newRow("unclosed tag at end") << "a<b"
                                         << "a";
    QTest::newRow("pre keeps spacing") << "<pre>a  b\n c\r\nd</pre>e"
                                       << "a  b\r\n c\r\nd\r\ne";
    QTest::newRow("inline tags join words") << "<b>bo</b><i>ld</i> <span>x</span>"
                                            << "bold x";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("words, breaks and spaces mixed")
        << "<P>Hello  <B>world</B>,\r\n  how<BR>are\tyou?&nbsp;Fine&amp;well</P> end"
        << QStringLiteral("Hello world, how\r\nare you? Fine&well\r\nend");
    QTest::newRow("no-break space inside a word") << QStringLiteral("ab\u00A0cd \u00A0 e") << "ab cd   e";
    QTest::newRow("tag names longer than the known ones") << "a<blockquotes>b</blockquotes><paragraphs-longer>c<br>d"
                                                          << "abc\r\nd";
    QTest::newRow("pre: spaces kept, line ends made CR LF") << "<pre>  x\r\r\n\n y </pre>"
                                                            << "  x\r\n\r\n y";
    QTest::newRow("astral characters and references")
        << QStringLiteral("\U0001F600 &#x1F601;x") << QStringLiteral("\U0001F600 \U0001F601x");
}

void TestMimeDecode::htmlToText()
{
    QFETCH(QString, html);
    QTEST(vc::htmlToPlainText(html), "text");
}

void TestMimeDecode::charsets_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QString>("text");

    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << QByteArray("UTF-8") << QStringLiteral("café");
    QTest::newRow("declared utf-8, invalid byte") << QByteArray("a\xff"
                                                                "b")
                                                  << QByteArray("utf-8") << QStringLiteral("a\uFFFDb");
    QTest::newRow("ascii label, UTF-8 bytes")
        << QByteArray("\xc3\xa9") << QByteArray("us-ascii") << QStringLiteral("é");
    QTest::newRow("no label, Latin-1 bytes") << QByteArray("\xe9\x80") << QByteArray() << QStringLiteral("é€");
    QTest::newRow("latin1 alias") << QByteArray("\xe9") << QByteArray("latin1") << QStringLiteral("é");
    QTest::newRow("iso-8859-15 euro") << QByteArray("\xa4") << QByteArray("ISO-8859-15") << QStringLiteral("€");
    QTest::newRow("koi8-r") << QByteArray("\xf0\xd2\xc9") << QByteArray("koi8-r") << QStringLiteral("При");
    QTest::newRow("shift_jis, bad byte in the middle")
        << QByteArray("\x82\xa0\xff\x82\xa2") << QByteArray("Shift_JIS") << QStringLiteral("あ\uFFFDい");
    QTest::newRow("euc-jp cut in a character")
        << QByteArray("\xa4\xa2\xa4") << QByteArray("euc-jp") << QStringLiteral("あ\uFFFD");
    QTest::newRow("iso-2022-jp") << QByteArray("\x1b$B$\"\x1b(Bx") << QByteArray("iso-2022-jp")
                                 << QStringLiteral("あx");
    QTest::newRow("utf-16 with BOM") << QByteArray("\xff\xfe"
                                                   "a\0b\0",
                                                   6)
                                     << QByteArray("UTF-16") << QStringLiteral("ab");
    QTest::newRow("unknown label, UTF-8 bytes")
        << QByteArray("\xe2\x82\xac") << QByteArray("x-martian") << QStringLiteral("€");
    QTest::newRow("CR LF untouched") << QByteArray("a\r\nb\rc\n") << QByteArray("windows-1250")
                                     << QStringLiteral("a\r\nb\rc\n");
}

void TestMimeDecode::charsets()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, charset);
    QTEST(vc::decodeCharset(bytes, charset), "text");
}

QTEST_APPLESS_MAIN(TestMimeDecode)
#include "test_mime_decode.moc"
