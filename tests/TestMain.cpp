#include <gtest/gtest.h>

#include "DisplayRetry.h"

int main(int argc, char** argv)
{
    // The display connection is the one outside flake a test may meet; a
    // test that fails for a reason of its own is not run again.
    RetryLostDisplay(argv);
    // Child processes of death tests start afresh instead of forking a process
    // that holds an X connection and a GL context.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
