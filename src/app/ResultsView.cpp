#include "app/ResultsView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>

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

void ResultsView::focusInEvent(QFocusEvent *event)
{
    if (model() && selectionModel() && !currentIndex().isValid() && model()->rowCount() > 0)
        selectionModel()->setCurrentIndex(model()->index(0, 0), QItemSelectionModel::NoUpdate);
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void ResultsView::focusOutEvent(QFocusEvent *event)
{
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

void ResultsView::paintEvent(QPaintEvent *event)
{
    QTreeView::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter p(viewport());
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidth(2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(viewport()->rect().adjusted(1, 1, -1, -1));
}

void ResultsView::setColumnWidth(int width)
{
    columnAtLeast_ = width;
    givenAt_ = this->width();
    followed_ = width;
    header()->resizeSection(0, width);
}

void ResultsView::resizeEvent(QResizeEvent *event)
{
    QTreeView::resizeEvent(event);
    QHeaderView *h = header();
    if (followed_ < 0 || !model() || h->count() == 0)
        return;
    if (h->sectionSize(0) != followed_) {  // sized by hand: it stays so
        followed_ = -1;
        return;
    }
    followed_ = std::max(columnAtLeast_, columnAtLeast_ + this->width() - givenAt_);
    h->resizeSection(0, followed_);
}

}  // namespace vc
