// The database's maintenance for the length of a run: the lock that keeps
// the shop out, the guard that keeps a second run out, and the release that
// brings the database back to the shop, or keeps it closed when it is not
// whole.

#include "Atualizacao.h"

#include "A.h"
#include "ConexaoPropria.h"
#include "Guardas.h"
#include "IBDatabase.h"
#include "Retrato.h"
#include "SysUtils.h"

#include <QScopeGuard>
#include <QThread>

#include <optional>

namespace {

// What ended a run, then what became of the database.
QString ComOErro(const std::exception_ptr &Erro, const QString &Mensagem)
{
    if (Erro) {
        try {
            std::rethrow_exception(Erro);
        } catch (const std::exception &E) {
            return MensagemDoErro(E) + QStringLiteral("\r\n\r\n") + Mensagem;
        } catch (...) {
        }
    }
    return Mensagem;
}

} // namespace

bool TAtualizacao::Bloquear()
{
    TEspera espera(FSaida);
    try {
        Propriedades([](TIBConfigService &S) { S.ShutdownDatabase(TShutdownMode::Multi, 0); });
    } catch (const EIBError &E) {
        if (Codigo(E, isc_shutfail))
            return false;
        // A database the server finds damaged is what a restore that died as
        // it began to rebuild it leaves.
        const bool danificado =
            Codigo(E, isc_bug_check) || Codigo(E, isc_db_corrupt) || Codigo(E, isc_bad_checksum);
        if (!Codigo(E, isc_bad_shutdown_mode) && !danificado)
            throw;
        // Shut down already. Multi-user maintenance is this tool's own: a run
        // that did not end. Single-user or full shutdown never is: it is
        // what a restore that died leaves, and is kept as it is.
        std::optional<TEstado> estado;
        QString pasta;
        IgnoringErrors([&] {
            TConexaoPropria conexao(FModulo, FModulo.BancoDados);
            estado = LerEstado(conexao);
            // A half-restored database may still say where its backups are.
            IgnoringErrors([&] {
                pasta = conexao.Valor(QStringLiteral("SELECT PASTA_BACKUP FROM CONFIGURAR WHERE ID = 1"));
            });
        });
        // Damage that does not keep the administrator out is not this.
        if (danificado && estado)
            throw;
        if (!estado || estado->ModoDesligamento != int(TShutdownMode::Multi)) {
            const QString nome = NomeNosArquivos(FModulo.BancoDados);
            const QString onde = pasta.isEmpty() ? QStringLiteral("na pasta de backup do banco")
                                                 : QStringLiteral("em %1").arg(pasta);
            throw ECompactacao(
                QStringLiteral("O banco de dados está fechado (%1) e não por este programa neste computador: uma "
                               "restauração pode ter ficado pela metade. Ele foi deixado como está. Para recuperá-lo, "
                               "restaure com substituição o backup mais novo da compactação, %2: "
                               "%3.<data>.<hora>.versao.5.fbk; ou o de antes da atualização, "
                               "%3.<data>.<hora>.versao.<N>.fbk.")
                    .arg(estado ? QStringLiteral("modo %1").arg(estado->ModoDesligamento)
                                : QStringLiteral("nem o administrador consegue entrar"),
                         onde, nome));
        }
        if (OutraExecucao())
            return false;
        // The maintenance is taken over as it is: bringing the database
        // online first would let a till in, into whatever state the run
        // that did not end left (version 3 with the balance triggers off,
        // a compaction's read-only database).
        Linha(TPainel::Atualizar,
              QStringLiteral("Aviso: o banco de dados estava em manutenção (uma execução anterior não terminou?); "
                             "ele volta ao normal no fim."));
    }
    FEmManutencao = true;
    return true;
}

// Another run of this tool (from this machine or another) may be working on
// a database it put into maintenance; between two of its steps it can have
// nothing attached for a moment. Watched for a second: any attachment but
// this one is taken for such a run.
bool TAtualizacao::OutraExecucao()
{
    try {
        TConexaoPropria conexao(FModulo, FModulo.BancoDados);
        for (int i = 0; i < 10; ++i) {
            if (conexao
                    .Valor(QStringLiteral("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> "
                                          "CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0"))
                    .toInt() > 0)
                return true;
            conexao.Renovar();
            QThread::msleep(100);
        }
    } catch (const Exception &) {
        // Nobody but the administrator can attach now, and not even this
        // run could: someone has it to themselves.
        return true;
    }
    return false;
}

void TAtualizacao::Guardar()
{
    if (FEnsaio)
        return;
    IgnoringErrors([this] { FGuarda = std::make_unique<TConexaoPropria>(FModulo, FModulo.BancoDados); });
}

void TAtualizacao::Lendo(const std::function<void(TConexaoPropria &)> &Ler)
{
    if (FGuarda) {
        try {
            Ler(*FGuarda);
            FGuarda->Renovar();
            return;
        } catch (const Exception &) {
            // A guard that lost its attachment guards nothing: read anew.
            FGuarda.reset();
        }
    }
    TConexaoPropria conexao(FModulo, FModulo.BancoDados);
    Ler(conexao);
}

void TAtualizacao::Sozinho(const std::function<void()> &Fazer)
{
    const bool guardado = FGuarda != nullptr;
    FGuarda.reset();
    Fazer();
    if (guardado)
        Guardar();
}

void TAtualizacao::Liberar(std::exception_ptr &Erro)
{
    // The guard goes with the run, whatever way it leaves; its attachment
    // may still read the state first.
    const auto semGuarda = qScopeGuard([this] { FGuarda.reset(); });
    if (!FEmManutencao)
        return;
    if (FSubstituindo) {
        ManterFechado(Erro);
        return;
    }
    if (FMeioDosScripts) {
        Erro = std::make_exception_ptr(EBancoEmManutencao(ComOErro(
            Erro, QStringLiteral("O banco de dados ficou em manutenção na versão 3, entre os scripts 003 e 004, e não "
                                 "foi liberado para os usuários. Execute a atualização outra vez: ela continua com o "
                                 "script 004."))));
        return;
    }
    const TEtapa etapa = FEtapa;
    FEtapa = TEtapa::Liberacao;
    TEspera espera(FSaida);
    QString falha;
    try {
        // The tool's own connection stays as the run left it: bringing the
        // database online does not need it closed.
        TEstado estado;
        Lendo([&](TConexaoPropria &C) { estado = LerEstado(C); });
        // With the guard attached, Firebird 3.0.11 took a second longer to
        // bring the database online (seen here).
        FGuarda.reset();
        TIBConfigService servico;
        Configurar(servico);
        TDesligar d{servico};
        if (estado.SomenteLeitura || FSomenteLeitura) {
            // Needs every other attachment closed, the tool's own included.
            FModulo.dbAtualizar->Close();
            servico.SetReadOnly(false);
        }
        if (estado.ModoDesligamento != 0)
            servico.BringDatabaseOnline();
        servico.SetActive(false);
        // Read back, rather than trust the calls.
        TEstado depois;
        Lendo([&](TConexaoPropria &C) { depois = LerEstado(C); });
        if (depois.ModoDesligamento != 0 || depois.SomenteLeitura)
            falha = QStringLiteral("o servidor ainda informa o modo %1%2")
                        .arg(depois.ModoDesligamento)
                        .arg(depois.SomenteLeitura ? QStringLiteral(", somente leitura") : QString());
        FEmManutencao = false;
        FSomenteLeitura = false;
    } catch (const std::exception &E) {
        falha = MensagemDoErro(E);
    }
    FEtapa = etapa;
    if (falha.isEmpty())
        return;
    FEtapa = TEtapa::Liberacao;
    const QStringList comandos = ComandosParaLiberar(FModulo.Servidor, FModulo.BancoDados);
    const QString texto =
        QStringLiteral("Erro: o banco de dados ficou em manutenção e não foi liberado para os usuários (%1). "
                       "Para liberá-lo, execute a atualização outra vez ou, com ISC_USER e ISC_PASSWORD do "
                       "administrador: %2")
            .arg(falha, comandos.join(QStringLiteral(" e depois ")));
    Linha(TPainel::Atualizar, texto);
    Erro = std::make_exception_ptr(EBancoEmManutencao(ComOErro(Erro, texto.mid(QStringLiteral("Erro: ").size()))));
}

// The replacing restore began and its result was not proven: the database
// stays closed to the shop (read-only, in maintenance) and the message says
// that the next run restores it again.
void TAtualizacao::ManterFechado(std::exception_ptr &Erro)
{
    const TEtapa etapa = FEtapa;
    FGuarda.reset();
    IgnoringErrors([this] { FModulo.dbAtualizar->Close(); });
    // gbak brings the database it restored online: back into maintenance.
    // A restore that failed leaves single-user shutdown, and read-write.
    Fechar();
    IgnoringErrors([this] { Propriedades([](TIBConfigService &S) { S.SetReadOnly(true); }); });
    FEtapa = etapa;
    // Read back, rather than trust the calls: the message says what is.
    const std::optional<TEstado> estado = EstadoSePuder(FModulo, FModulo.BancoDados);
    const QString como = !estado || estado->ModoDesligamento != 0
                             ? QStringLiteral("ficou fechado para os usuários")
                             : QStringLiteral("não pôde ser fechado: está disponível para os usuários, %1")
                                   .arg(estado->SomenteLeitura ? QStringLiteral("somente para leitura")
                                                               : QStringLiteral("para leitura e escrita"));
    QString texto = QStringLiteral("Erro: a compactação não terminou e o banco de dados %1. Execute a atualização "
                                   "outra vez: ela restaura de novo o backup da compactação %2, compara o resultado "
                                   "com o que o banco tinha e só então o libera.")
                        .arg(como, FArquivoCompactacao);
    if (!FArquivoBackup.isEmpty())
        texto += QStringLiteral(" O backup de antes da atualização é %1.").arg(FArquivoBackup);
    Linha(TPainel::Atualizar, texto);
    Erro = std::make_exception_ptr(ECompactacao(ComOErro(Erro, texto.mid(QStringLiteral("Erro: ").size()))));
}

void TAtualizacao::Propriedades(const std::function<void(TIBConfigService &)> &Acao)
{
    TIBConfigService servico;
    Configurar(servico);
    TDesligar d{servico};
    Acao(servico);
}

void TAtualizacao::Fechar()
{
    IgnoringErrors([this] { Propriedades([](TIBConfigService &S) { S.ForceShutdown(TShutdownMode::Multi, 0); }); });
}

QStringList TAtualizacao::ComandosParaLiberar(const QString &Servidor, const QString &Banco)
{
    // gfix takes one of these per call; read-write first, while nobody else
    // can attach.
    const QString alvo = Servidor + QLatin1Char(':') + Banco;
    return {QStringLiteral("gfix -mode read_write ") + alvo, QStringLiteral("gfix -online normal ") + alvo};
}
