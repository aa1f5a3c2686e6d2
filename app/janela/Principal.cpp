#include "Principal.h"

#include "A.h"
#include "Exceptions.h"
#include "Login.h"
#include "Mensagens.h"
#include "Registro.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProgressBar>
#include <QUrl>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>

#include <memory>
#include <numeric>

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
    FAlturas = Splitters->sizes();
    connect(Splitters, &QSplitter::splitterMoved, this, [this](int, int Indice) { SplitterMovido(Indice); });

    aBackup = Acao(alBase, "aBackup", QStringLiteral("Backup"), QStringLiteral("Backup"));
    aBackup->SetOnExecute([this](QObject *Sender) { aBackupExecute(Sender); });
    aCompactar = Acao(alBase, "aCompactar", QStringLiteral("Compactar"), QStringLiteral("Compactar"));
    aCompactar->SetOnExecute([this](QObject *Sender) { aCompactarExecute(Sender); });
    aAtualizar = Acao(alBase, "aAtualizar", QStringLiteral("&Atualizar"), QString());
    aAtualizar->SetOnExecute([this](QObject *Sender) { aAtualizarExecute(Sender); });

    miBackup = ItemMarcado(pmBase, "miBackup", QStringLiteral("Backup"));
    miCompactar = ItemMarcado(pmBase, "miCompactar", QStringLiteral("Compactar"));
    miRegistros = pmBase->addAction(QStringLiteral("Abrir pasta de registros"));
    miRegistros->setObjectName(QStringLiteral("miRegistros"));
    connect(miRegistros, &QAction::triggered,
            [] { QDesktopServices::openUrl(QUrl::fromLocalFile(TRegistro::Pasta())); });

    pbProgresso = new QProgressBar(StatusBar1);
    pbProgresso->setObjectName(QStringLiteral("pbProgresso"));
    pbProgresso->setRange(0, 100);
    pbProgresso->setMaximumWidth(160);
    pbProgresso->setMaximumHeight(15);
    StatusBar1->addPermanentWidget(pbProgresso);
    pbProgresso->hide();

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

void TfPrincipal::SplitterMovido(int Indice)
{
    QList<int> alturas = Splitters->sizes();
    const int ultimo = int(alturas.size()) - 1;
    if (FAlturas.size() == alturas.size() && Indice >= 1 && Indice < ultimo) {
        // The splitter moved the pane below; put it back and let the last
        // pane give or take the height instead.
        const int total = std::accumulate(alturas.cbegin(), alturas.cend(), 0);
        const int acima = alturas[Indice - 1];
        alturas = FAlturas;
        alturas[Indice - 1] = acima;
        int resto = total;
        for (int i = 0; i < ultimo; ++i)
            resto -= alturas[i];
        const int minimo = Splitters->widget(ultimo)->minimumHeight();
        if (resto < minimo) {
            alturas[Indice - 1] -= minimo - resto;
            resto = minimo;
        }
        alturas[ultimo] = resto;
        const QSignalBlocker bloqueio(Splitters);
        Splitters->setSizes(alturas);
    }
    FAlturas = Splitters->sizes();
}

QPlainTextEdit *TfPrincipal::PainelDe(TPainel Painel) const
{
    switch (Painel) {
    case TPainel::Atualizar:
        return mAtualizar;
    case TPainel::Backup:
        return mBackup;
    case TPainel::CompactarBackup:
        return mCompactarBackup;
    case TPainel::CompactarRestaurar:
        return mCompactarRestaurar;
    }
    return mAtualizar;
}

void TfPrincipal::Adicionar(QPlainTextEdit *Pane, const QString &Line)
{
    Pane->appendPlainText(Line);
    Pane->verticalScrollBar()->setValue(Pane->verticalScrollBar()->maximum());
}

// What the window shows of a run: the panes, the status bar, the boxes and
// the hourglass.
class TfPrincipal::TSaidaJanela : public TSaidaAtualizacao {
public:
    explicit TSaidaJanela(TfPrincipal &Janela) : FJanela(Janela) {}

    void Linha(TPainel Painel, const QString &Texto) override
    {
        Adicionar(FJanela.PainelDe(Painel), Texto);
    }
    void Status(const QString &Texto) override { FJanela.StatusBar1->showMessage(Texto); }
    void OutrosUsuarios(int32_t Conectados) override
    {
        Informar(QStringLiteral("Informação"),
                 QStringLiteral("Outros usuários conectados ao banco de dados: %1\n\nTodos os usuários devem sair do Zorvi.")
                     .arg(Conectados));
    }
    void Conectou() override { FJanela.aAtualizar->setVisible(false); }
    void Concluido() override { Informar(QStringLiteral("Concluído"), QStringLiteral("Concluído")); }
    void Ocupado(bool Sim) override
    {
        if (Sim)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }
    void Processar() override { QCoreApplication::processEvents(); }
    void Progresso(int Percentual) override
    {
        FJanela.pbProgresso->setValue(Percentual);
        FJanela.pbProgresso->show();
        FJanela.setWindowTitle(QStringLiteral("%1% - Atualizar Banco Dados").arg(Percentual));
    }

private:
    static void Informar(const QString &Titulo, const QString &Texto)
    {
        QMessageBox box(QMessageBox::Information, Titulo, Texto, QMessageBox::Ok);
        box.exec();
    }

    TfPrincipal &FJanela;
};

void TfPrincipal::aAtualizarExecute(QObject * /*Sender*/)
{
    VersaoBancoDadosAtual = 5;
    TLogin valores;
    {
        auto login = std::make_unique<TfLogin>();
        login->eServidor->setText(QStringLiteral("127.0.0.1"));
        login->eBancoDados->setText(QStringLiteral("zorvi"));
        login->eUsuario->setText(QStringLiteral("SYSDBA"));
        login->eSenha->setText(QStringLiteral("vintemoro"));
        if (login->ShowModal() != mrOk)
            return;
        valores = {login->eServidor->text(), login->eBancoDados->text(), login->eUsuario->text(),
                   login->eSenha->text()};
    }
    TSaidaJanela saida(*this);
    TRegistro registro(saida, valores);
    TAtualizacao atualizacao(*dmA, registro);
    atualizacao.SetBackup(miBackup->isChecked());
    atualizacao.SetCompactar(miCompactar->isChecked());
    FAtualizacao = &atualizacao;
    const auto fim = qScopeGuard([&] {
        FAtualizacao = nullptr;
        PastaBackup = atualizacao.PastaBackup();
        VersaoBancoDados = atualizacao.VersaoBancoDados();
        pbProgresso->hide();
        setWindowTitle(QStringLiteral("Atualizar Banco Dados"));
    });
    try {
        registro.Fim(atualizacao, TextoDoResultado(atualizacao.Executar(valores)));
    } catch (const std::exception &E) {
        registro.Fim(atualizacao, QStringLiteral("Erro: ") + TextoDoErro(TextoAmigavel(E)));
        throw;
    }
}

void TfPrincipal::aBackupExecute(QObject * /*Sender*/)
{
    if (FAtualizacao)
        FAtualizacao->ExecutarBackup();
}

void TfPrincipal::aCompactarExecute(QObject * /*Sender*/)
{
    if (FAtualizacao)
        FAtualizacao->ExecutarCompactacao();
}

QString TfPrincipal::NomeArquivoBackup(int32_t Versao, const QDateTime &Inicio) const
{
    return TAtualizacao::NomeArquivoBackup(PastaBackup, dmA->BancoDados, Versao, Inicio);
}
