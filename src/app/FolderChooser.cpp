#include "app/FolderChooser.h"

#include "app/SettingsStore.h"
#include "core/AppError.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace vc {

namespace {

QPointer<FolderChooser> g_instance;

QLineEdit *filterBox(QWidget *parent, const char *name, const QString &placeholder)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setPlaceholderText(placeholder);
    e->setClearButtonEnabled(true);
    return e;
}

// One date of the filter row: none when the box is empty.
bool readDate(const QLineEdit *box, const QString &label, QDate *date, QString *error)
{
    const QString text = box->text().trimmed();
    if (text.isEmpty())
        return true;
    const std::optional<QDate> d = parseSearchDate(text);
    if (!d) {
        *error =
            QStringLiteral("\"%1\" in %2 is not a date; please write it as 2024-02-01 or 1-Feb-2024.").arg(text, label);
        return false;
    }
    *date = *d;
    return true;
}

}  // namespace

bool newOnlyWanted()
{
    try {
        return settings::readBool(settings::key::NewOnly);
    } catch (const AppError &) {
        return false;  // an unreadable value counts as the default
    }
}

void setNewOnlyWanted(bool on)
{
    if (newOnlyWanted() != on)
        settings::saveFlag(settings::key::NewOnly, on);
}

FolderChooser *FolderChooser::instance()
{
    if (!g_instance)
        g_instance = new FolderChooser;
    return g_instance;
}

FolderChooser *FolderChooser::existing()
{
    return g_instance;
}

void FolderChooser::destroyInstance()
{
    delete g_instance.data();
}

FolderChooser::FolderChooser() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("folderChooser"));
    setWindowTitle(QStringLiteral("Folders"));

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("The start commands walk the &ticked folders one after another:"), this);
    layout->addWidget(intro);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("folderList"));
    intro->setBuddy(list_);
    layout->addWidget(list_, 1);

    auto *filters = new QGroupBox(QStringLiteral("Only messages"), this);
    filters->setObjectName(QStringLiteral("filterFrame"));
    auto *form = new QFormLayout(filters);
    since_ = filterBox(filters, "sinceBox", QStringLiteral("2024-02-01"));
    before_ = filterBox(filters, "beforeBox", QStringLiteral("2024-03-01"));
    from_ = filterBox(filters, "fromBox", QStringLiteral("text in From"));
    subject_ = filterBox(filters, "subjectBox", QStringLiteral("text in the subject"));
    form->addRow(QStringLiteral("&Since:"), since_);
    form->addRow(QStringLiteral("&Before:"), before_);
    form->addRow(QStringLiteral("&From:"), from_);
    form->addRow(QStringLiteral("S&ubject:"), subject_);
    layout->addWidget(filters);
    newOnly_ = new QCheckBox(QStringLiteral("&Only mail since the last run"), this);
    newOnly_->setObjectName(QStringLiteral("newOnlyBox"));
    newOnly_->setChecked(newOnlyWanted());
    layout->addWidget(newOnly_);

    scope_ = new QLabel(this);
    scope_->setObjectName(QStringLiteral("scopeLabel"));
    scope_->setWordWrap(true);
    layout->addWidget(scope_);

    auto *buttons = new QHBoxLayout;
    auto *clear = new QPushButton(QStringLiteral("U&ntick All"), this);
    clear->setObjectName(QStringLiteral("untickAllButton"));
    auto *close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    buttons->addWidget(clear);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(clear, &QPushButton::clicked, this, [this] {
        untickAll();
        Q_EMIT ticksChanged();
    });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(newOnly_, &QCheckBox::toggled, this, [this](bool on) {
        setNewOnlyWanted(on);
        showScope();
    });
    connect(list_, &QListWidget::itemChanged, this, [this] {
        if (filling_)
            return;
        showScope();
        Q_EMIT ticksChanged();
    });
    showScope();
}

void FolderChooser::setFolders(const QStringList &names)
{
    const QStringList ticked = tickedFolders();
    filling_ = true;
    list_->clear();
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(name, list_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(ticked.contains(name) ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
    showScope();
}

QStringList FolderChooser::folders() const
{
    QStringList out;
    for (int i = 0; i < list_->count(); ++i)
        out << list_->item(i)->text();
    return out;
}

QStringList FolderChooser::tickedFolders() const
{
    QStringList out;
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->checkState() == Qt::Checked)
            out << list_->item(i)->text();
    return out;
}

void FolderChooser::tick(const QString &name, bool on)
{
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->text() == name)
            list_->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

void FolderChooser::untickAll()
{
    filling_ = true;
    for (int i = 0; i < list_->count(); ++i)
        list_->item(i)->setCheckState(Qt::Unchecked);
    filling_ = false;
    showScope();
}

std::optional<SearchFilter> FolderChooser::filter(QString *error) const
{
    SearchFilter f;
    if (!readDate(since_, QStringLiteral("Since"), &f.since, error)
        || !readDate(before_, QStringLiteral("Before"), &f.before, error))
        return std::nullopt;
    f.from = from_->text().trimmed();
    f.subject = subject_->text().trimmed();
    return f;
}

void FolderChooser::showScope()
{
    const QStringList ticked = tickedFolders();
    const QString newOnly =
        newOnly_->isChecked() ? QStringLiteral(" Only the mail since the last run is taken.") : QString();
    if (list_->count() == 0)
        scope_->setText(QStringLiteral("The server's folders are listed here once the main window is connected.")
                        + newOnly);
    else if (ticked.isEmpty())
        scope_->setText(QStringLiteral("No folder ticked: the start commands walk the folder the main window shows.")
                        + newOnly);
    else
        scope_->setText(QStringLiteral("The start commands walk: %1.").arg(ticked.join(QStringLiteral(", ")))
                        + newOnly);
}

}  // namespace vc
