// The compaction: the database, read-only, is backed up, the backup proves
// in a scratch database that it restores, and a restore replaces the
// database; each result is compared with what the database held.

#include "Atualizacao.h"

#include "A.h"
#include "ConexaoPropria.h"
#include "Guardas.h"
#include "IBDatabase.h"
#include "Rascunhos.h"
#include "Retrato.h"

// The compaction replaces the live database with a restore of its backup:
// whatever was written to the database after that backup began would be
// lost. So, before the backup, the database is made read-only through the
// service manager. The server makes that change only while no other
// attachment is open (administrators' included), and from then on refuses
// every write, from any user, until the database is made read-write again.
// No write can therefore fall between the backup and the restore; an
// attachment that is open at that moment stops the compaction instead, and
// one still open at the restore makes the restore fail without touching the
// database. The restore brings the database back read-only, the result is
// compared with what the database held before, and only then is it opened
// for writing again.
void TAtualizacao::ExecutarCompactacao()
{
    const QDateTime inicio = QDateTime::currentDateTime();
    const QString arquivo = NomeArquivoBackup(FPastaBackup, FNomeArquivos, FVersaoBancoDadosAtual, inicio);
    TEspera espera(FSaida);
    TRetrato antes;
    const int32_t erros = Fase(TPainel::CompactarBackup, QStringLiteral("Compactar (Close Database e Backup)"), inicio,
                               [&] {
                                   Linha(TPainel::CompactarBackup, QStringLiteral("Close Database"));
                                   FModulo.dbAtualizar->Close();
                                   FSaida.Status(QStringLiteral("Backup versão atual ") + arquivo);
                                   antes = Congelar();
                                   return CopiarParaCompactar(arquivo);
                               });
    if (erros > 0)
        throw Exception(QStringLiteral("Erro no backup: %1").arg(erros));
    VerificarInterrupcao();
    TestarRestauracao(arquivo, antes);
    VerificarInterrupcao();
    Substituir(arquivo, antes);
}

QString TAtualizacao::Mantido() const
{
    return QStringLiteral("O banco de dados foi mantido como estava: já na versão %1, sem compactar.")
        .arg(FVersaoBancoDadosAtual);
}

TRetrato TAtualizacao::Congelar()
{
    try {
        TIBConfigService servico;
        Configurar(servico);
        TDesligar d{servico};
        servico.SetReadOnly(true);
        FSomenteLeitura = true;
    } catch (const EIBError &E) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: banco de dados em uso durante a compactação."));
        throw ECompactacao(QStringLiteral("O banco de dados estava em uso durante a compactação (%1). %2")
                               .arg(E.Message(), Mantido()));
    }
    TConexaoPropria conexao(FModulo, FModulo.BancoDados);
    TRetrato retrato = TRetrato::Ler(conexao);
    FTabelas = int32_t(retrato.Linhas.size());
    return retrato;
}

int32_t TAtualizacao::CopiarParaCompactar(const QString &Arquivo)
{
    TIBBackupService backup;
    Conectar(backup);
    backup.SetActive(true);
    TDesligar desligar{backup};
    backup.SetVerbose(true);
    backup.SetOptions({TBackupOption::NoGarbageCollection});
    backup.SetDatabaseName(FModulo.BancoDados);
    backup.SetBackupFile({Arquivo});
    Linha(TPainel::CompactarBackup, QStringLiteral("Backup"));
    backup.ServiceStart();
    FArquivoCompactacao = Arquivo;
    return LerSaida(backup, TPainel::CompactarBackup, Ponto(0, 3), Ponto(1, 3));
}

// The Replace restore deletes the live database before it rebuilds it: the
// backup must first prove that it restores, into a scratch database of a
// name no other file can have, which is dropped again.
void TAtualizacao::TestarRestauracao(const QString &Arquivo, const TRetrato &Antes)
{
    TRascunho teste(FModulo, NomeDeRascunho(Arquivo, QStringLiteral(".teste.")));
    const int32_t erros =
        Fase(TPainel::CompactarRestaurar, QStringLiteral("Compactar (Teste de restauração)"),
             QDateTime::currentDateTime(), [&] {
                 FSaida.Status(QStringLiteral("Testar restauração ") + Arquivo);
                 return Restaurar(Arquivo, teste.Banco(), false, TPainel::CompactarRestaurar, Ponto(1, 3),
                                  Ponto(2, 3), [&] { teste.SetCriado(); });
             });
    if (erros > 0)
        throw Exception(QStringLiteral("Erro no teste de restauração: %1").arg(erros));
    // A restore can stop short without a single error line: the scratch
    // database must hold what the live one holds before it may replace it.
    const QStringList diferencas = Comparar(FModulo, Antes, teste.Banco());
    teste.Apagar();
    if (!diferencas.isEmpty()) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: o teste de restauração não devolveu o banco como estava."));
        throw ECompactacao(QStringLiteral("O backup da compactação não restaura o banco de dados como estava: %1. %2")
                               .arg(diferencas.join(QStringLiteral("; ")), Mantido()));
    }
}

void TAtualizacao::Substituir(const QString &Arquivo, const TRetrato &Antes)
{
    const int32_t erros = Fase(TPainel::CompactarRestaurar, QStringLiteral("Compactar (Restaurar)"),
                               QDateTime::currentDateTime(), [&] {
                                   FSaida.Status(QStringLiteral("Restaurar versão atual ") + Arquivo);
                                   return Restaurar(Arquivo, FModulo.BancoDados, true, TPainel::CompactarRestaurar,
                                                    Ponto(2, 3), Ponto(3, 3));
                               });
    if (erros > 0) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: %1").arg(erros));
        throw Exception(QStringLiteral("Erro na restauração: %1").arg(erros));
    }

    // The restored database is online and read-only: back into maintenance
    // for the rest of the run, then compared with what it held before.
    const QStringList diferencas = Comparar(FModulo, Antes, FModulo.BancoDados);
    IgnoringErrors([this] {
        TIBConfigService servico;
        Configurar(servico);
        TDesligar d{servico};
        servico.ShutdownDatabase(TShutdownMode::Multi, 0);
    });
    if (!diferencas.isEmpty()) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: a compactação não devolveu o banco como estava."));
        QString volta = QStringLiteral("o backup da compactação %1").arg(Arquivo);
        if (!FArquivoBackup.isEmpty())
            volta += QStringLiteral(" ou o backup anterior à atualização %1").arg(FArquivoBackup);
        throw ECompactacao(QStringLiteral("A compactação não devolveu o banco de dados como estava: %1. "
                                          "Para voltar, restaure %2")
                               .arg(diferencas.join(QStringLiteral("; ")), volta));
    }
}

int32_t TAtualizacao::Restaurar(const QString &Arquivo, const QString &Banco, bool Substituir, TPainel Painel, int De,
                                int Ate, const std::function<void()> &Iniciado)
{
    TIBRestoreService restaurar;
    Conectar(restaurar);
    restaurar.SetActive(true);
    TDesligar desligar{restaurar};
    restaurar.SetVerbose(true);
    restaurar.SetOptions(Substituir ? TRestoreOptions{TRestoreOption::Replace}
                                    : TRestoreOptions{TRestoreOption::CreateNewDB});
    restaurar.SetPageSize(-1);
    restaurar.SetPageBuffers(-1);
    // The replaced database comes back read-only, so that nobody writes to
    // it before the tool has compared it with what it held.
    if (Substituir)
        restaurar.SetAccessMode(TAccessMode::ReadOnly);
    restaurar.DatabaseName().Add(Banco);
    restaurar.BackupFile().Add(Arquivo);
    restaurar.ServiceStart();
    if (Iniciado)
        Iniciado();
    return LerSaida(restaurar, Painel, De, Ate);
}
