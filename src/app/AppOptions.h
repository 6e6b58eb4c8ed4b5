#pragma once
#include "app/Form1.h"
#include "core/CommandLine.h"

#include <QString>
#include <QStringList>

namespace vc {

// What the window program's command line decides.
struct AppOptions {
    Form1Options window;
    QString settingsFile;  // --settings FILE; empty: the per-user settings file
};

// The window program's command line: the shared connection options, then its
// own, all applying to `options`.
cmdline::Program appProgram(AppOptions &options);

}  // namespace vc
