#pragma once

#include <QStringList>

// The text of the migration script that brings the database to schema
// version Versao (2 to 5); empty for any other version.
QStringList TextoScriptVersao(int Versao);
