// Faults and bad input during an update: the server killed at chosen
// moments, then started again and the database inspected; login values
// that cannot work. The tool reports, never crashes or hangs, and loses
// nothing.
#include "IBScript.h"
#include "IBServices.h"
#include "WorkflowBench.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

// Kills the bench's server once Condition holds, from inside the run.
struct Sabotagem {
    bool feita = false;
    void operator()(Bancada &B, bool Condition)
    {
        if (!feita && Condition) {
            feita = true;
            B.Servidor.Kill();
        }
    }
};

} // namespace

TEST(Fault, ServerKilledInsideAMigrationScript)
{
    Bancada b;
    b.Janela.miBackup->trigger();
    Sabotagem s;
    // After the first statement of script 3 ran, in its open transaction.
    b.Modulo.sVersao3->SetOnParse([&](QObject *, TIBParseKind, const QString &) { s(b, true); });
    b.Atualizar();
    ASSERT_TRUE(s.feita);
    const QStringList p = b.Progresso();
    EXPECT_TRUE(p.contains(QStringLiteral("002 versão atualizada com sucesso.")));
    EXPECT_TRUE(p.contains(QStringLiteral("003 Erro: versão não foi atualizada.")));
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    b.Servidor.Start();
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "2");
    EXPECT_EQ(b.Valor("SELECT EXPURGO FROM CONFIGURAR WHERE ID = 1"), "N");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_INACTIVE = 1"), "0")
        << "nothing of the interrupted script stays";

    // Left in maintenance by the dead server; the next run says so, ends it
    // and completes.
    EXPECT_EQ(b.Valor("SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE"), "1");
    struct : TSaidaAtualizacao {
        QStringList linhas;
        void Linha(TPainel, const QString &T) override { linhas << T; }
        void Status(const QString &) override {}
        void OutrosUsuarios(int32_t) override {}
        void Concluido() override {}
    } saida;
    b.Modulo.dbAtualizar->ForceClose();
    TdmA modulo; // a new run of the program
    TAtualizacao outra(modulo, saida);
    EXPECT_EQ(outra.Executar({b.Servidor.info().server(), "zorvi", "sysdba", b.Servidor.info().password}),
              TResultado::Concluido);
    EXPECT_EQ(saida.linhas.filter(QStringLiteral("estava em manutenção")).size(), 1);
    EXPECT_EQ(b.Valor("SELECT MON$SHUTDOWN_MODE || ':' || VERSAO_BANCO_DADOS FROM MON$DATABASE, CONFIGURAR WHERE ID = 1"),
              "0:5");
}

TEST(Fault, ServerKilledInsideEachMigrationScript)
{
    for (int versao : {2, 4, 5}) {
        SCOPED_TRACE(versao);
        Bancada b;
        b.Janela.miBackup->trigger();
        b.Janela.miCompactar->trigger();
        TIBScript *scripts[] = {b.Modulo.sVersao2, b.Modulo.sVersao3, b.Modulo.sVersao4, b.Modulo.sVersao5};
        Sabotagem s;
        int statements = 0;
        scripts[versao - 2]->SetOnParse([&](QObject *, TIBParseKind, const QString &) { s(b, ++statements == 2); });
        b.Atualizar();
        ASSERT_TRUE(s.feita);
        EXPECT_TRUE(b.Progresso().contains(QStringLiteral("%1 Erro: versão não foi atualizada.")
                                               .arg(versao, 3, 10, QLatin1Char('0'))));
        ASSERT_EQ(b.Pessoa.caixas.size(), 1);
        b.Servidor.Start();
        EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), QString::number(versao - 1));
        if (versao == 5) {
            EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM RDB$FIELDS WHERE RDB$FIELD_NAME = 'DM_CHAR_01'"), "0");
        }
        if (versao == 4) {
            EXPECT_NE(b.Valor("SELECT COUNT(*) FROM MOVIMENTO WHERE HISTORICO_ID = 11"), "0");
        }
    }
}

TEST(Fault, ServerKilledDuringTheCompactionBackupOrTheTestRestore)
{
    for (const char *fase : {"Backup", "Compactar (Teste de restauração)"}) {
        SCOPED_TRACE(fase);
        FixtureOptions o;
        o.schema = 4;
        Bancada b(o);
        b.Janela.miBackup->trigger();
        Sabotagem s;
        QPlainTextEdit *painel = QString(fase) == "Backup" ? b.Janela.mCompactarBackup : b.Janela.mCompactarRestaurar;
        QObject::connect(painel, &QPlainTextEdit::textChanged, [&] {
            const QString text = painel->toPlainText();
            const qsizetype at = text.indexOf(QString::fromUtf8(fase));
            s(b, at >= 0 && text.mid(at).count('\n') > 6);
        });
        b.Atualizar();
        ASSERT_TRUE(s.feita);
        ASSERT_EQ(b.Pessoa.caixas.size(), 1);
        EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(b.Janela.findChildren<TIBCustomService *>().isEmpty());
        b.Servidor.Start();
        EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
        EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
    }
}

TEST(Fault, ABackupFolderTheServerCannotWrite)
{
    FixtureOptions o;
    o.backupFolder = "/root/sem/acesso/";
    Bancada b(o);
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_TRUE(b.Pessoa.caixas[0].texto.contains("/root/sem/acesso/zorvi.")) << b.Pessoa.caixas[0].texto.toStdString();
    EXPECT_TRUE(b.Progresso().filter(QStringLiteral("versão atualizada")).isEmpty()) << "no script ran";
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "1");
}

TEST(Fault, ServerKilledDuringThePreUpdateBackup)
{
    Bancada b;
    const QString antes = b.Valor("SELECT COUNT(*) || '/' || CAST(SUM(SALDO) AS NUMERIC(18, 2)) FROM CLIENTE");
    Sabotagem s;
    QObject::connect(b.Janela.mBackup, &QPlainTextEdit::textChanged,
                     [&] { s(b, b.Janela.mBackup->blockCount() > 8); });
    b.Atualizar();
    ASSERT_TRUE(s.feita);
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass is gone";
    EXPECT_TRUE(b.Janela.findChildren<TIBCustomService *>().isEmpty()) << "service objects are freed";
    EXPECT_TRUE(b.Progresso().filter(QStringLiteral("versão atualizada")).isEmpty());

    b.Servidor.Start();
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "1");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) || '/' || CAST(SUM(SALDO) AS NUMERIC(18, 2)) FROM CLIENTE"), antes);
}

TEST(Fault, ServerKilledDuringTheReplaceRestoreLeavesARestorableBackup)
{
    Bancada b;
    b.Janela.miBackup->trigger();
    Sabotagem s;
    QObject::connect(b.Janela.mCompactarRestaurar, &QPlainTextEdit::textChanged, [&] {
        const QString text = b.Janela.mCompactarRestaurar->toPlainText();
        const qsizetype at = text.indexOf("Compactar (Restaurar)");
        s(b, at >= 0 && text.mid(at).count('\n') > 6);
    });
    b.Atualizar();
    ASSERT_TRUE(s.feita);
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
    EXPECT_NE(b.Janela.StatusBar1->currentMessage(), QStringLiteral("Concluído."));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The backup of this run brings the database back, at version 5.
    b.Servidor.Start();
    const QStringList files = b.Backups();
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    const ServerInfo &s5 = b.Servidor.info();
    const ProcessResult g = RunProgram("gbak", {"-rep", "-se", s5.serviceManager(), "-user", "SYSDBA", "-password",
                                                s5.password, s5.dataDir + "/" + files[0], b.Banco->path()});
    ASSERT_TRUE(g.ok()) << g.err.toStdString();
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM CLIENTE"), "4");
}

TEST(Fault, ServerDownAtTheAttachmentCheckThenBack)
{
    Bancada b;
    b.Janela.miBackup->trigger();
    b.Janela.miCompactar->trigger();
    b.Servidor.Kill();
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
    EXPECT_FALSE(b.Pessoa.caixas[0].texto.isEmpty());
    EXPECT_TRUE(b.Janela.bAtualizar->isVisible()) << "the user can try again";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    b.Servidor.Start();
    b.Atualizar();
    ASSERT_EQ(b.Pessoa.caixas.size(), 2);
    EXPECT_EQ(b.Pessoa.caixas[1].texto, QStringLiteral("Concluído"));
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
}

TEST(BadLogin, WhatTheUserSeesForValuesThatCannotWork)
{
    Bancada b;
    const QString segredo = QStringLiteral("senhaErrada#123");
    struct Caso {
        const char *nome;
        QString servidor, banco, usuario, senha;
    };
    const QList<Caso> casos{
        {"closed port", QStringLiteral("127.0.0.1/%1").arg(FreePort()), "zorvi", "SYSDBA", b.Servidor.info().password},
        {"unknown host", "servidor.invalido", "zorvi", "SYSDBA", b.Servidor.info().password},
        {"wrong password", b.Servidor.info().server(), "zorvi", "SYSDBA", segredo},
        {"unknown alias", b.Servidor.info().server(), "nao_existe", "SYSDBA", b.Servidor.info().password},
        {"longest values", b.Servidor.info().server() + QString(31, 'x'), QString(70, 'b'), QString(31, 'u'),
         QString(32, 's')},
        {"non-ASCII", QStringLiteral("sérvidor"), QStringLiteral("bânco"), QStringLiteral("usuário"),
         QStringLiteral("señha")},
    };
    for (const Caso &c : casos) {
        SCOPED_TRACE(c.nome);
        b.Pessoa.caixas.clear();
        b.Pessoa.servidor = c.servidor;
        b.Pessoa.banco = c.banco;
        b.Pessoa.usuario = c.usuario;
        b.Pessoa.senha = c.senha;
        b.Atualizar();
        ASSERT_EQ(b.Pessoa.caixas.size(), 1);
        const Caixa &caixa = b.Pessoa.caixas[0];
        EXPECT_EQ(caixa.icone, QMessageBox::Critical);
        EXPECT_EQ(caixa.titulo, "Atualizar Banco Dados");
        EXPECT_FALSE(caixa.texto.isEmpty());
        // The password shows nowhere.
        EXPECT_FALSE(caixa.texto.contains(c.senha)) << caixa.texto.toStdString();
        EXPECT_FALSE(b.Janela.mAtualizar->toPlainText().contains(c.senha));
        EXPECT_FALSE(b.Janela.StatusBar1->currentMessage().contains(c.senha));
        EXPECT_TRUE(b.Janela.bAtualizar->isVisible());
        EXPECT_FALSE(b.Modulo.dbAtualizar->Connected());
    }
    // Typed user names reach the service manager upper-cased by the locale.
    EXPECT_EQ(b.Modulo.Usuario, QStringLiteral("USUÁRIO"));
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "1");
}

// A power cut inside the restore that replaces the database, from the
// window: the error box says the next run restores it, and that run, from
// the window too, restores the backup again, compares and releases it.
TEST(Fault, APowerCutInTheReplacingRestoreIsRepairedByTheNextRunFromTheWindow)
{
    FixtureOptions o;
    o.movements = 20000;
    Bancada b(o);
    // Once the restore has dropped the database and written back a third of
    // it: inside the tables' data.
    std::unique_ptr<CorteNaRecriacao> corte;
    QString movimentos;
    QObject::connect(b.Janela.mCompactarRestaurar, &QPlainTextEdit::textChanged, [&] {
        if (!corte && b.Linhas(b.Janela.mCompactarRestaurar).last() == "Compactar (Restaurar)") {
            movimentos = b.Valor("SELECT COUNT(*) FROM MOVIMENTO");
            corte = std::make_unique<CorteNaRecriacao>(b.Servidor, b.Banco->path(), 0.33);
        }
    });
    b.Atualizar();
    ASSERT_TRUE(corte && corte->Feito());
    ASSERT_EQ(b.Pessoa.caixas.size(), 1);
    EXPECT_EQ(b.Pessoa.caixas[0].icone, QMessageBox::Critical);
    EXPECT_TRUE(b.Pessoa.caixas[0].texto.contains("Execute a atualização outra vez"))
        << b.Pessoa.caixas[0].texto.toStdString();
    b.Servidor.Start();
    EXPECT_NE(b.Valor("SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE"), "0") << "closed to the shop";

    // The next run, in a window of its own as after the tool was opened again.
    b.Modulo.dbAtualizar->ForceClose();
    TfPrincipal outra;
    fPrincipal = &outra;
    outra.show();
    outra.bAtualizar->Click();
    fPrincipal = &b.Janela;
    const QStringList p = outra.mAtualizar->toPlainText().split('\n');
    EXPECT_TRUE(p.filter("a última compactação deste banco de dados não terminou").size() == 1)
        << p.join('\n').toStdString();
    EXPECT_TRUE(p.contains("Banco dados já esta atualizado.")) << p.join('\n').toStdString();
    EXPECT_EQ(b.Valor("SELECT MON$SHUTDOWN_MODE || ':' || MON$READ_ONLY FROM MON$DATABASE"), "0:0");
    EXPECT_EQ(b.Valor("SELECT COUNT(*) FROM MOVIMENTO"), movimentos);
    EXPECT_EQ(b.Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"), "5");
}
