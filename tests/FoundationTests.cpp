#include "KivoCore/Async.h"
#include "support/RunTask.h"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) { SUCCEED(); }
