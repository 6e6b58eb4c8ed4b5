#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <optional>

// A fake IMAP server on 127.0.0.1 (plain TCP) for what a real server will not
// do on demand: stall, drop the line, send nonsense. It works in one of two ways:
//
// - From its mailbox: it answers the usual commands from `messages` and
//   `listLines`; a handler per verb replaces an answer.
// - From scripts: connection k plays `scripts[k]`, a dialogue written one step
//   a line (leading blanks ignored; blank lines and "# ..." skipped):
//       S: text     the server sends text and CRLF
//       P: text     the server sends text alone (part of a line, a cut-off literal)
//       C: text     the server waits for the client's next line and expects exactly text
//       DELAY ms    the server waits this long before the next step
//       DROP        the server closes the connection
//   In text, \r \n \t \\ and \xHH stand for those bytes, and {{name}} for
//   a literal of `literals[name]` ("{size}" CRLF and the bytes). The client's
//   lines are what it sends split at each CRLF, so a literal that the client
//   sends is a line of its own. The first line that differs ends the dialogue
//   (and the connection); scriptError() says what went wrong.
class FakeImapServer : public QObject {
    Q_OBJECT
public:
    // tag, the arguments after the verb
    using Handler = std::function<void(const QByteArray &tag, const QByteArray &args)>;

    FakeImapServer();
    quint16 port() const { return server_.serverPort(); }

    QByteArray greeting = "* OK Fake IMAP ready.\r\n";
    QByteArray capability = "IMAP4rev1 ID";
    QList<QByteArray> messages;           // message n is messages[n - 1]
    QList<QByteArray> listLines;          // "* LIST ..." lines without CRLF
    QHash<QByteArray, Handler> handlers;  // by verb in upper case ("LOGIN", "UID FETCH")
    int literalPieces = 1;                // FETCH literals go out in this many pieces...
    int pieceDelayMs = 0;                 // ...this far apart
    int latencyMs = 0;                    // every answer leaves this much later (order kept)
    QSet<int> missing;                    // FETCH never answers these (tagged OK all the same)
    QSet<int> missingInRanges;            // ...or only when asked for in a range
    // Sequence numbers of a FETCH argument ("3", "2:9", "4:*", "1,3:5"); empty when malformed.
    QList<int> sequenceSet(const QByteArray &set) const;

    QList<QByteArray> commands;  // every command received, literals inline, no tag
    QList<int> unanswered;       // for each of them: earlier commands whose tagged answer
                                 // had not gone out yet (> 0: the client pipelined it)
    int connections = 0;

    int count(const QByteArray &verb) const;
    QByteArray last(const QByteArray &verb) const;
    void send(const QByteArray &bytes);
    void sendInPieces(const QByteArray &bytes, int pieces, int delayMs);
    void drop();
    QByteArray fetchResponse(int n, const QByteArray &extra = {}) const;

    // Scripted dialogues, one per connection in order.
    QList<QByteArray> scripts;
    QHash<QByteArray, QByteArray> literals;  // by name, for {{name}} in scripts
    QList<QByteArray> clientLines;           // every line the client sent on scripted connections
    // Empty when every script was played to its end and nothing else came from
    // the client; else what went wrong, one problem a line.
    QString scriptError() const;

private:
    struct Step {
        enum Kind { Send, Expect, Delay, Drop };
        Kind kind = Send;
        QByteArray bytes;
        int ms = 0;
        int line = 0;       // in the script, from 1
        QByteArray source;  // the script line
    };
    struct Player {
        int script = 0;
        QList<Step> steps;
        qsizetype at = 0;
        QList<QByteArray> lines;  // received, not yet expected
        bool delaying = false;
    };
    QList<Step> parseScript(const QByteArray &text, QString *error) const;
    QByteArray unescape(const QByteArray &text, QString *error) const;
    void startScript(int index);
    void advance();
    void scriptData();

private:
    void onConnection();
    void onData();
    void dispatch(const QByteArray &command);

    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    void write(const QByteArray &bytes);

    bool scripted_ = false;  // the current connection plays a script
    std::optional<Player> player_;
    QList<qsizetype> played_;  // per script: steps done
    QStringList problems_;

    QByteArray buf_;
    QByteArray current_;
    int answered_ = 0;
    qint64 literalLeft_ = 0;
};
