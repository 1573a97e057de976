#include <gtest/gtest.h>

#include <cstdio>

#include "Log.h"
#include "PowerOfTwo.h"
#include "TestSupport.h"

TEST(Log, WarningsEndTheirLineAndPrintPercentLiterally)
{
    ScratchFolder scratch;
    LogOpen();
    LogWarning("first");
    LogWarning("value %d stays");
    LogClose();
    EXPECT_EQ(ReadFile("debug.log"), "[ WARN ] first\n[ WARN ] value %d stays\n");
}

TEST(Log, OpenEmptiesThePreviousLog)
{
    ScratchFolder scratch;
    WriteFile("debug.log", "old content\n");
    LogOpen();
    LogClose();
    EXPECT_EQ(ReadFile("debug.log"), "");
}

TEST(Log, FatalEntryHasNoLineEndAndExitsWithOne)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            LogOpen();
            LogWarning("before");
            LogFailed("broken %s here");
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile("debug.log"), "[ WARN ] before\n[FAILED] broken %s here");
}

TEST(Log, FatalEntryWithLocation)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            LogOpen();
            LogFailedAt("invalid operation", "Volume", 42);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile("debug.log"), "[FAILED] invalid operation [Volume:42]");
}

TEST(Log, EntriesGoToStandardErrorWhenTheLogIsClosed)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            LogWarning("no log yet");
            LogFailed("fatal without log");
        },
        testing::ExitedWithCode(1), "\\[ WARN \\] no log yet\n\\[FAILED\\] fatal without log$");
    EXPECT_EXIT(LogFailedAt("at a place", "Main", 7), testing::ExitedWithCode(1),
                "^\\[FAILED\\] at a place \\[Main:7\\]$");
}

TEST(Log, NextPowerOfTwo)
{
    const uint32_t in[] = {1, 2, 3, 113, 256, 257, 1000, 4096, 4097, 65535};
    const int out[] = {1, 2, 4, 128, 256, 512, 1024, 4096, 8192, 65536};
    for (size_t i = 0; i < std::size(in); ++i) {
        EXPECT_EQ(NextPowerOfTwo(in[i]), out[i]) << in[i];
    }
}
