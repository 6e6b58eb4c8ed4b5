#include "app/RuleWindow.h"

#include "app/WindowHelpers.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QShortcut>

namespace vc {

namespace {
StartAction &startAction()
{
    static StartAction action;
    return action;
}
}  // namespace

void RuleWindow::setStartAction(StartAction action)
{
    startAction() = std::move(action);
}

RuleWindow::RuleWindow(const QString &objectName, const QString &caption, int widthTwips, int heightTwips, Rule rule,
                       QString startLocation)
    : pointer_(new WindowPointer(this)), rule_(rule), startLocation_(std::move(startLocation))
{
    setObjectName(objectName);
    formdesign::setUpWindow(this, caption, widthTwips, heightTwips);
    // Esc takes the window off the screen, as its close box does.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void RuleWindow::setHoverPointers(const QList<QWidget *> &commands, const QList<QWidget *> &frames)
{
    for (QWidget *b : commands)
        pointer_->hover(b, pointer::Custom);
    pointer_->hover(this, pointer::Default);
    for (QWidget *f : frames)
        pointer_->hover(f, pointer::Default);
}

void RuleWindow::applyLoadLook()
{
    ApplyFormColors(this);
    if (FileExists(handCursorFile()))
        pointer_->loadCustomImage(handCursorFile());
    CenterForm(this);
    tipCutOffCaptions(this);
}

void RuleWindow::startExtracting(QPushButton *button)
{
    if (startAction())
        startAction()(button, kStartCaption, this, rule_, startLocation_);
}

void RuleWindow::closeEvent(QCloseEvent *event)
{
    // A close (close box, "Close This Window", or the application quitting)
    // only takes the window off the screen; the object and its entries stay.
    // Accepting rather than ignoring the close keeps the application free to
    // quit while the window is open.
    event->accept();
}

}  // namespace vc
