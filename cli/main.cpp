// vellumcast-cli: the extraction run without windows.
#include "CliRun.h"

#include "core/Product.h"

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
    return vc::cli::cliMain(args);
}
