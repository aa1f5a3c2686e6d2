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

// Median seconds of Runs parses.
double Time(const QStringList &Script, int Runs, int &Statements)
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
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QStringList many = ManyStatements(10 * 1000 * 1000);
    int statementsMany = 0;
    const double tMany = Time(many, runs, statementsMany);
    const double mbMany = double(Size(many)) / 1e6;
    const double rateMany = mbMany / tMany;
    std::printf("parser many-statements: %.1f MB, %d statements, %.1f MB/s\n", mbMany, statementsMany, rateMany);
    // One statement of 1, 4 and 16 MB: the cost per byte must not grow with
    // the statement; the ratio printed is the worst of the three.
    double worst = 0;
    for (const int mb : {1, 4, 16}) {
        const QStringList one = OneLongLine(qsizetype(mb) * 1000 * 1000);
        int statementsOne = 0;
        const double tOne = Time(one, runs, statementsOne);
        const double rateOne = double(Size(one)) / 1e6 / tOne;
        std::printf("parser single-line %d MB: %d statement, %.1f MB/s, %.2f times the time per byte of many statements\n",
                    mb, statementsOne, rateOne, rateMany / rateOne);
        worst = std::max(worst, rateMany / rateOne);
    }
    std::printf("parser: ours %.1f MB/s, peer none, ratio %.2f\n", rateMany, worst);
    return 0;
}
