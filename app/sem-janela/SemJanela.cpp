#include "SemJanela.h"

#include "A.h"
#include "Atualizacao.h"
#include "Idioma.h"
#include "Lojas.h"
#include "Mensagens.h"
#include "Registro.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QScopeGuard>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <csignal>
#include <cstdio>

#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Ctrl+C, SIGTERM, a hang-up (SIGHUP: the technician's SSH session dropped)
// and Ctrl+\ (SIGQUIT) ask the run to stop at its next safe point. They
// stay blocked in every thread (the client library's threads inherit the
// mask), so neither their default action (death, and a core dump for
// SIGQUIT) nor the client library's own handler, which cuts every
// connection at once, ever runs: the request waits, pending, until the run
// asks for it. A pipe whose reader is gone (| head, a tee that died) asks
// the same: SIGPIPE is ignored, and the first write that fails says so.
const int SinaisDeParar[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<bool> SaidaPerdida{false};

void BloquearSinais()
{
    sigset_t s;
    sigemptyset(&s);
    for (int sinal : SinaisDeParar)
        sigaddset(&s, sinal);
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool PedidoDeParar()
{
    if (SaidaPerdida)
        return true;
    sigset_t s;
    sigemptyset(&s);
    if (sigpending(&s) != 0)
        return false;
    for (int sinal : SinaisDeParar)
        if (sigismember(&s, sinal) == 1)
            return true;
    return false;
}

// Whole lines only, so that lines written at the same time never mix. Once
// a write fails (the reader of the pipe or the terminal is gone), that
// output is given up and the run is asked to stop; the run log still gets
// every line.
void Escrever(FILE *Onde, const QString &Texto)
{
    static std::atomic<bool> perdida[2] = {false, false};
    std::atomic<bool> &esta = perdida[Onde == stderr ? 1 : 0];
    if (esta)
        return;
    const QByteArray b = (Texto + QLatin1Char('\n')).toUtf8();
    if (std::fwrite(b.constData(), 1, size_t(b.size()), Onde) != size_t(b.size()) || std::fflush(Onde) != 0) {
        esta = true;
        SaidaPerdida = true;
        std::clearerr(Onde);
    }
}

// A password typed on the terminal, not echoed.
QString PerguntarSenha()
{
    // Echo goes off before the prompt shows, and without flushing, so that
    // a password typed as soon as the prompt appears is neither echoed nor
    // thrown away. What was typed ahead, before the program ran, the
    // terminal echoed as it came; it is kept too.
    termios antes{};
    const bool terminal = tcgetattr(STDIN_FILENO, &antes) == 0;
    if (terminal) {
        termios sem = antes;
        sem.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &sem);
    }
    std::fputs("Senha: ", stderr);
    std::fflush(stderr);
    // Ctrl+C may end the program while it waits for the password, with the
    // terminal's echo back on.
    static termios guardado;
    guardado = antes;
    static bool temTerminal;
    temTerminal = terminal;
    struct sigaction acao{};
    acao.sa_handler = [](int Sinal) {
        if (temTerminal)
            tcsetattr(STDIN_FILENO, TCSANOW, &guardado);
        std::signal(Sinal, SIG_DFL);
        std::raise(Sinal);
    };
    struct sigaction anterior{};
    sigaction(SIGINT, &acao, &anterior);
    sigset_t sinais;
    sigemptyset(&sinais);
    sigaddset(&sinais, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &sinais, nullptr);
    QByteArray linha;
    char c;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
        linha += c;
    pthread_sigmask(SIG_BLOCK, &sinais, nullptr);
    sigaction(SIGINT, &anterior, nullptr);
    if (terminal)
        tcsetattr(STDIN_FILENO, TCSADRAIN, &antes);
    std::fputs("\n", stderr);
    if (linha.endsWith('\r'))
        linha.chop(1);
    return QString::fromLocal8Bit(linha);
}

// What the terminal shows of one database's run: the panes' lines on
// standard output, the status with its progress when that is a terminal.
class TSaidaTerminal : public TSaidaAtualizacao {
public:
    void Linha(TPainel Painel, const QString &Texto) override
    {
        Escrever(stdout, Painel == TPainel::Atualizar ? Texto : NomeDoPainel(Painel) + QStringLiteral(": ") + Texto);
    }
    void Status(const QString &Texto) override
    {
        if (isatty(STDOUT_FILENO))
            Escrever(stdout, QStringLiteral("[%1%] ").arg(FProgresso, 3) + Texto);
        else
            Escrever(stdout, Texto);
    }
    void OutrosUsuarios(int32_t Conectados) override
    {
        Escrever(stderr, QStringLiteral("Outros usuários conectados ao banco de dados: %1\n\nTodos os usuários devem "
                                        "sair do Zorvi.")
                             .arg(Conectados));
    }
    void Concluido() override {}
    void Progresso(int Percentual) override { FProgresso = Percentual; }
    bool Interromper() override { return PedidoDeParar(); }

private:
    int FProgresso = 0;
};

int CodigoDaFalha(const std::exception &E, TEtapa Etapa)
{
    if (dynamic_cast<const EBancoEmManutencao *>(&E))
        return Saida::EmManutencao;
    // Stopped on request at a safe point: whatever the step, code 1.
    if (dynamic_cast<const EInterrompido *>(&E))
        return Saida::Erro;
    // The database is whole, or closed with the message saying how to get
    // it back, whatever step found it so.
    if (dynamic_cast<const ECompactacao *>(&E))
        return Saida::BackupOuCompactacao;
    return DadosDaEtapa(Etapa).Codigo;
}

// What the command line asks of each shop's run: read from the options once,
// given to the run of one database, and written back as the arguments of
// each child of a list.
struct TOpcoes {
    bool Backup = true;
    bool Compactar = true;
    bool Ensaio = false;

    QStringList Argumentos() const
    {
        QStringList a;
        if (!Backup)
            a << QStringLiteral("--sem-backup");
        if (!Compactar)
            a << QStringLiteral("--sem-compactar");
        if (Ensaio)
            a << QStringLiteral("--ensaio");
        return a;
    }
};

// One database, in this process.
TResultadoLoja AtualizarUm(const TLoja &Loja, const QString &Senha, const TOpcoes &Opcoes)
{
    TResultadoLoja r;
    r.Loja = Loja;
    r.Inicio = QDateTime::currentDateTime();
    TSaidaTerminal terminal;
    TRegistro saida(terminal, {Loja.Servidor, Loja.Banco, Loja.Usuario, QString()});
    try {
        TdmA modulo;
        dmA = &modulo;
        const auto fim = qScopeGuard([] { dmA = nullptr; });
        TAtualizacao atualizacao(modulo, saida);
        atualizacao.SetBackup(Opcoes.Backup);
        atualizacao.SetCompactar(Opcoes.Compactar);
        atualizacao.SetEnsaio(Opcoes.Ensaio);
        try {
            const TResultado resultado =
                atualizacao.Executar({Loja.Servidor, Loja.Banco, Loja.Usuario, Senha});
            switch (resultado) {
            case TResultado::Concluido:
                r.Resultado = Saida::Atualizado;
                r.Mensagem = Opcoes.Ensaio ? QStringLiteral("O banco seria atualizado.") : QStringLiteral("Concluído");
                break;
            case TResultado::JaAtualizado:
                r.Resultado = Saida::Atualizado;
                r.Mensagem = QStringLiteral("Banco dados já esta atualizado.");
                break;
            case TResultado::SemConfiguracao:
                r.Resultado = Saida::Erro;
                r.Mensagem = QStringLiteral("Não conseguiu ler a pasta backup e versão banco dados.");
                break;
            case TResultado::OutrosUsuarios:
                r.Resultado = Saida::OutrosUsuarios;
                r.Mensagem = QStringLiteral("Outros usuários conectados ao banco de dados");
                break;
            }
        } catch (const std::exception &E) {
            r.Resultado = CodigoDaFalha(E, atualizacao.Etapa());
            r.Mensagem = TextoDoErro(TextoAmigavel(E));
            Escrever(stderr, r.Mensagem);
        }
        saida.Fim(atualizacao, r.Resultado == Saida::Atualizado ? r.Mensagem
                                                                 : QStringLiteral("Erro (código %1): %2")
                                                                       .arg(r.Resultado)
                                                                       .arg(r.Mensagem));
        if (atualizacao.VersaoBancoDados() != 0 || atualizacao.Etapa() > TEtapa::Configuracao) {
            r.VersaoAntes = atualizacao.VersaoBancoDados();
            r.VersaoDepois = atualizacao.VersaoAtingida();
        }
        if (Opcoes.Ensaio) {
            r.Ensaio = true;
            // The live database did not change: the versions are the
            // scratch database's.
            QStringList etapas;
            for (auto i = atualizacao.Duracoes().cbegin(); i != atualizacao.Duracoes().cend(); ++i)
                if (i.key() > TEtapa::Login && i.key() < TEtapa::Fim && i.value() > 0) {
                    r.Etapas << qMakePair(NomeDaEtapa(i.key()), i.value());
                    etapas << QStringLiteral("%1 %2 s").arg(NomeDaEtapa(i.key())).arg(i.value(), 0, 'f', 1);
                }
            r.ScriptQueFalhou = atualizacao.ScriptQueFalhou();
            r.ComandoQueFalhou = atualizacao.ComandoQueFalhou();
            if (r.Resultado == Saida::Atualizado && r.VersaoAntes && *r.VersaoAntes < 5)
                r.Estimativa = atualizacao.Estimativa();
            Escrever(stdout, QStringLiteral("Ensaio: %1").arg(r.Mensagem));
            if (!etapas.isEmpty())
                Escrever(stdout, QStringLiteral("Ensaio: etapas: ") + etapas.join(QStringLiteral(", ")));
            if (r.Estimativa)
                Escrever(stdout, QStringLiteral("Ensaio: a atualização levaria cerca de %1 s")
                                     .arg(*r.Estimativa, 0, 'f', 1));
            if (r.ScriptQueFalhou)
                Escrever(stdout, QStringLiteral("Ensaio: o script %1 falharia no comando: %2")
                                     .arg(r.ScriptQueFalhou, 3, 10, QLatin1Char('0'))
                                     .arg(r.ComandoQueFalhou));
        }
    } catch (const std::exception &E) {
        // The client library could not be loaded.
        r.Resultado = Saida::Erro;
        r.Mensagem = TextoDoErro(TextoAmigavel(E));
        Escrever(stderr, r.Mensagem);
    }
    r.Fim = QDateTime::currentDateTime();
    return r;
}

// The look at one database before a run: nothing changes.
TResultadoLoja VerificarUm(const TLoja &Loja, const QString &Senha)
{
    TResultadoLoja r;
    r.Loja = Loja;
    r.Inicio = QDateTime::currentDateTime();
    try {
        TdmA modulo;
        r.Verificacao = TInventario::Ler(modulo, {Loja.Servidor, Loja.Banco, Loja.Usuario, Senha});
    } catch (const std::exception &E) {
        // The client library could not be loaded.
        r.Verificacao = TInventario{TextoDoErro(TextoAmigavel(E))};
    }
    r.SoVerificacao = true;
    r.Resultado = r.Verificacao->Alcancado() ? Saida::Atualizado : Saida::SemAcesso;
    r.Mensagem = r.Verificacao->Alcancado() ? QStringLiteral("verificada") : r.Verificacao->Erro;
    if (r.Verificacao->Alcancado())
        r.VersaoAntes = r.Verificacao->Versao;
    r.Fim = QDateTime::currentDateTime();
    return r;
}

// Several shops, each in a process of its own (its own connection and
// service objects; one shop's failure or crash never touches the others),
// up to Paralelo at a time.
class TFrota {
public:
    // Repassar: the children's standard output goes on to this one's, each
    // line after its shop's name (their errors always do).
    TFrota(QList<TLoja> Lojas, QStringList Argumentos, QString Senha, int Paralelo, bool Repassar = true)
        : FLojas(std::move(Lojas)), FArgumentos(std::move(Argumentos)), FSenha(std::move(Senha)),
          FParalelo(Paralelo), FRepassar(Repassar)
    {
        FResultados.resize(FLojas.size());
        for (int i = 0; i < FLojas.size(); ++i) {
            FResultados[i].Loja = FLojas[i];
            FResultados[i].Mensagem = QStringLiteral("não iniciada");
        }
    }

    QList<TResultadoLoja> Executar()
    {
        QTimer relogio;
        relogio.setInterval(100);
        QObject::connect(&relogio, &QTimer::timeout, [this] {
            if (!FParando && PedidoDeParar()) {
                FParando = true;
                Escrever(stderr, QStringLiteral("Interrompendo: nenhuma loja nova começa; as que estão em "
                                                "andamento param num ponto seguro."));
                // Only children that have a process: pid 0 would be the
                // whole process group, this program included.
                for (QProcess *p : std::as_const(FRodando))
                    if (p->processId() > 0)
                        ::kill(pid_t(p->processId()), SIGTERM);
            }
            Proximas();
        });
        relogio.start();
        Proximas();
        if (!FRodando.isEmpty() || FProxima < FLojas.size())
            FLaco.exec();
        return FResultados;
    }

private:
    void Proximas()
    {
        while (!FParando && FRodando.size() < FParalelo && FProxima < FLojas.size())
            Iniciar(FProxima++);
        if (FRodando.isEmpty() && (FParando || FProxima >= FLojas.size()))
            FLaco.quit();
    }

    void Iniciar(int Indice)
    {
        const TLoja &loja = FLojas[Indice];
        auto *p = new QProcess(&FDono);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("ISC_PASSWORD"));
        p->setProcessEnvironment(env);
        const QString relatorio = FDir.filePath(QStringLiteral("loja%1.json").arg(Indice));
        QStringList args = FArgumentos;
        args << QStringLiteral("--servidor") << loja.Servidor << QStringLiteral("--banco") << loja.Banco
             << QStringLiteral("--relatorio") << relatorio << QStringLiteral("--senha-entrada");
        if (!loja.Usuario.isEmpty())
            args << QStringLiteral("--usuario") << loja.Usuario;
        const QString prefixo = QLatin1Char('[') + loja.Nome + QStringLiteral("] ");
        const auto repassar = [p, prefixo, this](QProcess::ProcessChannel Canal, FILE *Onde, bool Tudo) {
            p->setReadChannel(Canal);
            while (p->canReadLine() || (Tudo && p->bytesAvailable() > 0)) {
                QByteArray l = p->readLine();
                if (l.endsWith('\n'))
                    l.chop(1);
                if (FRepassar || Onde == stderr)
                    Escrever(Onde, prefixo + QString::fromUtf8(l));
            }
        };
        QObject::connect(p, &QProcess::readyReadStandardOutput,
                         [=] { repassar(QProcess::StandardOutput, stdout, false); });
        QObject::connect(p, &QProcess::readyReadStandardError,
                         [=] { repassar(QProcess::StandardError, stderr, false); });
        FResultados[Indice].Inicio = QDateTime::currentDateTime();
        QObject::connect(p, &QProcess::finished, [=, this](int Codigo, QProcess::ExitStatus Status) {
            repassar(QProcess::StandardOutput, stdout, true);
            repassar(QProcess::StandardError, stderr, true);
            TResultadoLoja &r = FResultados[Indice];
            QFile f(relatorio);
            QString erro;
            const QList<TResultadoLoja> lido = f.open(QIODevice::ReadOnly) ? LerRelatorio(f.readAll(), erro)
                                                                           : QList<TResultadoLoja>{};
            if (!lido.isEmpty()) {
                const QDateTime inicio = r.Inicio;
                r = lido[0];
                r.Inicio = inicio;
            }
            r.Loja = FLojas[Indice];
            r.Resultado = Status == QProcess::NormalExit ? Codigo : Saida::Erro;
            if (lido.isEmpty())
                r.Mensagem = QStringLiteral("a execução terminou sem resultado (código %1)").arg(Codigo);
            r.Fim = QDateTime::currentDateTime();
            FRodando.removeOne(p);
            p->deleteLater();
            Proximas();
        });
        // A child that cannot start (too many open files, fork refused)
        // never finishes: its failure is that shop's result. Queued: the
        // signal comes from inside start(), which must return first.
        QObject::connect(p, &QProcess::errorOccurred, &FDono, [=, this](QProcess::ProcessError Erro) {
            if (Erro != QProcess::FailedToStart || !FRodando.contains(p))
                return;
            TResultadoLoja &r = FResultados[Indice];
            r.Loja = FLojas[Indice];
            r.Resultado = Saida::Erro;
            r.Mensagem = QStringLiteral("a execução não começou: %1").arg(p->errorString());
            r.Fim = QDateTime::currentDateTime();
            Escrever(stderr, prefixo + r.Mensagem);
            FRodando.removeOne(p);
            p->deleteLater();
            Proximas();
        }, Qt::QueuedConnection);
        // The password goes through the child's standard input, read once
        // and closed: never in its environment or its arguments.
        QObject::connect(p, &QProcess::started, [p, this] {
            p->write((FSenha + QLatin1Char('\n')).toUtf8());
            p->closeWriteChannel();
        });
        FRodando << p;
        p->start(QCoreApplication::applicationFilePath(), args);
    }

    QList<TLoja> FLojas;
    QStringList FArgumentos;
    QString FSenha;
    int FParalelo;
    bool FRepassar;
    QList<TResultadoLoja> FResultados;
    QList<QProcess *> FRodando;
    int FProxima = 0;
    bool FParando = false;
    QObject FDono;
    QEventLoop FLaco;
    QTemporaryDir FDir;
};

QByteArray LerArquivo(const QString &Nome, QString &Erro)
{
    QFile f(Nome);
    if (!f.open(QIODevice::ReadOnly)) {
        Erro = QStringLiteral("não conseguiu ler %1: %2").arg(Nome, f.errorString());
        return {};
    }
    return f.readAll();
}

const char *const Codigos = "Códigos de saída:\n"
                            "  0  atualizado, ou já estava na versão 5\n"
                            "  1  outro erro (na lista: alguma loja não terminou com 0)\n"
                            "  2  uso incorreto (opção desconhecida, valor faltando, lista ou arquivo de senha "
                            "ilegível, sem senha, duas linhas da lista no mesmo banco de dados)\n"
                            "  3  recusado: outros usuários conectados\n"
                            "  4  não conseguiu entrar no servidor ou no banco\n"
                            "  5  um script de atualização falhou (o banco fica na última versão gravada; entre o "
                            "003 e o 004, o 003 é desfeito e ele volta à versão 2)\n"
                            "  6  o backup ou a compactação falhou: o banco está inteiro, ou fechado para os usuários "
                            "com a mensagem dizendo como recuperá-lo (em geral: executar outra vez)\n"
                            "  7  o banco não voltou ao modo normal (ficou em manutenção; a mensagem diz como "
                            "liberá-lo)\n"
                            "Com --verificar: 0 se todas as lojas foram alcançadas (e, na lista, nenhuma repetida), "
                            "4 (um banco) ou 1 (lista) se não.\n"
                            "\nSenha, nesta ordem: de --senha-arquivo ou --senha-entrada, da variável "
                            "ISC_PASSWORD, ou perguntada no terminal; nunca na linha de comando.\n"
                            "Usuário: --usuario, a coluna usuario da lista, a variável ISC_USER, ou SYSDBA.";

} // namespace

namespace Banco {

void ProtegerSegredos()
{
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit nada{0, 0};
    setrlimit(RLIMIT_CORE, &nada);
}

int ExecutarSemJanela(QCoreApplication &App)
{
    ProtegerSegredos();
    BloquearSinais();
    // Qt's own texts of --help ("Uso:", "Opções:") in Portuguese too.
    CarregarTraducaoDoQt(App);
    QCoreApplication::setApplicationName(QString::fromUtf8(Titulo));
    QCoreApplication::setApplicationVersion(QStringLiteral(ABD_VERSION));
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Atualiza o banco de dados do Zorvi para a versão 5, sem janela: um banco ou uma lista de "
                       "lojas.\n\n%1")
            .arg(QString::fromUtf8(Codigos)));
    const QCommandLineOption servidor(QStringLiteral("servidor"), QStringLiteral("Servidor (ex.: 127.0.0.1/3050)."),
                                      QStringLiteral("servidor"));
    const QCommandLineOption banco(QStringLiteral("banco"), QStringLiteral("Banco de dados (apelido ou caminho)."),
                                   QStringLiteral("banco"));
    const QCommandLineOption usuario(QStringLiteral("usuario"), QStringLiteral("Usuário (padrão: ISC_USER ou SYSDBA)."),
                                     QStringLiteral("usuario"));
    const QCommandLineOption senhaArquivo(QStringLiteral("senha-arquivo"),
                                          QStringLiteral("Lê a senha da primeira linha do arquivo."),
                                          QStringLiteral("arquivo"));
    const QCommandLineOption semBackup(QStringLiteral("sem-backup"), QStringLiteral("Não faz o backup anterior."));
    const QCommandLineOption semCompactar(QStringLiteral("sem-compactar"), QStringLiteral("Não compacta no fim."));
    const QCommandLineOption relatorio(QStringLiteral("relatorio"), QStringLiteral("Grava o resultado em JSON."),
                                       QStringLiteral("arquivo"));
    const QCommandLineOption lista(QStringLiteral("lista"),
                                   QStringLiteral("Arquivo CSV de lojas: nome,servidor,banco[,usuario]."),
                                   QStringLiteral("arquivo"));
    const QCommandLineOption paralelo(QStringLiteral("paralelo"),
                                      QStringLiteral("Quantas lojas ao mesmo tempo (padrão 4)."), QStringLiteral("n"),
                                      QStringLiteral("4"));
    const QCommandLineOption ensaio(QStringLiteral("ensaio"),
                                    QStringLiteral("Ensaio: mostra se a atualização daria certo e quanto demoraria, "
                                                   "sem mudar o banco (usa uma cópia de rascunho)."));
    const QCommandLineOption repetir(QStringLiteral("repetir-falhas"),
                                     QStringLiteral("Executa de novo só as lojas que falharam num relatório anterior."),
                                     QStringLiteral("relatorio"));
    const QCommandLineOption senhaEntrada(QStringLiteral("senha-entrada"),
                                          QStringLiteral("Lê a senha da primeira linha da entrada padrão."));
    const QCommandLineOption atualizar(
        QStringLiteral("atualizar"),
        QStringLiteral("Com --repetir-falhas de um relatório de ensaio: atualiza de verdade, em vez de ensaiar."));
    const QCommandLineOption aprovada(
        QStringLiteral("lista-aprovada"),
        QStringLiteral("Atualiza de verdade as lojas cujo ensaio terminou com 0 num relatório de ensaio, na ordem "
                       "dele."),
        QStringLiteral("relatorio"));
    const QCommandLineOption verificar(
        QStringLiteral("verificar"),
        QStringLiteral("Só olha: mostra de cada loja o Firebird, o ODS, a página, o tamanho, a versão, os "
                       "conectados, o estado e a pasta de backup, sem mudar nada."));
    p.addOptions({servidor, banco, usuario, senhaArquivo, senhaEntrada, semBackup, semCompactar, relatorio, lista,
                  paralelo, repetir, atualizar, aprovada, ensaio, verificar});
    // A help option of its own: Qt 6.8's also adds --help-all, for Qt's
    // generic options, with a text no Portuguese translation has.
    const QCommandLineOption ajuda({QStringLiteral("h"), QStringLiteral("help")},
                                   QStringLiteral("Mostra a ajuda nas opções da linha de comando."));
    p.addOption(ajuda);
    const QCommandLineOption versao = p.addVersionOption();

    const auto uso = [](const QString &Texto) {
        Escrever(stderr, Texto + QStringLiteral("\nUse --help para ver as opções."));
        return Saida::Uso;
    };
    if (!p.parse(App.arguments()))
        return uso(p.errorText());
    if (p.isSet(ajuda)) {
        Escrever(stdout, p.helpText());
        return 0;
    }
    if (p.isSet(versao)) {
        Escrever(stdout, QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                                     QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!p.positionalArguments().isEmpty())
        return uso(QStringLiteral("Argumento desconhecido: %1").arg(p.positionalArguments().first()));
    const int fontes = int(p.isSet(lista)) + int(p.isSet(repetir)) + int(p.isSet(aprovada));
    const bool varias = fontes > 0;
    if (varias && (p.isSet(servidor) || p.isSet(banco)))
        return uso(QStringLiteral("Use --servidor e --banco, ou --lista, --repetir-falhas ou --lista-aprovada."));
    if (fontes > 1)
        return uso(QStringLiteral("Use só uma de --lista, --repetir-falhas e --lista-aprovada."));
    if (p.isSet(atualizar) && !p.isSet(repetir))
        return uso(QStringLiteral("--atualizar vale só com --repetir-falhas."));
    if (p.isSet(atualizar) && p.isSet(ensaio))
        return uso(QStringLiteral("Use --atualizar ou --ensaio, não os dois."));
    if (p.isSet(verificar) && (p.isSet(ensaio) || p.isSet(atualizar)))
        return uso(QStringLiteral("--verificar não muda nada: não vale com --ensaio nem com --atualizar."));
    if (!varias && (!p.isSet(servidor) || !p.isSet(banco)))
        return uso(QStringLiteral("Faltam --servidor e --banco (ou --lista)."));
    bool numero = false;
    const int n = p.value(paralelo).toInt(&numero);
    if (!numero || n < 1)
        return uso(QStringLiteral("--paralelo precisa de um número a partir de 1."));

    TOpcoes opcoes;
    opcoes.Backup = !p.isSet(semBackup);
    opcoes.Compactar = !p.isSet(semCompactar);
    opcoes.Ensaio = p.isSet(ensaio);

    QList<TLoja> lojas;
    QString erro;
    if (p.isSet(lista)) {
        const QByteArray conteudo = LerArquivo(p.value(lista), erro);
        if (erro.isEmpty())
            lojas = LerLista(conteudo, erro);
        if (!erro.isEmpty())
            return uso(QStringLiteral("Lista %1: %2").arg(p.value(lista), erro));
    } else if (p.isSet(repetir) || p.isSet(aprovada)) {
        const QString arquivo = p.value(p.isSet(repetir) ? repetir : aprovada);
        const QByteArray conteudo = LerArquivo(arquivo, erro);
        QList<TResultadoLoja> anteriores;
        if (erro.isEmpty())
            anteriores = LerRelatorio(conteudo, erro);
        if (!erro.isEmpty())
            return uso(QStringLiteral("Relatório %1: %2").arg(arquivo, erro));
        // A look runs nothing: its rows say nothing of what failed or passed.
        if (std::any_of(anteriores.cbegin(), anteriores.cend(),
                        [](const TResultadoLoja &r) { return r.SoVerificacao; }))
            return uso(QStringLiteral("Relatório %1: é de uma verificação (--verificar), em que nada foi executado; "
                                      "use a lista.")
                           .arg(arquivo));
        const bool deEnsaio = std::any_of(anteriores.cbegin(), anteriores.cend(),
                                          [](const TResultadoLoja &r) { return r.Ensaio; });
        if (p.isSet(aprovada)) {
            if (!deEnsaio)
                return uso(QStringLiteral("Relatório %1: não é de um ensaio.").arg(arquivo));
            for (const TResultadoLoja &r : anteriores)
                if (r.Resultado == Saida::Atualizado)
                    lojas << r.Loja;
            if (lojas.isEmpty()) {
                Escrever(stdout, QStringLiteral("Nenhuma loja foi aprovada nesse ensaio: nada a fazer."));
                return 0;
            }
        } else {
            for (const TResultadoLoja &r : anteriores)
                if (r.Resultado != Saida::Atualizado)
                    lojas << r.Loja;
            if (lojas.isEmpty()) {
                Escrever(stdout, QStringLiteral("Nenhuma loja falhou nesse relatório: nada a fazer."));
                return 0;
            }
            // A rehearsal's report is repeated as a rehearsal: a real update
            // is asked for by name.
            if (deEnsaio && !p.isSet(atualizar)) {
                opcoes.Ensaio = true;
                Escrever(stdout, QStringLiteral("Repetindo o ensaio das lojas que falharam (o relatório é de um "
                                                "ensaio; para atualizar de verdade, use --atualizar)."));
            }
        }
    }

    // The sources in the order they apply: what the command line names,
    // then the environment, then the terminal.
    QString senha;
    if (p.isSet(senhaArquivo)) {
        const QByteArray conteudo = LerArquivo(p.value(senhaArquivo), erro);
        if (!erro.isEmpty())
            return uso(erro);
        senha = QString::fromUtf8(conteudo.split('\n').value(0)).remove(QLatin1Char('\r'));
    } else if (p.isSet(senhaEntrada)) {
        QByteArray linha;
        char c;
        while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
            linha += c;
        senha = QString::fromUtf8(linha).remove(QLatin1Char('\r'));
    } else if (qEnvironmentVariableIsSet("ISC_PASSWORD")) {
        senha = qEnvironmentVariable("ISC_PASSWORD");
    } else if (isatty(STDIN_FILENO)) {
        senha = PerguntarSenha();
    }
    if (senha.isEmpty())
        return uso(QStringLiteral("Sem senha: use --senha-arquivo ou --senha-entrada, defina ISC_PASSWORD, ou rode "
                                  "num terminal."));
    const QString usuarioPadrao =
        p.isSet(usuario) ? p.value(usuario)
                         : qEnvironmentVariable("ISC_USER", QStringLiteral("SYSDBA"));

    QList<TResultadoLoja> resultados;
    int codigo = 0;
    if (!varias) {
        const TLoja loja{p.value(banco), p.value(servidor), p.value(banco), usuarioPadrao};
        if (p.isSet(verificar)) {
            resultados << VerificarUm(loja, senha);
            Escrever(stdout, TabelaDaVerificacao(resultados).trimmed());
        } else {
            resultados << AtualizarUm(loja, senha, opcoes);
        }
        codigo = resultados[0].Resultado;
    } else {
        for (TLoja &l : lojas)
            if (l.Usuario.isEmpty())
                l.Usuario = usuarioPadrao;
        // A look at every shop before anything runs: what the evening will
        // find, and no two lines on one database.
        Escrever(stdout, lojas.size() == 1 ? QStringLiteral("Verificando 1 loja...")
                                           : QStringLiteral("Verificando %1 lojas...").arg(lojas.size()));
        const QList<TResultadoLoja> vistas =
            TFrota(lojas, {QStringLiteral("--verificar")}, senha, n, false).Executar();
        Escrever(stdout, TabelaDaVerificacao(vistas).trimmed());
        // Lines that only the server's process joins are confirmed by an
        // attachment: one made through a line shows on the other.
        std::unique_ptr<TdmA> modulo;
        const QStringList repetidas = MesmoBanco(vistas, [&](const TLoja &A, const TLoja &B) {
            try {
                if (!modulo)
                    modulo = std::make_unique<TdmA>();
                return TInventario::MesmoBanco(*modulo, {A.Servidor, A.Banco, A.Usuario, senha},
                                               {B.Servidor, B.Banco, B.Usuario, senha});
            } catch (const std::exception &) {
                return false;
            }
        });
        for (const QString &frase : repetidas)
            Escrever(stderr, QStringLiteral("Lista: %1.").arg(frase));
        if (p.isSet(verificar) || PedidoDeParar()) {
            QList<TResultadoLoja> linhas = vistas;
            // Stopped before the run: every shop is still to run, and its
            // row says so, whatever the look found.
            if (!p.isSet(verificar))
                for (TResultadoLoja &r : linhas) {
                    r.SoVerificacao = false;
                    r.Ensaio = opcoes.Ensaio;
                    r.Resultado = Saida::Erro;
                    r.Mensagem = QStringLiteral("não iniciada");
                    r.VersaoAntes.reset();
                }
            if (p.isSet(relatorio) && !GravarRelatorio(p.value(relatorio), linhas, erro)) {
                Escrever(stderr, erro);
                return Saida::Erro;
            }
            const bool todas = std::all_of(vistas.cbegin(), vistas.cend(),
                                           [](const TResultadoLoja &r) { return r.Resultado == Saida::Atualizado; });
            return todas && repetidas.isEmpty() && !PedidoDeParar() ? 0 : Saida::Erro;
        }
        if (!repetidas.isEmpty()) {
            Escrever(stderr, QStringLiteral("A lista foi recusada: duas execuções ao mesmo tempo no mesmo banco de "
                                            "dados não podem acontecer. Nada foi executado."));
            return Saida::Uso;
        }
        // A line whose server answered but whose database could not be read
        // (closed, damaged, in a restore) may be another line's database
        // under a name the look could not check: those run one at a time,
        // after the others.
        QList<int> juntas, sos;
        for (int i = 0; i < lojas.size(); ++i)
            (vistas.value(i).Verificacao && vistas[i].Verificacao->SoOServidor ? sos : juntas) << i;
        resultados.resize(lojas.size());
        for (const auto &[indices, paralelo] : {std::pair{juntas, n}, std::pair{sos, 1}}) {
            QList<TLoja> parte;
            for (int i : indices)
                parte << lojas[i];
            if (parte.isEmpty() || PedidoDeParar())
                continue;
            const QList<TResultadoLoja> feitos = TFrota(parte, opcoes.Argumentos(), senha, paralelo).Executar();
            for (int k = 0; k < indices.size(); ++k)
                resultados[indices[k]] = feitos.value(k);
        }
        for (int i = 0; i < resultados.size(); ++i) {
            if (resultados[i].Loja.Nome.isEmpty()) {
                resultados[i].Loja = lojas[i];
                resultados[i].Mensagem = QStringLiteral("não iniciada");
            }
            resultados[i].Verificacao = vistas.value(i).Verificacao;
        }
        // Every row of a rehearsal is a rehearsal's, those whose child wrote
        // no report included: repeating it must rehearse them again.
        for (TResultadoLoja &r : resultados)
            r.Ensaio = r.Ensaio || opcoes.Ensaio;
        Escrever(stdout, QString());
        Escrever(stdout, Tabela(resultados).trimmed());
        for (const TResultadoLoja &r : resultados)
            if (r.Resultado != Saida::Atualizado)
                codigo = Saida::Erro;
    }
    if (p.isSet(relatorio) && !GravarRelatorio(p.value(relatorio), resultados, erro)) {
        Escrever(stderr, erro);
        return Saida::Erro;
    }
    if (PedidoDeParar())
        return Saida::Erro;
    return codigo;
}

} // namespace Banco
