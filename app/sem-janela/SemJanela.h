#pragma once

// The tool without a window: the same update for one database or for a list
// of shops, from a script or a scheduler.

class QCoreApplication;

namespace Banco {

// A process that holds the password leaves no core dump, and other
// processes of the same user cannot read its memory, environment or open
// files through /proc. Both front ends call it before anything else.
void ProtegerSegredos();

// Runs the command line in App's arguments; returns the exit code.
int ExecutarSemJanela(QCoreApplication &App);

} // namespace Banco
