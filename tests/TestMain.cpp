#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Child processes of death tests start afresh instead of forking a process
    // that holds an X connection and a GL context.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
