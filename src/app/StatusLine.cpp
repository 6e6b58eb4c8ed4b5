#include "app/StatusLine.h"

#include "rules/ResultsModel.h"

#include <QProgressBar>

namespace vc {

StatusLine::StatusLine(QProgressBar *bar, const ResultsModel *results) : QObject(bar), bar_(bar), results_(results)
{
    for (auto signal : {&ResultsModel::rowsInserted, &ResultsModel::rowsRemoved})
        connect(results, signal, this, &StatusLine::refresh);
    connect(results, &ResultsModel::modelReset, this, &StatusLine::refresh);
    connect(results, &ResultsModel::dataChanged, this, &StatusLine::refresh);
}

void StatusLine::setText(const QString &text)
{
    text_ = text;
    refresh();
}

void StatusLine::setIdle(bool idle)
{
    if (idle_ == idle)
        return;
    idle_ = idle;
    refresh();
}

QString StatusLine::countsText(int rows, int ticked)
{
    if (rows == 0)
        return QStringLiteral("no rows");
    return QStringLiteral("%1 %2, %3 ticked").arg(rows).arg(rows == 1 ? "row" : "rows").arg(ticked);
}

QString StatusLine::shown() const
{
    if (!idle_)
        return text_;
    const QString counts = countsText(results_->count(), results_->checkedCount());
    return text_.isEmpty() ? counts : text_ + QStringLiteral("  \u00b7  ") + counts;
}

void StatusLine::refresh()
{
    // While a run fills the list, the bar shows the run's own text only.
    if (!idle_ && bar_->format() == QString(text_).replace(QLatin1Char('%'), QStringLiteral("%%")))
        return;
    QString f = shown();
    bar_->setFormat(f.replace(QLatin1Char('%'), QStringLiteral("%%")));
}

}  // namespace vc
