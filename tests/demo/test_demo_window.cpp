// The demo window on a (virtual) display: started with the command line the
// demo writes (its own settings file, the demo server and its CA), it is
// signed in to the demo mailbox as soon as it shows; one extraction fills the
// list, a screenshot of the screen shows the rows, and the between window
// opens beside the main window.
//
// Runs under xvfb-run with the platform's real windowing (not offscreen), as
// the demo window does. VC_DEMO_STATE names the state folder of "demo.sh
// start"; the screenshot goes to VC_SCREENSHOT.
#include "ScriptedDialogs.h"
#include "app/AppOptions.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/SettingsStore.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeView>

using namespace vc;

namespace {

QString state(const QString &name)
{
    return qEnvironmentVariable("VC_DEMO_STATE") + QLatin1Char('/') + name;
}

// The share of pixels in `area` that are not (nearly) white.
double inkIn(const QImage &image, const QRect &area)
{
    qint64 ink = 0, all = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x, ++all)
            if (qGray(image.pixel(x, y)) < 200)
                ++ink;
    return all ? double(ink) / double(all) : 0.0;
}

}  // namespace

class TestDemoWindow : public QObject {
    Q_OBJECT
    AppOptions options_;

private Q_SLOTS:
    void initTestCase()
    {
        QFile f(state(QStringLiteral("window-arguments")));
        QVERIFY2(f.open(QIODevice::ReadOnly), "the demo server is not running (demo.sh start)");
        QStringList args{QStringLiteral("vellumcast")};
        for (const QByteArray &line : f.readAll().split('\n'))
            if (!line.isEmpty())
                args << QString::fromUtf8(line);
        const cmdline::Parsed parsed = cmdline::parse(appProgram(options_), args);
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(options_.settingsFile, state(QStringLiteral("vellumcast-demo.ini")));
        settings::useFile(options_.settingsFile);
        QVERIFY(QGuiApplication::platformName() != QLatin1String("offscreen"));
    }

    void signedInAtOnceAndOneExtraction()
    {
        test::ScriptedDialogs d;
        Form1 form(options_.window);
        form.Form_Load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // Signed in by the start-up, with the demo account.
        QCOMPARE(form.Text7->text(), QStringLiteral("demo"));
        QCOMPARE(form.PushButton17->text(), QStringLiteral("Disconnect"));
        QVERIFY2(form.statusText().startsWith(QLatin1String("Connected to 127.0.0.1:")), qPrintable(form.statusText()));
        QVERIFY(d.boxes.isEmpty());
        QCOMPARE(form.Text1->text(), QStringLiteral("tracking"));
        QCOMPARE(Form2::instance()->startMarkerBox->text(), QStringLiteral("#"));
        QCOMPARE(Form2::instance()->endMarkerBox->text(), QStringLiteral(" "));

        QScreen *screen = form.screen();
        const QRect list = QRect(form.ListView1->mapToGlobal(QPoint(0, 0)), form.ListView1->size())
                               .translated(-screen->geometry().topLeft())
                               .adjusted(4, 24, -24, -24);  // inside the frame, below the header
        const double emptyInk = inkIn(screen->grabWindow(0).toImage(), list);

        // "Extract All Lines Containing This Text:" with "tracking".
        form.PushButton2->click();
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Done.")});
        QVERIFY2(form.results().count() >= 29, qPrintable(QString::number(form.results().count())));
        QVERIFY(form.results().texts().contains(QStringLiteral("Tracking number: PL670494871GB (Parcelline)")));

        // Screenshots of the screen: the list shows its rows, then their ticks.
        // The display shows a repaint a moment after the program asks for it.
        QImage shot;
        auto shows = [&](const QRect &area, double moreInkThan) {
            return QTest::qWaitFor(
                [&] {
                    shot = screen->grabWindow(0).toImage();
                    return inkIn(shot, area) > moreInkThan;
                },
                10000);
        };
        QVERIFY2(shows(list, emptyInk + 0.03),
                 qPrintable(
                     QStringLiteral("no rows on the screen (ink %1, empty %2)").arg(inkIn(shot, list)).arg(emptyInk)));
        const QRect tickColumn(list.left(), list.top(), 18, list.height());
        const double untickedInk = inkIn(shot, tickColumn);
        form.ListView1->findChild<QAction *>(QStringLiteral("tickAllAction"))->trigger();
        QCOMPARE(form.results().checkedCount(), form.results().count());
        QVERIFY2(shows(tickColumn, untickedInk + 0.02),
                 qPrintable(QStringLiteral("no ticks on the screen (ink %1, before %2)")
                                .arg(inkIn(shot, tickColumn))
                                .arg(untickedInk)));

        // The between window opens beside the main window, not over it.
        form.PushButton4->click();
        Form2 *between = Form2::instance();
        QVERIFY(QTest::qWaitForWindowExposed(between));
        QVERIFY(QTest::qWaitFor([&] { return !between->frameGeometry().intersects(form.frameGeometry()); }, 5000));
        QVERIFY(screen->availableGeometry().contains(between->frameGeometry()));
        QVERIFY(screen->availableGeometry().contains(form.frameGeometry()));
        QVERIFY(QTest::qWaitFor(
            [&] {
                shot = screen->grabWindow(0).toImage();
                const QRect markers =
                    QRect(between->startMarkerBox->mapToGlobal(QPoint(0, 0)), between->startMarkerBox->size())
                        .translated(-screen->geometry().topLeft());
                return inkIn(shot, markers) > 0.01;  // the window is on the screen, its box drawn
            },
            10000));
        const QString path = qEnvironmentVariable("VC_SCREENSHOT");
        if (!path.isEmpty())
            QVERIFY(shot.save(path));
        Form2::destroyInstance();
    }
};

QTEST_MAIN(TestDemoWindow)
#include "test_demo_window.moc"
