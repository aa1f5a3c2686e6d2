#pragma once

// Notes of the scratch databases a run makes (the compaction's test restore,
// a rehearsal's copy): one file each in the tool's local data, written before
// the database exists and removed once it is dropped. What a killed run
// leaves is found by the next run and known to be the tool's own.

#include <QString>
#include <QStringList>

class TConexaoPropria;
class TdmA;

// The name of a scratch database beside a backup file: the backup's name
// without ".fbk", then Meio and 12 random hex digits, so that no other file
// can have it.
QString NomeDeRascunho(const QString &Backup, const QString &Meio);
// Writes the note of a database about to be made; returns the note's file.
QString Anotar(const QString &Servidor, const QString &Banco);
// Drops a database of a run's own and removes its note.
void ApagarRascunho(const TdmA &Modulo, const QString &Banco, const QString &Nota);

// A scratch database of a run's own. Its note is written when the guard is
// made, before the database exists; once the restore that makes it has
// started (Criado), the database is dropped with its note when the guard
// goes, whatever happened, or earlier by Apagar, which raises what the drop
// raised. Either way one drop is tried; a note whose drop failed stays for
// the next run.
class TRascunho {
public:
    TRascunho(const TdmA &Modulo, QString Banco);
    ~TRascunho();
    TRascunho(const TRascunho &) = delete;
    TRascunho &operator=(const TRascunho &) = delete;

    const QString &Banco() const { return FBanco; }
    bool Criado() const { return FCriado; }
    void SetCriado() { FCriado = true; }
    // Conexao: an attachment to it already open, to drop it through.
    void Apagar(TConexaoPropria *Conexao = nullptr);

private:
    const TdmA &FModulo;
    QString FBanco;
    QString FNota;
    bool FCriado = false;
    bool FFeito = false;
};

struct TNota {
    QString Arquivo;
    QString Banco;
};
// The notes left for databases on Servidor by runs that are gone (a note of
// a process still running on this machine is its own business).
QList<TNota> NotasDoServidor(const QString &Servidor);
