#include "Lojas.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <QStringList>

QString ResultadoEmPalavras(int Codigo)
{
    switch (Codigo) {
    case Saida::Atualizado:
        return QStringLiteral("atualizado");
    case Saida::Uso:
        return QStringLiteral("uso incorreto");
    case Saida::OutrosUsuarios:
        return QStringLiteral("outros usuários conectados");
    case Saida::SemAcesso:
        return QStringLiteral("sem acesso ao servidor");
    case Saida::Script:
        return QStringLiteral("script falhou");
    case Saida::BackupOuCompactacao:
        return QStringLiteral("backup ou compactação falhou");
    case Saida::EmManutencao:
        return QStringLiteral("banco ficou em manutenção");
    default:
        return QStringLiteral("erro");
    }
}

namespace {

// One CSV record: fields split at Separador outside quotes, "" inside quotes
// standing for one quote. False when a quote is left open.
bool Campos(const QString &Linha, QChar Separador, QStringList &Saida)
{
    Saida.clear();
    QString campo;
    bool aspas = false;
    for (qsizetype i = 0; i < Linha.size(); ++i) {
        const QChar c = Linha[i];
        if (aspas) {
            if (c == u'"' && i + 1 < Linha.size() && Linha[i + 1] == u'"') {
                campo += c;
                ++i;
            } else if (c == u'"') {
                aspas = false;
            } else {
                campo += c;
            }
        } else if (c == u'"') {
            aspas = true;
        } else if (c == Separador) {
            Saida << campo.trimmed();
            campo.clear();
        } else {
            campo += c;
        }
    }
    Saida << campo.trimmed();
    return !aspas;
}

} // namespace

QList<TLoja> LerLista(const QByteArray &Conteudo, QString &Erro)
{
    Erro.clear();
    QByteArray bytes = Conteudo;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QString texto = QString::fromUtf8(bytes);
    const QStringList linhas = texto.split(QLatin1Char('\n'));
    QList<TLoja> lojas;
    int colNome = -1, colServidor = -1, colBanco = -1, colUsuario = -1;
    QChar separador;
    for (qsizetype n = 0; n < linhas.size(); ++n) {
        QString linha = linhas[n];
        if (linha.endsWith(QLatin1Char('\r')))
            linha.chop(1);
        const QString limpa = linha.trimmed();
        if (limpa.isEmpty() || limpa.startsWith(QLatin1Char('#')))
            continue;
        const QString onde = QStringLiteral("linha %1: ").arg(n + 1);
        if (separador.isNull()) {
            separador = linha.count(QLatin1Char(';')) > linha.count(QLatin1Char(',')) ? QLatin1Char(';')
                                                                                     : QLatin1Char(',');
            QStringList cabecalho;
            Campos(linha, separador, cabecalho);
            for (int i = 0; i < cabecalho.size(); ++i) {
                const QString c = cabecalho[i].toLower();
                if (c == u"nome")
                    colNome = i;
                else if (c == u"servidor")
                    colServidor = i;
                else if (c == u"banco")
                    colBanco = i;
                else if (c == u"usuario" || c == u"usuário")
                    colUsuario = i;
            }
            if (colNome < 0 || colServidor < 0 || colBanco < 0) {
                Erro = onde + QStringLiteral("o cabeçalho deve ter as colunas nome, servidor e banco");
                return {};
            }
            continue;
        }
        QStringList campos;
        if (!Campos(linha, separador, campos)) {
            Erro = onde + QStringLiteral("aspas sem fechamento");
            return {};
        }
        const int precisa = qMax(qMax(colNome, colServidor), qMax(colBanco, colUsuario)) + 1;
        if (campos.size() < qMax(colNome, qMax(colServidor, colBanco)) + 1) {
            Erro = onde + QStringLiteral("esperava %1 campos, tem %2").arg(precisa).arg(campos.size());
            return {};
        }
        TLoja loja{campos[colNome], campos[colServidor], campos[colBanco],
                   colUsuario >= 0 ? campos.value(colUsuario) : QString(), int(n + 1)};
        if (loja.Nome.isEmpty() || loja.Servidor.isEmpty() || loja.Banco.isEmpty()) {
            Erro = onde + QStringLiteral("nome, servidor e banco não podem ficar vazios");
            return {};
        }
        for (const TLoja &outra : lojas)
            if (outra.Nome == loja.Nome) {
                Erro = onde + QStringLiteral("a loja \"%1\" aparece duas vezes").arg(loja.Nome);
                return {};
            }
        lojas << loja;
    }
    if (lojas.isEmpty())
        Erro = QStringLiteral("a lista não tem nenhuma loja");
    return lojas;
}

QByteArray RelatorioJson(const QList<TResultadoLoja> &Resultados)
{
    QJsonArray lista;
    for (const TResultadoLoja &r : Resultados) {
        QJsonObject o;
        o[QStringLiteral("nome")] = r.Loja.Nome;
        o[QStringLiteral("servidor")] = r.Loja.Servidor;
        o[QStringLiteral("banco")] = r.Loja.Banco;
        if (!r.Loja.Usuario.isEmpty())
            o[QStringLiteral("usuario")] = r.Loja.Usuario;
        o[QStringLiteral("versao_antes")] = r.VersaoAntes ? QJsonValue(*r.VersaoAntes) : QJsonValue();
        o[QStringLiteral("versao_depois")] = r.VersaoDepois ? QJsonValue(*r.VersaoDepois) : QJsonValue();
        o[QStringLiteral("resultado")] = r.Resultado;
        o[QStringLiteral("mensagem")] = r.Mensagem;
        o[QStringLiteral("inicio")] = r.Inicio.isValid() ? QJsonValue(r.Inicio.toString(Qt::ISODate)) : QJsonValue();
        o[QStringLiteral("fim")] = r.Fim.isValid() ? QJsonValue(r.Fim.toString(Qt::ISODate)) : QJsonValue();
        o[QStringLiteral("segundos")] =
            r.Inicio.isValid() && r.Fim.isValid() ? QJsonValue(r.Inicio.msecsTo(r.Fim) / 1000.0) : QJsonValue();
        if (r.Ensaio) {
            o[QStringLiteral("ensaio")] = true;
            QJsonObject etapas;
            for (const auto &e : r.Etapas)
                etapas[e.first] = e.second;
            o[QStringLiteral("etapas")] = etapas;
            o[QStringLiteral("estimativa_segundos")] = r.Estimativa ? QJsonValue(*r.Estimativa) : QJsonValue();
            o[QStringLiteral("script_que_falhou")] = r.ScriptQueFalhou ? QJsonValue(r.ScriptQueFalhou) : QJsonValue();
            o[QStringLiteral("comando_que_falhou")] =
                r.ComandoQueFalhou.isEmpty() ? QJsonValue() : QJsonValue(r.ComandoQueFalhou);
        }
        if (r.Verificacao)
            o[QStringLiteral("verificacao")] = r.Verificacao->ParaJson();
        if (r.SoVerificacao)
            o[QStringLiteral("so_verificacao")] = true;
        lista << o;
    }
    return QJsonDocument(lista).toJson(QJsonDocument::Indented);
}

bool GravarRelatorio(const QString &Arquivo, const QList<TResultadoLoja> &Resultados, QString &Erro)
{
    QSaveFile f(Arquivo);
    if (!f.open(QIODevice::WriteOnly) || f.write(RelatorioJson(Resultados)) < 0 || !f.commit()) {
        Erro = QStringLiteral("não gravou o relatório %1: %2").arg(Arquivo, f.errorString());
        return false;
    }
    return true;
}

QList<TResultadoLoja> LerRelatorio(const QByteArray &Conteudo, QString &Erro)
{
    QJsonParseError e;
    const QJsonDocument doc = QJsonDocument::fromJson(Conteudo, &e);
    if (e.error != QJsonParseError::NoError || !doc.isArray()) {
        Erro = QStringLiteral("o relatório não é uma lista JSON de lojas");
        return {};
    }
    QList<TResultadoLoja> r;
    for (const QJsonValue &v : doc.array()) {
        const QJsonObject o = v.toObject();
        TResultadoLoja x;
        x.Loja = {o[QStringLiteral("nome")].toString(), o[QStringLiteral("servidor")].toString(),
                  o[QStringLiteral("banco")].toString(), o[QStringLiteral("usuario")].toString()};
        if (x.Loja.Servidor.isEmpty() || x.Loja.Banco.isEmpty() || !o[QStringLiteral("resultado")].isDouble()) {
            Erro = QStringLiteral("o relatório tem uma loja sem servidor, banco ou resultado");
            return {};
        }
        x.Resultado = o[QStringLiteral("resultado")].toInt();
        if (o[QStringLiteral("versao_antes")].isDouble())
            x.VersaoAntes = o[QStringLiteral("versao_antes")].toInt();
        if (o[QStringLiteral("versao_depois")].isDouble())
            x.VersaoDepois = o[QStringLiteral("versao_depois")].toInt();
        x.Mensagem = o[QStringLiteral("mensagem")].toString();
        x.Inicio = QDateTime::fromString(o[QStringLiteral("inicio")].toString(), Qt::ISODate);
        x.Fim = QDateTime::fromString(o[QStringLiteral("fim")].toString(), Qt::ISODate);
        x.Ensaio = o[QStringLiteral("ensaio")].toBool();
        const QJsonObject etapas = o[QStringLiteral("etapas")].toObject();
        for (auto i = etapas.begin(); i != etapas.end(); ++i)
            x.Etapas << qMakePair(i.key(), i.value().toDouble());
        if (o[QStringLiteral("estimativa_segundos")].isDouble())
            x.Estimativa = o[QStringLiteral("estimativa_segundos")].toDouble();
        x.ScriptQueFalhou = o[QStringLiteral("script_que_falhou")].toInt();
        x.ComandoQueFalhou = o[QStringLiteral("comando_que_falhou")].toString();
        if (o[QStringLiteral("verificacao")].isObject())
            x.Verificacao = TInventario::DeJson(o[QStringLiteral("verificacao")].toObject());
        x.SoVerificacao = o[QStringLiteral("so_verificacao")].toBool();
        r << x;
    }
    return r;
}

QList<TLoja> FalhasDoRelatorio(const QByteArray &Conteudo, QString &Erro)
{
    QList<TLoja> lojas;
    for (const TResultadoLoja &r : LerRelatorio(Conteudo, Erro))
        if (r.Resultado != Saida::Atualizado)
            lojas << r.Loja;
    return lojas;
}

namespace {

// Rows of cells in columns as wide as their widest cell.
QString EmColunas(const QList<QStringList> &Linhas)
{
    const int colunas = int(Linhas.value(0).size());
    QList<int> largura(colunas, 0);
    for (const QStringList &l : Linhas)
        for (int i = 0; i < colunas; ++i)
            largura[i] = qMax(largura[i], int(l.value(i).size()));
    QString t;
    for (const QStringList &l : Linhas) {
        QString linha;
        for (int i = 0; i < colunas; ++i)
            linha += l.value(i).leftJustified(largura[i] + 2);
        t += linha.trimmed() + QLatin1Char('\n');
    }
    return t;
}

QString Onde(const TLoja &L)
{
    return L.Linha > 0 ? QStringLiteral("linha %1 (%2)").arg(L.Linha).arg(L.Nome)
                       : QStringLiteral("loja %1").arg(L.Nome);
}

} // namespace

QString TabelaDaVerificacao(const QList<TResultadoLoja> &Resultados)
{
    QList<QStringList> linhas{{QStringLiteral("Loja"), QStringLiteral("Firebird"), QStringLiteral("ODS"),
                               QStringLiteral("Página"), QStringLiteral("Tamanho"), QStringLiteral("Versão"),
                               QStringLiteral("Conectados"), QStringLiteral("Estado"),
                               QStringLiteral("Pasta de backup")}};
    QStringList erros;
    int alcancadas = 0;
    for (const TResultadoLoja &r : Resultados) {
        const TInventario i = r.Verificacao.value_or(TInventario{QStringLiteral("não verificada")});
        if (!i.Alcancado()) {
            linhas << QStringList{r.Loja.Nome, QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                                  QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                                  QStringLiteral("não alcançada")};
            erros << QStringLiteral("%1: %2").arg(r.Loja.Nome, QString(i.Erro).replace(QLatin1Char('\n'), QLatin1Char(' ')));
            continue;
        }
        ++alcancadas;
        const QString conectados =
            i.Usuarios.isEmpty() ? QString::number(i.Conectados)
                                 : QStringLiteral("%1 (%2)").arg(i.Conectados).arg(i.Usuarios);
        linhas << QStringList{r.Loja.Nome,
                              i.VersaoServidor,
                              i.Ods,
                              QString::number(i.TamanhoPagina),
                              QLocale(QLocale::Portuguese, QLocale::Brazil)
                                      .toString(double(i.Bytes()) / (1024 * 1024), 'f', 1) +
                                  QStringLiteral(" MB"),
                              i.Versao ? QString::number(*i.Versao) : QStringLiteral("?"),
                              conectados,
                              i.Estado(),
                              i.PastaBackup};
    }
    QString t = EmColunas(linhas);
    for (const QString &e : std::as_const(erros))
        t += e + QLatin1Char('\n');
    t += QStringLiteral("Total: %1 lojas, %2 alcançadas, %3 não alcançadas\n")
             .arg(Resultados.size())
             .arg(alcancadas)
             .arg(Resultados.size() - alcancadas);
    return t;
}

QStringList MesmoBanco(const QList<TResultadoLoja> &Resultados,
                       const std::function<bool(const TLoja &, const TLoja &)> &Confirmar)
{
    // Each line joins the group of the first earlier line that is the same
    // database; a group is named by its first line.
    QList<int> grupo(Resultados.size());
    for (int a = 0; a < Resultados.size(); ++a) {
        grupo[a] = a;
        const std::optional<TInventario> &x = Resultados[a].Verificacao;
        if (!x || !x->Alcancado())
            continue;
        for (int b = 0; b < a; ++b) {
            const std::optional<TInventario> &y = Resultados[b].Verificacao;
            if (grupo[b] != b || !y || !y->Alcancado())
                continue;
            const bool mesmo = (!x->Identidade.isEmpty() && x->Identidade == y->Identidade) ||
                               (!x->Instancia.isEmpty() && x->Instancia == y->Instancia &&
                                Confirmar(Resultados[b].Loja, Resultados[a].Loja));
            if (mesmo) {
                grupo[a] = b;
                break;
            }
        }
    }
    QStringList frases;
    for (int b = 0; b < Resultados.size(); ++b) {
        QStringList onde;
        for (int a = b + 1; a < Resultados.size(); ++a)
            if (grupo[a] == b)
                onde << Onde(Resultados[a].Loja);
        if (onde.isEmpty())
            continue;
        onde.prepend(Onde(Resultados[b].Loja));
        frases << QStringLiteral("%1 são o mesmo banco de dados (%2 no servidor %3)")
                      .arg(onde.join(QStringLiteral(", ")), Resultados[b].Verificacao->Arquivo,
                           Resultados[b].Loja.Servidor);
    }
    return frases;
}

QString Tabela(const QList<TResultadoLoja> &Resultados)
{
    const auto versao = [](const std::optional<int32_t> &v) { return v ? QString::number(*v) : QStringLiteral("?"); };
    bool ensaio = false;
    for (const TResultadoLoja &r : Resultados)
        ensaio = ensaio || r.Ensaio;
    const auto minutos = [](qint64 s) {
        return s < 0 ? QStringLiteral("-") : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    };
    QList<QStringList> linhas{{QStringLiteral("Loja"), QStringLiteral("Versão"), QStringLiteral("Resultado"),
                               QStringLiteral("Duração")}};
    if (ensaio)
        linhas[0] << QStringLiteral("Estimativa");
    int ok = 0;
    for (const TResultadoLoja &r : Resultados) {
        if (r.Resultado == Saida::Atualizado)
            ++ok;
        const qint64 s = r.Inicio.isValid() && r.Fim.isValid() ? r.Inicio.secsTo(r.Fim) : -1;
        QString resultado = QStringLiteral("%1 (%2)").arg(ResultadoEmPalavras(r.Resultado)).arg(r.Resultado);
        if (r.ScriptQueFalhou)
            resultado += QStringLiteral(": script %1").arg(r.ScriptQueFalhou, 3, 10, QLatin1Char('0'));
        linhas << QStringList{r.Loja.Nome, versao(r.VersaoAntes) + QStringLiteral(" → ") + versao(r.VersaoDepois),
                              resultado, minutos(s)};
        if (ensaio)
            linhas.last() << (r.Estimativa ? minutos(qint64(*r.Estimativa + 0.5)) : QStringLiteral("-"));
    }
    QString t = EmColunas(linhas);
    t += QStringLiteral("Total: %1 lojas, %2 atualizadas, %3 com falha\n")
             .arg(Resultados.size())
             .arg(ok)
             .arg(Resultados.size() - ok);
    return t;
}
