#include "extract/RunWiring.h"

#include "core/AppError.h"
#include "extract/ErrorLog.h"
#include "mail/signin/OAuthSession.h"

namespace vc {

std::shared_ptr<clsChilkatIMAP> setUpConnection(RunHost &host)
{
    Account a = host.account();
    if (!a.component)
        raise(err::ObjectNotSet);
    if (a.signIn) {
        a.signIn->status = [&host](const QString &text) { host.showSignInStatus(text); };
        // The token command's messages go to the fetch log only; a log that
        // cannot be written changes nothing for the sign-in.
        a.signIn->log = [path = a.errorLogPath](const QString &text) {
            try {
                errorlog::append(path, text);
            } catch (const AppError &) {}
        };
    }
    auto c = std::make_shared<clsChilkatIMAP>(std::move(a));
    c->setStopRequest([&host] { return host.stopRequested(); });
    return c;
}

QString accountName(const QString &nameBox, const QString &suffixCombo)
{
    if (suffixCombo.startsWith(QLatin1Char('@')))
        return nameBox + suffixCombo;
    return nameBox;
}

}  // namespace vc
