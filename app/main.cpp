#include "Banco.h"
#include "SemJanela.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    Banco::ProtegerSegredos();
    // With arguments, no window: no display is needed and no widget is made.
    if (argc > 1) {
        QCoreApplication app(argc, argv);
        return Banco::ExecutarSemJanela(app);
    }
    QApplication app(argc, argv);
    return Banco::Executar(app);
}
