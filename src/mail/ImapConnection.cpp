#include "mail/ImapConnection.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>

namespace vc {

namespace {

// The message number of a response head "* 7 FETCH (...", else -1.
qint64 headNumber(const QByteArray &head)
{
    if (!head.startsWith("* "))
        return -1;
    qsizetype end = 2;
    while (end < head.size() && head[end] >= '0' && head[end] <= '9')
        ++end;
    if (end == 2 || end > 12)
        return -1;
    return head.mid(2, end - 2).toLongLong();
}

ImapFailure kindOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError: return ImapFailure::HostNotFound;
    case QAbstractSocket::ConnectionRefusedError: return ImapFailure::Refused;
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError: return ImapFailure::Unreachable;
    case QAbstractSocket::RemoteHostClosedError: return ImapFailure::ClosedByServer;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError: return ImapFailure::TlsRejected;
    default: return ImapFailure::Network;
    }
}

}  // namespace

ImapConnection::ImapConnection(Receiver &receiver, QObject *parent) : QObject(parent), receiver_(receiver) {}

ImapConnection::~ImapConnection()
{
    close();
}

qint64 ImapConnection::pendingMessageNumber() const
{
    return headNumber(parser_.pendingHead());
}

qint64 ImapConnection::bufferedBytes() const
{
    return socket_ ? socket_->bytesAvailable() : 0;
}

namespace {

QList<QSslCertificate> g_systemCasOverride;

}  // namespace

void ImapConnection::overrideSystemCaCertificates(const QList<QSslCertificate> &cas)
{
    g_systemCasOverride = cas;
}

std::optional<ImapFault> ImapConnection::trust(const QString &caFile)
{
    if (!QSslSocket::supportsSsl())
        return ImapFault{ImapFailure::Local, QStringLiteral("TLS is not available on this system")};
    // A run connects more than once: the CA file is read once, and so is the
    // system's CA bundle when a handshake needs it with the file.
    if (caFileLoaded_ && caFileFor_ == caFile)
        return std::nullopt;
    QList<QSslCertificate> fileCas;
    if (!caFile.isEmpty()) {
        fileCas = QSslCertificate::fromPath(caFile, QSsl::Pem);
        if (fileCas.isEmpty())
            return ImapFault{ImapFailure::Local,
                             QStringLiteral("no certificate could be read from the CA file %1").arg(caFile)};
    }
    caFileCas_ = std::move(fileCas);
    caFileFor_ = caFile;
    caFileLoaded_ = true;
    allCas_.clear();
    return std::nullopt;
}

const QList<QSslCertificate> &ImapConnection::allCas()
{
    // Reading and parsing the system's CA bundle costs tens of milliseconds.
    if (allCas_.isEmpty())
        allCas_ = (g_systemCasOverride.isEmpty() ? QSslConfiguration::systemCaCertificates() : g_systemCasOverride)
                  + caFileCas_;
    return allCas_;
}

std::optional<ImapFault> ImapConnection::open(const QString &host, int port, bool ssl, const QString &caFile,
                                              qint64 maxLiteralBytes)
{
    close();
    sslErrors_.clear();
    parser_.setMaxLiteralBytes(maxLiteralBytes);
    if (ssl) {
        if (std::optional<ImapFault> fault = trust(caFile))
            return fault;
    }
    host_ = host;
    port_ = port;
    // With a CA file the first handshake trusts that file alone: when it
    // vouches for the server, as it is there to, the system's CA bundle is
    // never read. When it does not, the handshake is made again with the
    // system's CAs and the file's together (retryWithAllCas).
    startSocket(!ssl ? Trust::None : caFile.isEmpty() ? Trust::System : Trust::CaFileFirst);
    return std::nullopt;
}

void ImapConnection::startSocket(Trust trust)
{
    auto *s = new QSslSocket(this);
    socket_ = s;
    trustNow_ = trust;
    s->setReadBufferSize(readBufferLimit());
    connect(s, &QSslSocket::readyRead, this, &ImapConnection::readSocket);
    connect(s, &QSslSocket::errorOccurred, this, &ImapConnection::socketError);
    connect(s, &QSslSocket::disconnected, this, &ImapConnection::socketClosed);
    connect(s, &QSslSocket::connected, this, [this] { receiver_.heard(); });
    connect(s, &QSslSocket::encrypted, this, [this] { receiver_.heard(); });
    connect(s, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        sslErrors_.clear();
        for (const QSslError &e : errors)
            sslErrors_ << e.errorString();
    });
    if (trust == Trust::None) {
        s->connectToHost(host_, quint16(port_));
        return;
    }
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    if (trust == Trust::CaFileFirst)
        conf.setCaCertificates(caFileCas_);
    else if (trust == Trust::SystemAndCaFile)
        conf.setCaCertificates(allCas());
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    s->setSslConfiguration(conf);
    s->connectToHostEncrypted(host_, quint16(port_));
}

bool ImapConnection::retryWithAllCas()
{
    if (trustNow_ != Trust::CaFileFirst || sslErrors_.isEmpty())
        return false;
    dropSocket();
    sslErrors_.clear();
    startSocket(Trust::SystemAndCaFile);
    return true;
}

void ImapConnection::close()
{
    dropSocket();
    parser_.reset();
}

void ImapConnection::dropSocket()
{
    if (socket_) {
        QSslSocket *s = socket_;
        socket_ = nullptr;
        // The socket may be in the middle of emitting a signal: let it finish
        // before it goes, and do not let our own destruction delete it early.
        s->disconnect(this);
        s->setParent(nullptr);
        if (reading_) {
            // Called from inside the socket's own read notification: aborting
            // now would pull its buffers from under the caller further up.
            QMetaObject::invokeMethod(
                s,
                [s] {
                    s->abort();
                    s->deleteLater();
                },
                Qt::QueuedConnection);
        } else {
            s->abort();
            s->deleteLater();
        }
    }
}

void ImapConnection::flush()
{
    if (socket_)
        socket_->flush();
}

void ImapConnection::write(const QByteArray &bytes)
{
    if (socket_)
        socket_->write(bytes);
}

void ImapConnection::readPending()
{
    if (socket_ && !reading_ && socket_->bytesAvailable() > 0)
        readSocket();
}

void ImapConnection::readSocket()
{
    if (reading_)
        return;
    reading_ = true;
    QPointer<ImapConnection> self(this);
    while (socket_ && socket_->bytesAvailable() > 0) {
        // Everything that waits, read straight to where the parser keeps it.
        for (qint64 left = socket_->bytesAvailable(); left > 0;) {
            qsizetype room = 0;
            char *to = parser_.room(qsizetype(qMin<qint64>(left, kReadPiece)), &room);
            const qint64 got = to ? socket_->read(to, room) : 0;
            parser_.filled(qsizetype(qMax<qint64>(0, got)));
            if (got <= 0)
                break;
            left -= got;
        }
        receiver_.heard();
        while (parser_.hasResponse()) {
            ImapResponse r = parser_.takeResponse();
            receiver_.received(r);
            if (!self)
                return;
        }
        if (parser_.hasError()) {
            // A literal or a whole response over its limit is too large; a line
            // without end or lists without end break the protocol.
            const bool tooLarge = parser_.error() == ImapParser::Error::LiteralTooLarge
                                  || parser_.error() == ImapParser::Error::ResponseTooLarge;
            const ImapFault fault{tooLarge ? ImapFailure::TooLarge : ImapFailure::Protocol, parser_.errorText()};
            receiver_.garbled(fault, headNumber(parser_.errorLine()));
            break;
        }
        receiver_.readChunk();
        if (!self)
            return;
    }
    reading_ = false;
}

void ImapConnection::socketError()
{
    if (!socket_ || retryWithAllCas())
        return;
    ImapFault fault;
    if (!sslErrors_.isEmpty()) {
        fault = {ImapFailure::TlsRejected,
                 QStringLiteral("the server's certificate was not accepted: ") + sslErrors_.join(QStringLiteral("; "))};
    } else if (socket_->error() == QAbstractSocket::RemoteHostClosedError) {
        fault = {ImapFailure::ClosedByServer, QStringLiteral("the connection was closed by the server")};
    } else {
        fault = {kindOf(socket_->error()), socket_->errorString()};
    }
    receiver_.dropped(fault);
}

void ImapConnection::socketClosed()
{
    if (!socket_ || retryWithAllCas())
        return;
    receiver_.dropped({ImapFailure::ClosedByServer, QStringLiteral("the connection was closed by the server")});
}

}  // namespace vc
