#include "app/FieldsWindowPreview.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <vector>

namespace vc {

namespace {

// The text as a text box holds it: every CR LF and lone CR one line break.
// `at[i]` is where the text's position i lies in it.
QString shownText(const QString &text, std::vector<qsizetype> &at)
{
    QString out;
    out.reserve(text.size());
    at.assign(size_t(text.size() + 1), 0);
    for (qsizetype i = 0; i < text.size(); ++i) {
        at[size_t(i)] = out.size();
        const QChar c = text.at(i);
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                continue;  // the LF that follows stands for both
            out += u'\n';
        } else {
            out += c;
        }
    }
    at[size_t(text.size())] = out.size();
    return out;
}

}  // namespace

FieldsPreview::FieldsPreview(QWidget *parent) : QGroupBox(QStringLiteral("Preview"), parent)
{
    setObjectName(QStringLiteral("previewFrame"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("previewStatus"));
    grid_ = new QTableView;
    grid_->setObjectName(QStringLiteral("previewGrid"));
    grid_->setModel(&model_);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setWordWrap(false);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->horizontalHeader()->setStretchLastSection(true);
    message_ = new QLabel;
    message_->setObjectName(QStringLiteral("previewMessage"));
    text_ = new QPlainTextEdit;
    text_->setObjectName(QStringLiteral("previewText"));
    text_->setReadOnly(true);
    auto *side = new QWidget;
    side->setObjectName(QStringLiteral("previewMessageFrame"));
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(message_);
    sideLayout->addWidget(text_);
    auto *split = new QSplitter(Qt::Horizontal);
    split->setObjectName(QStringLiteral("previewSplitter"));
    split->addWidget(grid_);
    split->addWidget(side);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(split, 1);
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this, &FieldsPreview::showCell);
    apply(nullptr);
}

void FieldsPreview::setRecords(QList<MailRecord> records)
{
    records_ = std::move(records);
}

void FieldsPreview::apply(const records::Template *compiled, const QString &problem)
{
    const QModelIndex was = grid_->currentIndex();
    if (!compiled) {
        model_.clearRows();
        status_->setText(problem.isEmpty() ? QStringLiteral("The template has no field to show.") : problem);
        return;
    }
    model_.setColumns(compiled->columns());
    records::RecordRows rows(*compiled);
    for (qsizetype r = 0; r < records_.size(); ++r) {
        QList<records::Row> out;
        QList<records::RowSpans> spans;
        rows.append(records_.at(r), out, &spans);
        model_.appendRows(out, int(r), &spans);
    }
    if (records_.isEmpty())
        status_->setText(QStringLiteral("No messages to preview yet."));
    else
        status_->setText(
            QStringLiteral("%1 rows from the first %2 messages.").arg(model_.rowCount()).arg(records_.size()));
    // The cell that was selected stays selected while the user edits.
    if (was.isValid() && was.row() < model_.rowCount() && was.column() < model_.columnCount())
        grid_->setCurrentIndex(model_.index(was.row(), was.column()));
    else
        showCell();
}

void FieldsPreview::showCell()
{
    const QModelIndex cell = grid_->currentIndex();
    if (!cell.isValid() || model_.recordOf(cell.row()) < 0) {
        message_->clear();
        text_->clear();
        return;
    }
    const MailRecord &m = records_.at(model_.recordOf(cell.row()));
    const QList<records::Span> spans = model_.spansOf(cell.row(), cell.column());
    // The text the cell's values came from: the message's, or an attachment's.
    int source = 0;
    for (const records::Span &s : spans)
        if (s.source >= 0) {
            source = s.source;
            break;
        }
    const QString &searched =
        source > 0 && source <= m.attachments.size() ? m.attachments.at(source - 1).text : m.PlainTextBody;
    message_->setText(source > 0
                          ? QStringLiteral("%1 (attachment %2)").arg(m.Subject, m.attachments.at(source - 1).name)
                          : QStringLiteral("%1 - %2").arg(m.Subject, m.From));
    std::vector<qsizetype> at;
    text_->setPlainText(shownText(searched, at));
    QList<QTextEdit::ExtraSelection> marks;
    QTextCharFormat mark;
    mark.setBackground(QColor(255, 226, 120));
    for (const records::Span &s : spans) {
        if (s.source != source || s.start < 0 || s.start + s.length > searched.size())
            continue;
        QTextCursor c(text_->document());
        c.setPosition(int(at[size_t(s.start)]));
        c.setPosition(int(at[size_t(s.start + s.length)]), QTextCursor::KeepAnchor);
        marks.append({c, mark});
    }
    text_->setExtraSelections(marks);
    if (!marks.isEmpty()) {
        QTextCursor first = marks.first().cursor;
        first.clearSelection();
        text_->setTextCursor(first);
        text_->ensureCursorVisible();
    }
}

}  // namespace vc
