#pragma once
#include "CliOptions.h"
#include "CliOutput.h"
#include "output/RecordWriters.h"
#include "rules/RecordRows.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vc::cli {

// The columns --with-source gives the rows of a rule: the row's text, then
// where it came from.
QList<records::Column> sourceColumns();
// One rule row of `m` in those columns.
records::Row sourceRow(const QString &text, const MailRecord &m);

// The rows of a run written through the record writers: a template's rows, or
// a rule's rows (with where each came from under --with-source). Message by
// message; an --output file is replaced only by finish().
class RecordOutput {
public:
    // Null, with the reason printed, when the output cannot be written.
    // `terminal`: standard output is a terminal, so cells are escaped for it.
    static std::unique_ptr<RecordOutput> open(const Options &options, const OutputSink &sink, bool terminal);
    ~RecordOutput();

    // The template's rows of one message.
    void addMessage(const MailRecord &m);
    // A rule's rows of one message.
    void addRuleRows(const MailRecord &m, const QStringList &rows);
    // Finishes the output; false (with the reason printed) when anything
    // could not be written.
    bool finish();
    // The rows written so far are out of the program (standard output is
    // flushed); false when they could not be written.
    bool flush();
    // Nothing is written, an existing output file stays as it was.
    void discard();
    // Rows could not be written; no more will be.
    bool failed() const { return failed_; }

private:
    RecordOutput() = default;
    void write(QList<records::Row> &rows);

    std::unique_ptr<records::RecordWriter> writer_;
    std::optional<records::RecordRows> template_;
    bool withSource_ = false;
    bool terminal_ = false;
    bool failed_ = false;
    bool stdoutFailed_ = false;
};

}  // namespace vc::cli
