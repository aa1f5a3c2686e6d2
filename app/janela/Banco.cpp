#include "Banco.h"

#include "A.h"
#include "Exceptions.h"
#include "Idioma.h"
#include "Principal.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <memory>
#include <typeinfo>

namespace Banco {

QString TextoUltimaChance(const std::exception &E)
{
    QString className;
    QString message;
    const void *address = &E;
    if (const auto *e = dynamic_cast<const Exception *>(&E)) {
        className = QString::fromLatin1(e->ClassName());
        message = e->Message();
        address = e->Address();
    } else {
        className = QString::fromLatin1(typeid(E).name());
        message = QString::fromLocal8Bit(E.what());
    }
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString point = !message.isEmpty() && !message.endsWith(QLatin1Char('.')) ? QStringLiteral(".")
                                                                                    : QString();
    const QString at = QStringLiteral("%1").arg(quintptr(address), 16, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("Exceção %1 no modulo %2 at %3.\r\n%4%5\r\n")
        .arg(className, module, at, message, point);
}

void MostrarUltimaChance(const std::exception &E)
{
    const QString text = TextoUltimaChance(E);
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro da Aplicação"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("LastChanceBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

int Executar(QApplication &app)
{
    std::unique_ptr<TdmA> modulo;
    std::unique_ptr<TfPrincipal> principal;
    try {
        QCoreApplication::setApplicationName(QString::fromUtf8(Titulo));
        QCoreApplication::setApplicationVersion(QStringLiteral(ABD_VERSION));
        CarregarTraducaoDoQt(app);
        modulo = std::make_unique<TdmA>();
        dmA = modulo.get();
        principal = std::make_unique<TfPrincipal>();
        fPrincipal = principal.get();
        principal->show();
    } catch (const std::exception &E) {
        MostrarUltimaChance(E);
        return 1;
    }
    const int code = app.exec();
    // The window first, then the data module, whose connection closes and
    // commits whatever is still active.
    principal.reset();
    fPrincipal = nullptr;
    try {
        modulo.reset();
    } catch (...) {
    }
    dmA = nullptr;
    return code;
}

} // namespace Banco
