// The reader program's process: it is started afresh, gets nothing of the
// caller's but its two pipes, what it sends back arrives whole, and a reader
// that crashes, aborts, hangs, stops making progress or is cancelled ends in
// one line while the caller goes on. A stand-in program (test_reader.cpp)
// plays each part.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "IsolatedRead.h"

namespace {
struct Result {
    bool ok = false;
    ScalarVolume volume;
    SourceInfo info;
    std::string notes;
    std::string error;
};

std::string Beside(const std::string& program)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / program).string();
}

Result ReadWith(const std::string& how, double seconds = 10.0, const std::atomic<bool>* cancel = nullptr)
{
    Result r;
    IsolationLimits limits;
    limits.seconds = seconds;
    limits.cancel = cancel;
    limits.program = Beside("volren-test-reader");
    r.ok = ReadIsolated({how}, limits, r.volume, r.info, r.notes, r.error);
    return r;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

TEST(IsolatedRead, SendsTheVolumeAndWhatTheReaderLearnt)
{
    const Result r = ReadWith("send");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.volume.size, (std::array<size_t, 3>{301, 7, 5}));
    EXPECT_EQ(r.volume.spacing, (std::array<double, 3>{0.5, 0.25, 3.0}));
    ASSERT_EQ(r.volume.samples.size(), 301u * 7 * 5);
    EXPECT_EQ(r.volume.samples[0], -7.0f);
    EXPECT_EQ(r.volume.samples.back(), float(301 * 7 * 5 - 1) * 0.5f - 7.0f);
    EXPECT_TRUE(r.volume.densities.empty());
    EXPECT_EQ(r.info.description, "DICOM series 1.2.3");
    EXPECT_EQ(r.info.typeName, "int16");
    EXPECT_TRUE(r.info.integerType && r.info.modalityCT && !r.info.dicom && !r.info.unsigned8Bit);
    EXPECT_EQ(r.notes, "warning: something\n");

    for (const std::string way : {"file", "pipe"}) {
        Result d;
        IsolationLimits limits;
        limits.program = Beside("volren-test-reader");
        d.ok = ReadIsolated({"densities", way}, limits, d.volume, d.info, d.notes, d.error);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_TRUE(d.volume.samples.empty());
        ASSERT_EQ(d.volume.densities.size(), 12u);
        EXPECT_EQ(std::vector<uint16_t>(d.volume.densities.data(), d.volume.densities.data() + 12),
                  (std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 4090, 4091, 4092, 4093, 4094, 4095}));
        EXPECT_EQ(d.info.valueRule, "CT: HU + 1024");
        EXPECT_TRUE(d.info.hounsfield);
    }
}

// The program is no copy of the caller: of the caller's open files (here one
// opened without close-on-exec, as libraries do) it gets only its standard
// streams and the two pipes.
TEST(IsolatedRead, TheReaderGetsOnlyItsPipes)
{
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    const Result r = ReadWith("descriptors");
    ::close(leaked);
    ASSERT_TRUE(r.ok) << r.error;
    // 5: the memory file for densities.
    EXPECT_EQ(r.notes, "0 1 2 3 4 5");
}

TEST(IsolatedRead, RefusalsAndFailuresEndInOneLine)
{
    const Result refusal = ReadWith("refuse");
    EXPECT_FALSE(refusal.ok);
    EXPECT_EQ(refusal.error, "is truncated");
    EXPECT_TRUE(refusal.volume.samples.empty());

    const Result crash = ReadWith("crash");
    EXPECT_FALSE(crash.ok);
    EXPECT_EQ(crash.error.rfind("the reader stopped on a damaged file (", 0), 0u) << crash.error;

    const Result abort = ReadWith("abort");
    EXPECT_FALSE(abort.ok);
    EXPECT_NE(abort.error.find("Aborted"), std::string::npos) << abort.error;

    const Result cut = ReadWith("short");
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.error, "the reader ended without a result (status 1)");
    EXPECT_TRUE(cut.volume.samples.empty());

    const auto start = std::chrono::steady_clock::now();
    const Result hang = ReadWith("hang", 0.5);
    EXPECT_FALSE(hang.ok);
    EXPECT_EQ(hang.error, "the reader did not finish within 0.5 seconds; the file is probably damaged");
    EXPECT_LT(SecondsSince(start), 5.0);

    IsolationLimits limits;
    limits.program = Beside("no-such-reader");
    Result missing;
    EXPECT_FALSE(ReadIsolated({"send"}, limits, missing.volume, missing.info, missing.notes, missing.error));
    EXPECT_EQ(missing.error.rfind("cannot start its reader ", 0), 0u) << missing.error;
}

TEST(IsolatedRead, TheReaderProgramIsFoundBesideTheCaller)
{
    EXPECT_EQ(ReaderProgram(), std::filesystem::path(Beside("volren-reader")).lexically_normal().string());
}

TEST(IsolatedRead, CancelStopsTheReader)
{
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const Result r = ReadWith("hang", 60.0, &cancel);
    canceller.join();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "cancelled");
    EXPECT_LT(SecondsSince(start), 5.0);
}

// A reader that reported progress and then reports none is ended as hung
// after the stall time, long before its limit; one that never reports, or
// keeps reporting, may take longer than that.
TEST(IsolatedRead, AReaderThatStopsMakingProgressEndsEarly)
{
    const auto start = std::chrono::steady_clock::now();
    const Result stuck = ReadWith("stall", 30.0);
    const double seconds = SecondsSince(start);
    EXPECT_FALSE(stuck.ok);
    EXPECT_EQ(stuck.error,
              "the reader stopped making progress (nothing read for 2 seconds); the file is probably "
              "damaged");
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, 20.0) << "ended at the stall, not at the limit";

    const Result silent = ReadWith("silent", 30.0);
    EXPECT_TRUE(silent.ok) << silent.error;
    EXPECT_EQ(silent.volume.samples.size(), 6u);

    const Result steady = ReadWith("steady", 30.0);
    EXPECT_TRUE(steady.ok) << steady.error;
    EXPECT_EQ(steady.volume.samples.size(), 8u);
}
