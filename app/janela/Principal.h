#pragma once

#include "Atualizacao.h"
#include "Base.h"

#include <QDateTime>

#include <cstdint>

class QPlainTextEdit;
class QProgressBar;
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
    // The pane a run's lines for Painel go to.
    QPlainTextEdit *PainelDe(TPainel Painel) const;
    QSplitter *Splitters; // its three handles are Splitter1 to Splitter3
    QStatusBar *StatusBar1;
    TButton *bAtualizar;
    TAction *aBackup;
    TAction *aCompactar;
    TAction *aAtualizar;
    QAction *miBackup;
    QAction *miCompactar;
    // Opens the folder of the runs' logs in the desktop's file manager.
    QAction *miRegistros;
    // The run's progress, at the right of the status bar while a run lasts.
    QProgressBar *pbProgresso;

    QString PastaBackup;
    int32_t VersaoBancoDados = 0;
    int32_t VersaoBancoDadosAtual = 0;

    void aAtualizarExecute(QObject *Sender);
    // The backup and compaction steps of the run in progress.
    void aBackupExecute(QObject *Sender);
    void aCompactarExecute(QObject *Sender);

    // The backup file: folder, database as typed, start time, version.
    QString NomeArquivoBackup(int32_t Versao, const QDateTime &Inicio) const;
    // "Início"/"Fim" moments and the "Demorou" elapsed time.
    static QString Momento(const QDateTime &Quando) { return TAtualizacao::Momento(Quando); }
    static QString Duracao(const QDateTime &Inicio, const QDateTime &Fim) { return TAtualizacao::Duracao(Inicio, Fim); }
    // A line of service output that reports an error.
    static bool LinhaDeErro(const QString &Linha) { return TAtualizacao::LinhaDeErro(Linha); }

    // Appends one line at the end of a pane (an empty text, an empty line).
    static void Adicionar(QPlainTextEdit *Pane, const QString &Line);

    static const QStringList &InstrucoesIniciais();

private:
    class TSaidaJanela;
    // A dragged splitter changes the pane above it; the last pane takes up
    // the difference, the others keep their heights.
    void SplitterMovido(int Indice);
    QList<int> FAlturas;
    // The run in progress (null between runs).
    TAtualizacao *FAtualizacao = nullptr;
};

// The one main window of the run.
extern TfPrincipal *fPrincipal;
