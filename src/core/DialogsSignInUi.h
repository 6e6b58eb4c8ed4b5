#pragma once
#include "mail/signin/SignInUi.h"

namespace vc {

// The sign-in's questions through the program's dialogs: the browser, the
// sign-in code box and notices go to whatever Dialogs is installed (the
// window's boxes, the terminal's standard error, a test's script). The hosts
// hand it to a sign-in session; the session itself never shows anything.
class DialogsSignInUi : public SignInUi {
public:
    bool openUrl(const QUrl &url) override;
    void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                        std::function<void()> cancel) override;
    void closeSignInCode() override;
    void notice(const QString &text) override;
};

}  // namespace vc
