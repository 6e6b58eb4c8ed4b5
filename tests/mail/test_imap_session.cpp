// The command and wait layer on its own, against scripted dialogues: commands
// that answer server challenges (the shape SASL sign-in needs), pipelined
// commands sharing one tag counter, and untagged bookkeeping.
#include "FakeImapServer.h"
#include "mail/ImapSession.h"

#include <QtTest>

using vc::ImapCommand;
using vc::ImapFailure;
using vc::ImapResponse;
using vc::ImapSession;

namespace {

constexpr qint64 kMaxLiteral = 1 << 20;

}  // namespace

class TestImapSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { server = std::make_unique<FakeImapServer>(); }

    void challengesAnsweredAtRunTime();
    void challengeWithoutAnswerGivesUp_data();
    void challengeWithoutAnswerGivesUp();
    void pipelinedCommandsShareTheTagCounter();
    void untaggedBookkeeping();

private:
    bool open(ImapSession &session);
    std::unique_ptr<FakeImapServer> server;
};

bool TestImapSession::open(ImapSession &session)
{
    return session.open(QStringLiteral("Connect"), QStringLiteral("127.0.0.1"), server->port(), false, QString(),
                        kMaxLiteral)
           == ImapSession::Outcome::Ok;
}

void TestImapSession::challengesAnsweredAtRunTime()
{
    server->scripts = {R"(
        S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=PLAIN SASL-IR] ready
        # An error challenge is answered with an empty line; the server then refuses.
        C: V0001 AUTHENTICATE XOAUTH2 dXNlcj1h
        S: + eyJzdGF0dXMiOiI0MDEifQ==
        C:
        S: V0001 NO [AUTHENTICATIONFAILED] Invalid credentials
        # The continuation form: the client's answer is computed from the challenge.
        C: V0002 AUTHENTICATE PLAIN
        S: +
        C: AHVzZXIAcHc=
        S: V0002 OK [CAPABILITY IMAP4rev1 IDLE] Logged in
        # A synchronising literal first, then a challenge.
        C: V0003 X-TEST {3}
        S: + go ahead
        C: abc
        S: + more please
        C: answer to more please
        S: V0003 OK done
    )"};
    ImapSession session;
    QVERIFY(open(session));
    QVERIFY(session.hasCapability("SASL-IR"));

    QList<QByteArray> challenges;
    ImapCommand xoauth("AUTHENTICATE XOAUTH2 dXNlcj1h");
    xoauth.answerChallenge = [&](const QByteArray &challenge) {
        challenges << challenge;
        return std::optional<QByteArray>(QByteArray());
    };
    QCOMPARE(session.run(QStringLiteral("AUTHENTICATE"), xoauth), ImapSession::Outcome::Failed);
    QCOMPARE(session.lastError(), QStringLiteral("AUTHENTICATE failed: NO [AUTHENTICATIONFAILED] Invalid credentials"));
    QCOMPARE(session.lastFailure(), ImapFailure::Refusal);
    QCOMPARE(challenges, QList<QByteArray>{"eyJzdGF0dXMiOiI0MDEifQ=="});
    QVERIFY(session.isOpen());

    ImapCommand plain("AUTHENTICATE PLAIN");
    plain.answerChallenge = [](const QByteArray &challenge) {
        return challenge.isEmpty() ? std::optional<QByteArray>(QByteArray("\0user\0pw", 8).toBase64()) : std::nullopt;
    };
    QCOMPARE(session.run(QStringLiteral("AUTHENTICATE"), plain), ImapSession::Outcome::Ok);
    QCOMPARE(session.lastError(), QStringLiteral("AUTHENTICATE: OK"));
    QCOMPARE(session.lastFailure(), ImapFailure::None);
    QVERIFY(session.hasCapability("IDLE"));  // the capabilities of the tagged answer

    ImapCommand mixed("X-TEST {3}");
    mixed.pieces << "abc";  // sent after the go-ahead
    mixed.answerChallenge = [](const QByteArray &challenge) {
        return std::optional<QByteArray>("answer to " + challenge);
    };
    QCOMPARE(session.run(QStringLiteral("X-TEST"), mixed), ImapSession::Outcome::Ok);
    QCOMPARE(server->scriptError(), QString());
}

void TestImapSession::challengeWithoutAnswerGivesUp_data()
{
    QTest::addColumn<bool>("withCallback");
    QTest::newRow("no callback") << false;
    QTest::newRow("callback gives up") << true;
}

void TestImapSession::challengeWithoutAnswerGivesUp()
{
    QFETCH(bool, withCallback);
    server->scripts = {R"(
        S: * OK ready
        C: V0001 CAPABILITY
        S: * CAPABILITY IMAP4rev1
        S: V0001 OK done
        C: V0002 AUTHENTICATE PLAIN
        S: + go on
    )"};
    ImapSession session;
    QVERIFY(open(session));
    QCOMPARE(session.run(QStringLiteral("CAPABILITY"), ImapCommand("CAPABILITY")), ImapSession::Outcome::Ok);
    ImapCommand c("AUTHENTICATE PLAIN");
    if (withCallback)
        c.answerChallenge = [](const QByteArray &) { return std::optional<QByteArray>(); };
    QCOMPARE(session.run(QStringLiteral("AUTHENTICATE"), c), ImapSession::Outcome::Failed);
    QCOMPARE(session.lastError(),
             QStringLiteral("AUTHENTICATE failed: the server asked for data the command does not have"));
    QCOMPARE(session.lastFailure(), ImapFailure::Protocol);
    QVERIFY(!session.isOpen());
    QCOMPARE(server->scriptError(), QString());
}

void TestImapSession::pipelinedCommandsShareTheTagCounter()
{
    server->scripts = {R"(
        S: * PREAUTH [CAPABILITY IMAP4rev1] ready
        C: V0001 NOOP
        C: V0002 NOOP
        C: V0003 CHECK
        S: V0001 OK one
        S: V0002 OK two
        S: V0003 OK three
    )"};
    ImapSession session;
    QVERIFY(open(session));
    QList<QByteArray> others;
    session.hooks.claim = [&](ImapResponse &r) {
        if (r.kind != ImapResponse::Tagged || r.tag == "V0003")
            return false;
        others << r.tag;
        return true;
    };
    QCOMPARE(session.send("NOOP"), QByteArray("V0001"));
    QCOMPARE(session.send("NOOP"), QByteArray("V0002"));
    ImapResponse tagged;
    QCOMPARE(session.run(QStringLiteral("CHECK"), ImapCommand("CHECK"), {}, &tagged), ImapSession::Outcome::Ok);
    QCOMPARE(tagged.text, QByteArray("three"));
    QCOMPARE(others, (QList<QByteArray>{"V0001", "V0002"}));
    QCOMPARE(server->scriptError(), QString());
}

void TestImapSession::untaggedBookkeeping()
{
    server->scripts = {R"(
        S: * OK [CAPABILITY IMAP4rev1 LITERAL+] ready
        C: V0001 SELECT INBOX
        S: * 7 EXISTS
        S: V0001 OK [READ-WRITE] done
        C: V0002 NOOP
        S: * 9 EXISTS
        S: * 3 EXPUNGE
        S: * CAPABILITY IMAP4rev1 IDLE
        S: V0002 OK done
        C: V0003 NOOP
        S: * BYE going down
        DROP
    )"};
    ImapSession session;
    QVERIFY(open(session));
    QVERIFY(session.hasCapability("LITERAL+"));
    qint64 exists = 0;
    const auto onExists = [&exists](ImapResponse &r) {
        if (r.name() == "EXISTS")
            exists = r.number();
    };
    QCOMPARE(session.run(QStringLiteral("SELECT INBOX"), ImapCommand("SELECT INBOX"), onExists),
             ImapSession::Outcome::Ok);
    QCOMPARE(session.exists(), 0);  // counted only once a mailbox is selected
    session.setSelected(QStringLiteral("INBOX"), exists);
    QCOMPARE(session.exists(), 7);
    QCOMPARE(session.run(QStringLiteral("NOOP"), ImapCommand("NOOP")), ImapSession::Outcome::Ok);
    QCOMPARE(session.exists(), 8);
    QCOMPARE(session.capabilities(), (QStringList{QStringLiteral("IMAP4REV1"), QStringLiteral("IDLE")}));
    // The server says BYE and drops the line: the waiting command names the BYE.
    QCOMPARE(session.run(QStringLiteral("NOOP"), ImapCommand("NOOP")), ImapSession::Outcome::Failed);
    QCOMPARE(session.lastError(),
             QStringLiteral("NOOP failed: the connection was closed by the server (BYE going down)"));
    QCOMPARE(session.lastFailure(), ImapFailure::ClosedByServer);
    QVERIFY(!session.isOpen());
    QVERIFY(session.selected().isEmpty());
    QCOMPARE(session.exists(), 0);
    QCOMPARE(server->scriptError(), QString());
}

QTEST_GUILESS_MAIN(TestImapSession)
#include "test_imap_session.moc"
