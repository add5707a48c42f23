// One QCoreApplication for every test executable, so sockets, timers and
// coroutines have an event loop.

#include <QCoreApplication>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
