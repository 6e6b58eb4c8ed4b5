#pragma once
#include "app/FieldsWindowModel.h"
#include "output/RecordWriters.h"
#include "rules/ResultsModel.h"

#include <QGroupBox>

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace vc {

// The fields window's results: the rows of a run in a grid with one column
// per field, sortable by any column, copied as tab-separated text (header row
// first) or saved as CSV, XLSX or JSON lines, in the order the grid shows.
class FieldsResults : public QGroupBox {
    Q_OBJECT
public:
    explicit FieldsResults(QWidget *parent = nullptr);

    // New columns (the rows go); `sheetName` names a saved workbook's sheet.
    void setColumns(const QList<records::Column> &columns, const QString &sheetName);
    void clear();
    void append(const QList<records::Row> &rows);
    // The rows of one message, with where they came from.
    void append(const QList<records::Row> &rows, const RowOrigin &source);
    // Where the row the grid shows at `shownRow` came from; null when not known.
    const RowOrigin *originOf(int shownRow) const;

    const RecordTableModel &model() const { return model_; }
    QTableView *grid() const { return grid_; }
    // The rows in the order the grid shows them.
    QList<records::Row> shownRows() const;
    // Tab-separated, the header row first, CR LF after each row; a cell holding
    // a tab, a quote or a line break is quoted as in CSV.
    QString copyText() const;

    void copy();
    // Asks where (dialogs), then writes every row; false when nothing was written.
    bool save(records::RecordFormat format);

Q_SIGNALS:
    // A row was double-clicked: where it came from and its cells' texts.
    void rowOpened(const RowOrigin &source, const QStringList &cells);

private:
    void rowsChanged();
    void openRow(const QModelIndex &shown);

    RecordTableModel model_;
    QSortFilterProxyModel *sorted_;
    QTableView *grid_;
    QLabel *status_;
    QPushButton *copyButton_, *csvButton_, *xlsxButton_, *jsonlButton_;
    QString sheetName_;
    QList<RowOrigin> sources_;  // one per message that gave rows
};

}  // namespace vc
