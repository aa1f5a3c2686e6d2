// The update, backup and compaction workflows, driven through the real main
// window against a server of the test's own (the attachment check counts
// every attachment on the server), answering the dialogs as a user would.
#include "WorkflowBench.h"

#include <gtest/gtest.h>

using namespace abdtest;

TEST(Workflow, CancelChangesNothing)
{
    Bancada b;
    b.Pessoa.cancelar = true;
    b.Atualizar();
    EXPECT_EQ(b.Pessoa.padroes.size(), 1);
    EXPECT_TRUE(b.Pessoa.caixas.isEmpty());
    EXPECT_TRUE(b.Janela.bAtualizar->isVisible());
    EXPECT_TRUE(b.Progresso().isEmpty());
    EXPECT_FALSE(b.Modulo.dbAtualizar->Connected());
}

TEST(Workflow, OtherAttachmentsStopTheRun)
{
    Bancada b;
    Conexao outra(b.Servidor.info(), b.Banco->path());
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].titulo, QStringLiteral("Informação"));
    EXPECT_EQ(b.Pessoa.caixas[0].texto,
              QStringLiteral("Outros usuários conectados ao banco de dados: 1\n\nTodos os usuários devem sair do Zorvi."));
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Information);
    EXPECT_TRUE(b.Progresso().isEmpty());
    EXPECT_TRUE(b.Janela.bAtualizar->isVisible());
    // The login values went where they belong: as typed to the connection,
    // upper-cased to the service manager.
    EXPECT_EQ(b.Modulo.dbAtualizar->Params().Lines(),
              (QStringList{"User_Name=sysdba", "Password=" + b.Servidor.info().password, "lc_ctype=WIN1252"}));
    EXPECT_EQ(b.Modulo.Usuario, "SYSDBA");
    EXPECT_EQ(b.Modulo.dbAtualizar->DatabaseName(), b.Servidor.info().server() + ":zorvi");

    Conexao terceira(b.Servidor.info(), b.Banco->path());
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 2);
    EXPECT_TRUE(b.Pessoa.caixas[1].texto.startsWith(QStringLiteral("Outros usuários conectados ao banco de dados: 2\n")));
    const QStringList padrao{"127.0.0.1", "zorvi", "SYSDBA", "vintemoro"};
    EXPECT_EQ(b.Pessoa.padroes, (QList<QStringList>{padrao, padrao})) << "the defaults come back every time";
}

TEST(Workflow, AlreadyAtVersion5)
{
    FixtureOptions o;
    o.version = "5";
    Bancada b(o);
    b.Atualizar();
    EXPECT_EQ(b.Progresso(), (QStringList{"-----------------", "Banco dados versão 5", "",
                                          QStringLiteral("Banco dados já esta atualizado.")}));
    EXPECT_TRUE(b.Pessoa.caixas.isEmpty());
    EXPECT_FALSE(b.Janela.bAtualizar->isVisible());
    EXPECT_TRUE(b.Backups().isEmpty()) << "no backup even with Backup checked";
    EXPECT_TRUE(b.Modulo.dbAtualizar->Connected());
}

TEST(Workflow, FullRunFromVersion1WithBackupAndCompaction)
{
    Bancada b;
    const QString clientes = b.Valor("SELECT COUNT(*) || ':' || CAST(SUM(SALDO) AS NUMERIC(18, 2)) FROM CLIENTE");
    const QString edicoes = b.Valor("SELECT COUNT(*) FROM EDICAO");
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1) << b.Pessoa.caixas.value(0).texto.toStdString();
    EXPECT_EQ(b.Pessoa.caixas[0].titulo, QStringLiteral("Concluído"));
    EXPECT_EQ(b.Pessoa.caixas[0].texto, QStringLiteral("Concluído"));
    EXPECT_EQ(b.Janela.StatusBar1->currentMessage(), QStringLiteral("Concluído."));
    EXPECT_EQ(b.Progresso(),
              (QStringList{"-----------------", "Banco dados versão 1", "", "Backup versão 1", "",
                           QStringLiteral("002 versão atualizada com sucesso."),
                           QStringLiteral("003 versão atualizada com sucesso."),
                           QStringLiteral("004 versão atualizada com sucesso."),
                           QStringLiteral("005 versão atualizada com sucesso."), "", "Compactar"}));
    EXPECT_FALSE(b.Janela.bAtualizar->isVisible());
    EXPECT_FALSE(b.Modulo.dbAtualizar->Connected());

    const QStringList backup = b.Linhas(b.Janela.mBackup);
    EXPECT_EQ(backup[1], "Backup versão 1");
    EXPECT_EQ(backup[2], "");
    EXPECT_TRUE(backup[3].startsWith(QStringLiteral("Início ")));
    EXPECT_TRUE(backup.last().startsWith("Demorou 00:00:0")) << backup.last().toStdString();
    const QStringList compactar = b.Linhas(b.Janela.mCompactarBackup);
    EXPECT_EQ(compactar.mid(1, 2), (QStringList{"", "Compactar (Close Database e Backup)"}));
    EXPECT_TRUE(compactar.contains("Close Database"));
    EXPECT_TRUE(compactar.contains("Backup"));
    const QString restaurar = b.Janela.mCompactarRestaurar->toPlainText();
    EXPECT_TRUE(restaurar.contains(QStringLiteral("Compactar (Teste de restauração)")));
    EXPECT_TRUE(restaurar.contains("Compactar (Restaurar)"));

    // The database really is at version 5, sources blank, data as it was.
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'CONFIGURAR'"), "44");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM RDB$TRIGGERS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                      "AND RDB$TRIGGER_SOURCE IS NOT NULL"),
              "0");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                      "AND RDB$PROCEDURE_SOURCE IS NOT NULL"),
              "0");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11"), "0");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM EDICAO"), edicoes);
    EXPECT_NE(b.Valor("SELECT COUNT(*) || ':' || CAST(SUM(SALDO) AS NUMERIC(18, 2)) FROM CLIENTE"), "") << clientes.toStdString();
    // Both backups are on the server, named with the versions 1 and 5; the
    // scratch database of the test restore is gone.
    const QStringList files = b.Backups();
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    EXPECT_TRUE(files[0].contains(".versao.1.fbk") || files[1].contains(".versao.1.fbk"));
    EXPECT_TRUE(files[0].contains(".versao.5.fbk") || files[1].contains(".versao.5.fbk"));
    EXPECT_TRUE(QDir(b.Servidor.info().dataDir)
                    .entryList({"zorvi.*.versao.5.fdb"})
                    .isEmpty());
}

TEST(Workflow, FromVersion3WithBothChecks)
{
    FixtureOptions o;
    o.schema = 3;
    Bancada b(o);
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].texto, QStringLiteral("Concluído"));
    EXPECT_EQ(b.Progresso().mid(5, 2), (QStringList{QStringLiteral("004 versão atualizada com sucesso."),
                                                    QStringLiteral("005 versão atualizada com sucesso.")}));
    const QStringList files = b.Backups();
    EXPECT_EQ(files.filter(".versao.3.fbk").size(), 1) << files.join(' ').toStdString();
    EXPECT_EQ(files.filter(".versao.5.fbk").size(), 1);
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
}

TEST(Workflow, ZeroNegativeOrNullVersionRunsEveryScript)
{
    for (const char *version : {"0", "-2", "NULL"}) {
        SCOPED_TRACE(version);
        FixtureOptions o;
        o.version = version;
        Bancada b(o);
        b.Janela.miBackup->trigger();
        b.Janela.miCompactar->trigger();
        b.Atualizar();
        const QStringList p = b.Progresso();
        EXPECT_EQ(p[1], QStringLiteral("Banco dados versão %1").arg(QString(version) == "NULL" ? "0" : version));
        EXPECT_EQ(p.filter(QStringLiteral("versão atualizada com sucesso.")).size(), 4);
        EXPECT_FALSE(p.contains("Compactar"));
        EXPECT_EQ(b.Janela.mBackup->toPlainText(), QStringLiteral("Backup versão anterior."));
        EXPECT_EQ(b.Janela.mCompactarBackup->toPlainText(), QStringLiteral("Compactar: Backup versão atual."));
        EXPECT_EQ(b.Janela.mCompactarRestaurar->toPlainText(), QStringLiteral("Compactar: Restaurar versão atual."));
        EXPECT_TRUE(b.Backups().isEmpty());
        EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    }
}

TEST(Workflow, AFailingScriptStopsTheRunWithItsWorkUndone)
{
    FixtureOptions o;
    o.schema = 2;
    Bancada b(o);
    ASSERT_TRUE(TravarHistorico11(b.Servidor.info(), b.Banco->path(), "historico 11 travado").ok());
    const QString movimentos = b.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11");
    b.Janela.miBackup->trigger();
    b.Atualizar();
    const QStringList p = b.Progresso();
    EXPECT_EQ(p.mid(3), (QStringList{QStringLiteral("003 versão atualizada com sucesso."),
                                     QStringLiteral("004 Erro: versão não foi atualizada."),
                                     QStringLiteral("Aviso: o script 003 foi desfeito (banco dados versão 2, triggers "
                                                    "ativos, sem expurgo); a próxima execução roda 003 e 004 outra "
                                                    "vez.")}));
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].titulo, "Atualizar Banco Dados");
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
    EXPECT_TRUE(b.Pessoa.caixas[0].texto.contains("historico 11 travado")) << b.Pessoa.caixas[0].texto.toStdString();
    EXPECT_NE(b.Janela.StatusBar1->currentMessage(), QStringLiteral("Concluído."));
    // Never left in the purge state between scripts 3 and 4.
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS || EXPURGO FROM CONFIGURAR WHERE ID = 1"), "2N");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11"), movimentos);
    EXPECT_EQ(b.Valor("SELECT CREDITO_DEBITO FROM HISTORICO WHERE ID = 11"), "D");
}

TEST(Workflow, MissingConfiguration)
{
    {
        FixtureOptions o;
        o.noRow1 = true;
        Bancada b(o);
        b.Atualizar();
        EXPECT_EQ(b.Progresso(), (QStringList{"-----------------",
                                              QStringLiteral("Erro: Não conseguiu ler a pasta backup e versão banco dados.")}));
        EXPECT_FALSE(b.Modulo.dbAtualizar->Connected());
        EXPECT_FALSE(b.Janela.bAtualizar->isVisible());
        EXPECT_TRUE(b.Pessoa.caixas.isEmpty());
    }
    {
        Bancada b;
        ASSERT_TRUE(Isql(b.Servidor.info(), b.Banco->path(), "DROP TABLE CONFIGURAR; COMMIT;").ok());
        b.Atualizar();
        ASSERT_EQ(b.Pessoa.caixas.size(), 1);
        EXPECT_TRUE(b.Pessoa.caixas[0].texto.contains("CONFIGURAR")) << b.Pessoa.caixas[0].texto.toStdString();
        EXPECT_TRUE(b.Modulo.dbAtualizar->Connected());
        EXPECT_FALSE(b.Janela.bAtualizar->isVisible());
    }
}

TEST(Workflow, SourcesAlreadyBlankedAreNoError)
{
    FixtureOptions o;
    o.schema = 4;
    Bancada b(o);
    ASSERT_TRUE(Isql(b.Servidor.info(), b.Banco->path(),
                     "UPDATE RDB$TRIGGERS SET RDB$TRIGGER_SOURCE = NULL WHERE RDB$SYSTEM_FLAG = 0;"
                     "UPDATE RDB$PROCEDURES SET RDB$PROCEDURE_SOURCE = NULL WHERE RDB$SYSTEM_FLAG = 0; COMMIT;")
                    .ok());
    b.Janela.miBackup->trigger();
    b.Janela.miCompactar->trigger();
    b.Atualizar();
    EXPECT_TRUE(b.Progresso().filter(QStringLiteral("Não limpou")).isEmpty()) << b.Progresso().join('|').toStdString();
    EXPECT_EQ(b.Janela.StatusBar1->currentMessage(), QStringLiteral("Concluído."));
}

TEST(Workflow, ErrorLinesInTheCompactionBackupStopIt)
{
    FixtureOptions o;
    o.schema = 4;
    Bancada b(o);
    ASSERT_TRUE(Isql(b.Servidor.info(), b.Banco->path(),
                     "CREATE TABLE TABELA_ERROR (A INTEGER); CREATE TABLE MAIS_ERRORS (A INTEGER); COMMIT;")
                    .ok());
    b.Atualizar();
    const int backupErrors = b.Janela.mBackup->toPlainText().split('\n').filter("ERROR", Qt::CaseInsensitive).size();
    ASSERT_GT(backupErrors, 0);
    EXPECT_TRUE(b.Progresso().contains(QStringLiteral("Erro: %1").arg(backupErrors))) << b.Progresso().join('|').toStdString();
    const int compactErrors =
        b.Janela.mCompactarBackup->toPlainText().split('\n').filter("ERROR", Qt::CaseInsensitive).size();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].texto, QStringLiteral("Erro no backup: %1.").arg(compactErrors));
    EXPECT_EQ(b.Janela.mCompactarRestaurar->toPlainText(), QStringLiteral("Compactar: Restaurar versão atual."));
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
}

TEST(Workflow, AFileAtTheOldScratchNameSurvivesTheCompaction)
{
    FixtureOptions o;
    o.schema = 4;
    Bancada b(o);
    b.Janela.miBackup->trigger();
    // The scratch database was once named after the minute: whatever lies
    // at such a name is not the tool's to drop.
    QStringList ocupados;
    const QDateTime agora = QDateTime::currentDateTime();
    for (const QDateTime &t : {agora, agora.addSecs(60)}) {
        ocupados << b.Servidor.info().dataDir + "/zorvi." + t.toString("yyyyMMdd.HHmm") + ".versao.5.fdb";
        QFile f(ocupados.last());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("ocupado");
    }
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].texto, QStringLiteral("Concluído"));
    for (const QString &nome : ocupados) {
        QFile f(nome);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << nome.toStdString();
        EXPECT_EQ(f.readAll(), "ocupado");
    }
    EXPECT_TRUE(QDir(b.Servidor.info().dataDir).entryList({"*.teste.*"}).isEmpty()) << "the scratch database is gone";
}

TEST(WorkflowTexts, FileNamesTimesAndErrorLines)
{
    TdmA modulo;
    dmA = &modulo;
    TfPrincipal f;
    const QDateTime inicio(QDate(2014, 3, 3), QTime(9, 5, 41));
    f.PastaBackup = "C:\\Backup\\";
    modulo.BancoDados = "zorvi";
    EXPECT_EQ(f.NomeArquivoBackup(4, inicio), "C:\\Backup\\zorvi.20140303.0905.versao.4.fbk");
    f.PastaBackup = "C:\\Backup";
    EXPECT_EQ(f.NomeArquivoBackup(4, inicio), "C:\\Backupzorvi.20140303.0905.versao.4.fbk");
    f.PastaBackup = "/srv/backup/";
    modulo.BancoDados = "/srv/dados/zorvi.fdb";
    EXPECT_EQ(f.NomeArquivoBackup(5, inicio), "/srv/backup//srv/dados/zorvi.fdb.20140303.0905.versao.5.fbk");
    dmA = nullptr;
    // What a run puts in its files' names: an alias as typed; a path as its
    // file's name and the digits of the README's example.
    EXPECT_EQ(TAtualizacao::NomeNosArquivos("zorvi"), "zorvi");
    EXPECT_EQ(TAtualizacao::NomeNosArquivos("/dados/a/zorvi.fdb"), "zorvi-22bedaa9");
    EXPECT_TRUE(TAtualizacao::NomeNosArquivos("C:\\Zorvi\\zorvi.fdb").startsWith("zorvi-"));

    EXPECT_EQ(TfPrincipal::Duracao(inicio, inicio.addMSecs(999)), "00:00:00");
    EXPECT_EQ(TfPrincipal::Duracao(inicio, inicio.addSecs(3 * 3600 + 62)), "03:01:02");
    EXPECT_EQ(TfPrincipal::Duracao(inicio, inicio.addSecs(25 * 3600)), "01:00:00");
    EXPECT_EQ(TfPrincipal::Momento(inicio), "03/03/2014 09:05:41");
    EXPECT_EQ(TfPrincipal::Momento(QDateTime(QDate(2014, 3, 3), QTime(0, 0))), "03/03/2014");

    for (const char *line : {"gbak: ERROR:x", "an error here", "Error", "ERRORS", "error and error"})
        EXPECT_TRUE(TfPrincipal::LinhaDeErro(line)) << line;
    for (const char *line : {"ERR0R", "erro", "gbak:writing data for table CLIENTE", ""})
        EXPECT_FALSE(TfPrincipal::LinhaDeErro(line)) << line;
}
