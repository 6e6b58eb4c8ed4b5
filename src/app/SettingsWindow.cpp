#include "app/SettingsWindow.h"

#include "app/SettingsStore.h"
#include "core/AppError.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace vc {

namespace {
QPointer<SettingsWindow> g_instance;
}

bool mailCacheWanted()
{
    try {
        return settings::readBool(settings::key::MailCache);
    } catch (const AppError &) {
        return true;  // an unreadable value counts as the default
    }
}

void setMailCacheWanted(bool on)
{
    if (mailCacheWanted() != on)
        settings::saveFlag(settings::key::MailCache, on);
}

SettingsWindow *SettingsWindow::instance()
{
    if (!g_instance)
        g_instance = new SettingsWindow;
    return g_instance;
}

void SettingsWindow::destroyInstance()
{
    delete g_instance.data();
}

SettingsWindow::SettingsWindow() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto *layout = new QVBoxLayout(this);
    mailCache_ = new QCheckBox(QStringLiteral("Keep a &local copy of mail"), this);
    mailCache_->setObjectName(QStringLiteral("mailCacheBox"));
    layout->addWidget(mailCache_);
    auto *note = new QLabel(QStringLiteral("Messages read once are kept on this computer, so a second run over the "
                                           "same folder reads only the new ones from the server."),
                            this);
    note->setWordWrap(true);
    note->setObjectName(QStringLiteral("mailCacheNote"));
    layout->addWidget(note);
    layout->addStretch(1);

    mailCache_->setChecked(mailCacheWanted());
    connect(mailCache_, &QCheckBox::toggled, this, [](bool on) { setMailCacheWanted(on); });
}

void SettingsWindow::open()
{
    {
        const QSignalBlocker block(mailCache_);
        mailCache_->setChecked(mailCacheWanted());
    }
    show();
    raise();
    activateWindow();
}

}  // namespace vc
