#pragma once

#include "Base.h"

#include <cstdint>

class QPlainTextEdit;
class QSplitter;
class QStatusBar;

// The main window: instructions and progress, the server's backup and
// restore output, the Atualizar button and the Backup/Compactar toggles.
class TfPrincipal : public TfBase {
    Q_OBJECT
public:
    explicit TfPrincipal(QWidget *AOwner = nullptr);

    QPlainTextEdit *mAtualizar;
    QPlainTextEdit *mBackup;
    QPlainTextEdit *mCompactarBackup;
    QPlainTextEdit *mCompactarRestaurar;
    QSplitter *Splitters; // its three handles are Splitter1 to Splitter3
    QStatusBar *StatusBar1;
    TButton *bAtualizar;
    TAction *aBackup;
    TAction *aCompactar;
    TAction *aAtualizar;
    QAction *miBackup;
    QAction *miCompactar;

    QString PastaBackup;
    int32_t VersaoBancoDados = 0;
    int32_t VersaoBancoDadosAtual = 0;

    void aAtualizarExecute(QObject *Sender);
    void aBackupExecute(QObject *Sender);
    void aCompactarExecute(QObject *Sender);

    // Appends one line at the end of a pane (an empty text, an empty line).
    static void Adicionar(QPlainTextEdit *Pane, const QString &Line);

    static const QStringList &InstrucoesIniciais();
};

// The one main window of the run.
extern TfPrincipal *fPrincipal;
