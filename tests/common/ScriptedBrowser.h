#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace vc::test {

// Plays the user's web browser in sign-in tests: follows an address through
// its redirects (GET, Location headers) down to the program's loopback
// listener, without waiting: the program's own wait loop lets it run.
class ScriptedBrowser : public QObject {
    Q_OBJECT
public:
    explicit ScriptedBrowser(QObject *parent = nullptr);
    ~ScriptedBrowser() override;

    void open(const QUrl &url);
    // What a person does on the device-code page: enters `code` there and
    // approves (or denies) the sign-in as `login` (empty: the provider's default user).
    void enterCode(const QUrl &address, const QString &code, const QString &action = QStringLiteral("approve"),
                   const QString &login = QString());
    // Rewrites each address before it is followed (e.g. to tamper with a redirect).
    std::function<QUrl(const QUrl &)> rewrite;

    QList<QUrl> visited;  // every address requested, in order
    QString lastPage;     // the body of the last answer that was not a redirect
    int lastStatus = 0;
    int finished = 0;  // visits that reached a page

Q_SIGNALS:
    void pageLoaded();

private:
    void get(const QUrl &url, int hops);
    void arrived(QNetworkReply *reply, int hops);

    QNetworkAccessManager *nam_;
};

}  // namespace vc::test
