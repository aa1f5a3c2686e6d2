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

QString ArquivoDaIdentidade(const QString &Identidade)
{
    return ArquivoDe(QStringLiteral("@servidor"), Identidade);
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
    o[QStringLiteral("identidade")] = Identidade;
    for (const QString &arquivo : Arquivos())
        Gravar(arquivo, QJsonDocument(o).toJson());
}

void TDiario::Gravar(const QString &Arquivo, const QByteArray &Texto) const
{
    // QSaveFile writes a temporary file, syncs it to disk and renames it
    // over the old one: the journal is either whole or absent.
    QSaveFile f(Arquivo);
    if (!f.open(QIODevice::WriteOnly) || f.write(Texto) < 0 || !f.commit())
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
    for (const QString &arquivo : Arquivos())
        QFile::remove(arquivo);
}

QString TDiario::Arquivo() const
{
    return ArquivoDe(Servidor, Banco);
}

QStringList TDiario::Arquivos() const
{
    QStringList a{Arquivo()};
    if (!Identidade.isEmpty())
        a << ArquivoDaIdentidade(Identidade);
    return a;
}

std::optional<TDiario> TDiario::Ler(const QString &Servidor, const QString &Banco, const QString &Identidade)
{
    QFile f(Identidade.isEmpty() ? QString() : ArquivoDaIdentidade(Identidade));
    if (Identidade.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        f.setFileName(ArquivoDe(Servidor, Banco));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
    }
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    TDiario d;
    d.Servidor = o[QStringLiteral("servidor")].toString();
    d.Banco = o[QStringLiteral("banco")].toString();
    d.Identidade = o[QStringLiteral("identidade")].toString();
    // A file that cannot be read as a journal still says that a replacing
    // restore was under way: its backup is unknown, but the database must
    // not be opened as it is, and the file goes once it is dealt with.
    if (d.Servidor.isEmpty() || d.Banco.isEmpty()) {
        d.Servidor = Servidor;
        d.Banco = Banco;
        d.Identidade = Identidade;
    }
    d.Backup = o[QStringLiteral("backup")].toString();
    d.BackupAnterior = o[QStringLiteral("backup_anterior")].toString();
    d.Quando = QDateTime::fromString(o[QStringLiteral("quando")].toString(), Qt::ISODate);
    d.Retrato = TRetrato::DeJson(o[QStringLiteral("retrato")].toObject());
    return d;
}
