#pragma once
#include "core/Dialogs.h"

#include <QPointer>
#include <QWidget>

namespace vc {

class SignInCodeBox;

// Qt's own dialogs behind the program's Dialogs interface.
class GuiDialogs : public Dialogs {
public:
    // Boxes and dialogs are centred on the window the user works in: the
    // active one, else `window` (the main window), also when the program is
    // not the active application.
    void setMainWindow(QWidget *window) { mainWindow_ = window; }

    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString saveFileName(const QString &title, const QString &filter) override;
    // Qt's save dialog in the request's folder with its name proposed. The
    // commands ask their own question before replacing a file.
    SaveFileChoice saveFile(const SaveFileRequest &request) override;
    QStringList openFileNames(const QString &title, const QString &filter) override;
    QString folderName(const QString &title) override;
    bool openUrl(const QUrl &url) override;
    void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                        std::function<void()> cancel) override;
    void closeSignInCode() override;

private:
    QWidget *parentWindow() const;
    QPointer<QWidget> mainWindow_;
    QPointer<SignInCodeBox> codeBox_;
};

// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|" -> Qt's ";;"-separated filter.
QString qtFilter(const QString &pipeFilter);

}  // namespace vc
