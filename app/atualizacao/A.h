#pragma once

// The data module: the tool's connection, transaction, query and the four
// migration scripts, with the login values of the current update run.

#include <QObject>
#include <QStringList>

class TIBDatabase;
class TIBQuery;
class TIBScript;
class TIBTransaction;

// The text of the migration script that brings the database to schema
// version Versao (2 to 5); empty for any other version.
QStringList TextoScriptVersao(int Versao);

class TdmA : public QObject {
    Q_OBJECT
public:
    // Creates and configures every component; raises EReadError when the
    // client library cannot be loaded.
    explicit TdmA(QObject *AOwner = nullptr);
    ~TdmA() override;

    TIBDatabase *dbAtualizar;
    TIBTransaction *tAtualizar;
    TIBQuery *qAtualizar;
    TIBScript *sVersao2;
    TIBScript *sVersao3;
    TIBScript *sVersao4;
    TIBScript *sVersao5;

    // Login values of the current run.
    QString Servidor;
    QString BancoDados;
    QString Usuario; // upper case
    QString Senha;
};

// The data module of the run.
extern TdmA *dmA;
