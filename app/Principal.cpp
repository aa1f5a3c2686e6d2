#include "Principal.h"

#include "A.h"
#include "Exceptions.h"
#include "IBDatabase.h"
#include "IBQuery.h"
#include "IBScript.h"
#include "IBServices.h"
#include "Login.h"
#include "SysUtils.h"

#include <QLayout>
#include <QCoreApplication>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>

#include <memory>

TfPrincipal *fPrincipal = nullptr;

namespace {

QPlainTextEdit *Painel(QWidget *Parent, const char *Name, const QString &Text)
{
    auto *m = new QPlainTextEdit(Parent);
    m->setObjectName(QLatin1String(Name));
    m->setReadOnly(true);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Low panes: the scroll bar shrinks instead of holding the pane up.
    m->setMinimumHeight(24);
    m->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m->setPlainText(Text);
    QPalette p = m->palette();
    p.setColor(QPalette::Base, QToolTip::palette().color(QPalette::ToolTipBase));
    p.setColor(QPalette::Text, QToolTip::palette().color(QPalette::ToolTipText));
    m->setPalette(p);
    return m;
}

TAction *Acao(QObject *List, const char *Name, const QString &Caption, const QString &Hint)
{
    auto *a = new TAction(List);
    a->setObjectName(QLatin1String(Name));
    a->setText(Caption);
    if (!Hint.isEmpty()) {
        a->setToolTip(Hint);
        a->setStatusTip(Hint);
    }
    return a;
}

QAction *ItemMarcado(QMenu *Menu, const char *Name, const QString &Caption)
{
    QAction *mi = Menu->addAction(Caption);
    mi->setObjectName(QLatin1String(Name));
    mi->setToolTip(Caption);
    mi->setStatusTip(Caption);
    mi->setCheckable(true);
    mi->setChecked(true);
    return mi;
}

} // namespace

const QStringList &TfPrincipal::InstrucoesIniciais()
{
    static const QStringList lines{
        QStringLiteral("1. Atualizar banco de dados para versão 5;"),
        QStringLiteral("2. Verificar qual a versão atual do banco de dados (Zorvi menu Ajuda, Sobre);"),
        QStringLiteral("3. Atualizar somente se a versão anterior for menor que 5;"),
        QStringLiteral("4. Efetuar um backup do banco de dados (Zorvi Server, Banco Dados, Backup);"),
        QStringLiteral("5. Sair do Zorvi todos os usuários;"),
        QStringLiteral("6. Clique no botão atualizar somente após executar os itens acima (usuário sysdba); "),
        QStringLiteral("7. Compactar o banco de dados (Zorvi Server, Banco Dados, Ferramentas, Compactar)."),
    };
    return lines;
}

TfPrincipal::TfPrincipal(QWidget *AOwner) : TfBase(AOwner)
{
    setObjectName(QStringLiteral("fPrincipal"));
    setWindowTitle(QStringLiteral("Atualizar Banco Dados"));
    SetClientSize(632, 406);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Splitters = new QSplitter(Qt::Vertical, this);
    Splitters->setObjectName(QStringLiteral("Splitters"));
    Splitters->setHandleWidth(2);
    Splitters->setChildrenCollapsible(false);
    mAtualizar = Painel(Splitters, "mAtualizar", InstrucoesIniciais().join(QLatin1Char('\n')));
    mBackup = Painel(Splitters, "mBackup", QStringLiteral("Backup versão anterior."));
    mCompactarBackup = Painel(Splitters, "mCompactarBackup", QStringLiteral("Compactar: Backup versão atual."));
    mCompactarRestaurar =
        Painel(Splitters, "mCompactarRestaurar", QStringLiteral("Compactar: Restaurar versão atual."));
    for (int i = 1; i <= 3; ++i)
        Splitters->handle(i)->setObjectName(QStringLiteral("Splitter%1").arg(i));
    Splitters->setStretchFactor(0, 0);
    Splitters->setStretchFactor(1, 0);
    Splitters->setStretchFactor(2, 0);
    Splitters->setStretchFactor(3, 1);
    layout->addWidget(Splitters, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(true);
    layout->addWidget(StatusBar1);
    // The pane heights at the first size; the splitter keeps them as long as
    // its own height does not change, and the last pane takes the rest later.
    Splitters->resize(632, 406 - 19);
    Splitters->setSizes({186, 65, 65, 65});

    aBackup = Acao(alBase, "aBackup", QStringLiteral("Backup"), QStringLiteral("Backup"));
    aBackup->SetOnExecute([this](QObject *Sender) { aBackupExecute(Sender); });
    aCompactar = Acao(alBase, "aCompactar", QStringLiteral("Compactar"), QStringLiteral("Compactar"));
    aCompactar->SetOnExecute([this](QObject *Sender) { aCompactarExecute(Sender); });
    aAtualizar = Acao(alBase, "aAtualizar", QStringLiteral("&Atualizar"), QString());
    aAtualizar->SetOnExecute([this](QObject *Sender) { aAtualizarExecute(Sender); });

    miBackup = ItemMarcado(pmBase, "miBackup", QStringLiteral("Backup"));
    miCompactar = ItemMarcado(pmBase, "miCompactar", QStringLiteral("Compactar"));

    // Over the lower right part of the instruction pane.
    bAtualizar = new TButton(this);
    bAtualizar->setObjectName(QStringLiteral("bAtualizar"));
    bAtualizar->setGeometry(513, 138, 75, 25);
    bAtualizar->SetAction(aAtualizar);
    bAtualizar->raise();
    SetActiveControl(bAtualizar);
    setTabOrder(bAtualizar, mAtualizar);
    setTabOrder(mAtualizar, mBackup);
    setTabOrder(mBackup, mCompactarBackup);
    setTabOrder(mCompactarBackup, mCompactarRestaurar);
    bAtualizar->setFocus();
}

void TfPrincipal::Adicionar(QPlainTextEdit *Pane, const QString &Line)
{
    Pane->appendPlainText(Line);
    Pane->verticalScrollBar()->setValue(Pane->verticalScrollBar()->maximum());
}

const char *const TfPrincipal::LimparTriggers =
    "UPDATE RDB$TRIGGERS SET RDB$TRIGGER_SOURCE = NULL WHERE (RDB$SYSTEM_FLAG IS NULL OR RDB$SYSTEM_FLAG = 0) "
    "AND RDB$TRIGGER_SOURCE IS NOT NULL";
const char *const TfPrincipal::LimparProcedures =
    "UPDATE RDB$PROCEDURES SET RDB$PROCEDURE_SOURCE = NULL WHERE (RDB$SYSTEM_FLAG IS NULL OR RDB$SYSTEM_FLAG = 0) "
    "AND RDB$PROCEDURE_SOURCE IS NOT NULL";

namespace {

QString Versao3(int32_t Versao)
{
    return QStringLiteral("%1").arg(Versao, 3, 10, QLatin1Char('0'));
}

// Runs one statement in its own transaction; false when it failed (rolled
// back then).
bool ExecutarSozinho(const char *Sql)
{
    dmA->tAtualizar->StartTransaction();
    try {
        dmA->qAtualizar->Close();
        dmA->qAtualizar->SQL().Clear();
        dmA->qAtualizar->SQL().Add(QString::fromLatin1(Sql));
        dmA->qAtualizar->ExecSQL();
        dmA->tAtualizar->Commit();
        return true;
    } catch (const std::exception &) {
        try {
            if (dmA->tAtualizar->Active())
                dmA->tAtualizar->Rollback();
        } catch (const std::exception &) {
        }
        return false;
    }
}

void Informar(const QString &Titulo, const QString &Texto)
{
    QMessageBox box(QMessageBox::Information, Titulo, Texto, QMessageBox::Ok);
    box.exec();
}

} // namespace

void TfPrincipal::aAtualizarExecute(QObject * /*Sender*/)
{
    VersaoBancoDadosAtual = 5;
    {
        auto login = std::make_unique<TfLogin>();
        login->eServidor->setText(QStringLiteral("127.0.0.1"));
        login->eBancoDados->setText(QStringLiteral("zorvi"));
        login->eUsuario->setText(QStringLiteral("SYSDBA"));
        login->eSenha->setText(QStringLiteral("vintemoro"));
        if (login->ShowModal() != mrOk)
            return;
        const QString servidor = login->eServidor->text();
        const QString banco = login->eBancoDados->text();
        const QString usuario = login->eUsuario->text();
        const QString senha = login->eSenha->text();
        dmA->dbAtualizar->SetDatabaseName(servidor + QLatin1Char(':') + banco);
        dmA->dbAtualizar->Params().SetValues(QStringLiteral("User_Name"), usuario);
        dmA->dbAtualizar->Params().SetValues(QStringLiteral("Password"), senha);
        dmA->Servidor = servidor;
        dmA->BancoDados = banco;
        dmA->Usuario = QLocale().toUpper(usuario);
        dmA->Senha = senha;
    }

    const int32_t conectados = UsuariosConectados();
    if (conectados > 0) {
        Informar(QStringLiteral("Informação"),
                 QStringLiteral("Outros usuários conectados ao banco de dados: %1\n\nTodos os usuários devem sair do Zorvi.")
                     .arg(conectados));
        dmA->dbAtualizar->Close();
        return;
    }

    dmA->dbAtualizar->Open();
    aAtualizar->setVisible(false);
    Adicionar(mAtualizar, QStringLiteral("-----------------"));

    TIBQuery *q = dmA->qAtualizar;
    q->Close();
    q->SQL().Clear();
    q->SQL().Add(QStringLiteral("SELECT PASTA_BACKUP, VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"));
    q->Open();
    if (q->IsEmpty()) {
        Adicionar(mAtualizar, QStringLiteral("Erro: Não conseguiu ler a pasta backup e versão banco dados."));
        dmA->dbAtualizar->Close();
        return;
    }
    PastaBackup = q->FieldByName(QStringLiteral("PASTA_BACKUP")).AsString();
    VersaoBancoDados = q->FieldByName(QStringLiteral("VERSAO_BANCO_DADOS")).AsInteger();
    Adicionar(mAtualizar, QStringLiteral("Banco dados versão %1").arg(VersaoBancoDados));
    if (VersaoBancoDados >= VersaoBancoDadosAtual) {
        Adicionar(mAtualizar, QString());
        Adicionar(mAtualizar, QStringLiteral("Banco dados já esta atualizado."));
        return;
    }

    if (miBackup->isChecked()) {
        Adicionar(mAtualizar, QString());
        Adicionar(mAtualizar, QStringLiteral("Backup versão %1").arg(VersaoBancoDados));
        Adicionar(mBackup, QStringLiteral("Backup versão %1").arg(VersaoBancoDados));
        aBackup->Execute();
    }
    Adicionar(mAtualizar, QString());
    if (dmA->tAtualizar->Active())
        dmA->tAtualizar->SetActive(false);

    ExecutarScript(VersaoBancoDados, 2, dmA->sVersao2);
    ExecutarScript(VersaoBancoDados, 3, dmA->sVersao3);
    ExecutarScript(VersaoBancoDados, 4, dmA->sVersao4);
    ExecutarScript(VersaoBancoDados, 5, dmA->sVersao5);

    if (!ExecutarSozinho(LimparTriggers))
        Adicionar(mAtualizar, QStringLiteral("Erro: Não limpou trigger."));
    if (!ExecutarSozinho(LimparProcedures))
        Adicionar(mAtualizar, QStringLiteral("Erro: Não limpou store procedure."));

    if (miCompactar->isChecked()) {
        Adicionar(mAtualizar, QString());
        Adicionar(mAtualizar, QStringLiteral("Compactar"));
        aCompactar->Execute();
    }
    dmA->dbAtualizar->Close();
    StatusBar1->showMessage(QStringLiteral("Concluído."));
    Informar(QStringLiteral("Concluído"), QStringLiteral("Concluído"));
}

void TfPrincipal::ExecutarScript(int32_t VersaoBancoDados, int32_t VersaoScript, TIBScript *Script)
{
    if (VersaoBancoDados >= VersaoScript)
        return;
    dmA->tAtualizar->StartTransaction();
    try {
        Script->ExecuteScript();
        dmA->tAtualizar->Commit();
        Adicionar(mAtualizar, Versao3(VersaoScript) + QStringLiteral(" versão atualizada com sucesso."));
    } catch (...) {
        Adicionar(mAtualizar, Versao3(VersaoScript) + QStringLiteral(" Erro: versão não foi atualizada."));
        // The script's error is the one the user must see, not a failing
        // rollback's.
        try {
            if (dmA->tAtualizar->Active())
                dmA->tAtualizar->Rollback();
        } catch (const std::exception &) {
        }
        throw;
    }
    dmA->dbAtualizar->Close();
    dmA->dbAtualizar->Open();
}

void TfPrincipal::Conectar(TIBCustomService &Servico) const
{
    Servico.SetServerName(dmA->Servidor);
    Servico.SetProtocol(TProtocol::TCP);
    Servico.SetLoginPrompt(false);
    Servico.Params().Add(QStringLiteral("user_name=") + dmA->Usuario);
    Servico.Params().Add(QStringLiteral("password=") + dmA->Senha);
}

int32_t TfPrincipal::UsuariosConectados()
{
    auto propriedades = std::make_unique<TIBServerProperties>();
    TAmpulheta ampulheta;
    Conectar(*propriedades);
    propriedades->SetActive(true);
    int32_t conectados = 0;
    try {
        propriedades->SetOptions({TPropertyOption::Database});
        propriedades->FetchDatabaseInfo();
        conectados = propriedades->DatabaseInfo().NoOfAttachments;
    } catch (...) {
        try {
            propriedades->SetActive(false);
        } catch (const std::exception &) {
        }
        throw;
    }
    propriedades->SetActive(false);
    return conectados;
}

QString TfPrincipal::NomeArquivoBackup(int32_t Versao, const QDateTime &Inicio) const
{
    return PastaBackup + dmA->BancoDados + QLatin1Char('.') + Inicio.toString(QStringLiteral("yyyyMMdd.HHmm")) +
           QStringLiteral(".versao.") + QString::number(Versao) + QStringLiteral(".fbk");
}

QString TfPrincipal::Momento(const QDateTime &Quando)
{
    return DateTimeToStr(Quando);
}

QString TfPrincipal::Duracao(const QDateTime &Inicio, const QDateTime &Fim)
{
    // Hours count within one day.
    const qint64 segundos = (Inicio.msecsTo(Fim) / 1000) % 86400;
    const QChar sep = FormatSettings().TimeSeparator;
    const auto dois = [](qint64 n) { return QString::number(n).rightJustified(2, QLatin1Char('0')); };
    return dois(segundos / 3600) + sep + dois(segundos / 60 % 60) + sep + dois(segundos % 60);
}

bool TfPrincipal::LinhaDeErro(const QString &Linha)
{
    QString upper = Linha;
    for (QChar &c : upper)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    return upper.contains(QLatin1String("ERROR"));
}

int32_t TfPrincipal::LerSaida(TIBControlAndQueryService &Servico, QPlainTextEdit *Painel)
{
    int32_t erros = 0;
    while (!Servico.Eof()) {
        const QString linha = Servico.GetNextLine();
        Adicionar(Painel, linha);
        QCoreApplication::processEvents();
        if (LinhaDeErro(linha))
            ++erros;
    }
    return erros;
}

namespace {

// Detaches a service on the way out, whatever happened before.
template <typename F>
void ComServico(TIBCustomService &Servico, F &&Trabalho)
{
    try {
        Trabalho();
    } catch (...) {
        try {
            if (Servico.Active())
                Servico.SetActive(false);
        } catch (const std::exception &) {
        }
        throw;
    }
    if (Servico.Active())
        Servico.SetActive(false);
}

} // namespace

void TfPrincipal::aBackupExecute(QObject * /*Sender*/)
{
    const QDateTime inicio = QDateTime::currentDateTime();
    const QString arquivo = NomeArquivoBackup(VersaoBancoDados, inicio);
    StatusBar1->showMessage(QStringLiteral("Backup: ") + arquivo);
    auto backup = std::make_unique<TIBBackupService>(this);
    TAmpulheta ampulheta;
    Conectar(*backup);
    backup->SetActive(true);
    ComServico(*backup, [&] {
        backup->SetVerbose(true);
        backup->SetOptions({});
        backup->SetDatabaseName(dmA->BancoDados);
        backup->SetBackupFile({arquivo});
        Adicionar(mBackup, QString());
        Adicionar(mBackup, QStringLiteral("Início ") + Momento(inicio));
        backup->ServiceStart();
        const int32_t erros = LerSaida(*backup, mBackup);
        const QDateTime fim = QDateTime::currentDateTime();
        Adicionar(mBackup, QStringLiteral("Fim ") + Momento(fim));
        Adicionar(mBackup, QStringLiteral("Demorou ") + Duracao(inicio, fim));
        if (erros > 0)
            Adicionar(mAtualizar, QStringLiteral("Erro: %1").arg(erros));
    });
}

int32_t TfPrincipal::Restaurar(const QString &Arquivo, const QStringList &Bancos, bool Substituir)
{
    auto restaurar = std::make_unique<TIBRestoreService>(this);
    Conectar(*restaurar);
    restaurar->SetActive(true);
    int32_t erros = 0;
    ComServico(*restaurar, [&] {
        restaurar->SetVerbose(true);
        restaurar->SetOptions(Substituir ? TRestoreOptions{TRestoreOption::Replace}
                                         : TRestoreOptions{TRestoreOption::CreateNewDB});
        restaurar->SetPageSize(-1);
        restaurar->SetPageBuffers(-1);
        for (const QString &banco : Bancos)
            restaurar->DatabaseName().Add(banco);
        restaurar->BackupFile().Add(Arquivo);
        restaurar->ServiceStart();
        erros = LerSaida(*restaurar, mCompactarRestaurar);
    });
    return erros;
}

void TfPrincipal::aCompactarExecute(QObject * /*Sender*/)
{
    const QDateTime inicio = QDateTime::currentDateTime();
    const QString arquivo = NomeArquivoBackup(VersaoBancoDadosAtual, inicio);
    Adicionar(mCompactarBackup, QString());
    Adicionar(mCompactarBackup, QStringLiteral("Compactar (Close Database e Backup)"));
    Adicionar(mCompactarBackup, QStringLiteral("Início ") + Momento(inicio));
    TAmpulheta ampulheta;
    Adicionar(mCompactarBackup, QStringLiteral("Close Database"));
    dmA->dbAtualizar->Close();
    StatusBar1->showMessage(QStringLiteral("Backup versão atual ") + arquivo);

    int32_t erros = 0;
    {
        auto backup = std::make_unique<TIBBackupService>(this);
        Conectar(*backup);
        backup->SetActive(true);
        ComServico(*backup, [&] {
            backup->SetVerbose(true);
            backup->SetOptions({TBackupOption::NoGarbageCollection});
            backup->SetDatabaseName(dmA->BancoDados);
            backup->SetBackupFile({arquivo});
            Adicionar(mCompactarBackup, QStringLiteral("Backup"));
            backup->ServiceStart();
            erros = LerSaida(*backup, mCompactarBackup);
        });
    }
    const QDateTime fimBackup = QDateTime::currentDateTime();
    Adicionar(mCompactarBackup, QStringLiteral("Fim ") + Momento(fimBackup));
    Adicionar(mCompactarBackup, QStringLiteral("Demorou ") + Duracao(inicio, fimBackup));
    if (erros > 0)
        throw Exception(QStringLiteral("Erro no backup: %1").arg(erros));

    // The Replace restore deletes the live database before it rebuilds it:
    // the backup must first prove that it restores, into a scratch database
    // beside it, which is dropped again.
    const QString teste = arquivo.left(arquivo.size() - 4) + QStringLiteral(".fdb");
    const QDateTime inicioTeste = QDateTime::currentDateTime();
    Adicionar(mCompactarRestaurar, QString());
    Adicionar(mCompactarRestaurar, QStringLiteral("Compactar (Teste de restauração)"));
    Adicionar(mCompactarRestaurar, QStringLiteral("Início ") + Momento(inicioTeste));
    StatusBar1->showMessage(QStringLiteral("Testar restauração ") + arquivo);
    int32_t errosTeste = 0;
    const auto apagarTeste = [&] {
        TIBDatabase rascunho;
        rascunho.SetServerType(dmA->dbAtualizar->ServerType());
        rascunho.SetLoginPrompt(false);
        rascunho.SetParams({QStringLiteral("user_name=") + dmA->Usuario, QStringLiteral("password=") + dmA->Senha});
        rascunho.SetDatabaseName(dmA->Servidor + QLatin1Char(':') + teste);
        rascunho.Open();
        rascunho.DropDatabase();
    };
    try {
        errosTeste = Restaurar(arquivo, {teste}, false);
    } catch (...) {
        try {
            apagarTeste();
        } catch (const std::exception &) {
        }
        throw;
    }
    const QDateTime fimTeste = QDateTime::currentDateTime();
    Adicionar(mCompactarRestaurar, QStringLiteral("Fim ") + Momento(fimTeste));
    Adicionar(mCompactarRestaurar, QStringLiteral("Demorou ") + Duracao(inicioTeste, fimTeste));
    try {
        apagarTeste();
    } catch (const std::exception &) {
        if (errosTeste == 0)
            throw;
    }
    if (errosTeste > 0)
        throw Exception(QStringLiteral("Erro no teste de restauração: %1").arg(errosTeste));

    const QDateTime inicioRestauracao = QDateTime::currentDateTime();
    Adicionar(mCompactarRestaurar, QString());
    Adicionar(mCompactarRestaurar, QStringLiteral("Compactar (Restaurar)"));
    Adicionar(mCompactarRestaurar, QStringLiteral("Início ") + Momento(inicioRestauracao));
    StatusBar1->showMessage(QStringLiteral("Restaurar versão atual ") + arquivo);
    erros = Restaurar(arquivo, {dmA->BancoDados}, true);
    const QDateTime fim = QDateTime::currentDateTime();
    Adicionar(mCompactarRestaurar, QStringLiteral("Fim ") + Momento(fim));
    Adicionar(mCompactarRestaurar, QStringLiteral("Demorou ") + Duracao(inicioRestauracao, fim));
    if (erros > 0) {
        Adicionar(mAtualizar, QStringLiteral("Erro: %1").arg(erros));
        throw Exception(QStringLiteral("Erro na restauração: %1").arg(erros));
    }
}
