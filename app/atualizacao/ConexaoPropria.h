#pragma once

// An attachment of a run's own, beside the data module's connection, with a
// read-only transaction: for reading a database's state and for dropping a
// scratch database. Detached when it goes, whatever happened.

#include "IBDatabase.h"

#include <QList>
#include <QStringList>

class TdmA;

class TConexaoPropria {
public:
    // Attaches to Banco on the data module's server with its login values.
    TConexaoPropria(const TdmA &Modulo, const QString &Banco);
    ~TConexaoPropria();
    TConexaoPropria(const TConexaoPropria &) = delete;
    TConexaoPropria &operator=(const TConexaoPropria &) = delete;

    // Every row of a SELECT, each column as text.
    QList<QStringList> Ler(const QString &Select);
    // The first column of the first row; empty when there is none.
    QString Valor(const QString &Select);
    // Drops the database.
    void Apagar();
    // Ends the transaction: the next read sees the database (and its
    // monitoring tables) anew.
    void Renovar();

private:
    TIBDatabase FBanco;
    TIBTransaction FTransacao;
};
