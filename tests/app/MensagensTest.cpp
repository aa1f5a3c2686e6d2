// The plain sentence before Firebird's message: each failure a technician
// meets most is made to happen on the real server, and the codes Firebird
// sent for it are checked along with the sentence they lead to.
#include "DbTestSupport.h"
#include "FormsTestSupport.h"
#include "IBSQL.h"
#include "IBServices.h"
#include "Mensagens.h"

#include <QDir>

#include <optional>
#include <stdexcept>

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

// The error Action raises; fails the test when it raises none.
std::optional<EIBError> Falha(const std::function<void()> &Action)
{
    try {
        Action();
    } catch (const EIBError &e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return std::nullopt;
}

// Checks the codes Firebird sent and what the user is shown for them.
void Confere(const std::optional<EIBError> &Erro, std::initializer_list<int32_t> Codigos, const char *Inicio)
{
    ASSERT_TRUE(Erro);
    const QList<int32_t> &codigos = Erro->ErrorCodes();
    ASSERT_FALSE(codigos.isEmpty());
    EXPECT_EQ(codigos[0], Erro->IBErrorCode());
    for (int32_t c : Codigos)
        EXPECT_TRUE(codigos.contains(c)) << "no code " << c << " in " << QStringList([&] {
            QStringList l;
            for (int32_t x : codigos)
                l << QString::number(x);
            return l;
        }()).join(' ').toStdString();
    const QString explicacao = Explicacao(*Erro);
    EXPECT_TRUE(explicacao.startsWith(QString::fromUtf8(Inicio))) << explicacao.toStdString();
    EXPECT_TRUE(explicacao.endsWith('.'));
    // Firebird's message follows, whole.
    EXPECT_EQ(TextoAmigavel(*Erro), explicacao + "\r\n" + Erro->Message());
}

template <typename S>
void Entrar(S &Servico, const ServerInfo &Server, const QString &Usuario, const QString &Senha)
{
    Servico.SetServerName(Server.server());
    Servico.SetProtocol(TProtocol::TCP);
    Servico.SetLoginPrompt(false);
    Servico.Params().Add("user_name=" + Usuario);
    Servico.Params().Add("password=" + Senha);
}

// Starts a service and reads its output to the end: Firebird reports a
// failed action through the start or through the query that reads the
// output, depending on timing.
void Executar(TIBControlAndQueryService &Servico)
{
    Servico.ServiceStart();
    while (!Servico.Eof())
        Servico.GetNextLine();
}

void Propriedades(const ServerInfo &Server, const QString &Banco, const QStringList &Acao)
{
    const ProcessResult r = RunProgram("fbsvcmgr", QStringList{Server.serviceManager(), "user", "SYSDBA", "password",
                                                               Server.password, "action_properties", "dbname", Banco} +
                                                       Acao);
    ASSERT_TRUE(r.ok()) << r.err.toStdString();
}

// Runs one statement in the connection's transaction, started if need be.
void Sql(Conexao &C, const QString &Texto)
{
    if (!C.Tr.Active())
        C.Tr.StartTransaction();
    TIBSQL q;
    q.SetDatabase(&C.Db);
    q.SetTransaction(&C.Tr);
    q.SQL().Add(Texto);
    q.ExecQuery();
}

const QString Tecnico = QStringLiteral("TECNICO");
const QString SenhaTecnico = QStringLiteral("tecnico1");

} // namespace

TEST(PlainMessages, LoginServerAndDatabaseFile)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    const auto abrir = [&](const QString &Nome, const QString &Senha) {
        return Falha([&] {
            Conexao c(s, f.path(), false);
            c.Db.SetDatabaseName(Nome);
            c.Db.Params().SetValues("password", Senha);
            c.Db.Open();
        });
    };
    {
        SCOPED_TRACE("wrong password");
        const auto e = abrir(s.connection(f.path()), "errada");
        Confere(e, {isc_login}, "Usuário ou senha incorretos");
        EXPECT_FALSE(TextoAmigavel(*e).contains("errada"));
        TIBServerProperties p;
        Entrar(p, s, "SYSDBA", "errada");
        Confere(Falha([&] { p.SetActive(true); }), {isc_login}, "Usuário ou senha incorretos");
    }
    {
        SCOPED_TRACE("closed port");
        const QString servidor = QStringLiteral("127.0.0.1/%1").arg(FreePort());
        Confere(abrir(servidor + ":" + f.path(), s.password), {isc_network_error, isc_net_connect_err},
                "Não foi possível conectar ao servidor");
        TIBServerProperties p;
        Entrar(p, s, "SYSDBA", s.password);
        p.SetServerName(servidor);
        Confere(Falha([&] { p.SetActive(true); }), {isc_network_error, isc_net_connect_err},
                "Não foi possível conectar ao servidor");
    }
    {
        SCOPED_TRACE("unknown host");
        Confere(abrir("servidor.invalido:" + f.path(), s.password), {isc_network_error, isc_net_lookup_err},
                "Não foi possível conectar ao servidor");
    }
    {
        SCOPED_TRACE("unknown database file or alias");
        Confere(abrir(s.connection(s.dataDir + "/nao_existe.fdb"), s.password), {isc_io_error, isc_io_open_err},
                "O servidor não encontrou ou não conseguiu abrir o arquivo do banco de dados");
        Confere(abrir(s.connection("apelido_que_nao_existe"), s.password), {isc_io_error, isc_io_open_err},
                "O servidor não encontrou ou não conseguiu abrir o arquivo do banco de dados");
        TIBBackupService b;
        Entrar(b, s, "SYSDBA", s.password);
        b.SetActive(true);
        b.SetDatabaseName(s.dataDir + "/nao_existe.fdb");
        b.SetBackupFile({UniquePath(s, "nunca", ".fbk")});
        Confere(Falha([&] { Executar(b); }), {isc_io_error, isc_io_open_err},
                "O servidor não encontrou ou não conseguiu abrir o arquivo do banco de dados");
    }
}

TEST(PlainMessages, ShutdownInUseBackupFolderAndRights)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    ASSERT_TRUE(Isql(s, f.path(), QStringLiteral("CREATE OR ALTER USER %1 PASSWORD '%2';").arg(Tecnico, SenhaTecnico))
                    .ok());
    const auto abrir = [&](const QString &Usuario, const QString &Senha) {
        return Falha([&] {
            Conexao c(s, f.path(), false);
            c.Db.Params().SetValues("user_name", Usuario);
            c.Db.Params().SetValues("password", Senha);
            c.Db.Open();
        });
    };
    {
        SCOPED_TRACE("an ordinary user backs up a database not his own");
        TIBBackupService b;
        Entrar(b, s, Tecnico, SenhaTecnico);
        b.SetActive(true);
        b.SetDatabaseName(f.path());
        b.SetBackupFile({UniquePath(s, "tecnico", ".fbk")});
        Confere(Falha([&] { Executar(b); }), {isc_adm_task_denied}, "O usuário não tem permissão");
    }
    {
        SCOPED_TRACE("a backup folder the server cannot write");
        TIBBackupService b;
        Entrar(b, s, "SYSDBA", s.password);
        b.SetActive(true);
        b.SetDatabaseName(f.path());
        b.SetBackupFile({"/root/sem/acesso/zorvi.fbk"});
        Confere(Falha([&] { Executar(b); }), {isc_gbak_open_bkup_error},
                "O servidor não conseguiu abrir o arquivo de backup");
    }

    const QString copia = UniquePath(s, "copia", ".fbk");
    {
        TIBBackupService b;
        Entrar(b, s, "SYSDBA", s.password);
        b.SetActive(true);
        b.SetDatabaseName(f.path());
        b.SetBackupFile({copia});
        Executar(b);
        b.SetActive(false);
    }
    {
        SCOPED_TRACE("a restore where the server cannot create the database");
        TIBRestoreService r;
        Entrar(r, s, "SYSDBA", s.password);
        r.SetActive(true);
        r.BackupFile().Add(copia);
        r.DatabaseName().Add("/root/sem/acesso/teste.fdb");
        Confere(Falha([&] { Executar(r); }), {isc_io_error, isc_io_create_err},
                "O servidor não conseguiu criar o arquivo do banco de dados");
    }
    {
        SCOPED_TRACE("a replace restore while another connection is open");
        Conexao outra(s, f.path());
        TIBRestoreService r;
        Entrar(r, s, "SYSDBA", s.password);
        r.SetActive(true);
        r.SetOptions({TRestoreOption::Replace});
        r.BackupFile().Add(copia);
        r.DatabaseName().Add(f.path());
        Confere(Falha([&] { Executar(r); }), {isc_gbak_db_in_use}, "O banco de dados está em uso por outra conexão");
    }
    {
        SCOPED_TRACE("a table in use by another connection");
        ASSERT_TRUE(Isql(s, f.path(), "CREATE TABLE EM_USO (X INTEGER);").ok());
        Conexao outra(s, f.path());
        outra.Tr.StartTransaction();
        TIBSQL lendo;
        lendo.SetDatabase(&outra.Db);
        lendo.SetTransaction(&outra.Tr);
        lendo.SQL().Add("SELECT X FROM EM_USO");
        lendo.ExecQuery();
        Conexao c(s, f.path());
        Confere(Falha([&] {
                    Sql(c, "DROP TABLE EM_USO");
                    c.Tr.Commit();
                }),
                {isc_obj_in_use}, "O banco de dados está em uso por outra conexão");
    }
    QFile::remove(copia);

    {
        SCOPED_TRACE("multi-user maintenance: ordinary users are refused");
        Propriedades(s, f.path(), {"prp_shutdown_mode", "prp_sm_multi", "prp_force_shutdown", "0"});
        Confere(abrir(Tecnico, SenhaTecnico), {isc_shutdown}, "O banco de dados está desligado para manutenção");
    }
    {
        SCOPED_TRACE("full shutdown: SYSDBA too, and the backup service");
        Propriedades(s, f.path(), {"prp_shutdown_mode", "prp_sm_full", "prp_force_shutdown", "0"});
        Confere(abrir("SYSDBA", s.password), {isc_shutdown}, "O banco de dados está desligado para manutenção");
        TIBBackupService b;
        Entrar(b, s, "SYSDBA", s.password);
        b.SetActive(true);
        b.SetDatabaseName(f.path());
        b.SetBackupFile({UniquePath(s, "desligado", ".fbk")});
        Confere(Falha([&] { Executar(b); }), {isc_shutdown}, "O banco de dados está desligado para manutenção");
    }
    Propriedades(s, f.path(), {"prp_online_mode", "prp_sm_normal"});
}

TEST(PlainMessages, ConnectionLostWhenTheServerDies)
{
    PrivateServer server;
    FixtureDb f(server.info());
    Conexao c(server.info(), f.path());
    Conexao d(server.info(), f.path());
    Sql(d, "UPDATE CONFIGURAR SET CODIGO = 5 WHERE ID = 1");
    server.Kill();
    Confere(Falha([&] { Sql(c, "SELECT COUNT(*) FROM CLIENTE"); }), {isc_net_read_err},
            "A conexão com o servidor caiu");
    Confere(Falha([&] { d.Tr.Commit(); }), {isc_net_read_err}, "A conexão com o servidor caiu");
}

TEST(PlainMessages, OtherErrorsKeepTheirMessageAlone)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    Conexao c(s, f.path());
    const auto e = Falha([&] { Sql(c, "SELEC 1 FROM RDB$DATABASE"); });
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->ErrorCodes().isEmpty());
    EXPECT_EQ(Explicacao(*e), "");
    EXPECT_EQ(TextoAmigavel(*e), e->Message());

    const EIBClientError cliente(ibxeDatabaseClosed, "Database not open");
    EXPECT_EQ(TextoAmigavel(cliente), "Database not open");
    EXPECT_EQ(TextoAmigavel(Exception(QStringLiteral("Erro no backup: 3"))), "Erro no backup: 3");
    EXPECT_EQ(TextoAmigavel(std::runtime_error("falhou")), "falhou");
}

TEST(PlainMessages, TheErrorBoxShowsTheSentenceFirst)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    const auto e = Falha([&] {
        Conexao c(s, f.path(), false);
        c.Db.Params().SetValues("password", "errada");
        c.Db.Open();
    });
    ASSERT_TRUE(e);
    QCoreApplication::setApplicationName("Atualizar Banco Dados");
    const CapturedBox box = CaptureMessageBox([&] { ExecutarTratando([&] { throw *e; }); });
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.text, Explicacao(*e) + "\r\n" + e->Message() + ".");
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("Usuário ou senha incorretos")));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
}
