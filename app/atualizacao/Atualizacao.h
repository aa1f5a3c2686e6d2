#pragma once

// The update, backup and compaction workflow, free of any window: the main
// window and the command line are two front ends over it. It drives the
// data module's connection, transaction, query and scripts and the service
// manager, and tells its front end what to show through TSaidaAtualizacao.
//
// While it runs, the database is in the server's multi-user maintenance
// mode: only the administrator and the owner can attach, so no shop user can
// work on a database that is being changed and then replaced. Every way out
// brings the database back online. The compaction runs with the database
// read-only, so nothing written after its backup began can be lost when the
// restore replaces the database.

#include "Exceptions.h"
#include "Trava.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class TdmA;
class TIBConfigService;
class TIBControlAndQueryService;
class TIBCustomService;
class TIBScript;
class TRascunho;
class TConexaoPropria;
struct TDiario;
struct TRetrato;

// The panes a run writes to.
enum class TPainel { Atualizar = 0, Backup, CompactarBackup, CompactarRestaurar };
// The pane's name in the run log and, but for Atualizar's, before its lines
// on the command line.
QString NomeDoPainel(TPainel Painel);

// The exit codes of a run from the command line, documented in --help and
// the README.
namespace Saida {
inline constexpr int Atualizado = 0;
inline constexpr int Erro = 1;
inline constexpr int Uso = 2;
inline constexpr int OutrosUsuarios = 3;
inline constexpr int SemAcesso = 4;
inline constexpr int Script = 5;
inline constexpr int BackupOuCompactacao = 6;
inline constexpr int EmManutencao = 7;
} // namespace Saida

// The step a run is in, so that a front end can tell what failed. A new
// step needs its row in the table of steps (Atualizacao.cpp), which the
// compiler checks.
enum class TEtapa {
    Login = 0,
    Verificacao,
    Conexao,
    Configuracao,
    Backup,
    RestauracaoEnsaio,
    Scripts,
    Limpeza,
    Compactacao,
    Liberacao,
    Fim
};

// What a run knows of each step.
struct TDadosDaEtapa {
    TEtapa Etapa;
    const char *Nome;  // for reports
    int De, Ate;       // the share of the whole run it covers, 0 to 100
    bool NaEstimativa; // counts in the time the real update would take
    int Codigo;        // the exit code when the run fails in it
};
const TDadosDaEtapa &DadosDaEtapa(TEtapa Etapa);
QString NomeDaEtapa(TEtapa Etapa);

// How a run ended when it raised nothing.
enum class TResultado { Concluido = 0, JaAtualizado, SemConfiguracao, OutrosUsuarios };

// The result in the words of the pane or the box.
QString TextoDoResultado(TResultado Resultado);

struct TLogin {
    QString Servidor;
    QString BancoDados;
    QString Usuario;
    QString Senha;
};

// What a front end shows of a run. Every call is synchronous.
class TSaidaAtualizacao {
public:
    virtual ~TSaidaAtualizacao() = default;
    // One line appended to a pane (an empty text is an empty line).
    virtual void Linha(TPainel Painel, const QString &Texto) = 0;
    // The one status text.
    virtual void Status(const QString &Texto) = 0;
    // Other users are attached: the run ends without changing anything.
    virtual void OutrosUsuarios(int32_t Conectados) = 0;
    // The tool's connection is open; from here on the run cannot be repeated.
    virtual void Conectou() {}
    // The run finished.
    virtual void Concluido() = 0;
    // The server is working on a request (the hourglass).
    virtual void Ocupado(bool Sim) { (void)Sim; }
    // After each line of the server's output, while a service runs.
    virtual void Processar() {}
    // The share of the whole run done, 0 to 100.
    virtual void Progresso(int Percentual) { (void)Percentual; }
    // Asked at every point where the run can stop safely; true stops it
    // there with EInterrompido.
    virtual bool Interromper() { return false; }
};

// The run was stopped at a safe point on request.
ABD_EXCEPTION_CLASS(EInterrompido, Exception)
// The database could not be brought back online; the message says how.
ABD_EXCEPTION_CLASS(EBancoEmManutencao, Exception)
// The compaction found the database in use or its result wrong; the message
// says what state the database is in and names the backups.
ABD_EXCEPTION_CLASS(ECompactacao, Exception)

class TAtualizacao {
public:
    TAtualizacao(TdmA &Modulo, TSaidaAtualizacao &Saida);
    ~TAtualizacao();
    TAtualizacao(const TAtualizacao &) = delete;
    TAtualizacao &operator=(const TAtualizacao &) = delete;

    bool Backup() const { return FBackup; }
    void SetBackup(bool Value) { FBackup = Value; }
    bool Compactar() const { return FCompactar; }
    void SetCompactar(bool Value) { FCompactar = Value; }

    // A rehearsal: the live database is only read, never locked or changed.
    // Its backup (named as a rehearsal's) is restored into a scratch database
    // of this run's own, where the scripts, the source clearing and the
    // compaction run as the update would run them; that database is dropped
    // at the end, whatever happened.
    bool Ensaio() const { return FEnsaio; }
    void SetEnsaio(bool Value) { FEnsaio = Value; }

    // The server's output read one line per query, as gbak reads it, rather
    // than in blocks; the same lines either way, at a round trip per line.
    bool LinhaPorConsulta() const { return FLinhaPorConsulta; }
    void SetLinhaPorConsulta(bool Value) { FLinhaPorConsulta = Value; }

    // The whole update with these login values. Raises what it does not
    // handle itself; the database is online again whatever happened.
    TResultado Executar(const TLogin &Login);

    TEtapa Etapa() const { return FEtapa; }
    const QString &PastaBackup() const { return FPastaBackup; }
    // The version read at the start (0 before it was read).
    int32_t VersaoBancoDados() const { return FVersaoBancoDados; }
    int32_t VersaoBancoDadosAtual() const { return FVersaoBancoDadosAtual; }
    // The version the database holds now, as far as this run knows.
    int32_t VersaoAtingida() const { return FVersaoAtingida; }
    // The backups this run wrote (empty when it wrote none).
    const QString &ArquivoBackup() const { return FArquivoBackup; }
    const QString &ArquivoCompactacao() const { return FArquivoCompactacao; }
    // The seconds each step took, in the order of the steps.
    const QMap<TEtapa, double> &Duracoes() const { return FDuracoes; }
    // The seconds the real update would take: the steps it performs.
    double Estimativa() const;
    // The script that failed (0 when none did) and the statement it stopped at.
    int32_t ScriptQueFalhou() const { return FScriptQueFalhou; }
    const QString &ComandoQueFalhou() const { return FComandoQueFalhou; }

    // The pieces of the run.
    int32_t UsuariosConectados();
    void ExecutarScript(int32_t VersaoBancoDados, int32_t VersaoScript, TIBScript *Script);
    void ExecutarBackup();
    void ExecutarCompactacao();

    // The database's part of the backup files' names: as typed, or the
    // file's name without its extension and eight hex digits of the path
    // when a path was typed.
    static QString NomeNosArquivos(const QString &Banco);
    // The backup file: folder, database as typed, start time, version.
    static QString NomeArquivoBackup(const QString &Pasta, const QString &Banco, int32_t Versao,
                                     const QDateTime &Inicio);
    // The commands that bring a database left in maintenance back to the
    // shop, for a person to run with the administrator's ISC_USER and
    // ISC_PASSWORD.
    static QStringList ComandosParaLiberar(const QString &Servidor, const QString &Banco);
    // "Início"/"Fim" moments and the "Demorou" elapsed time.
    static QString Momento(const QDateTime &Quando);
    static QString Duracao(const QDateTime &Inicio, const QDateTime &Fim);
    // A line of service output that reports an error.
    static bool LinhaDeErro(const QString &Linha);

    // The statements that blank the sources of the application's triggers
    // and procedures (only rows that still hold one).
    static const char *const LimparTriggers;
    static const char *const LimparProcedures;

private:
    // The steps of a run, in the order it takes them.
    TResultado Atualizar();
    // Puts the database into maintenance; false when another user's
    // attachment keeps it from it.
    bool Bloquear();
    // Another run seems to be working on the database it found in
    // maintenance.
    bool OutraExecucao();
    // The run's own attachment to the live database, held through the
    // compaction (where the run may have nothing else attached for minutes)
    // so that a second run counts it and is refused; let go around what
    // needs the database to itself. Not held through the backup, the scripts
    // and the source clearing, where the run's own connection is attached:
    // with such an attachment held from before the pre-update backup to after
    // the source clearing, Firebird 3.0.11 kept the procedures' sources
    // (seen here; the triggers' were blanked).
    void Guardar();
    // Reads the live database through the guard's attachment when the run
    // holds one (its transaction ended after each read, so that the next one
    // sees the database as it is then and nothing is held while the server
    // works), or
    // through an attachment of its own: over a slow link each attachment
    // costs a handful of round trips.
    void Lendo(const std::function<void(TConexaoPropria &)> &Ler);
    void Sozinho(const std::function<void()> &Fazer);
    // Scratch databases that a killed run left: each was named in a note
    // written before it was made, so only those are dropped.
    void ApagarSobras();
    // The rehearsal's scratch database: restored from the backup, checked
    // against the live database, and dropped again.
    void RestaurarEnsaio(const QString &Arquivo);
    void ApagarEnsaio();
    bool ExecutarSozinho(const char *Sql, const QString &Falha);
    // False when it could not be done.
    bool DesfazerScript3();
    // The compaction's phases: the database made read-only and read; its
    // backup; that backup restored into a scratch database and compared; the
    // restore that replaces the database, compared again.
    TRetrato Congelar();
    int32_t CopiarParaCompactar(const QString &Arquivo);
    void TestarRestauracao(const QString &Arquivo, const TRetrato &Antes);
    void Substituir(const QString &Arquivo, const TRetrato &Antes);
    // Returns the header settings the restored database came back with.
    QMap<QString, qint64> ConferirSubstituicao(const TRetrato &Antes);
    // Restored is what ConferirSubstituicao returned.
    void Reabrir(const TRetrato &Antes, const QMap<QString, qint64> &Restaurado);
    // A replacing restore that a journal says did not end, done again.
    void Reparar(const TDiario &Diario);
    // What Liberar does while the replacing restore is not proven.
    void ManterFechado(std::exception_ptr &Erro);
    // What the compaction's failure messages say of a database it left as it was.
    QString Mantido() const;
    // Brings the database online and checks that it is; Erro is what
    // ended the run, if anything did.
    void Liberar(std::exception_ptr &Erro);

    // A phase of a pane: a blank line, its title (when it has one) and its
    // start, what Fazer writes, then its end and how long it took (only when
    // Fazer returns). Returns what Fazer returns.
    int32_t Fase(TPainel Painel, const QString &Titulo, const QDateTime &Inicio,
                 const std::function<int32_t()> &Fazer);
    void VerificarInterrupcao();
    void Conectar(TIBCustomService &Servico) const;
    void Configurar(TIBConfigService &Servico) const;
    // One properties action on the database through a service of its own.
    void Propriedades(const std::function<void(TIBConfigService &)> &Acao);
    // Back into maintenance at once, whoever is attached; errors are left
    // for the read-back or the comparison that follows.
    void Fechar();
    // Reads a started service's output into a pane; returns its error lines.
    // The progress goes from De to Ate as the tables' data is written or read.
    int32_t LerSaida(TIBControlAndQueryService &Servico, TPainel Painel, int De, int Ate);
    static int32_t ContarTabelas(TConexaoPropria &Conexao);
    // A restore of Arquivo into Banco (Substituir: over it) with its output
    // in Painel; Iniciado runs once the server took the request. Returns the
    // error lines.
    int32_t Restaurar(const QString &Arquivo, const QString &Banco, bool Substituir, TPainel Painel, int De, int Ate,
                      const std::function<void()> &Iniciado = {});
    void Linha(TPainel Painel, const QString &Texto);
    void Mudar(TEtapa Etapa);
    void Avancar(int Percentual);
    // A share of the current step's band: Parte of Partes.
    int Ponto(int Parte, int Partes) const;

    TdmA &FModulo;
    TSaidaAtualizacao &FSaida;
    bool FBackup = true;
    bool FCompactar = true;
    TEtapa FEtapa = TEtapa::Login;
    QString FPastaBackup;
    int32_t FVersaoBancoDados = 0;
    int32_t FVersaoBancoDadosAtual = 5;
    int32_t FVersaoAtingida = 0;
    QString FArquivoBackup;
    QString FArquivoCompactacao;
    bool FEmManutencao = false;
    bool FSomenteLeitura = false;
    // From the start of the replacing restore until its result is proven.
    bool FSubstituindo = false;
    // Stopped between scripts 3 and 4, and script 3 could not be undone.
    bool FMeioDosScripts = false;
    int FProgresso = 0;
    int32_t FTabelas = 0;
    bool FEnsaio = false;
    bool FLinhaPorConsulta = false;
    std::unique_ptr<TRascunho> FRascunhoDeEnsaio;
    std::unique_ptr<TConexaoPropria> FGuarda;
    TTrava FTrava;
    QString FNomeArquivos; // the database's part of the backup files' names
    QMap<TEtapa, double> FDuracoes;
    QElapsedTimer FRelogio;
    qint64 FMarca = 0;
    int32_t FScriptQueFalhou = 0;
    QString FComandoQueFalhou;
};
