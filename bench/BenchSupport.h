#pragma once

// Small helpers the benchmarks share.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

// The median of the measured values.
inline double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// Runs a program to its end with Input on its standard input; false (and
// its error output shown) when it fails.
inline bool Program(const QString &Name, const QStringList &Args, const QByteArray &Input = {})
{
    QProcess p;
    p.start(Name, Args);
    p.waitForStarted();
    p.write(Input);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    if (p.exitCode() != 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(Name), p.readAllStandardError().right(500).constData());
        return false;
    }
    return true;
}

// One of Firebird's own tools (gbak, isql-fb): from the PATH, or with
// ABD_BENCH_TOOLS, the words its name is appended to ("scripts/debian13-root
// enter /usr/lib/firebird/4.0/bin/" runs Firebird 4's from a Debian 13 root).
inline bool FirebirdTool(const QString &Name, const QStringList &Args, const QByteArray &Input = {})
{
    QStringList words = qEnvironmentVariable("ABD_BENCH_TOOLS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return Program(Name, Args, Input);
    words.last() += Name;
    const QString program = words.takeFirst();
    return Program(program, words + Args, Input);
}
