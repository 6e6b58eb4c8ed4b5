#pragma once
#include <QString>
#include <QStringList>

// The fixed help texts of the windows. Inside each text a single CR (code 13)
// ends a line and two CRs in a row leave a blank line. Each text has exactly one
// source here; the main window's help buttons and the rule windows' own "Help"
// buttons show the same strings.
namespace vc::help {

// "Questions? Please contact Team Quillmark at <contact page>" (main window, login frame).
QString contactNote();

// The worked example of the lines-by-number rule (main window).
QString linesByNumberExample();

// The between-X-and-Y help of the between window's "Help" button.
QString betweenHelp();
// The same text followed by two more CRs, for the main window's "Help >".
QString betweenExample();

// The text-set help of the text-set window's "Help" button; the main window's
// "Help >" beside the text-set command shows it unchanged.
QString textSetHelp();

}  // namespace vc::help
