#include "app/Form2.h"

#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "output/HelpTexts.h"

#ifndef VC_FORMS_WITHOUT_MAIN_WINDOW
#include "app/Form1.h"
#endif

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace vc {

namespace {

Form2 *g_form2 = nullptr;

const QString kStartWith = QStringLiteral("StartWith");
const QString kEndWith = QStringLiteral("EndWith");

}  // namespace

StartCommandHook Form2::onStart;

Form2::Form2(QWidget *parent) : QWidget(parent)
{
    using namespace formdesign;
    setObjectName(QStringLiteral("Form2"));
    setUpWindow(this, QStringLiteral("Extract Between X and Y (Repeatedly)"), 8040, 2745);

    PushButton11 = pushButton(this, "PushButton11", QStringLiteral("Help"), 120, 120, 7800, 405);
    Frame2 = frame(this, "Frame2", QStringLiteral("Start with (X)"), 120, 570, 7800, 795);
    Text3 = new QLineEdit(Frame2);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(twipsRect(240, 300, 7320, 345));
    Frame1 = frame(this, "Frame1", QStringLiteral("End with (Y)"), 120, 1395, 7800, 795);
    Text4 = new QLineEdit(Frame1);
    Text4->setObjectName(QStringLiteral("Text4"));
    Text4->setGeometry(twipsRect(240, 300, 7320, 345));
    PushButton4 = pushButton(this, "PushButton4", QStringLiteral("Start Extracting"), 120, 2295, 3840, 405);
    PushButton1 = pushButton(this, "PushButton1", QStringLiteral("Close This Window"), 4080, 2295, 3840, 405);

    // Tab indexes: Text3 0, Text4 1, PushButton4 2, PushButton1 3, PushButton11 4, Frame2 5, Frame1 6.
    formdesign::setTabOrder({Text3, Text4, PushButton4, PushButton1, PushButton11, Frame2, Frame1});

    pointer_ = new WindowPointer(this);
    for (QWidget *b : {PushButton11, PushButton4, PushButton1})
        pointer_->hover(b, pointer::Custom);
    for (QWidget *w : {static_cast<QWidget *>(this), static_cast<QWidget *>(Frame2), static_cast<QWidget *>(Frame1)})
        pointer_->hover(w, pointer::Default);

    connect(PushButton11, &QPushButton::clicked, this, &Form2::PushButton11_Click);
    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form2::PushButton4_Click);
}

Form2::~Form2()
{
    if (g_form2 == this)
        g_form2 = nullptr;
}

Form2 *Form2::instance()
{
    if (!g_form2) {
        g_form2 = new Form2;
        g_form2->Form_Load();
    }
    return g_form2;
}

void Form2::destroyInstance()
{
    delete g_form2;
    g_form2 = nullptr;
}

void Form2::Form_Load()
{
    CenterForm(this);
    ApplyFormColors(this);
    if (FileExists(handCursorFile()))
        pointer_->loadCustomImage(handCursorFile());
    // The boxes are filled before their change handlers are connected: the
    // stored values need not be written back.
    Text3->setText(settings::Read(kStartWith));
    Text4->setText(settings::Read(kEndWith));
    connect(Text3, &QLineEdit::textChanged, this, &Form2::Text3_Change, Qt::UniqueConnection);
    connect(Text4, &QLineEdit::textChanged, this, &Form2::Text4_Change, Qt::UniqueConnection);
}

QString Form2::startMarker() const
{
    return Text3->text();
}
QString Form2::endMarker() const
{
    return Text4->text();
}

void Form2::Text3_Change()
{
    settings::Save(kStartWith, Text3->text());
}
void Form2::Text4_Change()
{
    settings::Save(kEndWith, Text4->text());
}

void Form2::PushButton11_Click()
{
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form2.PushButton11_Click"));
    trap(100, [&] { dialogs().messageBox(help::betweenHelp()); });
}

void Form2::PushButton1_Click()
{
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form2.PushButton1_Click"));
    trap(100, [&] { close(); });
}

void Form2::PushButton4_Click()
{
    const QString caption = QStringLiteral("Start Extracting");
    const QString location = QStringLiteral("Vellumcast.Form2.PushButton4_Click");
    if (onStart) {
        onStart(PushButton4, caption, this, Rule::StartsWith, location);
        return;
    }
#ifndef VC_FORMS_WITHOUT_MAIN_WINDOW
    if (Form1 *main = Form1::instance())
        main->startCommand(PushButton4, caption, this, Rule::StartsWith, location);
#endif
}

void Form2::closeEvent(QCloseEvent *event)
{
    // The window lives until the program ends: a close (close box, "Close This
    // Window", or the application quitting) only takes it off the screen; the
    // object and its texts stay. Accepting rather than ignoring the close keeps
    // the application free to quit while the window is open.
    event->accept();
}

}  // namespace vc
