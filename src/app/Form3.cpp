#include "app/Form3.h"

#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "core/TrapLocations.h"
#include "extract/ItemFiles.h"
#include "output/HelpTexts.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

namespace vc {

const QString Form3::kSeparator = QStringLiteral("!!!MORVA!!!");

Form3::Form3()
    : SingleRuleWindow(QStringLiteral("Form3"), QStringLiteral("Extract Lines Containing These Text Sets"), 8040, 3000,
                       Rule::ContainingList, location::Form3::PushButton4_Click)
{
    using namespace formdesign;
    helpButton = pushButton(this, "PushButton11", QStringLiteral("Help"), 120, 120, 7800, 405);
    itemsFrame = frame(this, "Frame2", QStringLiteral("Containing Text"), 120, 570, 7800, 800);
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

    // Tab indexes: Combo1 0, PushButton3 1, PushButton2 2, PushButton1 3,
    // PushButton5 4, PushButton4 5, PushButton11 6, Frame2 7.
    formdesign::setTabOrder({itemsCombo, loadFilesButton, addItemButton, removeItemButton, clearItemsButton,
                             startButton, helpButton, itemsFrame});
    setHoverPointers({helpButton, addItemButton, removeItemButton, clearItemsButton, loadFilesButton, startButton},
                     {itemsFrame});

    connect(addItemButton, &QPushButton::clicked, this, &Form3::PushButton2_Click);
    connect(removeItemButton, &QPushButton::clicked, this, &Form3::PushButton1_Click);
    connect(clearItemsButton, &QPushButton::clicked, this, &Form3::PushButton5_Click);
    connect(loadFilesButton, &QPushButton::clicked, this, &Form3::PushButton3_Click);
    connect(helpButton, &QPushButton::clicked, this, &Form3::PushButton11_Click);
    connect(startButton, &QPushButton::clicked, this, &Form3::PushButton4_Click);
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
