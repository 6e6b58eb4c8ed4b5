#include "app/GuiDialogs.h"

#include "app/SignInCodeBox.h"
#include "core/Product.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include <algorithm>

namespace vc {

namespace {
QString titleOr(const QString &t)
{
    return t.isEmpty() ? product::kAppTitle : t;
}
}  // namespace

QWidget *GuiDialogs::parentWindow() const
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return mainWindow_;
}

QString qtFilter(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];  // the description already names its patterns
    return out.join(QStringLiteral(";;"));
}

BoxAnswer GuiDialogs::messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title)
{
    QMessageBox box(parentWindow());
    box.setWindowTitle(titleOr(title));
    box.setText(boxTextForDisplay(text));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
    case BoxIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case BoxIcon::Information: box.setIcon(QMessageBox::Information); break;
    case BoxIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case BoxIcon::Question: box.setIcon(QMessageBox::Question); break;
    case BoxIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (buttons == BoxButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return BoxAnswer::Ok;
}

QString GuiDialogs::inputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    bool ok = false;
    const QString s = QInputDialog::getText(parentWindow(), titleOr(title), boxTextForDisplay(prompt),
                                            QLineEdit::Normal, defaultText, &ok);
    return ok ? s : QString();
}

QString GuiDialogs::saveFileName(const QString &title, const QString &filter)
{
    return saveFile({title, filter, QString(), QString()}).path;
}

SaveFileChoice GuiDialogs::saveFile(const SaveFileRequest &request)
{
    QFileDialog dialog(parentWindow(), request.title, request.folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program asks its own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QStringList filters;
    for (const auto &pair : filterPairs(request.filter))
        filters << pair.first;  // the description already names its patterns
    dialog.setNameFilters(filters);
    if (!request.proposedName.isEmpty())
        dialog.selectFile(request.proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().constFirst(), std::max(0, int(filters.indexOf(dialog.selectedNameFilter())))};
}

QStringList GuiDialogs::openFileNames(const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileNames(parentWindow(), title, QString(), qtFilter(filter));
}

QString GuiDialogs::folderName(const QString &title)
{
    return QFileDialog::getExistingDirectory(parentWindow(), title);
}

bool GuiDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

void GuiDialogs::showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                std::function<void()> cancel)
{
    closeSignInCode();
    codeBox_ = new SignInCodeBox(message, code, address, std::move(cancel), parentWindow());
    codeBox_->show();
    codeBox_->raise();
}

void GuiDialogs::closeSignInCode()
{
    if (codeBox_) {
        codeBox_->dismiss();
        codeBox_ = nullptr;
    }
}

}  // namespace vc
