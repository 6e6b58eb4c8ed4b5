#pragma once
#include "FakeImap.h"
#include "MemoryKeychain.h"
#include "ScriptedDialogs.h"
#include "StoredSettings.h"
#include "app/Form1.h"
#include "app/PasswordKeeper.h"

#include <memory>

namespace vc::test {

// The keychain of the windows below: one for the whole test program, so
// that a window started after another finds what the first remembered.
inline MemoryKeychain &windowKeychain()
{
    static MemoryKeychain k;
    return k;
}

// A main window on a fake component; `fake` is the instance start-up created:
// the account alice@live.com with password "secret" and the five folders,
// empty until `setUp` fills them. Remembered passwords go to windowKeychain().
struct Window {
    std::unique_ptr<Form1> form;
    FakeImap *fake = nullptr;

    explicit Window(std::function<void(FakeImap &)> setUp = {})
    {
        Form1::setComponentFactory([this, setUp](const ConnectionConfig &) {
            auto f = std::make_unique<FakeImap>();
            f->user = QStringLiteral("alice@live.com");
            f->password = QStringLiteral("secret");
            f->addStandardFolders();
            if (setUp)
                setUp(*f);
            fake = f.get();
            return std::unique_ptr<ImapComponent>(std::move(f));
        });
        Form1Options o;
        o.onlineCheck = false;
        // The fake stands in for the Outlook.com server, whose accounts sign in
        // with OAuth 2.0 unless told otherwise: these windows use passwords.
        o.connection.signIn.method = SignInMethod::Password;
        PasswordKeeper::useStore(&windowKeychain());
        form = std::make_unique<Form1>(o);
    }
    ~Window()
    {
        form.reset();
        PasswordKeeper::useStore(nullptr);
        Form1::setComponentFactory({});
    }
    Form1 *operator->() const { return form.get(); }
    Form1 &operator*() const { return *form; }
};

}  // namespace vc::test
