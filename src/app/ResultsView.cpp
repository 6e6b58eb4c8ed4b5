#include "app/ResultsView.h"

namespace vc {

ResultsView::ResultsView(QWidget *parent) : QTreeView(parent)
{
    layoutTimer_.setSingleShot(true);
    layoutTimer_.setInterval(kLayoutGapMs);
    connect(&layoutTimer_, &QTimer::timeout, this, [this] { scheduleDelayedItemsLayout(); });
}

void ResultsView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    const bool appendedAtEnd = !parent.isValid() && model() && end == model()->rowCount() - 1;
    if (!appendedAtEnd) {
        QTreeView::rowsInserted(parent, start, end);
        return;
    }
    // What the item view itself does for new rows, without the tree's layout of
    // every row; the rows before them keep their places meanwhile.
    QAbstractItemView::rowsInserted(parent, start, end);
    if (!layoutTimer_.isActive())
        layoutTimer_.start();
}

void ResultsView::reset()
{
    layoutTimer_.stop();  // the reset lays out what is there
    QTreeView::reset();
}

}  // namespace vc
