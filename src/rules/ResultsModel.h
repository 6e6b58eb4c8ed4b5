#pragma once
#include "core/MailRecord.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace vc {

// Where rows came from: the message's folder, UID (0 when the server named
// none), the folder's UIDVALIDITY, sequence number, Message-ID,
// date and sender. The rows of one message share one.
struct RowOrigin {
    QString folder;
    quint32 uid = 0;
    quint32 uidValidity = 0;
    int seq = 0;
    QString messageId;
    QDateTime date;
    QString from;

    static RowOrigin of(const MailRecord &m);
};

// The results list: one column "Results", each row a text and a tick state.
// Rows are appended in batches (one model operation per batch), read by the
// output commands and removed all at once. A hash of the texts beside the rows
// answers "is there a row with exactly this text" in O(1); it is built on the
// first question (only the between rule asks), so rules that never ask do not
// pay for hashing every row.
class ResultsModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ResultsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    int count() const { return int(texts_.size()); }
    const QString &text(int row) const { return texts_.at(row); }
    bool isChecked(int row) const { return checked_.at(row); }
    void setChecked(int row, bool on);
    const QList<QString> &texts() const { return texts_; }

    // Ticks on many rows at once, one change notification per call.
    enum class Tick { On, Off, Invert };
    void tickAll(Tick tick);
    // The given rows: all ticked, unless every one of them is ticked already,
    // then all unticked (how Space acts on a selection).
    void toggleRows(const QList<int> &rows);
    int checkedCount() const;

    void append(const QString &text);
    void appendRows(const QStringList &rows);  // one insert operation for the whole batch
    // A batch of rows that came from one message; its source is kept once.
    void appendRows(const QStringList &rows, const RowOrigin &source);
    // Where the row came from; null when it was appended without a source.
    const RowOrigin *originOf(int row) const;
    void clear();

    // True when a row has exactly this text (case-sensitive, code unit by code unit).
    bool contains(const QString &text) const;

    QString header() const { return header_; }
    void setHeader(const QString &h);

private:
    QList<QString> texts_;
    QList<bool> checked_;
    QList<RowOrigin> sources_;           // one per batch appended with a source
    QList<int> sourceOf_;                // per row: index into sources_, -1 for none
    int pendingSource_ = -1;             // the source of the batch being appended
    mutable QHash<QString, int> index_;  // text -> number of rows holding it
    mutable bool indexed_ = false;       // index_ holds every row
    QString header_ = QStringLiteral("Results");
};

}  // namespace vc
