#pragma once
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>

class QAbstractButton;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace vc {

// The main window's menu bar above its controls: File, Edit, Extract, View and
// Help (objectNames "fileMenu", "editMenu", "extractMenu", "viewMenu",
// "helpMenu"). Every command of the window has an entry, so each is reachable
// by keyboard (Alt and the underlined letters); new commands that have no
// place among the controls go here too:
//
//     form->menus()->add(WindowMenus::View, "fieldsWindowAction", QStringLiteral("&Fields..."),
//                        [form] { showFieldsWindow(form); });
class WindowMenus : public QObject {
    Q_OBJECT
public:
    enum Menu { File, Edit, Extract, View, Help };

    explicit WindowMenus(QWidget *window);

    QMenuBar *bar() const { return bar_; }
    QMenu *menu(Menu m) const { return menus_[m]; }

    // Adds an entry at the end of `m` (or before `before`, an action of that
    // menu): its objectName, caption with "&" before the underlined letter,
    // what it does and, if wanted, a shortcut that works anywhere in the window.
    QAction *add(Menu m, const char *objectName, const QString &caption, std::function<void()> what,
                 const QKeySequence &shortcut = {}, QAction *before = nullptr);
    // An entry for a push button of the window: choosing it clicks the button.
    // Its caption follows the button's, with the first letter of `marks`
    // underlined (see withMnemonic) and "..." after it when the command opens a
    // window, unless a `caption` of its own is given; it is enabled while the
    // button is.
    QAction *addButton(Menu m, const char *objectName, QAbstractButton *button, const QString &marks,
                       bool opensWindow = false, const QKeySequence &shortcut = {}, const QString &caption = QString());
    QAction *addSeparator(Menu m);

    // Brings every button entry's caption and enabled state up to date (each
    // menu does so as it opens).
    void refresh();

    // `caption` with "&" before the first of the words in `marks` ("Connect|
    // Disconnect": whichever the caption has, tried in that order, letter case
    // as given), so that word's first letter is the underlined one; unchanged
    // when it has none of them. An "&" of the caption itself stays a plain "&".
    static QString withMnemonic(const QString &caption, const QString &marks);

private:
    struct ButtonEntry {
        QPointer<QAction> action;
        QPointer<QAbstractButton> button;
        QString marks;
        bool opensWindow;
        QString caption;
    };
    QWidget *window_;
    QMenuBar *bar_;
    std::array<QMenu *, 5> menus_{};
    QList<ButtonEntry> buttons_;
};

}  // namespace vc
