#pragma once
#include <QString>

#include <functional>

namespace vc {

// Where refresh tokens persist between runs of the program. Keys name a
// provider and an account; values are refresh tokens. Access tokens are
// never stored.
class TokenStore {
public:
    virtual ~TokenStore() = default;
    // The stored token, or empty when there is none (or the store cannot be read).
    virtual QString load(const QString &key) = 0;
    virtual void save(const QString &key, const QString &token) = 0;
    virtual void remove(const QString &key) = 0;
};

// The system keychain through QtKeychain (Secret Service, Credential Manager,
// Keychain), under the service name "Vellumcast". Every call waits in a local
// event loop for at most `timeoutMs`. When no keychain service answers, the
// store says so once per program run through `notice` and behaves as empty
// from then on (callers keep their tokens in memory).
class KeychainTokenStore : public TokenStore {
public:
    explicit KeychainTokenStore(std::function<void(const QString &)> notice = {}, int timeoutMs = 15000);
    QString load(const QString &key) override;
    void save(const QString &key, const QString &token) override;
    void remove(const QString &key) override;

    bool available() const { return available_; }
    // The text of that notice.
    static QString unavailableText();
    // Whether the notice was given in this run already.
    static bool noticeGiven();
    // Forgets that the notice was given (tests).
    static void resetNotice();

private:
    void unavailable();

    std::function<void(const QString &)> notice_;
    int timeoutMs_;
    bool available_ = true;
};

// The key of an account's refresh token:
// "oauth2:<provider>:<authority>:<client id>:<account>" (the authority
// normalised, the account in lower case). A token is only ever sent back to
// the authority that issued it.
QString tokenStoreKey(const QString &provider, const QString &authority, const QString &clientId,
                      const QString &account);
// The key earlier versions used, without the authority:
// "oauth2:<provider>:<client id>:<account>".
QString legacyTokenStoreKey(const QString &provider, const QString &clientId, const QString &account);

}  // namespace vc
