#include "app/FieldsWindowResults.h"

#include "core/Dialogs.h"
#include "output/ResultsOutput.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

namespace vc {

namespace {

QPushButton *button(const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QString copyCell(const QString &text)
{
    if (!text.contains(u'\t') && !text.contains(u'"') && !text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    return u'"' + QString(text).replace(u'"', QLatin1String("\"\"")) + u'"';
}

struct SaveKind {
    const char *title, *filter, *suffix;
};

SaveKind saveKind(records::RecordFormat format)
{
    switch (format) {
    case records::RecordFormat::Csv: return {"Save as CSV", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*|", "csv"};
    case records::RecordFormat::Xlsx:
        return {"Save as XLSX", "Excel Workbooks (*.xlsx)|*.xlsx|All Files (*.*)|*.*|", "xlsx"};
    case records::RecordFormat::Jsonl:
        return {"Save as JSON lines", "JSON Lines (*.jsonl)|*.jsonl|All Files (*.*)|*.*|", "jsonl"};
    }
    return {"Save", "All Files (*.*)|*.*|", ""};
}

}  // namespace

FieldsResults::FieldsResults(QWidget *parent) : QGroupBox(QStringLiteral("Results"), parent)
{
    setObjectName(QStringLiteral("resultsFrame"));
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(&model_);
    sorted_->setSortRole(RecordTableModel::SortRole);
    sorted_->setSortLocaleAware(true);
    grid_ = new QTableView;
    grid_->setObjectName(QStringLiteral("resultsGrid"));
    grid_->setModel(sorted_);
    grid_->setSortingEnabled(true);
    grid_->sortByColumn(-1, Qt::AscendingOrder);  // the run's order until a header is clicked
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setWordWrap(false);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->horizontalHeader()->setStretchLastSection(true);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("resultsStatus"));
    copyButton_ = button("copyResultsButton", QStringLiteral("Copy"));
    csvButton_ = button("saveCsvButton", QStringLiteral("Save as CSV..."));
    xlsxButton_ = button("saveXlsxButton", QStringLiteral("Save as XLSX..."));
    jsonlButton_ = button("saveJsonlButton", QStringLiteral("Save as JSON lines..."));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    for (QPushButton *b : {copyButton_, csvButton_, xlsxButton_, jsonlButton_})
        buttons->addWidget(b);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);

    connect(grid_, &QTableView::doubleClicked, this, &FieldsResults::openRow);
    connect(copyButton_, &QPushButton::clicked, this, &FieldsResults::copy);
    connect(csvButton_, &QPushButton::clicked, this, [this] { save(records::RecordFormat::Csv); });
    connect(xlsxButton_, &QPushButton::clicked, this, [this] { save(records::RecordFormat::Xlsx); });
    connect(jsonlButton_, &QPushButton::clicked, this, [this] { save(records::RecordFormat::Jsonl); });
    rowsChanged();
}

void FieldsResults::setColumns(const QList<records::Column> &columns, const QString &sheetName)
{
    model_.setColumns(columns);
    sources_.clear();
    sheetName_ = sheetName;
    rowsChanged();
}

void FieldsResults::clear()
{
    model_.clearRows();
    sources_.clear();
    rowsChanged();
}

void FieldsResults::append(const QList<records::Row> &rows)
{
    model_.appendRows(rows);
    rowsChanged();
}

void FieldsResults::append(const QList<records::Row> &rows, const RowOrigin &source)
{
    if (rows.isEmpty())
        return;
    sources_.append(source);
    model_.appendRows(rows, int(sources_.size()) - 1);
    rowsChanged();
}

const RowOrigin *FieldsResults::originOf(int shownRow) const
{
    if (shownRow < 0 || shownRow >= sorted_->rowCount())
        return nullptr;
    const int record = model_.recordOf(sorted_->mapToSource(sorted_->index(shownRow, 0)).row());
    return record >= 0 && record < sources_.size() ? &sources_.at(record) : nullptr;
}

void FieldsResults::openRow(const QModelIndex &shown)
{
    const RowOrigin *source = shown.isValid() ? originOf(shown.row()) : nullptr;
    if (!source)
        return;
    // The double-clicked cell first: it is the one marked first.
    const records::Row &row = model_.rowAt(sorted_->mapToSource(shown).row());
    QStringList cells;
    if (shown.column() < row.size())
        cells << row.at(shown.column()).text;
    for (int c = 0; c < row.size(); ++c)
        if (c != shown.column())
            cells << row.at(c).text;
    Q_EMIT rowOpened(*source, cells);
}

QList<records::Row> FieldsResults::shownRows() const
{
    QList<records::Row> rows;
    rows.reserve(sorted_->rowCount());
    for (int r = 0; r < sorted_->rowCount(); ++r)
        rows << model_.rowAt(sorted_->mapToSource(sorted_->index(r, 0)).row());
    return rows;
}

QString FieldsResults::copyText() const
{
    QString out;
    QStringList cells;
    for (const records::Column &c : model_.columns())
        cells << copyCell(c.name);
    out += cells.join(u'\t') + QLatin1String("\r\n");
    for (const records::Row &row : shownRows()) {
        cells.clear();
        for (const records::Cell &c : row)
            cells << copyCell(c.text);
        out += cells.join(u'\t') + QLatin1String("\r\n");
    }
    return out;
}

void FieldsResults::copy()
{
    if (model_.columns().isEmpty())
        return;
    QGuiApplication::clipboard()->setText(copyText());
}

bool FieldsResults::save(records::RecordFormat format)
{
    if (model_.columns().isEmpty())
        return false;
    const SaveKind kind = saveKind(format);
    QString path = dialogs().saveFileName(QString::fromLatin1(kind.title), QString::fromLatin1(kind.filter));
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).suffix().isEmpty())
        path += u'.' + QString::fromLatin1(kind.suffix);
    if (QFileInfo::exists(path)
        && dialogs().messageBox(output::overwriteQuestion(path), BoxButtons::YesNo) != BoxAnswer::Yes)
        return false;
    records::WriterOptions options;
    options.sheetName = sheetName_;
    QString error;
    auto writer = records::replaceFile(format, path, model_.columns(), options, &error);
    if (writer && writer->append(shownRows()) && writer->commit())
        return true;
    if (writer)
        error = writer->errorString();
    dialogs().messageBox(error, BoxButtons::Ok, BoxIcon::Warning);
    return false;
}

void FieldsResults::rowsChanged()
{
    const int rows = model_.rowCount();
    status_->setText(rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows));
    const bool any = !model_.columns().isEmpty();
    for (QPushButton *b : {copyButton_, csvButton_, xlsxButton_, jsonlButton_})
        b->setEnabled(any);
}

}  // namespace vc
