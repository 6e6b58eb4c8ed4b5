// The folder box beside the five folder options: after Connect it lists the
// server's folders. Picking the folder that stands for an option ticks that
// option; picking any other folder unticks them all and the runs walk it;
// ticking an option shows its folder in the box.
#include "app/Form1.h"

#include "app/FolderChooser.h"
#include "app/Form1Internal.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "app/WindowMenus.h"
#include "core/Dialogs.h"
#include "mail/ImapComponent.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>

namespace vc {

namespace {

// The special-use attribute a server gives the folder an option stands for
// when the server calls it otherwise ("Sent Items" for Sent).
QString specialUseOfOption(const QString &option)
{
    static const struct {
        const char16_t *option;
        const char16_t *flag;
    } map[] = {{u"Drafts", u"\\Drafts"}, {u"Sent", u"\\Sent"}, {u"Junk", u"\\Junk"}, {u"Deleted", u"\\Trash"}};
    for (const auto &m : map)
        if (option.compare(QString::fromUtf16(m.option), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(m.flag);
    return QString();
}

}  // namespace

int matchingFolder(const QList<MailboxInfo> &folders, const QString &option)
{
    for (int i = 0; i < folders.size(); ++i)
        if (folders.at(i).name.compare(option, Qt::CaseInsensitive) == 0)
            return i;
    const QString flag = specialUseOfOption(option);
    if (flag.isEmpty())
        return -1;
    for (int i = 0; i < folders.size(); ++i)
        if (folders.at(i).attributes.contains(flag, Qt::CaseInsensitive))
            return i;
    return -1;
}

void Form1::buildFolderBox()
{
    folderBox = new QComboBox(folderFrame);
    folderBox->setObjectName(QStringLiteral("folderBox"));
    folderBox->setAccessibleName(QStringLiteral("Folder"));
    folderBox->setToolTip(QStringLiteral("Any folder of the server (listed after Connect)"));
    folderBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    folderBox->setMinimumContentsLength(1);
    folderBox->view()->setMinimumWidth(twips(3000));
    folderBox->setEnabled(false);
    // In the frame's row, right of the last option, up to the frame's edge.
    const QRect last = deletedOption->geometry();
    const int left = last.right() + 1 + twips(60);
    const int right = folderFrame->width() - twips(120);
    const int height = std::max(folderBox->sizeHint().height(), last.height());
    folderBox->setGeometry(left, last.center().y() - height / 2, std::max(right - left, twips(600)), height);
    connect(folderBox, &QComboBox::activated, this, &Form1::folderBoxChosen);
    for (const FolderOption &o : folderOptions())
        connect(o.button, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                showOptionInFolderBox();
        });
}

void Form1::fillFolderBox()
{
    if (!ChilkatImap1)
        return;
    const ImapResult<MailboxList> listed = ChilkatImap1->ListMailboxes(QString(), QStringLiteral("*"));
    if (!listed)
        return;  // the box keeps what it had; the options work as before
    serverFolders_.clear();
    for (const MailboxInfo &box : listed->boxes())
        if (!box.attributes.contains(QStringLiteral("\\Noselect"), Qt::CaseInsensitive)
            && !box.attributes.contains(QStringLiteral("\\NonExistent"), Qt::CaseInsensitive))
            serverFolders_ << box;
    const QSignalBlocker block(folderBox);
    folderBox->clear();
    for (const MailboxInfo &box : serverFolders_)
        folderBox->addItem(box.name);
    folderBox->setEnabled(!serverFolders_.isEmpty());
    if (!chosenFolder_.isEmpty() && folderBox->findText(chosenFolder_, Qt::MatchFixedString) < 0)
        chosenFolder_.clear();  // the server has no such folder (any more)
    showOptionInFolderBox();
}

void Form1::showOptionInFolderBox()
{
    const QSignalBlocker block(folderBox);
    const QString option = [this] {
        for (const FolderOption &o : folderOptions())
            if (o.button->isChecked())
                return QString::fromLatin1(o.folder);
        return QString();
    }();
    if (!option.isEmpty()) {
        if (FolderChooser *chooser = FolderChooser::existing())
            chooser->untickAll();
        chosenFolder_.clear();
        settings::remove(settings::key::Folder);
        folderBox->setCurrentIndex(matchingFolder(serverFolders_, option));
        return;
    }
    folderBox->setCurrentIndex(chosenFolder_.isEmpty() ? -1 : folderBox->findText(chosenFolder_, Qt::MatchFixedString));
}

void Form1::folderBoxChosen(int index)
{
    if (index < 0 || index >= serverFolders_.size())
        return;
    const QString name = serverFolders_.at(index).name;
    for (const FolderOption &o : folderOptions()) {
        if (matchingFolder(serverFolders_, QString::fromLatin1(o.folder)) == index) {
            setOption(o.button, true);
            return;
        }
    }
    for (const FolderOption &o : folderOptions())
        setOption(o.button, false);
    Option_Click();  // every option stored as unticked
    if (FolderChooser *chooser = FolderChooser::existing())
        chooser->untickAll();
    chosenFolder_ = name;
    settings::save(settings::key::Folder, name);
}

void Form1::loadChosenFolder()
{
    for (const FolderOption &o : folderOptions())
        if (o.button->isChecked())
            return;
    chosenFolder_ = settings::readText(settings::key::Folder);
    if (chosenFolder_.isEmpty())
        return;
    const QSignalBlocker block(folderBox);
    folderBox->addItem(chosenFolder_);
    folderBox->setCurrentIndex(0);
}

}  // namespace vc

namespace vc {

// ---------------------------------------------------------------------------
// The folder chooser: several folders, and the filter row.

void Form1::addFolderChooserEntry()
{
    menus_->add(WindowMenus::Extract, "foldersAction", QStringLiteral("F&olders..."), [this] { openFolderChooser(); });
}

void Form1::openFolderChooser()
{
    FolderChooser *chooser = FolderChooser::instance();
    if (!chooserWired_) {
        connect(chooser, &FolderChooser::ticksChanged, this, &Form1::chooserTicksChanged);
        connect(chooser, &QObject::destroyed, this, [this] { chooserWired_ = false; });
        chooserWired_ = true;
    }
    QStringList names;
    for (const MailboxInfo &box : serverFolders_)
        names << box.name;
    chooser->setFolders(names);
    chooser->newOnlyBox()->setChecked(newOnlyWanted());
    chooser->show();
    chooser->raise();
    chooser->activateWindow();
}

QStringList Form1::chooserFolders() const
{
    const FolderChooser *chooser = FolderChooser::existing();
    return chooser ? chooser->tickedFolders() : QStringList();
}

// Folders ticked in the chooser are the run's: the main window's single
// choice is set aside meanwhile (and comes back at the next start).
void Form1::chooserTicksChanged()
{
    if (chooserFolders().isEmpty())
        return;
    for (const FolderOption &o : folderOptions())
        setOption(o.button, false);
    chosenFolder_.clear();
    const QSignalBlocker block(folderBox);
    folderBox->setCurrentIndex(-1);
}

QStringList Form1::folderNames()
{
    const QStringList ticked = chooserFolders();
    return ticked.isEmpty() ? QStringList{folderName()} : ticked;
}

SearchFilter Form1::searchFilter()
{
    const FolderChooser *chooser = FolderChooser::existing();
    QString unused;
    return chooser ? chooser->filter(&unused).value_or(SearchFilter()) : SearchFilter();
}

bool Form1::scopeReadable()
{
    const FolderChooser *chooser = FolderChooser::existing();
    QString error;
    if (!chooser || chooser->filter(&error))
        return true;
    dialogs().messageBox(error, BoxButtons::Ok, BoxIcon::Warning);
    return false;
}

}  // namespace vc
