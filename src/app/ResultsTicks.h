#pragma once

class QTreeView;

namespace vc {

class ResultsModel;

// Ticking many rows of the results list at once: the list's context menu
// offers "Tick All", "Untick All" and "Invert Ticks" (actions "tickAllAction",
// "untickAllAction", "invertTicksAction"), and Space ticks the selected rows
// (all of them after Ctrl+A), or unticks them when all are ticked already.
void addTickCommands(QTreeView *list, ResultsModel *model);

}  // namespace vc
