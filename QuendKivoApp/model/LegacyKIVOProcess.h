#pragma once

// How this computer sees and starts the legacy KIVO application.

#include <QString>
#include <QStringList>

#include <functional>

namespace kivo {

// A program the supervisor started: true while that very process runs.
// Empty when the start failed.
using LaunchedProcess = std::function<bool()>;

// A process of the current user that is the program `name` (processMatches).
bool currentUserRunsProcess(const QString &name);
// Starts the program detached.
LaunchedProcess launchDetached(const QString &program, const QStringList &arguments);

} // namespace kivo
