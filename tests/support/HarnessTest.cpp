// The test harness itself: the shared server answers, the fixture databases
// are what the tool expects to find, and backups through the service manager
// land in the data folder. A private server starts, dies and starts again.
#include "TestServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace abdtest;

namespace {

ProcessResult SvcMgr(const ServerInfo &s, const QStringList &args)
{
    return RunProgram(QStringLiteral("fbsvcmgr"),
               QStringList{s.serviceManager(), QStringLiteral("user"), QStringLiteral("SYSDBA"),
                           QStringLiteral("password"), s.password} + args);
}

ProcessResult Gbak(const ServerInfo &s, const QStringList &args)
{
    return RunProgram(QStringLiteral("gbak"),
               QStringList{QStringLiteral("-se"), s.serviceManager(), QStringLiteral("-user"),
                           QStringLiteral("SYSDBA"), QStringLiteral("-password"), s.password} + args);
}

} // namespace

TEST(Harness, SharedServerIsOfItsVersionAndCountsAttachments)
{
    const ServerInfo &s = SharedServer();
    const ProcessResult v = SvcMgr(s, {QStringLiteral("info_server_version")});
    ASSERT_TRUE(v.ok()) << v.err.toStdString();
    EXPECT_TRUE(v.out.contains(s.versionName())) << v.out.toStdString();

    const ProcessResult a = SvcMgr(s, {QStringLiteral("info_svr_db_info")});
    ASSERT_TRUE(a.ok()) << a.err.toStdString();
    EXPECT_TRUE(a.out.contains(QStringLiteral("attachments"))) << a.out.toStdString();
}

TEST(Harness, FixtureIsTheApplicationDatabaseAtVersion1)
{
    const ServerInfo &s = SharedServer();
    FixtureDb db(s);
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "1");
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT PASTA_BACKUP FROM CONFIGURAR WHERE ID = 1"),
              s.dataDir + "/");
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT EXPURGO FROM CONFIGURAR WHERE ID = 1"), "N");
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT MON$SQL_DIALECT FROM MON$DATABASE"), "3");
    EXPECT_EQ(IsqlValue(s, db.path(),
                        "SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE"),
              "WIN1252");
    // 42 columns: all that version 5 orders but PORTA and SSL.
    EXPECT_EQ(IsqlValue(s, db.path(),
                        "SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'CONFIGURAR'"),
              "42");
    EXPECT_EQ(IsqlValue(s, db.path(),
                        "SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME IN "
                        "('TR_CLIENTE_SALDO_DELETE', 'TR_HISTORICO_UPDATE_DELETE', "
                        "'TR_CREDITO_DEBITO_UPDATE') AND RDB$TRIGGER_INACTIVE = 0"),
              "3");
    EXPECT_EQ(IsqlValue(s, db.path(),
                        "SELECT COUNT(*) FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                        "AND RDB$PROCEDURE_SOURCE IS NOT NULL"),
              "2");
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT CREDITO_DEBITO FROM HISTORICO WHERE ID = 11"), "D");
    EXPECT_NE(IsqlValue(s, db.path(), "SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11"), "0");
    // Accented text survives the trip through WIN1252 columns.
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT NOME FROM CLIENTE WHERE ID = 3"),
              QStringLiteral("Padaria Pão de Açúcar"));
    EXPECT_EQ(IsqlValue(s, db.path(),
                        "SELECT OCTET_LENGTH(NOME) FROM CLIENTE WHERE ID = 3"),
              "21");
}

TEST(Harness, BackupThroughServiceManagerRestores)
{
    const ServerInfo &s = SharedServer();
    FixtureDb db(s);
    const QString fbk = UniquePath(s, "harness", ".fbk");
    const ProcessResult b = Gbak(s, {QStringLiteral("-b"), db.path(), fbk});
    ASSERT_TRUE(b.ok()) << b.err.toStdString();
    EXPECT_TRUE(QFile::exists(fbk));

    const QString restored = UniquePath(s, "harness_restored");
    const ProcessResult r = Gbak(s, {QStringLiteral("-c"), fbk, restored});
    ASSERT_TRUE(r.ok()) << r.err.toStdString();
    EXPECT_EQ(IsqlValue(s, restored, "SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "1");
    QFile::remove(fbk);
    QFile::remove(restored);
}

TEST(Harness, PrivateServerHasItsOwnAttachmentsAndSurvivesAKill)
{
    PrivateServer server;
    const ServerInfo &s = server.info();
    FixtureDb db(s);

    const ProcessResult idle = SvcMgr(s, {QStringLiteral("info_svr_db_info")});
    ASSERT_TRUE(idle.ok()) << idle.err.toStdString();
    EXPECT_TRUE(idle.out.contains(QStringLiteral("Number of attachments: 0"))) << idle.out.toStdString();

    server.Kill();
    EXPECT_FALSE(server.Running());
    EXPECT_FALSE(Isql(s, db.path(), "SELECT 1 FROM RDB$DATABASE;").ok());

    server.Start();
    EXPECT_EQ(IsqlValue(s, db.path(), "SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "1");
}

TEST(Harness, APrivateServerDiesWithTheTestThatCrashed)
{
    // Run again in a child process, this test starts a private server, says
    // where, and crashes.
    const QString report = qEnvironmentVariable("ABD_CRASH_REPORT");
    if (!report.isEmpty()) {
        PrivateServer server;
        QFile f(report);
        if (f.open(QIODevice::WriteOnly))
            f.write(server.info().instanceDir.toUtf8());
        f.close();
        std::abort();
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ABD_CRASH_REPORT"), dir.filePath(QStringLiteral("instance")));
    // Sanitized builds report the abort; it is the point here.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:handle_abort=0"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=Harness.APrivateServerDiesWithTheTestThatCrashed")});
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    QFile f(dir.filePath(QStringLiteral("instance")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the child did not start its server";
    const QString instance = QString::fromUtf8(f.readAll());
    ASSERT_FALSE(instance.isEmpty());

    const auto running = [&] {
        return RunProgram(ScriptsDir() + QStringLiteral("/fbserver"), {QStringLiteral("status"), instance}).ok();
    };
    QDeadlineTimer deadline(15000);
    while (running() && !deadline.hasExpired())
        QThread::msleep(200);
    EXPECT_FALSE(running()) << "the crashed test's server still runs in " << instance.toStdString();
    // Whatever happened, nothing of it stays.
    RunProgram(ScriptsDir() + QStringLiteral("/fbserver"), {QStringLiteral("kill"), instance});
    QDir(instance).removeRecursively();
}
