#pragma once
#include "rules/Listing.h"

#include <QString>
#include <QWidget>

#include <functional>

class QCloseEvent;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vc {

class WindowPointer;

// What a rule window's "Start Extracting" does: hand the click to the main
// window's start command. Unset, the click goes to Form1::instance() when the
// program has a main window; tests set it to watch the click.
using StartCommandHook = std::function<void(QPushButton *button, const QString &normalCaption, QWidget *window,
                                            Rule rule, const QString &trapLocation)>;

// The between-X-and-Y window: the start marker (Text3) and end marker (Text4),
// stored as "StartWith" and "EndWith" at every edit, a help box, and the
// "Start Extracting" command of the between rule. Created on first use and then
// only hidden when closed, so the markers stay in the boxes.
class Form2 : public QWidget {
    Q_OBJECT
public:
    // Builds the window as designed; Form_Load() fills it.
    explicit Form2(QWidget *parent = nullptr);
    ~Form2() override;

    // The program's between window, created and loaded on first use.
    static Form2 *instance();
    // Destroys the instance (tests, program end); the next instance() loads anew.
    static void destroyInstance();

    // Centres the window, applies the system colours, the hand pointer file and
    // the stored markers.
    void Form_Load();

    QString startMarker() const;  // Text3
    QString endMarker() const;    // Text4

    WindowPointer *pointer() const { return pointer_; }

    static StartCommandHook onStart;

    QPushButton *PushButton11 = nullptr, *PushButton4 = nullptr, *PushButton1 = nullptr;
    QGroupBox *Frame2 = nullptr, *Frame1 = nullptr;
    QLineEdit *Text3 = nullptr, *Text4 = nullptr;

    void Text3_Change();
    void Text4_Change();
    void PushButton11_Click();  // help
    void PushButton1_Click();   // "Close This Window"
    void PushButton4_Click();   // "Start Extracting"

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    WindowPointer *pointer_ = nullptr;
};

}  // namespace vc
