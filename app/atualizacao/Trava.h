#pragma once

// One run of this tool at a time per database on this machine, whatever
// names the runs were given for it: an alias or a path, 127.0.0.1 or
// localhost, the port written or left out. The lock is named after what the
// server itself says: the address the server's name resolves to, its port,
// and the database's file as the server reports it.

#include <QLockFile>
#include <QString>

#include <memory>

class TdmA;

// The lock of the data module's database; Tomada is false when another run
// on this machine holds it. A database the tool cannot attach to now is
// locked by the names it was given. Raises nothing.
struct TTrava {
    std::unique_ptr<QLockFile> Arquivo;
    bool Tomada = false;
    // What the server says the database is (Identidade; empty when it could
    // not be told).
    QString Nome;

    static TTrava Tomar(const TdmA &Modulo);
    // What the lock is named after (empty when it cannot be told).
    static QString Identidade(const TdmA &Modulo);
    // The same for the file the server named, on the server as typed.
    static QString Identidade(const QString &Servidor, const QString &Arquivo);
};
