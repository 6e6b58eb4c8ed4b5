#include "app/FieldsWindowModel.h"

#include "output/RecordWriters.h"

#include <limits>

namespace vc {

void RecordTableModel::setColumns(const QList<records::Column> &columns)
{
    beginResetModel();
    columns_ = columns;
    rows_.clear();
    records_.clear();
    spans_.clear();
    endResetModel();
}

void RecordTableModel::clearRows()
{
    if (rows_.isEmpty())
        return;
    beginResetModel();
    rows_.clear();
    records_.clear();
    spans_.clear();
    endResetModel();
}

void RecordTableModel::appendRows(const QList<records::Row> &rows, int record, const QList<records::RowSpans> *spans)
{
    if (rows.isEmpty())
        return;
    const int first = int(rows_.size());
    beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
    rows_ += rows;
    for (qsizetype i = 0; i < rows.size(); ++i)
        records_ << record;
    if (spans) {
        spans_.resize(first);
        spans_ += *spans;
    }
    endInsertRows();
}

QList<records::Span> RecordTableModel::spansOf(int row, int column) const
{
    if (row < 0 || row >= spans_.size() || column < 0 || column >= spans_.at(row).size())
        return {};
    return spans_.at(row).at(column);
}

int RecordTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int RecordTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant RecordTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= columns_.size())
        return {};
    const records::Row &row = rows_.at(index.row());
    const QString text = index.column() < row.size() ? row.at(index.column()).text : QString();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return text;
    case SortRole:
        if (columns_.at(index.column()).type == records::CellType::Number) {
            const auto n = records::cellNumber(text);
            return n ? *n : -std::numeric_limits<double>::max();
        }
        return text;
    default: return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section < columns_.size() ? columns_.at(section).name : QVariant();
    return section + 1;
}

}  // namespace vc
