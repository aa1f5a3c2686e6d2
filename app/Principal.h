#pragma once

#include "Base.h"

#include <QDateTime>

#include <cstdint>

class QPlainTextEdit;
class TIBControlAndQueryService;
class TIBCustomService;
class TIBScript;
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
    // Runs one migration script when the stored version is below it.
    void ExecutarScript(int32_t VersaoBancoDados, int32_t VersaoScript, TIBScript *Script);
    // The attachments the server reports.
    int32_t UsuariosConectados();

    // The backup file: folder, database as typed, start time, version.
    QString NomeArquivoBackup(int32_t Versao, const QDateTime &Inicio) const;
    // "Início"/"Fim" moments and the "Demorou" elapsed time.
    static QString Momento(const QDateTime &Quando);
    static QString Duracao(const QDateTime &Inicio, const QDateTime &Fim);
    // A line of service output that reports an error.
    static bool LinhaDeErro(const QString &Linha);

    // Appends one line at the end of a pane (an empty text, an empty line).
    static void Adicionar(QPlainTextEdit *Pane, const QString &Line);

    static const QStringList &InstrucoesIniciais();

    // The statements that blank the sources of the application's triggers
    // and procedures (only rows that still hold one).
    static const char *const LimparTriggers;
    static const char *const LimparProcedures;

private:
    // Reads a started service's output into a pane; returns the error lines.
    int32_t LerSaida(TIBControlAndQueryService &Servico, QPlainTextEdit *Painel);
    void Conectar(TIBCustomService &Servico) const;
    // A restore of the backup file; returns the error lines.
    int32_t Restaurar(const QString &Arquivo, const QStringList &Bancos, bool Substituir);
};

// The one main window of the run.
extern TfPrincipal *fPrincipal;
