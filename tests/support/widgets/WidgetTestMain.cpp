// One QApplication for every test of the windows: Fusion, en_US figures,
// animations off, so what a test reads is the settled state.

#include "QuendKivoApp/kit/Animations.h"
#include "support/EndingThreads.h"

#include <QApplication>
#include <QLocale>
#include <QStyleFactory>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        kivo::animations::setEnabled(false);
        ::testing::InitGoogleMock(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    test::awaitEndingThreads();
    return result;
}
