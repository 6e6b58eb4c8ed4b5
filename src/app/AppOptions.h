#pragma once
#include "app/Form1.h"

#include <QString>
#include <QStringList>

namespace vc {

// The window program's command line:
//   vellumcast [--server HOST[:PORT]] [--ca-file FILE] [--timeout SECONDS]
//              [--no-online-check] [--help] [--version]
struct AppOptions {
    Form1Options window;
    bool help = false;
    bool version = false;
    QString error;  // non-empty: the command line was refused (exit status 2)
};

// Parses the arguments (the program name first, as argv gives them).
AppOptions parseAppOptions(const QStringList &arguments);

// The text --help prints.
QString appUsage();

}  // namespace vc
