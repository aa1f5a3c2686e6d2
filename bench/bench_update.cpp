// The whole update of a version-1 database (backup, the four scripts, the
// blanking of sources, compaction) through the real main window, driven
// offscreen, against the same safe work done with Firebird's own tools:
// isql-fb running the scripts and the two UPDATEs, gbak backups, a gbak test
// restore into a scratch database and its drop, and a gbak restore with
// replace. Both on fresh copies of the same database. Also the time of the
// maintenance lock, the read-only switches and the online step.
//
//   bench_update SERVER PASSWORD FOLDER [MOVEMENTS] [RUNS]
// FOLDER is the server's data folder, where its alias "zorvi" points
// (zorvi.fdb); the master copy is made there once with tests/fixtures/make-db.
//
// Over a slow link (bench/vpn starts the delaying proxy): with ABD_BENCH_VIA
// (the server's address through the proxy), ABD_BENCH_COUNTS (the proxy's
// counts) and ABD_BENCH_PROGRAM (the tool), one command-line update and the
// same safe work with gbak and isql-fb, on loopback and through the proxy,
// with the round trips and connections each took.
#include "A.h"
#include "Banco.h"
#include "Login.h"
#include "IBServices.h"
#include "Principal.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

QString Server, Password, Folder;

QString Master(int Movements)
{
    const QString path = Folder + QStringLiteral("/update_master_%1.fdb").arg(Movements);
    if (QFile::exists(path))
        return path;
    if (!Program(QStringLiteral(ABD_SOURCE_DIR "/tests/fixtures/make-db"),
                 {"--server", Server, "--password", Password, "--sample", "--customers", "2000", "--movements",
                  QString::number(Movements), "--backup-folder", Folder + "/", path}))
        std::exit(1);
    return path;
}

// A fresh copy of the master where the alias points, and no backups.
void Fresh(const QString &MasterPath)
{
    const QString live = Folder + "/zorvi.fdb";
    QFile::remove(live);
    QFile::copy(MasterPath, live);
    // The server's own user, whichever system it runs on: the master's owner.
    Program("chown", {"--reference=" + MasterPath, live});
    for (const QString &f : QDir(Folder).entryList({"zorvi.*.fbk", "zorvi.*.versao.*.fdb", "zorvi.*.teste.*"}))
        QFile::remove(Folder + "/" + f);
}

double Ours()
{
    TdmA modulo;
    dmA = &modulo;
    TfPrincipal janela;
    fPrincipal = &janela;
    janela.show();
    bool done = false;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *login = qobject_cast<TfLogin *>(modal)) {
            login->eServidor->setText(Server);
            login->eSenha->setText(Password);
            login->UpdateActions();
            login->bOK->Click();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            done = box->text() == QStringLiteral("Concluído");
            if (!done)
                std::fprintf(stderr, "update: %s\n", qPrintable(box->text()));
            box->accept();
        }
    });
    answer.start();
    QElapsedTimer t;
    t.start();
    janela.bAtualizar->Click();
    const double s = double(t.nsecsElapsed()) / 1e9;
    fPrincipal = nullptr;
    dmA = nullptr;
    if (!done)
        std::exit(1);
    return s;
}

// The part of the peer's time that the safety test restore takes.
double TesteDoPar = 0;

double Tools(const QString &Server)
{
    const QString live = Folder + "/zorvi.fdb";
    const QStringList gbak{"-se", Server + ":service_mgr", "-user", "SYSDBA", "-password", Password};
    QByteArray scripts;
    for (int v = 2; v <= 5; ++v)
        scripts += "SET AUTODDL OFF;\n" + TextoScriptVersao(v).join('\n').toUtf8() + "\nCOMMIT;\n";
    scripts += QByteArray(TAtualizacao::LimparTriggers) + ";\nCOMMIT;\n" + TAtualizacao::LimparProcedures + ";\nCOMMIT;\n";
    QElapsedTimer t;
    t.start();
    bool ok = FirebirdTool("gbak", QStringList{"-b", "-v"} + gbak + QStringList{live, Folder + "/zorvi.antes.fbk"});
    ok = ok && FirebirdTool("isql-fb", {"-q", "-b", "-ch", "UTF8", "-user", "SYSDBA", "-password", Password,
                                   Server + ":" + live},
                       scripts);
    ok = ok && FirebirdTool("gbak", QStringList{"-b", "-v", "-g"} + gbak + QStringList{live, Folder + "/zorvi.depois.fbk"});
    // The same safe work as the tool: the backup must restore into a scratch
    // database, dropped again, before it replaces the live one.
    QElapsedTimer teste;
    teste.start();
    const QString scratch = Folder + "/zorvi.depois.teste.fdb";
    ok = ok && FirebirdTool("gbak", QStringList{"-c", "-v"} + gbak + QStringList{Folder + "/zorvi.depois.fbk", scratch});
    ok = ok && FirebirdTool("isql-fb", {"-q", "-user", "SYSDBA", "-password", Password, Server + ":" + scratch},
                       "DROP DATABASE;\n");
    TesteDoPar = double(teste.nsecsElapsed()) / 1e9;
    ok = ok && FirebirdTool("gbak", QStringList{"-rep", "-v"} + gbak + QStringList{Folder + "/zorvi.depois.fbk", live});
    if (!ok)
        std::exit(1);
    return double(t.nsecsElapsed()) / 1e9;
}

// What the run adds for its safety: the maintenance lock, the switch to
// read-only and back, bringing the database online.
double Bloqueio()
{
    QElapsedTimer t;
    t.start();
    const auto servico = [](const std::function<void(TIBConfigService &)> &Acao) {
        TIBConfigService s;
        s.SetServerName(Server);
        s.SetProtocol(TProtocol::TCP);
        s.SetLoginPrompt(false);
        s.SetParams({"user_name=SYSDBA", "password=" + Password});
        s.SetActive(true);
        s.SetDatabaseName("zorvi");
        Acao(s);
        s.SetActive(false);
    };
    servico([](TIBConfigService &s) { s.ShutdownDatabase(TShutdownMode::Multi, 0); });
    servico([](TIBConfigService &s) { s.SetReadOnly(true); });
    servico([](TIBConfigService &s) { s.SetReadOnly(false); });
    servico([](TIBConfigService &s) { s.BringDatabaseOnline(); });
    return double(t.nsecsElapsed()) / 1e9;
}

// One update from the command line, on Via.
double LinhaDeComando(const QString &Via)
{
    QElapsedTimer t;
    t.start();
    if (!Program(qEnvironmentVariable("ABD_BENCH_PROGRAM"),
                 {"--servidor", Via, "--banco", "zorvi", "--usuario", "SYSDBA", "--senha-entrada"},
                 (Password + "\n").toUtf8()))
        std::exit(1);
    return double(t.nsecsElapsed()) / 1e9;
}

// The proxy's counts so far: connections and round trips.
std::pair<long, long> Contagem()
{
    QFile f(qEnvironmentVariable("ABD_BENCH_COUNTS"));
    long conexoes = 0, voltas = 0;
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &l : f.readAll().split('\n')) {
            if (l.startsWith("connections "))
                conexoes = l.mid(12).toLong();
            else if (l.startsWith("turns "))
                voltas = l.mid(6).toLong();
        }
    return {conexoes, voltas};
}

int Vpn(const QString &Master)
{
    const QString via = qEnvironmentVariable("ABD_BENCH_VIA");
    const QString atraso = qEnvironmentVariable("ABD_BENCH_DELAY", "25");
    Fresh(Master);
    const double oursLocal = LinhaDeComando(Server);
    Fresh(Master);
    const double peerLocal = Tools(Server);
    Fresh(Master);
    const auto c0 = Contagem();
    const double ours = LinhaDeComando(via);
    const auto c1 = Contagem();
    Fresh(Master);
    const double peer = Tools(via);
    const auto c2 = Contagem();
    const long turnsOurs = c1.second - c0.second, turnsPeer = c2.second - c1.second;
    std::printf("vpn: %s ms each way: the tool %.1f s (%ld connections), Firebird's tools %.1f s (%ld connections); "
                "on loopback %.1f s and %.1f s\n",
                qPrintable(atraso), ours, c1.first - c0.first, peer, c2.first - c1.first, oursLocal, peerLocal);
    std::printf("vpn-loopback: ours %.2f s, peer %.2f s, ratio %.2f\n", oursLocal, peerLocal, oursLocal / peerLocal);
    std::printf("vpn: ours %.1f s, peer %.1f s, ratio %.2f\n", ours, peer, ours / peer);
    std::printf("vpn-turns: ours %ld, peer %ld, ratio %.2f\n", turnsOurs, turnsPeer,
                double(turnsOurs) / double(turnsPeer));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(Banco::Titulo));
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_update SERVER PASSWORD FOLDER [MOVEMENTS] [RUNS]\n");
        return 2;
    }
    Server = argv[1];
    Password = argv[2];
    Folder = argv[3];
    const int movements = argc > 4 ? atoi(argv[4]) : 1000000;
    const int runs = argc > 5 ? std::max(1, atoi(argv[5])) : 3;
    const QString master = Master(movements);
    std::printf("update: version-1 database of %.0f MB\n", double(QFileInfo(master).size()) / 1e6);
    if (qEnvironmentVariableIsSet("ABD_BENCH_VIA"))
        return Vpn(master);
    std::vector<double> ours, tools;
    for (int r = 0; r < runs; ++r) {
        Fresh(master);
        ours.push_back(Ours());
        Fresh(master);
        tools.push_back(Tools(Server));
    }
    Fresh(master);
    std::printf("update: the lock, read-only switches and online step %.3f s (four service calls)\n", Bloqueio());
    const double a = Median(ours), b = Median(tools);
    std::printf("update: the tool %.2f s, Firebird's tools %.2f s\n", a, b);
    // ABD_BENCH_NAME names the line (update-fb4 against Firebird 4).
    std::printf("%s: ours %.2f s, peer %.2f s, ratio %.2f\n", qPrintable(qEnvironmentVariable("ABD_BENCH_NAME", "update")),
                a, b, a / b);
    std::printf("update-safety: the test restore %.2f s of %.2f s\n", TesteDoPar, b);
    return 0;
}
