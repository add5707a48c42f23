#pragma once

// How this computer sees and starts the legacy KIVO application.

#include <QString>
#include <QStringList>

namespace kivo {

// A process of the current user whose /proc name or program base name is `name`.
bool currentUserRunsProcess(const QString &name);
// Starts the program detached; true when it was started.
bool launchDetached(const QString &program, const QStringList &arguments);

} // namespace kivo
