#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

class QWidget;

namespace vc {

// How much of a container's growth each edge of a control follows (see Anchors).
struct AnchorShare {
    double left = 0, right = 0, top = 0, bottom = 0;
};

// Keeps controls where they were laid out relative to the edges of their
// container while the container is resized. Each edge of a control moves by a
// share of the container's growth (or shrinkage) beyond its laid-out size:
// 0 stays with the left or top edge, 1 follows the right or bottom edge, and
// 0.5 takes half, so two columns of commands share the new width.
class Anchors : public QObject {
public:
    using Share = AnchorShare;
    static constexpr Share kFixed{};
    static constexpr Share kWidth{0, 1, 0, 0};                          // stretches sideways
    static constexpr Share kLeftColumn{0, 0.5, 0, 0};                   // the left of two columns
    static constexpr Share kRightColumn{0.5, 1, 0, 0};                  // the right of two columns
    static constexpr Share kBoth{0, 1, 0, 1};                           // stretches both ways
    static Share atBottom(Share s) { return {s.left, s.right, 1, 1}; }  // moves with the bottom edge

    // `laidOut` is the container's size that the controls' present places belong to.
    Anchors(QWidget *container, QSize laidOut);

    // Takes the control's present geometry as its laid-out place.
    void add(QWidget *control, Share share);
    // Where a control laid out at `place` goes in a container grown by `growth`.
    static QRect placeFor(const QRect &place, Share share, QSize growth);
    // Places every control for the container's present size.
    void apply();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry {
        QPointer<QWidget> control;
        QRect place;
        Share share;
    };
    QWidget *container_;
    QSize laidOut_;
    QList<Entry> entries_;
};

}  // namespace vc
