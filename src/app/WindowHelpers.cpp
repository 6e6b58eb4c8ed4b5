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
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>

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

bool FileExists(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() && fi.lastModified().isValid();
}

QString programFolder() { return QCoreApplication::applicationDirPath(); }

void ApplyFormColors(QWidget *window)
{
    const QColor face = QApplication::palette().color(QPalette::Button);
    auto paint = [&](QWidget *w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, face);
        w->setPalette(p);
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

}  // namespace vc
