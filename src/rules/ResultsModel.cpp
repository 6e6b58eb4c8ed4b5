#include "rules/ResultsModel.h"

#include <QThreadPool>

#include <algorithm>
#include <utility>

namespace vc {

namespace {
// From this many rows on, clear() frees them on a worker thread.
constexpr qsizetype kReleaseElsewhereRows = 20000;
// A display role never renders a whole message body: long cells are cut for
// the view only (the row keeps its full text for copying and saving).
constexpr qsizetype kDisplayLimit = 2000;
}  // namespace

RowOrigin RowOrigin::of(const MailRecord &m)
{
    RowOrigin s;
    s.folder = m.folder;
    s.uid = m.uid;
    s.uidValidity = m.uidValidity;
    s.seq = m.uID;
    s.messageId = m.messageId;
    s.date = m.date;
    s.from = m.From;
    return s;
}

ResultsModel::ResultsModel(QObject *parent) : QAbstractListModel(parent) {}

int ResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        const QString &t = texts_.at(index.row());
        if (t.size() <= kDisplayLimit)
            return t;
        return QString(t.left(kDisplayLimit) + QChar(0x2026));
    }
    case Qt::EditRole: return texts_.at(index.row());
    case Qt::CheckStateRole: return checked_.at(index.row()) ? Qt::Checked : Qt::Unchecked;
    default: return {};
    }
}

bool ResultsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole || index.row() >= count())
        return false;
    const bool on = value.toInt() == Qt::Checked;
    if (checked_[index.row()] == on)
        return true;
    checked_[index.row()] = on;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return header_;
    return QAbstractListModel::headerData(section, orientation, role);
}

void ResultsModel::setHeader(const QString &h)
{
    header_ = h;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, 0);
}

void ResultsModel::setChecked(int row, bool on)
{
    setData(index(row), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

void ResultsModel::tickAll(Tick tick)
{
    if (checked_.isEmpty())
        return;
    for (qsizetype i = 0; i < checked_.size(); ++i)
        checked_[i] = tick == Tick::Invert ? !checked_[i] : tick == Tick::On;
    Q_EMIT dataChanged(index(0), index(count() - 1), {Qt::CheckStateRole});
}

void ResultsModel::toggleRows(const QList<int> &rows)
{
    int first = count(), last = -1;
    bool allTicked = true;
    for (const int row : rows) {
        if (row < 0 || row >= count())
            continue;
        allTicked = allTicked && checked_[row];
        first = std::min(first, row);
        last = std::max(last, row);
    }
    if (last < 0)
        return;
    for (const int row : rows)
        if (row >= 0 && row < count())
            checked_[row] = !allTicked;
    Q_EMIT dataChanged(index(first), index(last), {Qt::CheckStateRole});
}

int ResultsModel::checkedCount() const
{
    return int(std::count(checked_.cbegin(), checked_.cend(), true));
}

void ResultsModel::append(const QString &text)
{
    appendRows(QStringList{text});
}

void ResultsModel::appendRows(const QStringList &rows)
{
    if (rows.isEmpty())
        return;
    const int first = count();
    beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
    texts_.append(rows);
    checked_.insert(checked_.size(), rows.size(), false);
    sourceOf_.insert(sourceOf_.size(), rows.size(), pendingSource_);
    if (indexed_) {
        for (const QString &t : rows)
            ++index_[t];
    }
    endInsertRows();
}

void ResultsModel::appendRows(const QStringList &rows, const RowOrigin &source)
{
    if (rows.isEmpty())
        return;
    sources_.append(source);
    pendingSource_ = int(sources_.size()) - 1;
    appendRows(rows);
    pendingSource_ = -1;
}

const RowOrigin *ResultsModel::originOf(int row) const
{
    if (row < 0 || row >= sourceOf_.size() || sourceOf_.at(row) < 0)
        return nullptr;
    return &sources_.at(sourceOf_.at(row));
}

void ResultsModel::clear()
{
    if (texts_.isEmpty())
        return;
    beginResetModel();
    QList<QString> texts = std::exchange(texts_, {});
    QHash<QString, int> index = std::exchange(index_, {});
    QList<RowOrigin> sources = std::exchange(sources_, {});
    checked_.clear();
    sourceOf_.clear();
    indexed_ = false;
    endResetModel();
    // Freeing a million rows takes longer than the window may stand still: a
    // big list is let go on a worker thread. Texts still shared with a copy
    // held elsewhere are safe: their reference counts are atomic.
    if (texts.size() >= kReleaseElsewhereRows) {
        QThreadPool::globalInstance()->start(
            [texts = std::move(texts), index = std::move(index), sources = std::move(sources)]() mutable {
                index = {};
                texts = {};
                sources = {};
            });
    }
}

bool ResultsModel::contains(const QString &text) const
{
    if (!indexed_) {
        index_.reserve(texts_.size());
        for (const QString &t : texts_)
            ++index_[t];
        indexed_ = true;
    }
    return index_.contains(text);
}

}  // namespace vc
