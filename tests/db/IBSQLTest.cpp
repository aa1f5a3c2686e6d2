// Statements and their values against the real server: every column type
// read back as the tool reads it, names, the parameter scan, execution by
// type and the life of a cursor.
#include "DbTestSupport.h"
#include "IBSQL.h"

#include <gtest/gtest.h>
#include <QTimeZone>

using namespace abdtest;

namespace {

const char *TiposDDL = R"(
CREATE TABLE TIPOS (
  ID INTEGER NOT NULL PRIMARY KEY,
  C CHAR(10), V VARCHAR(20), S SMALLINT, I INTEGER, B BIGINT,
  N2 NUMERIC(15,2), N6 NUMERIC(18,6), D2 DECIMAL(9,2), F FLOAT, DP DOUBLE PRECISION,
  DT DATE, TM TIME, TS TIMESTAMP, BL BLOB SUB_TYPE TEXT, BO BOOLEAN);
INSERT INTO TIPOS VALUES (1, 'ação', 'São Paulo  ', -5, 123456, 9000000000, 123.45, 1.234567, 12.30,
  1.5, 2.25, '2024-02-29', '13:45:07.1230', '2024-02-29 13:45:07.5', 'Texto com acentuação: é', TRUE);
INSERT INTO TIPOS (ID) VALUES (2);
INSERT INTO TIPOS (ID, N2, BO) VALUES (3, -0.05, FALSE);
COMMIT;
)";

struct TiposDb {
    FixtureDb Fixture;
    Conexao C;
    TIBSQL Q;

    TiposDb() : Fixture(SharedServer()), C(SharedServer(), Fixture.path(), false)
    {
        const ProcessResult r = Isql(SharedServer(), Fixture.path(), TiposDDL);
        if (!r.ok())
            throw std::runtime_error(r.err.toStdString());
        C.Db.Open();
        Q.SetDatabase(&C.Db);
        Q.SetTransaction(&C.Tr);
        C.Tr.StartTransaction();
    }

    TIBXSQLDA &Linha(int Id)
    {
        if (Q.Open())
            Q.Close();
        Q.SQL().SetText(QStringLiteral("SELECT * FROM TIPOS WHERE ID = %1").arg(Id));
        Q.ExecQuery();
        return Q.Current();
    }
};

} // namespace

TEST(IBSQLValues, EveryTypeReadsAsTheToolExpects)
{
    TiposDb t;
    TIBXSQLDA &r = t.Linha(1);
    EXPECT_EQ(r.ByName("c").AsString(), QStringLiteral("ação      "));
    EXPECT_EQ(r.ByName("C").AsTrimString(), QStringLiteral("ação"));
    EXPECT_EQ(r.ByName("V").AsString(), QStringLiteral("São Paulo  "));
    EXPECT_EQ(r.ByName("S").AsInteger(), -5);
    EXPECT_EQ(r.ByName("S").AsString(), "-5");
    EXPECT_EQ(r.ByName("I").AsInteger(), 123456);
    EXPECT_EQ(r.ByName("B").AsInt64(), 9000000000LL);
    EXPECT_EQ(r.ByName("B").AsString(), "9000000000");

    TIBXSQLVAR &n2 = r.ByName("N2");
    EXPECT_EQ(n2.SQLType(), SQL_INT64);
    EXPECT_EQ(n2.AsInt64(), 123);
    EXPECT_EQ(n2.AsInteger(), 123);
    EXPECT_DOUBLE_EQ(n2.AsDouble(), 123.45);
    EXPECT_EQ(n2.AsCurrency(), 1234500);
    EXPECT_EQ(n2.AsString(), "123,45");
    EXPECT_EQ(r.ByName("N6").AsString(), "1,234567");
    EXPECT_DOUBLE_EQ(r.ByName("N6").AsDouble(), 1.234567);
    EXPECT_EQ(r.ByName("D2").AsString(), "12,3");
    EXPECT_EQ(r.ByName("F").AsString(), "1,5");
    EXPECT_DOUBLE_EQ(r.ByName("DP").AsDouble(), 2.25);
    EXPECT_EQ(r.ByName("DP").AsInteger(), 2);

    EXPECT_EQ(r.ByName("DT").AsDate(), QDate(2024, 2, 29));
    EXPECT_EQ(r.ByName("DT").AsString(), "29/02/2024");
    EXPECT_EQ(r.ByName("TM").AsTime(), QTime(13, 45, 7, 123));
    EXPECT_EQ(r.ByName("TM").AsString(), "13:45:07");
    EXPECT_EQ(r.ByName("TS").AsDateTime(), QDateTime(QDate(2024, 2, 29), QTime(13, 45, 7, 500), QTimeZone::utc()));
    EXPECT_EQ(r.ByName("TS").AsString(), "29/02/2024 13:45:07");
    EXPECT_EQ(r.ByName("BL").AsString(), QStringLiteral("Texto com acentuação: é"));
    EXPECT_TRUE(r.ByName("BO").AsBoolean());
    EXPECT_EQ(r.ByName("BO").AsString(), "Verdadeiro");
    EXPECT_EQ(r.ByName("BO").AsInteger(), 1);

    // Conversions that make no sense are refused.
    EXPECT_EQ(ClientErrorOf([&] { r.ByName("DT").AsInteger(); }), ibxeInvalidDataConversion);
    EXPECT_EQ(ClientErrorOf([&] { r.ByName("BL").AsDouble(); }), ibxeInvalidDataConversion);
    EXPECT_EQ(ClientErrorOf([&] { r.ByName("V").AsInteger(); }), ibxeInvalidDataConversion);
    EXPECT_EQ(ClientErrorOf([&] { r.ByName("I").AsBoolean(); }), ibxeInvalidDataConversion);
    EXPECT_EQ(ClientErrorOf([&] { r.ByName("NAO_EXISTE"); }), ibxeFieldNotFound);
    EXPECT_EQ(ClientErrorOf([&] { t.Q.Fields(99); }), ibxeFieldNotFound);

    TIBXSQLDA &nulls = t.Linha(2);
    for (int i = 1; i < nulls.Count(); ++i) {
        SCOPED_TRACE(nulls.Vars(i).Name().toStdString());
        EXPECT_TRUE(nulls.Vars(i).IsNull());
        EXPECT_EQ(nulls.Vars(i).AsString(), "");
        EXPECT_EQ(nulls.Vars(i).AsInteger(), 0);
        EXPECT_FALSE(nulls.Vars(i).AsBoolean());
    }
    TIBXSQLDA &r3 = t.Linha(3);
    EXPECT_EQ(r3.ByName("N2").AsString(), "-0,05");
    EXPECT_EQ(r3.ByName("N2").AsInteger(), 0);
    EXPECT_EQ(r3.ByName("BO").AsString(), "Falso");
}

TEST(IBSQLValues, ParametersTravelWithTheirTypes)
{
    TiposDb t;
    TIBSQL &q = t.Q;
    q.SQL().SetText("INSERT INTO TIPOS (ID, C, V, S, I, B, N2, F, DP, DT, TM, TS, BL) "
                    "VALUES (:ID, :C, :V, :S, :I, :B, :N2, :F, :DP, :DT, :TM, :TS, :BL)");
    q.ParamByName("id").SetAsInteger(10);
    q.ParamByName("C").SetAsString(QStringLiteral("pé"));
    q.ParamByName("V").SetAsString(QStringLiteral("Ação "));
    q.ParamByName("S").SetAsShort(7);
    q.ParamByName("I").SetAsString("42");
    q.ParamByName("B").SetAsInt64(-9000000000LL);
    q.ParamByName("N2").SetAsCurrency(9876543); // 987.6543 rounds at the column's scale
    q.ParamByName("F").SetAsFloat(0.5f);
    q.ParamByName("DP").SetAsDouble(-1.25);
    q.ParamByName("DT").SetAsDate(QDate(2001, 12, 31));
    q.ParamByName("TM").SetAsTime(QTime(23, 59, 58, 250));
    q.ParamByName("TS").SetAsDateTime(QDateTime(QDate(1999, 1, 2), QTime(3, 4, 5)));
    q.ParamByName("BL").SetAsString(QStringLiteral("conteúdo do blob"));
    EXPECT_TRUE(q.Params().Modified());
    q.ExecQuery();
    EXPECT_EQ(q.RowsAffected(), 1);

    TIBXSQLDA &r = t.Linha(10);
    EXPECT_EQ(r.ByName("C").AsTrimString(), QStringLiteral("pé"));
    EXPECT_EQ(r.ByName("V").AsString(), QStringLiteral("Ação "));
    EXPECT_EQ(r.ByName("S").AsInteger(), 7);
    EXPECT_EQ(r.ByName("I").AsInteger(), 42);
    EXPECT_EQ(r.ByName("B").AsInt64(), -9000000000LL);
    EXPECT_EQ(r.ByName("N2").AsString(), "987,65");
    EXPECT_DOUBLE_EQ(r.ByName("F").AsDouble(), 0.5);
    EXPECT_DOUBLE_EQ(r.ByName("DP").AsDouble(), -1.25);
    EXPECT_EQ(r.ByName("DT").AsDate(), QDate(2001, 12, 31));
    EXPECT_EQ(r.ByName("TM").AsTime(), QTime(23, 59, 58, 250));
    EXPECT_EQ(r.ByName("TS").AsDateTime(), QDateTime(QDate(1999, 1, 2), QTime(3, 4, 5), QTimeZone::utc()));
    EXPECT_EQ(r.ByName("BL").AsString(), QStringLiteral("conteúdo do blob"));
    EXPECT_TRUE(r.ByName("BO").IsNull());

    // Text longer than the column is refused; one name, two positions, one
    // assignment.
    t.Q.Close();
    q.SQL().SetText("UPDATE TIPOS SET V = :V WHERE ID = :ID OR I = :ID");
    EXPECT_EQ(q.Params().Count(), 3);
    try {
        q.ParamByName("V").SetAsString(QStringLiteral("123456789012345678901"));
        ADD_FAILURE();
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), ibxeStringTooLarge);
        EXPECT_EQ(e.Message(), "Tentando armazenar uma string de comprimento 21 dentro de uma campo que pode "
                               "somente conter 20");
    }
    q.ParamByName("V").SetAsString("curto");
    q.ParamByName("ID").SetAsInteger(123456);
    EXPECT_EQ(q.Params().Vars(1).AsInteger(), 123456);
    EXPECT_EQ(q.Params().Vars(2).AsInteger(), 123456);
    q.ExecQuery();
    EXPECT_EQ(q.RowsAffected(), 1);
    q.ParamByName("V").SetIsNull(true);
    EXPECT_TRUE(q.Params().Vars(0).IsNull());
}

TEST(IBSQLNames, DuplicateUnnamedAndQuotedAliases)
{
    TiposDb t;
    t.Q.SQL().SetText("SELECT ID, ID, I AS \"MixedCase\", 1, 2 FROM TIPOS WHERE ID = 1");
    t.Q.ExecQuery();
    EXPECT_EQ(t.Q.Current().NameList(), (QStringList{"ID", "ID1", "MIXEDCASE", "CONSTANT", "CONSTANT1"}));
    EXPECT_EQ(t.Q.FieldByName("id1").AsInteger(), 1);
    EXPECT_EQ(t.Q.FieldByName("MixedCase").AsInteger(), 123456);
    EXPECT_EQ(t.Q.FieldByName("MIXEDCASE").AsInteger(), 123456);
    EXPECT_EQ(t.Q.FieldIndex("\"MixedCase\""), -1);
    // Constants name no table: the columns still come from TIPOS alone.
    EXPECT_EQ(t.Q.UniqueRelationName(), "TIPOS");

    // Entries without names are called F_1, F_2, F_3; names too long for
    // their counter are cut.
    TIBSQL q;
    TIBXSQLDA &area = q.Current();
    area.SetCount(4);
    for (int i = 0; i < 4; ++i) {
        area.Vars(i).SqlVar().SetSqlType(SQL_LONG);
        area.Vars(i).SqlVar().SetSqlLen(4);
    }
    area.Vars(3).SqlVar().SetAliasName(QByteArray(31, 'X'));
    area.Initialize();
    EXPECT_EQ(area.NameList().mid(0, 3), (QStringList{"F_1", "F_2", "F_3"}));

    TIBXSQLDA &same = q.ParamArea();
    same.SetCount(2);
    for (int i = 0; i < 2; ++i) {
        same.Vars(i).SqlVar().SetSqlType(SQL_LONG);
        same.Vars(i).SqlVar().SetAliasName(QByteArray(31, 'X'));
    }
    same.Initialize();
    EXPECT_EQ(same.NameList()[1], QString(30, 'X') + "1");

    // An unknown type is refused, not guessed.
    TIBXSQLDA &odd = q.ParamArea();
    odd.SetCount(1);
    odd.Vars(0).SqlVar().SetSqlType(1000);
    try {
        odd.Initialize();
        ADD_FAILURE();
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.Message(), "Tipo de Dados SQL desconhecido (1000): coluna " + QString(31, 'X') + " (tipo 1000)")
            << "the column it belongs to named";
    }
    EXPECT_EQ(ClientErrorOf([&] { odd.Vars(1); }), ibxeXSQLDAIndexOutOfRange);
}

TEST(IBSQLScan, ParameterMarkers)
{
    TIBSQL q;
    const auto scan = [&](const QString &sql) {
        q.SQL().SetText(sql);
        q.PreprocessSQL();
        return q.ProcessedSQL().join("\n");
    };
    EXPECT_EQ(scan("UPDATE T SET A = 'x:y' WHERE B = :B"), "UPDATE T SET A = 'x:y' WHERE B = ?");
    EXPECT_EQ(q.ParamArea().NameList(), QStringList{"B"});
    EXPECT_EQ(scan("SELECT * FROM T WHERE A = :A:B"), "SELECT * FROM T WHERE A = ?:B");
    EXPECT_EQ(q.ParamArea().NameList(), QStringList{"A"});
    EXPECT_EQ(scan("SELECT \":x\", /* :c */ 1 FROM T WHERE A = :\"Nome Livre\" AND B = :b2"),
              "SELECT \":x\", /* :c */ 1 FROM T WHERE A = ? AND B = ?");
    EXPECT_EQ(q.ParamArea().NameList(), (QStringList{"NOME LIVRE", "B2"}));
    EXPECT_EQ(scan("SELECT 'it''s :no' FROM T"), "SELECT 'it''s :no' FROM T");
    EXPECT_EQ(q.ParamArea().Count(), 0);
    EXPECT_EQ(scan("  SELECT :C_EXPURGO;\nINTO :X"), "  SELECT ?;\nINTO ?");

    const auto scanError = [&](const QString &sql) -> QString {
        try {
            scan(sql);
        } catch (const EIBClientError &e) {
            EXPECT_EQ(e.SQLCode(), ibxeSQLParseError);
            return e.Message();
        }
        return "nothing raised";
    };
    EXPECT_EQ(scanError("SELECT ? FROM T"), "Erro na análise do SQL:\r\n\r\nNome do parâmetro esperado");
    EXPECT_EQ(scanError("SELECT 1 FROM T /* aberto"), "Erro na análise do SQL:\r\n\r\nFim do comentário detectado");
    EXPECT_EQ(scanError("SELECT 'aberta FROM T"), "Erro na análise do SQL:\r\n\r\nFim da string detectada");
    q.SetGenerateParamNames(true);
    EXPECT_EQ(scan("SELECT ? FROM T WHERE A = ?"), "SELECT ? FROM T WHERE A = ?");
    EXPECT_EQ(q.ParamArea().NameList(), (QStringList{"IBPARAM0", "IBPARAM1"}));
}

TEST(IBSQLExecute, CursorsAndTheirEnds)
{
    TiposDb t;
    TIBSQL &q = t.Q;
    q.SQL().SetText("SELECT ID FROM TIPOS WHERE ID > 100");
    q.ExecQuery();
    EXPECT_TRUE(q.Eof());
    EXPECT_TRUE(q.Bof());
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_EQ(q.Next(), nullptr);
    EXPECT_EQ(ClientErrorOf([&] { q.ExecQuery(); }), ibxeSQLOpen);
    q.Close();

    q.SQL().SetText("SELECT ID FROM TIPOS ORDER BY ID");
    q.ExecQuery();
    EXPECT_FALSE(q.Eof());
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
    int rows = 1;
    while (q.Next())
        ++rows;
    EXPECT_EQ(rows, 3);
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.Next(), nullptr);
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_FALSE(q.Plan().isEmpty());

    // A commit closes the cursor, the statement stays prepared.
    q.Close();
    q.ExecQuery();
    t.C.Tr.Commit();
    EXPECT_FALSE(q.Open());
    EXPECT_TRUE(q.Prepared());
    t.C.Tr.StartTransaction();
    q.ExecQuery();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
    q.Close();

    // New text frees the handle; the next execution prepares again.
    q.SQL().SetText("SELECT ID FROM TIPOS WHERE ID = 3");
    EXPECT_FALSE(q.Prepared());
    EXPECT_EQ(q.Handle(), 0u);
    q.ExecQuery();
    EXPECT_EQ(q.Fields(0).AsInteger(), 3);
    q.Close();

    // SELECT FOR UPDATE runs but opens no cursor.
    q.SQL().SetText("SELECT ID FROM TIPOS FOR UPDATE");
    q.ExecQuery();
    EXPECT_EQ(q.SQLType(), TIBSQLTypes::SQLSelectForUpdate);
    EXPECT_FALSE(q.Open());
    EXPECT_EQ(ClientErrorOf([&] { q.Next(); }), ibxeSQLClosed);

    q.SQL().SetText("EXECUTE PROCEDURE SP_SALDO_CLIENTE(1)");
    q.ExecQuery();
    EXPECT_EQ(q.SQLType(), TIBSQLTypes::SQLExecProcedure);
    EXPECT_EQ(q.FieldByName("SALDO").AsString(), "75,8");

    // Blank text is the server's to refuse; no text at all is refused here.
    q.SQL().SetText("  ");
    EXPECT_THROW(q.ExecQuery(), EIBInterBaseError);
    q.SQL().Clear();
    EXPECT_EQ(ClientErrorOf([&] { q.ExecQuery(); }), ibxeEmptyQuery);
    q.SQL().SetText("SELECT NADA FROM LUGAR_NENHUM");
    EXPECT_THROW(q.ExecQuery(), EIBInterBaseError);
    EXPECT_FALSE(q.Prepared());
    EXPECT_EQ(q.Handle(), 0u);

    // The checks of the binding.
    TIBSQL loose;
    loose.SQL().SetText("SELECT 1 FROM RDB$DATABASE");
    EXPECT_EQ(ClientErrorOf([&] { loose.ExecQuery(); }), ibxeDatabaseNotAssigned);
    loose.SetDatabase(&t.C.Db);
    EXPECT_EQ(loose.Transaction(), &t.C.Tr);
    t.C.Tr.Commit();
    EXPECT_EQ(ClientErrorOf([&] { loose.ExecQuery(); }), ibxeNotInTransaction);
}

TEST(IBSQLExecute, DisconnectFreesHandles)
{
    TiposDb t;
    t.Q.SQL().SetText("SELECT ID FROM TIPOS");
    t.Q.ExecQuery();
    t.C.Db.Close();
    EXPECT_FALSE(t.Q.Open());
    EXPECT_FALSE(t.Q.Prepared());
    EXPECT_EQ(t.Q.Handle(), 0u);
}

TEST(IBSQLReplies, ShortOrOddStatementTypeRepliesAreRefused)
{
    auto setReply = reinterpret_cast<void (*)(const char *, int)>(FakeFunction("fake_set_info_reply"));
    ASSERT_NE(setReply, nullptr);
    ConexaoFalsa c;
    c.Tr.StartTransaction();
    TIBSQL q;
    q.SetDatabase(&c.Db);
    q.SQL().SetText("SELECT 1 FROM X");
    const struct {
        QByteArray reply;
        int error;
    } cases[] = {
        {QByteArray(), ibxeUnknownError},
        {QByteArray("\x15\x05\x00\x01\x02\x03\x04\x05", 8), ibxeUnknownError},
        {QByteArray("\x15\xff\x7f", 3), ibxeUnknownError},
        {QByteArray("\x15\x04\x00\x06\x00\x00\x00", 7), ibxeNotPermitted},
        {QByteArray("\x15\x04\x00\x09\x00\x00\x00", 7), ibxeNotPermitted},
    };
    for (const auto &c : cases) {
        setReply(c.reply.constData(), int(c.reply.size()));
        EXPECT_EQ(ClientErrorOf([&] { q.Prepare(); }), c.error) << c.reply.toHex().toStdString();
        EXPECT_FALSE(q.Prepared());
    }
    // Types above 13 are kept as they come and treated as unknown.
    setReply("\x15\x04\x00\x0e\x00\x00\x00", 7);
    q.Prepare();
    EXPECT_EQ(q.SQLTypeCode(), 14);
}

TEST(IBSQLValues, ParametersNeverAssignedGoAsNull)
{
    TiposDb t;
    TIBSQL &q = t.Q;
    // The first statement leaves its values in the buffers that the second
    // one's parameters take over.
    q.SQL().SetText("INSERT INTO TIPOS (ID, V) VALUES (:ID, :V)");
    q.ParamByName("ID").SetAsInteger(20);
    q.ParamByName("V").SetAsString("um texto qualquer");
    q.ExecQuery();
    q.SQL().SetText("INSERT INTO TIPOS (ID, I, C, BO) VALUES (:ID, :I, :C, :BO)");
    q.ParamByName("ID").SetAsInteger(21);
    q.ExecQuery();
    // A Boolean assignment leaves the null flag as it was.
    q.ParamByName("ID").SetAsInteger(22);
    q.ParamByName("BO").SetIsNull(true);
    q.ParamByName("BO").SetAsBoolean(true);
    EXPECT_TRUE(q.ParamByName("BO").IsNull());
    q.ExecQuery();
    q.ParamByName("ID").SetAsInteger(23);
    q.ParamByName("BO").SetIsNull(false);
    q.ParamByName("BO").SetAsBoolean(true);
    q.ExecQuery();
    for (int id : {21, 22}) {
        SCOPED_TRACE(id);
        TIBXSQLDA &r = t.Linha(id);
        EXPECT_TRUE(r.ByName("I").IsNull());
        EXPECT_TRUE(r.ByName("C").IsNull());
        EXPECT_TRUE(r.ByName("BO").IsNull());
    }
    EXPECT_TRUE(t.Linha(23).ByName("BO").AsBoolean());

    // New buffers start cleared: no length or null flag left from memory.
    TIBSQL loose;
    TIBXSQLDA &area = loose.ParamArea();
    area.SetCount(1);
    area.Vars(0).SqlVar().SetSqlType(SQL_VARYING | 1);
    area.Vars(0).SqlVar().SetSqlLen(12);
    area.Initialize();
    EXPECT_FALSE(area.Vars(0).IsNull());
    EXPECT_EQ(area.Vars(0).AsString(), "");
}

TEST(IBSQLValues, QuotedParameterNames)
{
    TiposDb t;
    TIBSQL &q = t.Q;
    q.SQL().SetText("UPDATE TIPOS SET I = :\"Nome Livre\" WHERE ID = :\"id\"");
    q.ParamByName("Nome Livre").SetAsInteger(5);
    q.ParamByName("ID").SetAsInteger(1);
    q.ExecQuery();
    EXPECT_EQ(q.RowsAffected(), 1);
    EXPECT_EQ(t.Linha(1).ByName("I").AsInteger(), 5);
}

TEST(IBSQLValues, NumbersByTheirRules)
{
    TiposDb t;
    ASSERT_TRUE(abdtest::Isql(SharedServer(), t.Fixture.path(),
                              "INSERT INTO TIPOS (ID, V, N6, DP) VALUES (4, '12345678901234567890', "
                              "123456789012.345678, 3000000000.75); COMMIT;")
                    .ok());
    TIBXSQLDA &r = t.Linha(4);
    // A VARCHAR that fills its declared length keeps every character.
    EXPECT_EQ(r.ByName("V").AsString(), "12345678901234567890");
    // Scaled values are rounded to 15 significant digits.
    EXPECT_DOUBLE_EQ(r.ByName("N6").AsDouble(), 123456789012.346);
    // A float truncated to an integer keeps its low 32 bits.
    EXPECT_EQ(r.ByName("DP").AsInt64(), 3000000000LL);
    EXPECT_EQ(r.ByName("DP").AsInteger(), int32_t(uint32_t(3000000000u)));
}

TEST(IBSQLValues, DatesOnTheDayDaylightSavingTimeBegan)
{
    // In this zone 2018-11-04 began at 01:00: midnight to one o'clock never
    // happened on the clock, and yet the database holds such dates and
    // times like any other. A time of the database has no zone: the value
    // given is one with no local-time rules (Qt 6.7 and later move a local
    // time in the gap forward as it is made).
    FusoHorario fuso("America/Sao_Paulo");

    TiposDb t;
    TIBSQL &q = t.Q;
    q.SQL().SetText("INSERT INTO TIPOS (ID, DT, TS) VALUES (30, :DT, :TS)");
    q.ParamByName("DT").SetAsString("04/11/2018");
    q.ParamByName("TS").SetAsDateTime(QDateTime(QDate(2018, 11, 4), QTime(0, 30), QTimeZone::utc()));
    q.ExecQuery();
    q.SQL().SetText("INSERT INTO TIPOS (ID, DT, TS) VALUES (31, :DT, :TS)");
    q.ParamByName("DT").SetAsDate(QDate(2018, 11, 4));
    q.ParamByName("TS").SetAsString("04/11/2018 00:15:00");
    q.ExecQuery();
    t.C.Tr.Commit();
    EXPECT_EQ(IsqlValue(SharedServer(), t.Fixture.path(),
                        "SELECT CAST(LIST(DT || ' ' || TS) AS VARCHAR(200)) FROM (SELECT DT, TS FROM TIPOS WHERE ID >= 30 ORDER BY ID)"),
              "2018-11-04 2018-11-04 00:30:00.0000,2018-11-04 2018-11-04 00:15:00.0000");

    t.C.Tr.StartTransaction();
    TIBXSQLDA &r = t.Linha(30);
    EXPECT_EQ(r.ByName("DT").AsDate(), QDate(2018, 11, 4));
    EXPECT_EQ(r.ByName("DT").AsString(), "04/11/2018");
    const QDateTime ts = r.ByName("TS").AsDateTime();
    EXPECT_TRUE(ts.isValid());
    EXPECT_EQ(ts.date(), QDate(2018, 11, 4));
    EXPECT_EQ(ts.time(), QTime(0, 30));
    EXPECT_EQ(r.ByName("TS").AsString(), "04/11/2018 00:30:00");
}

TEST(IBSQLDescriptors, AreasKeysAndTheTextChange)
{
    // Areas keep what the server described when no entries are in use.
    TIBSQL q;
    TIBXSQLDA &area = q.Current();
    area.SetCount(3);
    area.SetCount(0);
    EXPECT_EQ(area.Count(), 0);
    ASSERT_NE(area.AsXSQLDA(), nullptr);
    EXPECT_EQ(area.AsXSQLDA()->sqld, 3);

    // The handler of a text change sees the text before it changes.
    q.SQL().SetText("SELECT 1 FROM RDB$DATABASE");
    QString seen;
    q.SetOnSQLChanging([&](QObject *) { seen = q.SQL().Text(); });
    q.SQL().SetText("SELECT 2 FROM RDB$DATABASE");
    EXPECT_EQ(seen.trimmed(), "SELECT 1 FROM RDB$DATABASE");

    // A key takes the 16-bit form of the text itself, whatever the
    // connection's character set.
    ConexaoFalsa c({"lc_ctype=WIN1252"});
    ASSERT_EQ(c.Db.CharacterSetCodePage(), 1252);
    TIBSQL k;
    k.SetDatabase(&c.Db);
    TIBXSQLDA &keys = k.ParamArea();
    keys.SetCount(1);
    keys.Vars(0).SqlVar().SetSqlType(SQL_TEXT);
    keys.Vars(0).SqlVar().SetSqlLen(8);
    keys.Vars(0).SqlVar().SetSqlName("DB_KEY");
    keys.Initialize();
    keys.Vars(0).SetAsString(QStringLiteral("aé"));
    EXPECT_EQ(QByteArray(keys.Vars(0).Data(), 8), Bytes({0x61, 0, 0xE9, 0, 0, 0, 0, 0}));
}

TEST(IBSQLReplies, NoServerCallAfterTheEndOfData)
{
    auto log = reinterpret_cast<const char *(*)()>(FakeFunction("fake_log"));
    auto clear = reinterpret_cast<void (*)()>(FakeFunction("fake_clear_log"));
    auto setReply = reinterpret_cast<void (*)(const char *, int)>(FakeFunction("fake_set_info_reply"));
    auto setFetch = reinterpret_cast<void (*)(intptr_t)>(FakeFunction("fake_set_fetch_status"));
    ASSERT_TRUE(log && clear && setReply && setFetch);
    ConexaoFalsa c;
    c.Tr.StartTransaction();
    TIBSQL q;
    q.SetDatabase(&c.Db);
    q.SQL().SetText("SELECT 1 FROM X");
    setReply("\x15\x04\x00\x01\x00\x00\x00", 7);
    setFetch(100);
    q.ExecQuery();
    setFetch(0);
    ASSERT_TRUE(q.Eof());
    clear();
    EXPECT_EQ(q.Next(), nullptr);
    EXPECT_EQ(q.Next(), nullptr);
    EXPECT_FALSE(QString::fromLatin1(log()).contains("isc_dsql_fetch")) << log();
}
