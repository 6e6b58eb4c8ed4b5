#include "core/AppError.h"

#include "core/Dialogs.h"
#include "core/Product.h"

namespace vc {

QString AppError::standardDescription(int number)
{
    switch (number) {
    case err::InvalidCall: return QStringLiteral("Invalid procedure call or argument");
    case err::Overflow: return QStringLiteral("Overflow");
    case err::TypeMismatch: return QStringLiteral("Type mismatch");
    case err::FileNotFound: return QStringLiteral("File not found");
    case err::PermissionDenied: return QStringLiteral("Permission denied");
    case err::PathFileAccess: return QStringLiteral("Path/File access error");
    case err::ObjectNotSet: return QStringLiteral("Object variable or With block variable not set");
    default: return QStringLiteral("Application-defined or object-defined error");
    }
}

AppError::AppError(int number, QString description)
    : std::runtime_error("application error"), number_(number),
      description_(description.isEmpty() ? standardDescription(number) : std::move(description))
{}

void raise(int number, const QString &description)
{
    throw AppError(number, description);
}

QString applicationErrorText(const QString &description, const QString &location, int line)
{
    return description + QStringLiteral("\r\nin ") + location + QStringLiteral(" at line ") + QString::number(line)
           + QStringLiteral("\r\rPlease email screenshot of this message to ") + product::kSupportAddress;
}

ErrorTrap::ErrorTrap(QString location, Dialogs *d) : location_(std::move(location)), dialogs_(d) {}

void ErrorTrap::report(int line, const QString &description)
{
    ++failures_;
    QString text = applicationErrorText(description, location_, line);
    if (extra_)
        text += extra_();
    Dialogs &d = dialogs_ ? *dialogs_ : dialogs();
    d.messageBox(text, BoxButtons::Ok, BoxIcon::Warning, QStringLiteral("Application Error"));
}

}  // namespace vc
