// The database stays in maintenance for the whole update and comes back
// online on every way out; the compaction never replaces a database that
// somebody could have written to after its backup began. Each case has a
// server of its own, driven through the widget-free workflow with other
// clients attaching at chosen moments.
#include "A.h"
#include "Atualizacao.h"
#include "DbTestSupport.h"
#include "Diario.h"
#include "Trava.h"
#include "IBScript.h"
#include "IBServices.h"
#include "IBSQL.h"
#include "Registro.h"

#include <QTemporaryDir>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace abdtest;

namespace {

// What a front end would have shown, with hooks that let a test act at a
// given moment of the run.
struct Gravador : TSaidaAtualizacao {
    QStringList linhas[4];
    QStringList status;
    QList<int> progresso;
    int outros = -1;
    bool concluido = false;
    bool interromper = false;
    std::function<void(TPainel, const QString &)> aCadaLinha;
    std::function<void()> aoFimDaContagem;

    void Linha(TPainel Painel, const QString &Texto) override
    {
        linhas[int(Painel)] << Texto;
        if (aCadaLinha)
            aCadaLinha(Painel, Texto);
    }
    void Status(const QString &Texto) override { status << Texto; }
    void OutrosUsuarios(int32_t N) override { outros = N; }
    void Concluido() override { concluido = true; }
    void Progresso(int P) override { progresso << P; }
    void Ocupado(bool Sim) override
    {
        if (!Sim && aoFimDaContagem) {
            auto f = std::move(aoFimDaContagem);
            aoFimDaContagem = nullptr;
            f();
        }
    }
    bool Interromper() override { return interromper; }
    const QStringList &Atualizar() const { return linhas[int(TPainel::Atualizar)]; }
};

// An ordinary shop user, created in the server's security database.
const char *const Vendedor = "VENDEDOR";
const char *const SenhaVendedor = "venda123";

struct Execucao {
    PrivateServer Servidor;
    std::unique_ptr<FixtureDb> Banco;
    TdmA Modulo;
    Gravador Saida;
    TAtualizacao Atualizacao{Modulo, Saida};

    explicit Execucao(FixtureOptions o = {})
    {
        if (o.backupFolder.isEmpty())
            o.backupFolder = Servidor.info().dataDir + "/";
        o.file = Servidor.info().dataDir + "/zorvi.fdb";
        Banco = std::make_unique<FixtureDb>(Servidor.info(), o);
        EXPECT_TRUE(Isql(Servidor.info(), Banco->path(),
                         QStringLiteral("CREATE USER %1 PASSWORD '%2'; GRANT ALL ON CLIENTE TO %1; COMMIT;")
                             .arg(Vendedor, SenhaVendedor))
                        .ok());
    }
    ~Execucao()
    {
        Modulo.dbAtualizar->ForceClose();
        // A journal left by a case that failed must not reach a later case
        // whose server gets the same port.
        if (const auto d = TDiario::Ler(Servidor.info().server(), "zorvi"))
            d->Apagar();
    }

    TResultado Rodar()
    {
        return Atualizacao.Executar({Servidor.info().server(), "zorvi", "sysdba", Servidor.info().password});
    }
    // The message of what the run raised; empty when it raised nothing.
    QString RodarComErro()
    {
        try {
            Rodar();
        } catch (const Exception &E) {
            return E.Message();
        }
        return {};
    }
    // Another run on the same data module, as after the tool was opened
    // again: the message of the compaction error it raised (empty: none).
    QString OutraExecucao()
    {
        Gravador outra;
        TAtualizacao segunda(Modulo, outra);
        try {
            segunda.Executar({Servidor.info().server(), "zorvi", "sysdba", Servidor.info().password});
        } catch (const ECompactacao &E) {
            return E.Message();
        }
        return {};
    }
    QString Valor(const QString &Select) { return IsqlValue(Servidor.info(), Banco->path(), Select); }
    QString Modo() { return Valor("SELECT MON$SHUTDOWN_MODE || ':' || MON$READ_ONLY FROM MON$DATABASE"); }

    // A connection of another client; nullopt and the server's error code
    // when it cannot attach.
    std::unique_ptr<TIBDatabase> Anexar(const QString &Usuario, const QString &Senha, int32_t *Erro = nullptr)
    {
        auto db = std::make_unique<TIBDatabase>();
        db->SetServerType("IBServer");
        db->SetLoginPrompt(false);
        db->SetParams({"user_name=" + Usuario, "password=" + Senha, "lc_ctype=WIN1252"});
        db->SetDatabaseName(Servidor.info().connection("zorvi"));
        try {
            db->Open();
        } catch (const EIBError &E) {
            if (Erro)
                *Erro = E.IBErrorCode();
            return nullptr;
        }
        return db;
    }
    int32_t ErroDoVendedor()
    {
        int32_t erro = 0;
        auto db = Anexar(Vendedor, SenhaVendedor, &erro);
        return erro;
    }
    void Servico(const std::function<void(TIBConfigService &)> &Acao)
    {
        TIBConfigService s;
        s.SetServerName(Servidor.info().server());
        s.SetProtocol(TProtocol::TCP);
        s.SetLoginPrompt(false);
        s.SetParams({"user_name=SYSDBA", "password=" + Servidor.info().password});
        s.SetActive(true);
        s.SetDatabaseName("zorvi");
        Acao(s);
        s.SetActive(false);
    }
};

// Runs Sql in a transaction of its own on Db; the server's error code, or 0.
int32_t Escrever(TIBDatabase &Db, const QString &Sql)
{
    TIBTransaction t;
    t.SetDefaultDatabase(&Db);
    try {
        t.StartTransaction();
        TIBSQL q;
        q.SetDatabase(&Db);
        q.SetTransaction(&t);
        q.SetSQL({Sql});
        q.ExecQuery();
        t.Commit();
    } catch (const EIBError &E) {
        if (t.Active())
            t.Rollback();
        return E.IBErrorCode();
    }
    return 0;
}

} // namespace

TEST(Manutencao, AnOrdinaryUserIsKeptOutForTheWholeRunAndWorksAfterIt)
{
    Execucao e;
    ASSERT_EQ(e.ErroDoVendedor(), 0) << "the shop user can work before the run";
    QMap<QString, int32_t> erros;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &) {
        if (Painel == TPainel::Backup && !erros.contains("backup"))
            erros["backup"] = e.ErroDoVendedor();
        if (Painel == TPainel::CompactarBackup && !erros.contains("compactacao"))
            erros["compactacao"] = e.ErroDoVendedor();
    };
    e.Modulo.sVersao3->SetOnParse([&](QObject *, TIBParseKind, const QString &) {
        if (!erros.contains("script"))
            erros["script"] = e.ErroDoVendedor();
    });
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_TRUE(e.Saida.concluido);
    for (const char *momento : {"backup", "script", "compactacao"})
        EXPECT_EQ(erros.value(momento), isc_shutdown) << momento;

    EXPECT_EQ(e.Modo(), "0:0");
    auto vendedor = e.Anexar(Vendedor, SenhaVendedor);
    ASSERT_TRUE(vendedor);
    EXPECT_EQ(Escrever(*vendedor, "UPDATE CLIENTE SET NOME = NOME"), 0);
}

TEST(Manutencao, SomeoneWhoAttachesBetweenTheCountAndTheLockStopsTheRun)
{
    Execucao e;
    std::unique_ptr<TIBDatabase> vendedor;
    e.Saida.aoFimDaContagem = [&] { vendedor = e.Anexar(Vendedor, SenhaVendedor); };
    EXPECT_EQ(e.Rodar(), TResultado::OutrosUsuarios);
    ASSERT_TRUE(vendedor);
    EXPECT_EQ(e.Saida.outros, 1);
    EXPECT_TRUE(e.Saida.Atualizar().isEmpty());
    EXPECT_FALSE(e.Modulo.dbAtualizar->Connected());
    vendedor.reset();
    EXPECT_EQ(e.Modo(), "0:0");
}

TEST(Manutencao, AnAdministratorAttachedAtTheCompactionKeepsItsRowAndTheDatabaseIsKept)
{
    Execucao e;
    std::unique_ptr<TIBDatabase> caixa;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &Texto) {
        if (Painel == TPainel::Atualizar && Texto == "Compactar")
            caixa = e.Anexar("SYSDBA", e.Servidor.info().password);
        if (Texto == "Close Database" && caixa) {
            EXPECT_EQ(Escrever(*caixa, "INSERT INTO CLIENTE (ID, NOME) VALUES (777, 'VENDA NOVA')"), 0);
        }
    };
    const QString erro = e.RodarComErro();
    EXPECT_TRUE(erro.contains(QStringLiteral("em uso durante a compactação"))) << erro.toStdString();
    EXPECT_TRUE(erro.contains(QStringLiteral("já na versão 5, sem compactar"))) << erro.toStdString();
    EXPECT_FALSE(e.Saida.concluido);
    EXPECT_TRUE(e.Saida.linhas[int(TPainel::CompactarRestaurar)].isEmpty()) << "no restore";
    caixa.reset();
    EXPECT_EQ(e.Valor("SELECT NOME FROM CLIENTE WHERE ID = 777"), "VENDA NOVA");
    EXPECT_EQ(e.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_EQ(QDir(e.Servidor.info().dataDir).entryList({"zorvi.*.fbk"}).size(), 1) << "the pre-update backup stays";
}

TEST(Manutencao, AnAdministratorCannotWriteDuringTheCompactionSoNothingIsLost)
{
    Execucao e;
    int32_t erro = -1;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &) {
        if (Painel == TPainel::CompactarBackup && e.Saida.linhas[int(Painel)].size() == 6 && erro < 0) {
            auto caixa = e.Anexar("SYSDBA", e.Servidor.info().password);
            ASSERT_TRUE(caixa);
            erro = Escrever(*caixa, "INSERT INTO CLIENTE (ID, NOME) VALUES (778, 'PERDIDA?')");
        }
    };
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_EQ(erro, isc_read_only_database) << "the write is refused to its client, never taken and lost";
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE WHERE ID = 778"), "0");
    EXPECT_EQ(e.Modo(), "0:0");
}

TEST(Manutencao, ARunThatFindsTheDatabaseInMaintenanceSaysSoAndLeavesItOnline)
{
    Execucao e;
    // As a compaction that was killed leaves it.
    e.Servico([](TIBConfigService &s) {
        s.ShutdownDatabase(TShutdownMode::Multi, 0);
        s.SetReadOnly(true);
    });
    ASSERT_EQ(e.Modo(), "1:1");
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_EQ(e.Saida.Atualizar().filter(QStringLiteral("estava em manutenção")).size(), 1);
    EXPECT_EQ(e.Saida.Atualizar().filter(QStringLiteral("estava somente leitura")).size(), 1);
    EXPECT_EQ(e.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_EQ(e.Modo(), "0:0");
}

// Runs Sql on the database between the end of the replacing restore and its
// comparison, making it writable for that moment only.
void PlantarAntesDaComparacao(Execucao &e, const QString &Sql)
{
    auto fins = std::make_shared<int>(0);
    e.Saida.aCadaLinha = [&e, Sql, fins](TPainel Painel, const QString &Texto) {
        if (Painel != TPainel::CompactarRestaurar || !Texto.startsWith("Demorou ") || ++*fins != 2)
            return;
        e.Servico([](TIBConfigService &s) { s.SetReadOnly(false); });
        EXPECT_TRUE(Isql(e.Servidor.info(), e.Banco->path(), Sql + " COMMIT;").ok());
        e.Servico([](TIBConfigService &s) { s.SetReadOnly(true); });
    };
}

// What a restore may come back without, planted between the replacing
// restore and its comparison: the comparison names it, the database stays
// closed to the shop, and the next run restores the backup again.
struct Diferenca {
    const char *nome;
    const char *sql;      // run with the database made writable for a moment
    const char *esperado; // in the error
};

void PrintTo(const Diferenca &D, std::ostream *Os)
{
    *Os << D.nome;
}

class Comparacao : public ::testing::TestWithParam<Diferenca> {};

TEST_P(Comparacao, AReplacingRestoreThatDiffersStaysClosedAndTheNextRunRestoresItAgain)
{
    Execucao e;
    PlantarAntesDaComparacao(e, GetParam().sql);
    const QString erro = e.RodarComErro();
    EXPECT_TRUE(erro.contains(GetParam().esperado)) << erro.toStdString();
    EXPECT_TRUE(erro.contains(".versao.5.fbk") && erro.contains(".versao.1.fbk")) << erro.toStdString();
    EXPECT_TRUE(erro.contains("Execute a atualização outra vez")) << erro.toStdString();
    EXPECT_FALSE(e.Saida.concluido);
    EXPECT_EQ(e.Modo(), "1:1") << "closed to the shop and read-only";
    EXPECT_TRUE(TDiario::Ler(e.Servidor.info().server(), "zorvi").has_value());

    Gravador outra;
    TAtualizacao segunda(e.Modulo, outra);
    EXPECT_EQ(segunda.Executar({e.Servidor.info().server(), "zorvi", "sysdba", e.Servidor.info().password}),
              TResultado::JaAtualizado);
    EXPECT_EQ(outra.Atualizar().filter("a última compactação deste banco de dados não terminou").size(), 1);
    EXPECT_EQ(outra.Atualizar().last(), "Banco dados já esta atualizado.");
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IN_MOVIMENTO_DATA' AND "
                      "COALESCE(RDB$INDEX_INACTIVE, 0) = 0"),
              "1");
    EXPECT_FALSE(TDiario::Ler(e.Servidor.info().server(), "zorvi").has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Manutencao, Comparacao,
    ::testing::Values(Diferenca{"indice", "ALTER INDEX IN_MOVIMENTO_DATA INACTIVE;", "IN_MOVIMENTO_DATA"},
                      Diferenca{"linha_a_menos", "DELETE FROM MOVIMENTO WHERE ID = (SELECT MIN(ID) FROM MOVIMENTO);",
                                "tabela MOVIMENTO"},
                      Diferenca{"linha_a_mais", "INSERT INTO CLIENTE (ID, NOME) VALUES (9001, 'INTRUSO');",
                                "tabela CLIENTE: 4 linhas antes, 5 depois"},
                      Diferenca{"gerador", "CREATE GENERATOR GEN_INTRUSO;", "geradores: 0 antes, 1 depois"},
                      Diferenca{"trigger", "DROP TRIGGER TR_CREDITO_DEBITO_UPDATE;", "triggers"}),
    [](const ::testing::TestParamInfo<Diferenca> &i) { return std::string(i.param.nome); });

// The shop's server dies inside the replacing restore and comes back, as
// after a power cut: the database it finds is half restored, in the
// restore's single-user shutdown (cut inside the tables' data) or not even
// a database the server can open (cut as the restore began to build it).
class Corte : public ::testing::TestWithParam<double> {};

TEST_P(Corte, APowerCutInTheReplacingRestoreIsRepairedByTheNextRunAndNothingElseOpensIt)
{
    FixtureOptions o;
    o.customers = 2000;
    o.movements = 60000;
    Execucao e(o);
    QString clientes, movimentos, saldos;
    // Once the restore has dropped the database and written back a third of
    // it: inside the tables' data.
    std::unique_ptr<CorteNaRecriacao> corte;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &Texto) {
        if (Painel == TPainel::CompactarRestaurar && !corte && Texto == "Compactar (Restaurar)") {
            // What the database holds as the restore begins (read-only since
            // the compaction's backup).
            clientes = e.Valor("SELECT COUNT(*) FROM CLIENTE");
            movimentos = e.Valor("SELECT COUNT(*) FROM MOVIMENTO");
            saldos = e.Valor("SELECT CAST(SUM(SALDO) AS NUMERIC(18, 2)) FROM CLIENTE");
            corte = std::make_unique<CorteNaRecriacao>(e.Servidor, e.Banco->path(), GetParam());
        }
    };
    const QString erro = e.RodarComErro();
    ASSERT_TRUE(corte && corte->Feito()) << erro.toStdString();
    EXPECT_TRUE(erro.contains("Execute a atualização outra vez")) << erro.toStdString();
    e.Servidor.Start();
    const auto estado = [&]() -> QString {
        try {
            return e.Modo();
        } catch (const std::exception &) {
            return "não abre";
        }
    };
    const QString modo = estado();
    EXPECT_NE(modo.left(1), "0") << "half restored, and closed: " << modo.toStdString();

    // Without the journal (the update ran on another machine): left exactly
    // as it is, and the message says what to restore.
    const auto diario = TDiario::Ler(e.Servidor.info().server(), "zorvi");
    ASSERT_TRUE(diario.has_value());
    const QStringList arquivos = diario->Arquivos();
    ASSERT_EQ(arquivos.size(), 2) << "by the names given and by what the server says";
    for (const QString &a : arquivos)
        ASSERT_TRUE(QFile::rename(a, a + ".guardado"));
    {
        const QString mensagem = e.OutraExecucao();
        EXPECT_TRUE(mensagem.contains("deixado como está") && mensagem.contains("versao.5.fbk"))
            << mensagem.toStdString();
        EXPECT_EQ(estado(), modo) << "untouched";
        e.Modulo.dbAtualizar->ForceClose();
    }

    // With it: restored again, compared, released.
    for (const QString &a : arquivos)
        ASSERT_TRUE(QFile::rename(a + ".guardado", a));
    Gravador terceira;
    TAtualizacao reparo(e.Modulo, terceira);
    EXPECT_EQ(reparo.Executar({e.Servidor.info().server(), "zorvi", "sysdba", e.Servidor.info().password}),
              TResultado::JaAtualizado);
    EXPECT_EQ(terceira.Atualizar().filter("a última compactação deste banco de dados não terminou").size(), 1);
    EXPECT_EQ(terceira.Atualizar().last(), "Banco dados já esta atualizado.");
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE"), clientes);
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM MOVIMENTO"), movimentos);
    EXPECT_EQ(e.Valor("SELECT CAST(SUM(SALDO) AS NUMERIC(18, 2)) FROM CLIENTE"), saldos);
    EXPECT_EQ(e.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_FALSE(TDiario::Ler(e.Servidor.info().server(), "zorvi").has_value());
}

INSTANTIATE_TEST_SUITE_P(Reparo, Corte, ::testing::Values(0.33, 0.0),
                         [](const ::testing::TestParamInfo<double> &i) {
                             return std::string(i.param > 0 ? "nos_dados" : "no_comeco");
                         });

// The replacing restore fails with the server up (its backup spoilt after
// the test restore proved it): closed; once the backup is whole again, the
// next run repairs.
TEST(Reparo, AReplacingRestoreThatFailsStaysClosedUntilTheNextRunRestoresItAgain)
{
    Execucao e;
    QString copia, arquivo;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &Texto) {
        if (Painel != TPainel::CompactarRestaurar || Texto != "Compactar (Restaurar)")
            return;
        const QStringList f = QDir(e.Servidor.info().dataDir).entryList({"zorvi.*.versao.5.fbk"});
        ASSERT_EQ(f.size(), 1);
        arquivo = e.Servidor.info().dataDir + "/" + f[0];
        copia = arquivo + ".copia";
        ASSERT_TRUE(QFile::copy(arquivo, copia));
        QFile fbk(arquivo);
        ASSERT_TRUE(fbk.resize(fbk.size() / 2));
    };
    const QString erro = e.RodarComErro();
    ASSERT_FALSE(copia.isEmpty());
    EXPECT_TRUE(erro.contains("Execute a atualização outra vez")) << erro.toStdString();
    EXPECT_FALSE(e.Saida.concluido);
    const QString modo = e.Modo();
    EXPECT_TRUE(modo != "0:0" && modo != "0:1") << "never online: " << modo.toStdString();
    EXPECT_NE(modo.right(2), ":0") << "never read-write: " << modo.toStdString();

    ASSERT_TRUE(QFile::remove(arquivo));
    ASSERT_TRUE(QFile::rename(copia, arquivo));
    Gravador outra;
    TAtualizacao segunda(e.Modulo, outra);
    EXPECT_EQ(segunda.Executar({e.Servidor.info().server(), "zorvi", "sysdba", e.Servidor.info().password}),
              TResultado::JaAtualizado);
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
    EXPECT_EQ(e.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
}

TEST(Manutencao, TheShopsHeaderSettingsSurviveTheCompaction)
{
    Execucao e;
    e.Servico([](TIBConfigService &s) {
        s.SetSweepInterval(12345);
        s.SetPageBuffers(3000);
        s.SetAsyncMode(true);
    });
    const QString cabecalho = "SELECT MON$RESERVE_SPACE || ':' || MON$FORCED_WRITES || ':' || MON$SWEEP_INTERVAL || "
                              "':' || MON$PAGE_BUFFERS || ':' || MON$SQL_DIALECT FROM MON$DATABASE";
    const QString antes = e.Valor(cabecalho);
    ASSERT_EQ(antes, "1:0:12345:3000:3");
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_EQ(e.Valor(cabecalho), antes);
    EXPECT_EQ(e.Modo(), "0:0");
}

// A till that attaches to the read-only database gbak brings online, before
// the tool has it back in maintenance, is sent away: it cannot have written
// anything, and the run ends as it really did.
TEST(Manutencao, ATillThatAttachesRightAfterTheReplacingRestoreIsSentAwayAndTheRunEnds)
{
    Execucao e;
    std::unique_ptr<TIBDatabase> caixa;
    int fins = 0;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &Texto) {
        if (Painel == TPainel::CompactarRestaurar && Texto.startsWith("Fim ") && ++fins == 2)
            caixa = e.Anexar(Vendedor, SenhaVendedor);
    };
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_TRUE(caixa) << "the till did attach in the gap";
    EXPECT_TRUE(e.Saida.concluido);
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
    caixa.reset();
}

// The run reads the database's state through the attachment it holds
// against a second run; when that attachment is gone (killed by an
// administrator, lost on the link), it reads through one of its own and the
// run still ends as it really did.
TEST(Manutencao, AGuardThatLostItsAttachmentIsReadAroundAndTheRunEnds)
{
    Execucao e;
    int fins = 0;
    QString mortos;
    e.Saida.aCadaLinha = [&](TPainel Painel, const QString &Texto) {
        if (Painel == TPainel::CompactarRestaurar && Texto.startsWith("Fim ") && ++fins == 2)
            // The compaction's end, after the guard came back and before
            // the release reads through it.
            e.Saida.aoFimDaContagem = [&] {
                mortos = e.Valor("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> "
                                 "CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0");
                EXPECT_TRUE(Isql(e.Servidor.info(), e.Banco->path(),
                                 "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND "
                                 "MON$SYSTEM_FLAG = 0; COMMIT;")
                                .ok());
            };
    };
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_EQ(mortos, "1") << "the guard, alone, was attached";
    EXPECT_TRUE(e.Saida.concluido);
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
}

// A run that stops after script 3 and before script 4 has committed leaves
// version 2, never the purge state of version 3; the next run runs both.
struct Parada {
    const char *nome;
    bool falhar; // script 4 fails; else the run is interrupted after script 3
};

void PrintTo(const Parada &P, std::ostream *Os)
{
    *Os << P.nome;
}

class EntreOsScripts : public ::testing::TestWithParam<Parada> {};

TEST_P(EntreOsScripts, LeavesVersion2WithTheTriggersOnAndTheNextRunEndsAsAnUnbrokenOne)
{
    const QString estado = "SELECT (SELECT VERSAO_BANCO_DADOS || ':' || EXPURGO FROM CONFIGURAR WHERE ID = 1) || ':' "
                           "|| (SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME IN "
                           "('TR_HISTORICO_UPDATE_DELETE', 'TR_CREDITO_DEBITO_UPDATE') AND "
                           "COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0) FROM RDB$DATABASE";
    const QString saldos = "SELECT LIST(ID || '=' || SALDO, ',') FROM (SELECT ID, SALDO FROM CLIENTE ORDER BY ID)";
    QString esperado;
    {
        Execucao inteira;
        EXPECT_EQ(inteira.Rodar(), TResultado::Concluido);
        esperado = inteira.Valor(saldos);
    }
    Execucao e;
    e.Modulo.dbAtualizar->Close();
    if (GetParam().falhar) {
        ASSERT_TRUE(TravarHistorico11(e.Servidor.info(), e.Banco->path(), "travado").ok());
    } else {
        e.Saida.aCadaLinha = [&](TPainel, const QString &Texto) {
            if (Texto == QStringLiteral("003 versão atualizada com sucesso."))
                e.Saida.interromper = true;
        };
    }
    const QString erro = e.RodarComErro();
    EXPECT_FALSE(erro.isEmpty());
    EXPECT_EQ(e.Saida.Atualizar().filter("o script 003 foi desfeito").size(), 1)
        << e.Saida.Atualizar().join("\n").toStdString();
    EXPECT_EQ(e.Valor(estado), "2:N:2");
    EXPECT_EQ(e.Modo(), "0:0");

    if (GetParam().falhar) {
        ASSERT_TRUE(Isql(e.Servidor.info(), e.Banco->path(), "DROP TRIGGER TR_TESTE; COMMIT;").ok());
    }
    e.Saida.aCadaLinha = nullptr;
    e.Saida.interromper = false;
    e.Modulo.dbAtualizar->Close();
    Gravador outra;
    TAtualizacao segunda(e.Modulo, outra);
    EXPECT_EQ(segunda.Executar({e.Servidor.info().server(), "zorvi", "sysdba", e.Servidor.info().password}),
              TResultado::Concluido);
    EXPECT_EQ(e.Valor(estado), "5:N:2");
    EXPECT_EQ(e.Valor(saldos), esperado) << "the purge leaves the balances as a run that never stopped";
}

INSTANTIATE_TEST_SUITE_P(Manutencao, EntreOsScripts,
                         ::testing::Values(Parada{"script_4_falha", true}, Parada{"interrompido_depois_do_3", false}),
                         [](const ::testing::TestParamInfo<Parada> &i) { return std::string(i.param.nome); });

// The journal is found under any name of the database: a run that gives its
// path where the failed one gave its alias restores it again rather than
// opening a database whose comparison failed.
TEST(Reparo, TheJournalIsFoundUnderAnotherNameOfTheDatabase)
{
    Execucao e;
    PlantarAntesDaComparacao(e, "DELETE FROM MOVIMENTO;");
    EXPECT_TRUE(e.RodarComErro().contains("tabela MOVIMENTO"));
    ASSERT_EQ(e.Modo(), "1:1");
    e.Modulo.dbAtualizar->ForceClose();

    Gravador outra;
    TAtualizacao segunda(e.Modulo, outra);
    EXPECT_EQ(segunda.Executar({e.Servidor.info().server(), e.Banco->path(), "sysdba", e.Servidor.info().password}),
              TResultado::JaAtualizado);
    EXPECT_EQ(outra.Atualizar().filter("a última compactação deste banco de dados não terminou").size(), 1)
        << outra.Atualizar().join('\n').toStdString();
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_NE(e.Valor("SELECT COUNT(*) FROM MOVIMENTO"), "0") << "restored from the backup, not opened as it was";
    EXPECT_FALSE(TDiario::Ler(e.Servidor.info().server(), "zorvi").has_value());
}

// A database opened by hand since its compaction failed may hold new sales:
// the journal's backup is never restored over it.
TEST(Reparo, ADatabaseOpenedByHandSinceIsNeverRestoredOver)
{
    Execucao e;
    PlantarAntesDaComparacao(e, "DELETE FROM MOVIMENTO;");
    EXPECT_FALSE(e.RodarComErro().isEmpty());
    ASSERT_EQ(e.Modo(), "1:1");
    e.Modulo.dbAtualizar->ForceClose();
    e.Servico([](TIBConfigService &s) {
        s.SetReadOnly(false);
        s.BringDatabaseOnline();
    });
    ASSERT_TRUE(Isql(e.Servidor.info(), e.Banco->path(), "INSERT INTO CLIENTE (ID, NOME) VALUES (9002, 'VENDA'); COMMIT;").ok());

    const QString mensagem = e.OutraExecucao();
    EXPECT_TRUE(mensagem.contains("foi aberto à mão")) << mensagem.toStdString();
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE WHERE ID = 9002"), "1") << "the sale is still there";
    EXPECT_EQ(e.Modo(), "0:0") << "left as it was";
}

// One run per database on this machine, whatever the names it was given.
TEST(Reparo, TheLockOfADatabaseIsTheSameUnderEachOfItsNames)
{
    Execucao e;
    const auto modulo = [&](const QString &Servidor, const QString &Banco) {
        auto m = std::make_unique<TdmA>();
        m->Servidor = Servidor;
        m->BancoDados = Banco;
        m->Usuario = "SYSDBA";
        m->Senha = e.Servidor.info().password;
        return m;
    };
    const auto porAlias = modulo(e.Servidor.info().server(), "zorvi");
    const auto porCaminho = modulo(e.Servidor.info().server(), e.Banco->path());
    const auto porNome = modulo(QString("localhost/%1").arg(e.Servidor.info().port), "zorvi");
    EXPECT_EQ(TTrava::Identidade(*porAlias), TTrava::Identidade(*porCaminho));
    EXPECT_EQ(TTrava::Identidade(*porAlias), TTrava::Identidade(*porNome));
    {
        const TTrava primeira = TTrava::Tomar(*porAlias);
        EXPECT_TRUE(primeira.Tomada);
        EXPECT_FALSE(TTrava::Tomar(*porCaminho).Tomada);
        EXPECT_FALSE(TTrava::Tomar(*porNome).Tomada);
    }
    EXPECT_TRUE(TTrava::Tomar(*porCaminho).Tomada) << "free again once the first run let go";
}

// The commands the tool prints for a database left in maintenance, run
// exactly as printed, with the administrator's login in the environment.
TEST(Reparo, ThePrintedCommandsReleaseADatabaseLeftInMaintenance)
{
    Execucao e;
    e.Servico([](TIBConfigService &s) {
        s.ShutdownDatabase(TShutdownMode::Multi, 0);
        s.SetReadOnly(true);
    });
    ASSERT_EQ(e.Modo(), "1:1");
    for (const QString &comando : TAtualizacao::ComandosParaLiberar(e.Servidor.info().server(), "zorvi")) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ISC_USER", "SYSDBA");
        env.insert("ISC_PASSWORD", e.Servidor.info().password);
        p.setProcessEnvironment(env);
        p.start("/bin/sh", {"-c", comando});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << comando.toStdString() << ": " << p.readAllStandardError().toStdString();
    }
    EXPECT_EQ(e.Modo(), "0:0");
}

TEST(Manutencao, ABackupThatWillNotRestoreLeavesTheLiveDatabaseAlone)
{
    Execucao e;
    e.Saida.aCadaLinha = [&](TPainel, const QString &Texto) {
        if (Texto != QStringLiteral("Compactar (Teste de restauração)"))
            return;
        const QStringList f = QDir(e.Servidor.info().dataDir).entryList({"zorvi.*.versao.5.fbk"});
        ASSERT_EQ(f.size(), 1);
        QFile fbk(e.Servidor.info().dataDir + "/" + f[0]);
        ASSERT_TRUE(fbk.resize(fbk.size() / 2));
    };
    const QString erro = e.RodarComErro();
    EXPECT_FALSE(erro.isEmpty());
    EXPECT_FALSE(e.Saida.concluido);
    EXPECT_FALSE(e.Saida.linhas[int(TPainel::CompactarRestaurar)].contains("Compactar (Restaurar)"))
        << erro.toStdString() << "\n" << e.Saida.linhas[int(TPainel::CompactarRestaurar)].join("\n").toStdString();
    EXPECT_EQ(e.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
    EXPECT_EQ(e.Modo(), "0:0");
    EXPECT_TRUE(QDir(e.Servidor.info().dataDir).entryList({"*.teste.*"}).isEmpty()) << "the scratch database is gone";
}

// Every pane of a whole update, read in blocks, is what one line per query
// gives, line for line: nothing lost, split, joined or reordered (the two
// runs' own folders, times and scratch names taken out).
TEST(Manutencao, EveryPaneReadInBlocksIsTheSameAsOneLinePerQuery)
{
    const auto panes = [](Execucao &E) {
        const QString pasta = E.Servidor.info().dataDir;
        QStringList todas;
        for (int p = 0; p < 4; ++p)
            for (QString l : E.Saida.linhas[p]) {
                l.replace(pasta, "<pasta>");
                l.replace(QRegularExpression("\\d{8}\\.\\d{4}"), "<quando>");
                l.replace(QRegularExpression("\\.teste\\.[0-9A-Fa-f]{12}"), ".teste.<nome>");
                if (l.startsWith("Início ") || l.startsWith("Fim ") || l.startsWith("Demorou "))
                    l = l.section(' ', 0, 0);
                todas << QString::number(p) + ": " + l;
            }
        return todas;
    };
    Execucao blocos;
    ASSERT_EQ(blocos.Rodar(), TResultado::Concluido);
    Execucao linhas;
    linhas.Atualizacao.SetLinhaPorConsulta(true);
    ASSERT_EQ(linhas.Rodar(), TResultado::Concluido);
    const QStringList a = panes(blocos), b = panes(linhas);
    EXPECT_GT(a.filter(QRegularExpression("^[123]: gbak:")).size(), 200) << "every pane had the server's lines";
    ASSERT_EQ(a.size(), b.size());
    for (qsizetype i = 0; i < a.size(); ++i)
        ASSERT_EQ(a[i], b[i]) << "line " << i;
}

TEST(Manutencao, ProgressGoesByStepAndTableAndReachesTheEndOnlyWhenDone)
{
    Execucao e;
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    const QList<int> &p = e.Saida.progresso;
    ASSERT_FALSE(p.isEmpty());
    for (int i = 1; i < p.size(); ++i)
        EXPECT_LT(p[i - 1], p[i]) << "never backwards, never the same twice";
    EXPECT_EQ(p.last(), 100);
    EXPECT_LT(p[p.size() - 2], 100);
    // The status texts of each phase, in order.
    const QStringList &st = e.Saida.status;
    ASSERT_EQ(st.size(), 5) << st.join('|').toStdString();
    EXPECT_TRUE(st[0].startsWith("Backup: ") && st[0].endsWith(".versao.1.fbk"));
    EXPECT_TRUE(st[1].startsWith(QStringLiteral("Backup versão atual ")) && st[1].endsWith(".versao.5.fbk"));
    EXPECT_TRUE(st[2].startsWith(QStringLiteral("Testar restauração ")));
    EXPECT_TRUE(st[3].startsWith(QStringLiteral("Restaurar versão atual ")) && st[3].endsWith(".versao.5.fbk"));
    EXPECT_EQ(st[4], QStringLiteral("Concluído."));
    // Within the pre-update backup, table by table (the fixture has 5).
    int noBackup = 0;
    for (int v : p)
        noBackup += v > 2 && v <= 20;
    EXPECT_GE(noBackup, 4);
}

TEST(Manutencao, ASecondRunOfTheSameWorkflowTimesItsStepsFromItsOwnStart)
{
    Execucao e;
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    EXPECT_EQ(e.Rodar(), TResultado::JaAtualizado);
    ASSERT_FALSE(e.Atualizacao.Duracoes().isEmpty());
    for (const double segundos : e.Atualizacao.Duracoes())
        EXPECT_GE(segundos, 0.0);
}

// Once the scripts are done, another administrator's transaction (Trava)
// holds the trigger rows; when clearing their sources fails, AoFalhar runs.
void TravarTriggers(Execucao &E, std::unique_ptr<Conexao> &Trava, std::function<void()> AoFalhar)
{
    E.Saida.aCadaLinha = [&E, &Trava, AoFalhar](TPainel, const QString &Texto) {
        if (Texto == QStringLiteral("005 versão atualizada com sucesso.")) {
            Trava = std::make_unique<Conexao>(E.Servidor.info(), E.Banco->path());
            Trava->Tr.StartTransaction();
            TIBSQL q;
            q.SetDatabase(&Trava->Db);
            q.SetTransaction(&Trava->Tr);
            q.SetSQL({"UPDATE RDB$TRIGGERS SET RDB$TRIGGER_SOURCE = NULL WHERE RDB$SYSTEM_FLAG = 0"});
            q.ExecQuery();
        }
        if (Texto == QStringLiteral("Erro: Não limpou trigger.") && Trava)
            AoFalhar();
    };
}

TEST(Manutencao, AFailedScriptLeavesNothingEvenWhenTheProgramClosesItsConnection)
{
    FixtureOptions o;
    o.schema = 2;
    Execucao e(o);
    ASSERT_TRUE(TravarHistorico11(e.Servidor.info(), e.Banco->path(), "travado").ok());
    const QString movimentos = e.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11");
    e.Atualizacao.SetBackup(false);
    EXPECT_TRUE(e.RodarComErro().contains("travado"));
    // At exit the connection closes, committing whatever is still active.
    e.Modulo.dbAtualizar->Close();
    EXPECT_EQ(e.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "2") << "script 3 undone";
    EXPECT_EQ(e.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11"), movimentos)
        << "script 4's deletions were rolled back, not committed at exit";
}

TEST(Manutencao, SourceClearingThatFailsIsReportedAndTheRunGoesOn)
{
    Execucao e;
    std::unique_ptr<Conexao> trava;
    TravarTriggers(e, trava, [&] {
        trava->Tr.Rollback();
        trava.reset();
    });
    EXPECT_EQ(e.Rodar(), TResultado::Concluido);
    const QStringList &p = e.Saida.Atualizar();
    EXPECT_EQ(p.filter(QStringLiteral("Não limpou trigger.")).size(), 1) << p.join('|').toStdString();
    EXPECT_TRUE(p.filter(QStringLiteral("Não limpou store procedure.")).isEmpty());
    EXPECT_TRUE(p.contains("Compactar")) << "the run went on";
    EXPECT_EQ(e.Modo(), "0:0");
}

TEST(Manutencao, SourceClearingOnALostConnectionEndsTheRunWithoutADeadTransaction)
{
    Execucao e;
    std::unique_ptr<Conexao> trava;
    // The update failed; the server goes before the rollback.
    TravarTriggers(e, trava, [&] {
        trava->Db.ForceClose();
        e.Servidor.Kill();
    });
    const QString erro = e.RodarComErro();
    EXPECT_FALSE(erro.isEmpty());
    EXPECT_FALSE(erro.contains(QStringLiteral("Transação está ativa"))) << erro.toStdString();
    EXPECT_TRUE(e.Saida.Atualizar().filter(QStringLiteral("Não limpou store procedure.")).isEmpty())
        << "the run ends there";
    EXPECT_FALSE(e.Saida.concluido);
    trava.reset();
    e.Servidor.Start();
}

// Every way out of a run, each on a fresh database.
struct Caminho {
    const char *nome;
    std::function<void(Execucao &)> preparar;
};

void PrintTo(const Caminho &S, std::ostream *Os)
{
    *Os << S.nome;
}

class TodaSaida : public ::testing::TestWithParam<Caminho> {};

TEST_P(TodaSaida, LeavesTheDatabaseOnline)
{
    FixtureOptions o;
    if (QString(GetParam().nome) == "ja-atualizado")
        o.version = "5";
    if (QString(GetParam().nome) == "sem-linha-1")
        o.noRow1 = true;
    if (QString(GetParam().nome) == "backup-sem-pasta")
        o.backupFolder = "/nao/existe/";
    Execucao e(o);
    if (GetParam().preparar)
        GetParam().preparar(e);
    e.RodarComErro();
    // Some ways out leave the tool's connection open, as they always did.
    e.Modulo.dbAtualizar->Close();
    EXPECT_EQ(e.Modo(), "0:0");
}

INSTANTIATE_TEST_SUITE_P(
    Manutencao, TodaSaida,
    ::testing::Values(
        Caminho{"concluido", {}}, Caminho{"ja-atualizado", {}}, Caminho{"sem-linha-1", {}},
        Caminho{"backup-sem-pasta", {}},
        Caminho{"script-falha",
              [](Execucao &e) {
                  ASSERT_TRUE(TravarHistorico11(e.Servidor.info(), e.Banco->path(), "travado").ok());
              }},
        Caminho{"sem-configurar",
              [](Execucao &e) { ASSERT_TRUE(Isql(e.Servidor.info(), e.Banco->path(), "DROP TABLE CONFIGURAR; COMMIT;").ok()); }},
        Caminho{"compactacao-recusada",
              [](Execucao &e) {
                  auto outra = std::make_shared<std::unique_ptr<TIBDatabase>>();
                  e.Saida.aCadaLinha = [&e, outra](TPainel, const QString &Texto) {
                      if (Texto == "Compactar")
                          *outra = e.Anexar("SYSDBA", e.Servidor.info().password);
                      if (Texto.startsWith("Erro: banco de dados em uso"))
                          outra->reset();
                  };
              }},
        Caminho{"interrompido", [](Execucao &e) { e.Saida.interromper = true; }}),
    [](const ::testing::TestParamInfo<Caminho> &i) { return QString(i.param.nome).replace('-', '_').toStdString(); });

TEST(Registro, EveryRunLeavesALogWithoutThePassword)
{
    QTemporaryDir casa;
    qputenv("XDG_DATA_HOME", casa.path().toUtf8());
    QCoreApplication::setApplicationName("Atualizar Banco Dados");
    Execucao e;
    Gravador tela;
    const TLogin login{e.Servidor.info().server(), "zorvi", "sysdba", e.Servidor.info().password};
    QString arquivo;
    {
        TRegistro registro(tela, login);
        arquivo = registro.Arquivo();
        TAtualizacao a(e.Modulo, registro);
        registro.Fim(a, TextoDoResultado(a.Executar(login)));
    }
    qunsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(arquivo.startsWith(casa.path())) << arquivo.toStdString();
    EXPECT_TRUE(arquivo.contains("/registros/")) << arquivo.toStdString();
    QFile f(arquivo);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString texto = QString::fromUtf8(f.readAll());
    EXPECT_FALSE(texto.contains(login.Senha));
    EXPECT_TRUE(texto.contains(QStringLiteral("Usuário: sysdba")));
    EXPECT_TRUE(texto.contains(QStringLiteral("[atualizar] 005 versão atualizada com sucesso.")));
    EXPECT_TRUE(texto.contains("[restaurar] Compactar (Restaurar)"));
    EXPECT_TRUE(texto.contains(QStringLiteral("Versão antes: 1")));
    EXPECT_TRUE(texto.contains(QStringLiteral("Versão depois: 5")));
    EXPECT_TRUE(texto.contains(QStringLiteral("Resultado: Concluído")));
    // What went to the log went on to the front end too.
    EXPECT_TRUE(tela.concluido);
    EXPECT_EQ(tela.Atualizar().size(), texto.count(QStringLiteral(" [atualizar] ")));
}
