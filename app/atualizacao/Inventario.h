#pragma once

// What a technician checks by hand before an evening's roll-out, read from a
// shop's server without changing anything: no lock, no backup, a read-only
// transaction and nothing else.

#include "Atualizacao.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>

class TdmA;

struct TInventario {
    // Why the database could not be reached or read; empty when it was.
    QString Erro;
    // The server was reached and let this user in, but the database could
    // not be read (closed, damaged, in a restore): what a list must not run
    // beside another line, which may be the same database.
    bool SoOServidor = false;
    QString VersaoServidor; // Firebird's, as the server says it ("3.0.11")
    QString Ods;            // "12.0"
    int32_t TamanhoPagina = 0;
    qint64 Paginas = 0;
    qint64 Bytes() const { return Paginas * TamanhoPagina; }
    // CONFIGURAR's schema version and backup folder; no version when the
    // table or its row 1 cannot be read.
    std::optional<int32_t> Versao;
    QString PastaBackup;
    // The attachments open now besides this one, and their users.
    int32_t Conectados = 0;
    QString Usuarios;
    int32_t ModoDesligamento = 0; // 0 online, 1 multi, 2 single, 3 full
    bool SomenteLeitura = false;
    // The database's file as the server names it.
    QString Arquivo;
    // What tells one database from another, whatever names the list gave
    // them: the server's address and port with the file; and, for a server
    // that is one process, its process with the file and the database's
    // creation moment (the same server reached at two addresses, or two
    // servers made from one image: MesmoBanco tells).
    QString Identidade;
    QString Instancia;

    bool Alcancado() const { return Erro.isEmpty(); }
    // The state in the table's words.
    QString Estado() const;

    // Reads the database of Login; never raises (what failed is Erro).
    static TInventario Ler(TdmA &Modulo, const TLogin &Login);
    // Whether A and B reach one database: an attachment made through A is
    // among B's. False when either cannot be attached.
    static bool MesmoBanco(TdmA &Modulo, const TLogin &A, const TLogin &B);

    QJsonObject ParaJson() const;
    static TInventario DeJson(const QJsonObject &O);
};
