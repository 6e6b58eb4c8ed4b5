#pragma once
#include "rules/RecordRows.h"
#include "rules/Template.h"

#include <QAbstractTableModel>
#include <QList>

namespace vc {

// Rows of a template as a table: one column per template column. Each row
// may carry the message it came from (an index into the list the caller
// keeps) and where its cells' values were found.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The role a sorting proxy sorts by: a number column's number, else the text.
    static constexpr int SortRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    // New columns; the rows go.
    void setColumns(const QList<records::Column> &columns);
    void clearRows();
    // Appends rows; `spans` (when given) holds one entry per row.
    void appendRows(const QList<records::Row> &rows, int record = -1, const QList<records::RowSpans> *spans = nullptr);

    const QList<records::Column> &columns() const { return columns_; }
    const records::Row &rowAt(int row) const { return rows_.at(row); }
    int recordOf(int row) const { return records_.at(row); }
    // Where the values of a cell were found; empty when not known.
    QList<records::Span> spansOf(int row, int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<records::Column> columns_;
    QList<records::Row> rows_;
    QList<int> records_;
    QList<records::RowSpans> spans_;  // empty, or one per row
};

}  // namespace vc
