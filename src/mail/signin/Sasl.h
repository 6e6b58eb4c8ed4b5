#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// The SASL messages of our IMAP sign-in, as pure functions. Each builder returns
// the raw message (the caller base64-encodes it for the wire) or an empty array
// when an argument cannot be sent safely (a control character in the user name,
// a token that is not a bearer token, ...).
namespace vc::sasl {

// XOAUTH2: "user=" user "\x01auth=Bearer " token "\x01\x01".
QByteArray xoauth2(const QString &user, const QString &token);

// OAUTHBEARER (RFC 7628): the GS2 header "n,a=<user>," followed by host, port and
// auth key-value pairs, each ended by \x01, and a final \x01. An empty host leaves
// out host and port.
QByteArray oauthBearer(const QString &user, const QString &token, const QString &host, int port);

// PLAIN (RFC 4616) without an authorisation identity: "\0" user "\0" password.
QByteArray plain(const QString &user, const QString &password);

// True when `token` can go into the messages above without changing their
// structure: one or more visible ASCII characters.
bool isBearerToken(const QString &token);

// The JSON error a server sends as its last challenge when it refuses a token
// (RFC 7628 section 3.2.2; Gmail and Outlook send the same for XOAUTH2).
struct ErrorChallenge {
    bool valid = false;  // false: not base64 JSON, or not an object
    QString status;      // "invalid_token", "401", ...
    QString scope;
    QString schemes;
};
ErrorChallenge decodeErrorChallenge(const QByteArray &base64);

// A short reason for the last-error text, e.g. "the server refused the token
// (status invalid_token, scope mail)". Never contains the token.
QString describe(const ErrorChallenge &challenge);

// The mechanism for a bearer token among the server's capabilities ("AUTH=..."
// items, upper case): OAUTHBEARER, else XOAUTH2, else an empty text.
QByteArray tokenMechanism(const QStringList &capabilities);
// True when the server takes bearer tokens at all.
bool offersTokens(const QStringList &capabilities);

}  // namespace vc::sasl
