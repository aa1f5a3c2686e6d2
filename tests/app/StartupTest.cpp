// The program itself, started where the client library cannot be loaded:
// the last-chance box names the error, the main window never shows, and the
// exit code is 1. Runs under a private Xvfb display, in a mount namespace
// that hides the client library (root needed, as in CI).
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

struct Xvfb {
    QProcess Server;
    QString Display;

    Xvfb()
    {
        for (int attempt = 0; attempt < 20 && Display.isEmpty(); ++attempt) {
            const int n = 100 + int(QRandomGenerator::global()->bounded(800));
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            Server.start("Xvfb", {QStringLiteral(":%1").arg(n), "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
            for (int i = 0; i < 100; ++i) {
                if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                    Display = QStringLiteral(":%1").arg(n);
                    break;
                }
                QThread::msleep(50);
            }
        }
    }
    ~Xvfb()
    {
        Server.kill();
        Server.waitForFinished(5000);
    }
};

ProcessResult Tool(const QString &Display, const QStringList &Args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", Display);
    p.setProcessEnvironment(env);
    p.start("xdotool", Args);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

TEST(Startup, WithoutTheClientLibraryTheLastChanceBoxEndsTheProgram)
{
    ASSERT_EQ(::geteuid(), 0u) << "hiding the client library needs a mount namespace: run as root";
    Xvfb x;
    ASSERT_FALSE(x.Display.isEmpty()) << "Xvfb did not start";

    const QString library = QFileInfo("/usr/lib/x86_64-linux-gnu/libfbclient.so.2").canonicalFilePath();
    ASSERT_FALSE(library.isEmpty());
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.Display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.start("unshare", {"-m", "sh", "-c",
                              QStringLiteral("mount --bind /dev/null '%1' && exec '%2'").arg(library, ABD_PROGRAM)});
    ASSERT_TRUE(program.waitForStarted(10000));

    const ProcessResult box =
        Tool(x.Display, {"search", "--sync", "--name", QStringLiteral("Erro da Aplicação")});
    ASSERT_EQ(box.exitCode, 0) << box.err.toStdString();
    const QString window = box.out.split('\n', Qt::SkipEmptyParts).value(0);
    EXPECT_NE(Tool(x.Display, {"search", "--onlyvisible", "--name", "^Atualizar Banco Dados$"}).exitCode, 0)
        << "the main window must never show";
    Tool(x.Display, {"windowfocus", "--sync", window});
    Tool(x.Display, {"key", "--window", window, "Return"});
    if (!program.waitForFinished(20000)) {
        program.kill();
        FAIL() << "the program did not end after the box";
    }
    EXPECT_EQ(program.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("Exceção EReadError no modulo atualizar-banco-dados at "))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral(".\r\nError reading dbAtualizar.ServerType: InterBase library libfbclient.so.2 "
                                            "not found in the path. Please install InterBase to use this "
                                            "functionality.\r\n")))
        << err.toStdString();
}
