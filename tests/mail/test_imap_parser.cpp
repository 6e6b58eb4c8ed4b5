// The response parser and the mailbox-name encoding, on recorded server dialogues:
// raw bytes in, the values that come out compared in a compact written form.
#include "mail/ImapParser.h"
#include "mail/ModifiedUtf7.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

using vc::ImapParser;
using vc::ImapResponse;
using vc::ImapValue;

namespace {

std::vector<ImapResponse> parseAll(ImapParser &p, const QByteArray &bytes)
{
    p.feed(bytes);
    std::vector<ImapResponse> out;
    while (p.hasResponse())
        out.push_back(p.takeResponse());
    return out;
}

std::vector<ImapResponse> parseAll(const QByteArray &bytes)
{
    ImapParser p;
    return parseAll(p, bytes);
}

QByteArray render(const ImapValue &v)
{
    switch (v.kind) {
    case ImapValue::Atom: return v.text;
    case ImapValue::Nil: return "NIL";
    case ImapValue::String: {
        QByteArray out = "\"";
        for (const char c : v.text)
            out += c == '\r'               ? QByteArray("\\r")
                   : c == '\n'             ? QByteArray("\\n")
                   : c == '"' || c == '\\' ? QByteArray(1, '\\') + c
                                           : QByteArray(1, c);
        return out + '"';
    }
    case ImapValue::List: {
        QList<QByteArray> items;
        for (const ImapValue &item : v.list)
            items << render(item);
        return '(' + items.join(' ') + ')';
    }
    }
    return "?";
}

// One response in a compact form: tagged and untagged status responses as
// `TAG STATUS [code] "text"`, continuations as `+ "text"`, untagged data as
// `* ` and its values (atoms bare, strings quoted, lists in parentheses).
QByteArray render(const ImapResponse &r)
{
    if (r.kind == ImapResponse::Continuation)
        return "+ \"" + r.text + '"';
    QByteArray out = r.kind == ImapResponse::Tagged ? r.tag : QByteArray("*");
    if (r.isStatus()) {
        out += ' ' + r.status;
        if (!r.code.isEmpty())
            out += " [" + r.code + ']';
        return out + " \"" + r.text + '"';
    }
    for (const ImapValue &v : r.values)
        out += ' ' + render(v);
    return out;
}

QByteArray sampleMessage(int lines)
{
    QByteArray m = "From: Ann <ann@example.org>\r\nSubject: report\r\n\r\n";
    for (int i = 0; i < lines; ++i)
        m += "line " + QByteArray::number(i) + " ) \"quoted\" {12}\r\n";
    // Body text that looks like protocol must stay body text.
    m += "A7 OK not the end\r\n* BYE not a bye\r\n";
    return m;
}

// Virtual size of this process, in bytes.
qint64 virtualSize()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().split(' ').value(0).toLongLong() * 4096;
}

}  // namespace

class TestImapParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void responses_data();
    void responses();
    void accessors();
    void byeAndUnsolicitedDataBetweenResponses();
    void fetchLiteralSplitAtEveryByte();
    void fetchLiteralByteByByteReportsProgress();
    void literalAboveLimitIsAnErrorWithoutAllocation();
    void endlessLineIsAnError();
    void garbageDoesNotCrash();
    void bigStreamsStayLinear();
    void mailboxNamesRoundTrip_data();
    void mailboxNamesRoundTrip();
    void mailboxNameFallbacks();
};

void TestImapParser::responses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");  // render() of each response, one a line
    QTest::newRow("greeting and capability")
        << QByteArray("* OK [CAPABILITY IMAP4rev1 LITERAL+ ID AUTH=PLAIN] Server ready.\r\n"
                      "* CAPABILITY IMAP4rev1 ID IDLE\r\n"
                      "A0001 OK Capability completed.\r\n")
        << QByteArray("* OK [CAPABILITY IMAP4rev1 LITERAL+ ID AUTH=PLAIN] \"Server ready.\"\n"
                      "* CAPABILITY IMAP4rev1 ID IDLE\n"
                      "A0001 OK \"Capability completed.\"");
    QTest::newRow("tagged status with code, any letter case")
        << QByteArray("V0003 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"
                      "V0004 bad Command unknown\r\n"
                      "V0005 OK [READ-WRITE] Select completed (0.001 + 0.000 secs).\r\n"
                      "V0006 NO [BADCHARSET (UTF-8 US-ASCII)] bad [charset] here\r\n")
        << QByteArray("V0003 NO [AUTHENTICATIONFAILED] \"Authentication failed.\"\n"
                      "V0004 BAD \"Command unknown\"\n"
                      "V0005 OK [READ-WRITE] \"Select completed (0.001 + 0.000 secs).\"\n"
                      "V0006 NO [BADCHARSET (UTF-8 US-ASCII)] \"bad [charset] here\"");
    QTest::newRow("continuation requests")
        << QByteArray("+ Ready for literal data\r\n+\r\n+ \r\n+ eyJzIjoiNDAxIn0=\r\n")
        << QByteArray("+ \"Ready for literal data\"\n+ \"\"\n+ \"\"\n"
                      "+ \"eyJzIjoiNDAxIn0=\"");
    QTest::newRow("BYE and untagged data")
        << QByteArray("* 3 EXISTS\r\n* 1 RECENT\r\n* OK [UIDVALIDITY 1700] UIDs valid\r\n* 2 EXPUNGE\r\n"
                      "* BYE Server shutting down.\r\n")
        << QByteArray("* 3 EXISTS\n* 1 RECENT\n* OK [UIDVALIDITY 1700] \"UIDs valid\"\n* 2 EXPUNGE\n"
                      "* BYE \"Server shutting down.\"");
    QTest::newRow("LIST names in every form")
        << QByteArray("* LIST (\\HasNoChildren) \"/\" INBOX\r\n"
                      "* LIST (\\HasChildren \\Noselect) NIL \"Archive\"\r\n"
                      "* LIST () \"/\" {12}\r\nSent \"Items\"\r\n"
                      "* LIST (\\Trash \\HasNoChildren) \".\" \"Deleted Items\"\r\n"
                      "A5 OK List completed.\r\n")
        << QByteArray("* LIST (\\HasNoChildren) \"/\" INBOX\n"
                      "* LIST (\\HasChildren \\Noselect) NIL \"Archive\"\n"
                      "* LIST () \"/\" \"Sent \\\"Items\\\"\"\n"
                      "* LIST (\\Trash \\HasNoChildren) \".\" \"Deleted Items\"\n"
                      "A5 OK \"List completed.\"");
    QTest::newRow("quoted escapes") << QByteArray("* LIST () \"\\\\\" \"a \\\"b\\\" c\\\\d\"\r\n"
                                                  "* ID (\"name\" \"x\" \"empty\" \"\" \"paren\" \"(not a list)\")\r\n")
                                    << QByteArray("* LIST () \"\\\\\" \"a \\\"b\\\" c\\\\d\"\n"
                                                  "* ID (\"name\" \"x\" \"empty\" \"\" \"paren\" \"(not a list)\")");
    QTest::newRow("nested lists and a literal inside")
        << QByteArray("* 12 FETCH (FLAGS (\\Seen $Label1) BODY[HEADER.FIELDS (DATE FROM)] {7}\r\nDate:\r\n"
                      " BODYSTRUCTURE ((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"utf-8\") NIL NIL \"7BIT\" 5 1)"
                      "(\"TEXT\" \"HTML\" NIL NIL NIL \"BASE64\" 10 1) \"ALTERNATIVE\") UID 7001)\r\n")
        << QByteArray("* 12 FETCH (FLAGS (\\Seen $Label1) BODY[HEADER.FIELDS (DATE FROM)] \"Date:\\r\\n\" "
                      "BODYSTRUCTURE ((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"utf-8\") NIL NIL \"7BIT\" 5 1) "
                      "(\"TEXT\" \"HTML\" NIL NIL NIL \"BASE64\" 10 1) \"ALTERNATIVE\") UID 7001)");
    QTest::newRow("empty, non-synchronising and missing literals")
        << QByteArray("* 1 FETCH (BODY[] {0}\r\n)\r\n"
                      "* LIST () \"/\" {3+}\r\nabc\r\n"
                      "* 2 FETCH (BODY[] NIL)\r\n")
        << QByteArray("* 1 FETCH (BODY[] \"\")\n* LIST () \"/\" \"abc\"\n* 2 FETCH (BODY[] NIL)");
    QTest::newRow("body text that looks like protocol")
        << QByteArray("* 1 FETCH (BODY[] {29}\r\nA7 OK not it\r\n* BYE not a bye)\r\nV1 OK done\r\n")
        << QByteArray("* 1 FETCH (BODY[] \"A7 OK not it\\r\\n* BYE not a bye\")\nV1 OK \"done\"");
}

void TestImapParser::responses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    ImapParser p;
    QList<QByteArray> lines;
    for (const ImapResponse &r : parseAll(p, bytes))
        lines << render(r);
    QVERIFY2(!p.hasError(), qPrintable(p.errorText()));
    QCOMPARE(lines.join('\n'), expected);
}

void TestImapParser::accessors()
{
    const auto rs = parseAll("* CAPABILITY IMAP4rev1 ID IDLE\r\n"
                             "* 3 EXISTS\r\n"
                             "* LIST (\\Trash) \".\" x\r\n"
                             "* ID (\"name\" \"x\")\r\n"
                             "* 12 FETCH (FLAGS (\\Seen) BODY[HEADER.FIELDS (DATE FROM)] {7}\r\nDate:\r\n UID 7001)\r\n"
                             "V1 OK done\r\n");
    QCOMPARE(rs.size(), size_t(6));
    QCOMPARE(rs[0].name(), QByteArray("CAPABILITY"));
    QCOMPARE(rs[0].number(), -1);
    QCOMPARE(rs[0].raw, QByteArray("* CAPABILITY IMAP4rev1 ID IDLE"));  // without the CRLF
    QVERIFY(!rs[0].isStatus());
    QCOMPARE(rs[1].name(), QByteArray("EXISTS"));  // after the leading number
    QCOMPARE(rs[1].number(), 3);
    QVERIFY(rs[2].values[1].list[0].isAtom("\\trash"));  // any letter case
    QVERIFY(!rs[2].values[2].isAtom("."));               // a string is no atom
    QVERIFY(!rs[3].values[1].item("name"));              // "name" is a string, not an atom key
    const ImapValue &items = rs[4].values[2];
    QCOMPARE(rs[4].name(), QByteArray("FETCH"));
    QCOMPARE(items.item("FLAGS")->list.size(), size_t(1));
    QCOMPARE(items.item("BODY[HEADER.FIELDS (DATE FROM)]")->text, QByteArray("Date:\r\n"));
    QCOMPARE(items.item("uid")->text, QByteArray("7001"));
    QVERIFY(!items.item("BODY[]"));
    QCOMPARE(rs[5].kind, ImapResponse::Tagged);
    QVERIFY(rs[5].isStatus());
    QCOMPARE(rs[5].name(), QByteArray());
}

void TestImapParser::byeAndUnsolicitedDataBetweenResponses()
{
    ImapParser p;
    auto rs = parseAll(p, "* 3 EXISTS\r\n* 1 RECENT\r\n* OK [UIDVALIDITY 1700] UIDs valid\r\nA2 OK do");
    QCOMPARE(rs.size(), size_t(3));
    QCOMPARE(rs[0].name(), QByteArray("EXISTS"));
    QCOMPARE(rs[0].number(), 3);
    QCOMPARE(rs[1].name(), QByteArray("RECENT"));
    QCOMPARE(rs[2].code, QByteArray("UIDVALIDITY 1700"));
    QVERIFY(!p.hasResponse());  // the tagged line is not complete yet

    rs = parseAll(p, "ne\r\n* 2 EXPUNGE\r\n* BYE Server shutting down.\r\n");
    QCOMPARE(rs.size(), size_t(3));
    QCOMPARE(rs[0].kind, ImapResponse::Tagged);
    QCOMPARE(rs[0].text, QByteArray("done"));
    QCOMPARE(rs[1].name(), QByteArray("EXPUNGE"));
    QCOMPARE(rs[1].number(), 2);
    QCOMPARE(rs[2].status, QByteArray("BYE"));
    QCOMPARE(rs[2].text, QByteArray("Server shutting down."));
}

void TestImapParser::fetchLiteralSplitAtEveryByte()
{
    const QByteArray body = sampleMessage(3);
    const QByteArray stream = "* 2 EXISTS\r\n* 1 FETCH (UID 44 BODY[] {" + QByteArray::number(body.size()) + "}\r\n"
                              + body + " FLAGS (\\Recent))\r\nV0009 OK Fetch completed.\r\n";
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        ImapParser p;
        std::vector<ImapResponse> rs = parseAll(p, stream.left(cut));
        for (auto &r : parseAll(p, stream.mid(cut)))
            rs.push_back(std::move(r));
        QVERIFY2(!p.hasError(), qPrintable(QStringLiteral("cut %1").arg(cut)));
        QCOMPARE(rs.size(), size_t(3));
        QCOMPARE(rs[1].number(), 1);
        const ImapValue *b = rs[1].values[2].item("BODY[]");
        QVERIFY(b);
        QCOMPARE(b->text, body);
        QCOMPARE(rs[1].values[2].item("FLAGS")->list.size(), size_t(1));
        QCOMPARE(rs[2].tag, QByteArray("V0009"));
        QVERIFY(!p.inLiteral());
    }
}

void TestImapParser::fetchLiteralByteByByteReportsProgress()
{
    const QByteArray body = sampleMessage(400);
    const QByteArray head = "* 1 FETCH (BODY[] {" + QByteArray::number(body.size()) + "}\r\n";
    const QByteArray stream = head + body + ")\r\nV1 OK done\r\n";
    ImapParser p;
    qint64 last = -1;
    std::vector<ImapResponse> rs;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        p.feed(stream.constData() + i, 1);
        if (i >= head.size() && i < head.size() + body.size() - 1) {
            QVERIFY(p.inLiteral());
            QCOMPARE(p.literalSize(), body.size());
            QCOMPARE(p.literalReceived(), i - head.size() + 1);
            QVERIFY(p.literalReceived() > last);
            last = p.literalReceived();
        }
        while (p.hasResponse())
            rs.push_back(p.takeResponse());
    }
    QCOMPARE(last, body.size() - 1);  // the last byte completes the literal
    QVERIFY(!p.inLiteral());
    QCOMPARE(rs.size(), size_t(2));
    QCOMPARE(rs[0].values[2].item("BODY[]")->text, body);
}

void TestImapParser::literalAboveLimitIsAnErrorWithoutAllocation()
{
    {
        ImapParser p;
        p.setMaxLiteralBytes(1000);
        parseAll(p, "* 1 FETCH (BODY[] {1000}\r\n");
        QVERIFY(!p.hasError());
        QVERIFY(p.inLiteral());
    }
    {
        ImapParser p;
        p.setMaxLiteralBytes(1000);
        const auto rs = parseAll(p, "* 1 EXISTS\r\n* 1 FETCH (BODY[] {1001}\r\nxxxx");
        QCOMPARE(rs.size(), size_t(1));  // what came before still counts
        QVERIFY(p.hasError());
        QVERIFY(p.errorText().contains(QStringLiteral("1001")));
        QVERIFY(p.errorText().contains(QStringLiteral("limit")));
        // Nothing more comes out once the stream is broken.
        QVERIFY(parseAll(p, ")\r\nV1 OK done\r\n").empty());
        p.reset();
        QVERIFY(!p.hasError());
        QCOMPARE(parseAll(p, "V2 OK again\r\n").size(), size_t(1));
    }
    {
        ImapParser p;  // more digits than any size fits in
        parseAll(p, "* 1 FETCH (BODY[] {99999999999999999999999}\r\n");
        QVERIFY(p.hasError());
    }
    {
        // A forged size just under the default limit: memory grows with the data,
        // not with the announcement.
        ImapParser p;
        const qint64 before = virtualSize();
        parseAll(p, "* 1 FETCH (BODY[] {" + QByteArray::number(ImapParser::kDefaultMaxLiteral) + "}\r\n0123456789");
        QVERIFY(!p.hasError());
        QCOMPARE(p.literalReceived(), 10);
        QCOMPARE(p.literalSize(), ImapParser::kDefaultMaxLiteral);
        if (before > 0)
            QVERIFY2(virtualSize() - before < ImapParser::kDefaultMaxLiteral / 4, "the literal was allocated ahead");
    }
}

void TestImapParser::endlessLineIsAnError()
{
    ImapParser p;
    const QByteArray chunk(1 << 20, 'x');
    for (int i = 0; i < 8 && !p.hasError(); ++i)
        p.feed(chunk);
    QVERIFY(!p.hasError());  // exactly at the limit: still waiting
    p.feed("yy");
    QVERIFY(p.hasError());
    QVERIFY(!p.hasResponse());
}

void TestImapParser::garbageDoesNotCrash()
{
    ImapParser p;
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 7919 + 13) % 256);
    junk += "\r\n)))(((\"\r\n* (((((\r\n* 1 FETCH (BODY[] \"unterminated\r\n[\r\n{}\r\n{x}\r\n";
    p.feed(junk);
    int n = 0;
    while (p.hasResponse()) {
        p.takeResponse();
        ++n;
    }
    QVERIFY(n > 0);
    QVERIFY(!p.hasError());
    // The parser keeps working after nonsense.
    const auto rs = parseAll(p, "V7 OK fine\r\n");
    QCOMPARE(rs.size(), size_t(1));
    QCOMPARE(rs[0].tag, QByteArray("V7"));
    QCOMPARE(rs[0].status, QByteArray("OK"));
}

void TestImapParser::bigStreamsStayLinear()
{
    QElapsedTimer t;
    t.start();
    // A 64 MiB message in 4 KiB pieces.
    const qint64 size = qint64(64) << 20;
    ImapParser p;
    p.feed("* 1 FETCH (BODY[] {" + QByteArray::number(size) + "}\r\n");
    const QByteArray piece(4096, 'm');
    for (qint64 sent = 0; sent < size; sent += piece.size())
        p.feed(piece);
    p.feed(")\r\nV1 OK done\r\n");
    QCOMPARE(p.literalReceived(), 0);
    auto rs = parseAll(p, QByteArray());
    QCOMPARE(rs.size(), size_t(2));
    QCOMPARE(rs[0].values[2].item("BODY[]")->text.size(), size);
    QVERIFY(rs[0].raw.size() < 100);  // the big literal stays out of the raw text

    // 200,000 short responses arriving in one lump, then in odd-sized pieces.
    QByteArray many;
    for (int i = 1; i <= 200000; ++i)
        many += "* " + QByteArray::number(i) + " EXISTS\r\n";
    rs = parseAll(p, many);
    QCOMPARE(rs.size(), size_t(200000));
    QCOMPARE(rs.back().number(), 200000);
    size_t count = 0;
    for (qsizetype at = 0; at < many.size(); at += 4093) {
        p.feed(many.mid(at, 4093));
        while (p.hasResponse()) {
            p.takeResponse();
            ++count;
        }
    }
    QCOMPARE(count, size_t(200000));
    QVERIFY2(t.elapsed() < 20000, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
}

void TestImapParser::mailboxNamesRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("ASCII") << QStringLiteral("INBOX") << QByteArray("INBOX");
    QTest::newRow("umlaut") << QStringLiteral("Entwürfe") << QByteArray("Entw&APw-rfe");
    QTest::newRow("umlaut and blank") << QStringLiteral("Gelöschte Elemente") << QByteArray("Gel&APY-schte Elemente");
    QTest::newRow("ampersand") << QStringLiteral("R&D") << QByteArray("R&-D");
    QTest::newRow("CJK runs") << QStringLiteral("~peter/mail/台北/日本語")
                              << QByteArray("~peter/mail/&U,BTFw-/&ZeVnLIqe-");
    QTest::newRow("one accent") << QStringLiteral("é") << QByteArray("&AOk-");
    QTest::newRow("surrogate pair") << QString::fromUtf8("x\xF0\x9F\x98\x80y") << QByteArray("x&2D3eAA-y");
}

void TestImapParser::mailboxNamesRoundTrip()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, wire);
    QCOMPARE(vc::encodeMailboxName(name), wire);
    QCOMPARE(vc::decodeMailboxName(wire), name);
}

void TestImapParser::mailboxNameFallbacks()
{
    // UTF-8 from a server that does not encode, and broken encodings, read as UTF-8.
    QCOMPARE(vc::decodeMailboxName(QByteArray("Entw\xC3\xBCrfe")), QStringLiteral("Entwürfe"));
    QCOMPARE(vc::decodeMailboxName("a&Jjo"), QStringLiteral("a&Jjo"));
    QCOMPARE(vc::decodeMailboxName("a&$$-"), QStringLiteral("a&$$-"));
    QCOMPARE(vc::encodeMailboxName(QString()), QByteArray());
}

QTEST_APPLESS_MAIN(TestImapParser)
#include "test_imap_parser.moc"
