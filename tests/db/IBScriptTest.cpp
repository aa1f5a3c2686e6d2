// Running scripts on the real server: where the work of each statement
// goes, what an error leaves behind, and the exact client calls of a run.
#include "DbTestSupport.h"
#include "IBScript.h"

#include <gtest/gtest.h>

#include <memory>

using namespace abdtest;

namespace {

struct Roteiro {
    FixtureDb Fixture;
    Conexao C;
    TIBScript S;

    Roteiro() : Fixture(SharedServer()), C(SharedServer(), Fixture.path())
    {
        S.SetDatabase(&C.Db);
        S.SetTransaction(&C.Tr);
        S.SetAutoDDL(false);
    }

    void Executar(const QString &Text)
    {
        S.SetScript(Text.split('\n'));
        if (!C.Tr.Active())
            C.Tr.StartTransaction();
        S.ExecuteScript();
    }

    QString Codigo() { return IsqlValue(SharedServer(), Fixture.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"); }
};

} // namespace

TEST(IBScript, AFailingStatementLeavesTheEarlierWorkToTheCaller)
{
    Roteiro r;
    try {
        r.Executar("UPDATE CONFIGURAR SET CODIGO = 7 WHERE ID = 1;\n"
                   "UPDATE TABELA_NENHUMA SET X = 1;\n"
                   "UPDATE CONFIGURAR SET CODIGO = 8 WHERE ID = 1;");
        ADD_FAILURE() << "no error";
    } catch (const EIBInterBaseError &e) {
        EXPECT_TRUE(e.Message().contains("TABELA_NENHUMA")) << e.Message().toStdString();
    }
    EXPECT_TRUE(r.C.Tr.Active());
    r.C.Tr.Rollback();
    EXPECT_EQ(r.Codigo(), "1");
}

TEST(IBScript, SavepointStatementsNeedAClientThatHasTheCalls)
{
    // Firebird's client has no savepoint calls: each of the three kinds
    // reaches its call and ends the run with the client's error, naming it.
    Roteiro r;
    const char *const kinds[][2] = {{"SAVEPOINT S1;", "isc_start_savepoint"},
                                    {"RELEASE SAVEPOINT S1;", "isc_release_savepoint"},
                                    {"ROLLBACK TO SAVEPOINT S1;", "isc_rollback_savepoint"}};
    for (const auto &k : kinds) {
        try {
            r.Executar(QStringLiteral("UPDATE CONFIGURAR SET CODIGO = 20 WHERE ID = 1;\n%1\nCOMMIT;").arg(k[0]));
            ADD_FAILURE() << k[0];
        } catch (const EIBClientError &e) {
            EXPECT_TRUE(e.Message().contains(k[1])) << e.Message().toStdString();
        }
        r.C.Tr.Rollback();
        EXPECT_EQ(r.Codigo(), "1");
    }
}

TEST(IBScript, AnInvalidStatementEndsTheRunQuietly)
{
    Roteiro r;
    QString parseError;
    r.S.SetOnParseError([&](QObject *, const QString &e, const QString &, int32_t) { parseError = e; });
    r.Executar("UPDATE CONFIGURAR SET CODIGO = 9 WHERE ID = 1;\nNADA DISSO;\nUPDATE CONFIGURAR SET CODIGO = 10 WHERE ID = 1;");
    EXPECT_EQ(parseError, QStringLiteral("Declaração inválida"));
    r.C.Tr.Commit();
    EXPECT_EQ(r.Codigo(), "9");
    r.S.SetScript({"UPDATE CONFIGURAR SET CODIGO = 1;", "NADA DISSO;"});
    EXPECT_FALSE(r.S.ValidateScript());
    r.S.SetScript({"UPDATE CONFIGURAR SET CODIGO = 1;", "COMMIT;"});
    EXPECT_TRUE(r.S.ValidateScript());
    EXPECT_EQ(r.Codigo(), "9") << "validating executes nothing";
}

TEST(IBScript, CommitInsideAScriptAndAutoDDL)
{
    Roteiro r;
    r.Executar("UPDATE CONFIGURAR SET CODIGO = 11 WHERE ID = 1;\nCOMMIT WORK;\n"
               "UPDATE CONFIGURAR SET CODIGO = 12 WHERE ID = 1;");
    EXPECT_TRUE(r.C.Tr.Active()) << "the next DML statement starts the transaction again";
    EXPECT_EQ(r.Codigo(), "11");
    r.C.Tr.Rollback();

    // With AutoDDL each DDL statement is committed at once, so DML on the new
    // table works in the caller's transaction.
    r.S.SetAutoDDL(true);
    r.Executar("CREATE TABLE NOVA (A INTEGER);\nINSERT INTO NOVA VALUES (1);\nSET AUTODDL OFF;");
    EXPECT_FALSE(r.S.AutoDDL());
    r.C.Tr.Rollback();
    EXPECT_EQ(IsqlValue(SharedServer(), r.Fixture.path(), "SELECT COUNT(*) FROM NOVA"), "0");
    EXPECT_GT(r.S.Stats().Fetches, 0);
}

TEST(IBScript, ErrorHandlersDecideWhetherTheRunGoesOn)
{
    Roteiro r;
    int errors = 0;
    r.S.SetOnExecuteError([&](QObject *, const QString &, const QString &, int32_t line, bool &ignore) {
        ++errors;
        EXPECT_EQ(line, 2);
        ignore = true;
    });
    r.Executar("UPDATE CONFIGURAR SET CODIGO = 20 WHERE ID = 1;\nUPDATE X SET Y = 1;\nUPDATE CONFIGURAR SET CODIGO = CODIGO + 1 WHERE ID = 1;");
    EXPECT_EQ(errors, 1);
    r.C.Tr.Commit();
    EXPECT_EQ(r.Codigo(), "21");

    r.S.SetOnExecuteError([&](QObject *, const QString &, const QString &, int32_t, bool &) { ++errors; });
    EXPECT_NO_THROW(r.Executar("UPDATE X SET Y = 1;\nUPDATE CONFIGURAR SET CODIGO = 30 WHERE ID = 1;"));
    EXPECT_TRUE(r.S.Paused());
    r.C.Tr.Commit();
    EXPECT_EQ(r.Codigo(), "21");

    // A statement with parameters can wait for its values.
    r.S.SetOnExecuteError(nullptr);
    r.S.SetOnParamCheck([](TIBScript *, bool &pause) { pause = true; });
    r.Executar("UPDATE CONFIGURAR SET CODIGO = :NOVO WHERE ID = 1;\nUPDATE CONFIGURAR SET FONE2 = 'x' WHERE ID = 1;");
    ASSERT_TRUE(r.S.Paused());
    r.S.ParamByName("NOVO").SetAsInteger(40);
    r.S.SetPaused(false);
    r.C.Tr.Commit();
    EXPECT_EQ(r.Codigo(), "40");
}

TEST(IBScript, ExactClientCallsOfAMigrationScript)
{
    auto log = reinterpret_cast<const char *(*)()>(FakeFunction("fake_log"));
    auto clear = reinterpret_cast<void (*)()>(FakeFunction("fake_clear_log"));
    auto setReply = reinterpret_cast<void (*)(const char *, int)>(FakeFunction("fake_set_info_reply"));
    ASSERT_TRUE(log && clear && setReply);
    setReply("\x15\x04\x00\x05\x00\x00\x00", 7);

    ConexaoFalsa c;
    c.Tr.StartTransaction();
    TIBScript s;
    s.SetDatabase(&c.Db);
    s.SetTransaction(&c.Tr);
    s.SetAutoDDL(false);
    s.SetScript({"ALTER TRIGGER A INACTIVE;", "ALTER TRIGGER B INACTIVE;", "", "UPDATE C", "SET D = 3;"});
    clear();
    s.ExecuteScript();
    const QStringList calls = QString::fromLatin1(log()).split('\n', Qt::SkipEmptyParts);
    QStringList expected;
    for (int i = 0; i < 7; ++i)
        expected << "isc_database_info";
    const QStringList statement{"isc_dsql_alloc_statement2", "isc_dsql_prepare", "isc_dsql_sql_info",
                                "isc_dsql_execute"};
    expected << statement << "isc_dsql_free_statement:2" << statement << statement;
    for (int i = 0; i < 7; ++i)
        expected << "isc_database_info";
    expected << "isc_dsql_free_statement:2";
    EXPECT_EQ(calls, expected);
}

// The run's statement object is the run's own: it goes with the run, never
// with the connection, whatever ends first.
TEST(IBScript, ConnectionLostAfterTheLastStatement)
{
    // Reading the statistics fails, and the run still lets go of its
    // statement. Then the connection goes before the script, as the data
    // module has it at exit.
    PrivateServer server;
    FixtureDb fixture(server.info());
    TIBScript s;
    auto c = std::make_unique<Conexao>(server.info(), fixture.path());
    s.SetDatabase(&c->Db);
    s.SetTransaction(&c->Tr);
    s.SetAutoDDL(false);
    s.SetScript({"UPDATE CONFIGURAR SET CODIGO = 2 WHERE ID = 1;", "UPDATE CONFIGURAR SET CODIGO = 3 WHERE ID = 1;"});
    int statements = 0;
    s.SetOnParse([&](QObject *, TIBParseKind, const QString &) {
        if (++statements == 2)
            server.Kill();
    });
    c->Tr.StartTransaction();
    EXPECT_THROW(s.ExecuteScript(), EIBInterBaseError);
    EXPECT_EQ(statements, 2);
    EXPECT_EQ(ClientErrorOf([&] { s.Params(); }), ibxeSQLClosed) << "the run kept its statement";
    c.reset();
}

TEST(IBScript, ConnectionDestroyedWhileTheRunWaitsForParameters)
{
    Roteiro r;
    auto db = std::make_unique<Conexao>(SharedServer(), r.Fixture.path());
    TIBScript s;
    s.SetDatabase(&db->Db);
    s.SetTransaction(&db->Tr);
    s.SetAutoDDL(false);
    s.SetOnParamCheck([](TIBScript *, bool &pause) { pause = true; });
    s.SetScript({"UPDATE CONFIGURAR SET CODIGO = :NOVO WHERE ID = 1;"});
    db->Tr.StartTransaction();
    s.ExecuteScript();
    ASSERT_TRUE(s.Paused());
    s.ParamByName("NOVO").SetAsInteger(5);
    db.reset();
    EXPECT_EQ(ClientErrorOf([&] { s.SetPaused(false); }), ibxeDatabaseNotAssigned);
    EXPECT_EQ(ClientErrorOf([&] { s.Params(); }), ibxeSQLClosed);
}

TEST(IBScript, PausedRunsResumeWhereTheyStopped)
{
    // An error its handler did not ignore pauses the run; resuming runs the
    // failed statement again, then the rest.
    Roteiro r;
    const auto lista = [&](const char *Table) {
        return IsqlValue(SharedServer(), r.Fixture.path(),
                         QStringLiteral("SELECT CAST(LIST(A) AS VARCHAR(100)) FROM (SELECT A FROM %1 ORDER BY A)").arg(Table));
    };
    ASSERT_TRUE(abdtest::Isql(SharedServer(), r.Fixture.path(), "CREATE TABLE LOG_X (A INTEGER); COMMIT;").ok());
    int errors = 0;
    r.S.SetOnExecuteError([&](QObject *, const QString &, const QString &, int32_t, bool &) { ++errors; });
    r.Executar("INSERT INTO LOG_X VALUES (1);\nINSERT INTO LOG_Y VALUES (5);\nINSERT INTO LOG_X VALUES (2);");
    ASSERT_TRUE(r.S.Paused());
    EXPECT_EQ(errors, 1);
    ASSERT_TRUE(abdtest::Isql(SharedServer(), r.Fixture.path(), "CREATE TABLE LOG_Y (A INTEGER); COMMIT;").ok());
    r.S.SetPaused(false);
    EXPECT_FALSE(r.S.Paused());
    r.C.Tr.Commit();
    EXPECT_EQ(lista("LOG_X"), "1,2");
    EXPECT_EQ(lista("LOG_Y"), "5");

    // When it fails again the error leaves; resuming once more goes on
    // after it.
    r.Executar("INSERT INTO LOG_X VALUES (3);\nUPDATE LOG_X SET A = 1 / 0;\nINSERT INTO LOG_X VALUES (4);");
    ASSERT_TRUE(r.S.Paused());
    EXPECT_THROW(r.S.SetPaused(false), EIBInterBaseError);
    EXPECT_NO_THROW(r.S.SetPaused(false));
    r.C.Tr.Commit();
    EXPECT_EQ(lista("LOG_X"), "1,2,3,4");

    // A run its own handler paused after a statement ran does not run that
    // statement again.
    r.S.SetOnExecuteError(nullptr);
    int parsed = 0;
    r.S.SetOnParse([&](QObject *, TIBParseKind, const QString &) {
        if (++parsed == 1)
            r.S.SetPaused(true);
    });
    r.Executar("INSERT INTO LOG_X VALUES (5);\nINSERT INTO LOG_X VALUES (6);");
    ASSERT_TRUE(r.S.Paused());
    r.S.SetPaused(false);
    r.C.Tr.Commit();
    EXPECT_EQ(lista("LOG_X"), "1,2,3,4,5,6");
}

TEST(IBScript, ADatasetRunsTheDMLWithTheParametersGivenToTheScript)
{
    Roteiro r;
    TIBQuery q;
    q.SetDatabase(&r.C.Db);
    q.SetTransaction(&r.C.Tr);
    r.S.SetDataset(&q);
    r.S.SetOnParamCheck([](TIBScript *, bool &pause) { pause = true; });
    r.Executar("UPDATE CONFIGURAR SET CODIGO = :NOVO WHERE ID = :ID;");
    ASSERT_TRUE(r.S.Paused());
    EXPECT_EQ(r.S.Params().Count(), 2);
    r.S.ParamByName("novo").SetAsInteger(77);
    r.S.ParamByName("ID").SetAsInteger(1);
    r.S.SetPaused(false);
    EXPECT_EQ(q.RowsAffected(), 1);
    r.C.Tr.Commit();
    EXPECT_EQ(r.Codigo(), "77");

    // The statistics are read from the connection: without one the run says so.
    r.S.SetDataset(nullptr);
    r.C.Db.Close();
    r.S.SetScript({"SET TERM ^ ;", "SET TERM ; ^"});
    EXPECT_THROW(r.S.ExecuteScript(), EIBInterBaseError);
    r.S.SetStatistics(false);
    EXPECT_NO_THROW(r.S.ExecuteScript());
}

TEST(IBScript, LinksTerminatorAndSavepointLines)
{
    TIBDatabase db;
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    TIBScript s;
    s.SetStatistics(false);
    s.SetDatabase(&db);
    EXPECT_EQ(s.Transaction(), nullptr) << "only the connection's default transaction is taken";
    db.SetDefaultTransaction(&tr);
    TIBScript other;
    other.SetDatabase(&db);
    EXPECT_EQ(other.Transaction(), &tr);

    // Parameter names ignore case and may carry their block's prefix.
    s.SetTransaction(&tr);
    tr.Params().Assign({"read_committed", "ISC_TPB_NO_SAVEPOINT"});
    s.SetScript({"SET SAVEPOINTS OFF;"});
    s.ExecuteScript();
    EXPECT_EQ(tr.Params().Lines(), (QStringList{"read_committed", "ISC_TPB_NO_SAVEPOINT"}));
    s.SetScript({"SET SAVEPOINTS ON;"});
    s.ExecuteScript();
    EXPECT_EQ(tr.Params().Lines(), QStringList{"read_committed"});

    // The terminator is what the parser took: blanks are what it trims.
    s.SetScript({QStringLiteral("SET TERM ^\u00a0;"), QStringLiteral("SET SAVEPOINTS OFF^\u00a0")});
    s.ExecuteScript();
    EXPECT_EQ(s.Terminator(), QStringLiteral("^\u00a0"));
    EXPECT_EQ(s.Parser().Terminator(), s.Terminator());
    EXPECT_EQ(tr.Params().Lines(), (QStringList{"read_committed", "no_savepoint"}));
}

TEST(IBScript, StatisticsReadCountersOfEightBytes)
{
    auto setInfo = reinterpret_cast<void (*)(int, const char *, int)>(FakeFunction("fake_set_database_info"));
    ASSERT_NE(setInfo, nullptr);
    ConexaoFalsa c;
    TIBScript s;
    s.SetDatabase(&c.Db);
    s.SetScript({"SET TERM ^ ;"});
    setInfo(isc_info_current_memory, "\x11\x08\x00\x05\x00\x00\x00\x01\x00\x00\x00", 11);
    s.ExecuteScript();
    setInfo(isc_info_current_memory, nullptr, 0);
    EXPECT_EQ(s.Stats().StartingMem, 0x100000005LL);
}
