#include "Dialogo.h"

TfDialogo::TfDialogo(QWidget *AOwner) : TfBase(AOwner)
{
    setObjectName(QStringLiteral("fDialogo"));
    setWindowTitle(QStringLiteral("Dialogo"));
    // A fixed dialog frame: a close box, no minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    FFixedSize = true;
    SetClientSize(273, 154);

    bCancelar = new TButton(this);
    bCancelar->setObjectName(QStringLiteral("bCancelar"));
    bCancelar->setText(QStringLiteral("Cancelar"));
    bCancelar->setGeometry(189, 119, 75, 25);
    bCancelar->SetCancel(true);
    bCancelar->SetModalResult(mrCancel);

    bOK = new TButton(this);
    bOK->setObjectName(QStringLiteral("bOK"));
    bOK->setText(QStringLiteral("OK"));
    bOK->setGeometry(105, 119, 75, 25);
    bOK->SetDefault(true);
    bOK->SetModalResult(mrOk);

    setTabOrder(bCancelar, bOK);
}

