#pragma once
#include "app/RuleWindow.h"

#include <QString>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QListView;
class QPushButton;

namespace vc {

// The text-set window: the list of search texts in Combo1 (add, remove the
// selected one, clear, load from item files), kept in the settings store as
// one text, and the "Start Extracting" command of the text-set rule. Created
// on first use and then only hidden when closed.
class Form3 : public SingleRuleWindow<Form3> {
    Q_OBJECT
public:
    Form3();

    // Applies the load look and fills Combo1 from the stored text set.
    void Form_Load();

    // The text set: every item of Combo1, in order.
    QStringList items() const;

    // The stored form of the text set: the items joined by a separator.
    static const QString kSeparator;  // "!!!MORVA!!!"
    static QString joinItems(const QStringList &items);
    static QStringList splitStored(const QString &stored);

    // Writes Combo1's items to the settings store, replacing the stored set.
    static void SaveComboToRegistry(QComboBox *combo);
    // Appends every line of one item file to the combo; "File not found" box
    // for a missing file. Throws AppError when the file cannot be read.
    static void FileToComboBox(QComboBox *combo, const QString &path);

    // Each control under its role and under its control name (its objectName).
    QPushButton *helpButton = nullptr, *&PushButton11 = helpButton;
    QGroupBox *itemsFrame = nullptr, *&Frame2 = itemsFrame;
    QComboBox *itemsCombo = nullptr, *&Combo1 = itemsCombo;
    QPushButton *addItemButton = nullptr, *&PushButton2 = addItemButton;
    QPushButton *removeItemButton = nullptr, *&PushButton1 = removeItemButton;
    QPushButton *clearItemsButton = nullptr, *&PushButton5 = clearItemsButton;
    QPushButton *loadFilesButton = nullptr, *&PushButton3 = loadFilesButton;
    QPushButton *startButton = nullptr, *&PushButton4 = startButton;
    // Every item of the set in view below the commands, in Combo1's order; the
    // row chosen here is Combo1's selected item and the other way round, and
    // an item edited here (double-click, F2) is stored like any other change.
    QGroupBox *itemsListFrame = nullptr;
    QListView *itemsList = nullptr;

    void PushButton2_Click();   // "Add Item"
    void PushButton1_Click();   // "Remove Selected Item"
    void PushButton5_Click();   // "Clear All Items"
    void PushButton3_Click();   // "Load Multiple Items From Text File"
    void PushButton11_Click();  // help
    void PushButton4_Click();   // "Start Extracting"

private:
    // Appends without moving the selection (a fresh item is not selected).
    void appendItem(const QString &text);
    void buildItemsList();
};

}  // namespace vc
