#pragma once
#include "app/FieldsWindowModel.h"
#include "core/MailRecord.h"

#include <QGroupBox>
#include <QList>

class QLabel;
class QPlainTextEdit;
class QTableView;

namespace vc {

// The fields window's live preview: the template applied to a few messages
// (the first of the selected folder, given once), one row per row the
// template makes, and the text of the message a selected cell came from
// with the cell's matches highlighted.
class FieldsPreview : public QGroupBox {
    Q_OBJECT
public:
    explicit FieldsPreview(QWidget *parent = nullptr);

    void setRecords(QList<MailRecord> records);
    const QList<MailRecord> &records() const { return records_; }

    // The rows `compiled` makes of the messages; with null, the template
    // cannot be used (`problem` says why) and the grid is empty.
    void apply(const records::Template *compiled, const QString &problem = QString());

    const RecordTableModel &model() const { return model_; }
    QTableView *grid() const { return grid_; }
    QPlainTextEdit *text() const { return text_; }

private:
    void showCell();

    RecordTableModel model_;
    QList<MailRecord> records_;
    QTableView *grid_;
    QPlainTextEdit *text_;
    QLabel *status_;
    QLabel *message_;
};

}  // namespace vc
