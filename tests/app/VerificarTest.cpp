// The look before an evening's roll-out (--verificar, and the one every list
// run takes first), and what it guards against: two lines of one list on
// the same database, and shops of one server writing the same backup.
#include "SemJanelaSupport.h"

#include "A.h"
#include "Atualizacao.h"
#include "Inventario.h"
#include "Lojas.h"

#include <QRegularExpression>

using namespace semjanela;

namespace {

// The settings a run could change, as the server reports them.
QString Cabecalho(Loja &L)
{
    return L.Valor("SELECT MON$SHUTDOWN_MODE || ':' || MON$READ_ONLY || ':' || MON$FORCED_WRITES || ':' || "
                   "MON$RESERVE_SPACE || ':' || MON$SWEEP_INTERVAL || ':' || MON$PAGE_BUFFERS || ':' || "
                   "MON$SQL_DIALECT || ':' || MON$PAGES FROM MON$DATABASE");
}

} // namespace

TEST(Verificar, AFleetIsShownAsEachServerSaysItAndNothingChanges)
{
    FixtureOptions v3, v5;
    v3.schema = 3;
    v5.version = "5";
    Loja a, b(v3), c(v5), d;
    Conexao usuario(d.Servidor.info(), d.Banco->path());
    QList<Loja *> lojas{&a, &b, &c, &d};
    QStringList antes;
    for (Loja *l : lojas)
        antes << Conteudo(*l) + Cabecalho(*l);
    QTemporaryDir dir;
    const QString lista = dir.filePath("l.csv");
    Escrever(lista, QString("nome,servidor,banco\nA,%1,zorvi\nB,%2,zorvi\nC,%3,zorvi\nD,%4,zorvi\nF,127.0.0.1/%5,zorvi\n")
                        .arg(a.Servidor_(), b.Servidor_(), c.Servidor_(), d.Servidor_())
                        .arg(FreePort())
                        .toUtf8());
    const QString relatorio = dir.filePath("v.json");
    const ProcessResult r = Rodar({"--verificar", "--lista", lista, "--relatorio", relatorio}, a.Servidor.info().password);
    EXPECT_EQ(r.exitCode, 1) << "one shop was not reached: " << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Total: 5 lojas, 4 alcançadas, 1 não alcançadas"))) << r.out.toStdString();
    const QJsonArray rel = Relatorio(relatorio);
    ASSERT_EQ(rel.size(), 5);
    const QStringList nomes{"A", "B", "C", "D"};
    const QList<int> versoes{1, 3, 5, 1};
    for (int i = 0; i < 4; ++i) {
        Loja &l = *lojas[i];
        const QJsonObject v = DaLoja(rel, nomes[i])["verificacao"].toObject();
        SCOPED_TRACE(nomes[i].toStdString());
        EXPECT_EQ(DaLoja(rel, nomes[i])["resultado"].toInt(), 0);
        EXPECT_EQ(v["versao_firebird"].toString(), l.Valor("SELECT RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') "
                                                           "FROM RDB$DATABASE"));
        EXPECT_EQ(v["ods"].toString(), l.Valor("SELECT MON$ODS_MAJOR || '.' || MON$ODS_MINOR FROM MON$DATABASE"));
        const qint64 pagina = l.Valor("SELECT MON$PAGE_SIZE FROM MON$DATABASE").toLongLong();
        const qint64 paginas = l.Valor("SELECT MON$PAGES FROM MON$DATABASE").toLongLong();
        EXPECT_EQ(v["tamanho_pagina"].toInteger(), pagina);
        EXPECT_EQ(v["paginas"].toInteger(), paginas);
        EXPECT_EQ(v["bytes"].toInteger(), pagina * paginas);
        EXPECT_EQ(v["versao"].toInt(), versoes[i]);
        EXPECT_EQ(v["pasta_backup"].toString(), l.Servidor.info().dataDir + "/");
        EXPECT_EQ(v["arquivo"].toString(), l.Banco->path());
        EXPECT_EQ(v["modo_desligamento"].toInt(), 0);
        EXPECT_EQ(v["conectados"].toInt(), i == 3 ? 1 : 0);
        EXPECT_EQ(v["usuarios"].toString(), i == 3 ? "SYSDBA" : "");
    }
    EXPECT_EQ(DaLoja(rel, "F")["resultado"].toInt(), 4);
    EXPECT_FALSE(DaLoja(rel, "F")["verificacao"].toObject()["erro"].toString().isEmpty());
    EXPECT_FALSE(DaLoja(rel, "F")["verificacao"].toObject()["so_o_servidor"].toBool()) << "no server there";
    EXPECT_TRUE(r.out.contains(QRegularExpression(QString("\\nD +%1\\.0\\.\\d+ +%2\\.\\d+ +\\d+ +[\\d,]+ MB +1 +1 \\(SYSDBA\\) +normal ").arg(SharedServer().version).arg(SharedServer().ods()))))
        << r.out.toStdString();

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Conteudo(*lojas[i]) + Cabecalho(*lojas[i]), antes[i]) << nomes[i].toStdString() << " changed";
        EXPECT_TRUE(Backups(lojas[i]->Servidor.info().dataDir).isEmpty()) << "no backup";
    }
    EXPECT_TRUE(usuario.Db.TestConnected()) << "the user at work was not disturbed";

    // One database: its row, and code 4 when it cannot be reached.
    const ProcessResult um =
        Rodar({"--verificar", "--servidor", b.Servidor_(), "--banco", "zorvi"}, a.Servidor.info().password);
    EXPECT_EQ(um.exitCode, 0) << um.err.toStdString();
    EXPECT_TRUE(um.out.contains(QRegularExpression(QString("\\nzorvi +%1\\.0\\.\\d+ +%2\\.\\d+ +\\d+ +[\\d,]+ MB +3 +0 +normal ").arg(SharedServer().version).arg(SharedServer().ods()))))
        << um.out.toStdString();
    EXPECT_EQ(Rodar({"--verificar", "--servidor", QString("127.0.0.1/%1").arg(FreePort()), "--banco", "zorvi"},
                    a.Servidor.info().password)
                  .exitCode,
              4);
    EXPECT_EQ(Rodar({"--verificar", "--ensaio", "--lista", lista}, a.Servidor.info().password).exitCode, 2);

    // A database nobody can attach to, on a server that answers: told apart
    // from a server that is not there.
    const ServerInfo &sc = c.Servidor.info();
    ASSERT_TRUE(RunProgram("gfix", {"-shut", "full", "-force", "0", "-user", "SYSDBA", "-password", sc.password,
                                    sc.connection(c.Banco->path())})
                    .ok());
    const QString fechado = dir.filePath("f.json");
    EXPECT_EQ(Rodar({"--verificar", "--servidor", c.Servidor_(), "--banco", "zorvi", "--relatorio", fechado},
                    sc.password)
                  .exitCode,
              4);
    EXPECT_TRUE(Relatorio(fechado)[0].toObject()["verificacao"].toObject()["so_o_servidor"].toBool());
}

// An alias and its path, 127.0.0.1 and localhost: the same database, which
// two runs at once must never work on.
TEST(Verificar, AListWithOneDatabaseUnderTwoSpellingsIsRefusedAndNothingRuns)
{
    Loja a, b;
    QTemporaryDir dir;
    const QString lista = dir.filePath("l.csv");
    Escrever(lista, QString("nome,servidor,banco\nA,%1,zorvi\nB,%2,zorvi\n# o mesmo que A\nC,localhost/%3,%4\n")
                        .arg(a.Servidor_(), b.Servidor_())
                        .arg(a.Servidor.info().port)
                        .arg(a.Banco->path())
                        .toUtf8());
    const ProcessResult r = Rodar({"--lista", lista, "--relatorio", dir.filePath("r.json")}, a.Servidor.info().password);
    EXPECT_EQ(r.exitCode, 2) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("linha 2 (A), linha 5 (C) são o mesmo banco de dados (%1")
                                   .arg(a.Banco->path())))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Nada foi executado")) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("[B]")) << "B did not run either";
    EXPECT_EQ(a.Versao(), "1");
    EXPECT_EQ(b.Versao(), "1");
    EXPECT_TRUE(Backups(a.Servidor.info().dataDir).isEmpty());
    EXPECT_TRUE(Backups(b.Servidor.info().dataDir).isEmpty());
}

// Two shops of one server whose files share a name, backing up into one
// folder in the same minute: four backups, each its own shop's.
TEST(Verificar, ShopsOfOneServerSharingABackupFolderNeverWriteOneBackupOverAnother)
{
    PrivateServer s;
    const ServerInfo &i = s.info();
    const QString copias = i.dataDir + "/copias/";
    for (const QString &pasta : {i.dataDir + "/a", i.dataDir + "/b", copias}) {
        ASSERT_TRUE(QDir().mkpath(pasta));
        QFile::setPermissions(pasta, QFileDevice::Permissions(0x7777));
    }
    FixtureOptions oa, ob;
    oa.file = i.dataDir + "/a/zorvi.fdb";
    ob.file = i.dataDir + "/b/zorvi.fdb";
    oa.backupFolder = ob.backupFolder = copias;
    oa.customers = 30;
    ob.customers = 70;
    FixtureDb da(i, oa), db(i, ob);
    const QString clientesA = IsqlValue(i, da.path(), "SELECT COUNT(*) FROM CLIENTE");
    const QString clientesB = IsqlValue(i, db.path(), "SELECT COUNT(*) FROM CLIENTE");
    ASSERT_NE(clientesA, clientesB);
    QTemporaryDir dir;
    Escrever(dir.filePath("l.csv"),
             QString("nome,servidor,banco\nA,%1,%2\nB,%1,%3\n").arg(i.server(), da.path(), db.path()).toUtf8());
    // One after the other, within the same minute: the server's attachment
    // count, which the refusal reads, is the whole server's, so the second
    // shop of a server waits for the first.
    const ProcessResult r = Rodar({"--lista", dir.filePath("l.csv"), "--paralelo", "1"}, i.password);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QStringList feitos = Backups(copias);
    ASSERT_EQ(feitos.size(), 4) << feitos.join(' ').toStdString();
    const QString nomeA = TAtualizacao::NomeNosArquivos(da.path());
    const QString nomeB = TAtualizacao::NomeNosArquivos(db.path());
    ASSERT_NE(nomeA, nomeB);
    for (const QString &f : feitos) {
        const QRegularExpressionMatch m =
            QRegularExpression("^(zorvi-[0-9a-f]{8})\\.\\d{8}\\.\\d{4}\\.versao\\.([15])\\.fbk$").match(f);
        ASSERT_TRUE(m.hasMatch()) << f.toStdString();
        ASSERT_TRUE(m.captured(1) == nomeA || m.captured(1) == nomeB) << f.toStdString();
        // Restored, each backup holds the data of the shop it names.
        const QString alvo = UniquePath(i, "restaurado");
        const ProcessResult g = RunProgram("gbak", {"-c", "-se", i.serviceManager(), "-user", "SYSDBA", "-password",
                                                    i.password, copias + f, alvo});
        ASSERT_TRUE(g.ok()) << g.err.toStdString();
        EXPECT_EQ(IsqlValue(i, alvo, "SELECT COUNT(*) FROM CLIENTE"), m.captured(1) == nomeA ? clientesA : clientesB)
            << f.toStdString();
        EXPECT_EQ(IsqlValue(i, alvo, "SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), m.captured(2));
        QFile::remove(alvo);
    }
    EXPECT_EQ(feitos.filter(nomeA).size(), 2) << "two backups of each shop";
}

// Stopped during the look, a list has run nothing: its report says every
// shop is still to run, so that repeating its failures runs them all; a
// look's own report is no plan to repeat.
TEST(Verificar, AListStoppedDuringTheLookReportsEveryShopAsNotStarted)
{
    Loja a;
    QTemporaryDir dir;
    QString csv = QString("nome,servidor,banco\nA,%1,zorvi\n").arg(a.Servidor_());
    for (int i = 0; i < 30; ++i)
        csv += QString("L%1,127.0.0.1/%2,zorvi\n").arg(i).arg(FreePort());
    Escrever(dir.filePath("l.csv"), csv.toUtf8());
    const QString relatorio = dir.filePath("r.json");
    const Interrompido r = InterromperEm({"--lista", dir.filePath("l.csv"), "--paralelo", "1", "--relatorio", relatorio},
                                         a.Servidor.info().password, "Verificando", SIGTERM);
    ASSERT_TRUE(r.marca);
    EXPECT_EQ(r.codigo, 1);
    const QJsonArray rel = Relatorio(relatorio);
    ASSERT_EQ(rel.size(), 31);
    for (const QJsonValue &v : rel) {
        EXPECT_EQ(v.toObject()["resultado"].toInt(), 1) << v.toObject()["nome"].toString().toStdString();
        EXPECT_EQ(v.toObject()["mensagem"].toString(), QStringLiteral("não iniciada"));
    }
    EXPECT_EQ(a.Versao(), "1");
    EXPECT_EQ(a.Modo(), "0:0");

    const QString vista = dir.filePath("v.json");
    Escrever(dir.filePath("a.csv"), QString("nome,servidor,banco\nA,%1,zorvi\n").arg(a.Servidor_()).toUtf8());
    EXPECT_EQ(Rodar({"--verificar", "--lista", dir.filePath("a.csv"), "--relatorio", vista}, a.Servidor.info().password)
                  .exitCode,
              0);
    const ProcessResult repetida = Rodar({"--repetir-falhas", vista}, a.Servidor.info().password);
    EXPECT_EQ(repetida.exitCode, 2);
    EXPECT_TRUE(repetida.err.contains(QStringLiteral("é de uma verificação"))) << repetida.err.toStdString();
    EXPECT_EQ(a.Versao(), "1");
}

// Lines that only the server's process and the database's creation join
// (one server at two addresses, or two servers made from one image) are one
// database only when an attachment through one shows on the other.
TEST(Verificar, OneServerAtTwoAddressesIsOneDatabaseAndTwoServersFromOneImageAreNot)
{
    const auto linha = [](const QString &Nome, const QString &Identidade, const QString &Instancia) {
        TResultadoLoja r;
        r.Loja = {Nome, "s", "zorvi", "SYSDBA", 0};
        TInventario i;
        i.Arquivo = "/dados/zorvi.fdb";
        i.Identidade = Identidade;
        i.Instancia = Instancia;
        r.Verificacao = i;
        return r;
    };
    const QList<TResultadoLoja> lista{linha("A", "10.0.0.1/3050:/dados/zorvi.fdb", "7|2026|/dados/zorvi.fdb"),
                                      linha("B", "10.8.0.1/3050:/dados/zorvi.fdb", "7|2026|/dados/zorvi.fdb"),
                                      linha("C", "10.0.0.1/3050:/dados/zorvi.fdb", "9|2026|/dados/zorvi.fdb")};
    QStringList perguntas;
    const auto confirmar = [&](bool Resposta) {
        return [&perguntas, Resposta](const TLoja &A, const TLoja &B) {
            perguntas << A.Nome + B.Nome;
            return Resposta;
        };
    };
    EXPECT_EQ(MesmoBanco(lista, confirmar(true)).size(), 1);
    EXPECT_TRUE(MesmoBanco(lista, confirmar(true)).value(0).contains("loja A, loja B, loja C"));
    EXPECT_EQ(perguntas.first(), "AB") << "asked only where the address differs";
    const QStringList duas = MesmoBanco(lista, confirmar(false));
    ASSERT_EQ(duas.size(), 1);
    EXPECT_TRUE(duas[0].startsWith("loja A, loja C")) << duas[0].toStdString();

    // The confirmation on a real server: an alias and its path are one
    // database, two databases of one server are two.
    Loja a;
    FixtureDb outro(a.Servidor.info());
    TdmA modulo;
    const QString s = a.Servidor_(), senha = a.Servidor.info().password;
    EXPECT_TRUE(TInventario::MesmoBanco(modulo, {s, "zorvi", "SYSDBA", senha}, {s, a.Banco->path(), "SYSDBA", senha}));
    EXPECT_FALSE(TInventario::MesmoBanco(modulo, {s, "zorvi", "SYSDBA", senha}, {s, outro.path(), "SYSDBA", senha}));
    EXPECT_FALSE(TInventario::MesmoBanco(modulo, {s, "zorvi", "SYSDBA", senha}, {s, "zorvi", "SYSDBA", "errada"}));
}
