#pragma once
#include <QList>
#include <QString>
#include <QStringView>

// Ready-made patterns a template field picks by name instead of writing a
// regular expression: e-mail addresses, web addresses, phone numbers, money
// amounts and dates as they appear in everyday mail.
namespace vc::records {

struct ReadyPattern {
    // What is checked of a match beyond the expression (see acceptedLength).
    enum class Check { None, WebAddress, Phone, Date };

    QString name;     // as a template names it: "email"
    QString caption;  // as the window offers it: "E-mail address"
    QString regex;    // PCRE2; the whole match is the value
    Check check = Check::None;
};

// Every ready-made pattern, in the order the window lists them.
const QList<ReadyPattern> &readyPatterns();

// The pattern called `name`, or null.
const ReadyPattern *findPattern(QStringView name);

// What a ready-made pattern keeps of one match of its expression: the length
// of the value from the match's start (a web address loses the punctuation
// that ends the sentence around it), or -1 when the match is no value of the
// kind after all (a number too short for a phone number, a date that cannot
// be). Used on each match before it counts.
qsizetype acceptedLength(const ReadyPattern &pattern, QStringView match);

}  // namespace vc::records
