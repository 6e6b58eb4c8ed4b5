// The local mail copy in the main window: the settings window's check box
// decides whether runs use it, and "Forget Cached Mail..." drops what it
// keeps of the account in the boxes.
#include "app/Form1.h"

#include "app/SettingsWindow.h"
#include "app/WindowMenus.h"
#include "core/Dialogs.h"
#include "extract/WalkCache.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>

namespace vc {

MailCacheSettings Form1::mailCacheSettings()
{
    MailCacheSettings s;
    s.on = mailCacheWanted() && !mailCacheOffInEnvironment();
    return s;
}

void Form1::addMailCacheEntries()
{
    QMenu *file = menus_->menu(WindowMenus::File);
    QAction *exit = findChild<QAction *>(QStringLiteral("exitAction"));
    menus_->add(
        WindowMenus::File, "settingsAction", QStringLiteral("Settin&gs..."), [] { SettingsWindow::instance()->open(); },
        {}, exit);
    menus_->add(
        WindowMenus::File, "forgetCacheAction", QStringLiteral("&Forget Cached Mail..."),
        [this] { forgetCachedMail(); }, {}, exit);
    file->insertSeparator(exit);
}

void Form1::forgetCachedMail()
{
    const QString account = accountName(accountBox->text(), accountSuffixCombo->currentText());
    if (accountBox->text().trimmed().isEmpty()) {
        dialogs().messageBox(QStringLiteral("Please enter the account whose cached mail is to be forgotten."));
        return;
    }
    if (onExtractEmail) {
        dialogs().messageBox(QStringLiteral("Please wait until the extraction in progress has ended."));
        return;
    }
    const MailCacheKey key = mailCacheKey(account, signInPlan().host, options_.connection.port);
    if (dialogs().messageBox(QStringLiteral("Forget the mail of %1 kept on this computer? The next run fetches it "
                                            "from the server again.")
                                 .arg(account),
                             BoxButtons::YesNo, BoxIcon::Question)
        != BoxAnswer::Yes)
        return;

    MailCache cache;
    const MailCache::Opened opened = cache.open();
    if (!opened.ok) {
        dialogs().messageBox(QStringLiteral("The local copy of mail cannot be opened:\r") + opened.error,
                             BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    const qint64 before = cache.stats().recordBytes;
    const qint64 dropped = cache.forgetAccount(key.account, key.server);
    const qint64 freed = qMax<qint64>(0, before - cache.stats().recordBytes);
    QString text = QStringLiteral("Forgot %1 cached message(s) of %2 (%3 freed).")
                       .arg(dropped)
                       .arg(account, QLocale::c().formattedDataSize(freed));
    if (!opened.warning.isEmpty())
        text = opened.warning + QStringLiteral("\r") + text;
    dialogs().messageBox(text, BoxButtons::Ok, BoxIcon::Information);
}

}  // namespace vc
