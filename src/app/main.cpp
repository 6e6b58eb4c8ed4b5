#include "app/AppOptions.h"
#include "app/Form1.h"
#include "app/GuiDialogs.h"
#include "core/Dialogs.h"
#include "core/Product.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // Answer --help, --version and usage errors without needing a display.
    const vc::AppOptions options = vc::parseAppOptions(args);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "vellumcast: %s\nTry 'vellumcast --help'.\n", qPrintable(options.error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(vc::appUsage()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vellumcast %s\n", VELLUMCAST_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(vc::product::kSettingsOrganisation);
    QApplication::setApplicationName(vc::product::kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral(VELLUMCAST_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vellumcast.png")));
    QApplication::setDesktopFileName(QStringLiteral(VELLUMCAST_DESKTOP_ID));
    // Rule windows stay hidden, not closed; the main window's close ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    vc::GuiDialogs guiDialogs;
    vc::setDialogs(&guiDialogs);

    int status = 0;
    {
        vc::Form1 form(options.window);
        form.Form_Load();
        form.show();
        status = app.exec();
    }
    vc::setDialogs(nullptr);
    return status;
}
