#include "Rascunhos.h"

#include "ConexaoPropria.h"
#include "A.h"
#include "Exceptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <csignal>

namespace {

QString PastaDeNotas()
{
    const QString pasta =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/rascunhos");
    QDir().mkpath(pasta);
    return pasta;
}

} // namespace

QString NomeDeRascunho(const QString &Backup, const QString &Meio)
{
    return Backup.left(Backup.size() - 4) + Meio + QUuid::createUuid().toString(QUuid::Id128).left(12) +
           QStringLiteral(".fdb");
}

QString Anotar(const QString &Servidor, const QString &Banco)
{
    const QString nota =
        PastaDeNotas() + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".txt");
    QSaveFile f(nota);
    if (f.open(QIODevice::WriteOnly)) {
        // The writer's process id: a note of a run still working is not a
        // leftover.
        f.write((Servidor + QLatin1Char('\n') + Banco + QLatin1Char('\n') +
                 QString::number(QCoreApplication::applicationPid()) + QLatin1Char('\n'))
                    .toUtf8());
        f.commit();
    }
    return nota;
}

void ApagarRascunho(const TdmA &Modulo, const QString &Banco, const QString &Nota)
{
    TConexaoPropria(Modulo, Banco).Apagar();
    QFile::remove(Nota);
}

TRascunho::TRascunho(const TdmA &Modulo, QString Banco) : FModulo(Modulo), FBanco(std::move(Banco))
{
    FNota = Anotar(FModulo.Servidor, FBanco);
}

TRascunho::~TRascunho()
{
    IgnoringErrors([this] { Apagar(); });
}

void TRascunho::Apagar(TConexaoPropria *Conexao)
{
    if (FFeito)
        return;
    FFeito = true;
    if (!FCriado) {
        // The restore never started: nothing was made.
        QFile::remove(FNota);
    } else if (Conexao) {
        Conexao->Apagar();
        QFile::remove(FNota);
    } else {
        ApagarRascunho(FModulo, FBanco, FNota);
    }
}

QList<TNota> NotasDoServidor(const QString &Servidor)
{
    QList<TNota> notas;
    const QDir pasta(PastaDeNotas());
    for (const QString &nome : pasta.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
        QFile f(pasta.filePath(nome));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QStringList nota = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        const qint64 pid = nota.value(2).toLongLong();
        const bool viva = pid > 0 && pid != QCoreApplication::applicationPid() && ::kill(pid_t(pid), 0) == 0;
        if (nota.size() >= 2 && nota[0] == Servidor && !nota[1].isEmpty() && !viva)
            notas << TNota{f.fileName(), nota[1]};
    }
    return notas;
}
