// The main window as a user sees it: every control inside the window and its
// frame, none over another, no caption cut off; the window opens at its
// laid-out size where the screen allows it and within the screen where it does
// not; its list takes the room when it grows; it remembers its size and place.
// Also run with QT_SCALE_FACTOR 1.5 and 2 on a 1280x1024 screen (see CMakeLists.txt).
#include "AppTestSupport.h"
#include "app/Anchors.h"
#include "app/StatusLine.h"
#include "app/WindowHelpers.h"
#include "app/WindowMenus.h"
#include "app/WindowPlacement.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTreeView>

#include <algorithm>

using namespace vc;
using namespace vc::test;

namespace {

// The controls a user sees: named, not one of Qt's own parts.
QList<QWidget *> controls(QWidget *form)
{
    QList<QWidget *> out;
    for (QWidget *w : form->findChildren<QWidget *>()) {
        const bool kind = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
                          || qobject_cast<QComboBox *>(w) || qobject_cast<QLabel *>(w) || qobject_cast<QGroupBox *>(w)
                          || qobject_cast<QTreeView *>(w) || qobject_cast<QProgressBar *>(w);
        if (kind && !w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"))
            && w->isVisibleTo(form))
            out << w;
    }
    return out;
}

// The part of a control that shows something: a label, check box or option
// button as wide as its caption, anything else its whole box.
QRect inkRect(QWidget *w)
{
    QRect r = w->geometry();
    if (qobject_cast<QLabel *>(w) || qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w))
        r.setWidth(std::min(r.width(), w->sizeHint().width()));
    return r;
}

// The width a control needs to show its whole caption: a command draws its
// text centred inside its frame, a frame its title after a margin.
int neededWidth(QWidget *w)
{
    const auto text = [](QString t) { return t.remove(QLatin1Char('&')); };
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->fontMetrics().horizontalAdvance(text(g->title())) + 16;
    if (auto *b = qobject_cast<QPushButton *>(w))
        return b->fontMetrics().horizontalAdvance(text(b->text()))
               + 2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b) + 2;
    return w->sizeHint().width();
}

// Where a frame draws its caption.
QRect captionRect(QGroupBox *g)
{
    QStyleOptionGroupBox o;
    o.initFrom(g);
    o.text = g->title();
    o.lineWidth = 1;
    o.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    o.textAlignment = g->alignment();
    return g->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g);
}

bool hasCaption(QWidget *w)
{
    return qobject_cast<QAbstractButton *>(w) || qobject_cast<QLabel *>(w) || qobject_cast<QGroupBox *>(w);
}

QRect inForm(QWidget *w, QWidget *form)
{
    return QRect(w->mapTo(form, QPoint(0, 0)), w->size());
}

double scaleFactor()
{
    return qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1.0;
}

// A loaded window on the screen.
void showLoaded(Window &w)
{
    w->Form_Load();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
}

}  // namespace

class TestForm1Layout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { storeOnly({}); }

    // --- as a user finds it -------------------------------------------------

    void everyControlInsideItsFrameAndTheWindow()
    {
        Window w;
        showLoaded(w);
        const QList<QWidget *> all = controls(w.form.get());
        QVERIFY(all.size() >= 38);
        const QRect window = w->rect();
        for (QWidget *c : all) {
            QWidget *frame = c->parentWidget();
            QVERIFY2(frame->rect().contains(c->geometry()),
                     qPrintable(c->objectName() + " sticks out of " + frame->objectName()));
            if (auto *g = qobject_cast<QGroupBox *>(frame))  // clear of the frame's caption
                QVERIFY2(!captionRect(g).intersects(c->geometry()), qPrintable(c->objectName()));
            QVERIFY2(window.contains(inForm(c, w.form.get())), qPrintable(c->objectName() + " outside the window"));
        }
    }

    void noControlOverAnother()
    {
        Window w;
        showLoaded(w);
        const QList<QWidget *> all = controls(w.form.get());
        for (QWidget *a : all)
            for (QWidget *b : all)
                if (a < b && a->parentWidget() == b->parentWidget()) {
                    QVERIFY2(!inkRect(a).intersects(inkRect(b)),
                             qPrintable(a->objectName() + " overlaps " + b->objectName()));
                    // Where a box reaches under another control, that control lies above it.
                    if (a->geometry().intersects(b->geometry())) {
                        QWidget *under = inkRect(a) != a->geometry() ? a : b;
                        QWidget *over = under == a ? b : a;
                        const QObjectList order = a->parentWidget()->children();
                        QVERIFY2(order.indexOf(over) > order.indexOf(under),
                                 qPrintable(under->objectName() + " covers " + over->objectName()));
                    }
                }
        // The menu bar is above every control.
        for (QWidget *c : all)
            QVERIFY2(inForm(c, w.form.get()).top() >= w->menus()->bar()->geometry().bottom(),
                     qPrintable(c->objectName()));
    }

    void noCaptionCutOff()
    {
        Window w;
        showLoaded(w);
        for (QWidget *c : controls(w.form.get()))
            if (hasCaption(c))
                QVERIFY2(neededWidth(c) <= c->width(), qPrintable(QStringLiteral("%1 needs %2, has %3")
                                                                      .arg(c->objectName())
                                                                      .arg(neededWidth(c))
                                                                      .arg(c->width())));
        // The account suffix list shows its longest item whole.
        QComboBox *suffix = w->Combo1;
        QCOMPARE(suffix->count(), 4);
        QStyleOptionComboBox o;
        o.initFrom(suffix);
        o.editable = false;
        const QRect field =
            suffix->style()->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField, suffix);
        for (int i = 0; i < suffix->count(); ++i)
            QVERIFY2(suffix->fontMetrics().horizontalAdvance(suffix->itemText(i)) <= field.width(),
                     qPrintable(QStringLiteral("%1 in %2").arg(suffix->itemText(i)).arg(field.width())));
    }

    // --- room ------------------------------------------------------------------

    void opensAtItsLaidOutSizeWhereTheScreenAllows()
    {
        Window w;
        showLoaded(w);
        const QRect avail = w->screen()->availableGeometry();
        QVERIFY2(avail.contains(w->frameGeometry()), qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                                                    .arg(w->frameGeometry().width())
                                                                    .arg(w->frameGeometry().height())
                                                                    .arg(avail.width())
                                                                    .arg(avail.height())));
        const int menu = w->menus()->bar()->height();
        if (avail.height() >= w->sizeHint().height() + 40) {
            QCOMPARE(w->size(), w->sizeHint());
            // Below the menu bar every control is at its laid-out place.
            QCOMPARE(w->sizeHint(), QSize(twips(8040), menu + twips(10305)));
            QCOMPARE(inForm(w->Frame5, w.form.get()), twipsRect(120, 120, 7800, 1800).translated(0, menu));
            QCOMPARE(inForm(w->ListView1, w.form.get()), twipsRect(120, 6570, 7800, 1575).translated(0, menu));
            QCOMPARE(inForm(w->PushButton14, w.form.get()), twipsRect(4080, 9255, 3840, 405).translated(0, menu));
            QCOMPARE(inForm(w->ProgressBar1, w.form.get()), twipsRect(120, 9780, 7800, 405).translated(0, menu));
            QVERIFY(!w->topArea->verticalScrollBar()->isVisible());
        }
        QVERIFY(w->windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(w->minimumSize().height() < w->sizeHint().height());
    }

    // On any screen (here also at 150% and 200%): the frame fits the screen, the
    // results list keeps a few rows and the commands below it stay whole; what
    // the top area cannot show scrolls into view when tabbed to.
    void fitsTheScreen()
    {
        Window w;
        showLoaded(w);
        QTRY_VERIFY(w->screen()->availableGeometry().contains(w->frameGeometry()));
        const QRect window = w->rect();
        for (QWidget *c :
             QList<QWidget *>{w->topArea, w->resultsArea, w->ListView1, w->PushButton6, w->PushButton12, w->PushButton9,
                              w->PushButton1, w->PushButton3, w->PushButton14, w->ProgressBar1, w->menus()->bar()})
            QVERIFY2(window.contains(inForm(c, w.form.get())), qPrintable(c->objectName()));
        QVERIFY(w->ListView1->height() >= 3 * QFontMetrics(w->ListView1->font()).height());
        QVERIFY(w->topArea->height() >= 80);
        for (QWidget *c : controls(w->topControls))
            QVERIFY2(w->topControls->rect().contains(inForm(c, w->topControls)), qPrintable(c->objectName()));
        // Tabbing to a control of the top area brings it into view.
        const QRect viewport(w->topArea->viewport()->mapTo(w.form.get(), QPoint(0, 0)), w->topArea->viewport()->size());
        for (QWidget *c : QList<QWidget *>{w->PushButton11, w->Text7, w->Check3}) {
            c->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY2(viewport.contains(inForm(c, w.form.get())), qPrintable(c->objectName()));
        }
        qInfo("scale %.2f: window %dx%d, top area %d of %d, list %d", scaleFactor(), w->width(), w->height(),
              w->topArea->height(), w->topControls->height(), w->ListView1->height());
        if (scaleFactor() <= 1.5) {  // a 1280x1024 screen has room for all of the top area at 150%
            QVERIFY(!w->topArea->verticalScrollBar()->isVisible());
        }
    }

    void listTakesTheRoomWhenTheWindowGrows()
    {
        Window w;
        showLoaded(w);
        QWidget *form = w.form.get();
        const QList<QWidget *> all = controls(form);
        QHash<QWidget *, QRect> before;
        for (QWidget *c : all)
            before.insert(c, inForm(c, form));
        const QSize was = w->size();
        const QSize grow(300, 200);
        w->resize(was + grow);
        QTRY_COMPARE(w->size(), was + grow);

        QCOMPARE(inForm(w->ListView1, form).size(), before[w->ListView1].size() + grow);
        // Its column shows as much more of each row.
        QCOMPARE(w->ListView1->header()->sectionSize(0), twips(7300) + grow.width());
        QCOMPARE(inForm(w->ProgressBar1, form),
                 before[w->ProgressBar1].translated(0, grow.height()).adjusted(0, 0, grow.width(), 0));
        for (QPushButton *b : {w->PushButton6, w->PushButton9, w->PushButton3})
            QCOMPARE(inForm(b, form), before[b].translated(0, grow.height()).adjusted(0, 0, grow.width() / 2, 0));
        for (QPushButton *b : {w->PushButton12, w->PushButton1, w->PushButton14})
            QCOMPARE(inForm(b, form),
                     before[b].translated(grow.width() / 2, grow.height()).adjusted(0, 0, grow.width() / 2, 0));
        // The top area's controls keep their places, and nothing overlaps.
        for (QWidget *c : controls(w->topControls))
            QCOMPARE(inForm(c, form), before[c]);
        for (QWidget *a : all)
            for (QWidget *b : all)
                if (a < b && a->parentWidget() == b->parentWidget())
                    QVERIFY(!inkRect(a).intersects(inkRect(b)));

        w->showMaximized();
        QTRY_VERIFY(w->isMaximized() && w->height() > was.height() + grow.height());
        QVERIFY(w->ListView1->height() > before[w->ListView1].height() + grow.height());
        // A column sized by hand keeps its size.
        w->ListView1->header()->resizeSection(0, 900);
        w->showNormal();
        w->resize(was);
        QTRY_COMPARE(w->size(), was);
        QCOMPARE(w->ListView1->header()->sectionSize(0), 900);
    }

    // Shorter than its laid-out size, the window gives up list rows first; then
    // the top area scrolls, while the list keeps a few rows.
    void shortWindowGivesUpListRowsFirst()
    {
        Window w;
        showLoaded(w);
        const int full = w->sizeHint().height();
        w->resize(w->width(), full - 30);
        QTRY_COMPARE(w->height(), full - 30);
        QCOMPARE(w->ListView1->height(), twips(1575) - 30);
        QCOMPARE(w->topArea->height(), w->topControls->height());
        w->resize(w->width(), w->minimumHeight());
        QTRY_COMPARE(w->height(), w->minimumHeight());
        QVERIFY(w->topArea->height() < w->topControls->height());
        QTRY_VERIFY(w->topArea->verticalScrollBar()->isVisible());
        QVERIFY(w->ListView1->height() >= 3 * QFontMetrics(w->ListView1->font()).height());
        QVERIFY(w->rect().contains(inForm(w->ProgressBar1, w.form.get())));
    }

    void remembersItsSizeAndPlace()
    {
        QRect where;
        {
            Window w;
            showLoaded(w);
            w->setGeometry(QRect(w->geometry().topLeft() + QPoint(-40, 30), w->size() + QSize(100, -60)));
            where = w->geometry();
            QTRY_VERIFY(!fileValues().value(QStringLiteral("WindowGeometry")).isEmpty());
        }
        Window again;
        showLoaded(again);
        QCOMPARE(again->geometry(), where);
    }

    // What sizes and places follow from the screen, as pure functions.
    void openingSizeWithinTheScreen_data()
    {
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QSize>("expected");
        const QSize laidOut(536, 709), least(536, 330);
        QTest::newRow("room enough") << laidOut << least << QRect(0, 0, 1280, 1024) << QMargins() << laidOut;
        QTest::newRow("150%: a little short")
            << laidOut << least << QRect(0, 0, 853, 682) << QMargins(2, 24, 2, 2) << QSize(536, 656);
        QTest::newRow("200%: short") << laidOut << least << QRect(0, 0, 640, 512) << QMargins() << QSize(536, 512);
        QTest::newRow("a screen below the least size")
            << laidOut << least << QRect(0, 0, 400, 300) << QMargins() << QSize(400, 300);
        QTest::newRow("panel at the top")
            << laidOut << least << QRect(0, 40, 1280, 600) << QMargins() << QSize(536, 600);
    }
    void openingSizeWithinTheScreen()
    {
        QFETCH(QSize, wanted);
        QFETCH(QSize, minimum);
        QFETCH(QRect, available);
        QFETCH(QMargins, frame);
        QFETCH(QSize, expected);
        QCOMPARE(fitOnScreen(wanted, minimum, available, frame), expected);
    }

    void anchoredEdges_data()
    {
        QTest::addColumn<QRect>("place");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::addColumn<double>("top");
        QTest::addColumn<double>("bottom");
        QTest::addColumn<QSize>("growth");
        QTest::addColumn<QRect>("expected");
        const QRect r(8, 549, 256, 27);
        QTest::newRow("fixed") << r << 0.0 << 0.0 << 0.0 << 0.0 << QSize(300, 200) << r;
        QTest::newRow("left column at the bottom")
            << r << 0.0 << 0.5 << 1.0 << 1.0 << QSize(301, 200) << QRect(8, 749, 407, 27);
        QTest::newRow("right column at the bottom")
            << QRect(272, 549, 256, 27) << 0.5 << 1.0 << 1.0 << 1.0 << QSize(301, 200) << QRect(423, 749, 406, 27);
        QTest::newRow("both ways") << QRect(8, 0, 520, 105) << 0.0 << 1.0 << 0.0 << 1.0 << QSize(10, 20)
                                   << QRect(8, 0, 530, 125);
        QTest::newRow("shrinking below nothing")
            << QRect(8, 0, 520, 105) << 0.0 << 1.0 << 0.0 << 1.0 << QSize(0, -200) << QRect(8, 0, 520, 0);
    }
    void anchoredEdges()
    {
        QFETCH(QRect, place);
        QFETCH(double, left);
        QFETCH(double, right);
        QFETCH(double, top);
        QFETCH(double, bottom);
        QFETCH(QSize, growth);
        QFETCH(QRect, expected);
        QCOMPARE(Anchors::placeFor(place, {left, right, top, bottom}, growth), expected);
    }

    // --- the look and the list ----------------------------------------------

    void windowAndFonts()
    {
        Window w;
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
        QCOMPARE(w->lblLabels[0]->property("index").toInt(), 0);
        QCOMPARE(w->lblLabels[1]->property("index").toInt(), 1);
        QCOMPARE(w->lblLabels[0]->buddy(), w->Text7);
        QCOMPARE(w->lblLabels[1]->buddy(), w->Text6);
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
        QCOMPARE(w->statusLine()->shown(), QStringLiteral("Progress Bar  \u00b7  1000001 rows, 1 ticked"));
        w->PushButton9->click();
        QCOMPARE(v->model()->rowCount(), 0);
        QCOMPARE(w->statusLine()->shown(), QStringLiteral("Progress Bar  \u00b7  no rows"));
    }

    // A picture of the window for a person to look at (written next to the test).
    void screenshot()
    {
        Window w;
        showLoaded(w);
        const QPixmap shot = w->grab();
        QCOMPARE(shot.size(), w->size() * shot.devicePixelRatio());
        QVERIFY(shot.save(QDir::current().filePath(QStringLiteral("form1.png"))));
    }
};

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
