#pragma once
#include "core/Dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vc::test {

// A Dialogs that never shows anything: it records every box and answers from a
// script (queued answers first, then the defaults). Installs itself for its
// lifetime.
class ScriptedDialogs : public Dialogs {
public:
    struct Box {
        enum Kind { Message, Input, SaveFile, OpenFiles } kind = Message;
        QString text, title;
        BoxButtons buttons = BoxButtons::Ok;
        BoxIcon icon = BoxIcon::None;
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString saveFileName(const QString &title, const QString &filter) override;
    QStringList openFileNames(const QString &title, const QString &filter) override;

    QList<BoxAnswer> answers;      // for message boxes with Yes/No (default: No)
    QStringList inputs;            // for input boxes (default: empty = Cancel)
    QStringList saveNames;         // for save dialogs (default: cancel)
    QList<QStringList> openNames;  // for open dialogs (default: cancel)

    QList<Box> boxes;                      // everything shown, in order
    QStringList texts() const;             // the texts of the message boxes, in order
    int count(const QString &text) const;  // message boxes with exactly this text
    void clear() { boxes.clear(); }

private:
    Dialogs *previous_ = nullptr;
};

}  // namespace vc::test
