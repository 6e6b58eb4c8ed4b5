#pragma once
#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace vc {

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
    void clear();

    // True when a row has exactly this text (case-sensitive, code unit by code unit).
    bool contains(const QString &text) const;

    QString header() const { return header_; }
    void setHeader(const QString &h);

private:
    QList<QString> texts_;
    QList<bool> checked_;
    mutable QHash<QString, int> index_;  // text -> number of rows holding it
    mutable bool indexed_ = false;       // index_ holds every row
    QString header_ = QStringLiteral("Results");
};

}  // namespace vc
