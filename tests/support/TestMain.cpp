// One QCoreApplication for every test executable, so sockets, timers and
// coroutines have an event loop.

#include "support/EndingThreads.h"

#include <QCoreApplication>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    int result = 0;
    {
        QCoreApplication app(argc, argv);
        ::testing::InitGoogleMock(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    test::awaitEndingThreads();
    return result;
}
