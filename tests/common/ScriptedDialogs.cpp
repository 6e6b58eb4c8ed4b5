#include "ScriptedDialogs.h"

#include "core/DialogsSignInUi.h"

namespace vc::test {

ScriptedDialogs::ScriptedDialogs()
{
    previous_ = setDialogs(this);
}
ScriptedDialogs::~ScriptedDialogs()
{
    setDialogs(previous_);
}

BoxAnswer ScriptedDialogs::messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title)
{
    boxes.append({Box::Message, text, title, buttons, icon});
    if (buttons == BoxButtons::Ok)
        return BoxAnswer::Ok;
    return answers.isEmpty() ? BoxAnswer::No : answers.takeFirst();
}

QString ScriptedDialogs::inputBox(const QString &prompt, const QString &title, const QString &)
{
    boxes.append({Box::Input, prompt, title});
    return inputs.isEmpty() ? QString() : inputs.takeFirst();
}

QString ScriptedDialogs::saveFileName(const QString &title, const QString &filter)
{
    boxes.append({Box::SaveFile, filter, title});
    return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
}

SaveFileChoice ScriptedDialogs::saveFile(const SaveFileRequest &request)
{
    Box box{Box::SaveFile, request.filter, request.title};
    box.folder = request.folder;
    box.proposedName = request.proposedName;
    boxes.append(box);
    SaveFileChoice choice;
    choice.path = saveNames.isEmpty() ? QString() : saveNames.takeFirst();
    choice.filter = saveFilters.isEmpty() ? 0 : saveFilters.takeFirst();
    return choice;
}

QStringList ScriptedDialogs::openFileNames(const QString &title, const QString &filter)
{
    boxes.append({Box::OpenFiles, filter, title});
    return openNames.isEmpty() ? QStringList() : openNames.takeFirst();
}

QString ScriptedDialogs::folderName(const QString &title)
{
    boxes.append({Box::Folder, QString(), title});
    return folderNames.isEmpty() ? QString() : folderNames.takeFirst();
}

bool ScriptedDialogs::openUrl(const QUrl &url)
{
    openedUrls << url;
    if (browserOpens && playBrowser)
        browser.open(url);
    return browserOpens;
}

void ScriptedDialogs::showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                     std::function<void()> cancel)
{
    signInCodes.append({message, code, address, true});
    cancelSignIn = std::move(cancel);
    if (enterSignInCodes && !code.isEmpty())
        browser.enterCode(address, code, signInCodeAction);
    else if (enterSignInCodes && playBrowser)
        browser.open(address);
}

void ScriptedDialogs::closeSignInCode()
{
    if (!signInCodes.isEmpty())
        signInCodes.last().open = false;
    cancelSignIn = nullptr;
}

void ScriptedDialogs::notice(const QString &text)
{
    messageBox(text, BoxButtons::Ok, BoxIcon::Information, QString());
}

SignInUi &installedDialogsUi()
{
    static DialogsSignInUi forward;
    return forward;
}

QStringList ScriptedDialogs::texts() const
{
    QStringList out;
    for (const Box &b : boxes)
        if (b.kind == Box::Message)
            out << b.text;
    return out;
}

int ScriptedDialogs::count(const QString &text) const
{
    return int(texts().count(text));
}

}  // namespace vc::test
