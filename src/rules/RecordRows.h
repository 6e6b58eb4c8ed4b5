#pragma once
#include "core/MailRecord.h"
#include "rules/FieldMatch.h"
#include "rules/Template.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

namespace vc::records {

// One cell of a row.
struct Cell {
    QString text;       // as a CSV or spreadsheet cell holds it (several values joined)
    QStringList items;  // a column with several values: each of them (a list in JSON)
    bool operator==(const Cell &) const = default;
};
using Row = QList<Cell>;

// Where the values of each cell of one row were found, column by column.
using RowSpans = QList<QList<Span>>;

// A template applied to message after message: the rows of each message.
// Holds what one run needs between messages (the rows seen, for unique) and
// the working lists it reuses from message to message; one per run.
class RecordRows {
public:
    explicit RecordRows(Template compiled);

    const Template &compiled() const { return template_; }

    // Appends the rows of `m` to `rows`, and with `spans` where each cell's
    // values were found. Returns how many rows were appended.
    //  - rows "message": one row, an empty cell (or the field's default)
    //    where a field found nothing; none with skip_empty when no field that
    //    searches the message found anything (builtins do not count);
    //  - rows "match": one row per match of the repeat field, the other fields'
    //    cells repeated on each; none when it has no match;
    //  - unique: a row whose cells equal those of an earlier row is left out.
    int append(const MailRecord &m, QList<Row> &rows, QList<RowSpans> *spans = nullptr);

    // Forgets the rows seen so far.
    void restart() { seen_.clear(); }

private:
    // The cell of column `column` (the `group`th of field `field`) from all its hits.
    Cell cellOf(int field, int group, const Column &column, QList<Span> *spans) const;
    bool isNew(const Row &row);

    Template template_;
    const Template::Data *data_;
    std::vector<FieldHits> hits_;  // per field, reused
    std::vector<int> firstColumn_;
    QSet<QString> seen_;
};

}  // namespace vc::records
