#pragma once

// The log of a run: every line of every pane with the time it was written,
// the login values (never the password), the versions before and after, the
// result and the error shown. One plain UTF-8 file per run, in the folder
// "registros" of the tool's local data, named after the server, the
// database and the start time. It sits between the workflow and a front end,
// passing everything on.

#include "Atualizacao.h"

#include <QFile>

class TRegistro : public TSaidaAtualizacao {
public:
    TRegistro(TSaidaAtualizacao &Destino, const TLogin &Login);
    ~TRegistro() override;
    TRegistro(const TRegistro &) = delete;
    TRegistro &operator=(const TRegistro &) = delete;

    // Where the logs go (made when missing).
    static QString Pasta();
    // The file of this run (empty when it could not be made).
    QString Arquivo() const { return FArquivo.fileName(); }

    // The end of the run: its result in words, the versions, the error shown.
    void Fim(const TAtualizacao &Atualizacao, const QString &Resultado);

    void Linha(TPainel Painel, const QString &Texto) override;
    void Status(const QString &Texto) override;
    void OutrosUsuarios(int32_t Conectados) override;
    void Conectou() override { FDestino.Conectou(); }
    void Concluido() override;
    void Ocupado(bool Sim) override { FDestino.Ocupado(Sim); }
    void Processar() override { FDestino.Processar(); }
    void Progresso(int Percentual) override { FDestino.Progresso(Percentual); }
    bool Interromper() override { return FDestino.Interromper(); }

private:
    void Escrever(const QString &Texto);

    TSaidaAtualizacao &FDestino;
    QFile FArquivo;
};
