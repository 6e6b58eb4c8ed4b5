#pragma once
#include "core/Dialogs.h"

class QWidget;

namespace vc {

// Qt's own dialogs behind the program's Dialogs interface.
class GuiDialogs : public Dialogs {
public:
    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString saveFileName(const QString &title, const QString &filter) override;
    QStringList openFileNames(const QString &title, const QString &filter) override;
};

// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|" -> Qt's ";;"-separated filter.
QString qtFilter(const QString &pipeFilter);

}  // namespace vc
