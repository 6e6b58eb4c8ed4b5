#pragma once
// A workbook read back cell by cell, by python3-openpyxl (tests/common/read_xlsx.py).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

namespace vc::test {

struct WorkbookCell {
    bool blank = true;
    QString type;   // openpyxl's: "s" text, "n" number, "d" date, "f" formula
    QString value;  // a text, or a date as ISO 8601
    double amount = 0;
    bool bold = false;
    QString format;  // the number format

    static WorkbookCell text_(const QString &t, bool bold, const QString &type)
    {
        WorkbookCell c;
        c.blank = false;
        c.type = type;
        c.value = t;
        c.bold = bold;
        c.format = QStringLiteral("General");
        return c;
    }
    static WorkbookCell text(const QString &t, bool bold = false) { return text_(t, bold, QStringLiteral("s")); }
    static WorkbookCell number(double n)
    {
        WorkbookCell c = text_(QString(), false, QStringLiteral("n"));
        c.amount = n;
        return c;
    }
    static WorkbookCell date(const QString &iso, const QString &format)
    {
        WorkbookCell c = text_(iso, false, QStringLiteral("d"));
        c.format = format;
        return c;
    }
    bool operator==(const WorkbookCell &o) const
    {
        return blank == o.blank
               && (blank
                   || (type == o.type && value == o.value && amount == o.amount && bold == o.bold
                       && format == o.format));
    }
};

inline char *toString(const WorkbookCell &c)
{
    if (c.blank)
        return qstrdup("<blank>");
    return qstrdup(qPrintable(QStringLiteral("%1:%2%3%4 [%5]")
                                  .arg(c.type, c.type == QLatin1String("n") ? QString::number(c.amount) : c.value,
                                       c.bold ? QStringLiteral(" bold") : QString(), QString(), c.format)));
}

struct Workbook {
    QString error;  // empty when it could be read
    QStringList sheets;
    QString freeze;  // the top-left cell below and right of the frozen panes ("A2")
    QList<QList<WorkbookCell>> rows;
};

inline Workbook readWorkbook(const QString &path)
{
    Workbook book;
    QProcess p;
    p.start(QStringLiteral(VC_PYTHON3), {QStringLiteral(VC_READ_XLSX), path});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        book.error = QStringLiteral("read_xlsx.py failed: ") + QString::fromUtf8(p.readAllStandardError());
        qWarning("%s", qPrintable(book.error));
        return book;
    }
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    for (const QJsonValue &s : o.value(QStringLiteral("sheets")).toArray())
        book.sheets << s.toString();
    book.freeze = o.value(QStringLiteral("freeze")).toString();
    for (const QJsonValue &r : o.value(QStringLiteral("rows")).toArray()) {
        QList<WorkbookCell> row;
        for (const QJsonValue &v : r.toArray()) {
            WorkbookCell c;
            if (v.isObject()) {
                const QJsonObject cell = v.toObject();
                c.blank = false;
                c.type = cell.value(QStringLiteral("t")).toString();
                const QJsonValue value = cell.value(QStringLiteral("v"));
                if (value.isDouble())
                    c.amount = value.toDouble();
                else
                    c.value = value.toString();
                c.bold = cell.value(QStringLiteral("bold")).toBool();
                c.format = cell.value(QStringLiteral("format")).toString();
            }
            row << c;
        }
        book.rows << row;
    }
    return book;
}

}  // namespace vc::test
