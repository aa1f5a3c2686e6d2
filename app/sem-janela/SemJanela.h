#pragma once

// The tool without a window: the same update for one database or for a list
// of shops, from a script or a scheduler.

class QCoreApplication;

namespace Banco {

// Runs the command line in App's arguments; returns the exit code.
int ExecutarSemJanela(QCoreApplication &App);

} // namespace Banco
