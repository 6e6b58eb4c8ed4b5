// vellumcast-cli: the extraction run without windows.
#include "CliRun.h"

#include "core/Product.h"
#include "core/StdoutBuffer.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Same per-user data folder as the windowed program (fallback error log).
    QCoreApplication::setOrganizationName(vc::product::kSettingsOrganisation);
    QCoreApplication::setApplicationName(vc::product::kAppTitle);
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLUMCAST_VERSION));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const int status = vc::cli::cliMain(args);
    // Rows are flushed where the run needs them out; this is for any left.
    vc::stdoutbuffer::flush();
    return status;
}
