#include "app/WindowMenus.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace vc {

WindowMenus::WindowMenus(QWidget *window) : QObject(window), window_(window), bar_(new QMenuBar(window))
{
    bar_->setObjectName(QStringLiteral("menuBar"));
    const struct {
        const char *name;
        const char *title;
    } menus[] = {{"fileMenu", "&File"},
                 {"editMenu", "&Edit"},
                 {"extractMenu", "E&xtract"},
                 {"viewMenu", "&View"},
                 {"helpMenu", "&Help"}};
    for (size_t i = 0; i < menus_.size(); ++i) {
        QMenu *m = bar_->addMenu(QString::fromLatin1(menus[i].title));
        m->setObjectName(QString::fromLatin1(menus[i].name));
        connect(m, &QMenu::aboutToShow, this, &WindowMenus::refresh);
        menus_[i] = m;
    }
}

QAction *WindowMenus::add(Menu m, const char *objectName, const QString &caption, std::function<void()> what,
                          const QKeySequence &shortcut, QAction *before)
{
    auto *action = new QAction(caption, window_);
    action->setObjectName(QString::fromLatin1(objectName));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        window_->addAction(action);  // the shortcut works while the menu is closed
    }
    if (what)
        connect(action, &QAction::triggered, window_, std::move(what));
    menus_[m]->insertAction(before, action);
    return action;
}

QAction *WindowMenus::addButton(Menu m, const char *objectName, QAbstractButton *button, const QString &marks,
                                bool opensWindow, const QKeySequence &shortcut, const QString &caption)
{
    const QPointer<QAbstractButton> target(button);
    QAction *action = add(
        m, objectName, QString(),
        [target] {
            if (target)
                target->click();
        },
        shortcut);
    action->setProperty("button", button->objectName());
    buttons_.append({action, button, marks, opensWindow, caption});
    refresh();
    return action;
}

QAction *WindowMenus::addSeparator(Menu m)
{
    return menus_[m]->addSeparator();
}

void WindowMenus::refresh()
{
    for (const ButtonEntry &e : std::as_const(buttons_)) {
        if (!e.action || !e.button)
            continue;
        QString caption = e.caption.isEmpty() ? withMnemonic(e.button->text(), e.marks) : e.caption;
        if (e.opensWindow)
            caption += QStringLiteral("...");
        e.action->setText(caption);
        e.action->setEnabled(e.button->isEnabled());
    }
}

QString WindowMenus::withMnemonic(const QString &caption, const QString &marks)
{
    QString out = caption;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    for (const QString &word : marks.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const qsizetype at = out.indexOf(word);
        if (at >= 0) {
            out.insert(at, QLatin1Char('&'));
            break;
        }
    }
    return out;
}

}  // namespace vc
