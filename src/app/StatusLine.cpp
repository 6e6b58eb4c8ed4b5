#include "app/StatusLine.h"

#include "rules/ResultsModel.h"

#include <QProgressBar>

namespace vc {

namespace {

// The bar puts its values in for "%p", "%v" and "%m" and knows no escape: an
// invisible word joiner after such a "%" keeps the text as it reads.
QString asFormat(const QString &text)
{
    QString f;
    f.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        f += text[i];
        if (text[i] == QLatin1Char('%') && i + 1 < text.size() && QStringView(u"pvm").contains(text[i + 1]))
            f += QChar(0x2060);
    }
    return f;
}

}  // namespace

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
    if (!idle_ && bar_->format() == asFormat(text_))
        return;
    bar_->setFormat(asFormat(shown()));
}

}  // namespace vc
