// The real program without a window, as a technician's script runs it:
// one database or a list of shops on several private servers at once.
#include "SemJanelaSupport.h"
#include "Lojas.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace semjanela;

TEST(SemJanela, AFleetOfShopsInParallelThenOnlyTheFailedOnesAgain)
{
    FixtureOptions v3, v5;
    v3.schema = 3;
    v5.version = "5";
    Loja a, b(v3), c(v5), d;
    auto ocupada = std::make_unique<Conexao>(d.Servidor.info(), d.Banco->path());
    const QString senha = a.Servidor.info().password;
    QTemporaryDir dir;
    const QString lista = dir.filePath("lojas.csv");
    // As a spreadsheet exports it: BOM, semicolons, quotes, a comment.
    Escrever(lista, QStringLiteral("\uFEFF"
                                   "nome;servidor;banco;usuario\r\n"
                                   "# lojas do centro\r\n"
                                   "\"Banca A\";%1;zorvi;\r\n"
                                   "Banca B;%2;zorvi;\r\n\r\n"
                                   "\"Banca \"\"C\"\"\";%3;zorvi;SYSDBA\r\n"
                                   "Banca D;%4;zorvi;\r\n"
                                   "Banca E;%3;zorvi;NINGUEM\r\n"
                                   "Banca F;127.0.0.1/%5;zorvi;\r\n")
                        .arg(a.Servidor_(), b.Servidor_(), c.Servidor_(), d.Servidor_())
                        .arg(FreePort())
                        .toUtf8());
    const QString relatorio = dir.filePath("relatorio.json");
    const ProcessResult r = Rodar({"--lista", lista, "--paralelo", "3", "--relatorio", relatorio}, senha);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const QJsonArray rel = Relatorio(relatorio);
    ASSERT_EQ(rel.size(), 6);
    const QMap<QString, int> esperado{{"Banca A", 0}, {"Banca B", 0}, {"Banca \"C\"", 0},
                                      {"Banca D", 3}, {"Banca E", 4}, {"Banca F", 4}};
    for (auto i = esperado.cbegin(); i != esperado.cend(); ++i)
        EXPECT_EQ(DaLoja(rel, i.key())["resultado"].toInt(), i.value()) << i.key().toStdString();
    const QJsonObject ba = DaLoja(rel, "Banca A");
    EXPECT_EQ(ba["versao_antes"].toInt(), 1);
    EXPECT_EQ(ba["versao_depois"].toInt(), 5);
    EXPECT_EQ(DaLoja(rel, "Banca B")["versao_antes"].toInt(), 3);
    for (const char *campo : {"servidor", "banco", "mensagem", "inicio", "fim", "segundos"})
        EXPECT_TRUE(ba.contains(campo)) << campo;
    EXPECT_EQ(a.Versao(), "5");
    EXPECT_EQ(b.Versao(), "5");
    EXPECT_EQ(d.Versao(), "1");
    for (Loja *l : {&a, &b, &c})
        EXPECT_EQ(l->Modo(), "0:0");
    // The look at every shop comes first, its table closed by its totals;
    // then every line of a shop carries its name; the table closes the
    // output.
    const QStringList linhas = r.out.split('\n', Qt::SkipEmptyParts);
    const qsizetype olhou = linhas.indexOf("Total: 6 lojas, 4 alcançadas, 2 não alcançadas");
    ASSERT_GT(olhou, 0) << r.out.toStdString();
    for (const QString &l : linhas.mid(olhou + 1, 20))
        EXPECT_TRUE(l.startsWith("[Banca ")) << l.toStdString();
    EXPECT_TRUE(r.out.contains("Banca D") && r.out.contains(QStringLiteral("outros usuários conectados (3)")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("1 → 5")));
    EXPECT_TRUE(r.out.contains("Total: 6 lojas, 3 atualizadas, 3 com falha")) << r.out.toStdString();
    EXPECT_FALSE((r.out + r.err).contains(senha));
    EXPECT_FALSE(QFile(relatorio).readAll().contains(senha.toUtf8()));

    // Shop D's user has left: only the three that failed run again.
    ocupada.reset();
    const QString segundo = dir.filePath("segundo.json");
    const ProcessResult r2 = Rodar({"--repetir-falhas", relatorio, "--relatorio", segundo}, senha);
    EXPECT_EQ(r2.exitCode, 1);
    const QJsonArray rel2 = Relatorio(segundo);
    ASSERT_EQ(rel2.size(), 3);
    EXPECT_EQ(DaLoja(rel2, "Banca D")["resultado"].toInt(), 0);
    EXPECT_EQ(d.Versao(), "5");
    EXPECT_FALSE(r2.out.contains("[Banca A]"));
}

TEST(SemJanela, AListOfAFirebird3AndAFirebird4ShopUpdatesBoth)
{
    FixtureOptions v3;
    v3.schema = 3;
    // This run's version and the other one, each with a shop of its own.
    const int outra = SharedServer().version == 3 ? 4 : 3;
    Loja a, b(v3, outra);
    QTemporaryDir dir;
    const QString lista = dir.filePath("lojas.csv");
    Escrever(lista, QString("nome;servidor;banco\nBanca %1;%2;zorvi\nBanca %3;%4;zorvi\n")
                        .arg(SharedServer().version)
                        .arg(a.Servidor_())
                        .arg(outra)
                        .arg(b.Servidor_())
                        .toUtf8());
    const QString clientes = a.Valor("SELECT COUNT(*) FROM CLIENTE") + "/" + b.Valor("SELECT COUNT(*) FROM CLIENTE");
    const QString relatorio = dir.filePath("relatorio.json");
    const ProcessResult r = Rodar({"--lista", lista, "--relatorio", relatorio}, a.Servidor.info().password);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QJsonArray rel = Relatorio(relatorio);
    for (Loja *l : {&a, &b}) {
        const QString nome = QString("Banca %1").arg(l->Servidor.info().version);
        const QJsonObject loja = DaLoja(rel, nome);
        EXPECT_EQ(loja["resultado"].toInt(), 0) << nome.toStdString();
        EXPECT_TRUE(loja["verificacao"].toObject()["versao_firebird"].toString().startsWith(
            QString("%1.0.").arg(l->Servidor.info().version)))
            << nome.toStdString();
        EXPECT_EQ(l->Valor("SELECT MON$ODS_MAJOR FROM MON$DATABASE"), QString::number(l->Servidor.info().ods()));
        EXPECT_EQ(l->Versao(), "5");
        EXPECT_EQ(l->Modo(), "0:0");
    }
    EXPECT_EQ(a.Valor("SELECT COUNT(*) FROM CLIENTE") + "/" + b.Valor("SELECT COUNT(*) FROM CLIENTE"), clientes);
    EXPECT_EQ(Backups(a.Servidor.info().dataDir).size(), 2);
    EXPECT_EQ(Backups(b.Servidor.info().dataDir).size(), 2);
}

TEST(SemJanela, EachExitCodeFromARealCause)
{
    Loja l;
    const ServerInfo &s = l.Servidor.info();
    const QStringList um{"--servidor", s.server(), "--banco", "zorvi", "--sem-compactar"};
    {
        Conexao outra(s, l.Banco->path());
        const ProcessResult r = Rodar(um, s.password);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(r.err.contains(QStringLiteral("Outros usuários conectados ao banco de dados: 1")));
    }
    EXPECT_EQ(Rodar({"--servidor", QString("127.0.0.1/%1").arg(FreePort()), "--banco", "zorvi"}, s.password).exitCode, 4);
    EXPECT_EQ(Rodar(um, "senha-errada").exitCode, 4);
    EXPECT_EQ(Rodar(um + QStringList{"--paralelo", "0"}, s.password).exitCode, 2);
    EXPECT_EQ(Rodar({"--banco", "zorvi"}, s.password).exitCode, 2);
    EXPECT_EQ(Rodar({"--lista", "/nao/existe.csv"}, s.password).exitCode, 2);
    EXPECT_EQ(Rodar({"--servidor", s.server(), "--banco", "zorvi", "--opcao-que-nao-existe"}, s.password).exitCode, 2);

    ASSERT_TRUE(TravarHistorico11(s, l.Banco->path(), "historico 11 travado").ok());
    ProcessResult r = Rodar(um, s.password);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_TRUE(r.out.contains(QStringLiteral("004 Erro: versão não foi atualizada.")));
    EXPECT_TRUE(r.err.contains("historico 11 travado")) << r.err.toStdString();
    EXPECT_EQ(l.Versao(), "2") << "script 3 undone";
    ASSERT_TRUE(Isql(s, l.Banco->path(), "DROP TRIGGER TR_TESTE; UPDATE CONFIGURAR SET PASTA_BACKUP = '/nao/existe/'; COMMIT;").ok());
    r = Rodar({"--servidor", s.server(), "--banco", "zorvi"}, s.password);
    EXPECT_EQ(r.exitCode, 6) << r.err.toStdString();
    EXPECT_EQ(l.Modo(), "0:0");
    ASSERT_TRUE(Isql(s, l.Banco->path(), "DELETE FROM CONFIGURAR; COMMIT;").ok());
    EXPECT_EQ(Rodar(um, s.password).exitCode, 1);
}

TEST(SemJanela, ThePasswordFromEachSourceAndNeverInTheOutput)
{
    FixtureOptions v5;
    v5.version = "5";
    Loja l(v5);
    const ServerInfo &s = l.Servidor.info();
    const QStringList um{"--servidor", s.server(), "--banco", "zorvi"};
    ProcessResult r = Rodar(um, s.password);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Banco dados já esta atualizado.")));

    QTemporaryDir dir;
    Escrever(dir.filePath("senha"), (s.password + "\nlixo\n").toUtf8());
    r = Rodar(um + QStringList{"--senha-arquivo", dir.filePath("senha")}, QString());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Rodar(um + QStringList{"--senha-arquivo", dir.filePath("nada")}, QString()).exitCode, 2);
    // An option on the command line wins over the environment.
    Escrever(dir.filePath("errada"), "errada");
    EXPECT_EQ(Rodar(um + QStringList{"--senha-arquivo", dir.filePath("senha")}, "errada").exitCode, 0);
    EXPECT_EQ(Rodar(um + QStringList{"--senha-arquivo", dir.filePath("errada")}, s.password).exitCode, 4);
    EXPECT_EQ(Rodar(um + QStringList{"--senha-entrada"}, "errada", (s.password + "\n").toUtf8()).exitCode, 0);

    // Typed on a terminal: through a pseudo-terminal, echo off.
    const QString comando = QString("'%1' %2").arg(ABD_PROGRAM, um.join(' '));
    QProcess p;
    p.setProcessEnvironment(Ambiente(QString()));
    p.start("script", {"-qec", comando, "/dev/null"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray tela;
    for (int i = 0; i < 100 && !tela.contains("Senha:"); ++i) {
        p.waitForReadyRead(100);
        tela += p.readAll();
    }
    EXPECT_TRUE(tela.contains("Senha:"));
    p.write((s.password + "\n").toUtf8());
    ASSERT_TRUE(p.waitForFinished(60000));
    tela += p.readAll();
    EXPECT_EQ(p.exitCode(), 0) << tela.toStdString();
    EXPECT_TRUE(tela.contains(QStringLiteral("já esta atualizado").toUtf8()));
    EXPECT_FALSE(tela.contains(s.password.toUtf8())) << "the password is not echoed";

    // Without any source and no terminal: a clear error, code 2.
    r = Rodar(um, QString());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("ISC_PASSWORD"));
}

TEST(SemJanela, AToolKilledInsideTheScriptsLeavesMaintenanceThatTheNextRunEnds)
{
    FixtureOptions o;
    o.movements = 20000;
    Loja l(o);
    const ServerInfo &s = l.Servidor.info();
    ASSERT_TRUE(InterromperEm({"--servidor", s.server(), "--banco", "zorvi"}, s.password,
                              QStringLiteral("002 versão atualizada").toUtf8(), SIGKILL)
                    .marca);
    EXPECT_TRUE(l.Modo().startsWith("1:")) << "left in maintenance: ordinary users stay out";
    const QString versao = l.Versao();
    EXPECT_TRUE(versao == "2" || versao == "3" || versao == "4") << versao.toStdString();

    const ProcessResult r = Rodar({"--servidor", s.server(), "--banco", "zorvi"}, s.password);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("estava em manutenção")));
    EXPECT_EQ(l.Versao(), "5");
    EXPECT_EQ(l.Modo(), "0:0");
}

// Ctrl+C, or a hang-up of the list's parent: no new shop starts, the running
// one stops at a safe point, the report marks them all.
class ListaParada : public ::testing::TestWithParam<int> {};

TEST_P(ListaParada, InTheMiddleOfAListStopsAtASafePointAndLeavesEveryDatabaseOnline)
{
    FixtureOptions grande;
    grande.movements = 20000;
    Loja a(grande), b, c;
    QTemporaryDir dir;
    const QString lista = dir.filePath("lojas.csv");
    Escrever(lista, QString("nome,servidor,banco\nA,%1,zorvi\nB,%2,zorvi\nC,%3,zorvi\n")
                        .arg(a.Servidor_(), b.Servidor_(), c.Servidor_())
                        .toUtf8());
    const QString relatorio = dir.filePath("r.json");
    EXPECT_EQ(InterromperEm({"--lista", lista, "--paralelo", "1", "--relatorio", relatorio},
                            a.Servidor.info().password, "[A] backup: Backup", GetParam())
                  .codigo,
              1);
    const QJsonArray rel = Relatorio(relatorio);
    ASSERT_EQ(rel.size(), 3);
    EXPECT_EQ(DaLoja(rel, "A")["resultado"].toInt(), 1);
    EXPECT_TRUE(DaLoja(rel, "A")["mensagem"].toString().contains("Interrompido"));
    EXPECT_EQ(DaLoja(rel, "B")["mensagem"].toString(), QStringLiteral("não iniciada"));
    EXPECT_EQ(DaLoja(rel, "C")["resultado"].toInt(), 1);
    for (Loja *l : {&a, &b, &c})
        EXPECT_EQ(l->Modo(), "0:0");
}

INSTANTIATE_TEST_SUITE_P(SemJanela, ListaParada, ::testing::Values(SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int> &i) {
                             return std::string(i.param == SIGINT ? "ctrl_c" : "sighup");
                         });

// Two runs of the program on one database at once, under two names (its
// alias and its path), as a list with it twice or a scheduled run beside
// the window would start them: one updates it, the other is refused or
// finds it updated, and neither takes the other's maintenance for a
// leftover.
TEST(SemJanela, TwoRunsOnTheSameDatabaseAtOnceNeverTakeOverEachOther)
{
    Loja l;
    const ServerInfo &s = l.Servidor.info();
    for (int vez = 0; vez < 20; ++vez) {
        if (vez > 0) {
            l.Banco.reset();
            FixtureOptions o;
            o.backupFolder = s.dataDir + "/";
            o.file = s.dataDir + "/zorvi.fdb";
            l.Banco = std::make_unique<FixtureDb>(s, o);
        }
        QProcess a, b;
        for (QProcess *p : {&a, &b})
            p->setProcessEnvironment(Ambiente(s.password));
        // By turns: its alias and its path; 127.0.0.1 and localhost.
        a.start(ABD_PROGRAM, {"--servidor", s.server(), "--banco", "zorvi"});
        if (vez % 2 == 0)
            b.start(ABD_PROGRAM, {"--servidor", s.server(), "--banco", l.Banco->path()});
        else
            b.start(ABD_PROGRAM, {"--servidor", QString("localhost/%1").arg(s.port), "--banco", "zorvi"});
        ASSERT_TRUE(a.waitForFinished(240000) && b.waitForFinished(240000));
        const QString saidas = QString::fromUtf8(a.readAll() + a.readAllStandardError() + "\n----\n" + b.readAll() +
                                                 b.readAllStandardError());
        QList<int> codigos{a.exitCode(), b.exitCode()};
        std::sort(codigos.begin(), codigos.end());
        // 0 and 3 (refused), or 0 and 0 when the second came after the
        // first had ended (and found the database updated).
        EXPECT_EQ(codigos[0], 0) << vez << "\n" << saidas.toStdString();
        EXPECT_TRUE(codigos[1] == 0 || codigos[1] == 3) << vez << "\n" << saidas.toStdString();
        EXPECT_EQ(saidas.count(QStringLiteral("005 versão atualizada com sucesso.")), 1) << vez;
        EXPECT_FALSE(saidas.contains(QStringLiteral("estava em manutenção"))) << vez << "\n" << saidas.toStdString();
        EXPECT_EQ(l.Versao(), "5");
        EXPECT_EQ(l.Modo(), "0:0");
        EXPECT_EQ(l.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
        if (HasFailure())
            break;
    }
}

// What a technician's terminal does to a run: a reader of the pipe that
// goes away (| head, a tee that dies), a hang-up, Ctrl+\. Each time the run
// stops at a safe point with the database online, its log holds the lines,
// and it ends with 1, not by the signal.
struct Corte {
    const char *nome;
    const char *comando; // run by bash with $P the program and $A its arguments; empty: a signal
    int sinal;
    bool cedo = true; // stops before the end (else it may come while the last restore runs)
};

void PrintTo(const Corte &C, std::ostream *Os)
{
    *Os << C.nome;
}

class Terminal : public ::testing::TestWithParam<Corte> {};

TEST_P(Terminal, StopsAtASafePointWithTheDatabaseOnlineAndTheLogWritten)
{
    FixtureOptions o;
    o.movements = 20000;
    Loja l(o);
    const ServerInfo &s = l.Servidor.info();
    QTemporaryDir dir;
    const QStringList args{"--servidor", s.server(), "--banco", "zorvi", "--relatorio", dir.filePath("r.json")};
    const int antes = Registros().count("\n");
    int codigo = -2;
    if (GetParam().sinal) {
        codigo = InterromperEm(args, s.password, "backup: Backup", GetParam().sinal).codigo;
    } else {
        QProcess p;
        QProcessEnvironment env = Ambiente(s.password);
        env.insert("P", ABD_PROGRAM);
        env.insert("A", args.join(' '));
        p.setProcessEnvironment(env);
        p.start("bash", {"-c", GetParam().comando});
        ASSERT_TRUE(p.waitForFinished(240000));
        codigo = QString::fromUtf8(p.readAllStandardError()).trimmed().split('\n').last().toInt();
    }
    EXPECT_EQ(codigo, 1);
    const int resultado = Relatorio(dir.filePath("r.json"))[0].toObject()["resultado"].toInt();
    if (GetParam().cedo) {
        EXPECT_EQ(resultado, 1) << "stopped on request, whatever the step";
    } else {
        EXPECT_TRUE(resultado == 0 || resultado == 1) << resultado;
    }
    EXPECT_EQ(l.Modo(), "0:0");
    if (GetParam().cedo) {
        EXPECT_NE(l.Versao(), "5") << "stopped before the end";
    }
    const QString registro = Registros();
    EXPECT_GT(registro.count("\n"), antes + 5) << "the log holds the lines";
    EXPECT_TRUE(registro.contains("[backup] ")) << registro.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    SemJanela, Terminal,
    ::testing::Values(
        Corte{"head", "$P $A | head -n 5 >/dev/null; echo ${PIPESTATUS[0]} >&2", 0},
        Corte{"tee_que_morre",
              "$P $A | (tee /dev/null >/dev/null & sleep 1; kill $!; wait); echo ${PIPESTATUS[0]} >&2", 0,
              false},
        Corte{"sighup", "", SIGHUP}, Corte{"sigquit", "", SIGQUIT}),
    [](const ::testing::TestParamInfo<Corte> &i) { return std::string(i.param.nome); });

// Children that cannot start (too few file descriptors for --paralelo 20)
// are those shops' results; the run ends and the report has every shop.
TEST(SemJanela, ChildrenThatCannotStartAreTheirShopsResultsAndTheRunEnds)
{
    QTemporaryDir dir;
    const QString lista = dir.filePath("lojas.csv");
    QString csv = "nome,servidor,banco\n";
    for (int i = 0; i < 20; ++i)
        csv += QString("L%1,127.0.0.1/%2,zorvi\n").arg(i).arg(FreePort());
    Escrever(lista, csv.toUtf8());
    const QString relatorio = dir.filePath("r.json");
    QProcess p;
    QProcessEnvironment env = Ambiente("qualquer");
    env.insert("P", ABD_PROGRAM);
    p.setProcessEnvironment(env);
    p.start("bash", {"-c", QString("ulimit -n 40; $P --lista '%1' --paralelo 20 --relatorio '%2'").arg(lista, relatorio)});
    ASSERT_TRUE(p.waitForFinished(120000)) << "the run ends";
    EXPECT_EQ(p.exitCode(), 1);
    const QJsonArray rel = Relatorio(relatorio);
    ASSERT_EQ(rel.size(), 20);
    int naoComecou = 0;
    for (const QJsonValue &v : rel) {
        const int r = v.toObject()["resultado"].toInt();
        EXPECT_TRUE(r == 1 || r == 4) << v.toObject()["mensagem"].toString().toStdString();
        naoComecou += v.toObject()["mensagem"].toString().contains(QStringLiteral("não começou"));
    }
    EXPECT_GT(naoComecou, 0) << "the limit kept some children from starting";
}

// The password reaches a list's children through their standard input:
// never their environment or arguments, read from /proc while they run.
TEST(SemJanela, ThePasswordNeverSitsInAChildsEnvironmentOrArguments)
{
    FixtureOptions grande;
    grande.movements = 20000;
    Loja a(grande);
    QTemporaryDir dir;
    const QString lista = dir.filePath("lojas.csv");
    Escrever(lista, QString("nome,servidor,banco\nA,%1,zorvi\n").arg(a.Servidor_()).toUtf8());
    QProcess p;
    p.setProcessEnvironment(Ambiente(a.Servidor.info().password));
    p.start(ABD_PROGRAM, {"--lista", lista});
    QByteArray saida;
    while (!saida.contains("[A] backup: Backup") && p.waitForReadyRead(30000))
        saida += p.readAllStandardOutput();
    QFile filhos(QString("/proc/%1/task/%1/children").arg(p.processId()));
    ASSERT_TRUE(filhos.open(QIODevice::ReadOnly));
    const QList<QByteArray> pids = filhos.readAll().trimmed().split(' ');
    ASSERT_FALSE(pids.isEmpty() || pids[0].isEmpty());
    for (const QByteArray &pid : pids)
        for (const char *arquivo : {"environ", "cmdline"}) {
            QFile f(QString("/proc/%1/%2").arg(QString::fromLatin1(pid), arquivo));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << arquivo;
            EXPECT_FALSE(f.readAll().contains(a.Servidor.info().password.toUtf8())) << arquivo;
        }
    QFile limites(QString("/proc/%1/limits").arg(QString::fromLatin1(pids[0])));
    ASSERT_TRUE(limites.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromLatin1(limites.readAll()).contains(QRegularExpression("Max core file size +0 +0")));
    ASSERT_TRUE(p.waitForFinished(240000));
    EXPECT_EQ(p.exitCode(), 0) << "and the password was used";
    EXPECT_EQ(a.Versao(), "5");
}

// Qt's own texts of --help are Portuguese too, whatever the locale.
TEST(SemJanela, HelpIsPortugueseInTheCLocale)
{
    QProcess p;
    QProcessEnvironment env = Ambiente(QString());
    env.insert("LANG", "C");
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(ABD_PROGRAM, {"--help"});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString ajuda = QString::fromUtf8(p.readAllStandardOutput());
    for (const char *ingles : {"Usage:", "Options:", "Displays", "--help-all"})
        EXPECT_FALSE(ajuda.contains(ingles)) << ingles << "\n" << ajuda.toStdString();
    EXPECT_TRUE(ajuda.contains("--lista-aprovada") && ajuda.contains("--atualizar"));
}

TEST(Lojas, ABadLineIsReportedWithItsNumberAndNothingRuns)
{
    QString erro;
    EXPECT_TRUE(LerLista("nome,servidor\nA,x\n", erro).isEmpty());
    EXPECT_TRUE(erro.contains("linha 1") && erro.contains("banco")) << erro.toStdString();
    EXPECT_TRUE(LerLista("nome,servidor,banco\nA,x,z\n\nB,\"y,z\n", erro).isEmpty());
    EXPECT_TRUE(erro.contains("linha 4")) << erro.toStdString();
    EXPECT_TRUE(LerLista("nome,servidor,banco\nA,x,z\nA,y,z\n", erro).isEmpty());
    EXPECT_TRUE(erro.contains("linha 3")) << erro.toStdString();
    EXPECT_TRUE(LerLista("nome,servidor,banco\nA,,z\n", erro).isEmpty());
    const QList<TLoja> ok = LerLista("banco,nome,servidor\n\"z;1\",\"A, B\",\"h/3050\"\n", erro);
    ASSERT_EQ(ok.size(), 1) << erro.toStdString();
    EXPECT_EQ(ok[0].Nome, "A, B");
    EXPECT_EQ(ok[0].Banco, "z;1");
}


TEST(Ensaio, AScriptThatWouldFailIsReportedAndTheLiveDatabaseIsLeftAsItWas)
{
    FixtureOptions v4;
    v4.schema = 4;
    Loja l(v4);
    const ServerInfo &s = l.Servidor.info();
    // A column the shop added by hand, which script 5 adds too.
    ASSERT_TRUE(Isql(s, l.Banco->path(), "ALTER TABLE CONFIGURAR ADD PORTA INTEGER; COMMIT;").ok());
    const QString antes = Conteudo(l);
    Conexao usuario(s, l.Banco->path()); // a shop user at work, not stopped and not disturbed
    QTemporaryDir dir;
    const ProcessResult r =
        Rodar({"--ensaio", "--servidor", s.server(), "--banco", "zorvi", "--relatorio", dir.filePath("e.json")},
              s.password);
    EXPECT_EQ(r.exitCode, 5) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("o script 005 falharia no comando: ALTER TABLE CONFIGURAR ADD PORTA")))
        << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("PORTA")) << "the server's message: " << r.err.toStdString();
    EXPECT_TRUE(usuario.Db.TestConnected());
    const QJsonObject e = Relatorio(dir.filePath("e.json"))[0].toObject();
    EXPECT_TRUE(e["ensaio"].toBool());
    EXPECT_EQ(e["script_que_falhou"].toInt(), 5);
    EXPECT_TRUE(e["comando_que_falhou"].toString().startsWith("ALTER TABLE CONFIGURAR ADD PORTA"));
    EXPECT_EQ(e["resultado"].toInt(), 5);

    EXPECT_EQ(Conteudo(l), antes) << "the live database is as it was";
    EXPECT_EQ(l.Versao(), "4");
    EXPECT_EQ(l.Modo(), "0:0");
    EXPECT_TRUE(Arquivos(l, "*.ensaio.*.fdb").isEmpty()) << "the scratch database is gone";
    EXPECT_EQ(Arquivos(l, "zorvi.ensaio.*.versao.4.fbk").size(), 1) << "the rehearsal's backup stays, named as such";
    EXPECT_TRUE(Arquivos(l, "zorvi.2*.fbk").isEmpty()) << "no file that a real run would name";
}

TEST(Ensaio, ACleanDatabaseWouldUpdateAndTheStepsAreTimed)
{
    Loja l;
    const ServerInfo &s = l.Servidor.info();
    const QString antes = Conteudo(l);
    QTemporaryDir dir;
    const ProcessResult r =
        Rodar({"--ensaio", "--servidor", s.server(), "--banco", "zorvi", "--relatorio", dir.filePath("e.json")},
              s.password);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Ensaio: a atualização levaria cerca de")));
    const QJsonObject e = Relatorio(dir.filePath("e.json"))[0].toObject();
    EXPECT_TRUE(e["ensaio"].toBool());
    EXPECT_GT(e["estimativa_segundos"].toDouble(), 0);
    for (const char *etapa : {"backup", "restauracao_ensaio", "scripts", "compactacao"})
        EXPECT_TRUE(e["etapas"].toObject().contains(etapa)) << etapa;
    EXPECT_EQ(Conteudo(l), antes);
    EXPECT_EQ(l.Versao(), "1");
    EXPECT_EQ(l.Modo(), "0:0") << "the live database was never locked";
    // The shop's disk keeps exactly the file the rehearsal names.
    const QRegularExpressionMatch nomeado =
        QRegularExpression(QStringLiteral("o backup do ensaio ficou em (\\S+) ")).match(r.out);
    ASSERT_TRUE(nomeado.hasMatch()) << r.out.toStdString();
    EXPECT_EQ(QDir(s.dataDir).entryList(QDir::Files), (QStringList{QFileInfo(nomeado.captured(1)).fileName(), "zorvi.fdb"}))
        << "nothing else: " << QDir(s.dataDir).entryList(QDir::Files).join(' ').toStdString();
}

// The evening: rehearse the fleet, repeat the rehearsal of the failures,
// update the approved shops, then the failures for real.
TEST(Ensaio, ARehearsalReportRepeatsAsARehearsalAndApprovesTheShopsToUpdate)
{
    Loja a, b;
    ASSERT_TRUE(TravarHistorico11(b.Servidor.info(), b.Banco->path(), "historico 11 travado").ok());
    const QString senha = a.Servidor.info().password;
    QTemporaryDir dir;
    Escrever(dir.filePath("l.csv"),
             QString("nome,servidor,banco\nA,%1,zorvi\nB,%2,zorvi\n").arg(a.Servidor_(), b.Servidor_()).toUtf8());
    const QString ensaio = dir.filePath("ensaio.json");
    EXPECT_EQ(Rodar({"--ensaio", "--lista", dir.filePath("l.csv"), "--relatorio", ensaio}, senha).exitCode, 1);
    ASSERT_EQ(DaLoja(Relatorio(ensaio), "B")["resultado"].toInt(), 5);
    const QString antesB = Conteudo(b);

    ProcessResult r = Rodar({"--repetir-falhas", ensaio, "--relatorio", dir.filePath("r.json")}, senha);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Repetindo o ensaio"))) << r.out.toStdString();
    EXPECT_TRUE(DaLoja(Relatorio(dir.filePath("r.json")), "B")["ensaio"].toBool());
    EXPECT_EQ(Conteudo(b), antesB) << "a rehearsal again: the live database untouched";
    EXPECT_EQ(a.Versao(), "1");

    r = Rodar({"--lista-aprovada", ensaio}, senha);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_EQ(a.Versao(), "5");
    EXPECT_EQ(Conteudo(b), antesB) << "B was not approved";

    r = Rodar({"--repetir-falhas", ensaio, "--atualizar"}, senha);
    EXPECT_FALSE(r.out.contains(QStringLiteral("Repetindo o ensaio")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("[B] 004 Erro: versão não foi atualizada."))) << r.out.toStdString();
}

TEST(Ensaio, AScratchDatabaseLeftByAKilledRunIsDroppedByTheNextOne)
{
    FixtureOptions o;
    o.movements = 20000;
    Loja l(o);
    const ServerInfo &s = l.Servidor.info();
    InterromperEm({"--ensaio", "--servidor", s.server(), "--banco", "zorvi"}, s.password,
                  QStringLiteral("002 versão atualizada").toUtf8(), SIGKILL);
    ASSERT_EQ(Arquivos(l, "*.ensaio.*.fdb").size(), 1);

    const ProcessResult r = Rodar({"--ensaio", "--servidor", s.server(), "--banco", "zorvi"}, s.password);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Aviso: apagado o banco"))) << r.out.toStdString();
    EXPECT_TRUE(Arquivos(l, "*.ensaio.*.fdb").isEmpty());
    EXPECT_EQ(l.Versao(), "1");
}

TEST(Ensaio, AListRehearsalCarriesTheFindingsInTheTable)
{
    Loja a;
    QTemporaryDir dir;
    Escrever(dir.filePath("l.csv"), QString("nome,servidor,banco\nA,%1,zorvi\n").arg(a.Servidor_()).toUtf8());
    const ProcessResult r = Rodar({"--ensaio", "--lista", dir.filePath("l.csv"), "--relatorio", dir.filePath("e.json")},
                                  a.Servidor.info().password);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Estimativa")) << r.out.toStdString();
    EXPECT_TRUE(Relatorio(dir.filePath("e.json"))[0].toObject()["ensaio"].toBool());
    EXPECT_EQ(a.Versao(), "1");
}
