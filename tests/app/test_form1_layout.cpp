// The main window's controls: kind, container, caption, place, size and tab
// index of every one, against the table below.
#include "AppTestSupport.h"
#include "app/WindowHelpers.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>

#include <algorithm>

using namespace vc;
using namespace vc::test;

namespace {

struct Row {
    const char *name, *kind, *parent, *caption;
    int left, top, width, height, tab;
};

// name, kind, container, caption, left, top, width, height, tab (twips)
const Row kForm1[] = {
    {"Frame5", "QGroupBox", "Form1", "Login", 120, 120, 7800, 1800, 2},
    {"lblLabels_0", "QLabel", "Frame5", "Live ID:", 240, 345, 1320, 270, 3},
    {"Text7", "QLineEdit", "Frame5", "", 1320, 300, 2880, 345, 0},
    {"Check1", "QCheckBox", "Frame5", "Remember me", 4320, 345, 1575, 255, 16},
    {"Combo1", "QComboBox", "Frame5", "", 7560, 300, 1905, 345, 37},
    {"lblLabels_1", "QLabel", "Frame5", "Password:", 240, 795, 1080, 270, 4},
    {"Text6", "QLineEdit", "Frame5", "", 1320, 750, 2880, 345, 1},
    {"Check2", "QCheckBox", "Frame5", "Autoconnect when software loads", 4320, 795, 3255, 255, 30},
    {"PushButton17", "QPushButton", "Frame5", "1. Connect", 240, 1200, 5760, 405, 17},
    {"PushButton15", "QPushButton", "Frame5", "Help", 6120, 1200, 1425, 405, 15},
    {"Frame2", "QGroupBox", "Form1", "Folder", 120, 1980, 7800, 700, 31},
    {"Option3", "QRadioButton", "Frame2", "Inbox", 240, 300, 855, 255, 34},
    {"Option5", "QRadioButton", "Frame2", "Drafts", 1560, 300, 855, 255, 33},
    {"Option6", "QRadioButton", "Frame2", "Sent", 2880, 300, 1095, 255, 32},
    {"Option7", "QRadioButton", "Frame2", "Junk", 4200, 300, 855, 255, 36},
    {"Option9", "QRadioButton", "Frame2", "Deleted", 5595, 300, 1095, 255, 35},
    {"PushButton13", "QPushButton", "Form1", "Extract All Email Data", 120, 2800, 7800, 405, 21},
    {"PushButton2", "QPushButton", "Form1", "Extract All Lines Containing This Text:", 120, 3310, 4335, 405, 22},
    {"Text1", "QLineEdit", "Form1", "", 4560, 3310, 3360, 400, 19},
    {"PushButton8", "QPushButton", "Form1", "Extract All Lines Not Contain. This Text:", 120, 3825, 4335, 405, 23},
    {"Text2", "QLineEdit", "Form1", "", 4560, 3825, 3360, 400, 20},
    {"PushButton10", "QPushButton", "Form1", "Help >", 120, 4335, 975, 405, 24},
    {"PushButton7", "QPushButton", "Form1", "Extract Lines By Number:", 1200, 4335, 3255, 405, 25},
    {"Text5", "QLineEdit", "Form1", "", 4560, 4335, 3360, 400, 18},
    {"PushButton16", "QPushButton", "Form1", "Help >", 120, 4845, 975, 405, 28},
    {"PushButton4", "QPushButton", "Form1", "Extract Between X and Y (Repeatedly)", 1200, 4845, 6720, 405, 26},
    {"PushButton18", "QPushButton", "Form1", "Help >", 120, 5355, 975, 405, 29},
    {"PushButton11", "QPushButton", "Form1", "Extract Lines Containing These Text Sets", 1200, 5355, 6720, 405, 27},
    {"Frame6", "QGroupBox", "Form1", "Extract Between Option", 120, 5820, 7800, 645, 6},
    {"Check3", "QCheckBox", "Frame6", "Show duplicate items in results", 240, 270, 3135, 255, 7},
    {"ListView1", "vc::ResultsView", "Form1", "", 120, 6570, 7800, 1575, 8},
    {"PushButton6", "QPushButton", "Form1", "Save Results As Text File", 120, 8235, 3840, 405, 9},
    {"PushButton12", "QPushButton", "Form1", "Save As Comma Delimited", 4080, 8235, 3840, 405, 10},
    {"PushButton9", "QPushButton", "Form1", "Clear List", 120, 8745, 3840, 405, 11},
    {"PushButton1", "QPushButton", "Form1", "Copy Results To Clipboard", 4080, 8745, 3840, 405, 14},
    {"PushButton3", "QPushButton", "Form1", "Copy To Clipboard (With Tabs)", 120, 9255, 3840, 405, 12},
    {"PushButton14", "QPushButton", "Form1", "Copy To Clipboard (With Spaces)", 4080, 9255, 3840, 405, 13},
    {"ProgressBar1", "QProgressBar", "Form1", "Progress Bar", 120, 9780, 7800, 405, 5},
};

QString captionOf(QWidget *w)
{
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *p = qobject_cast<QProgressBar *>(w))
        return p->format();
    return QString();
}

bool takesFocus(QWidget *w)
{
    return !qobject_cast<QGroupBox *>(w) && !qobject_cast<QLabel *>(w) && !qobject_cast<QProgressBar *>(w);
}

}  // namespace

class TestForm1Layout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { storeOnly({}); }

    // Freshly built, before start-up changes anything.
    void controlsAsDesigned_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kForm1)); ++i)
            QTest::newRow(kForm1[i].name) << i;
    }
    void controlsAsDesigned()
    {
        QFETCH(int, row);
        const Row &r = kForm1[row];
        Window w;
        auto *c = w->findChild<QWidget *>(QString::fromLatin1(r.name));
        QVERIFY2(c, r.name);
        QCOMPARE(QString::fromLatin1(c->metaObject()->className()), QString::fromLatin1(r.kind));
        QCOMPARE(c->parentWidget()->objectName(), QString::fromLatin1(r.parent));
        QCOMPARE(captionOf(c), QString::fromUtf8(r.caption));
        QCOMPARE(c->geometry(), twipsRect(r.left, r.top, r.width, r.height));
        QCOMPARE(c->property("tabIndex").toInt(), r.tab);
        QVERIFY(c->isEnabled());
    }

    void everyControlIsInTheTable()
    {
        Window w;
        QStringList names;
        for (const Row &r : kForm1)
            names << QString::fromLatin1(r.name);
        for (QWidget *c : w->findChildren<QWidget *>()) {
            if (c->property("tabIndex").isValid())
                QVERIFY2(names.contains(c->objectName()), qPrintable(c->objectName()));
        }
        QCOMPARE(w->lblLabels[0]->property("index").toInt(), 0);
        QCOMPARE(w->lblLabels[1]->property("index").toInt(), 1);
    }

    // Tab moves through the focusable controls in increasing tab index.
    void tabOrder()
    {
        Window w;
        QList<const Row *> rows;
        for (const Row &r : kForm1)
            rows << &r;
        std::sort(rows.begin(), rows.end(), [](const Row *a, const Row *b) { return a->tab < b->tab; });
        QList<QWidget *> order;
        for (const Row *r : rows) {
            auto *c = w->findChild<QWidget *>(QString::fromLatin1(r->name));
            if (takesFocus(c))
                order << c;
            else
                QCOMPARE(c->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(order.first(), w->Text7);
        QCOMPARE(order.at(1), w->Text6);
        for (int i = 0; i + 1 < order.size(); ++i) {
            QWidget *next = order[i]->nextInFocusChain();
            while (next && !order.contains(next) && next != w.form.get())
                next = next->nextInFocusChain();
            QVERIFY2(next == order[i + 1],
                     qPrintable(order[i]->objectName() + " -> " + (next ? next->objectName() : "?")));
        }
    }

    void windowAndFonts()
    {
        Window w;
        QCOMPARE(w->minimumSize(), QSize(twips(8040), twips(10305)));
        QCOMPARE(w->maximumSize(), QSize(twips(8040), twips(10305)));
        QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w->font().family(), QStringLiteral("Arial"));
        QCOMPARE(w->font().pointSizeF(), 9.0);
        QVERIFY(w->font().bold());
        QCOMPARE(w->Text7->font().pointSizeF(), 9.0);
        QVERIFY(w->Option3->font().bold());
        for (QPushButton *b : w->findChildren<QPushButton *>()) {
            QCOMPARE(b->font().pointSizeF(), 11.25);
            QVERIFY(b->font().bold());
        }
        QCOMPARE(w->ListView1->font().pointSizeF(), 9.0);
        QVERIFY(w->ListView1->font().bold());
        QVERIFY(!w->ProgressBar1->font().bold());
        QCOMPARE(w->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(w->Frame5->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(w->Text6->echoMode(), QLineEdit::Password);
        QVERIFY(!w->Text6->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(!w->Combo1->isEditable());
        QCOMPARE(w->ListView1->toolTip(), QStringLiteral("Move bar to right and out of window to reveal full names."));
    }

    // The list is a view on the results model: one column, a tick box per row,
    // uniform rows so a million of them stay cheap.
    void resultsList()
    {
        Window w;
        w->Form_Load();
        QTreeView *v = w->ListView1;
        QCOMPARE(v->model(), static_cast<QAbstractItemModel *>(&w->results()));
        QVERIFY(v->uniformRowHeights());
        QVERIFY(!v->rootIsDecorated());
        QCOMPARE(v->model()->columnCount(), 1);
        QCOMPARE(v->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Results"));
        w->results().append(QStringLiteral("one"));
        const QModelIndex i = v->model()->index(0, 0);
        QVERIFY(v->model()->flags(i) & Qt::ItemIsUserCheckable);
        QCOMPARE(v->model()->data(i, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(v->model()->setData(i, Qt::Checked, Qt::CheckStateRole));
        QVERIFY(w->results().isChecked(0));

        QStringList many;
        many.reserve(1000000);
        for (int n = 0; n < 1000000; ++n)
            many << QString::number(n);
        w->results().appendRows(many);
        QCOMPARE(v->model()->rowCount(), 1000001);
        const QModelIndex last = v->model()->index(1000000, 0);
        QCOMPARE(last.data().toString(), QStringLiteral("999999"));
        // Appended rows get their place in the view shortly after.
        QTRY_VERIFY(v->visualRect(last).isValid());
        QCOMPARE(v->indexBelow(v->model()->index(999999, 0)), last);
        w->PushButton9->click();
        QCOMPARE(v->model()->rowCount(), 0);
    }

    // A picture of the window for a person to look at (written next to the test).
    void screenshot()
    {
        Window w;
        w->Form_Load();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        const QPixmap shot = w->grab();
        QCOMPARE(shot.size(), QSize(twips(8040), twips(10305)) * shot.devicePixelRatio());
        QVERIFY(shot.save(QDir::current().filePath(QStringLiteral("form1.png"))));
    }
};

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
