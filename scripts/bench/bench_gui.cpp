// GUI benchmark (offscreen): a run through the main window that appends about a
// million rows through the listing handler, then the commands a user runs on
// such a list, each timed, with the longest event-loop stall during each step
// and the peak resident memory. Never run by CTest; see README.md.
//
//   bench-gui [--messages N] [--lines L] [--rule containing|all]
//
// The mail comes from a generating component (no network): N messages (default
// 10,000) of L body lines each (default 100), so the containing rule (text
// "body line") lists N x L rows and the all rule N x (L + 4).
#include "app/Form1.h"
#include "core/DateText.h"
#include "core/Dialogs.h"
#include "extract/ErrorLog.h"
#include "mail/ImapComponent.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <functional>

using namespace vc;

namespace {

// Answers every box at once: Yes to questions, the next prepared path to save dialogs.
class BenchDialogs : public Dialogs {
public:
    QStringList saveNames;
    QStringList shown;
    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon, const QString &) override
    {
        shown << text;
        return buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &) override
    {
        return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
    }
    QStringList openFileNames(const QString &, const QString &) override { return {}; }
};

// A folder of generated messages, each made when it is fetched.
class GeneratedImap : public ImapComponent {
public:
    GeneratedImap(int messages, int lines) : messages_(messages), lines_(lines) {}
    void setSsl(bool) override {}
    void setPort(int) override {}
    ImapResult<void> Connect(const QString &) override { return ok(); }
    ImapResult<QString> SendRawCommand(const QString &) override
    {
        ok();
        return QStringLiteral("* ID NIL\r\nA1 OK ID completed");
    }
    ImapResult<void> Login(const QString &, const QString &) override { return ok(); }
    ImapResult<MailboxList> ListMailboxes(const QString &, const QString &) override
    {
        ok();
        return MailboxList(QList<MailboxInfo>{{QStringLiteral("INBOX"), QStringLiteral("/"), {}}});
    }
    ImapResult<MailboxStatus> SelectMailbox(const QString &) override
    {
        ok();
        MailboxStatus status;
        status.exists = messages_;
        return status;
    }
    int NumMessages() override { return messages_; }
    ImapResult<MailRecord> FetchSingle(int number, bool) override
    {
        int abort = 0;
        Q_EMIT AbortCheck(abort);
        if (abort != 0) {
            error_ = QStringLiteral("FETCH: aborted");
            return ImapFault(ImapFailure::Aborted, error_);
        }
        Q_EMIT PercentDone(100);
        MailRecord e;
        e.From = QStringLiteral("Sender %1 <sender%1@example.org>").arg(number % 97);
        e.FromName = QStringLiteral("Sender %1").arg(number % 97);
        e.FromAddress = QStringLiteral("sender%1@example.org").arg(number % 97);
        e.Subject = QStringLiteral("Generated message %1").arg(number);
        e.date = QDateTime(QDate(2025, 6, 2), QTime(number / 3600 % 24, number / 60 % 60, number % 60));
        e.ReceivedDate = dateToText(e.date);
        QString body;
        body.reserve(lines_ * 64);
        for (int i = 1; i <= lines_; ++i)
            body += QStringLiteral("%1. body line of message %2 with words to look for\r\n").arg(i).arg(number);
        e.PlainTextBody = body;
        error_ = QStringLiteral("FETCH %1: OK").arg(number);
        return e;
    }
    QString LastErrorText() const override { return error_; }
    ImapResult<void> Disconnect() override { return ok(); }

private:
    ImapResult<void> ok()
    {
        error_ = QStringLiteral("OK");
        return {};
    }
    int messages_, lines_;
    QString error_;
};

// The longest gap between two ticks of a 1 ms timer: how long the window could
// not have answered a click or a key. Measured twice: in wall time, and in the
// CPU time this thread used within the gap (what the program itself spent; on
// a busy machine the wall time also holds the time the system ran others).
class StallMeter {
public:
    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        longest_ = longestCpu_ = 0;
        since_.start();
        cpuSince_ = threadCpuMs();
        timer_.start();
    }
    void stop()
    {
        tick();
        timer_.stop();
    }
    qint64 longestMs() const { return longest_; }
    qint64 longestCpuMs() const { return longestCpu_; }

private:
    static qint64 threadCpuMs()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
    void tick()
    {
        longest_ = std::max(longest_, since_.restart());
        const qint64 cpu = threadCpuMs();
        longestCpu_ = std::max(longestCpu_, cpu - cpuSince_);
        cpuSince_ = cpu;
    }
    QTimer timer_;
    QElapsedTimer since_;
    qint64 cpuSince_ = 0;
    qint64 longest_ = 0, longestCpu_ = 0;
};

long peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

struct Options {
    int messages = 10000;
    int lines = 100;
    bool allRule = false;
};

Options parse(const QStringList &args)
{
    Options o;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--messages")
            o.messages = args[i + 1].toInt();
        else if (args[i] == u"--lines")
            o.lines = args[i + 1].toInt();
        else if (args[i] == u"--rule")
            o.allRule = args[i + 1] == u"all";
    }
    return o;
}

class Bench {
public:
    explicit Bench(Form1 &form) : form_(form) {}

    // Runs `step` with the stall meter going and prints one line of the table.
    void step(const char *name, const std::function<void()> &what)
    {
        QElapsedTimer t;
        meter_.start();
        t.start();
        what();
        const qint64 ms = t.elapsed();
        meter_.stop();
        std::printf("%-44s %9.3f %9lld %9lld %9ld %9d\n", name, ms / 1000.0, static_cast<long long>(meter_.longestMs()),
                    static_cast<long long>(meter_.longestCpuMs()), peakRssMiB(), form_.results().count());
        std::fflush(stdout);
    }

    // Lets the event loop run for `ms` (the window idle with its list).
    static void idle(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }

private:
    Form1 &form_;
    StallMeter meter_;
};

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir tmp;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.filePath(QStringLiteral("config"))));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const Options o = parse(app.arguments());
    errorlog::overrideFolders(tmp.path(), tmp.path());

    BenchDialogs boxes;
    setDialogs(&boxes);
    Form1::setComponentFactory([&o](const ConnectionConfig &) -> std::unique_ptr<ImapComponent> {
        return std::make_unique<GeneratedImap>(o.messages, o.lines);
    });
    Form1Options fo;
    fo.onlineCheck = false;
    auto form = std::make_unique<Form1>(fo);
    form->Form_Load();
    form->show();
    form->Text7->setText(QStringLiteral("bench"));
    form->Text6->setText(QStringLiteral("bench"));
    form->PushButton17->click();
    form->Text1->setText(QStringLiteral("body line"));
    Bench::idle(200);

    std::printf("%d messages of %d lines, rule %s\n", o.messages, o.lines, o.allRule ? "all" : "containing");
    std::printf("%-44s %9s %9s %9s %9s %9s\n", "step", "seconds", "stall ms", "(cpu ms)", "peak MiB", "rows");
    Bench b(*form);
    b.step("run (rows appended by the listing handler)",
           [&] { (o.allRule ? form->PushButton13 : form->PushButton2)->click(); });
    b.step("idle 1 s after the run", [] { Bench::idle(1000); });

    b.step("lay out the whole list once more", [&] { form->ListView1->doItemsLayout(); });
    QScrollBar *bar = form->ListView1->verticalScrollBar();
    b.step("scroll: 200 page steps, each painted", [&] {
        for (int i = 0; i < 200; ++i) {
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            form->ListView1->viewport()->repaint();
            QApplication::processEvents();
        }
    });
    b.step("scroll: to the end, middle, start, painted", [&] {
        for (int v : {bar->maximum(), bar->maximum() / 2, 0}) {
            bar->setValue(v);
            form->ListView1->viewport()->repaint();
            QApplication::processEvents();
        }
    });
    b.step("tick 100 rows through the view's model", [&] {
        QAbstractItemModel *m = form->ListView1->model();
        for (int r = 0; r < 100; ++r)
            m->setData(m->index(r, 0), Qt::Checked, Qt::CheckStateRole);
        form->ListView1->viewport()->repaint();
    });
    b.step("tick every row (setup for the copies)", [&] {
        ResultsModel &results = form->results();
        for (int r = 0; r < results.count(); ++r) {
            results.setChecked(r, true);
            if ((r & 0xffff) == 0)
                QApplication::processEvents();
        }
    });
    b.step("Copy To Clipboard (With Spaces)", [&] { form->PushButton14->click(); });
    b.step("Copy To Clipboard (With Tabs)", [&] { form->PushButton3->click(); });
    b.step("Copy Results To Clipboard", [&] { form->PushButton1->click(); });
    QApplication::clipboard()->clear();
    const QString textFile = tmp.filePath(QStringLiteral("rows.txt"));
    const QString commaFile = tmp.filePath(QStringLiteral("rows.csv"));
    boxes.saveNames = QStringList{textFile, commaFile};
    b.step("Save Results As Text File", [&] { form->PushButton6->click(); });
    b.step("Save As Comma Delimited", [&] { form->PushButton12->click(); });
    b.step("Clear List", [&] { form->PushButton9->click(); });
    b.step("idle 1 s after Clear List", [] { Bench::idle(1000); });

    std::printf("saved: %lld and %lld bytes; boxes shown: %lld\n", static_cast<long long>(QFileInfo(textFile).size()),
                static_cast<long long>(QFileInfo(commaFile).size()), static_cast<long long>(boxes.shown.size()));
    for (const QString &text : boxes.shown)
        std::printf("  box: %s\n", qPrintable(text.left(100).replace(QLatin1Char('\r'), QLatin1Char(' '))));
    std::printf("peak RSS: %ld MiB\n", peakRssMiB());
    form.reset();
    setDialogs(nullptr);
    return 0;
}
