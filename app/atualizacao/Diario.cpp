#include "Diario.h"

#include "Exceptions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString ArquivoDe(const QString &Servidor, const QString &Banco)
{
    const QByteArray chave =
        QCryptographicHash::hash((Servidor + QLatin1Char('\n') + Banco).toUtf8(), QCryptographicHash::Sha256).toHex();
    return TDiario::Pasta() + QLatin1Char('/') + QString::fromLatin1(chave.left(32)) + QStringLiteral(".json");
}

} // namespace

QString TDiario::Pasta()
{
    const QString pasta =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/diarios");
    QDir().mkpath(pasta);
    return pasta;
}

void TDiario::Gravar() const
{
    QJsonObject o;
    o[QStringLiteral("servidor")] = Servidor;
    o[QStringLiteral("banco")] = Banco;
    o[QStringLiteral("backup")] = Backup;
    o[QStringLiteral("backup_anterior")] = BackupAnterior;
    o[QStringLiteral("quando")] = Quando.toString(Qt::ISODate);
    o[QStringLiteral("retrato")] = Retrato.ParaJson();
    // QSaveFile writes a temporary file, syncs it to disk and renames it
    // over the old one: the journal is either whole or absent.
    QSaveFile f(ArquivoDe(Servidor, Banco));
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(o).toJson()) < 0 || !f.commit())
        throw Exception(QStringLiteral("Não conseguiu gravar o diário da restauração %1: %2")
                            .arg(f.fileName(), f.errorString()));
    // The rename itself reaches the disk only with the folder.
    const int pasta = ::open(QFile::encodeName(Pasta()).constData(), O_RDONLY | O_DIRECTORY);
    const bool sincronizada = pasta >= 0 && ::fsync(pasta) == 0;
    if (pasta >= 0)
        ::close(pasta);
    if (!sincronizada)
        throw Exception(QStringLiteral("Não conseguiu gravar no disco o diário da restauração %1").arg(f.fileName()));
}

void TDiario::Apagar() const
{
    QFile::remove(Arquivo());
}

QString TDiario::Arquivo() const
{
    return ArquivoDe(Servidor, Banco);
}

std::optional<TDiario> TDiario::Ler(const QString &Servidor, const QString &Banco)
{
    QFile f(ArquivoDe(Servidor, Banco));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    TDiario d;
    d.Servidor = o[QStringLiteral("servidor")].toString();
    d.Banco = o[QStringLiteral("banco")].toString();
    // A file that is not this database's journal (or not a journal at all)
    // still says that a replacing restore was under way: its backup may be
    // unknown, but the database must not be opened as it is.
    if (d.Servidor != Servidor || d.Banco != Banco) {
        d.Servidor = Servidor;
        d.Banco = Banco;
    }
    d.Backup = o[QStringLiteral("backup")].toString();
    d.BackupAnterior = o[QStringLiteral("backup_anterior")].toString();
    d.Quando = QDateTime::fromString(o[QStringLiteral("quando")].toString(), Qt::ISODate);
    d.Retrato = TRetrato::DeJson(o[QStringLiteral("retrato")].toObject());
    return d;
}
