#pragma once
#include <QObject>
#include <QString>

class QProgressBar;

namespace vc {

class ResultsModel;

// The status line: the text the progress bar shows. While the window is idle
// the bar shows, after the text, how many rows the results list holds and how
// many of them are ticked ("Progress Bar  ·  34 rows, 2 ticked"); while a
// command works only the text.
class StatusLine : public QObject {
    Q_OBJECT
public:
    StatusLine(QProgressBar *bar, const ResultsModel *results);

    // The text as set, without the counts.
    QString text() const { return text_; }
    void setText(const QString &text);
    // What the bar shows.
    QString shown() const;
    void setIdle(bool idle);
    bool idle() const { return idle_; }

    // "no rows", "1 row, 0 ticked", "34 rows, 2 ticked".
    static QString countsText(int rows, int ticked);

private:
    void refresh();

    QProgressBar *bar_;
    const ResultsModel *results_;
    QString text_;
    bool idle_ = true;
};

}  // namespace vc
