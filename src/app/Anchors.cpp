#include "app/Anchors.h"

#include <QEvent>
#include <QWidget>

#include <cmath>

namespace vc {

Anchors::Anchors(QWidget *container, QSize laidOut) : QObject(container), container_(container), laidOut_(laidOut)
{
    container->installEventFilter(this);
}

void Anchors::add(QWidget *control, Share share)
{
    entries_.append({control, control->geometry(), share});
}

QRect Anchors::placeFor(const QRect &place, Share share, QSize growth)
{
    const auto moved = [](int edge, double part, int by) { return edge + int(std::lround(part * by)); };
    const int left = moved(place.left(), share.left, growth.width());
    const int top = moved(place.top(), share.top, growth.height());
    // Edges are one past the control, so a control that follows an edge keeps its size exactly.
    const int right = moved(place.left() + place.width(), share.right, growth.width());
    const int bottom = moved(place.top() + place.height(), share.bottom, growth.height());
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

void Anchors::apply()
{
    const QSize growth = container_->size() - laidOut_;
    for (const Entry &e : std::as_const(entries_))
        if (e.control)
            e.control->setGeometry(placeFor(e.place, e.share, growth));
}

bool Anchors::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == container_ && event->type() == QEvent::Resize)
        apply();
    return QObject::eventFilter(watched, event);
}

}  // namespace vc
