// The query as the update workflow drives it, against the real server.
#include "DbTestSupport.h"
#include "IBQuery.h"

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

struct Consulta {
    FixtureDb Fixture;
    Conexao C;
    TIBQuery Q;

    explicit Consulta(const FixtureOptions &Options = {})
        : Fixture(SharedServer(), Options), C(SharedServer(), Fixture.path())
    {
        Q.setObjectName("qAtualizar");
        Q.SetDatabase(&C.Db);
        Q.SetTransaction(&C.Tr);
        Q.SetBufferChunks(1000);
        Q.SetCachedUpdates(false);
        Q.SetParamCheck(true);
    }

    void Texto(const QString &Sql)
    {
        Q.Close();
        Q.SQL().Clear();
        Q.SQL().Add(Sql);
    }

    QString Isql(const QString &Select) { return IsqlValue(SharedServer(), Fixture.path(), Select); }
};

} // namespace

TEST(IBQuery, ConfigurationReadAsTheWorkflowDoes)
{
    Consulta c;
    EXPECT_FALSE(c.C.Tr.Active());
    c.Texto("SELECT PASTA_BACKUP, VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1");
    c.Q.Open();
    EXPECT_TRUE(c.C.Tr.Active()) << "opening starts the transaction";
    EXPECT_FALSE(c.Q.IsEmpty());
    EXPECT_EQ(c.Q.FieldByName("pasta_backup").AsString(), SharedServer().dataDir + "/");
    EXPECT_EQ(c.Q.FieldByName("VERSAO_BANCO_DADOS").AsInteger(), 1);
    EXPECT_EQ(c.Q.FieldByName("PASTA_BACKUP").FieldName(), "PASTA_BACKUP");
    EXPECT_THROW(c.Q.FieldByName("NAO_EXISTE"), EDatabaseError);
    c.Q.Close();
    EXPECT_TRUE(c.C.Tr.Active()) << "closing leaves the transaction alone";
    c.C.Tr.SetActive(false);

    c.Texto("SELECT PASTA_BACKUP, VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 2");
    c.Q.Open();
    EXPECT_TRUE(c.Q.IsEmpty());
    EXPECT_TRUE(c.Q.Eof());
    EXPECT_EQ(c.Q.FieldByName("VERSAO_BANCO_DADOS").AsInteger(), 0);
    EXPECT_EQ(c.Q.FieldByName("PASTA_BACKUP").AsString(), "");
}

TEST(IBQuery, NullsBlanksAndFieldClasses)
{
    FixtureOptions o;
    o.version = "NULL";
    Consulta c(o);
    ASSERT_TRUE(abdtest::Isql(SharedServer(), c.Fixture.path(),
                     "CREATE TABLE T (C CHAR(6), V VARCHAR(10), S SMALLINT, B BIGINT, N NUMERIC(15,2), "
                     "N6 NUMERIC(18,6), F DOUBLE PRECISION, D DATE, H TIME, TS TIMESTAMP, BL BLOB SUB_TYPE TEXT, "
                     "BB BLOB, BO BOOLEAN);"
                     "INSERT INTO T VALUES ('ab', 'fim  ', 2, 3, 4.5, 0.000001, 0.25, '2020-01-02', '10:11:12', "
                     "'2020-01-02 10:11:12', 'memo ç', 'bin', TRUE); COMMIT;")
                    .ok());
    c.Texto("SELECT PASTA_BACKUP, VERSAO_BANCO_DADOS, NOME_BANCA FROM CONFIGURAR WHERE ID = 1");
    c.Q.Open();
    EXPECT_TRUE(c.Q.FieldByName("VERSAO_BANCO_DADOS").IsNull());
    EXPECT_EQ(c.Q.FieldByName("VERSAO_BANCO_DADOS").AsInteger(), 0);
    EXPECT_EQ(c.Q.FieldByName("NOME_BANCA").AsString(), QStringLiteral("Banca São João"));

    c.Texto("SELECT * FROM T");
    c.Q.Open();
    const auto type = [&](const char *name) { return c.Q.FieldByName(name).DataType(); };
    EXPECT_EQ(type("C"), TFieldType::ftWideString);
    EXPECT_EQ(c.Q.FieldByName("C").AsString(), "ab    ");
    EXPECT_EQ(c.Q.FieldByName("C").Size(), 6);
    EXPECT_EQ(c.Q.FieldByName("V").AsString(), "fim  ");
    EXPECT_EQ(type("S"), TFieldType::ftSmallint);
    EXPECT_EQ(type("B"), TFieldType::ftLargeint);
    EXPECT_EQ(type("N"), TFieldType::ftBCD);
    EXPECT_EQ(c.Q.FieldByName("N").AsString(), "4,5");
    EXPECT_EQ(c.Q.FieldByName("N").AsCurrency(), 45000);
    EXPECT_EQ(type("N6"), TFieldType::ftFMTBcd);
    EXPECT_EQ(c.Q.FieldByName("N6").AsString(), "1E-6");
    EXPECT_EQ(type("F"), TFieldType::ftFloat);
    EXPECT_EQ(type("D"), TFieldType::ftDate);
    EXPECT_EQ(c.Q.FieldByName("D").AsString(), "02/01/2020");
    EXPECT_EQ(type("H"), TFieldType::ftTime);
    EXPECT_EQ(c.Q.FieldByName("H").AsString(), "10:11:12");
    EXPECT_EQ(type("TS"), TFieldType::ftDateTime);
    EXPECT_EQ(c.Q.FieldByName("TS").AsDateTime(), QDateTime(QDate(2020, 1, 2), QTime(10, 11, 12)));
    EXPECT_EQ(type("BL"), TFieldType::ftWideMemo);
    EXPECT_EQ(c.Q.FieldByName("BL").AsString(), QStringLiteral("memo ç"));
    EXPECT_EQ(type("BB"), TFieldType::ftBlob);
    EXPECT_EQ(type("BO"), TFieldType::ftBoolean);
    EXPECT_TRUE(c.Q.FieldByName("BO").AsBoolean());
}

TEST(IBQuery, ExecSQLLeavesTheWorkInTheTransaction)
{
    Consulta c;
    c.C.Tr.StartTransaction();
    c.Texto("UPDATE CONFIGURAR SET CODIGO = 55 WHERE ID = 1");
    c.Q.ExecSQL();
    EXPECT_TRUE(c.Q.Prepared());
    EXPECT_EQ(c.Q.RowsAffected(), 1);
    EXPECT_TRUE(c.C.Tr.Active());
    EXPECT_EQ(c.Isql("SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "1");
    c.C.Tr.Commit();
    EXPECT_EQ(c.Isql("SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "55");
    EXPECT_FALSE(c.Q.QSelect()->Prepared()) << "the commit freed the statement";
    c.C.Tr.StartTransaction();
    c.Q.ExecSQL();
    EXPECT_TRUE(c.Q.QSelect()->Prepared());
    c.C.Tr.Rollback();

    // A SELECT is refused and nothing runs.
    c.Texto("SELECT CODIGO FROM CONFIGURAR");
    EXPECT_EQ(ClientErrorOf([&] { c.Q.ExecSQL(); }), ibxeIsASelectStatement);
    c.Q.Open();
    try {
        c.Q.ExecSQL();
        ADD_FAILURE();
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("qAtualizar: Não é possível realizar esta operação em um arquivo aberto"));
    }
    EXPECT_EQ(ClientErrorOf([&] { c.Q.UnPrepare(); }), ibxeDatasetOpen);
    c.Q.Close();
    c.Q.SQL().Clear();
    EXPECT_EQ(ClientErrorOf([&] { c.Q.ExecSQL(); }), ibxeEmptySQLStatement);
    c.Q.SQL().Add(" ");
    EXPECT_EQ(ClientErrorOf([&] { c.Q.Open(); }), ibxeEmptySQLStatement);
    c.C.Tr.SetActive(false);

    // A failing statement leaves what it changed to the caller.
    c.C.Tr.StartTransaction();
    c.Texto("UPDATE CONFIGURAR SET CODIGO = 56 WHERE ID = 1");
    c.Q.ExecSQL();
    c.Texto("UPDATE TABELA_NENHUMA SET X = 1");
    EXPECT_THROW(c.Q.ExecSQL(), EIBInterBaseError);
    EXPECT_TRUE(c.C.Tr.Active());
    c.C.Tr.Rollback();
    EXPECT_EQ(c.Isql("SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "55");

    TIBQuery alone;
    alone.SQL().Add("SELECT 1 FROM RDB$DATABASE");
    EXPECT_EQ(ClientErrorOf([&] { alone.Open(); }), ibxeDatabaseNotAssigned);
}

TEST(IBQuery, ClosingTheConnectionClosesTheQueryThenCommits)
{
    Consulta c;
    c.Texto("UPDATE CONFIGURAR SET CODIGO = 66 WHERE ID = 1");
    c.Q.ExecSQL();
    c.Texto("SELECT PASTA_BACKUP FROM CONFIGURAR WHERE ID = 1");
    c.Q.Open();
    bool queryOpenAtCommit = true;
    c.Q.SetBeforeTransactionEnd([&](QObject *) { queryOpenAtCommit = c.Q.Active(); });
    c.C.Db.Close();
    EXPECT_FALSE(c.Q.Active());
    EXPECT_FALSE(queryOpenAtCommit);
    EXPECT_FALSE(c.C.Tr.Active());
    EXPECT_EQ(c.Isql("SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "66");
    // Opening again opens the connection itself.
    c.Q.Open();
    EXPECT_TRUE(c.C.Db.Connected());
    EXPECT_FALSE(c.Q.IsEmpty());
}

TEST(IBQuery, RowsParametersAndTheRowCache)
{
    FixtureOptions o;
    o.customers = 25;
    Consulta c(o);
    c.Q.SetBufferChunks(0);
    EXPECT_EQ(c.Q.BufferChunks(), 1000);
    c.Q.SetBufferChunks(4);
    c.Texto("SELECT ID, NOME FROM CLIENTE WHERE ID > :MINIMO ORDER BY ID");
    EXPECT_EQ(c.Q.ParamCount(), 1);
    EXPECT_EQ(c.Q.Text(), "SELECT ID, NOME FROM CLIENTE WHERE ID > ? ORDER BY ID\n");
    c.Q.ParamByName("minimo").Value = 10;
    c.Q.Open();
    EXPECT_EQ(c.Q.RecordCount(), 1) << "rows come from the server one at a time";
    int rows = 0;
    int last = 0;
    while (!c.Q.Eof()) {
        last = c.Q.FieldByName("ID").AsInteger();
        ++rows;
        c.Q.Next();
    }
    EXPECT_EQ(rows, 19);
    EXPECT_EQ(last, 29);
    EXPECT_EQ(c.Q.RecordCount(), 19);
    EXPECT_EQ(c.Q.CacheSize() % (4 * 1), 0);
    c.Q.First();
    EXPECT_EQ(c.Q.FieldByName("ID").AsInteger(), 11);

    // The value is carried over when the text changes and the name stays
    // (a Clear before the new text would start from an empty list).
    c.Q.Close();
    c.Q.SQL().Assign({"SELECT COUNT(*) AS N FROM CLIENTE WHERE ID > :minimo"});
    c.Q.Open();
    EXPECT_EQ(c.Q.FieldByName("N").AsInteger(), 19);
    c.Q.Close();
    c.Q.ParamByName("MINIMO").Value = QVariant();
    c.Q.Open();
    EXPECT_EQ(c.Q.FieldByName("N").AsInteger(), 0) << "a null parameter matches nothing";
}

TEST(IBQuery, TextLongerThanItsFieldFailsWhereItIsRead)
{
    // A UNICODE_FSS column holds three bytes a character, and takes more
    // characters than declared when they are shorter; such a value is
    // refused where it is read, and the rows around it are all there.
    if (SharedServer().version >= 4)
        GTEST_SKIP() << "Firebird 4 counts UNICODE_FSS in characters and refuses such a value when it is written";
    Consulta c;
    ASSERT_TRUE(abdtest::Isql(SharedServer(), c.Fixture.path(),
                              "CREATE TABLE T (ID INTEGER, V VARCHAR(2) CHARACTER SET UNICODE_FSS);"
                              "INSERT INTO T VALUES (1, '€€'); INSERT INTO T VALUES (2, 'abcdef');"
                              "INSERT INTO T VALUES (3, NULL); INSERT INTO T VALUES (4, 'cd'); COMMIT;")
                    .ok());
    c.C.Db.Close();
    c.C.Db.Params().SetValues("lc_ctype", "UNICODE_FSS");
    c.Texto("SELECT ID, V FROM T ORDER BY ID");
    c.Q.Open();
    EXPECT_EQ(c.Q.FieldByName("V").Size(), 2);
    EXPECT_EQ(c.Q.FieldByName("V").AsString(), QStringLiteral("€€")) << "a value that fills its field";
    EXPECT_NO_THROW(c.Q.Next());
    EXPECT_EQ(c.Q.FieldByName("ID").AsInteger(), 2);
    try {
        c.Q.FieldByName("V").AsString();
        ADD_FAILURE() << "read";
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), 117);
        EXPECT_EQ(e.Message(), "Tamanho Não Combina - Tamanho do Campo V é muito pequeno para o dado");
    }
    c.Q.Next();
    EXPECT_EQ(c.Q.FieldByName("ID").AsInteger(), 3);
    EXPECT_TRUE(c.Q.FieldByName("V").IsNull());
    EXPECT_EQ(c.Q.FieldByName("V").AsString(), "");
    c.Q.Next();
    EXPECT_EQ(c.Q.FieldByName("ID").AsInteger(), 4);
    EXPECT_EQ(c.Q.FieldByName("V").AsString(), "cd");
    c.Q.Next();
    EXPECT_TRUE(c.Q.Eof());
}

TEST(IBQuery, CommitRetainingKeepsTheResultAndExecSQLRunsAfterClose)
{
    Consulta c;
    c.Texto("SELECT ID FROM CLIENTE ORDER BY ID");
    c.Q.Open();
    const int first = c.Q.FieldByName("ID").AsInteger();
    c.C.Tr.CommitRetaining();
    EXPECT_TRUE(c.Q.Active());
    EXPECT_EQ(c.Q.FieldByName("ID").AsInteger(), first);
    c.Q.Next();
    EXPECT_FALSE(c.Q.Eof());
    EXPECT_GT(c.Q.FieldByName("ID").AsInteger(), first) << "rows still come from the open cursor";
    c.C.Tr.Commit();
    EXPECT_FALSE(c.Q.Active());

    // A statement that is not a SELECT opened once; ExecSQL waits for Close.
    c.Texto("UPDATE CONFIGURAR SET CODIGO = 70 WHERE ID = 1");
    c.Q.Open();
    EXPECT_THROW(c.Q.ExecSQL(), EDatabaseError);
    c.Q.Close();
    c.Q.ExecSQL();
    EXPECT_EQ(c.Q.RowsAffected(), 1);
    c.C.Tr.Commit();
    EXPECT_EQ(c.Isql("SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "70");
}

TEST(IBQuery, EveryParameterReachesTheStatement)
{
    Consulta c;
    c.Texto("SELECT COUNT(*) AS N FROM CONFIGURAR WHERE ID = :\"Nome Livre\"");
    EXPECT_EQ(c.Q.ParamCount(), 1);
    c.Q.ParamByName("Nome Livre").Value = 1;
    c.Q.Open();
    EXPECT_EQ(c.Q.FieldByName("N").AsInteger(), 1);
    c.Q.Close();
    // One the statement does not know is refused, not left out.
    c.Q.Params().Add("SOBRA");
    EXPECT_EQ(ClientErrorOf([&] { c.Q.Open(); }), ibxeFieldNotFound);
    EXPECT_FALSE(c.Q.Active());
}

TEST(IBQuery, DatesOnTheDayDaylightSavingTimeBegan)
{
    // 2018-11-04 00:30 never showed on a clock in this zone; the database
    // holds it all the same.
    FusoHorario fuso("America/Sao_Paulo");
    Consulta c;
    ASSERT_TRUE(abdtest::Isql(SharedServer(), c.Fixture.path(),
                              "CREATE TABLE T (D DATE, TS TIMESTAMP);"
                              "INSERT INTO T VALUES ('2018-11-04', '2018-11-04 00:30:00'); COMMIT;")
                    .ok());
    c.Texto("SELECT D, TS FROM T");
    c.Q.Open();
    const QDateTime d = c.Q.FieldByName("D").AsDateTime();
    const QDateTime ts = c.Q.FieldByName("TS").AsDateTime();
    EXPECT_TRUE(d.isValid());
    EXPECT_EQ(d.date(), QDate(2018, 11, 4));
    EXPECT_TRUE(ts.isValid());
    EXPECT_EQ(ts.date(), QDate(2018, 11, 4));
    EXPECT_EQ(ts.time(), QTime(0, 30));
    EXPECT_EQ(c.Q.FieldByName("TS").AsString(), "04/11/2018 00:30:00");
}
