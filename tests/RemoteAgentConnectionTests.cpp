#include "fakes/RemoteAgentHarness.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

TEST(RemoteAgentConnection, ConnectsAndFollowsTheStream)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    EXPECT_TRUE(h.lastSnapshot().isConnected);
    EXPECT_EQ(h.lastSnapshot().station, "Maestro");
}
