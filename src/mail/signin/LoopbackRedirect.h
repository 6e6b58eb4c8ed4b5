#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

namespace vc {

// Receives the browser's redirect at the end of a sign-in (RFC 8252): listens
// on 127.0.0.1 (and ::1 on the same port where it can) on a free port, takes
// the first request for "/" that carries a code or an error, answers the
// browser with a short page saying it may be closed, and stops listening.
// Requests for other paths get 404 and change nothing. Requests are read up
// to 16 KiB; a connection that sends no complete request within 10 s is dropped.
class LoopbackRedirect : public QObject {
    Q_OBJECT
public:
    struct Answer {
        QString code;
        QString state;
        QString error;  // the provider's error code ("access_denied", ...)
        QString errorDescription;
        bool stateMatches = false;
    };

    explicit LoopbackRedirect(QObject *parent = nullptr);
    ~LoopbackRedirect() override;

    // False with *error set when no loopback port could be opened.
    bool listen(QString *error);
    quint16 port() const { return port_; }
    // "http://<host>:<port>/" ("localhost" or "127.0.0.1").
    QUrl redirectUri(const QString &host) const;
    // The state the answer must carry; a different one is refused.
    void setExpectedState(const QByteArray &state) { state_ = state; }

    bool hasAnswer() const { return answered_; }
    Answer answer() const { return answer_; }
    void close();

    // Pages shown in the browser.
    static QString donePage();
    static QString failedPage(const QString &why);

Q_SIGNALS:
    void answered();

private:
    void accept(QTcpServer *server);
    void readRequest(QTcpSocket *socket);
    void respond(QTcpSocket *socket, int status, const QString &page);

    QList<QTcpServer *> servers_;
    quint16 port_ = 0;
    QByteArray state_;
    bool answered_ = false;
    Answer answer_;
};

}  // namespace vc
