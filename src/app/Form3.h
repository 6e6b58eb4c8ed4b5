#pragma once
#include "app/Form2.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QCloseEvent;
class QComboBox;
class QGroupBox;
class QPushButton;

namespace vc {

class WindowPointer;

// The text-set window: the list of search texts in Combo1 (add, remove the
// selected one, clear, load from item files), kept in the settings store as
// one text, and the "Start Extracting" command of the text-set rule. Created
// on first use and then only hidden when closed.
class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);
    ~Form3() override;

    static Form3 *instance();
    static void destroyInstance();

    // Applies the system colours and the hand pointer file, centres the window
    // and fills Combo1 from the stored text set.
    void Form_Load();

    // The text set: every item of Combo1, in order.
    QStringList items() const;

    WindowPointer *pointer() const { return pointer_; }

    static StartCommandHook onStart;

    // The stored form of the text set: the value name and the separator.
    static const QString kStoreValue;  // "TextSet"
    static const QString kSeparator;   // "!!!MORVA!!!"
    static QString joinItems(const QStringList &items);
    static QStringList splitStored(const QString &stored);

    // Writes Combo1's items to the settings store, replacing the stored set.
    static void SaveComboToRegistry(QComboBox *combo);
    // Appends every line of one item file to the combo; "File not found" box
    // for a missing file. Throws AppError when the file cannot be read.
    static void FileToComboBox(QComboBox *combo, const QString &path);

    QPushButton *PushButton11 = nullptr, *PushButton2 = nullptr, *PushButton1 = nullptr, *PushButton5 = nullptr,
                *PushButton3 = nullptr, *PushButton4 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QComboBox *Combo1 = nullptr;

    void PushButton2_Click();   // "Add Item"
    void PushButton1_Click();   // "Remove Selected Item"
    void PushButton5_Click();   // "Clear All Items"
    void PushButton3_Click();   // "Load Multiple Items From Text File"
    void PushButton11_Click();  // help
    void PushButton4_Click();   // "Start Extracting"

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Appends without moving the selection (a fresh item is not selected).
    void appendItem(const QString &text);

    WindowPointer *pointer_ = nullptr;
};

}  // namespace vc
