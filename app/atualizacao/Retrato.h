#pragma once

// What a database holds, for telling whether a restore gave it all back: the
// rows of every user table, the procedures, triggers, generators and indices
// with their counts, the active indices and the generators' values; and the
// database's shutdown mode and access mode.

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

class TConexaoPropria;
class TdmA;

struct TRetrato {
    QMap<QString, qint64> Linhas;     // rows of each user table
    QMap<QString, qint64> Geradores;  // value of each user generator
    QStringList IndicesAtivos;
    QMap<QString, qint64> Objetos;    // procedures, triggers, generators, indices
    // The header settings a backup and restore can change, by their
    // monitoring column: MON$RESERVE_SPACE, MON$FORCED_WRITES,
    // MON$SWEEP_INTERVAL, MON$PAGE_BUFFERS, MON$SQL_DIALECT.
    QMap<QString, qint64> Cabecalho;

    static TRetrato Ler(TConexaoPropria &C);
    // As kept in a journal, and read back from one.
    QJsonObject ParaJson() const;
    static TRetrato DeJson(const QJsonObject &O);
    // What a database read as Depois lacks of this one, one sentence each.
    QStringList Diferencas(const TRetrato &Depois) const;
    // The header settings Depois has otherwise.
    QStringList DiferencasDoCabecalho(const TRetrato &Depois) const;
    static QMap<QString, qint64> LerCabecalho(TConexaoPropria &C);
};

struct TEstado {
    int ModoDesligamento = 0; // 0 online, 1 multi, 2 single, 3 full
    bool SomenteLeitura = false;
};

TEstado LerEstado(TConexaoPropria &C);
// The state of the database at Banco; nothing when it cannot be attached.
std::optional<TEstado> EstadoSePuder(const TdmA &Modulo, const QString &Banco);

// How the database at Banco differs from Antes, one sentence each; a
// database that cannot be read, or is not in shutdown mode Modo, differs too.
// With Cabecalho, its header settings are read through the same attachment.
QStringList Comparar(const TdmA &Modulo, const TRetrato &Antes, const QString &Banco, int Modo = 0,
                     QMap<QString, qint64> *Cabecalho = nullptr);
// The same through an open attachment.
QStringList Comparar(TConexaoPropria &C, const TRetrato &Antes, int Modo = 0,
                     QMap<QString, qint64> *Cabecalho = nullptr);
