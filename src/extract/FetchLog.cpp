#include "extract/FetchLog.h"

#include "core/AppError.h"

namespace vc {

void FetchLog::exchanged(const QString &lastError)
{
    written_ = errorlog::append(explicitPath_, lastError);
}

void FetchLog::recordFailure(const QString &explicitPath, const QString &text)
{
    try {
        errorlog::append(explicitPath, QString(text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
        errorlog::flush();
    } catch (const AppError &) {
        // The user is told the failure itself; the log is only its echo.
    }
}

}  // namespace vc
