// The local mail copy in the main window: the settings window's check box
// decides whether runs use it, "Forget Cached Mail..." drops what it keeps of
// the account in the boxes, and "Work Offline" reads it alone, without the
// server.
#include "app/Form1.h"

#include "app/Form1Internal.h"
#include "app/SettingsWindow.h"
#include "app/WindowMenus.h"
#include "core/Dialogs.h"
#include "extract/LocalCopyImap.h"
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
    QAction *offline =
        menus_->add(WindowMenus::File, "workOfflineAction", QStringLiteral("Work &Offline"), nullptr, {}, exit);
    offline->setCheckable(true);
    connect(offline, &QAction::toggled, this, &Form1::setWorkOffline);
    file->insertSeparator(exit);
}

bool Form1::workingOffline() const
{
    return qobject_cast<const LocalCopyImap *>(component_.get()) != nullptr;
}

void Form1::setWorkOffline(bool on)
{
    if (on == workingOffline())
        return;
    auto *action = findChild<QAction *>(QStringLiteral("workOfflineAction"));
    const auto refuse = [&](const QString &text) {
        if (action) {
            const QSignalBlocker block(action);
            action->setChecked(workingOffline());
        }
        dialogs().messageBox(text);
    };
    if (onExtractEmail || fetching_) {
        refuse(QStringLiteral("Please wait until the extraction in progress has ended."));
        return;
    }
    if (state_.connected || state_.connecting) {
        refuse(QStringLiteral("Please disconnect first."));
        return;
    }
    if (on && !mailCacheSettings().on) {
        refuse(QStringLiteral("Working offline reads the local copy of mail. Please turn on \"Keep a local copy of "
                              "mail\" in File > Settings... first."));
        return;
    }
    DecodeNeeds needs;
    if (ChilkatImap1 && ChilkatImap1->decodeNeeds())
        needs = *ChilkatImap1->decodeNeeds();
    oChilkat.reset();
    std::unique_ptr<ImapComponent> next;
    if (on)
        next = std::make_unique<LocalCopyImap>(mailCacheSettings());
    else
        next = createComponent(options_.connection);
    next->setDecodeNeeds(needs);
    component_ = std::move(next);
    ChilkatImap1 = component_.get();
    setStatusText(on ? QStringLiteral("Working offline: Connect and the runs read the local copy of mail alone.")
                     : QStringLiteral("Working online."));
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
