#include "app/PasswordKeeper.h"

#include "core/Product.h"
#include "mail/signin/TokenStore.h"

namespace vc {

namespace {
TokenStore *g_replacement = nullptr;
}

PasswordKeeper::PasswordKeeper(std::function<void(const QString &)> notice) : notice_(std::move(notice)) {}

PasswordKeeper::~PasswordKeeper() = default;

QString PasswordKeeper::key(const QString &host, int port, const QString &account)
{
    return QStringLiteral("password:%1:%2:%3").arg(host.trimmed().toLower()).arg(port).arg(account.trimmed().toLower());
}

QString PasswordKeeper::unavailableText()
{
    return QStringLiteral("No keychain service is running, so the password cannot be remembered: it is kept only "
                          "until %1 ends, and has to be typed again at the next start.")
        .arg(product::kAppTitle);
}

void PasswordKeeper::useStore(TokenStore *store)
{
    g_replacement = store;
}

TokenStore &PasswordKeeper::store()
{
    if (g_replacement)
        return *g_replacement;
    if (!keychain_)
        keychain_ = std::make_unique<KeychainTokenStore>([this](const QString &) {
            if (notice_)
                notice_(unavailableText());
        });
    return *keychain_;
}

QString PasswordKeeper::load(const QString &host, int port, const QString &account)
{
    return store().load(key(host, port, account));
}

void PasswordKeeper::save(const QString &host, int port, const QString &account, const QString &password)
{
    if (password.isEmpty())
        remove(host, port, account);
    else
        store().save(key(host, port, account), password);
}

void PasswordKeeper::remove(const QString &host, int port, const QString &account)
{
    if (g_replacement) {
        g_replacement->remove(key(host, port, account));
        return;
    }
    if (keychain_ && !keychain_->available())
        return;
    KeychainTokenStore quiet;
    quiet.remove(key(host, port, account));
}

}  // namespace vc
