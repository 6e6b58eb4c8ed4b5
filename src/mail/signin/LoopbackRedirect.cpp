#include "mail/signin/LoopbackRedirect.h"

#include "core/Product.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace vc {

namespace {

constexpr qint64 kMaxRequestBytes = 16 * 1024;
constexpr int kRequestTimeoutMs = 10000;
constexpr int kBindAttempts = 20;

QString page(const QString &heading, const QString &text)
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                          "<body style=\"font-family:sans-serif;margin:3em\"><h2>%2</h2><p>%3</p></body></html>")
        .arg(product::kAppTitle.toHtmlEscaped(), heading.toHtmlEscaped(), text.toHtmlEscaped());
}

}  // namespace

LoopbackRedirect::LoopbackRedirect(QObject *parent) : QObject(parent) {}

LoopbackRedirect::~LoopbackRedirect()
{
    close();
}

QString LoopbackRedirect::donePage()
{
    return page(QStringLiteral("Signed in"),
                QStringLiteral("You can close this window and return to %1.").arg(product::kAppTitle));
}

QString LoopbackRedirect::failedPage(const QString &why)
{
    return page(QStringLiteral("Sign-in not completed"), why + QStringLiteral(" You can close this window."));
}

bool LoopbackRedirect::listen(QString *error, Families families)
{
    close();
    answered_ = false;
    answer_ = Answer();
    // "localhost" may resolve to ::1 or to 127.0.0.1, whichever the browser
    // likes: both must answer on the one port of the redirect address. When
    // ::1 is taken on the port that 127.0.0.1 got, another port is tried.
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        auto *v4 = new QTcpServer(this);
        const quint16 wanted = attempt < portCandidates_.size() ? portCandidates_[attempt] : 0;
        if (!v4->listen(QHostAddress::LocalHost, wanted)) {
            const QString why = v4->errorString();
            delete v4;
            if (wanted != 0)
                continue;
            *error = QStringLiteral("could not listen on 127.0.0.1: %1").arg(why);
            return false;
        }
        port_ = v4->serverPort();
        servers_ << v4;
        if (families == Families::Both) {
            auto *v6 = new QTcpServer(this);
            if (v6->listen(QHostAddress::LocalHostIPv6, port_)) {
                servers_ << v6;
            } else {
                const QAbstractSocket::SocketError e = v6->serverError();
                delete v6;
                // A system without IPv6 has no ::1 that a browser could reach.
                const bool noIpv6 = e == QAbstractSocket::UnsupportedSocketOperationError
                                    || e == QAbstractSocket::SocketAddressNotAvailableError;
                if (!noIpv6) {
                    close();
                    continue;
                }
            }
        }
        for (QTcpServer *s : std::as_const(servers_))
            connect(s, &QTcpServer::newConnection, this, [this, s] { accept(s); });
        return true;
    }
    *error = QStringLiteral("could not listen on one port of both 127.0.0.1 and ::1 after %1 tries").arg(kBindAttempts);
    return false;
}

QUrl LoopbackRedirect::redirectUri(const QString &host) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    url.setPort(port_);
    url.setPath(QStringLiteral("/"));
    return url;
}

void LoopbackRedirect::close()
{
    for (QTcpServer *s : std::as_const(servers_)) {
        s->close();
        s->deleteLater();
    }
    servers_.clear();
}

void LoopbackRedirect::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        // The listener stops as soon as it has its answer; the page it sent on
        // that connection must still reach the browser, so connections live on
        // by themselves until they close (or time out).
        socket->setParent(nullptr);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void LoopbackRedirect::readRequest(QTcpSocket *socket)
{
    QByteArray seen = socket->property("vc_request").toByteArray();
    seen += socket->readAll();
    socket->setProperty("vc_request", seen);
    const qsizetype end = seen.indexOf("\r\n\r\n");
    if (end < 0) {
        if (seen.size() > kMaxRequestBytes)
            respond(socket, 431, failedPage(QStringLiteral("The request was too large.")));
        return;
    }
    // Request line: METHOD SP request-target SP HTTP-version
    const QList<QByteArray> line = seen.left(seen.indexOf("\r\n")).split(' ');
    if (line.size() != 3 || line[0] != "GET" || !line[1].startsWith('/') || !line[2].startsWith("HTTP/1.")) {
        respond(socket, 400, failedPage(QStringLiteral("The request was not understood.")));
        return;
    }
    const QUrl target = QUrl::fromEncoded(line[1]);
    // The query is form-encoded: a bare "+" is a space (a "+" itself comes as %2B).
    const QUrlQuery query(target.query(QUrl::FullyEncoded).replace(QLatin1Char('+'), QStringLiteral("%20")));
    const bool callback =
        target.path() == QLatin1String("/")
        && (query.hasQueryItem(QStringLiteral("code")) || query.hasQueryItem(QStringLiteral("error")));
    if (!callback || answered_) {
        respond(socket, 404, failedPage(QStringLiteral("There is nothing here.")));
        return;
    }
    // Only the answer with this sign-in's state counts. Anything else (another
    // page on this computer that found the port, a stale tab) is refused, and
    // the listener keeps waiting for the real one.
    Answer a;
    a.code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    a.state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    a.error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    a.errorDescription = query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded);
    a.stateMatches = !state_.isEmpty() && a.state == QString::fromLatin1(state_);
    if (!a.stateMatches) {
        ++refused_;
        respond(socket, 400,
                failedPage(QStringLiteral("This answer does not belong to the sign-in that %1 started, so it "
                                          "was refused.")
                               .arg(product::kAppTitle)));
        return;
    }
    if (!a.error.isEmpty())
        respond(socket, 200,
                failedPage(QStringLiteral("The sign-in was refused: %1.")
                               .arg(a.errorDescription.isEmpty() ? a.error : a.errorDescription)));
    else
        respond(socket, 200, donePage());
    answered_ = true;
    answer_ = a;
    close();
    Q_EMIT answered();
}

void LoopbackRedirect::respond(QTcpSocket *socket, int status, const QString &text)
{
    static const QHash<int, QByteArray> reasons{
        {200, "OK"}, {400, "Bad Request"}, {404, "Not Found"}, {431, "Request Header Fields Too Large"}};
    const QByteArray body = text.toUtf8();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status) + "\r\n";
    head += "Content-Type: text/html; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    socket->write(head + body);
    socket->disconnectFromHost();
}

}  // namespace vc
