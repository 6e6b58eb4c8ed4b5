#pragma once
#include "mail/ImapFailure.h"
#include "mail/ImapParser.h"

#include <QObject>
#include <QSslCertificate>
#include <QStringList>

#include <optional>

class QSslSocket;

namespace vc {

// The line to an IMAP server: a QSslSocket, and the parser that turns the bytes
// it reads into complete responses. TLS certificates are always verified
// against the system's CAs plus those of the CA file, and the server's name
// must match (a handshake that the CA file alone vouches for needs no more).
// A broken line or stream is reported once, with its kind, and leaves the
// closing to the owner.
class ImapConnection : public QObject {
    Q_OBJECT
public:
    // What the connection tells its owner, on the owner's thread. Any of these
    // may close the connection; `received` and `readChunk` may even destroy it.
    class Receiver {
    public:
        virtual void received(ImapResponse &r) = 0;
        // A chunk of bytes has been read and its complete responses handed out.
        virtual void readChunk() = 0;
        // The server did something: the TCP or TLS connection is up, bytes came.
        virtual void heard() = 0;
        // The socket failed or the server closed the connection.
        virtual void dropped(const ImapFault &fault) = 0;
        // The stream cannot be read on; `failedAt` is the message number of the
        // response that broke it, when it says one (else -1).
        virtual void garbled(const ImapFault &fault, qint64 failedAt) = 0;

    protected:
        ~Receiver() = default;
    };

    explicit ImapConnection(Receiver &receiver, QObject *parent = nullptr);
    ~ImapConnection() override;

    // Starts connecting; the server's greeting comes as the first response. A
    // fault when that cannot even start (no TLS here, an unusable CA file).
    std::optional<ImapFault> open(const QString &host, int port, bool ssl, const QString &caFile,
                                  qint64 maxLiteralBytes);
    // Lets go of the socket and forgets the stream. Safe from inside the
    // socket's own notifications (the socket then goes once they are over).
    void close();
    // What has been written goes to the operating system now, without waiting.
    void flush();
    bool isOpen() const { return socket_ != nullptr; }
    void write(const QByteArray &bytes);
    // Reads what already waits in the socket's buffer.
    void readPending();

    // The response being read (for progress reports), and the message number it
    // starts with ("* 7 FETCH (BODY[] {...": 7), else -1.
    const ImapParser &parser() const { return parser_; }
    qint64 pendingMessageNumber() const;
    // The reasons the server's certificate was refused at the last open (QSslError texts).
    QStringList certificateErrors() const { return sslErrors_; }

    // The most the socket keeps read and not yet handed to the parser: one
    // response's budget and a margin. Once that much waits (while a handler of
    // a response runs the event loop, say), the socket stops reading and the
    // server waits.
    static constexpr qint64 kReadMargin = qint64(1) << 20;
    // Read from the socket in pieces of at most this many bytes.
    static constexpr qint64 kReadPiece = qint64(4) << 20;
    qint64 readBufferLimit() const { return parser_.maxResponseBytes() + kReadMargin; }
    // What the socket holds read and not yet handed to the parser.
    qint64 bufferedBytes() const;

    // Test hook: stands in for the system's CA certificates where a handshake
    // trusts them together with a CA file (an empty list: the system's again).
    static void overrideSystemCaCertificates(const QList<QSslCertificate> &cas);

private:
    // Whom a handshake trusts: nobody (no TLS), the system's CAs (no CA file),
    // the CA file alone (the first handshake with one), or both.
    enum class Trust { None, System, CaFileFirst, SystemAndCaFile };

    std::optional<ImapFault> trust(const QString &caFile);
    const QList<QSslCertificate> &allCas();
    void startSocket(Trust trust);
    // After the CA file alone did not vouch for the server: a new handshake
    // with the system's CAs too. False when that is not the case.
    bool retryWithAllCas();
    void dropSocket();  // lets go of the socket, as close() does, the parser kept
    void readSocket();
    void socketError();
    void socketClosed();

    Receiver &receiver_;
    QSslSocket *socket_ = nullptr;
    ImapParser parser_;
    QStringList sslErrors_;
    bool reading_ = false;
    QString host_;
    int port_ = 0;
    Trust trustNow_ = Trust::None;
    // The CA file's certificates, and the system's plus the file's once a
    // handshake needed them; kept between opens for the same CA file.
    QList<QSslCertificate> caFileCas_;
    QList<QSslCertificate> allCas_;
    QString caFileFor_;
    bool caFileLoaded_ = false;
};

}  // namespace vc
