#pragma once

#include "Base.h"

// A modal dialog with OK (default, Enter) and Cancelar (cancel, Esc).
class TfDialogo : public TfBase {
    Q_OBJECT
public:
    explicit TfDialogo(QWidget *AOwner = nullptr);

    TButton *bOK;
    TButton *bCancelar;
};
