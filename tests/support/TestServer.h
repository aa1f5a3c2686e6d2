#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

class QTemporaryDir;

namespace abdtest {

// Where a Firebird server listens and where it keeps its files.
struct ServerInfo {
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;
    QString password;
    QString instanceDir; // the server's own folder
    QString dataDir;     // databases and backups; written by the server and by tests
    int version = 3;     // Firebird's major version: 3 or 4

    // "Firebird 3.0": how the server names itself in its version string.
    QString versionName() const;
    // The ODS major version of the databases it makes: 12 or 13.
    int ods() const { return version >= 4 ? 13 : 12; }

    // "127.0.0.1/3055": what the tool's login dialog takes as server.
    QString server() const;
    // server():path, a database on this server.
    QString connection(const QString &database) const;
    QString serviceManager() const;
};

// The server that scripts/test started for the whole run, of the version
// the run is testing now (FB_VERSION). Throws when the harness did not start
// one: a test that needs it fails, never skips.
const ServerInfo &SharedServer();

// Source tree paths.
QString SourceDir();
QString FixturesDir();
QString ScriptsDir();

struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
    bool ok() const { return exitCode == 0; }
};

// Runs a program to its end (killed after timeoutMs) and collects its output.
ProcessResult RunProgram(const QString &program, const QStringList &args,
                  const QByteArray &input = {}, int timeoutMs = 120000);

// isql-fb as SYSDBA over TCP with UTF8 as client character set; stops at the
// first error. `sql` goes in through standard input.
ProcessResult Isql(const ServerInfo &server, const QString &database, const QString &sql);

// A trigger TR_TESTE that makes every update of HISTORICO row 11 fail with
// the exception E_TESTE, whose text is `message`: a script that updates it
// fails half way, as on a damaged shop database.
ProcessResult TravarHistorico11(const ServerInfo &server, const QString &database, const QString &message);

// The single value of a one-column, one-row SELECT, trimmed; "<null>" for null.
// Throws when isql fails.
QString IsqlValue(const ServerInfo &server, const QString &database, const QString &select);

// A unique file path in the server's data folder, for a database or backup.
QString UniquePath(const ServerInfo &server, const QString &stem, const QString &suffix = ".fdb");

// Options of tests/fixtures/make-db.
struct FixtureOptions {
    int schema = 1;
    QString version;      // stored version, "" keeps the schema's, may be "NULL" or negative
    bool noRow1 = false;
    bool sample = true;
    int customers = 0;
    int movements = 0;
    QString backupFolder; // "" uses the server's data folder
    QString file;         // "" makes a unique name in the data folder
};

// The application's database made with isql-fb in the server's data folder,
// removed again when the object goes.
class FixtureDb {
public:
    explicit FixtureDb(const ServerInfo &server, const FixtureOptions &options = {},
                       const QString &stem = QStringLiteral("zorvi"));
    ~FixtureDb();
    FixtureDb(const FixtureDb &) = delete;
    FixtureDb &operator=(const FixtureDb &) = delete;

    const QString &path() const { return FPath; }
    QString connection() const { return FServer.connection(FPath); }
    const ServerInfo &server() const { return FServer; }

private:
    ServerInfo FServer;
    QString FPath;
};

// A Firebird server of a test's own, of the shared server's version or of
// the one given (3 or 4), in a temporary folder on a free port,
// for tests that stop or kill it or need the server-wide attachment count to
// be theirs alone. Stopped when the object goes, and by a watchdog process
// when the test process dies without getting that far (a crash).
class PrivateServer {
public:
    explicit PrivateServer(int Version = 0);
    ~PrivateServer();
    PrivateServer(const PrivateServer &) = delete;
    PrivateServer &operator=(const PrivateServer &) = delete;

    const ServerInfo &info() const { return FInfo; }
    void Start(); // again after Stop or Kill, same folder and port
    void Stop();  // graceful
    void Kill();  // SIGKILL
    bool Running() const;

private:
    std::unique_ptr<QTemporaryDir> FDir;
    ServerInfo FInfo;
};

// Kills the server, from a thread of its own, once the database file at
// Path has shrunk to under half its size now (a restore with replace has
// dropped it and begun to build it again) and grown back to Cheio of it,
// whatever the restore has said so far. Feito stops the watch (a kill under way ends first) and says whether
// it killed.
class CorteNaRecriacao {
public:
    CorteNaRecriacao(PrivateServer &Server, const QString &Path, double Cheio);
    ~CorteNaRecriacao();
    CorteNaRecriacao(const CorteNaRecriacao &) = delete;
    CorteNaRecriacao &operator=(const CorteNaRecriacao &) = delete;
    bool Feito() const;

private:
    struct Estado;
    std::unique_ptr<Estado> FEstado;
};

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();

} // namespace abdtest

// Readable QString values in GoogleTest's failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE
