// Firebird 4's types read through statements and data sets, on a Firebird 4
// server, with whichever client library this machine has (Debian 12's is
// Firebird 3's, Debian 13's Firebird 4's): each value exactly, or an error
// that names the column.
#include "DbTestSupport.h"
#include "IBFirebird4.h"
#include "IBQuery.h"
#include "IBSQL.h"

#include <gtest/gtest.h>
#include <QTimeZone>

#include <memory>

using namespace abdtest;

namespace {

const char *TiposDDL = R"(
CREATE TABLE F4 (
  ID INTEGER NOT NULL PRIMARY KEY,
  I INT128, N NUMERIC(38,4), D16 DECFLOAT(16), D34 DECFLOAT(34),
  T TIME WITH TIME ZONE, TS TIMESTAMP WITH TIME ZONE);
INSERT INTO F4 VALUES (1, 170141183460469231731687303715884105727, -12345678901234567890123456789012.3456,
  9.999999999999999E384, 1.234567890123456789012345678901234E-6143,
  '09:30:00.1234 -02:30', '2026-12-10 09:30:00.1234 +03:00');
INSERT INTO F4 VALUES (2, -170141183460469231731687303715884105728, 0.0001, -0, 1E+300,
  '10:00:00 America/New_York', '2026-07-01 12:00:00 America/Sao_Paulo');
INSERT INTO F4 (ID, TS) VALUES (3, '2026-07-01 12:00:00 Europe/Lisbon');
COMMIT;
)";

// A Firebird 4 server: the run's own in the Firebird 4 tier, one of the
// test's own otherwise.
struct Servidor4 {
    std::unique_ptr<PrivateServer> Proprio;
    const ServerInfo &Info;
    Servidor4() : Proprio(SharedServer().version >= 4 ? nullptr : std::make_unique<PrivateServer>(4)),
                  Info(Proprio ? Proprio->info() : SharedServer())
    {
    }
};

struct Banco4 {
    Servidor4 S;
    FixtureDb Fixture;
    Conexao C;
    Banco4() : Fixture(S.Info), C(S.Info, Fixture.path(), false)
    {
        const ProcessResult r = Isql(S.Info, Fixture.path(), TiposDDL);
        if (!r.ok())
            throw std::runtime_error(r.err.toStdString());
        C.Db.Open();
        C.Tr.StartTransaction();
    }
};

QDateTime Em(int Ano, int Mes, int Dia, int H, int M, int S, int Ms, int OffsetMinutos)
{
    return QDateTime(QDate(Ano, Mes, Dia), QTime(H, M, S, Ms), QTimeZone(OffsetMinutos * 60));
}

// Equal moments at equal offsets.
void Igual(const QDateTime &Lido, const QDateTime &Esperado, const char *Onde)
{
    EXPECT_EQ(Lido, Esperado) << Onde << ": " << Lido.toString(Qt::ISODateWithMs).toStdString();
    EXPECT_EQ(Lido.offsetFromUtc(), Esperado.offsetFromUtc()) << Onde;
}

} // namespace

TEST(IBFirebird4Types, EachValueComesExactlyThroughStatementsAndDataSets)
{
    Banco4 b;
    ASSERT_EQ(IsqlValue(b.S.Info, b.Fixture.path(), "SELECT MON$ODS_MAJOR FROM MON$DATABASE"), "13");
    TIBSQL q;
    q.SetDatabase(&b.C.Db);
    q.SetTransaction(&b.C.Tr);
    // Firebird 4's client library takes the zoned times as moments; Firebird
    // 3's gets them as the server's text, which reads as a moment too.
    const bool cliente4 = b.C.Db.GDSLibrary().FirebirdVersion() >= 4;
    q.SQL().SetText("SELECT * FROM F4 ORDER BY ID");
    q.ExecQuery();

    // The numbers: as text, every digit.
    TIBXSQLDA &r = q.Current();
    EXPECT_EQ(r.ByName("I").AsString(), "170141183460469231731687303715884105727");
    EXPECT_EQ(r.ByName("I").DescribedType(), cliente4 ? SQL_INT128 : SQL_VARYING) << "as the server described it";
    EXPECT_EQ(r.ByName("N").AsString(), "-12345678901234567890123456789012.3456");
    EXPECT_EQ(r.ByName("D16").AsString(), "9.999999999999999E+384");
    EXPECT_EQ(r.ByName("D34").AsVariant(), QVariant(QString("1.234567890123456789012345678901234E-6143")));
    // The zoned times: the moment at the offset it was written at.
    Igual(r.ByName("TS").AsDateTime(), Em(2026, 12, 10, 9, 30, 0, 123, 180), "timestamp +03:00");
    if (cliente4) {
        Igual(r.ByName("TS").AsVariant().toDateTime(), Em(2026, 12, 10, 9, 30, 0, 123, 180), "as a variant");
        EXPECT_EQ(r.ByName("TS").AsTime(), QTime(9, 30, 0, 123)) << "the wall time at its offset";
        EXPECT_TRUE(r.ByName("TS").AsString().endsWith("09:30:00 +03:00")) << r.ByName("TS").AsString().toStdString();
        EXPECT_EQ(r.ByName("T").AsString(), "09:30:00 -02:30");
    } else {
        EXPECT_EQ(r.ByName("TS").AsVariant(), QVariant(QString("2026-12-10 09:30:00.1234 +03:00")));
    }
    Igual(r.ByName("T").AsDateTime(), Em(2020, 1, 1, 9, 30, 0, 123, -150), "time -02:30");

    q.Next();
    EXPECT_EQ(r.ByName("I").AsString(), "-170141183460469231731687303715884105728");
    EXPECT_EQ(r.ByName("N").AsString(), "0.0001");
    EXPECT_EQ(r.ByName("D16").AsString(), "-0");
    EXPECT_EQ(r.ByName("D34").AsString(), "1E+300");
    Igual(r.ByName("TS").AsDateTime(), Em(2026, 7, 1, 12, 0, 0, 0, -180), "São Paulo");
    Igual(r.ByName("T").AsDateTime(), Em(2020, 1, 1, 10, 0, 0, 0, -300), "New York, on the server's day");

    q.Next();
    EXPECT_TRUE(r.ByName("I").IsNull());
    EXPECT_TRUE(r.ByName("T").AsVariant().isNull());
    EXPECT_FALSE(r.ByName("T").AsDateTime().isValid());
    Igual(r.ByName("TS").AsDateTime(), Em(2026, 7, 1, 12, 0, 0, 0, 60), "Lisbon in summer");
    q.Close();

    // A parameter of such a type takes the value as text.
    q.SQL().SetText("SELECT ID FROM F4 WHERE I = :I");
    q.ParamByName("I").SetAsString("-170141183460469231731687303715884105728");
    q.ExecQuery();
    EXPECT_EQ(q.Current().ByName("ID").AsInteger(), 2);
    q.Close();

    // A zoned parameter keeps its offset (Firebird 4's client library; with
    // Firebird 3's the parameter is text).
    q.SQL().SetText("UPDATE F4 SET TS = :TS WHERE ID = 3");
    if (cliente4)
        q.ParamByName("TS").SetAsDateTime(Em(2026, 3, 1, 8, 15, 30, 250, -210));
    else
        q.ParamByName("TS").SetAsString("2026-03-01 08:15:30.250 -03:30");
    q.ExecQuery();
    q.SQL().SetText("SELECT TS FROM F4 WHERE ID = 3");
    q.ExecQuery();
    Igual(q.Current().Vars(0).AsDateTime(), Em(2026, 3, 1, 8, 15, 30, 250, -210), "written back");
    q.Close();

    // The same through a data set.
    TIBQuery d;
    d.SetDatabase(&b.C.Db);
    d.SetTransaction(&b.C.Tr);
    d.SQL().SetText("SELECT * FROM F4 ORDER BY ID");
    d.Open();
    EXPECT_EQ(d.FieldByName("I").AsString(), "170141183460469231731687303715884105727");
    EXPECT_EQ(d.FieldByName("N").Value(), QVariant(QString("-12345678901234567890123456789012.3456")));
    if (cliente4) {
        EXPECT_EQ(d.FieldByName("TS").DataType(), TFieldType::ftTimeStampOffset);
        Igual(d.FieldByName("TS").Value().toDateTime(), Em(2026, 12, 10, 9, 30, 0, 123, 180), "data set");
        EXPECT_EQ(d.FieldByName("T").AsString(), "09:30:00 -02:30");
        d.Next();
        Igual(d.FieldByName("TS").AsDateTime(), Em(2026, 7, 1, 12, 0, 0, 0, -180), "data set, São Paulo");
    } else {
        EXPECT_EQ(d.FieldByName("TS").AsString(), "2026-12-10 09:30:00.1234 +03:00");
        Igual(d.FieldByName("TS").AsDateTime(), Em(2026, 12, 10, 9, 30, 0, 123, 180), "data set, as text");
        Igual(d.FieldByName("T").AsDateTime(), Em(2020, 1, 1, 9, 30, 0, 123, -150), "data set, a time as text");
        d.Next();
        EXPECT_EQ(d.FieldByName("TS").AsString(), "2026-07-01 12:00:00.0000 America/Sao_Paulo");
        Igual(d.FieldByName("TS").AsDateTime(), Em(2026, 7, 1, 12, 0, 0, 0, -180), "data set, São Paulo as text");
    }
    d.Next();
    EXPECT_TRUE(d.FieldByName("T").IsNull());
    EXPECT_FALSE(d.FieldByName("T").AsDateTime().isValid());
    d.Close();

    // Firebird 4's own clock and monitoring tables read as well.
    q.SQL().SetText("SELECT CURRENT_TIMESTAMP, MON$TIMESTAMP FROM MON$ATTACHMENTS "
                    "WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION");
    q.ExecQuery();
    const QDateTime agora = q.Current().Vars(0).AsDateTime();
    EXPECT_LT(qAbs(agora.secsTo(QDateTime::currentDateTimeUtc())), 600) << agora.toString(Qt::ISODate).toStdString();
    EXPECT_LE(q.Current().Vars(1).AsDateTime(), agora);
    q.Close();
}

// The server's text of a zoned value, as a Firebird 3 client library gets
// it: exact, or refused with the reason.
TEST(IBFirebird4Text, ReadsExactlyOrSaysWhy)
{
    using IBFirebird4::ParseText;
    QString why;
    Igual(ParseText("2026-12-10 09:30:00.1234 +03:00", &why), Em(2026, 12, 10, 9, 30, 0, 123, 180), "offset");
    Igual(ParseText("2026-12-10 09:30:00.0000 -03:30", &why), Em(2026, 12, 10, 9, 30, 0, 0, -210), "negative");
    Igual(ParseText("2026-01-15 10:00:00.0000 America/Sao_Paulo", &why), Em(2026, 1, 15, 10, 0, 0, 0, -180),
          "a region");
    Igual(ParseText("2018-01-15 10:00:00.0000 America/Sao_Paulo", &why), Em(2018, 1, 15, 10, 0, 0, 0, -120),
          "a region in its summer time of then");
    Igual(ParseText("10:00:00.0000 America/New_York", &why), Em(2020, 1, 1, 10, 0, 0, 0, -300), "a time");

    // São Paulo's clocks went back at midnight on 18 February 2018 (23:30
    // came twice) and forward at midnight on 4 November 2018 (00:30 never
    // came): no one offset, so no value.
    EXPECT_FALSE(ParseText("2018-02-17 23:30:00.0000 America/Sao_Paulo", &why).isValid());
    EXPECT_TRUE(why.contains("mudança de horário")) << why.toStdString();
    EXPECT_FALSE(ParseText("2018-11-04 00:30:00.0000 America/Sao_Paulo", &why).isValid());
    EXPECT_FALSE(ParseText("2026-12-10 09:30:00.0000 Marte/Olimpo", &why).isValid());
    EXPECT_TRUE(why.contains("Marte/Olimpo")) << why.toStdString();
    for (const char *outro : {"", "2026-12-10 09:30:00", "09:30:00 +03:00 extra"}) {
        EXPECT_FALSE(ParseText(outro, &why).isValid()) << outro;
        EXPECT_TRUE(why.isEmpty()) << "no zoned time: " << outro;
    }
    EXPECT_FALSE(ParseText("2026-13-10 09:30:00 +03:00", &why).isValid());
    EXPECT_FALSE(why.isEmpty());
}
