#include "app/ResultsTicks.h"

#include "rules/ResultsModel.h"

#include <QAction>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QTreeView>

#include <functional>

namespace vc {

namespace {

// Space on the list acts on every selected row, not only the current one.
class SpaceTicksSelection : public QObject {
public:
    SpaceTicksSelection(QTreeView *list, ResultsModel *model) : QObject(list), list_(list), model_(model) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier || !list_->selectionModel())
            return false;
        QList<int> rows;
        for (const QItemSelectionRange &range : list_->selectionModel()->selection())
            for (int row = range.top(); row <= range.bottom(); ++row)
                rows << row;
        if (rows.isEmpty())
            return false;  // nothing selected: the current row toggles as usual
        model_->toggleRows(rows);
        return true;
    }

private:
    QTreeView *list_;
    ResultsModel *model_;
};

void addAction(QTreeView *list, const char *name, const QString &caption, std::function<void()> what)
{
    auto *action = new QAction(caption, list);
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, list, std::move(what));
    list->addAction(action);
}

}  // namespace

void addTickCommands(QTreeView *list, ResultsModel *model)
{
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(list, "tickAllAction", QStringLiteral("Tick All"), [model] { model->tickAll(ResultsModel::Tick::On); });
    addAction(list, "untickAllAction", QStringLiteral("Untick All"),
              [model] { model->tickAll(ResultsModel::Tick::Off); });
    addAction(list, "invertTicksAction", QStringLiteral("Invert Ticks"),
              [model] { model->tickAll(ResultsModel::Tick::Invert); });
    list->installEventFilter(new SpaceTicksSelection(list, model));
}

}  // namespace vc
