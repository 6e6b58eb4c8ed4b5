#pragma once
#include <QTimer>
#include <QTreeView>

namespace vc {

// The results list's view: a one-column report list that stays responsive with a
// million rows. A tree view lays out all of its rows again after every batch of
// appended rows; here rows appended at the end are laid out together, at most
// once per kLayoutGapMs, so a run that appends a batch per message does not pay
// for a pass over the whole list each time. With the focus the list shows a
// highlighted frame and a current row (the first, until another is chosen), so
// a user tabbing to it sees where the keyboard acts. Its column grows and
// shrinks with the list (never below the width it was given), so a larger
// window shows more of each row, until the user sizes the column by hand.
// Everything else is QTreeView's.
class ResultsView : public QTreeView {
    Q_OBJECT
public:
    static constexpr int kLayoutGapMs = 200;

    explicit ResultsView(QWidget *parent = nullptr);

    // True while appended rows wait for their layout.
    bool layoutPending() const { return layoutTimer_.isActive(); }

    void reset() override;

    // Gives the column `width` for the list's present width; the least it keeps
    // while it follows the list.
    void setColumnWidth(int width);

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QTimer layoutTimer_;
    int columnAtLeast_ = 0;  // the column's width as given
    int givenAt_ = 0;        // the list's width then
    int followed_ = -1;      // the width the column was last given here (-1: it does not follow)
};

}  // namespace vc
