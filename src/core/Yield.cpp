#include "core/Yield.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace vc {

namespace {
constexpr qint64 kMinGapMs = 20;
}

void yieldNow()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void yieldToEvents()
{
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < kMinGapMs)
        return;
    yieldNow();
    since.start();
}

}  // namespace vc
