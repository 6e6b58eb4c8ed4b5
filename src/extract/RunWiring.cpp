#include "extract/RunWiring.h"

#include "core/AppError.h"
#include "core/Dialogs.h"

namespace vc {

std::shared_ptr<clsChilkatIMAP> setUpConnection(RunHost &host)
{
    const Account a = host.account();
    if (!a.component)
        raise(err::ObjectNotSet);
    auto c = std::make_shared<clsChilkatIMAP>();
    c->setChilkatIMAPObject(a.component);
    c->setSSL(true);
    c->setPORT(a.config.port);
    c->setIMAPServer(a.config.host);
    c->setUsername(a.username);
    c->setPassword(a.password);
    c->setErrorLogPath(a.errorLogPath);
    c->setTokenHint(a.tokenHint);
    if (a.signIn)
        c->setSignIn(a.signIn, [&host](const QString &text) { host.showSignInStatus(text); });

    // The object is the context of its own connections: they end with it.
    clsChilkatIMAP *raw = c.get();
    raw->setStopRequest([&host] { return host.stopRequested(); });
    QObject::connect(raw, &clsChilkatIMAP::MailExtractListing, raw, [&host, raw](const MailRecord &message) {
        const ListingTarget target = host.listing();
        listMessage(message, target.members, target.params, target.results);
        host.messageListed(*raw);
        raw->noteStopRequest();
    });
    QObject::connect(raw, &clsChilkatIMAP::ScrapProgress, raw, [&host, raw](int percent) {
        raw->noteStopRequest();
        host.showProgress({percent, raw->CurrentLocation(), raw->MaxRecord(), progressText(*raw)});
    });
    return c;
}

void RunHost::sayDone(const QString &shortfall)
{
    dialogs().messageBox(shortfall.isEmpty() ? QStringLiteral("Done.") : QStringLiteral("Done.\r") + shortfall,
                         BoxButtons::Ok, BoxIcon::None, runWindowTitle());
}

QString progressText(const clsChilkatIMAP &c)
{
    return QStringLiteral("Reading mail %1 of %2").arg(c.CurrentLocation()).arg(c.MaxRecord());
}

QString accountName(const QString &nameBox, const QString &suffixCombo)
{
    if (suffixCombo.startsWith(QLatin1Char('@')))
        return nameBox + suffixCombo;
    return nameBox;
}

}  // namespace vc
