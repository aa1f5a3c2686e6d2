#include "Registro.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

QString Seguro(const QString &Texto)
{
    static const QRegularExpression fora(QStringLiteral("[^A-Za-z0-9._-]+"));
    return QString(Texto).replace(fora, QStringLiteral("_"));
}

} // namespace

QString TRegistro::Pasta()
{
    const QString pasta =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/registros");
    QDir().mkpath(pasta);
    return pasta;
}

TRegistro::TRegistro(TSaidaAtualizacao &Destino, const TLogin &Login) : FDestino(Destino)
{
    const QDateTime agora = QDateTime::currentDateTime();
    const QString base = Pasta() + QLatin1Char('/') + Seguro(Login.Servidor + QLatin1Char('_') + Login.BancoDados) +
                         QLatin1Char('.') + agora.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Runs of the same database in the same second get a file each.
    for (int n = 1; n < 100 && !FArquivo.isOpen(); ++n) {
        FArquivo.setFileName(base + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + QStringLiteral(".log"));
        FArquivo.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text);
    }
    Escrever(QStringLiteral("Atualizar Banco Dados: início em %1").arg(agora.toString(Qt::ISODate)));
    Escrever(QStringLiteral("Servidor: %1").arg(Login.Servidor));
    Escrever(QStringLiteral("Banco de dados: %1").arg(Login.BancoDados));
    Escrever(QStringLiteral("Usuário: %1").arg(Login.Usuario));
}

TRegistro::~TRegistro() = default;

void TRegistro::Escrever(const QString &Texto)
{
    if (!FArquivo.isOpen())
        return;
    FArquivo.write((QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + Texto +
                    QLatin1Char('\n'))
                       .toUtf8());
    FArquivo.flush();
}

void TRegistro::Linha(TPainel Painel, const QString &Texto)
{
    Escrever(QStringLiteral("[%1] %2").arg(NomeDoPainel(Painel), Texto));
    FDestino.Linha(Painel, Texto);
}

void TRegistro::Status(const QString &Texto)
{
    Escrever(QStringLiteral("[status] ") + Texto);
    FDestino.Status(Texto);
}

void TRegistro::OutrosUsuarios(int32_t Conectados)
{
    Escrever(QStringLiteral("[caixa] Outros usuários conectados ao banco de dados: %1").arg(Conectados));
    FDestino.OutrosUsuarios(Conectados);
}

void TRegistro::Concluido()
{
    Escrever(QStringLiteral("[caixa] Concluído"));
    FDestino.Concluido();
}

void TRegistro::Fim(const TAtualizacao &Atualizacao, const QString &Resultado)
{
    Escrever(QStringLiteral("Versão antes: %1").arg(Atualizacao.VersaoBancoDados()));
    Escrever(QStringLiteral("Versão depois: %1").arg(Atualizacao.VersaoAtingida()));
    Escrever(QStringLiteral("Resultado: ") + Resultado);
}
