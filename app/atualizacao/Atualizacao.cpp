#include "Atualizacao.h"

#include "A.h"
#include "ConexaoPropria.h"
#include "IBDatabase.h"
#include "IBQuery.h"
#include "IBScript.h"
#include "IBServices.h"
#include "Rascunhos.h"
#include "Retrato.h"
#include "SysUtils.h"
#include "Guardas.h"
#include "Diario.h"
#include "Trava.h"

#include <QCryptographicHash>
#include <QFile>
#include <QThread>
#include <QScopeGuard>
#include <optional>
#include <QLocale>

namespace {

QString Versao3(int32_t Versao)
{
    return QStringLiteral("%1").arg(Versao, 3, 10, QLatin1Char('0'));
}

// Every step of a run, in the order of TEtapa: the compiler checks that
// none is missing and that each row stands where its step's ordinal says.
constexpr TDadosDaEtapa Etapas[] = {
    {TEtapa::Login, "login", 0, 0, false, Saida::Erro},
    {TEtapa::Verificacao, "verificacao", 0, 2, true, Saida::SemAcesso},
    {TEtapa::Conexao, "conexao", 0, 2, true, Saida::SemAcesso},
    {TEtapa::Configuracao, "configuracao", 0, 2, true, Saida::Erro},
    {TEtapa::Backup, "backup", 2, 20, true, Saida::BackupOuCompactacao},
    {TEtapa::RestauracaoEnsaio, "restauracao_ensaio", 15, 20, false, Saida::BackupOuCompactacao},
    {TEtapa::Scripts, "scripts", 20, 45, true, Saida::Script},
    {TEtapa::Limpeza, "limpeza", 45, 50, true, Saida::Erro},
    {TEtapa::Compactacao, "compactacao", 50, 97, true, Saida::BackupOuCompactacao},
    {TEtapa::Liberacao, "liberacao", 97, 100, true, Saida::EmManutencao},
    {TEtapa::Fim, "fim", 100, 100, false, Saida::Erro},
};
static_assert(std::size(Etapas) == size_t(TEtapa::Fim) + 1, "one row per step");
constexpr bool EmOrdem()
{
    for (size_t i = 0; i < std::size(Etapas); ++i)
        if (Etapas[i].Etapa != TEtapa(i) || Etapas[i].De > Etapas[i].Ate)
            return false;
    return true;
}
static_assert(EmOrdem(), "each step's row at its ordinal, with its band in order");

} // namespace

// ---------------------------------------------------------------------------

const TDadosDaEtapa &DadosDaEtapa(TEtapa Etapa)
{
    return Etapas[size_t(Etapa)];
}

QString NomeDaEtapa(TEtapa Etapa)
{
    return QString::fromLatin1(DadosDaEtapa(Etapa).Nome);
}

QString NomeDoPainel(TPainel Painel)
{
    switch (Painel) {
    case TPainel::Atualizar:
        return QStringLiteral("atualizar");
    case TPainel::Backup:
        return QStringLiteral("backup");
    case TPainel::CompactarBackup:
        return QStringLiteral("compactar");
    case TPainel::CompactarRestaurar:
        return QStringLiteral("restaurar");
    }
    return {};
}

QString TextoDoResultado(TResultado Resultado)
{
    switch (Resultado) {
    case TResultado::Concluido:
        return QStringLiteral("Concluído");
    case TResultado::JaAtualizado:
        return QStringLiteral("Banco dados já esta atualizado.");
    case TResultado::SemConfiguracao:
        return QStringLiteral("Erro: Não conseguiu ler a pasta backup e versão banco dados.");
    case TResultado::OutrosUsuarios:
        return QStringLiteral("Outros usuários conectados ao banco de dados");
    }
    return {};
}

const char *const TAtualizacao::LimparTriggers =
    "UPDATE RDB$TRIGGERS SET RDB$TRIGGER_SOURCE = NULL WHERE (RDB$SYSTEM_FLAG IS NULL OR RDB$SYSTEM_FLAG = 0) "
    "AND RDB$TRIGGER_SOURCE IS NOT NULL";
const char *const TAtualizacao::LimparProcedures =
    "UPDATE RDB$PROCEDURES SET RDB$PROCEDURE_SOURCE = NULL WHERE (RDB$SYSTEM_FLAG IS NULL OR RDB$SYSTEM_FLAG = 0) "
    "AND RDB$PROCEDURE_SOURCE IS NOT NULL";

TAtualizacao::TAtualizacao(TdmA &Modulo, TSaidaAtualizacao &Saida) : FModulo(Modulo), FSaida(Saida) {}

TAtualizacao::~TAtualizacao() = default;

// ---------------------------------------------------------------------------
// The run, top to bottom in the order it takes its steps.

TResultado TAtualizacao::Executar(const TLogin &Login)
{
    FRelogio.start();
    FMarca = 0;
    FEtapa = TEtapa::Login;
    FDuracoes.clear();
    FTabelas = 0;
    FVersaoBancoDadosAtual = 5;
    FModulo.dbAtualizar->SetDatabaseName(Login.Servidor + QLatin1Char(':') + Login.BancoDados);
    FModulo.dbAtualizar->Params().SetValues(QStringLiteral("User_Name"), Login.Usuario);
    FModulo.dbAtualizar->Params().SetValues(QStringLiteral("Password"), Login.Senha);
    FModulo.Servidor = Login.Servidor;
    FModulo.BancoDados = Login.BancoDados;
    FModulo.Usuario = QLocale().toUpper(Login.Usuario);
    FModulo.Senha = Login.Senha;
    FNomeArquivos = NomeNosArquivos(Login.BancoDados) + (FEnsaio ? QStringLiteral(".ensaio") : QString());
    // The lock comes first, before anything looks at what another run of
    // this machine may be working on; it goes with the run, whatever way it
    // leaves.
    const auto soltar = qScopeGuard([this] { FTrava = {}; });
    if (!FEnsaio) {
        Mudar(TEtapa::Verificacao);
        FTrava = TTrava::Tomar(FModulo);
        if (!FTrava.Tomada) {
            Linha(TPainel::Atualizar,
                  QStringLiteral("Outra execução deste programa, neste computador, está atualizando este banco de "
                                 "dados; nada foi mudado."));
            FSaida.OutrosUsuarios(1);
            return TResultado::OutrosUsuarios;
        }
    }
    ApagarSobras();
    const std::optional<TDiario> diario = TDiario::Ler(FModulo.Servidor, FModulo.BancoDados, FTrava.Nome);
    if (diario && FEnsaio)
        throw ECompactacao(QStringLiteral("A última compactação deste banco de dados não terminou: execute a "
                                          "atualização (sem ensaio), que o restaura outra vez do backup %1.")
                               .arg(diario->Backup));
    if (!FEnsaio && !diario) {
        int32_t conectados = UsuariosConectados();
        // An attachment of a moment (another run of this machine looking up
        // the database's name, a monitoring probe) is not a user: once more,
        // a little later.
        if (conectados > 0) {
            QThread::msleep(500);
            conectados = UsuariosConectados();
        }
        if (conectados == 0 && !Bloquear())
            // Someone attached between the count and the lock: count again.
            conectados = qMax(UsuariosConectados(), 1);
        if (conectados > 0) {
            FSaida.OutrosUsuarios(conectados);
            FModulo.dbAtualizar->Close();
            return TResultado::OutrosUsuarios;
        }
    }

    std::exception_ptr erro;
    TResultado resultado = TResultado::Concluido;
    try {
        if (diario)
            Reparar(*diario);
        resultado = Atualizar();
    } catch (...) {
        erro = std::current_exception();
    }
    // Version 3 is the state script 4 expects to find, with the balance
    // triggers off: never one for the shop to work in.
    if (erro && !FEnsaio && FVersaoAtingida == 3 && !DesfazerScript3())
        FMeioDosScripts = true;
    // Whatever happened: a rehearsal's scratch database goes, the live
    // database comes back online. The step that failed stays the run's step,
    // so that a front end can tell what failed.
    Mudar(FEtapa);
    if (FEnsaio)
        ApagarEnsaio();
    else
        Liberar(erro);
    if (erro)
        std::rethrow_exception(erro);
    Mudar(TEtapa::Fim);
    if (resultado == TResultado::Concluido) {
        Avancar(DadosDaEtapa(TEtapa::Fim).De);
        if (!FEnsaio) {
            FSaida.Status(QStringLiteral("Concluído."));
            FSaida.Concluido();
        }
    }
    return resultado;
}

TResultado TAtualizacao::Atualizar()
{
    Mudar(TEtapa::Conexao);
    // A compaction that did not end leaves the database read-only, and the
    // scripts must write.
    bool somenteLeitura = false;
    if (!FEnsaio) {
        TConexaoPropria conexao(FModulo, FModulo.BancoDados);
        somenteLeitura = LerEstado(conexao).SomenteLeitura;
        // For the backup's progress, while this attachment is at hand.
        if (FBackup)
            FTabelas = ContarTabelas(conexao);
    }
    if (somenteLeitura) {
        Linha(TPainel::Atualizar,
              QStringLiteral("Aviso: o banco de dados estava somente leitura; ele volta a leitura e escrita."));
        FSomenteLeitura = true;
        Sozinho([this] { Propriedades([](TIBConfigService &S) { S.SetReadOnly(false); }); });
        FSomenteLeitura = false;
    }
    FModulo.dbAtualizar->Open();
    FSaida.Conectou();
    Linha(TPainel::Atualizar, QStringLiteral("-----------------"));

    Mudar(TEtapa::Configuracao);
    TIBQuery *q = FModulo.qAtualizar;
    q->Close();
    q->SQL().Clear();
    q->SQL().Add(QStringLiteral("SELECT PASTA_BACKUP, VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"));
    q->Open();
    if (q->IsEmpty()) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: Não conseguiu ler a pasta backup e versão banco dados."));
        FModulo.dbAtualizar->Close();
        return TResultado::SemConfiguracao;
    }
    FPastaBackup = q->FieldByName(QStringLiteral("PASTA_BACKUP")).AsString();
    FVersaoBancoDados = q->FieldByName(QStringLiteral("VERSAO_BANCO_DADOS")).AsInteger();
    FVersaoAtingida = FVersaoBancoDados;
    Linha(TPainel::Atualizar, QStringLiteral("Banco dados versão %1").arg(FVersaoBancoDados));
    if (FVersaoBancoDados >= FVersaoBancoDadosAtual) {
        Linha(TPainel::Atualizar, QString());
        Linha(TPainel::Atualizar, QStringLiteral("Banco dados já esta atualizado."));
        return TResultado::JaAtualizado;
    }

    if (FBackup || FEnsaio) {
        VerificarInterrupcao();
        Mudar(TEtapa::Backup);
        Linha(TPainel::Atualizar, QString());
        Linha(TPainel::Atualizar, QStringLiteral("Backup versão %1").arg(FVersaoBancoDados));
        Linha(TPainel::Backup, QStringLiteral("Backup versão %1").arg(FVersaoBancoDados));
        ExecutarBackup();
    }
    Linha(TPainel::Atualizar, QString());
    if (FModulo.tAtualizar->Active())
        FModulo.tAtualizar->SetActive(false);
    if (FEnsaio) {
        Mudar(TEtapa::RestauracaoEnsaio);
        RestaurarEnsaio(FArquivoBackup);
    }

    Mudar(TEtapa::Scripts);
    TIBScript *const scripts[] = {FModulo.sVersao2, FModulo.sVersao3, FModulo.sVersao4, FModulo.sVersao5};
    for (int32_t versao = 2; versao <= 5; ++versao) {
        if (FVersaoBancoDados < versao)
            VerificarInterrupcao();
        Avancar(Ponto(versao - 2, 4));
        ExecutarScript(FVersaoBancoDados, versao, scripts[versao - 2]);
    }

    Mudar(TEtapa::Limpeza);
    ExecutarSozinho(LimparTriggers, QStringLiteral("Erro: Não limpou trigger."));
    ExecutarSozinho(LimparProcedures, QStringLiteral("Erro: Não limpou store procedure."));

    if (FCompactar) {
        VerificarInterrupcao();
        Mudar(TEtapa::Compactacao);
        Linha(TPainel::Atualizar, QString());
        Linha(TPainel::Atualizar, QStringLiteral("Compactar"));
        ExecutarCompactacao();
    }
    FModulo.dbAtualizar->Close();
    return TResultado::Concluido;
}

int32_t TAtualizacao::UsuariosConectados()
{
    TIBServerProperties propriedades;
    TEspera espera(FSaida);
    Conectar(propriedades);
    propriedades.SetActive(true);
    TDesligar desligar{propriedades};
    propriedades.SetOptions({TPropertyOption::Database});
    propriedades.FetchDatabaseInfo();
    const int32_t conectados = propriedades.DatabaseInfo().NoOfAttachments;
    propriedades.SetActive(false);
    return conectados;
}

void TAtualizacao::ApagarSobras()
{
    for (const TNota &nota : NotasDoServidor(FModulo.Servidor)) {
        try {
            ApagarRascunho(FModulo, nota.Banco, nota.Arquivo);
            Linha(TPainel::Atualizar,
                  QStringLiteral("Aviso: apagado o banco %1, deixado por uma execução interrompida deste programa.")
                      .arg(nota.Banco));
        } catch (const EIBError &E) {
            // Never made, or already gone: the note is all that is left.
            if (Codigo(E, isc_io_error))
                QFile::remove(nota.Arquivo);
        }
    }
}

void TAtualizacao::ExecutarBackup()
{
    const QDateTime inicio = QDateTime::currentDateTime();
    const QString arquivo = NomeArquivoBackup(FPastaBackup, FNomeArquivos, FVersaoBancoDados, inicio);
    FSaida.Status(QStringLiteral("Backup: ") + arquivo);
    TIBBackupService backup;
    TEspera espera(FSaida);
    Conectar(backup);
    backup.SetActive(true);
    TDesligar desligar{backup};
    backup.SetVerbose(true);
    backup.SetOptions({});
    backup.SetDatabaseName(FModulo.BancoDados);
    backup.SetBackupFile({arquivo});
    const int32_t erros = Fase(TPainel::Backup, QString(), inicio, [&] {
        if (FTabelas == 0) {
            TConexaoPropria conexao(FModulo, FModulo.BancoDados);
            FTabelas = ContarTabelas(conexao);
        }
        backup.ServiceStart();
        FArquivoBackup = arquivo;
        return LerSaida(backup, TPainel::Backup, Ponto(0, 1), Ponto(1, 1));
    });
    if (erros > 0)
        Linha(TPainel::Atualizar, QStringLiteral("Erro: %1").arg(erros));
}

void TAtualizacao::RestaurarEnsaio(const QString &Arquivo)
{
    FModulo.dbAtualizar->Close();
    const QString banco = NomeDeRascunho(Arquivo, QStringLiteral("."));
    Linha(TPainel::Atualizar, QStringLiteral("Ensaio: o backup é restaurado no banco de ensaio %1").arg(banco));
    Linha(TPainel::Backup, QString());
    Linha(TPainel::Backup, QStringLiteral("Ensaio (Restaurar)"));
    FRascunhoDeEnsaio = std::make_unique<TRascunho>(FModulo, banco);
    TEspera espera(FSaida);
    const int32_t erros = Restaurar(Arquivo, banco, false, TPainel::Backup, Ponto(0, 1), Ponto(1, 1),
                                    [&] { FRascunhoDeEnsaio->SetCriado(); });
    // From here on the run works on the scratch database only.
    FModulo.BancoDados = banco;
    FModulo.dbAtualizar->SetDatabaseName(FModulo.Servidor + QLatin1Char(':') + banco);
    int modo = 0;
    {
        TConexaoPropria conexao(FModulo, banco);
        modo = LerEstado(conexao).ModoDesligamento;
    }
    if (erros > 0 || modo != 0)
        throw ECompactacao(QStringLiteral("O backup do ensaio não restaura: %1")
                               .arg(erros > 0 ? QStringLiteral("%1 linhas de erro").arg(erros)
                                              : QStringLiteral("o banco restaurado não ficou disponível (modo %1)")
                                                    .arg(modo)));
    FModulo.dbAtualizar->Open();
}

void TAtualizacao::ExecutarScript(int32_t VersaoBancoDados, int32_t VersaoScript, TIBScript *Script)
{
    if (VersaoBancoDados >= VersaoScript)
        return;
    FModulo.tAtualizar->StartTransaction();
    try {
        Script->ExecuteScript();
        FModulo.tAtualizar->Commit();
    } catch (...) {
        FScriptQueFalhou = VersaoScript;
        FComandoQueFalhou = Script->CurrentTokens().join(QLatin1Char(' ')).trimmed();
        Linha(TPainel::Atualizar, Versao3(VersaoScript) + QStringLiteral(" Erro: versão não foi atualizada."));
        // The script's error is the one the user must see, not a failing
        // rollback's.
        IgnoringErrors([this] {
            if (FModulo.tAtualizar->Active())
                FModulo.tAtualizar->Rollback();
        });
        throw;
    }
    FVersaoAtingida = VersaoScript;
    Linha(TPainel::Atualizar, Versao3(VersaoScript) + QStringLiteral(" versão atualizada com sucesso."));
    FModulo.dbAtualizar->Close();
    FModulo.dbAtualizar->Open();
}

// Takes a database that stopped between scripts 3 and 4 back to version 2,
// in one transaction: the balance triggers on, no purge under way. The next
// run then runs both scripts again. When that cannot be done (the server is
// gone), the database stays in maintenance at version 3, and the next run
// goes on with script 4.
bool TAtualizacao::DesfazerScript3()
{
    try {
        if (!FModulo.dbAtualizar->Connected())
            FModulo.dbAtualizar->Open();
        if (FModulo.tAtualizar->Active())
            FModulo.tAtualizar->Rollback();
        FModulo.tAtualizar->StartTransaction();
        for (const char *sql : {"ALTER TRIGGER TR_HISTORICO_UPDATE_DELETE ACTIVE",
                                "ALTER TRIGGER TR_CREDITO_DEBITO_UPDATE ACTIVE",
                                "UPDATE CONFIGURAR SET EXPURGO = 'N', VERSAO_BANCO_DADOS = 2 WHERE ID = 1"}) {
            FModulo.qAtualizar->Close();
            FModulo.qAtualizar->SQL().Clear();
            FModulo.qAtualizar->SQL().Add(QString::fromLatin1(sql));
            FModulo.qAtualizar->ExecSQL();
        }
        FModulo.tAtualizar->Commit();
        FModulo.dbAtualizar->Close();
        FVersaoAtingida = 2;
        Linha(TPainel::Atualizar, QStringLiteral("Aviso: o script 003 foi desfeito (banco dados versão 2, triggers "
                                                 "ativos, sem expurgo); a próxima execução roda 003 e 004 outra vez."));
        return true;
    } catch (const std::exception &E) {
        IgnoringErrors([this] {
            if (FModulo.tAtualizar->Active())
                FModulo.tAtualizar->Rollback();
        });
        Linha(TPainel::Atualizar, QStringLiteral("Erro: não desfez o script 003 (%1); o banco fica em manutenção na "
                                                 "versão 3 e a próxima execução continua com o 004.")
                                      .arg(MensagemDoErro(E)));
        return false;
    }
}

// Runs one statement in its own transaction. When it fails, Falha goes to
// the pane, the transaction is rolled back and the run goes on; when the
// rollback fails too, the statement's error ends the run, which must not go
// on with a transaction it cannot end.
bool TAtualizacao::ExecutarSozinho(const char *Sql, const QString &Falha)
{
    FModulo.tAtualizar->StartTransaction();
    try {
        FModulo.qAtualizar->Close();
        FModulo.qAtualizar->SQL().Clear();
        FModulo.qAtualizar->SQL().Add(QString::fromLatin1(Sql));
        FModulo.qAtualizar->ExecSQL();
        FModulo.tAtualizar->Commit();
        return true;
    } catch (...) {
        Linha(TPainel::Atualizar, Falha);
        const std::exception_ptr erro = std::current_exception();
        try {
            if (FModulo.tAtualizar->Active())
                FModulo.tAtualizar->Rollback();
        } catch (...) {
            std::rethrow_exception(erro);
        }
        // A connection lost on the way (the layer closes it) ends the run
        // here, with the statement's error rather than the next step's.
        if (!FModulo.dbAtualizar->Connected())
            std::rethrow_exception(erro);
        return false;
    }
}

void TAtualizacao::ApagarEnsaio()
{
    IgnoringErrors([this] { FModulo.dbAtualizar->Close(); });
    if (FRascunhoDeEnsaio && FRascunhoDeEnsaio->Criado()) {
        try {
            FRascunhoDeEnsaio->Apagar();
            Linha(TPainel::Atualizar, QStringLiteral("Ensaio: o banco de ensaio foi apagado."));
        } catch (const Exception &E) {
            Linha(TPainel::Atualizar,
                  QStringLiteral("Erro: não apagou o banco de ensaio %1 (%2); a próxima execução tenta outra vez.")
                      .arg(FRascunhoDeEnsaio->Banco(), E.Message()));
        }
    }
    FRascunhoDeEnsaio.reset();
    if (!FArquivoBackup.isEmpty())
        Linha(TPainel::Atualizar,
              QStringLiteral("Ensaio: o backup do ensaio ficou em %1 (o servidor não apaga arquivos por este "
                             "programa; apague-o quando não precisar mais).")
                  .arg(FArquivoBackup));
}

// ---------------------------------------------------------------------------
// The pieces the steps share.

int32_t TAtualizacao::Fase(TPainel Painel, const QString &Titulo, const QDateTime &Inicio,
                           const std::function<int32_t()> &Fazer)
{
    Linha(Painel, QString());
    if (!Titulo.isEmpty())
        Linha(Painel, Titulo);
    Linha(Painel, QStringLiteral("Início ") + Momento(Inicio));
    const int32_t resultado = Fazer();
    const QDateTime fim = QDateTime::currentDateTime();
    Linha(Painel, QStringLiteral("Fim ") + Momento(fim));
    Linha(Painel, QStringLiteral("Demorou ") + Duracao(Inicio, fim));
    return resultado;
}

void TAtualizacao::Mudar(TEtapa Etapa)
{
    const qint64 agora = FRelogio.isValid() ? FRelogio.elapsed() : 0;
    FDuracoes[FEtapa] += double(agora - FMarca) / 1000.0;
    FMarca = agora;
    FEtapa = Etapa;
    // 100 only when the run is done.
    if (Etapa != TEtapa::Fim)
        Avancar(DadosDaEtapa(Etapa).De);
}

double TAtualizacao::Estimativa() const
{
    double s = 0;
    for (const TDadosDaEtapa &e : Etapas)
        if (e.NaEstimativa)
            s += FDuracoes.value(e.Etapa);
    return s;
}

void TAtualizacao::Linha(TPainel Painel, const QString &Texto)
{
    FSaida.Linha(Painel, Texto);
}

void TAtualizacao::Avancar(int Percentual)
{
    // Never backwards.
    if (Percentual <= FProgresso)
        return;
    FProgresso = Percentual;
    FSaida.Progresso(Percentual);
}

int TAtualizacao::Ponto(int Parte, int Partes) const
{
    const TDadosDaEtapa &e = DadosDaEtapa(FEtapa);
    return e.De + (e.Ate - e.De) * Parte / Partes;
}

void TAtualizacao::VerificarInterrupcao()
{
    if (FSaida.Interromper())
        throw EInterrompido(QStringLiteral("Interrompido a pedido do usuário"));
}

void TAtualizacao::Conectar(TIBCustomService &Servico) const
{
    Servico.SetServerName(FModulo.Servidor);
    Servico.SetProtocol(TProtocol::TCP);
    Servico.SetLoginPrompt(false);
    Servico.Params().Add(QStringLiteral("user_name=") + FModulo.Usuario);
    Servico.Params().Add(QStringLiteral("password=") + FModulo.Senha);
}

void TAtualizacao::Configurar(TIBConfigService &Servico) const
{
    Conectar(Servico);
    Servico.SetActive(true);
    Servico.SetDatabaseName(FModulo.BancoDados);
}

int32_t TAtualizacao::LerSaida(TIBControlAndQueryService &Servico, TPainel Painel, int De, int Ate)
{
    int32_t erros = 0;
    int32_t tabelas = 0;
    Avancar(De);
    // In blocks: over a slow link a line per query would keep the shop
    // closed for a round trip per line the server prints.
    while (!Servico.Eof()) {
        const QStringList linhas =
            FLinhaPorConsulta ? QStringList{Servico.GetNextLine()} : Servico.GetNextLines();
        for (const QString &linha : linhas) {
            Linha(Painel, linha);
            if (FTabelas > 0 && (linha.contains(QLatin1String("writing data for table")) ||
                                 linha.contains(QLatin1String("restoring data for table"))))
                Avancar(De + (Ate - De) * qMin(++tabelas, FTabelas) / FTabelas);
            FSaida.Processar();
            if (LinhaDeErro(linha))
                ++erros;
        }
        // A block with nothing in it: the server is at work.
        if (linhas.isEmpty())
            FSaida.Processar();
    }
    return erros;
}

int32_t TAtualizacao::ContarTabelas(TConexaoPropria &Conexao)
{
    return Conexao
        .Valor(QStringLiteral("SELECT COUNT(*) FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND "
                              "RDB$VIEW_BLR IS NULL AND RDB$EXTERNAL_FILE IS NULL AND COALESCE(RDB$RELATION_TYPE, 0) = 0"))
        .toInt();
}

QString TAtualizacao::NomeNosArquivos(const QString &Banco)
{
    // A path (C:\Zorvi\zorvi.fdb, /dados/zorvi.fdb) would put its folders in
    // the backup's name: the file's name goes, without its extension, and
    // eight hex digits that only that path gives, so that shops of one server
    // whose files share a name (/dados/a/zorvi.fdb, /dados/b/zorvi.fdb) never
    // write the same backup into a shared folder. An alias names one
    // database of its server and goes as typed.
    const qsizetype barra = qMax(Banco.lastIndexOf(QLatin1Char('/')), Banco.lastIndexOf(QLatin1Char('\\')));
    if (barra < 0)
        return Banco;
    QString nome = Banco.mid(barra + 1);
    const qsizetype ponto = nome.lastIndexOf(QLatin1Char('.'));
    if (ponto > 0)
        nome.truncate(ponto);
    const QByteArray marca = QCryptographicHash::hash(Banco.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return nome + QLatin1Char('-') + QString::fromLatin1(marca);
}

QString TAtualizacao::NomeArquivoBackup(const QString &Pasta, const QString &Banco, int32_t Versao,
                                        const QDateTime &Inicio)
{
    return Pasta + Banco + QLatin1Char('.') + Inicio.toString(QStringLiteral("yyyyMMdd.HHmm")) +
           QStringLiteral(".versao.") + QString::number(Versao) + QStringLiteral(".fbk");
}

QString TAtualizacao::Momento(const QDateTime &Quando)
{
    return DateTimeToStr(Quando);
}

QString TAtualizacao::Duracao(const QDateTime &Inicio, const QDateTime &Fim)
{
    // Hours count within one day.
    const qint64 segundos = (Inicio.msecsTo(Fim) / 1000) % 86400;
    const QChar sep = FormatSettings().TimeSeparator;
    const auto dois = [](qint64 n) { return QString::number(n).rightJustified(2, QLatin1Char('0')); };
    return dois(segundos / 3600) + sep + dois(segundos / 60 % 60) + sep + dois(segundos % 60);
}

bool TAtualizacao::LinhaDeErro(const QString &Linha)
{
    QString upper = Linha;
    for (QChar &c : upper)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    return upper.contains(QLatin1String("ERROR"));
}
