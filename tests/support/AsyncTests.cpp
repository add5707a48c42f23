#include "KivoCore/support/Async.h"
#include "KivoCore/support/KivoError.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {
QCoro::Task<void> failLater(OneShot<> gate)
{
    co_await gate;
    throw KivoError::server(QStringLiteral("The radio refused the command."));
}

QCoro::Task<int> valueOf(OneShot<int> shot)
{
    co_return co_await shot;
}
} // namespace

TEST(Launch, ReportsAnExceptionOfATaskNobodyAwaits)
{
    OneShot<> gate;
    QString reported;
    launch(failLater(gate), [&](const QString &message) { reported = message; });
    gate.resolve();
    ASSERT_TRUE(waitUntil([&] { return !reported.isEmpty(); }));
    EXPECT_EQ(reported, QStringLiteral("The radio refused the command."));
}

TEST(OneShot, ResumesItsWaitersOnlyFromTheEventLoop)
{
    OneShot<int> shot;
    std::optional<int> seen;
    auto waiter = [&]() -> QCoro::Task<void> { seen = co_await shot; };
    launch(waiter());
    shot.resolve(7);
    // Not resumed inside resolve(): the resolver is never re-entered.
    EXPECT_FALSE(seen.has_value());
    ASSERT_TRUE(waitUntil([&] { return seen.has_value(); }));
    EXPECT_EQ(*seen, 7);
}

TEST(OneShot, TheFirstOutcomeWinsAndLateWaitersGetItAtOnce)
{
    OneShot<int> shot;
    shot.resolve(1);
    shot.resolve(2);
    shot.fail(KivoError::notConnected());
    EXPECT_EQ(runTask(valueOf(shot)), 1);
}

TEST(OneShot, FailAfterTimesOutAWaiter)
{
    OneShot<int> shot;
    shot.failAfter(20ms, std::make_exception_ptr(KivoError::server(QStringLiteral("No reply."))));
    try {
        runTask(valueOf(shot));
        FAIL() << "expected a time-out";
    } catch (const KivoError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("No reply."));
    }
}

TEST(RunTask, RethrowsAndTimesOut)
{
    OneShot<> gate;
    gate.resolve();
    EXPECT_THROW(runTask(failLater(gate)), KivoError);
    OneShot<> late;
    EXPECT_THROW(runTask(failLater(late), 30ms), TaskTimedOut);
    // The abandoned task still ends, so nothing stays suspended.
    late.resolve();
    runTask(sleepFor(0ms));
}

TEST(SleepFor, AWakeEndsTheSleepEarly)
{
    OneShot<> wake;
    wake.resolve();
    EXPECT_TRUE(runTask(sleepFor(10min, wake)));
    EXPECT_FALSE(runTask(sleepFor(1ms, OneShot<>())));
}
