#pragma once
#include <QString>

#include <cstdint>
#include <optional>

// The text conversions the stored settings and the rule entries rely on: numbers
// and Booleans read from what a user or the settings file wrote.
namespace vc::convert {

// A numeric text: optional blanks around it, optional sign, decimal digits with
// an optional decimal part ("2", " -3 ", "2.5", "+.5"). Nothing else.
bool isNumeric(const QString &text);

// The numeric value of a numeric text, or nothing.
std::optional<double> toNumber(const QString &text);

// A 16-bit integer from text: rounded half to even ("2.5" -> 2, "3.5" -> 4).
// Throws AppError 13 (Type mismatch) for a non-numeric text, 6 (Overflow)
// outside -32768..32767.
int16_t toInt16(const QString &text);
// The same without throwing: nothing when it would fail.
std::optional<int16_t> tryInt16(const QString &text);

// A Boolean from text: "True"/"False" in any letter case, or a number where
// non-zero is True. Throws AppError 13 otherwise.
bool toBool(const QString &text);

// Boolean as the settings store writes it: "True" / "False".
inline QString boolText(bool b)
{
    return b ? QStringLiteral("True") : QStringLiteral("False");
}

// The text with every line ending in CR LF, the last one too (CR, LF and CR LF
// each end a line). With `formFeedEndsLine`, a form feed (between pages) ends
// a line that has not ended itself and is dropped.
QString withCrLf(const QString &text, bool formFeedEndsLine = false);

}  // namespace vc::convert
