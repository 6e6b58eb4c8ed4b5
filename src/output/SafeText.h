#pragma once
#include <QString>
#include <QStringView>

// Text that comes from mail (any sender controls it) made inert where it is
// shown or opened: on a terminal, and in spreadsheet cells.
namespace vc::safetext {

// The text as a terminal should show it: C0 control characters other than
// tab, DEL, C1 control characters and the bidirectional formatting
// characters are written as escapes ("\x1b", "\u202e"), so that no escape or
// OSC sequence of a sender reaches the terminal and no text is reordered.
// A backslash stays as it is. Text without such characters comes back
// unchanged (and shared, without a copy).
QString forTerminal(const QString &text);

// Whether a spreadsheet program would take the cell for a formula: its text
// begins with "=", "+", "-", "@", a tab or a carriage return.
bool looksLikeFormula(QStringView cell);

// The cell made inert: a leading "'" before a text that looksLikeFormula();
// any other text unchanged.
QString neutraliseFormula(const QString &cell);

}  // namespace vc::safetext
