#include "app/WindowPlacement.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace vc {

namespace {

// How far a cascaded window is set off from the one it covers.
constexpr int kCascade = 32;

struct Column {
    int x;            // the window's left edge
    int top;          // the highest top it may have
    int limit;        // its bottom may not go below this (one past)
    int left, right;  // the room it may move in sideways (right one past)
};

bool hitsOther(const QRect &r, const QList<QRect> &others)
{
    return std::any_of(others.begin(), others.end(), [&](const QRect &o) { return o.intersects(r); });
}

// The window's top-left in the column: the column's top, else just below one
// of the other windows, else cascaded over the lowest of those it would hit.
QPoint stack(const Column &c, QSize size, const QList<QRect> &others)
{
    QList<int> tops{c.top};
    for (const QRect &o : others)
        if (o.bottom() + 1 > c.top)
            tops << o.bottom() + 1;
    std::sort(tops.begin(), tops.end());
    for (const int y : std::as_const(tops)) {
        const QRect r(QPoint(c.x, y), size);
        if (y + size.height() <= c.limit && !hitsOther(r, others))
            return r.topLeft();
    }
    const QRect wanted(QPoint(c.x, c.top), QSize(size.width(), std::max(1, c.limit - c.top)));
    const QRect *last = nullptr;
    for (const QRect &o : others)
        if (o.intersects(wanted) && (!last || o.top() > last->top()))
            last = &o;
    int x = c.x;
    int y = std::max(c.top, c.limit - size.height());
    if (last) {
        y = last->top() + kCascade;
        x = last->left() + kCascade + size.width() <= c.right ? last->left() + kCascade : last->left() - kCascade;
        if (y + size.height() > c.limit)
            y = std::max(c.top, c.limit - size.height());
    }
    x = std::clamp(x, c.left, std::max(c.left, c.right - size.width()));
    return {x, y};
}

}  // namespace

Beside besidePosition(const PlacementRequest &r)
{
    const QRect &avail = r.available;
    const QSize size = r.window;
    QPoint main = r.main.topLeft();
    const int roomRight = avail.right() - r.main.right();
    const int roomLeft = r.main.left() - avail.left();
    const int screenRight = avail.right() + 1;
    const int screenBottom = avail.bottom() + 1;

    Column c{};
    if (roomRight >= size.width() || roomLeft >= size.width() || r.main.width() + size.width() <= avail.width()) {
        if (roomRight >= size.width()) {
            c.x = r.main.right() + 1;
        } else if (roomLeft >= size.width()) {
            c.x = r.main.left() - size.width();
        } else {
            c.x = screenRight - size.width();
            main.setX(c.x - r.main.width());
        }
        c.top = std::max(avail.top(), std::min(main.y(), screenBottom - size.height()));
        c.limit = screenBottom;
        c.left = c.x;
        c.right = c.x + size.width();
    } else {
        // Over the main window's top part, at its right end.
        const QRect area = r.main.intersected(avail);
        c.x = std::min(area.right() + 1, screenRight) - size.width();
        c.top = std::max(area.top(), avail.top());
        c.limit = r.keepClear.isValid() ? std::min(r.keepClear.top(), screenBottom) : screenBottom;
        if (c.limit - c.top < size.height())
            c.limit = std::min(screenBottom, c.top + size.height());
        c.left = avail.left();
        c.right = screenRight;
    }
    QPoint at = stack(c, size, r.others);
    at.setX(std::clamp(at.x(), avail.left(), std::max(avail.left(), screenRight - size.width())));
    at.setY(std::clamp(at.y(), avail.top(), std::max(avail.top(), screenBottom - size.height())));
    return {at, main};
}

void placeBeside(QWidget *window, QWidget *mainWindow, const QRect &keepClear)
{
    QScreen *screen = mainWindow->screen() ? mainWindow->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QList<QRect> others;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != window && w != mainWindow && w->isVisible() && w->windowType() == Qt::Window)
            others << w->frameGeometry();
    // Before the window was first shown its frame is not known; the main
    // window's decoration stands in for its own.
    QSize frame = window->frameGeometry().size();
    if (frame == window->size())
        frame += mainWindow->frameGeometry().size() - mainWindow->size();
    const Beside at =
        besidePosition({mainWindow->frameGeometry(), keepClear, frame, screen->availableGeometry(), others});
    if (at.main != mainWindow->frameGeometry().topLeft())
        mainWindow->move(at.main);
    window->move(at.window);
}

QSize fitOnScreen(QSize wanted, QSize minimum, const QRect &available, const QMargins &frame)
{
    const QSize room = available.size().shrunkBy(frame);
    QSize size = wanted.boundedTo(room);
    size = size.expandedTo(minimum.boundedTo(room));
    return size.expandedTo(QSize(1, 1));
}

void keepOnScreen(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen || window->isMaximized() || window->isFullScreen())
        return;
    const QRect avail = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    if (avail.contains(frame))
        return;
    const QMargins decoration(window->geometry().left() - frame.left(), window->geometry().top() - frame.top(),
                              frame.right() - window->geometry().right(), frame.bottom() - window->geometry().bottom());
    const QSize size = fitOnScreen(window->size(), window->minimumSize(), avail, decoration);
    if (size != window->size())
        window->resize(size);
    frame = window->frameGeometry();
    const int x = std::clamp(frame.left(), avail.left(), std::max(avail.left(), avail.right() + 1 - frame.width()));
    const int y = std::clamp(frame.top(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - frame.height()));
    if (QPoint(x, y) != frame.topLeft())
        window->move(x, y);
}

}  // namespace vc
