#include "Idioma.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool CarregarTraducaoDoQt(QCoreApplication &App)
{
    static const char *const Nome = "TraducaoDoQt";
    if (App.findChild<QTranslator *>(QLatin1String(Nome), Qt::FindDirectChildrenOnly))
        return true;
    auto *traducao = new QTranslator(&App);
    traducao->setObjectName(QLatin1String(Nome));
    // The whole tool speaks Portuguese, whatever the system's language.
    const QLocale portugues(QLocale::Portuguese, QLocale::Brazil);
    const QString pasta = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!traducao->load(portugues, QStringLiteral("qtbase"), QStringLiteral("_"), pasta) ||
        !QCoreApplication::installTranslator(traducao)) {
        delete traducao;
        return false;
    }
    return true;
}
