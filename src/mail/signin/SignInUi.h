#pragma once
#include <QString>
#include <QUrl>

#include <functional>

namespace vc {

// What a sign-in asks of the person signing in. The program that runs the
// sign-in (the window, the command-line program) implements it and hands it
// to the sign-in session; the sign-in itself never shows anything.
class SignInUi {
public:
    virtual ~SignInUi() = default;

    // Opens `url` in the system's web browser; false when none could be started.
    virtual bool openUrl(const QUrl &url) = 0;
    // Shows, without waiting, how to finish the sign-in on another device or
    // in a browser of one's own: the provider's message, the code to enter
    // (may be empty) and the address. It stays until closeSignInCode();
    // `cancel` runs when the user gives up through it.
    virtual void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                std::function<void()> cancel) = 0;
    virtual void closeSignInCode() = 0;
    // Something the user is told once (there is no keychain service).
    virtual void notice(const QString &text) = 0;
};

}  // namespace vc
