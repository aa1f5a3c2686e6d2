#pragma once

#include "Mensagens.h"

#include <QString>

#include <exception>

class QApplication;

namespace Banco {

// Runs the tool: sets the title, creates the data module and the main window,
// runs the event loop until that window closes, then destroys them. An error
// during start-up ends the program through the last-chance box with code 1.
int Executar(QApplication &app);

// The last-chance box's text for an error that nothing caught:
// "Exceção <class> no modulo <program> at <address>.\r\n<message>[.]\r\n".
QString TextoUltimaChance(const std::exception &E);
// Shows it: caption "Erro da Aplicação", error icon, one OK, modal. Also
// written to standard error, where a terminal or a log can keep it.
void MostrarUltimaChance(const std::exception &E);

} // namespace Banco
