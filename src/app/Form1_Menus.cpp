// The main window's menu bar: an entry for every command of the window, each
// with an underlined letter, so that everything can be done by keyboard.
#include "app/Form1.h"

#include "app/WindowMenus.h"
#include "app/WindowPlacement.h"

#include <QAction>
#include <QCheckBox>
#include <QKeySequence>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>

namespace vc {

void Form1::buildMenus()
{
    using M = WindowMenus;
    WindowMenus &m = *menus_;

    m.addButton(M::File, "connectAction", connectButton, QStringLiteral("Connect|Disconnect"));
    signInMenu->setTitle(QStringLiteral("&Sign-in Method"));
    m.menu(M::File)->addMenu(signInMenu);
    connect(signInMenu, &QMenu::aboutToShow, this, &Form1::updateSignInView);
    m.addSeparator(M::File);
    m.addButton(M::File, "saveTextAction", saveTextButton, QStringLiteral("Text"), true, QKeySequence::Save);
    m.addButton(M::File, "saveCommaAction", saveCommaButton, QStringLiteral("As"), true,
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    m.addSeparator(M::File);
    m.add(
        M::File, "exitAction", QStringLiteral("E&xit"), [this] { close(); }, QKeySequence(Qt::CTRL | Qt::Key_Q));
    addMailCacheEntries();

    m.addButton(M::Edit, "copyLinesAction", copyLinesButton, QStringLiteral("Copy"));
    m.addButton(M::Edit, "copyTabsAction", copyTabsButton, QStringLiteral("Tabs"));
    m.addButton(M::Edit, "copySpacesAction", copySpacesButton, QStringLiteral("Spaces"));
    m.addSeparator(M::Edit);
    // The list's own tick commands (its right-click menu) are here too.
    const struct {
        const char *name;
        const char *caption;
    } ticks[] = {
        {"tickAllAction", "Tick &All"}, {"untickAllAction", "&Untick All"}, {"invertTicksAction", "&Invert Ticks"}};
    for (const auto &t : ticks) {
        if (auto *a = resultsList->findChild<QAction *>(QLatin1String(t.name))) {
            a->setText(QString::fromLatin1(t.caption));
            m.menu(M::Edit)->addAction(a);
        }
    }
    m.addSeparator(M::Edit);
    m.addButton(M::Edit, "clearListAction", clearListButton, QStringLiteral("List"));

    m.addButton(M::Extract, "allEmailDataAction", allEmailDataButton, QStringLiteral("Email|Stop"));
    m.addButton(M::Extract, "containingAction", containingButton, QStringLiteral("Containing|Stop"));
    m.addButton(M::Extract, "notContainingAction", notContainingButton, QStringLiteral("Not|Stop"));
    m.addButton(M::Extract, "linesByNumberAction", linesByNumberButton, QStringLiteral("By|Stop"));
    m.addButton(M::Extract, "betweenWindowAction", betweenWindowButton, QStringLiteral("X"), true);
    m.addButton(M::Extract, "textSetWindowAction", textSetWindowButton, QStringLiteral("Sets"), true);
    addFieldsMenuEntry();
    addFolderChooserEntry();
    addAttachmentEntries();
    m.addSeparator(M::Extract);
    QAction *duplicates =
        m.add(M::Extract, "showDuplicatesAction", QStringLiteral("Show &duplicate items in results"), nullptr);
    duplicates->setCheckable(true);
    duplicates->setChecked(showDuplicatesBox->isChecked());
    connect(duplicates, &QAction::toggled, showDuplicatesBox, &QCheckBox::setChecked);
    connect(showDuplicatesBox, &QCheckBox::toggled, duplicates, &QAction::setChecked);

    m.add(
        M::View, "resultsListAction", QStringLiteral("Go to the &Results List"),
        [this] { resultsList->setFocus(Qt::ShortcutFocusReason); }, QKeySequence(Qt::CTRL | Qt::Key_L));
    m.add(M::View, "laidOutSizeAction", QStringLiteral("&Laid-out Size"), [this] {
        showNormal();
        resize(openingSize());
        keepOnScreen(this);
    });

    m.addButton(M::Help, "contactHelpAction", contactHelpButton, QStringLiteral("Help"), false,
                QKeySequence::HelpContents);
    m.addButton(M::Help, "linesHelpAction", linesHelpButton, QString(), false, {},
                QStringLiteral("Extract Lines By &Number: Example"));
    m.addButton(M::Help, "betweenHelpAction", betweenHelpButton, QString(), false, {},
                QStringLiteral("Extract &Between X and Y: Example"));
    m.addButton(M::Help, "textSetHelpAction", textSetHelpButton, QString(), false, {},
                QStringLiteral("Extract Lines Containing &Text Sets: Help"));
}

}  // namespace vc
