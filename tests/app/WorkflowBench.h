#pragma once

// A bench for driving the update workflow through the real main window
// against a server of the test's own, answering its dialogs as a user would.

#include "A.h"
#include "DbTestSupport.h"
#include "FormsTestSupport.h"
#include "IBQuery.h"
#include "Login.h"
#include "Principal.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>

namespace abdtest {

struct Caixa {
    QString titulo;
    QString texto;
    QMessageBox::Icon icone;
};

// Answers whatever modal window comes up while the workflow runs.
struct Usuario {
    bool cancelar = false;
    QString servidor, banco, usuario, senha;
    QList<QStringList> padroes; // what the login dialog offered, each time
    QList<Caixa> caixas;
    Modal driver{[this](QWidget *Janela) { Responder(Janela); }};

    void Responder(QWidget *modal)
    {
        if (auto *login = qobject_cast<TfLogin *>(modal)) {
            if (!login->isVisible())
                return;
            padroes << QStringList{login->eServidor->text(), login->eBancoDados->text(), login->eUsuario->text(),
                                   login->eSenha->text()};
            if (cancelar) {
                login->bCancelar->Click();
                return;
            }
            login->eServidor->setText(servidor);
            login->eBancoDados->setText(banco);
            login->eUsuario->setText(usuario);
            login->eSenha->setText(senha);
            login->UpdateActions();
            login->bOK->Click();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            caixas << Caixa{box->windowTitle(), box->text(), box->icon()};
            box->accept();
        }
    }
};

struct Bancada {
    PrivateServer Servidor;
    std::unique_ptr<FixtureDb> Banco;
    TdmA Modulo;
    TfPrincipal Janela;
    Usuario Pessoa;

    explicit Bancada(const FixtureOptions &Opcoes = {})
    {
        FixtureOptions o = Opcoes;
        if (o.backupFolder.isEmpty())
            o.backupFolder = Servidor.info().dataDir + "/";
        // The server's alias "zorvi" names this file; the login types the
        // alias, as the tool's users do.
        o.file = Servidor.info().dataDir + "/zorvi.fdb";
        Banco = std::make_unique<FixtureDb>(Servidor.info(), o);
        QCoreApplication::setApplicationName("Atualizar Banco Dados");
        dmA = &Modulo;
        fPrincipal = &Janela;
        Janela.show();
        Pessoa.servidor = Servidor.info().server();
        Pessoa.banco = "zorvi";
        Pessoa.usuario = "sysdba";
        Pessoa.senha = Servidor.info().password;
    }
    ~Bancada()
    {
        Modulo.dbAtualizar->ForceClose();
        fPrincipal = nullptr;
        dmA = nullptr;
    }

    void Atualizar() { Janela.bAtualizar->Click(); }
    QStringList Linhas(QPlainTextEdit *Painel) const { return Painel->toPlainText().split('\n'); }
    // The lines the run added to the instruction pane.
    QStringList Progresso() const { return Linhas(Janela.mAtualizar).mid(TfPrincipal::InstrucoesIniciais().size()); }
    QString Valor(const QString &Select) { return IsqlValue(Servidor.info(), Banco->path(), Select); }
    QStringList Backups() const
    {
        return QDir(Servidor.info().dataDir).entryList({"zorvi.*.fbk"});
    }
};

} // namespace abdtest
