// The data module and its four migration scripts, run on the version-1
// database as the update workflow runs them.
#include "A.h"
#include "DbTestSupport.h"
#include "IBQuery.h"
#include "IBScript.h"

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

struct Modulo {
    FixtureDb Fixture;
    TdmA M;

    Modulo() : Fixture(SharedServer())
    {
        M.dbAtualizar->SetDatabaseName(SharedServer().connection(Fixture.path()));
        M.dbAtualizar->Params().SetValues("User_Name", "SYSDBA");
        M.dbAtualizar->Params().SetValues("Password", SharedServer().password);
        M.dbAtualizar->Open();
    }

    void Rodar(TIBScript *Script)
    {
        M.tAtualizar->StartTransaction();
        Script->ExecuteScript();
        M.tAtualizar->Commit();
        M.dbAtualizar->Close();
        M.dbAtualizar->Open();
    }

    QString Valor(const QString &Select) { return IsqlValue(SharedServer(), Fixture.path(), Select); }
};

} // namespace

TEST(DataModule, MigrationScriptsBringVersion1ToVersion5)
{
    Modulo m;
    // Script 2 sends the server two statements: the whole trigger, then the
    // version; its SET TERM lines stay on this side.
    QList<QPair<TIBParseKind, QString>> enviados;
    m.M.sVersao2->SetOnParse([&](QObject *, TIBParseKind Kind, const QString &Sql) {
        if (Kind == TIBParseKind::stmtDDL || Kind == TIBParseKind::stmtDML)
            enviados << qMakePair(Kind, Sql);
    });
    m.Rodar(m.M.sVersao2);
    ASSERT_EQ(enviados.size(), 2);
    EXPECT_EQ(enviados[0].first, TIBParseKind::stmtDDL);
    EXPECT_TRUE(enviados[0].second.startsWith("ALTER TRIGGER TR_CLIENTE_SALDO_DELETE"));
    EXPECT_TRUE(enviados[0].second.trimmed().endsWith("END")) << enviados[0].second.toStdString();
    EXPECT_EQ(enviados[1].first, TIBParseKind::stmtDML);
    EXPECT_TRUE(enviados[1].second.startsWith("UPDATE CONFIGURAR"));
    EXPECT_EQ(m.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "2");
    EXPECT_EQ(m.M.sVersao2->Terminator(), ";");
    EXPECT_TRUE(m.Valor("SELECT RDB$TRIGGER_SOURCE FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = 'TR_CLIENTE_SALDO_DELETE'")
                    .contains("INTO :C_CREDITO_DEBITO"));
    // The new body: a sale with an edition no longer changes the balance; a
    // payment ('C') is taken off, a sale without an edition too.
    const QString before1 = m.Valor("SELECT SALDO FROM CLIENTE WHERE ID = 1");
    ASSERT_TRUE(Isql(SharedServer(), m.Fixture.path(), "DELETE FROM MOVIMENTO WHERE ID = 1; COMMIT;").ok());
    EXPECT_EQ(m.Valor("SELECT SALDO FROM CLIENTE WHERE ID = 1"), before1);
    ASSERT_TRUE(Isql(SharedServer(), m.Fixture.path(), "DELETE FROM MOVIMENTO WHERE ID = 2; COMMIT;").ok());
    EXPECT_EQ(m.Valor("SELECT SALDO FROM CLIENTE WHERE ID = 1"), "45.80");
    ASSERT_TRUE(Isql(SharedServer(), m.Fixture.path(), "DELETE FROM MOVIMENTO WHERE ID = 8; COMMIT;").ok());
    EXPECT_EQ(m.Valor("SELECT SALDO FROM CLIENTE WHERE ID = 4"), "0.00");

    m.Rodar(m.M.sVersao3);
    EXPECT_EQ(m.Valor("SELECT VERSAO_BANCO_DADOS || EXPURGO FROM CONFIGURAR WHERE ID = 1"), "3S");
    EXPECT_EQ(m.Valor("SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_INACTIVE = 1 AND RDB$TRIGGER_NAME IN "
                      "('TR_HISTORICO_UPDATE_DELETE', 'TR_CREDITO_DEBITO_UPDATE')"),
              "2");

    m.Rodar(m.M.sVersao4);
    EXPECT_EQ(m.Valor("SELECT VERSAO_BANCO_DADOS || EXPURGO FROM CONFIGURAR WHERE ID = 1"), "4N");
    EXPECT_EQ(m.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11"), "0");
    EXPECT_EQ(m.Valor("SELECT CREDITO_DEBITO FROM HISTORICO WHERE ID = 11"), "C");
    EXPECT_EQ(m.Valor("SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_INACTIVE = 1"), "0");

    m.Rodar(m.M.sVersao5);
    EXPECT_EQ(m.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_EQ(m.Valor("SELECT COUNT(*) FROM RDB$FIELDS WHERE RDB$FIELD_NAME = 'DM_CHAR_01'"), "1");
    EXPECT_EQ(m.Valor("SELECT COUNT(*) FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IN_EDICAO_CODIGO_BARRAS'"), "1");
    const QString order = m.Valor(
        "SELECT CAST(LIST(TRIM(RDB$FIELD_NAME), ',') AS VARCHAR(2000)) FROM (SELECT RDB$FIELD_NAME FROM RDB$RELATION_FIELDS "
        "WHERE RDB$RELATION_NAME = 'CONFIGURAR' ORDER BY RDB$FIELD_POSITION)");
    const QStringList columns = order.split(',');
    ASSERT_EQ(columns.size(), 44);
    EXPECT_EQ(columns[0], "ID");
    EXPECT_EQ(columns[22], "PORTA");
    EXPECT_EQ(columns[23], "SSL");
    EXPECT_EQ(columns[43], "VERSAO_BANCO_DADOS");
    // The same as the database that isql-fb migrated on its own.
    FixtureOptions o;
    o.schema = 5;
    FixtureDb reference(SharedServer(), o);
    EXPECT_EQ(order, IsqlValue(SharedServer(), reference.path(),
                               "SELECT CAST(LIST(TRIM(RDB$FIELD_NAME), ',') AS VARCHAR(2000)) FROM (SELECT RDB$FIELD_NAME FROM "
                               "RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'CONFIGURAR' ORDER BY RDB$FIELD_POSITION)"));
}

TEST(DataModule, DestroyingItClosesTheQueryAndCommits)
{
    FixtureDb f(SharedServer());
    {
        TdmA m;
        m.dbAtualizar->SetDatabaseName(SharedServer().connection(f.path()));
        m.dbAtualizar->Open();
        m.qAtualizar->SQL().Add("UPDATE CONFIGURAR SET CODIGO = 99 WHERE ID = 1");
        m.qAtualizar->ExecSQL();
        m.qAtualizar->Close();
        m.qAtualizar->SQL().Clear();
        m.qAtualizar->SQL().Add("SELECT PASTA_BACKUP, VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1");
        m.qAtualizar->Open();
        EXPECT_TRUE(m.tAtualizar->Active());
    }
    EXPECT_EQ(IsqlValue(SharedServer(), f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "99");
}

TEST(DataModule, GoesQuietlyAfterAScriptLostItsConnectionAtTheEnd)
{
    // The server dies right after the last statement of script 3: the run
    // fails reading its statistics, and destroying the module afterwards
    // (the connection before the scripts) must not free anything twice.
    PrivateServer server;
    FixtureDb f(server.info());
    auto m = std::make_unique<TdmA>();
    m->dbAtualizar->SetDatabaseName(server.info().connection(f.path()));
    m->dbAtualizar->Params().SetValues("Password", server.info().password);
    m->dbAtualizar->Open();
    int statements = 0;
    m->sVersao3->SetOnParse([&](QObject *, TIBParseKind, const QString &) {
        if (++statements == 3)
            server.Kill();
    });
    m->tAtualizar->StartTransaction();
    EXPECT_THROW(m->sVersao3->ExecuteScript(), EIBError);
    EXPECT_EQ(statements, 3);
    m.reset();
}
