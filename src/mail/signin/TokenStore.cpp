#include "mail/signin/TokenStore.h"

#include "core/Product.h"
#include "mail/signin/OAuthProviders.h"
#include "mail/signin/SignInWait.h"

#include <QEventLoop>
#include <QPointer>

#include <qt6keychain/keychain.h>

namespace vc {

namespace {

bool g_noticeGiven = false;

// Runs a keychain job to its end (or the time-out); false when it did not finish.
bool runJob(QKeychain::Job *job, int timeoutMs)
{
    bool finished = false;
    const QMetaObject::Connection done =
        QObject::connect(job, &QKeychain::Job::finished, job, [&finished] { finished = true; });
    job->setAutoDelete(false);
    job->start();
    const WaitOutcome outcome = waitUntil(
        [&finished] { return finished; }, timeoutMs, {},
        [job](QEventLoop &loop) { QObject::connect(job, &QKeychain::Job::finished, &loop, &QEventLoop::quit); });
    QObject::disconnect(done);
    return outcome == WaitOutcome::Done;
}

}  // namespace

QString tokenStoreKey(const QString &provider, const QString &authority, const QString &clientId,
                      const QString &account)
{
    return QStringLiteral("oauth2:%1:%2:%3:%4")
        .arg(provider, normalisedAuthority(authority), clientId, account.trimmed().toLower());
}

QString legacyTokenStoreKey(const QString &provider, const QString &clientId, const QString &account)
{
    return QStringLiteral("oauth2:%1:%2:%3").arg(provider, clientId, account.trimmed().toLower());
}

KeychainTokenStore::KeychainTokenStore(std::function<void(const QString &)> notice, int timeoutMs)
    : notice_(std::move(notice)), timeoutMs_(timeoutMs)
{}

QString KeychainTokenStore::unavailableText()
{
    return QStringLiteral("No keychain service is running, so the sign-in cannot be remembered; it is kept "
                          "only until %1 ends.")
        .arg(product::kAppTitle);
}

bool KeychainTokenStore::noticeGiven()
{
    return g_noticeGiven;
}

void KeychainTokenStore::resetNotice()
{
    g_noticeGiven = false;
}

void KeychainTokenStore::unavailable()
{
    available_ = false;
    // A store without a notice (one that only forgets) leaves the notice to
    // the next store that has one.
    if (!g_noticeGiven && notice_) {
        g_noticeGiven = true;
        notice_(unavailableText());
    }
}

QString KeychainTokenStore::load(const QString &key)
{
    if (!available_)
        return {};
    auto *job = new QKeychain::ReadPasswordJob(product::kAppTitle);
    job->setKey(key);
    QString token;
    if (!runJob(job, timeoutMs_)) {
        unavailable();
    } else if (job->error() == QKeychain::NoError) {
        token = job->textData();
    } else if (job->error() != QKeychain::EntryNotFound) {
        unavailable();
    }
    job->deleteLater();
    return token;
}

void KeychainTokenStore::save(const QString &key, const QString &token)
{
    if (!available_)
        return;
    auto *job = new QKeychain::WritePasswordJob(product::kAppTitle);
    job->setKey(key);
    job->setTextData(token);
    if (!runJob(job, timeoutMs_))
        unavailable();
    else if (job->error() != QKeychain::NoError)
        unavailable();
    job->deleteLater();
}

void KeychainTokenStore::remove(const QString &key)
{
    if (!available_)
        return;
    auto *job = new QKeychain::DeletePasswordJob(product::kAppTitle);
    job->setKey(key);
    if (!runJob(job, timeoutMs_))
        unavailable();
    else if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
        unavailable();
    job->deleteLater();
}

}  // namespace vc
