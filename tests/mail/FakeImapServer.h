#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A scripted IMAP server on 127.0.0.1 (plain TCP) for what a real server will
// not do on demand: stall, drop the line, send nonsense. It answers the usual
// commands from its mailbox; a handler per verb replaces an answer.
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

private:
    void onConnection();
    void onData();
    void dispatch(const QByteArray &command);

    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    void write(const QByteArray &bytes);

    QByteArray buf_;
    QByteArray current_;
    int answered_ = 0;
    qint64 literalLeft_ = 0;
};
