#pragma once
#include "FakeImap.h"
#include "ScriptedDialogs.h"
#include "StoredSettings.h"
#include "app/Form1.h"

#include <memory>

namespace vc::test {

// A main window on a fake component; `fake` is the instance start-up created:
// the account alice@live.com with password "secret" and the five folders,
// empty until `setUp` fills them.
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
        form = std::make_unique<Form1>(o);
    }
    ~Window() { Form1::setComponentFactory({}); }
    Form1 *operator->() const { return form.get(); }
    Form1 &operator*() const { return *form; }
};

}  // namespace vc::test
