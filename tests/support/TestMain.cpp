// One main for every test program: a QApplication (offscreen unless a
// platform is set), then GoogleTest.
#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Texts of numbers and dates follow the locale: the tool's users' one.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
