// Running scripts on the real server: where the work of each statement
// goes, what an error leaves behind, and the exact client calls of a run.
#include "DbTestSupport.h"
#include "IBScript.h"


#include <gtest/gtest.h>

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
    const QString name = FakeServerType();
    auto log = reinterpret_cast<const char *(*)()>(FakeFunction("fake_log"));
    auto clear = reinterpret_cast<void (*)()>(FakeFunction("fake_clear_log"));
    auto setReply = reinterpret_cast<void (*)(const char *, int)>(FakeFunction("fake_set_info_reply"));
    ASSERT_TRUE(log && clear && setReply);
    setReply("\x15\x04\x00\x05\x00\x00\x00", 7);

    TIBDatabase db;
    db.SetServerType(name);
    db.SetLoginPrompt(false);
    db.SetDatabaseName("fake");
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    db.Open();
    tr.StartTransaction();
    TIBScript s;
    s.SetDatabase(&db);
    s.SetTransaction(&tr);
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
