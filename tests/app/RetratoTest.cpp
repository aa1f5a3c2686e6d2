// The snapshot a compaction compares a restored database with, read from
// the real server.
#include "A.h"
#include "ConexaoPropria.h"
#include "DbTestSupport.h"
#include "Retrato.h"

#include <gtest/gtest.h>

using namespace abdtest;

// What the compaction compares, on a database with more tables and
// generators than one statement may count: each value under its own name.
TEST(Retrato, EveryTableAndGeneratorIsReadUnderItsOwnNamePastTheFirstHundred)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    QString sql;
    for (int i = 1; i <= 130; ++i)
        sql += QString("CREATE TABLE T_%1 (ID INTEGER); CREATE SEQUENCE G_%1;\n").arg(i);
    sql += "COMMIT;\n";
    for (int i = 1; i <= 130; ++i)
        sql += QString("INSERT INTO T_%1 SELECT RDB$RELATION_ID FROM RDB$RELATIONS ROWS %1; "
                       "ALTER SEQUENCE G_%1 RESTART WITH %2;\n")
                   .arg(i)
                   .arg(7 * i);
    sql += "COMMIT;\n";
    ASSERT_TRUE(Isql(s, f.path(), sql).ok());
    TdmA modulo;
    modulo.Servidor = s.server();
    modulo.Usuario = "SYSDBA";
    modulo.Senha = s.password;
    const auto ler = [&] {
        TConexaoPropria c(modulo, f.path());
        return TRetrato::Ler(c);
    };
    const TRetrato antes = ler();
    // Firebird 3 sets a restarted sequence's value to the one given,
    // Firebird 4 to one step before it.
    const qint64 passo = 7 - IsqlValue(s, f.path(), "SELECT GEN_ID(G_1, 0) FROM RDB$DATABASE").toLongLong();
    for (int i = 1; i <= 130; ++i) {
        EXPECT_EQ(antes.Linhas.value(QString("T_%1").arg(i), -1), i) << i;
        EXPECT_EQ(antes.Geradores.value(QString("G_%1").arg(i), -1), 7 * i - passo) << i;
    }
    EXPECT_EQ(antes.Linhas.value("CLIENTE"), IsqlValue(s, f.path(), "SELECT COUNT(*) FROM CLIENTE").toLongLong());
    EXPECT_EQ(antes.Objetos.value("geradores"), antes.Geradores.size());
    ASSERT_TRUE(Isql(s, f.path(), "DELETE FROM T_125 ROWS 1; COMMIT;").ok());
    EXPECT_EQ(antes.Diferencas(ler()), QStringList{"tabela T_125: 125 linhas antes, 124 depois"});
}
