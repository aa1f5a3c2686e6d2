#pragma once

// Plain Portuguese for the failures a technician meets most: a wrong user or
// password, a server out of reach, a database file that is not there, a
// database in use or shut down, a backup folder the server cannot use, a
// user without the rights. The sentence is chosen by the error codes that
// Firebird sent, never by its English text, and comes before Firebird's own
// message, which is kept whole. Both the error box and the command line show
// errors through TextoAmigavel.

#include <QString>

#include <exception>

namespace Banco {
// The application's title: caption of the main window and of the error box,
// and the program's name on the command line.
inline constexpr const char *Titulo = "Atualizar Banco Dados";
} // namespace Banco

// The sentence for an error, ending in "."; empty when the error is none of
// the above (including every error the tool or the layer makes itself).
QString Explicacao(const std::exception &E);

// What to show of an error: the sentence, CR LF, then the error's message;
// only the message when there is no sentence.
QString TextoAmigavel(const std::exception &E);


// An error as the error box and the command line show it: the message, with
// "." appended when its last character's code is above that of "." (46).
QString TextoDoErro(const QString &Mensagem);
