#pragma once

#include "Dialogo.h"

class QLabel;
class QLineEdit;

// The login dialog: server, database, user and password of one update run.
class TfLogin : public TfDialogo {
    Q_OBJECT
public:
    explicit TfLogin(QWidget *AOwner = nullptr);

    QLabel *lServidor;
    QLabel *lBancoDados;
    QLabel *lUsuario;
    QLabel *lSenha;
    QLineEdit *eServidor;
    QLineEdit *eBancoDados;
    QLineEdit *eUsuario;
    QLineEdit *eSenha;
    TAction *aOK;

    // OK is enabled exactly when all four boxes hold some text.
    void aOKUpdate(QObject *Sender);
};
