#include "Login.h"

#include <QLabel>
#include <QLineEdit>

namespace {

QLineEdit *Caixa(TfLogin *Form, const char *Name, int Top, int MaxLength, const char *Hint)
{
    auto *e = new QLineEdit(Form);
    e->setObjectName(QLatin1String(Name));
    e->setGeometry(77, Top, 213, 21);
    e->setMaxLength(MaxLength);
    if (Hint)
        e->setToolTip(QString::fromUtf8(Hint));
    return e;
}

QLabel *Rotulo(TfLogin *Form, const char *Name, const char *Caption, QLineEdit *Box)
{
    auto *l = new QLabel(QString::fromUtf8(Caption), Form);
    l->setObjectName(QLatin1String(Name));
    l->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // Right edge 4 pixels left of the box, 3 pixels below its top.
    const int width = 73;
    l->setGeometry(0, Box->y() + 3, width, Box->height() - 3);
    l->setBuddy(Box);
    return l;
}

} // namespace

TfLogin::TfLogin(QWidget *AOwner) : TfDialogo(AOwner)
{
    setObjectName(QStringLiteral("fLogin"));
    setWindowTitle(QStringLiteral("Login"));
    SetClientSize(304, 161);

    eServidor = Caixa(this, "eServidor", 17, 31, "IP ou nome do servidor. Exemplo: 192.168.0.1, M1 e localhost.");
    eBancoDados = Caixa(this, "eBancoDados", 39, 70,
                        "Apelido ou pasta e nome do banco de dados. Exemplo: talvenor, teste e "
                        "C:\\Arquivos de programas\\Talvenor\\Banco Dados\\Talvenor.fdb");
    eUsuario = Caixa(this, "eUsuario", 61, 31, nullptr);
    eSenha = Caixa(this, "eSenha", 83, 32, nullptr);
    eSenha->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever the style's own mask character is.
    eSenha->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));

    lServidor = Rotulo(this, "lServidor", "Ser&vidor", eServidor);
    lBancoDados = Rotulo(this, "lBancoDados", "&Banco Dados", eBancoDados);
    lUsuario = Rotulo(this, "lUsuario", "&Usuário", eUsuario);
    lSenha = Rotulo(this, "lSenha", "&Senha", eSenha);

    bOK->move(130, bOK->y());
    bCancelar->move(214, bCancelar->y());
    setTabOrder(eServidor, eBancoDados);
    setTabOrder(eBancoDados, eUsuario);
    setTabOrder(eUsuario, eSenha);
    setTabOrder(eSenha, bOK);
    setTabOrder(bOK, bCancelar);

    aOK = new TAction(alBase);
    aOK->setObjectName(QStringLiteral("aOK"));
    aOK->setText(QStringLiteral("OK"));
    aOK->SetOnUpdate([this](QObject *Sender) { aOKUpdate(Sender); });
    bOK->SetAction(aOK);

    SetKeyPreview(true);
    SetOnKeyDown([this](QObject *Sender, int &Key, Qt::KeyboardModifiers Shift) {
        FormKeyDown(Sender, Key, Shift);
    });
    SetActiveControl(eUsuario);
}

void TfLogin::aOKUpdate(QObject * /*Sender*/)
{
    aOK->setEnabled(!eServidor->text().isEmpty() && !eBancoDados->text().isEmpty() &&
                    !eUsuario->text().isEmpty() && !eSenha->text().isEmpty());
}
