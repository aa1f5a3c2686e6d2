#include "Trava.h"

#include "A.h"
#include "ConexaoPropria.h"
#include "Exceptions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>

#include <netdb.h>
#include <sys/socket.h>

namespace {

// The numeric address a host name resolves to; the name itself when it
// does not resolve.
QString Endereco(const QString &Host)
{
    addrinfo dica{};
    dica.ai_socktype = SOCK_STREAM;
    // IPv4 first, so that "localhost" names 127.0.0.1 rather than ::1.
    dica.ai_family = AF_INET;
    addrinfo *lista = nullptr;
    if (getaddrinfo(Host.toUtf8().constData(), nullptr, &dica, &lista) != 0 || !lista) {
        dica.ai_family = AF_UNSPEC;
        if (getaddrinfo(Host.toUtf8().constData(), nullptr, &dica, &lista) != 0 || !lista)
            return Host.toLower();
    }
    char texto[NI_MAXHOST] = {};
    const int r = getnameinfo(lista->ai_addr, lista->ai_addrlen, texto, sizeof texto, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(lista);
    return r == 0 ? QString::fromLatin1(texto) : Host.toLower();
}

} // namespace

QString TTrava::Identidade(const TdmA &Modulo)
{
    QString arquivo;
    try {
        TConexaoPropria conexao(Modulo, Modulo.BancoDados);
        arquivo = conexao.Valor(QStringLiteral("SELECT MON$DATABASE_NAME FROM MON$DATABASE"));
    } catch (const Exception &) {
        return {};
    }
    return Identidade(Modulo.Servidor, arquivo);
}

QString TTrava::Identidade(const QString &Servidor, const QString &Arquivo)
{
    // "host/port", "host:port" is not a form the client takes; without a
    // port, Firebird's.
    const QString servidor = Servidor.trimmed();
    const qsizetype barra = servidor.indexOf(QLatin1Char('/'));
    const QString host = barra < 0 ? servidor : servidor.left(barra);
    const QString porta = barra < 0 ? QStringLiteral("3050") : servidor.mid(barra + 1);
    return Endereco(host.isEmpty() ? QStringLiteral("localhost") : host) + QLatin1Char('/') + porta +
           QLatin1Char(':') + Arquivo;
}

TTrava TTrava::Tomar(const TdmA &Modulo)
{
    TTrava t;
    t.Nome = Identidade(Modulo);
    QString identidade = t.Nome;
    // A database nobody can attach to now (a restore is replacing it) is
    // locked by the names it was given.
    if (identidade.isEmpty())
        identidade = QStringLiteral("como digitado:") + Modulo.Servidor.trimmed() + QLatin1Char(':') +
                     Modulo.BancoDados.trimmed();
    const QString pasta =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/travas");
    QDir().mkpath(pasta);
    const QByteArray chave = QCryptographicHash::hash(identidade.toUtf8(), QCryptographicHash::Sha256).toHex();
    t.Arquivo = std::make_unique<QLockFile>(pasta + QLatin1Char('/') + QString::fromLatin1(chave.left(32)) +
                                            QStringLiteral(".lock"));
    // Never stale by age: a run can last hours. A lock whose process is gone
    // is taken over.
    t.Arquivo->setStaleLockTime(0);
    t.Tomada = t.Arquivo->tryLock(0);
    // A folder the lock cannot be written in must not stop the update.
    if (!t.Tomada && t.Arquivo->error() != QLockFile::LockFailedError)
        t.Tomada = true;
    return t;
}
