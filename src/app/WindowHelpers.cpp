#include "app/WindowHelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace vc {

void CenterForm(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect avail = screen->geometry();
    const QSize size = window->frameGeometry().size();
    window->move(avail.x() + int((avail.width() - size.width()) / 2.0),
                 avail.y() + int((avail.height() - size.height()) / 2.0));
}

namespace {

// Keeps the tool tips of the watched buttons: the whole caption while it does
// not fit, none while it does.
class CaptionTips : public QObject {
public:
    using QObject::QObject;
    static void update(QAbstractButton *b)
    {
        const bool cutOff = captionWidth(b) > b->width();
        b->setToolTip(cutOff ? b->text() : QString());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ToolTip:  // the caption may have changed since the last look
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::FontChange: update(static_cast<QAbstractButton *>(watched)); break;
        default: break;
        }
        return false;
    }
};

}  // namespace

void tipCutOffCaptions(QWidget *window)
{
    auto *tips = new CaptionTips(window);
    for (QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
        if (!b->toolTip().isEmpty())
            continue;  // a tool tip of its own stays
        b->installEventFilter(tips);
        CaptionTips::update(b);
    }
}

int captionWidth(const QWidget *control)
{
    if (const auto *b = qobject_cast<const QPushButton *>(control)) {
        const QStyle *st = b->style();
        const int frame = st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        const int margin = st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        return b->fontMetrics().horizontalAdvance(QString(b->text()).remove(QLatin1Char('&'))) + 2 * frame + margin;
    }
    return control->sizeHint().width();
}

void widenToCaptions(QWidget *window)
{
    constexpr int kGap = 3;  // kept free before the next control
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QLabel *>(w))
            continue;
        const int needed = captionWidth(w);
        if (needed <= w->width())
            continue;
        const QRect wider(w->pos(), QSize(needed, w->height()));
        bool free = w->parentWidget()->rect().contains(wider);
        for (QObject *o : w->parentWidget()->children()) {
            auto *sibling = qobject_cast<QWidget *>(o);
            if (free && sibling && sibling != w && !sibling->isWindow()
                && sibling->geometry().intersects(wider.adjusted(0, 0, kGap, 0))
                && !sibling->geometry().intersects(w->geometry()))
                free = false;
        }
        if (free)
            w->resize(needed, w->height());
    }
}

bool FileExists(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() && fi.lastModified().isValid();
}

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString handCursorFile()
{
    return programFolder() + QStringLiteral("/HAND-M.CUR");
}

void ApplyFormColors(QWidget *window)
{
    const QColor face = QApplication::palette().color(QPalette::Button);
    auto paint = [&](QWidget *w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, face);
        w->setPalette(p);
        w->setBackgroundRole(QPalette::Window);
        w->setAutoFillBackground(true);
    };
    paint(window);
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w) || qobject_cast<QGroupBox *>(w)
            || qobject_cast<QLabel *>(w))
            paint(w);
    }
}

WindowPointer::WindowPointer(QWidget *window) : QObject(window), window_(window) {}

void WindowPointer::loadCustomImage(const QString &curFile)
{
    QPixmap pm(curFile);
    if (pm.isNull())
        return;
    custom_ = QCursor(pm, 0, 0);
    hasCustom_ = true;
    if (value_ == pointer::Custom)
        setMousePointer(value_);
}

void WindowPointer::setMousePointer(int value)
{
    value_ = value;
    switch (value) {
    case pointer::Hourglass: window_->setCursor(Qt::WaitCursor); break;
    case pointer::Custom: window_->setCursor(hasCustom_ ? custom_ : QCursor(Qt::PointingHandCursor)); break;
    default: window_->unsetCursor(); break;
    }
}

void WindowPointer::hover(QWidget *control, int value, bool evenWhenBusy)
{
    rules_.insert(control, qMakePair(value, evenWhenBusy));
    control->setMouseTracking(true);
    control->installEventFilter(this);
}

bool WindowPointer::eventFilter(QObject *watched, QEvent *event)
{
    const auto t = event->type();
    if (t == QEvent::Enter || t == QEvent::MouseMove || t == QEvent::HoverMove) {
        // A move over a child that ignores it reaches the container too; only
        // the control directly under the mouse decides.
        if (t == QEvent::MouseMove) {
            auto *w = static_cast<QWidget *>(watched);
            if (w->childAt(static_cast<QMouseEvent *>(event)->position().toPoint()))
                return QObject::eventFilter(watched, event);
        }
        const auto it = rules_.constFind(watched);
        if (it != rules_.constEnd() && (it->second || value_ != pointer::Hourglass) && value_ != it->first)
            setMousePointer(it->first);
    }
    return QObject::eventFilter(watched, event);
}

namespace formdesign {

QFont designFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(9);
    f.setBold(true);
    return f;
}

QFont buttonFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(11.25);
    f.setBold(true);
    return f;
}

void paintWhite(QWidget *w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Qt::white);
    w->setPalette(p);
    // Buttons (check boxes, option buttons) fill with the Button role by default.
    w->setBackgroundRole(QPalette::Window);
    w->setAutoFillBackground(true);
}

void setUpWindow(QWidget *window, const QString &caption, int widthTwips, int heightTwips)
{
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint);
    window->setWindowTitle(caption);
    // Closing a rule window never ends the program.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowIcon(QApplication::windowIcon());
    window->setFont(designFont());
    paintWhite(window);
    window->resize(twips(widthTwips), twips(heightTwips));
    window->setMinimumSize(window->size());
}

QPushButton *pushButton(QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setFont(buttonFont());
    b->setGeometry(twipsRect(l, t, w, h));
    return b;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h)
{
    auto *g = new QGroupBox(caption, parent);
    g->setObjectName(QLatin1String(name));
    g->setGeometry(twipsRect(l, t, w, h));
    paintWhite(g);
    return g;
}

QLineEdit *lineEdit(QWidget *parent, const char *name, int l, int t, int w, int h)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(twipsRect(l, t, w, h));
    return e;
}

void setTabOrder(const QList<QWidget *> &inOrder)
{
    QWidget *previous = nullptr;
    for (QWidget *w : inOrder) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

}  // namespace formdesign

}  // namespace vc
