#include "rules/RecordRows.h"

#include "rules/TemplateData.h"

namespace vc::records {

RecordRows::RecordRows(Template compiled)
    : template_(std::move(compiled)), data_(template_.d.get()), hits_(data_->fields.size())
{
    firstColumn_.assign(data_->fields.size(), 0);
    for (qsizetype c = data_->columns.size() - 1; c >= 0; --c)
        firstColumn_[size_t(data_->columns.at(c).field)] = int(c);
}

Cell RecordRows::cellOf(int field, int group, const Column &column, QList<Span> *spans) const
{
    const FieldHits &h = hits_[size_t(field)];
    Cell cell;
    if (h.hits == 0) {
        const QString &fallback = data_->fields[size_t(field)].spec().defaultText;
        cell.text = fallback;
        if (column.multi && !fallback.isEmpty())
            cell.items = QStringList{fallback};
        return cell;
    }
    if (!column.multi) {
        cell.text = h.value(0, group);
        if (spans)
            spans->append(h.spans.first());
        return cell;
    }
    cell.items.reserve(h.hits);
    for (int k = 0; k < h.hits; ++k) {
        const QString &v = h.value(k, group);
        if (!v.isEmpty())  // a named group that took no part in this match
            cell.items.append(v);
    }
    cell.text = cell.items.join(column.separator);
    if (spans)
        *spans += h.spans;
    return cell;
}

bool RecordRows::isNew(const Row &row)
{
    // Cells joined by a character mail text does not hold; a list's items likewise.
    QString key;
    const QList<int> &only = data_->uniqueColumns;
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (!only.isEmpty() && !only.contains(int(i)))
            continue;
        const Cell &c = row.at(i);
        if (c.items.isEmpty())
            key += c.text;
        else
            key += c.items.join(QChar(0x1E));
        key += QChar(0x1F);
    }
    if (seen_.contains(key))
        return false;
    seen_.insert(key);
    return true;
}

int RecordRows::append(const MailRecord &m, QList<Row> &rows, QList<RowSpans> *spans)
{
    const TemplateSpec &spec = data_->spec;
    const int repeat = spec.rows == RowsMode::Match ? data_->repeatField : -1;
    bool found = false;
    for (size_t f = 0; f < data_->fields.size(); ++f) {
        const CompiledField &field = data_->fields[f];
        field.collect(m, field.multiValued() || int(f) == repeat, hits_[f]);
        found = found || (hits_[f].hits > 0 && !field.isBuiltin());
    }
    for (int f : data_->requiredFields)
        if (hits_[size_t(f)].hits == 0)
            return 0;
    const QList<Column> &columns = data_->columns;
    const int columnCount = int(columns.size());

    if (repeat < 0) {
        if (spec.skipEmpty && !found)
            return 0;
        Row row;
        row.reserve(columnCount);
        RowSpans where;
        if (spans)
            where.resize(columnCount);
        for (int c = 0; c < columnCount; ++c) {
            const int field = columns.at(c).field;
            row.append(cellOf(field, c - firstColumn_[size_t(field)], columns.at(c), spans ? &where[c] : nullptr));
        }
        if (spec.unique && !isNew(row))
            return 0;
        rows.append(std::move(row));
        if (spans)
            spans->append(std::move(where));
        return 1;
    }

    // The other fields' cells, once; then a row per match of the repeat field.
    Row shared;
    shared.reserve(columnCount);
    RowSpans sharedWhere;
    if (spans)
        sharedWhere.resize(columnCount);
    for (int c = 0; c < columnCount; ++c) {
        const int field = columns.at(c).field;
        if (field == repeat)
            shared.append(Cell());
        else
            shared.append(
                cellOf(field, c - firstColumn_[size_t(field)], columns.at(c), spans ? &sharedWhere[c] : nullptr));
    }
    const FieldHits &r = hits_[size_t(repeat)];
    const int first = firstColumn_[size_t(repeat)];
    int added = 0;
    for (int k = 0; k < r.hits; ++k) {
        Row row = shared;
        RowSpans where = sharedWhere;
        for (int g = 0; g < r.width; ++g) {
            row[first + g].text = r.value(k, g);
            if (spans)
                where[first + g] = {r.spans.at(k)};
        }
        if (spec.unique && !isNew(row))
            continue;
        rows.append(std::move(row));
        if (spans)
            spans->append(std::move(where));
        ++added;
    }
    return added;
}

}  // namespace vc::records
