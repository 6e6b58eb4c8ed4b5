#include "app/Form2.h"

#include "app/Anchors.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"
#include "output/HelpTexts.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace vc {

Form2::Form2()
    : SingleRuleWindow(QStringLiteral("Form2"), QStringLiteral("Extract Between X and Y (Repeatedly)"), 8040, 2745,
                       Rule::Between, location::Form2::PushButton4_Click)
{
    using namespace formdesign;
    helpButton = pushButton(this, "PushButton11", QStringLiteral("Help"), 120, 120, 7800, 405);
    startFrame = frame(this, "Frame2", QStringLiteral("Start with (&X)"), 120, 570, 7800, 795);
    startMarkerBox = lineEdit(startFrame, "Text3", 240, 300, 7320, 345);
    endFrame = frame(this, "Frame1", QStringLiteral("End with (&Y)"), 120, 1395, 7800, 795);
    endMarkerBox = lineEdit(endFrame, "Text4", 240, 300, 7320, 345);
    startButton = pushButton(this, "PushButton4", kStartCaption, 120, 2295, 3840, 405);
    closeButton = pushButton(this, "PushButton1", QStringLiteral("Close This Window"), 4080, 2295, 3840, 405);

    // Wider, the boxes and commands take the width; the height has nothing to use.
    setMaximumHeight(height());
    auto *anchors = new Anchors(this, size());
    for (QWidget *w : QList<QWidget *>{helpButton, startFrame, endFrame})
        anchors->add(w, Anchors::kWidth);
    anchors->add(startButton, Anchors::kLeftColumn);
    anchors->add(closeButton, Anchors::kRightColumn);
    for (QGroupBox *f : {startFrame, endFrame})
        (new Anchors(f, f->size()))->add(f->findChild<QLineEdit *>(), Anchors::kWidth);

    // Tab indexes: Text3 0, Text4 1, PushButton4 2, PushButton1 3, PushButton11 4, Frame2 5, Frame1 6.
    formdesign::setTabOrder({startMarkerBox, endMarkerBox, startButton, closeButton, helpButton, startFrame, endFrame});
    setHoverPointers({helpButton, startButton, closeButton}, {startFrame, endFrame});

    connect(helpButton, &QPushButton::clicked, this, &Form2::PushButton11_Click);
    connect(closeButton, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(startButton, &QPushButton::clicked, this, &Form2::PushButton4_Click);
}

void Form2::Form_Load()
{
    applyLoadLook();
    // The boxes are filled before their change handlers are connected: the
    // stored values need not be written back.
    startMarkerBox->setText(settings::readText(settings::key::StartWith));
    endMarkerBox->setText(settings::readText(settings::key::EndWith));
    connect(startMarkerBox, &QLineEdit::textChanged, this, &Form2::Text3_Change, Qt::UniqueConnection);
    connect(endMarkerBox, &QLineEdit::textChanged, this, &Form2::Text4_Change, Qt::UniqueConnection);
}

QString Form2::startMarker() const
{
    return startMarkerBox->text();
}
QString Form2::endMarker() const
{
    return endMarkerBox->text();
}

void Form2::Text3_Change()
{
    settings::save(settings::key::StartWith, startMarkerBox->text());
}
void Form2::Text4_Change()
{
    settings::save(settings::key::EndWith, endMarkerBox->text());
}

void Form2::PushButton11_Click()
{
    ErrorTrap trap(location::Form2::PushButton11_Click);
    trap(100, [&] { dialogs().messageBox(help::betweenHelp()); });
}

void Form2::PushButton1_Click()
{
    ErrorTrap trap(location::Form2::PushButton1_Click);
    trap(100, [&] { close(); });
}

void Form2::PushButton4_Click()
{
    startExtracting(startButton);
}

}  // namespace vc
