// The compaction: the database, read-only, is backed up, the backup proves
// in a scratch database that it restores, and a restore replaces the
// database; each result is compared with what the database held.

#include "Atualizacao.h"

#include "A.h"
#include "ConexaoPropria.h"
#include "Diario.h"
#include "Guardas.h"
#include "IBDatabase.h"
#include "Rascunhos.h"
#include "Retrato.h"

#include <optional>

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
    // A rehearsal's compaction writes over the rehearsal's own backup, which
    // its scratch database was restored from and is not needed again: the
    // rehearsal leaves one file on the shop's disk, the one it names.
    const QString arquivo = FEnsaio && !FArquivoBackup.isEmpty()
                                ? FArquivoBackup
                                : NomeArquivoBackup(FPastaBackup, FNomeArquivos, FVersaoBancoDadosAtual, inicio);
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
        Sozinho([this] { Propriedades([](TIBConfigService &S) { S.SetReadOnly(true); }); });
        FSomenteLeitura = true;
    } catch (const EIBError &E) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: banco de dados em uso durante a compactação."));
        throw ECompactacao(QStringLiteral("O banco de dados estava em uso durante a compactação (%1). %2")
                               .arg(E.Message(), Mantido()));
    }
    // From here to the replacing restore nothing of the run may be attached
    // for minutes (the test restore works on another database): the guard
    // keeps a second run from taking the database for a leftover.
    Guardar();
    TRetrato retrato;
    Lendo([&](TConexaoPropria &C) {
        retrato = TRetrato::Ler(C);
        retrato.Cabecalho = TRetrato::LerCabecalho(C);
    });
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
    // It is dropped through the attachment that read it.
    QStringList diferencas;
    std::optional<TConexaoPropria> conexao;
    try {
        conexao.emplace(FModulo, teste.Banco());
        diferencas = Comparar(*conexao, Antes);
    } catch (const Exception &E) {
        diferencas << E.Message();
    }
    teste.Apagar(conexao ? &*conexao : nullptr);
    if (!diferencas.isEmpty()) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: o teste de restauração não devolveu o banco como estava."));
        throw ECompactacao(QStringLiteral("O backup da compactação não restaura o banco de dados como estava: %1. %2")
                               .arg(diferencas.join(QStringLiteral("; ")), Mantido()));
    }
}

// The restore that replaces the database. Its journal is written first and
// removed only once the result matches what the database held, before the
// database is opened for writing again: until then, whatever stops the run
// (a failed restore, a difference, a power cut, a killed server or tool)
// leaves the database closed to the shop, and the next run restores it
// again from the same backup.
void TAtualizacao::Substituir(const QString &Arquivo, const TRetrato &Antes)
{
    TDiario diario{FModulo.Servidor, FModulo.BancoDados, Arquivo, FArquivoBackup, QDateTime::currentDateTime(),
                   Antes, FTrava.Nome};
    diario.Gravar();
    FSubstituindo = true;
    // The restore needs the database to itself; the guard comes back once it
    // is writable again.
    FGuarda.reset();
    const int32_t erros = Fase(TPainel::CompactarRestaurar, QStringLiteral("Compactar (Restaurar)"),
                               QDateTime::currentDateTime(), [&] {
                                   FSaida.Status(QStringLiteral("Restaurar versão atual ") + Arquivo);
                                   return Restaurar(Arquivo, FModulo.BancoDados, true, TPainel::CompactarRestaurar,
                                                    Ponto(2, 3), Ponto(3, 3));
                               });
    if (erros > 0) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: %1").arg(erros));
        throw ECompactacao(QStringLiteral("Erro na restauração: %1").arg(erros));
    }
    const QMap<QString, qint64> restaurado = ConferirSubstituicao(Antes);
    diario.Apagar();
    FSubstituindo = false;
    Reabrir(Antes, restaurado);
}

// The replaced database, proven, made writable again (still in maintenance)
// with the header settings it had before the compaction, through one service
// attachment; the guard comes back and reads the result.
void TAtualizacao::Reabrir(const TRetrato &Antes, const QMap<QString, qint64> &Restaurado)
{
    // Each setting the restore may change, and how it is put back.
    using TAjuste = void (*)(TIBConfigService &, qint64);
    static const std::pair<const char *, TAjuste> ajustes[] = {
        {"MON$RESERVE_SPACE", [](TIBConfigService &S, qint64 V) { S.SetReserveSpace(V != 0); }},
        {"MON$FORCED_WRITES", [](TIBConfigService &S, qint64 V) { S.SetAsyncMode(V == 0); }},
        {"MON$SWEEP_INTERVAL", [](TIBConfigService &S, qint64 V) { S.SetSweepInterval(int32_t(V)); }},
        {"MON$PAGE_BUFFERS", [](TIBConfigService &S, qint64 V) { S.SetPageBuffers(int32_t(V)); }},
        {"MON$SQL_DIALECT", [](TIBConfigService &S, qint64 V) { S.SetDBSqlDialect(int32_t(V)); }},
    };
    FSomenteLeitura = true;
    Propriedades([&](TIBConfigService &S) {
        // Read-write first: a read-only database takes no other change.
        S.SetReadOnly(false);
        FSomenteLeitura = false;
        for (const auto &[coluna, ajustar] : ajustes) {
            const QString c = QString::fromLatin1(coluna);
            if (Antes.Cabecalho.contains(c) && Antes.Cabecalho.value(c) != Restaurado.value(c, -1))
                ajustar(S, Antes.Cabecalho.value(c));
        }
    });
    Guardar();
    TRetrato depois;
    Lendo([&](TConexaoPropria &C) { depois.Cabecalho = TRetrato::LerCabecalho(C); });
    const QStringList diferencas = Antes.DiferencasDoCabecalho(depois);
    if (!diferencas.isEmpty())
        throw ECompactacao(QStringLiteral("A compactação não devolveu as configurações do banco de dados como "
                                          "estavam: %1. Os dados conferem.")
                               .arg(diferencas.join(QStringLiteral("; "))));
}

// The restored database comes back online and read-only; nobody can have
// written to it, but a till may have attached. It goes back into
// maintenance at once, forced, so that nobody is left attached, and is then
// compared with what it held before.
QMap<QString, qint64> TAtualizacao::ConferirSubstituicao(const TRetrato &Antes)
{
    Fechar();
    QMap<QString, qint64> cabecalho;
    const QStringList diferencas =
        Comparar(FModulo, Antes, FModulo.BancoDados, int(TShutdownMode::Multi), &cabecalho);
    if (!diferencas.isEmpty()) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: a compactação não devolveu o banco como estava."));
        throw ECompactacao(QStringLiteral("A compactação não devolveu o banco de dados como estava: %1")
                               .arg(diferencas.join(QStringLiteral("; "))));
    }
    return cabecalho;
}

// A journal left by a replacing restore that did not end: the database is
// restored again from the journal's backup, which its test restore proved,
// compared with the journal's snapshot, and made writable again; the run
// then goes on in maintenance. Raises, with the database kept closed, when
// that cannot be done.
void TAtualizacao::Reparar(const TDiario &Diario)
{
    Mudar(TEtapa::Compactacao);
    FArquivoCompactacao = Diario.Backup;
    FArquivoBackup = Diario.BackupAnterior;
    // Online and writable again means someone opened it by hand: the shop may
    // have written to it since, and the journal's backup would undo that.
    const std::optional<TEstado> estado = EstadoSePuder(FModulo, FModulo.BancoDados);
    if (estado && estado->ModoDesligamento == 0 && !estado->SomenteLeitura)
        throw ECompactacao(QStringLiteral("A última compactação deste banco de dados não terminou, mas ele já está "
                                          "liberado para leitura e escrita: foi aberto à mão, e as vendas feitas "
                                          "desde então se perderiam com o backup %1. Ele foi deixado como está; "
                                          "confira os dados e apague o diário %2.")
                               .arg(Diario.Backup, Diario.Arquivo()));
    FEmManutencao = true;
    FSubstituindo = true;
    Linha(TPainel::Atualizar,
          QStringLiteral("Aviso: a última compactação deste banco de dados não terminou; ele é restaurado outra vez "
                         "do backup %1 e comparado com o que tinha antes de voltar aos usuários.")
              .arg(Diario.Backup.isEmpty() ? QStringLiteral("(desconhecido)") : Diario.Backup));
    if (Diario.Backup.isEmpty())
        throw ECompactacao(QStringLiteral("O diário da compactação não nomeia o backup."));
    TEspera espera(FSaida);
    FModulo.dbAtualizar->Close();
    // Whoever attached to the read-only database gbak left online goes: the
    // restore needs it to themselves.
    Fechar();
    const int32_t erros = Fase(TPainel::CompactarRestaurar, QStringLiteral("Compactar (Restaurar)"),
                               QDateTime::currentDateTime(), [&] {
                                   FSaida.Status(QStringLiteral("Restaurar versão atual ") + Diario.Backup);
                                   return Restaurar(Diario.Backup, FModulo.BancoDados, true,
                                                    TPainel::CompactarRestaurar, Ponto(2, 3), Ponto(3, 3));
                               });
    if (erros > 0) {
        Linha(TPainel::Atualizar, QStringLiteral("Erro: %1").arg(erros));
        throw ECompactacao(QStringLiteral("Erro na restauração: %1").arg(erros));
    }
    const QMap<QString, qint64> restaurado = ConferirSubstituicao(Diario.Retrato);
    Diario.Apagar();
    FSubstituindo = false;
    Reabrir(Diario.Retrato, restaurado);
    Linha(TPainel::Atualizar, QStringLiteral("O banco de dados foi restaurado e confere com o que tinha."));
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
