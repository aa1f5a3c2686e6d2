#pragma once

// Connections and transactions set up as the tool sets up its own, for
// tests of the database layer.

#include "IBDatabase.h"
#include "TestServer.h"

#include <QByteArray>

#include <initializer_list>
#include <memory>

namespace abdtest {

// A connection (WIN1252, as the tool's) and a transaction with the tool's
// parameters, bound to a database of a server.
struct Conexao {
    TIBDatabase Db;
    TIBTransaction Tr;

    Conexao(const ServerInfo &Server, const QString &Database, bool Open = true)
    {
        Db.SetServerType(QStringLiteral("IBServer"));
        Db.SetLoginPrompt(false);
        Db.SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + Server.password,
                      QStringLiteral("lc_ctype=WIN1252")});
        Db.SetDatabaseName(Server.connection(Database));
        Tr.SetDefaultDatabase(&Db);
        Tr.SetParams({QStringLiteral("read_committed"), QStringLiteral("rec_version"), QStringLiteral("nowait")});
        if (Open)
            Db.Open();
    }
};

// The process's time zone (a TZ value such as "America/Sao_Paulo") while
// the object lives; the one before afterwards.
class FusoHorario {
public:
    explicit FusoHorario(const char *Zone);
    ~FusoHorario();
    FusoHorario(const FusoHorario &) = delete;
    FusoHorario &operator=(const FusoHorario &) = delete;

private:
    QByteArray FSaved;
    bool FHad;
};

// The client error code of what Action raises; -1 when it raises none.
int32_t ClientErrorOf(const std::function<void()> &Action);

QByteArray Bytes(std::initializer_list<int> Values);

// The stand-in client library of a variant (v63, v5, missing, v30), its
// server type (registered once) and its test-only functions.
QString FakePath(const char *Variant = "v63");
QString FakeServerType(const char *Variant = "v63");
void *FakeFunction(const char *Name);

// An attachment to the stand-in client library (v63), opened, and a
// transaction bound to it, not started.
struct ConexaoFalsa {
    TIBDatabase Db;
    TIBTransaction Tr;

    explicit ConexaoFalsa(const QStringList &Params = {})
    {
        Db.SetServerType(FakeServerType());
        Db.SetLoginPrompt(false);
        Db.SetDatabaseName(QStringLiteral("fake"));
        Db.SetParams(Params);
        Tr.SetDefaultDatabase(&Db);
        Db.Open();
    }
};

} // namespace abdtest
