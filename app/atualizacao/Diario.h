#pragma once

// The journal of the restore that replaces a shop's database. It is written,
// and flushed to disk, before that restore starts, and removed once the
// restored database has been compared with what the database held, before
// it is opened for writing again. While it exists the database may be half
// restored (a power cut, a server that died, a restore that failed): no run
// may bring it online as it is. A run that finds one for its server and
// database restores the journal's backup again and compares the result with
// the journal's snapshot first.
//
// One file per server and database, in the folder "diarios" of the tool's
// local data, beside the notes of scratch databases.

#include "Retrato.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

struct TDiario {
    QString Servidor;
    QString Banco;
    // The compaction's backup, proven by its test restore, and the backup
    // taken before the update (empty without one).
    QString Backup;
    QString BackupAnterior;
    QDateTime Quando;
    // What the database held when the compaction's backup began.
    TRetrato Retrato;
    // The database as the server names it (TTrava::Identidade; empty when
    // it could not be told): a run that gives it other names still finds
    // the journal.
    QString Identidade;

    // Written whole or not at all; raises when it cannot be made durable,
    // so that the restore never starts without it.
    void Gravar() const;
    void Apagar() const;
    // The journal's file by the names it was given, and every file it is
    // kept in.
    QString Arquivo() const;
    QStringList Arquivos() const;

    // The journal left for this database, found by what the server calls it
    // or else by these names.
    static std::optional<TDiario> Ler(const QString &Servidor, const QString &Banco,
                                      const QString &Identidade = {});
    // Where the journals are (made when missing).
    static QString Pasta();

private:
    void Gravar(const QString &Arquivo, const QByteArray &Texto) const;
};
