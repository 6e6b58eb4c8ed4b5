#include "app/AppOptions.h"
#include "app/Form1.h"
#include "app/GuiDialogs.h"
#include "app/SettingsStore.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "core/SecretMemory.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    // Answer --help, --version and usage errors without needing a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    vc::AppOptions options;
    const vc::cmdline::Program program = vc::appProgram(options);
    const vc::cmdline::Parsed parsed = vc::cmdline::parse(program, args);
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "vellumcast: %s\nTry 'vellumcast --help'.\n", qPrintable(parsed.error));
        return 2;
    }
    if (parsed.help) {
        std::fputs(qPrintable(vc::cmdline::helpText(program)), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("vellumcast %s\n", VELLUMCAST_VERSION);
        return 0;
    }
    // The window may hold a password or tokens from here on.
    vc::keepSecretsOutOfDumps();
    vc::settings::useFile(options.settingsFile);
    // The window says so too, in a box at start-up.
    if (const std::optional<QString> why = vc::settings::refusal())
        std::fprintf(stderr, "vellumcast: %s\n", qPrintable(*why));

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
        guiDialogs.setMainWindow(&form);
        form.Form_Load();
        form.show();
        status = app.exec();
    }
    vc::setDialogs(nullptr);
    return status;
}
