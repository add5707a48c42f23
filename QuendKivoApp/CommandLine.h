#pragma once

// What the program's command line asks for, decided before anything starts.

#include <QString>
#include <QStringList>

namespace kivo {

struct CommandLineRequest {
    // Run the bridge; otherwise print `text` and exit with `exitCode`.
    bool run = true;
    QString text;
    int exitCode = 0;
    // Usage after an error goes to standard error.
    bool toStandardError = false;
};

// `arguments` as the program got them, or as QCoreApplication::arguments()
// gives them (Qt's own options taken out); `settingsFile` is named in the
// help text.
CommandLineRequest parseCommandLine(const QStringList &arguments, const QString &settingsFile);

// The arguments without the options Qt takes for itself once the display
// is open (-platform xcb, -style=Fusion, --reverse …), for reading them
// before it is.
QStringList withoutQtOptions(const QStringList &arguments);

} // namespace kivo
