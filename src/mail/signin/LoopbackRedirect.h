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
// on a free port of 127.0.0.1 (and of ::1 on that same port, for a "localhost"
// redirect), takes the first request for "/" that carries a code or an error
// together with the expected state, answers the browser with a short page
// saying it may be closed, and stops listening. A request with another state
// or none, or one that is not a well-formed GET, gets 400; requests for other
// paths get 404; neither changes anything, and the listener goes on waiting.
// Requests are read up to 16 KiB; a connection that sends no complete request
// within 10 s is dropped.
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

    // Where the redirect must be received: 127.0.0.1 only (a redirect address
    // of "127.0.0.1"), or 127.0.0.1 and ::1 on one port ("localhost").
    enum class Families { Ipv4Only, Both };
    // False with *error set when no loopback port could be opened. Without
    // IPv6 on the system, Both listens on 127.0.0.1 alone.
    bool listen(QString *error, Families families = Families::Both);
    // The ports to try first, in order, before letting the system choose (tests).
    void setPortCandidates(const QList<quint16> &ports) { portCandidates_ = ports; }
    quint16 port() const { return port_; }
    // "http://<host>:<port>/" ("localhost" or "127.0.0.1").
    QUrl redirectUri(const QString &host) const;
    // The state the answer must carry; a different one is refused.
    void setExpectedState(const QByteArray &state) { state_ = state; }

    bool hasAnswer() const { return answered_; }
    // How many answers were refused for a missing or wrong state.
    int refusedAnswers() const { return refused_; }
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
    int refused_ = 0;
    Answer answer_;
    QList<quint16> portCandidates_;
};

}  // namespace vc
