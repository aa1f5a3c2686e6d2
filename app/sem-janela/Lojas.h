#pragma once

// The shops of an unattended run: the CSV list a spreadsheet exports, and
// the JSON report of a run, which also names the shops to run again.

#include "Atualizacao.h"
#include "Inventario.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

struct TLoja {
    QString Nome;
    QString Servidor;
    QString Banco;
    QString Usuario; // empty: the run's default user
    int Linha = 0;   // its line in the list (0: it came from a report)
};

// What happened to one shop.
struct TResultadoLoja {
    TLoja Loja;
    std::optional<int32_t> VersaoAntes;
    std::optional<int32_t> VersaoDepois;
    int Resultado = 1; // the exit code of that shop's run
    QString Mensagem;
    QDateTime Inicio;
    QDateTime Fim;
    // A rehearsal's findings: the seconds of each step, the estimated
    // duration of the real update, the script that would fail and where.
    bool Ensaio = false;
    QList<QPair<QString, double>> Etapas;
    std::optional<double> Estimativa;
    int32_t ScriptQueFalhou = 0;
    QString ComandoQueFalhou;
    // What the look before the run found (--verificar, and before a list);
    // SoVerificacao: the row is that look's alone, nothing ran.
    std::optional<TInventario> Verificacao;
    bool SoVerificacao = false;
};

// A result code in words, for the end-of-run table.
QString ResultadoEmPalavras(int Codigo);

// Reads a shop list: comma or semicolon, quotes, UTF-8 with or without BOM,
// header "nome,servidor,banco" with an optional "usuario" column in any
// order; blank lines and lines starting with "#" are skipped. On a bad line
// Erro says which (with its line number) and the result is empty.
QList<TLoja> LerLista(const QByteArray &Conteudo, QString &Erro);

// The report: one object per shop. Written through a temporary file that
// replaces the old one only when complete.
QByteArray RelatorioJson(const QList<TResultadoLoja> &Resultados);
bool GravarRelatorio(const QString &Arquivo, const QList<TResultadoLoja> &Resultados, QString &Erro);
// The shops of a report whose result was not 0; Erro on an unreadable one.
QList<TLoja> FalhasDoRelatorio(const QByteArray &Conteudo, QString &Erro);
QList<TResultadoLoja> LerRelatorio(const QByteArray &Conteudo, QString &Erro);

// The end-of-run table: one row per shop, then the totals.
QString Tabela(const QList<TResultadoLoja> &Resultados);
// The look before the run, one row per shop.
QString TabelaDaVerificacao(const QList<TResultadoLoja> &Resultados);
// The shops of a list that reach one database twice, whatever names the
// lines gave it, one sentence per database; empty when there are none. Two
// lines that only the server's process and the database's creation join
// are one database when Confirmar says so.
QStringList MesmoBanco(const QList<TResultadoLoja> &Resultados,
                       const std::function<bool(const TLoja &, const TLoja &)> &Confirmar);
