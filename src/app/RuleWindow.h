#pragma once
#include "rules/Listing.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QCloseEvent;
class QPushButton;

namespace vc {

class WindowPointer;

// What a rule window's "Start Extracting" does with the click: the main window
// runs it as one of its start commands (see Form1::startCommand).
using StartAction = std::function<void(QPushButton *button, const QString &normalCaption, QWidget *window, Rule rule,
                                       const QString &trapLocation)>;

// What the between window and the text-set window share: a tool window in the
// design look (its laid-out size is also its smallest) with a pointer of its
// own, the look applied at load (system colours, the hand pointer file,
// centred), a close (close box, Esc) that only hides (the window and its
// entries live until the program ends), and the "Start Extracting" command
// handed to the start action.
class RuleWindow : public QWidget {
    Q_OBJECT
public:
    // The caption of the "Start Extracting" command while no run is going.
    static inline const QString kStartCaption = QStringLiteral("Start Extracting");

    // The main window sets the start action; without one the click does nothing.
    static void setStartAction(StartAction action);

    WindowPointer *pointer() const { return pointer_; }

protected:
    // `rule` and `startLocation` are what "Start Extracting" hands over.
    RuleWindow(const QString &objectName, const QString &caption, int widthTwips, int heightTwips, Rule rule,
               QString startLocation);

    // The hand pointer over `commands`, the default pointer over the window and `frames`.
    void setHoverPointers(const QList<QWidget *> &commands, const QList<QWidget *> &frames);
    // System colours, the hand pointer file when there is one, centred on the
    // screen, and tool tips on captions that do not fit.
    void applyLoadLook();
    // "Start Extracting": hands `button` and the window's rule to the start action.
    void startExtracting(QPushButton *button);

    void closeEvent(QCloseEvent *event) override;

private:
    WindowPointer *pointer_;
    Rule rule_;
    QString startLocation_;
};

// A rule window of which the program has one: created and loaded on first
// use, then kept (closing only hides it).
template <class W>
class SingleRuleWindow : public RuleWindow {
public:
    // The program's window, created and loaded on first use.
    static W *instance()
    {
        if (!slot_) {
            slot_ = new W;
            slot_->Form_Load();
        }
        return slot_.data();
    }
    // Destroys the window (tests, program end); the next instance() loads anew.
    static void destroyInstance() { delete slot_.data(); }

protected:
    using RuleWindow::RuleWindow;

private:
    static inline QPointer<W> slot_;
};

}  // namespace vc
