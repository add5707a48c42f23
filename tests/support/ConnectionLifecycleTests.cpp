#include "KivoCore/radio/RadioLifecycle.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

TEST(RadioLifecycle, RetriesAfterTheBackoffUnlessTheReportStoppedIt)
{
    QObject owner;
    int retries = 0;
    QStringList reports;
    RadioLifecycle *self = nullptr;
    bool stopOnReport = false;
    RadioLifecycle life(&owner, [&] { ++retries; },
                        {.onState =
                             [&](RadioConnectionState, const QString &status) {
                                 reports << status;
                                 if (stopOnReport)
                                     self->end();
                             },
                         .backoffSecond = 1ms,
                         .random = [] { return 0.0; }});
    self = &life;
    life.begin();
    life.retryLater(QStringLiteral("Radio closed the connection"));
    life.retryLater(QStringLiteral("Radio closed the connection"));
    EXPECT_EQ(reports, (QStringList{QStringLiteral("Radio closed the connection. Retrying in 1.0 s"),
                                    QStringLiteral("Radio closed the connection. Retrying in 2.0 s")}));
    ASSERT_TRUE(waitUntil([&] { return retries == 1; }));
    EXPECT_EQ(life.state(), RadioConnectionState::Retrying);

    stopOnReport = true;
    life.retryLater(QStringLiteral("Gone"));
    EXPECT_TRUE(life.ended().isDone());
    // Timers fire in deadline order: one far beyond the 4 ms back-off comes
    // after the retry it would have armed.
    bool later = false;
    QTimer::singleShot(200ms, &owner, [&] { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later; }));
    EXPECT_EQ(retries, 1);
}
