#include "Banco.h"

#include <QApplication>
#include <QMainWindow>

namespace Banco {

int Executar(QApplication &app)
{
    QApplication::setApplicationName(QString::fromUtf8(Titulo));
    QApplication::setApplicationDisplayName(QString::fromUtf8(Titulo));

    QMainWindow janela;
    janela.setObjectName(QStringLiteral("fPrincipal"));
    janela.setWindowTitle(QString::fromUtf8(Titulo));
    janela.resize(640, 480);
    janela.show();
    return app.exec();
}

} // namespace Banco
