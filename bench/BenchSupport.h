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
