#include "Retrato.h"

#include "ConexaoPropria.h"
#include "Exceptions.h"

#include <QJsonArray>

#include <limits>

namespace {

QString Identificador(const QString &Nome)
{
    return QLatin1Char('"') + QString(Nome).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QJsonObject Mapa(const QMap<QString, qint64> &M)
{
    QJsonObject o;
    for (auto i = M.cbegin(); i != M.cend(); ++i)
        // As text: a double would round a generator's 64-bit value.
        o[i.key()] = QString::number(i.value());
    return o;
}

QMap<QString, qint64> Mapa(const QJsonValue &V)
{
    QMap<QString, qint64> m;
    const QJsonObject o = V.toObject();
    for (auto i = o.constBegin(); i != o.constEnd(); ++i)
        m[i.key()] = i.value().toString().toLongLong();
    return m;
}

} // namespace

QJsonObject TRetrato::ParaJson() const
{
    QJsonObject o;
    o[QStringLiteral("linhas")] = Mapa(Linhas);
    o[QStringLiteral("geradores")] = Mapa(Geradores);
    o[QStringLiteral("indices_ativos")] = QJsonArray::fromStringList(IndicesAtivos);
    o[QStringLiteral("objetos")] = Mapa(Objetos);
    o[QStringLiteral("cabecalho")] = Mapa(Cabecalho);
    return o;
}

TRetrato TRetrato::DeJson(const QJsonObject &O)
{
    TRetrato r;
    r.Linhas = Mapa(O[QStringLiteral("linhas")]);
    r.Geradores = Mapa(O[QStringLiteral("geradores")]);
    for (const QJsonValue &v : O[QStringLiteral("indices_ativos")].toArray())
        r.IndicesAtivos << v.toString();
    r.Objetos = Mapa(O[QStringLiteral("objetos")]);
    r.Cabecalho = Mapa(O[QStringLiteral("cabecalho")]);
    return r;
}

namespace {

// The value of each "<expression> FROM <source>", read in as few statements
// as the server takes: one UNION ALL of up to a hundred (a statement may
// hold no more than 255 streams), each part numbered so that its value finds
// its name.
QList<qint64> Valores(TConexaoPropria &C, const QStringList &Partes)
{
    QList<qint64> valores(Partes.size(), 0);
    constexpr qsizetype Lote = 100;
    for (qsizetype inicio = 0; inicio < Partes.size(); inicio += Lote) {
        QStringList uniao;
        for (qsizetype i = inicio; i < qMin(Partes.size(), inicio + Lote); ++i)
            uniao << QStringLiteral("SELECT ") + QString::number(i) + QStringLiteral(", ") + Partes[i];
        for (const QStringList &l : C.Ler(uniao.join(QStringLiteral(" UNION ALL ")))) {
            const qsizetype i = l.value(0).toLongLong();
            if (i >= 0 && i < valores.size())
                valores[i] = l.value(1).toLongLong();
        }
    }
    return valores;
}

} // namespace

TRetrato TRetrato::Ler(TConexaoPropria &C)
{
    TRetrato r;
    const QString usuario = QStringLiteral("COALESCE(RDB$SYSTEM_FLAG, 0) = 0");
    // The names of the tables and generators, and the active indices.
    QStringList tabelas, geradores;
    for (const QStringList &l : C.Ler(
             QStringLiteral("SELECT 0, TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE %1 AND RDB$VIEW_BLR IS NULL "
                            "AND RDB$EXTERNAL_FILE IS NULL AND COALESCE(RDB$RELATION_TYPE, 0) = 0 UNION ALL "
                            "SELECT 1, TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE %1 UNION ALL "
                            "SELECT 2, TRIM(RDB$INDEX_NAME) FROM RDB$INDICES WHERE %1 AND "
                            "COALESCE(RDB$INDEX_INACTIVE, 0) = 0")
                 .arg(usuario))) {
        if (l.value(0) == u"0")
            tabelas << l.value(1);
        else if (l.value(0) == u"1")
            geradores << l.value(1);
        else
            r.IndicesAtivos << l.value(1);
    }
    // Every table's rows, every generator's value and the counts of the
    // objects, in one pass.
    QStringList partes;
    for (const QString &t : std::as_const(tabelas))
        partes << QStringLiteral("COUNT(*) FROM ") + Identificador(t);
    for (const QString &g : std::as_const(geradores))
        partes << QStringLiteral("GEN_ID(") + Identificador(g) + QStringLiteral(", 0) FROM RDB$DATABASE");
    static const std::pair<const char *, const char *> objetos[] = {{"procedimentos", "RDB$PROCEDURES"},
                                                                     {"triggers", "RDB$TRIGGERS"},
                                                                     {"geradores", "RDB$GENERATORS"},
                                                                     {"índices", "RDB$INDICES"}};
    for (const auto &objeto : objetos)
        partes << QStringLiteral("COUNT(*) FROM %1 WHERE %2").arg(QLatin1String(objeto.second), usuario);
    const QList<qint64> valores = Valores(C, partes);
    qsizetype i = 0;
    for (const QString &t : std::as_const(tabelas))
        r.Linhas[t] = valores[i++];
    for (const QString &g : std::as_const(geradores))
        r.Geradores[g] = valores[i++];
    for (const auto &objeto : objetos)
        r.Objetos[QString::fromUtf8(objeto.first)] = valores[i++];
    return r;
}

QStringList TRetrato::Diferencas(const TRetrato &Depois) const
{
    QStringList d;
    for (auto i = Linhas.cbegin(); i != Linhas.cend(); ++i) {
        const qint64 depois = Depois.Linhas.value(i.key(), -1);
        if (depois != i.value())
            d << QStringLiteral("tabela %1: %2 linhas antes, %3 depois")
                     .arg(i.key())
                     .arg(i.value())
                     .arg(depois < 0 ? QStringLiteral("nenhuma tabela") : QString::number(depois));
    }
    for (auto i = Objetos.cbegin(); i != Objetos.cend(); ++i)
        if (Depois.Objetos.value(i.key()) != i.value())
            d << QStringLiteral("%1: %2 antes, %3 depois").arg(i.key()).arg(i.value()).arg(Depois.Objetos.value(i.key()));
    for (const QString &indice : IndicesAtivos)
        if (!Depois.IndicesAtivos.contains(indice))
            d << QStringLiteral("índice %1: ativo antes, inativo ou ausente depois").arg(indice);
    for (auto i = Geradores.cbegin(); i != Geradores.cend(); ++i) {
        const qint64 depois = Depois.Geradores.value(i.key(), std::numeric_limits<qint64>::min());
        if (depois < i.value())
            d << QStringLiteral("gerador %1: %2 antes, %3 depois").arg(i.key()).arg(i.value()).arg(depois);
    }
    return d;
}

QMap<QString, qint64> TRetrato::LerCabecalho(TConexaoPropria &C)
{
    static const char *const colunas[] = {"MON$RESERVE_SPACE", "MON$FORCED_WRITES", "MON$SWEEP_INTERVAL",
                                          "MON$PAGE_BUFFERS", "MON$SQL_DIALECT"};
    QStringList select;
    for (const char *c : colunas)
        select << QString::fromLatin1(c);
    const QStringList l =
        C.Ler(QStringLiteral("SELECT %1 FROM MON$DATABASE").arg(select.join(QStringLiteral(", ")))).value(0);
    QMap<QString, qint64> m;
    for (int i = 0; i < select.size() && i < l.size(); ++i)
        m[select[i]] = l[i].toLongLong();
    return m;
}

QStringList TRetrato::DiferencasDoCabecalho(const TRetrato &Depois) const
{
    QStringList d;
    for (auto i = Cabecalho.cbegin(); i != Cabecalho.cend(); ++i)
        if (Depois.Cabecalho.value(i.key(), -1) != i.value())
            d << QStringLiteral("%1: %2 antes, %3 depois").arg(i.key()).arg(i.value()).arg(Depois.Cabecalho.value(i.key(), -1));
    return d;
}

TEstado LerEstado(TConexaoPropria &C)
{
    const QStringList l = C.Ler(QStringLiteral("SELECT MON$SHUTDOWN_MODE, MON$READ_ONLY FROM MON$DATABASE")).value(0);
    TEstado e;
    e.ModoDesligamento = l.value(0).toInt();
    e.SomenteLeitura = l.value(1).toInt() != 0;
    return e;
}

std::optional<TEstado> EstadoSePuder(const TdmA &Modulo, const QString &Banco)
{
    try {
        TConexaoPropria conexao(Modulo, Banco);
        return LerEstado(conexao);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// How the database at Banco differs from Antes, one sentence each; a
// database that cannot be read differs too.
QStringList Comparar(const TdmA &Modulo, const TRetrato &Antes, const QString &Banco, int Modo,
                     QMap<QString, qint64> *Cabecalho)
{
    try {
        TConexaoPropria conexao(Modulo, Banco);
        return Comparar(conexao, Antes, Modo, Cabecalho);
    } catch (const Exception &E) {
        return {E.Message()};
    }
}

QStringList Comparar(TConexaoPropria &C, const TRetrato &Antes, int Modo, QMap<QString, qint64> *Cabecalho)
{
    QStringList d;
    try {
        const TEstado estado = LerEstado(C);
        if (estado.ModoDesligamento != Modo)
            d << QStringLiteral("o banco restaurado não ficou disponível (modo %1)").arg(estado.ModoDesligamento);
        d << Antes.Diferencas(TRetrato::Ler(C));
        if (Cabecalho)
            *Cabecalho = TRetrato::LerCabecalho(C);
    } catch (const Exception &E) {
        d << E.Message();
    }
    return d;
}
