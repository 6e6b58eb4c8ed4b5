#pragma once
#include <QString>
#include <QStringMatcher>
#include <QStringView>

#include <array>
#include <optional>

// Letter-case-blind text: the lower-casing every rule compares by, and finding
// a part in a text as if both were lower-cased.
namespace vc::rules {

// The lower-casing used by every letter-case-blind comparison: each code point
// mapped to its lower-case form, never changing the length of the text (so a
// position in the lower-cased copy is the same position in the original).
QString lowerCase(const QString &text);

// A text and its lower-cased copy, made when first asked for: the finders of
// one text share it, so the text is lower-cased at most once.
class LoweredText {
public:
    explicit LoweredText(const QString &text) : text_(text) {}
    const QString &text() const { return text_; }
    const QString &lowered() const;

private:
    const QString &text_;
    mutable std::optional<QString> lowered_;
};

// Finds a lower-cased part in a text as it would be found in lowerCase() of
// the text (positions are the same in both). A part with an ASCII character is
// found without lower-casing the text: the few code units that lower-case to
// its rarest such character (the anchor) are looked for, eight code units at a
// time, and the part is compared around each. Any other part is looked for in
// the lower-cased copy.
class CaseBlindFinder {
public:
    CaseBlindFinder(const LoweredText &text, const QString &loweredPart);

    // The first match that starts at or after `from`, or -1; an empty part
    // matches at `from` itself.
    qsizetype indexIn(qsizetype from) const;
    qsizetype partLength() const { return part_.size(); }

private:
    qsizetype nextFirst(qsizetype from) const;
    bool matchesAt(qsizetype at) const;

    const LoweredText *text_;
    QString part_;
    std::optional<QStringMatcher> matcher_;  // for a part the scan does not take
    qsizetype anchor_ = 0;                   // where in the part the anchor is
    std::array<char16_t, 4> firsts_{};       // the code units that lower-case to the anchor
};

}  // namespace vc::rules
