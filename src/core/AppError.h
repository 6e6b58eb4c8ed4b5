#pragma once
#include <QString>

#include <functional>
#include <stdexcept>

namespace vc {

class Dialogs;

// Run-time error numbers the program raises. The number and its description
// appear in the "Application Error" box, so both stay as users quote them in
// their reports.
namespace err {
inline constexpr int InvalidCall = 5;    // "Invalid procedure call or argument"
inline constexpr int Overflow = 6;       // "Overflow"
inline constexpr int TypeMismatch = 13;  // "Type mismatch"
inline constexpr int FileNotFound = 53;  // "File not found"
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;  // "Path/File access error"
inline constexpr int ObjectNotSet = 91;    // "Object variable or With block variable not set"
}  // namespace err

// A run-time error: a number and a description. Everything that fails inside a
// trapped procedure throws one of these (other std::exceptions are reported too).
class AppError : public std::runtime_error {
public:
    explicit AppError(int number, QString description = QString());
    int number() const { return number_; }
    const QString &description() const { return description_; }
    static QString standardDescription(int number);

private:
    int number_;
    QString description_;
};

[[noreturn]] void raise(int number, const QString &description = QString());

// The text of the "Application Error" box.
QString applicationErrorText(const QString &description, const QString &location, int line);

// The program's error convention, in one place. A trapped procedure names its
// location once and then runs its statements through the trap, each with its
// line number:
//
//     ErrorTrap trap(location::Form1::Form_Load);
//     trap(100, [&] { ApplySkin(); });
//     trap(102, [&] { CheckOnline(); });
//
// A step that throws shows the "Application Error" box (warning icon, OK) with
// the description, the location and the line, and the procedure resumes with
// its next step.
class ErrorTrap {
public:
    explicit ErrorTrap(QString location, Dialogs *dialogs = nullptr);

    // Runs one step; false when it failed (the box has been shown then).
    template <class Step>
    bool operator()(int line, Step &&step)
    {
        try {
            step();
            return true;
        } catch (const AppError &e) {
            report(line, e.description());
        } catch (const std::exception &e) {
            report(line, QString::fromLocal8Bit(e.what()));
        }
        return false;
    }

    // Text appended to the box after the support request (e.g. "\rSelLength: 12").
    void setExtra(std::function<QString()> extra) { extra_ = std::move(extra); }

    const QString &location() const { return location_; }
    int failures() const { return failures_; }

    void report(int line, const QString &description);

private:
    QString location_;
    Dialogs *dialogs_;
    std::function<QString()> extra_;
    int failures_ = 0;
};

}  // namespace vc
