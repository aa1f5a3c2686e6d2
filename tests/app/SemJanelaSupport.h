#pragma once

// What the tests of the program without a window share: shops on private
// servers, the program run as a script runs it, its reports and logs.
#include "DbTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace semjanela {

using namespace abdtest;


struct Loja {
    PrivateServer Servidor;
    std::unique_ptr<FixtureDb> Banco;
    explicit Loja(FixtureOptions o = {}, int VersaoFirebird = 0) : Servidor(VersaoFirebird)
    {
        o.backupFolder = Servidor.info().dataDir + "/";
        o.file = Servidor.info().dataDir + "/zorvi.fdb";
        Banco = std::make_unique<FixtureDb>(Servidor.info(), o);
    }
    QString Valor(const QString &Select) { return IsqlValue(Servidor.info(), Banco->path(), Select); }
    QString Versao() { return Valor("SELECT VERSAO_BANCO_DADOS FROM CONFIGURAR WHERE ID = 1"); }
    QString Modo() { return Valor("SELECT MON$SHUTDOWN_MODE || ':' || MON$READ_ONLY FROM MON$DATABASE"); }
    QString Servidor_() const { return Servidor.info().server(); }
};

// The backups in a folder.
inline QStringList Backups(const QString &Pasta)
{
    return QDir(Pasta).entryList({"*.fbk"}, QDir::Files);
}

// Logs and notes of this test's runs stay in a folder of its own.
inline QString Casa()
{
    static QTemporaryDir casa;
    return casa.path();
}

// The lines of every run log written so far.
inline QString Registros()
{
    QString tudo;
    const QDir pasta(Casa() + "/Atualizar Banco Dados/registros");
    for (const QString &nome : pasta.entryList(QDir::Files)) {
        QFile f(pasta.filePath(nome));
        if (f.open(QIODevice::ReadOnly))
            tudo += QString::fromUtf8(f.readAll());
    }
    return tudo;
}

inline QProcessEnvironment Ambiente(const QString &Senha)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("ISC_PASSWORD");
    env.remove("ISC_USER");
    // The harness's own copy of the password is not the program's business.
    env.remove("FB_TEST_PASSWORD");
    env.remove("DISPLAY");
    // Under the sanitizers the program runs without the leak check, for the
    // reason the test programs that run updates do.
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("XDG_DATA_HOME", Casa());
    if (!Senha.isNull())
        env.insert("ISC_PASSWORD", Senha);
    return env;
}

inline ProcessResult Rodar(const QStringList &Args, const QString &Senha, const QByteArray &Entrada = {})
{
    QProcess p;
    p.setProcessEnvironment(Ambiente(Senha));
    p.start(ABD_PROGRAM, Args);
    p.write(Entrada);
    p.closeWriteChannel();
    p.waitForFinished(240000);
    ProcessResult r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QJsonArray Relatorio(const QString &Arquivo)
{
    QFile f(Arquivo);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << Arquivo.toStdString();
    return QJsonDocument::fromJson(f.readAll()).array();
}

inline QJsonObject DaLoja(const QJsonArray &R, const QString &Nome)
{
    for (const QJsonValue &v : R)
        if (v.toObject()["nome"].toString() == Nome)
            return v.toObject();
    ADD_FAILURE() << "no shop " << Nome.toStdString() << " in the report";
    return {};
}

inline void Escrever(const QString &Arquivo, const QByteArray &Texto)
{
    QFile f(Arquivo);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Texto);
}

// Runs the program and sends it Sinal once its output holds Marca; returns
// its exit code (-1 when it died by the signal) and whether Marca came.
struct Interrompido {
    bool marca = false;
    int codigo = -1;
};
inline Interrompido InterromperEm(const QStringList &Args, const QString &Senha, const QByteArray &Marca, int Sinal)
{
    QProcess p;
    p.setProcessEnvironment(Ambiente(Senha));
    p.start(ABD_PROGRAM, Args);
    QByteArray saida;
    while (!saida.contains(Marca) && p.waitForReadyRead(30000))
        saida += p.readAllStandardOutput();
    Interrompido r;
    r.marca = saida.contains(Marca);
    // Never pid 0, which would be this test's whole process group.
    if (p.state() == QProcess::Running && p.processId() > 0)
        ::kill(pid_t(p.processId()), Sinal);
    p.waitForFinished(120000);
    r.codigo = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}



// Every row of every user table, as isql shows them.
inline QString Conteudo(Loja &L)
{
    const ProcessResult tabelas = Isql(L.Servidor.info(), L.Banco->path(),
                                       "SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE RDB$SYSTEM_FLAG = 0 "
                                       "AND RDB$VIEW_BLR IS NULL ORDER BY 1;");
    QString sql;
    for (const QString &t : tabelas.out.split('\n', Qt::SkipEmptyParts))
        if (!t.trimmed().isEmpty() && !t.contains("TRIM") && !t.startsWith("="))
            sql += "SELECT * FROM " + t.trimmed() + " ORDER BY 1;\n";
    return Isql(L.Servidor.info(), L.Banco->path(), sql).out;
}

inline QStringList Arquivos(Loja &L, const QString &Filtro)
{
    return QDir(L.Servidor.info().dataDir).entryList({Filtro});
}

} // namespace semjanela
