#pragma once
#include "app/RuleWindow.h"

#include <QString>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vc {

// The between-X-and-Y window: the start marker (Text3) and end marker (Text4),
// stored as "StartWith" and "EndWith" at every edit, a help box, and the
// "Start Extracting" command of the between rule. Created on first use and then
// only hidden when closed, so the markers stay in the boxes.
class Form2 : public SingleRuleWindow<Form2> {
    Q_OBJECT
public:
    // Builds the window; Form_Load() fills it.
    Form2();

    // Applies the load look and the stored markers.
    void Form_Load();

    QString startMarker() const;  // Text3
    QString endMarker() const;    // Text4

    // Each control under its role and under its control name (its objectName).
    QPushButton *helpButton = nullptr, *&PushButton11 = helpButton;
    QGroupBox *startFrame = nullptr, *&Frame2 = startFrame;
    QLineEdit *startMarkerBox = nullptr, *&Text3 = startMarkerBox;
    QGroupBox *endFrame = nullptr, *&Frame1 = endFrame;
    QLineEdit *endMarkerBox = nullptr, *&Text4 = endMarkerBox;
    QPushButton *startButton = nullptr, *&PushButton4 = startButton;
    QPushButton *closeButton = nullptr, *&PushButton1 = closeButton;

    void Text3_Change();
    void Text4_Change();
    void PushButton11_Click();  // help
    void PushButton1_Click();   // "Close This Window"
    void PushButton4_Click();   // "Start Extracting"
};

}  // namespace vc
