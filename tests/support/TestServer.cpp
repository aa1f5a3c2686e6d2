#include "TestServer.h"

#include "DbTestSupport.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace abdtest {

namespace {

QString Env(const char *name)
{
    return qEnvironmentVariable(name);
}

[[noreturn]] void Fail(const QString &what)
{
    throw std::runtime_error(what.toStdString());
}

} // namespace

QString ServerInfo::server() const
{
    return QStringLiteral("%1/%2").arg(host).arg(port);
}

QString ServerInfo::connection(const QString &database) const
{
    return server() + QLatin1Char(':') + database;
}

QString ServerInfo::serviceManager() const
{
    return connection(QStringLiteral("service_mgr"));
}

QString ServerInfo::versionName() const
{
    return QStringLiteral("Firebird %1.0").arg(version);
}

namespace {

int VersionFromEnv(const char *Name)
{
    const QString v = Env(Name);
    return v.isEmpty() ? 3 : v.toInt();
}

} // namespace

const ServerInfo &SharedServer()
{
    static const ServerInfo info = [] {
        ServerInfo i;
        bool ok = false;
        i.port = Env("FB_TEST_PORT").toInt(&ok);
        i.password = Env("FB_TEST_PASSWORD");
        i.instanceDir = Env("FB_TEST_INSTANCE");
        i.dataDir = Env("FB_TEST_DATA");
        i.version = VersionFromEnv("FB_VERSION");
        if (!ok || i.password.isEmpty() || i.dataDir.isEmpty())
            Fail(QStringLiteral("no test server: run the tests through scripts/test, which starts one "
                                "and sets FB_TEST_PORT, FB_TEST_PASSWORD and FB_TEST_DATA"));
        return i;
    }();
    return info;
}

QString SourceDir()
{
    return QStringLiteral(ABD_SOURCE_DIR);
}

QString FixturesDir()
{
    return SourceDir() + QStringLiteral("/tests/fixtures");
}

QString ScriptsDir()
{
    return SourceDir() + QStringLiteral("/scripts");
}

ProcessResult RunProgram(const QString &program, const QStringList &args, const QByteArray &input,
                  int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    ProcessResult r;
    if (!p.waitForStarted(10000)) {
        r.err = QStringLiteral("cannot start %1: %2").arg(program, p.errorString());
        return r;
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = QStringLiteral("%1 did not finish in %2 ms").arg(program).arg(timeoutMs);
        return r;
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

ProcessResult Isql(const ServerInfo &server, const QString &database, const QString &sql)
{
    return RunProgram(QStringLiteral("isql-fb"),
               {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-ch"), QStringLiteral("UTF8"),
                QStringLiteral("-user"), QStringLiteral("SYSDBA"), QStringLiteral("-password"),
                server.password, server.connection(database)},
               sql.toUtf8());
}

ProcessResult TravarHistorico11(const ServerInfo &server, const QString &database, const QString &message)
{
    return Isql(server, database,
                QStringLiteral("CREATE EXCEPTION E_TESTE '%1'; SET TERM ^ ; CREATE TRIGGER TR_TESTE FOR HISTORICO "
                               "BEFORE UPDATE AS BEGIN IF (OLD.ID = 11) THEN EXCEPTION E_TESTE; END^ "
                               "SET TERM ; ^ COMMIT;")
                    .arg(message));
}

QString IsqlValue(const ServerInfo &server, const QString &database, const QString &select)
{
    QString sql = QStringLiteral("SET HEADING OFF;\n") + select;
    if (!sql.trimmed().endsWith(QLatin1Char(';')))
        sql += QLatin1Char(';');
    const ProcessResult r = Isql(server, database, sql + QLatin1Char('\n'));
    if (!r.ok())
        Fail(QStringLiteral("isql failed on \"%1\": %2").arg(select, r.err));
    return r.out.trimmed();
}

QString UniquePath(const ServerInfo &server, const QString &stem, const QString &suffix)
{
    static QAtomicInt counter;
    return QStringLiteral("%1/%2_%3_%4%5")
        .arg(server.dataDir, stem)
        .arg(QCoreApplication::applicationPid())
        .arg(counter.fetchAndAddRelaxed(1))
        .arg(suffix);
}

FixtureDb::FixtureDb(const ServerInfo &server, const FixtureOptions &o, const QString &stem)
    : FServer(server), FPath(o.file.isEmpty() ? UniquePath(server, stem) : o.file)
{
    QStringList args{QStringLiteral("--server"), server.server(), QStringLiteral("--password"),
                     server.password, QStringLiteral("--schema"), QString::number(o.schema),
                     QStringLiteral("--backup-folder"),
                     o.backupFolder.isEmpty() ? server.dataDir + QLatin1Char('/') : o.backupFolder};
    if (!o.version.isEmpty())
        args << QStringLiteral("--version") << o.version;
    if (o.noRow1)
        args << QStringLiteral("--no-row1");
    if (o.sample)
        args << QStringLiteral("--sample");
    if (o.customers > 0)
        args << QStringLiteral("--customers") << QString::number(o.customers);
    if (o.movements > 0)
        args << QStringLiteral("--movements") << QString::number(o.movements);
    args << FPath;
    const ProcessResult r = RunProgram(FixturesDir() + QStringLiteral("/make-db"), args, {}, 600000);
    if (!r.ok())
        Fail(QStringLiteral("make-db failed: %1%2").arg(r.out, r.err));
}

FixtureDb::~FixtureDb()
{
    QFile::remove(FPath);
}

int FreePort()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = 20000 + int(QRandomGenerator::global()->bounded(10000));
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            break;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    Fail(QStringLiteral("no free TCP port"));
}

namespace {

// Under the run's work folder when the harness gives one, where its reaper
// looks; the system's temporary folder otherwise.
QString PrivateServerTemplate()
{
    const QString work = Env("FB_TEST_WORK");
    return (work.isEmpty() ? QDir::tempPath() : work) + QStringLiteral("/abd-fb-XXXXXX");
}

} // namespace

PrivateServer::PrivateServer(int Version) : FDir(std::make_unique<QTemporaryDir>(PrivateServerTemplate()))
{
    if (!FDir->isValid())
        Fail(QStringLiteral("cannot make a folder for a private server"));
    // The server runs as its own user, which must get into the folder.
    QFile::setPermissions(FDir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther);
    FInfo.password = SharedServer().password;
    FInfo.version = Version ? Version : SharedServer().version;
    FInfo.instanceDir = FDir->path() + QStringLiteral("/fb");
    FInfo.dataDir = FInfo.instanceDir + QStringLiteral("/data");
    FInfo.port = FreePort();
    Start();
    // A test that crashes never reaches the destructor: a watchdog outside
    // this process stops the server when the process is gone.
    QProcess watchdog;
    watchdog.setProgram(QStringLiteral("setsid"));
    watchdog.setArguments({ScriptsDir() + QStringLiteral("/fbserver"), QStringLiteral("watch"), FInfo.instanceDir,
                           QString::number(QCoreApplication::applicationPid())});
    watchdog.setStandardInputFile(QProcess::nullDevice());
    watchdog.setStandardOutputFile(QProcess::nullDevice());
    watchdog.setStandardErrorFile(QProcess::nullDevice());
    if (!watchdog.startDetached()) {
        Stop();
        Fail(QStringLiteral("cannot start the private server's watchdog: %1").arg(watchdog.errorString()));
    }
}

PrivateServer::~PrivateServer()
{
    Stop();
}

void PrivateServer::Start()
{
    const ProcessResult r = RunProgram(QStringLiteral("env"),
                                       {QStringLiteral("FB_VERSION=%1").arg(FInfo.version),
                                        ScriptsDir() + QStringLiteral("/fbserver"), QStringLiteral("start"),
                                        FInfo.instanceDir, QString::number(FInfo.port), FInfo.password});
    if (!r.ok())
        Fail(QStringLiteral("private server does not start: %1%2").arg(r.out, r.err));
}

void PrivateServer::Stop()
{
    RunProgram(ScriptsDir() + QStringLiteral("/fbserver"), {QStringLiteral("stop"), FInfo.instanceDir});
}

void PrivateServer::Kill()
{
    RunProgram(ScriptsDir() + QStringLiteral("/fbserver"), {QStringLiteral("kill"), FInfo.instanceDir});
}

struct CorteNaRecriacao::Estado {
    std::atomic<bool> parar{false};
    std::atomic<bool> feito{false};
    std::thread vigia;
};

CorteNaRecriacao::CorteNaRecriacao(PrivateServer &Server, const QString &Path, double Cheio) : FEstado(std::make_unique<Estado>())
{
    const qint64 antes = QFileInfo(Path).size();
    Estado *e = FEstado.get();
    e->vigia = std::thread([e, &Server, Path, antes, Cheio] {
        bool recriado = false;
        while (!e->parar) {
            const QFileInfo agora(Path);
            recriado = recriado || (agora.exists() && agora.size() < antes / 2);
            if (recriado && agora.size() >= qint64(double(antes) * Cheio)) {
                Server.Kill();
                e->feito = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
}

CorteNaRecriacao::~CorteNaRecriacao()
{
    Feito();
}

bool CorteNaRecriacao::Feito() const
{
    // A kill under way ends first: the server is down when this returns.
    FEstado->parar = true;
    if (FEstado->vigia.joinable())
        FEstado->vigia.join();
    return FEstado->feito;
}

bool PrivateServer::Running() const
{
    return RunProgram(ScriptsDir() + QStringLiteral("/fbserver"), {QStringLiteral("status"), FInfo.instanceDir})
        .ok();
}

FusoHorario::FusoHorario(const char *Zone) : FSaved(qgetenv("TZ")), FHad(qEnvironmentVariableIsSet("TZ"))
{
    qputenv("TZ", Zone);
    tzset();
}

FusoHorario::~FusoHorario()
{
    if (FHad)
        qputenv("TZ", FSaved);
    else
        qunsetenv("TZ");
    tzset();
}

int32_t ClientErrorOf(const std::function<void()> &Action)
{
    try {
        Action();
    } catch (const EIBClientError &e) {
        return e.SQLCode();
    }
    return -1;
}

QByteArray Bytes(std::initializer_list<int> Values)
{
    QByteArray b;
    for (int v : Values)
        b += char(v);
    return b;
}

QString FakePath(const char *Variant)
{
    return QStringLiteral(ABD_FAKE_DIR "/libfakefb_%1.so").arg(QLatin1String(Variant));
}

QString FakeServerType(const char *Variant)
{
    const QString name = QStringLiteral("Fake_%1").arg(QLatin1String(Variant));
    if (!RegisteredServerTypes().contains(name))
        RegisterServerType(name, std::make_shared<TIBServerLibrary>(FakePath(Variant)));
    return name;
}

void *FakeFunction(const char *Name)
{
    static QLibrary library(FakePath());
    return reinterpret_cast<void *>(library.resolve(Name));
}

} // namespace abdtest
