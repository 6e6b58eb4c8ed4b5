#pragma once
#include "ScriptedBrowser.h"
#include "core/Dialogs.h"
#include "mail/signin/SignInUi.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vc::test {

// A Dialogs that never shows anything: it records every box and answers from a
// script (queued answers first, then the defaults). Installs itself for its
// lifetime. As a sign-in's UI it records the same way (a notice is an
// information box).
class ScriptedDialogs : public Dialogs, public SignInUi {
public:
    struct Box {
        enum Kind { Message, Input, SaveFile, OpenFiles, Folder } kind = Message;
        QString text, title;
        BoxButtons buttons = BoxButtons::Ok;
        BoxIcon icon = BoxIcon::None;
        QString folder = QString();        // where a save dialog opens
        QString proposedName = QString();  // the name it proposes
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString saveFileName(const QString &title, const QString &filter) override;
    SaveFileChoice saveFile(const SaveFileRequest &request) override;
    QStringList openFileNames(const QString &title, const QString &filter) override;
    QString folderName(const QString &title) override;
    bool openUrl(const QUrl &url) override;
    void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                        std::function<void()> cancel) override;
    void closeSignInCode() override;
    void notice(const QString &text) override;

    QList<BoxAnswer> answers;      // for message boxes with Yes/No (default: No)
    QStringList inputs;            // for input boxes (default: empty = Cancel)
    QStringList saveNames;         // for save dialogs (default: cancel)
    QList<int> saveFilters;        // the filter chosen with each save name (default: the first)
    QList<QStringList> openNames;  // for open dialogs (default: cancel)
    QStringList folderNames;       // for folder dialogs (default: cancel)

    // Sign-in: openUrl answers `browserOpens`; with `playBrowser` the browser
    // follows the address (see ScriptedBrowser). A sign-in code box is recorded
    // and, with `enterSignInCodes`, the code is entered on the provider's page
    // with `signInCodeAction` ("approve" or "deny").
    bool browserOpens = true;
    bool playBrowser = false;
    bool enterSignInCodes = false;
    QString signInCodeAction = QStringLiteral("approve");
    ScriptedBrowser browser;
    QList<QUrl> openedUrls;
    struct SignInCode {
        QString message, code;
        QUrl address;
        bool open = true;
    };
    QList<SignInCode> signInCodes;
    std::function<void()> cancelSignIn;  // the open code box's cancel, if any

    QList<Box> boxes;                      // everything shown, in order
    QStringList texts() const;             // the texts of the message boxes, in order
    int count(const QString &text) const;  // message boxes with exactly this text
    void clear() { boxes.clear(); }

private:
    Dialogs *previous_ = nullptr;
};

// A sign-in UI that hands everything to the Dialogs installed when it is used
// (the test's ScriptedDialogs), as the programs' own UIs do.
SignInUi &installedDialogsUi();

}  // namespace vc::test
