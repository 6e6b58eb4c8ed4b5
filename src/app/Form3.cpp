#include "app/Form3.h"

#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "extract/ItemFiles.h"
#include "output/HelpTexts.h"

#ifndef VC_FORMS_WITHOUT_MAIN_WINDOW
#include "app/Form1.h"
#endif

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

namespace vc {

namespace {
Form3 *g_form3 = nullptr;
}  // namespace

StartCommandHook Form3::onStart;
const QString Form3::kStoreValue = QStringLiteral("TextSet");
const QString Form3::kSeparator = QStringLiteral("!!!MORVA!!!");

Form3::Form3(QWidget *parent) : QWidget(parent)
{
    using namespace formdesign;
    setObjectName(QStringLiteral("Form3"));
    setUpWindow(this, QStringLiteral("Extract Lines Containing These Text Sets"), 8040, 3000);

    PushButton11 = pushButton(this, "PushButton11", QStringLiteral("Help"), 120, 120, 7800, 405);
    Frame2 = frame(this, "Frame2", QStringLiteral("Containing Text"), 120, 570, 7800, 800);
    Combo1 = new QComboBox(Frame2);  // a drop-down list: pick an entry, no typing
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(false);
    Combo1->setGeometry(twipsRect(240, 300, 7320, 345));
    PushButton2 = pushButton(this, "PushButton2", QStringLiteral("Add Item"), 120, 1485, 3840, 405);
    PushButton1 = pushButton(this, "PushButton1", QStringLiteral("Remove Selected Item"), 4080, 1485, 3840, 405);
    PushButton5 = pushButton(this, "PushButton5", QStringLiteral("Clear All Items"), 120, 1985, 3840, 405);
    PushButton3 =
        pushButton(this, "PushButton3", QStringLiteral("Load Multiple Items From Text File"), 4080, 1980, 3840, 405);
    PushButton4 = pushButton(this, "PushButton4", QStringLiteral("Start Extracting"), 120, 2485, 7800, 405);

    // Tab indexes: Combo1 0, PushButton3 1, PushButton2 2, PushButton1 3,
    // PushButton5 4, PushButton4 5, PushButton11 6, Frame2 7.
    formdesign::setTabOrder(
        {Combo1, PushButton3, PushButton2, PushButton1, PushButton5, PushButton4, PushButton11, Frame2});

    pointer_ = new WindowPointer(this);
    for (QWidget *b : {PushButton11, PushButton2, PushButton1, PushButton5, PushButton3, PushButton4})
        pointer_->hover(b, pointer::Custom);
    for (QWidget *w : {static_cast<QWidget *>(this), static_cast<QWidget *>(Frame2)})
        pointer_->hover(w, pointer::Default);

    connect(PushButton2, &QPushButton::clicked, this, &Form3::PushButton2_Click);
    connect(PushButton1, &QPushButton::clicked, this, &Form3::PushButton1_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form3::PushButton5_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form3::PushButton3_Click);
    connect(PushButton11, &QPushButton::clicked, this, &Form3::PushButton11_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form3::PushButton4_Click);
}

Form3::~Form3()
{
    if (g_form3 == this)
        g_form3 = nullptr;
}

Form3 *Form3::instance()
{
    if (!g_form3) {
        g_form3 = new Form3;
        g_form3->Form_Load();
    }
    return g_form3;
}

void Form3::destroyInstance()
{
    delete g_form3;
    g_form3 = nullptr;
}

void Form3::Form_Load()
{
    ApplyFormColors(this);
    if (FileExists(handCursorFile()))
        pointer_->loadCustomImage(handCursorFile());
    CenterForm(this);
    Combo1->clear();
    for (const QString &item : splitStored(settings::Read(kStoreValue)))
        appendItem(item);
}

QStringList Form3::items() const
{
    QStringList out;
    out.reserve(Combo1->count());
    for (int i = 0; i < Combo1->count(); ++i)
        out << Combo1->itemText(i);
    return out;
}

QString Form3::joinItems(const QStringList &items)
{
    return items.join(kSeparator);
}

QStringList Form3::splitStored(const QString &stored)
{
    if (stored.isEmpty())
        return {};
    return stored.split(kSeparator, Qt::KeepEmptyParts);
}

void Form3::SaveComboToRegistry(QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    settings::Save(kStoreValue, joinItems(list));
}

void Form3::FileToComboBox(QComboBox *combo, const QString &path)
{
    if (!FileExists(path)) {
        dialogs().messageBox(QStringLiteral("File not found"));
        return;
    }
    const QStringList lines = readItemFile(path);
    const int selected = combo->currentIndex();
    combo->addItems(lines);
    combo->setCurrentIndex(selected);
}

void Form3::appendItem(const QString &text)
{
    const int selected = Combo1->currentIndex();
    Combo1->addItem(text);
    Combo1->setCurrentIndex(selected);
}

void Form3::PushButton2_Click()
{
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form3.PushButton2_Click"));
    QString answer;
    trap(100, [&] { answer = dialogs().inputBox(QStringLiteral("Enter text:"), product::kAppTitle, QString()); });
    trap(102, [&] {
        if (!answer.isEmpty())
            appendItem(answer);
    });
    trap(104, [&] { SaveComboToRegistry(Combo1); });
}

void Form3::PushButton1_Click()
{
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form3.PushButton1_Click"));
    trap(100, [&] {
        const int selected = Combo1->currentIndex();
        if (selected >= 0) {
            Combo1->removeItem(selected);
            // Nothing is selected afterwards, so a second click removes nothing more.
            Combo1->setCurrentIndex(-1);
        }
    });
    trap(102, [&] { SaveComboToRegistry(Combo1); });
}

void Form3::PushButton5_Click()
{
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form3.PushButton5_Click"));
    trap(100, [&] { Combo1->clear(); });
    trap(102, [&] { SaveComboToRegistry(Combo1); });
}

void Form3::PushButton3_Click()
{
    // Items loaded here reach the settings store with the next add, remove or clear.
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form3.PushButton3_Click"));
    QStringList files;
    trap(100, [&] {
        files = dialogs().openFileNames(QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"),
                                        QStringLiteral("All Files (*.*)|*.*|"));
    });
    // Each chosen file is its own step: after one that cannot be read, the next is still tried.
    for (const QString &path : files)
        trap(102, [&] { FileToComboBox(Combo1, path); });
}

void Form3::PushButton11_Click()
{
    ErrorTrap trap(QStringLiteral("Tarnwick2/19/2015.Form3.PushButton11_Click"));
    trap(100, [&] { dialogs().messageBox(help::textSetHelp()); });
}

void Form3::PushButton4_Click()
{
    const QString caption = QStringLiteral("Start Extracting");
    const QString location = QStringLiteral("Vellumcast.Form3.PushButton4_Click");
    if (onStart) {
        onStart(PushButton4, caption, this, Rule::ContainingList, location);
        return;
    }
#ifndef VC_FORMS_WITHOUT_MAIN_WINDOW
    if (Form1 *main = Form1::instance())
        main->startCommand(PushButton4, caption, this, Rule::ContainingList, location);
#endif
}

void Form3::closeEvent(QCloseEvent *event)
{
    // Closing only takes the window off the screen; the items (also those
    // loaded from files and not yet stored) stay until it is shown again.
    event->accept();
}

}  // namespace vc
