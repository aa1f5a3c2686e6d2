// Script parser throughput: (a) a ~10 MB script of many ordinary statements,
// (b) one statement on a single line, of 1, 4 and 16 MB. Prints MB/s for
// each and the worst ratio of time per byte (b)/(a); a parser that copies its
// buffer again and again shows up as a large ratio.
#include "IBScript.h"

#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

qsizetype Size(const QStringList &Lines)
{
    qsizetype n = 0;
    for (const QString &l : Lines)
        n += l.size() + 2;
    return n;
}

QStringList ManyStatements(qsizetype Bytes)
{
    QStringList lines;
    qsizetype n = 0;
    for (int i = 0; n < Bytes; ++i) {
        const QString l1 = QStringLiteral("INSERT INTO MOVIMENTO (ID, CLIENTE_ID, HISTORICO_ID, VALOR)");
        const QString l2 = QStringLiteral("  VALUES (%1, %2, %3, 12.50); /* item %1 */").arg(i).arg(i % 97).arg(i % 12);
        const QString l3 = QStringLiteral("UPDATE CLIENTE SET SALDO = SALDO + 1, NOME = 'Cliente ''%1''' WHERE ID = %1;").arg(i);
        lines << l1 << l2 << l3 << QString();
        n += l1.size() + l2.size() + l3.size() + 8;
    }
    return lines;
}

QStringList OneLongLine(qsizetype Bytes)
{
    QString line = QStringLiteral("INSERT INTO T (A) VALUES (");
    for (int i = 0; line.size() < Bytes; ++i)
        line += QStringLiteral("'valor %1', ").arg(i);
    line += QStringLiteral("0);");
    return {line};
}

// Seconds of the first of Runs parses and of the fastest. A fresh process
// pays for every page its buffers touch for the first time, and on a VM that
// costs far more than the parse itself; the first parse shows that cost, the
// fastest shows the parser.
struct TTimes {
    double First = 0;
    double Best = 0;
};

TTimes Time(const QStringList &Script, int Runs, int &Statements)
{
    std::vector<double> times;
    for (int r = 0; r < Runs; ++r) {
        TIBSQLParser parser;
        int count = 0;
        parser.SetOnParse([&](QObject *, TIBParseKind, const QString &) { ++count; });
        parser.SetScript(Script);
        QElapsedTimer t;
        t.start();
        parser.Parse();
        times.push_back(double(t.nsecsElapsed()) / 1e9);
        Statements = count;
    }
    return {times.front(), *std::min_element(times.begin(), times.end())};
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QStringList many = ManyStatements(10 * 1000 * 1000);
    int statementsMany = 0;
    const TTimes tMany = Time(many, runs, statementsMany);
    const double mbMany = double(Size(many)) / 1e6;
    const double rateMany = mbMany / tMany.Best;
    std::printf("parser many-statements: %.1f MB, %d statements, first parse %.1f MB/s, best %.1f MB/s\n", mbMany,
                statementsMany, mbMany / tMany.First, rateMany);
    // One statement of 1, 4 and 16 MB: the cost per byte must not grow with
    // the statement. The ratio is time per byte against many statements,
    // best against best; the first parse's is printed beside it.
    double worst = 0;
    for (const int mb : {1, 4, 16}) {
        const QStringList one = OneLongLine(qsizetype(mb) * 1000 * 1000);
        int statementsOne = 0;
        const TTimes tOne = Time(one, runs, statementsOne);
        const double size = double(Size(one)) / 1e6;
        const double ratio = rateMany / (size / tOne.Best);
        std::printf("parser single-line %d MB: %d statement, first parse %.1f MB/s, best %.1f MB/s; per byte %.2f "
                    "times many statements (first parses: %.2f)\n",
                    mb, statementsOne, size / tOne.First, size / tOne.Best, ratio,
                    (mbMany / tMany.First) / (size / tOne.First));
        worst = std::max(worst, ratio);
    }
    std::printf("parser: ours %.1f MB/s, peer none, ratio %.2f\n", rateMany, worst);
    return 0;
}
