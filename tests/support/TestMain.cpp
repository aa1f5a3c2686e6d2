// One main for every test program: a QApplication (offscreen unless a
// platform is set), then GoogleTest.
#include <QApplication>
#include <QLocale>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Texts of numbers and dates follow the locale: the tool's users' one.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    // The tool's local data (run logs, scratch notes, journals) of this test
    // process alone, so that what one case leaves never reaches another; the
    // programs a case starts inherit it.
    QTemporaryDir dados(qEnvironmentVariable("FB_TEST_WORK", QDir::tempPath()) + QStringLiteral("/dados-XXXXXX"));
    if (dados.isValid())
        qputenv("XDG_DATA_HOME", dados.path().toUtf8());
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
