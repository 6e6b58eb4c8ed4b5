#pragma once
#include <QString>

#include <functional>
#include <memory>

namespace vc {

class KeychainTokenStore;
class TokenStore;

// Where the main window remembers a password when "Remember me" is ticked:
// the system keychain (QtKeychain, service "Vellumcast"), one entry per server
// and account, never the settings file. Where no keychain service runs it says
// so once per run through `notice` and remembers nothing: the password then
// lives only in the window until the program ends.
class PasswordKeeper {
public:
    explicit PasswordKeeper(std::function<void(const QString &)> notice);
    ~PasswordKeeper();
    PasswordKeeper(const PasswordKeeper &) = delete;
    PasswordKeeper &operator=(const PasswordKeeper &) = delete;

    // The remembered password, or empty.
    QString load(const QString &host, int port, const QString &account);
    void save(const QString &host, int port, const QString &account, const QString &password);
    // Forgets the entry; without a keychain this says nothing.
    void remove(const QString &host, int port, const QString &account);

    // "password:<host>:<port>:<account>", host and account in lower case.
    static QString key(const QString &host, int port, const QString &account);
    // The notice given when no keychain service runs.
    static QString unavailableText();
    // Makes every keeper use `store` instead of the system keychain (tests);
    // null goes back to the keychain. Not owned.
    static void useStore(TokenStore *store);

private:
    TokenStore &store();

    std::function<void(const QString &)> notice_;
    std::unique_ptr<KeychainTokenStore> keychain_;
};

}  // namespace vc
