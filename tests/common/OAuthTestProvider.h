#pragma once
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

#include <memory>

namespace vc::test {

// The OAuth 2.0 provider stand-in (scripts/oauth-provider.py): either an
// instance of the test's own, or the one the test server started beside
// Dovecot (whose tokens Dovecot accepts).
class OAuthTestProvider {
public:
    ~OAuthTestProvider();
    // A fresh instance on a free port; nullptr when it did not start.
    static std::unique_ptr<OAuthTestProvider> start();
    // The test server's instance, reset; nullptr when the server is not running.
    static std::unique_ptr<OAuthTestProvider> ofTestServer();

    int port() const { return port_; }
    QString base() const;                                                        // http://127.0.0.1:<port>
    QString authority() const { return base() + QStringLiteral("/consumers"); }  // Microsoft-shaped
    // Sends one control command (see the script); false when it was not taken.
    bool control(const QJsonObject &command);
    // Every request the provider saw; those to one endpoint ("token", "devicecode", ...).
    QJsonArray log();
    QList<QJsonObject> requests(const QString &endpoint);

private:
    OAuthTestProvider() = default;
    QProcess process_;
    int port_ = 0;
};

}  // namespace vc::test
