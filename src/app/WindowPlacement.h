#pragma once
#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace vc {

// Where a window goes that opens beside the main window (the rule windows).
// All rectangles are frames (with the window decoration), in screen coordinates.
struct PlacementRequest {
    QRect main;           // the main window
    QRect keepClear;      // the part of the main window nothing may cover: the results and the commands below them
    QSize window;         // the window to place
    QRect available;      // the free area of the screen
    QList<QRect> others;  // other windows on the screen that it should not hide
};
struct Beside {
    QPoint window;  // the window's new top-left
    QPoint main;    // the main window's top-left (moved only to make room)
};

// To the right of the main window, else to its left; when neither side has
// room but the two fit side by side, the main window moves left to make room
// on its right. In that column the window's top is level with the main
// window's, or just below another window already there, or it cascades over
// the last one when the column is full. When there is no room beside the main
// window at all (a maximised one), the window goes over the main window's top
// part at its right end, above `keepClear`. Always on the screen.
Beside besidePosition(const PlacementRequest &request);

// Moves `window` beside `mainWindow` (besidePosition on the main window's
// screen), clear of `keepClear` (screen coordinates) and of the other windows
// of the program that are on the screen.
void placeBeside(QWidget *window, QWidget *mainWindow, const QRect &keepClear);

// The size a window opens at: `wanted`, made smaller where the screen's free
// area (less the decoration `frame`) is smaller, but not below `minimum`
// unless the screen is smaller still.
QSize fitOnScreen(QSize wanted, QSize minimum, const QRect &available, const QMargins &frame);

// Moves a window whose frame reaches beyond its screen's free area back onto
// it, making it smaller (down to its minimum size) where it does not fit.
void keepOnScreen(QWidget *window);

}  // namespace vc
