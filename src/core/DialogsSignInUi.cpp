#include "core/DialogsSignInUi.h"

#include "core/Dialogs.h"

namespace vc {

bool DialogsSignInUi::openUrl(const QUrl &url)
{
    return dialogs().openUrl(url);
}

void DialogsSignInUi::showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                     std::function<void()> cancel)
{
    dialogs().showSignInCode(message, code, address, std::move(cancel));
}

void DialogsSignInUi::closeSignInCode()
{
    dialogs().closeSignInCode();
}

void DialogsSignInUi::notice(const QString &text)
{
    dialogs().messageBox(text, BoxButtons::Ok, BoxIcon::Information, QString());
}

}  // namespace vc
