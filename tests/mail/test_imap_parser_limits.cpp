// The response parser against hostile streams: nesting depth, the byte budget of
// one response, and streams cut into pieces of every size.
#include "mail/ImapParser.h"

#include <QtTest>

using vc::ImapParser;
using vc::ImapResponse;
using vc::ImapValue;

namespace {

QByteArray repeated(const QByteArray &piece, qsizetype times)
{
    QByteArray out;
    out.reserve(piece.size() * times);
    for (qsizetype i = 0; i < times; ++i)
        out += piece;
    return out;
}

// A FETCH line nested `depth` levels deep, closed again.
QByteArray nested(int depth)
{
    return "* 1 FETCH " + QByteArray(depth, '(') + "X" + QByteArray(depth, ')') + "\r\n";
}

// One response that carries literal after literal, each `size` bytes, until
// `total` bytes are on the wire.
QByteArray endlessLiterals(qint64 size, qint64 total)
{
    QByteArray out = "* 3 FETCH (BODY[1] ";
    const QByteArray data(size, 'L');
    while (out.size() < total)
        out += "{" + QByteArray::number(size) + "}\r\n" + data + " BODY[2] ";
    return out;
}

struct Outcome {
    std::vector<ImapResponse> responses;
    QString error;
    QByteArray errorLine;
};

Outcome feedInPieces(const QByteArray &stream, qint64 maxLiteral, qsizetype piece)
{
    ImapParser p;
    if (maxLiteral > 0)
        p.setMaxLiteralBytes(maxLiteral);
    Outcome out;
    for (qsizetype at = 0; at < stream.size() && !p.hasError(); at += piece) {
        p.feed(stream.mid(at, piece));
        while (p.hasResponse())
            out.responses.push_back(p.takeResponse());
    }
    out.error = p.errorText();
    out.errorLine = p.errorLine();
    return out;
}

int depthOf(const ImapValue &v)
{
    int depth = 0;
    for (const ImapValue *at = &v; at->kind == ImapValue::List && !at->list.empty(); at = &at->list.front())
        ++depth;
    return depth;
}

}  // namespace

class TestImapParserLimits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostileStreams_data();
    void hostileStreams();
    void nestingUpToTheLimitIsKept();
    void budgetIsPerResponse();
    void brokenStreamStaysBroken();
};

void TestImapParserLimits::hostileStreams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<qint64>("maxLiteral");  // 0: the default
    QTest::addColumn<int>("responses");      // complete responses before the failure
    QTest::addColumn<QString>("error");      // part of the error text; empty: none
    QTest::addColumn<QByteArray>("errorLine");

    const qint64 line = ImapParser::kMaxLineLength;
    for (const qsizetype piece : {qsizetype(1) << 24, qsizetype(4093), qsizetype(1)}) {
        const QByteArray tag = " / pieces of " + QByteArray::number(piece);
        if (piece > 1) {
            QTest::newRow("100,000 open parentheses" + tag)
                << "* 1 EXISTS\r\n* 1 FETCH " + QByteArray(100000, '(') + "\r\n"
                << qint64(0) << 1 << "nested deeper than 256" << QByteArray("* 1 FETCH ((((");
            QTest::newRow("deep nesting after a literal" + tag)
                << "* 2 FETCH (BODY[] {3}\r\nabc " + repeated("(", 5000) + ")\r\n"
                << qint64(0) << 0 << "nested deeper" << QByteArray("* 2 FETCH (BODY[] ");
            QTest::newRow("endless 1 KiB literals" + tag)
                << endlessLiterals(1024, line + 64 * 1024) << qint64(1024) << 0 << "response of more than"
                << QByteArray("* 3 FETCH (BODY[1] ");
            QTest::newRow("endless empty literals" + tag)
                << endlessLiterals(0, line) << qint64(1024) << 0 << "response of more than"
                << QByteArray("* 3 FETCH (BODY[1] ");
            // Whole or in pieces, a line one byte too long fails the same way.
            QTest::newRow("line over the limit" + tag)
                << "* 1 EXISTS\r\n* 6 FETCH (X " + QByteArray(line - 11, 'x') + ")\r\n"
                << qint64(0) << 1 << "line longer than" << QByteArray("* 6 FETCH (X xxx");
            QTest::newRow("line at the limit" + tag) << "* 6 FETCH (X " + QByteArray(line - 14, 'x') + ")\r\n"
                                                     << qint64(0) << 1 << "" << QByteArray();
            QTest::newRow("long lines between literals" + tag)
                << "* 4 FETCH (A {1}\r\nx" + QByteArray(line - 1000, 'a') + " B {1}\r\ny" + QByteArray(line / 2, 'b')
                       + "\r\n"
                << qint64(1024) << 0 << "response of more than" << QByteArray("* 4 FETCH (A ");
        }
        QTest::newRow("257 levels" + tag)
            << nested(257) << qint64(0) << 0 << "nested deeper than 256" << QByteArray("* 1 FETCH ((((");
        QTest::newRow("unbalanced closers" + tag) << "* 1 FETCH " + QByteArray(300, ')') + "\r\nA1 OK x\r\n"
                                                  << qint64(0) << 2 << "" << QByteArray();
        QTest::newRow("literal one byte over the limit" + tag)
            << QByteArray("* 1 EXISTS\r\n* 5 FETCH (X {3}\r\nabc BODY[] {1025}\r\n") << qint64(1024) << 1
            << "more than the limit" << QByteArray("* 5 FETCH (X ");
    }
}

// Each hostile stream fails with a clear error and keeps what came before it,
// however it is cut into pieces.
void TestImapParserLimits::hostileStreams()
{
    QFETCH(QByteArray, stream);
    QFETCH(qint64, maxLiteral);
    QFETCH(QString, error);
    QFETCH(QByteArray, errorLine);
    const qsizetype piece = QByteArray(QTest::currentDataTag()).split(' ').last().toLongLong();
    const Outcome out = feedInPieces(stream, maxLiteral, piece);
    QTEST(int(out.responses.size()), "responses");
    if (error.isEmpty()) {
        QVERIFY2(out.error.isEmpty(), qPrintable(out.error));
        return;
    }
    QVERIFY2(out.error.contains(error), qPrintable(out.error));
    QVERIFY2(out.errorLine.startsWith(errorLine), out.errorLine.constData());
}

void TestImapParserLimits::nestingUpToTheLimitIsKept()
{
    const Outcome out = feedInPieces(nested(256) + "A1 OK done\r\n", 0, 4096);
    QVERIFY2(out.error.isEmpty(), qPrintable(out.error));
    QCOMPARE(out.responses.size(), size_t(2));
    const ImapResponse &r = out.responses[0];
    QCOMPARE(r.name(), QByteArray("FETCH"));
    QCOMPARE(depthOf(r.values[2]), 256);
    QCOMPARE(out.responses[1].status, QByteArray("OK"));
}

// A response as large as the budget allows is followed by others of the same size.
void TestImapParserLimits::budgetIsPerResponse()
{
    ImapParser p;
    p.setMaxLiteralBytes(1 << 20);
    const QByteArray message(1 << 20, 'm');
    const QByteArray flags = "FLAGS (" + QByteArray(ImapParser::kMaxLineLength / 2, 'f') + ") ";
    QByteArray stream;
    for (int n = 1; n <= 3; ++n)
        stream += "* " + QByteArray::number(n) + " FETCH (" + flags + "BODY[] {" + QByteArray::number(message.size())
                  + "}\r\n" + message + ")\r\n";
    stream += "A9 OK done\r\n";
    for (qsizetype at = 0; at < stream.size(); at += 65521)
        p.feed(stream.mid(at, 65521));
    QVERIFY2(!p.hasError(), qPrintable(p.errorText()));
    int fetches = 0;
    while (p.hasResponse()) {
        const ImapResponse r = p.takeResponse();
        if (r.name() == "FETCH") {
            ++fetches;
            QCOMPARE(r.values[2].item("BODY[]")->text.size(), message.size());
        }
    }
    QCOMPARE(fetches, 3);
}

void TestImapParserLimits::brokenStreamStaysBroken()
{
    ImapParser p;
    p.feed(nested(1000));
    QVERIFY(p.hasError());
    p.feed("A1 OK done\r\n");
    QVERIFY(!p.hasResponse());
    p.reset();
    p.feed("A2 OK again\r\n");
    QVERIFY(p.hasResponse());
    QCOMPARE(p.takeResponse().tag, QByteArray("A2"));
}

QTEST_GUILESS_MAIN(TestImapParserLimits)
#include "test_imap_parser_limits.moc"
