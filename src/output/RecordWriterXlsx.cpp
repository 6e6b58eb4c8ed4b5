#include "output/RecordWriterXlsx.h"

#include "output/SafeText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vc::records {

namespace {

// The most a cell holds (characters) and a sheet holds (rows, the header included).
constexpr qsizetype kCellLimit = 32767;
constexpr qint64 kRowLimit = LXW_ROW_MAX;

// A sheet's name as a spreadsheet takes it: at most 31 characters, none of
// []:*?/\, not beginning or ending with an apostrophe.
QByteArray sheetName(const QString &wanted)
{
    QString name;
    for (QChar c : wanted)
        if (!QStringView(u"[]:*?/\\").contains(c) && c.unicode() >= 0x20)
            name += c;
    while (name.startsWith(u'\'') || name.endsWith(u'\''))
        name = name.startsWith(u'\'') ? name.mid(1) : name.chopped(1);
    name = name.trimmed().left(31);
    if (!name.isEmpty() && name.back().isHighSurrogate())
        name.chop(1);
    return name.toUtf8();
}

class XlsxWriter : public RecordWriter {
public:
    XlsxWriter(QList<Column> columns, WriterOptions options) : columns_(std::move(columns)), options_(options) {}

    ~XlsxWriter() override
    {
        if (workbook_)
            lxw_workbook_free(workbook_);
    }

    bool open(const QString &path, ByteSink sink, QString *error)
    {
        target_ = path;
        sink_ = std::move(sink);
        // Built beside the file it replaces, so that putting it in place is a
        // rename on one file system; a workbook for a sink in the temporary folder.
        const QString dir = path.isEmpty() ? QDir::tempPath() : QFileInfo(path).absolutePath();
        const QString base = path.isEmpty() ? QStringLiteral("vellumcast") : QFileInfo(path).fileName();
        temp_ = std::make_unique<QTemporaryFile>(dir + QStringLiteral("/.") + base + QStringLiteral(".XXXXXX"));
        if (!temp_->open()) {
            *error = QStringLiteral("cannot write '%1': %2").arg(path.isEmpty() ? dir : path, temp_->errorString());
            return false;
        }
        temp_->close();
        const QByteArray file = QFile::encodeName(temp_->fileName());
        lxw_workbook_options settings = {};
        settings.constant_memory = LXW_TRUE;
        settings.use_zip64 = LXW_TRUE;  // a workbook past 4 GB stays readable
        workbook_ = workbook_new_opt(file.constData(), &settings);
        const QByteArray sheet = sheetName(options_.sheetName);
        sheet_ = workbook_ ? workbook_add_worksheet(workbook_, sheet.isEmpty() ? nullptr : sheet.constData()) : nullptr;
        if (!sheet_) {
            *error = QStringLiteral("cannot make a workbook for '%1'").arg(path.isEmpty() ? dir : path);
            return false;
        }
        bold_ = workbook_add_format(workbook_);
        format_set_bold(bold_);
        dateFormat_ = workbook_add_format(workbook_);
        format_set_num_format(dateFormat_, "yyyy-mm-dd");
        dateTimeFormat_ = workbook_add_format(workbook_);
        format_set_num_format(dateTimeFormat_, "yyyy-mm-dd hh:mm:ss");
        if (!columns_.isEmpty())
            worksheet_set_column(sheet_, 0, lxw_col_t(columns_.size() - 1), 18, nullptr);
        worksheet_freeze_panes(sheet_, 1, 0);
        for (qsizetype c = 0; c < columns_.size(); ++c)
            writeText(0, c, columns_.at(c).name, bold_);
        return true;
    }

    bool append(const QList<Row> &rows) override
    {
        if (!error_.isEmpty())
            return false;
        // Everything that could stop a row is checked first, so a message's
        // rows go in whole or not at all.
        if (next_ + rows.size() > kRowLimit)
            return fail(QStringLiteral("a sheet holds at most %1 rows").arg(kRowLimit));
        for (const Row &row : rows) {
            for (qsizetype c = 0; c < row.size() && c < columns_.size(); ++c)
                writeCell(c, row.at(c).text);
            ++next_;
        }
        rows_ += rows.size();
        return true;
    }

    bool commit() override
    {
        if (!workbook_)
            return fail(error_.isEmpty() ? QStringLiteral("the workbook was abandoned") : error_);
        if (!error_.isEmpty()) {
            discard();
            return false;
        }
        const lxw_error closed = workbook_close(workbook_);  // writes the file and frees the workbook
        workbook_ = nullptr;
        const QString shownName =
            target_.isEmpty() ? QStringLiteral("the workbook") : QLatin1Char('\'') + target_ + QLatin1Char('\'');
        if (closed != LXW_NO_ERROR)
            return fail(QStringLiteral("cannot write %1: %2").arg(shownName, QString::fromUtf8(lxw_strerror(closed))));
        if (!target_.isEmpty())
            return putInPlace();
        return handToSink();
    }

    void discard() override
    {
        if (workbook_)
            lxw_workbook_free(workbook_);
        workbook_ = nullptr;
        temp_.reset();  // removes the temporary file
    }

private:
    void writeText(lxw_row_t row, qsizetype column, const QString &text, lxw_format *format)
    {
        if (text.isEmpty())
            return;
        QStringView cell = text;
        QString neutral;
        if (!options_.rawCells && safetext::looksLikeFormula(cell)) {
            neutral = safetext::neutraliseFormula(text);
            cell = neutral;
        }
        // "_x0041_" in a cell stands for the character it names; text that
        // happens to read so is kept as it is by escaping its underscore.
        QString literal;
        if (cell.contains(QLatin1String("_x"))) {
            static const QRegularExpression escape(QStringLiteral("_(x[0-9A-Fa-f]{4}_)"));
            literal = cell.toString();
            literal.replace(escape, QStringLiteral("_x005F_\\1"));
            cell = literal;
        }
        if (cell.size() > kCellLimit) {
            qsizetype n = kCellLimit;
            if (cell[n - 1].isHighSurrogate())
                --n;
            cell = cell.left(n);
        }
        utf8_ = cell.toUtf8();
        worksheet_write_string(sheet_, row, lxw_col_t(column), utf8_.constData(), format);
    }

    void writeCell(qsizetype column, const QString &text)
    {
        const CellType type = columns_.at(column).type;
        if (type == CellType::Number) {
            if (const auto n = cellNumber(text)) {
                worksheet_write_number(sheet_, next_, lxw_col_t(column), *n, nullptr);
                return;
            }
        } else if (type == CellType::Date) {
            const auto d = cellDate(text);
            if (d && d->date.year() >= 1900 && d->date.year() <= 9999) {
                lxw_datetime when = {d->date.year(), d->date.month(), d->date.day(), 0, 0, 0};
                if (d->time.isValid()) {
                    when.hour = d->time.hour();
                    when.min = d->time.minute();
                    when.sec = d->time.second();
                }
                worksheet_write_datetime(sheet_, next_, lxw_col_t(column), &when,
                                         d->time.isValid() ? dateTimeFormat_ : dateFormat_);
                return;
            }
        }
        writeText(next_, column, text, nullptr);
    }

    // The finished workbook replaces the file at the target, keeping its permissions.
    bool putInPlace()
    {
        const QString built = temp_->fileName();
        const QFile::Permissions permissions =
            QFile::exists(target_) ? QFile::permissions(target_)
                                   : (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        QFile::setPermissions(built, permissions);
        if (std::rename(QFile::encodeName(built).constData(), QFile::encodeName(target_).constData()) != 0)
            return fail(
                QStringLiteral("cannot write '%1': %2").arg(target_, QString::fromLocal8Bit(std::strerror(errno))));
        temp_->setAutoRemove(false);
        temp_.reset();
        return true;
    }

    bool handToSink()
    {
        QFile built(temp_->fileName());
        if (!built.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read the workbook back: %1").arg(built.errorString()));
        while (!built.atEnd()) {
            const QByteArray chunk = built.read(1 << 16);
            if (chunk.isEmpty() || !sink_(chunk))
                return fail(QStringLiteral("cannot write the workbook to standard output"));
        }
        temp_.reset();
        return true;
    }

    QList<Column> columns_;
    WriterOptions options_;
    QString target_;
    ByteSink sink_;
    std::unique_ptr<QTemporaryFile> temp_;
    lxw_workbook *workbook_ = nullptr;
    lxw_worksheet *sheet_ = nullptr;
    lxw_format *bold_ = nullptr, *dateFormat_ = nullptr, *dateTimeFormat_ = nullptr;
    lxw_row_t next_ = 1;  // row 0 is the header
    QByteArray utf8_;     // the cell being written, its room kept
};

}  // namespace

std::unique_ptr<RecordWriter> openXlsxWriter(const QString &path, ByteSink sink, const QList<Column> &columns,
                                             const WriterOptions &options, QString *error)
{
    auto w = std::make_unique<XlsxWriter>(columns, options);
    if (!w->open(path, std::move(sink), error))
        return nullptr;
    return w;
}

}  // namespace vc::records
