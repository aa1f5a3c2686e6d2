#pragma once

class QApplication;

namespace Banco {

// The application's title, shown in the task bar and in its message boxes.
inline constexpr const char *Titulo = "Atualizar Banco Dados";

// Runs the tool: sets the title, creates the main window, runs the event loop
// until that window closes. Returns the program's exit code.
int Executar(QApplication &app);

} // namespace Banco
