#include "app/Form3.h"

#include "app/Anchors.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "core/TrapLocations.h"
#include "extract/ItemFiles.h"
#include "output/HelpTexts.h"

#include <QAbstractItemDelegate>
#include <QComboBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QListView>
#include <QPushButton>

namespace vc {

const QString Form3::kSeparator = QStringLiteral("!!!MORVA!!!");

namespace {
// The window's laid-out height with the list of items below the commands.
constexpr int kHeightTwips = 5520;
}  // namespace

Form3::Form3()
    : SingleRuleWindow(QStringLiteral("Form3"), QStringLiteral("Extract Lines Containing These Text Sets"), 8040,
                       kHeightTwips, Rule::ContainingList, location::Form3::PushButton4_Click)
{
    using namespace formdesign;
    helpButton = pushButton(this, "PushButton11", QStringLiteral("Help"), 120, 120, 7800, 405);
    itemsFrame = frame(this, "Frame2", QStringLiteral("&Containing Text"), 120, 570, 7800, 800);
    itemsCombo = new QComboBox(itemsFrame);  // a drop-down list: pick an entry, no typing
    itemsCombo->setObjectName(QStringLiteral("Combo1"));
    itemsCombo->setEditable(false);
    itemsCombo->setGeometry(twipsRect(240, 300, 7320, 345));
    addItemButton = pushButton(this, "PushButton2", QStringLiteral("Add Item"), 120, 1485, 3840, 405);
    removeItemButton = pushButton(this, "PushButton1", QStringLiteral("Remove Selected Item"), 4080, 1485, 3840, 405);
    clearItemsButton = pushButton(this, "PushButton5", QStringLiteral("Clear All Items"), 120, 1985, 3840, 405);
    loadFilesButton =
        pushButton(this, "PushButton3", QStringLiteral("Load Multiple Items From Text File"), 4080, 1980, 3840, 405);
    startButton = pushButton(this, "PushButton4", kStartCaption, 120, 2485, 7800, 405);
    buildItemsList();

    // Wider or taller, the list of items takes the room; the commands share the width.
    auto *anchors = new Anchors(this, size());
    for (QWidget *w : QList<QWidget *>{helpButton, itemsFrame, startButton})
        anchors->add(w, Anchors::kWidth);
    for (QWidget *w : QList<QWidget *>{addItemButton, clearItemsButton})
        anchors->add(w, Anchors::kLeftColumn);
    for (QWidget *w : QList<QWidget *>{removeItemButton, loadFilesButton})
        anchors->add(w, Anchors::kRightColumn);
    anchors->add(itemsListFrame, Anchors::kBoth);
    (new Anchors(itemsFrame, itemsFrame->size()))->add(itemsCombo, Anchors::kWidth);
    (new Anchors(itemsListFrame, itemsListFrame->size()))->add(itemsList, Anchors::kBoth);

    // Tab order: Combo1, the list of items, PushButton3, PushButton2,
    // PushButton1, PushButton5, PushButton4, PushButton11.
    formdesign::setTabOrder({itemsCombo, itemsList, loadFilesButton, addItemButton, removeItemButton, clearItemsButton,
                             startButton, helpButton, itemsFrame});
    setHoverPointers({helpButton, addItemButton, removeItemButton, clearItemsButton, loadFilesButton, startButton},
                     {itemsFrame, itemsListFrame});

    connect(addItemButton, &QPushButton::clicked, this, &Form3::PushButton2_Click);
    connect(removeItemButton, &QPushButton::clicked, this, &Form3::PushButton1_Click);
    connect(clearItemsButton, &QPushButton::clicked, this, &Form3::PushButton5_Click);
    connect(loadFilesButton, &QPushButton::clicked, this, &Form3::PushButton3_Click);
    connect(helpButton, &QPushButton::clicked, this, &Form3::PushButton11_Click);
    connect(startButton, &QPushButton::clicked, this, &Form3::PushButton4_Click);
}

void Form3::buildItemsList()
{
    itemsListFrame = formdesign::frame(this, "itemsListFrame", QStringLiteral("&Items"), 120, 2985, 7800, 2415);
    itemsList = new QListView(itemsListFrame);
    itemsList->setObjectName(QStringLiteral("itemsList"));
    itemsList->setGeometry(twipsRect(240, 300, 7320, 1995));
    itemsList->setModel(itemsCombo->model());
    itemsList->setSelectionMode(QAbstractItemView::SingleSelection);
    itemsList->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    itemsList->setToolTip(QStringLiteral("Double-click an item (or press F2) to change it."));
    connect(
        itemsList->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex &current) { itemsCombo->setCurrentIndex(current.isValid() ? current.row() : -1); });
    connect(itemsCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) {
            itemsList->selectionModel()->clear();
            return;
        }
        itemsList->setCurrentIndex(itemsCombo->model()->index(index, 0));
    });
    // After the view has put the edited text into the item.
    connect(
        itemsList->itemDelegate(), &QAbstractItemDelegate::commitData, this,
        [this] { SaveComboToRegistry(itemsCombo); }, Qt::QueuedConnection);
}

void Form3::Form_Load()
{
    applyLoadLook();
    itemsCombo->clear();
    for (const QString &item : splitStored(settings::readText(settings::key::TextSet)))
        appendItem(item);
}

QStringList Form3::items() const
{
    QStringList out;
    out.reserve(itemsCombo->count());
    for (int i = 0; i < itemsCombo->count(); ++i)
        out << itemsCombo->itemText(i);
    return out;
}

QString Form3::joinItems(const QStringList &items)
{
    return items.join(kSeparator);
}

QStringList Form3::splitStored(const QString &stored)
{
    if (stored.isEmpty())
        return {};
    return stored.split(kSeparator, Qt::KeepEmptyParts);
}

void Form3::SaveComboToRegistry(QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    settings::save(settings::key::TextSet, joinItems(list));
}

void Form3::FileToComboBox(QComboBox *combo, const QString &path)
{
    if (!FileExists(path)) {
        dialogs().messageBox(QStringLiteral("File not found"));
        return;
    }
    const QStringList lines = readItemFile(path);
    const int selected = combo->currentIndex();
    combo->addItems(lines);
    combo->setCurrentIndex(selected);
}

void Form3::appendItem(const QString &text)
{
    const int selected = itemsCombo->currentIndex();
    itemsCombo->addItem(text);
    itemsCombo->setCurrentIndex(selected);
}

void Form3::PushButton2_Click()
{
    ErrorTrap trap(location::Form3::PushButton2_Click);
    QString answer;
    trap(100, [&] { answer = dialogs().inputBox(QStringLiteral("Enter text:"), product::kAppTitle, QString()); });
    trap(102, [&] {
        if (!answer.isEmpty())
            appendItem(answer);
    });
    trap(104, [&] { SaveComboToRegistry(itemsCombo); });
}

void Form3::PushButton1_Click()
{
    ErrorTrap trap(location::Form3::PushButton1_Click);
    trap(100, [&] {
        const int selected = itemsCombo->currentIndex();
        if (selected >= 0) {
            itemsCombo->removeItem(selected);
            // Nothing is selected afterwards, so a second click removes nothing more.
            itemsCombo->setCurrentIndex(-1);
        }
    });
    trap(102, [&] { SaveComboToRegistry(itemsCombo); });
}

void Form3::PushButton5_Click()
{
    ErrorTrap trap(location::Form3::PushButton5_Click);
    trap(100, [&] { itemsCombo->clear(); });
    trap(102, [&] { SaveComboToRegistry(itemsCombo); });
}

void Form3::PushButton3_Click()
{
    // Items loaded here reach the settings store with the next add, remove or clear.
    ErrorTrap trap(location::Form3::PushButton3_Click);
    QStringList files;
    trap(100, [&] {
        files = dialogs().openFileNames(QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"),
                                        QStringLiteral("All Files (*.*)|*.*|"));
    });
    // Each chosen file is its own step: after one that cannot be read, the next is still tried.
    for (const QString &path : files)
        trap(102, [&] { FileToComboBox(itemsCombo, path); });
}

void Form3::PushButton11_Click()
{
    ErrorTrap trap(location::Form3::PushButton11_Click);
    trap(100, [&] { dialogs().messageBox(help::textSetHelp()); });
}

void Form3::PushButton4_Click()
{
    startExtracting(startButton);
}

}  // namespace vc
