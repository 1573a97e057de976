// The child process that runs each reader: what it sends back arrives whole,
// and a reader that crashes, aborts, hangs or is cancelled ends in one line
// while the caller goes on.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
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

Result ReadWith(const IsolatedReader& read, double seconds = 10.0, const std::atomic<bool>* cancel = nullptr)
{
    Result r;
    IsolationLimits limits;
    limits.seconds = seconds;
    limits.cancel = cancel;
    r.ok = ReadIsolated(read, limits, r.volume, r.info, r.notes, r.error);
    return r;
}
}  // namespace

TEST(IsolatedRead, SendsTheVolumeAndWhatTheReaderLearnt)
{
    const Result r = ReadWith([](ScalarVolume& v, SourceInfo& i, std::string& notes, std::string&) {
        v.size = {301, 7, 5};
        v.spacing = {0.5, 0.25, 3.0};
        v.samples.resize(v.Count());
        for (size_t k = 0; k < v.samples.size(); ++k) {
            v.samples[k] = float(k) * 0.5f - 7.0f;
        }
        i.description = "DICOM series 1.2.3";
        i.typeName = "int16";
        i.integerType = true;
        i.modalityCT = true;
        notes = "warning: something\n";
        return true;
    });
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.volume.size, (std::array<size_t, 3>{301, 7, 5}));
    EXPECT_EQ(r.volume.spacing, (std::array<double, 3>{0.5, 0.25, 3.0}));
    ASSERT_EQ(r.volume.samples.size(), 301u * 7 * 5);
    EXPECT_EQ(r.volume.samples[0], -7.0f);
    EXPECT_EQ(r.volume.samples.back(), float(301 * 7 * 5 - 1) * 0.5f - 7.0f);
    EXPECT_EQ(r.info.description, "DICOM series 1.2.3");
    EXPECT_EQ(r.info.typeName, "int16");
    EXPECT_TRUE(r.info.integerType && r.info.modalityCT && !r.info.dicom && !r.info.unsigned8Bit);
    EXPECT_EQ(r.notes, "warning: something\n");
}

TEST(IsolatedRead, ReaderRefusalArrivesAsItsCause)
{
    const Result r = ReadWith([](ScalarVolume&, SourceInfo&, std::string&, std::string& error) {
        error = "is truncated";
        return false;
    });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "is truncated");
    EXPECT_TRUE(r.volume.samples.empty());
}

TEST(IsolatedRead, CrashAbortAndHangEndInOneLine)
{
    const Result crash = ReadWith([](ScalarVolume&, SourceInfo&, std::string&, std::string&) {
        std::raise(SIGSEGV);
        return true;
    });
    EXPECT_FALSE(crash.ok);
    EXPECT_EQ(crash.error.rfind("the reader stopped on a damaged file (", 0), 0u) << crash.error;

    const Result abort = ReadWith([](ScalarVolume&, SourceInfo&, std::string&, std::string&) -> bool { std::abort(); });
    EXPECT_FALSE(abort.ok);
    EXPECT_NE(abort.error.find("Aborted"), std::string::npos) << abort.error;

    const Result hang = ReadWith(
        [](ScalarVolume&, SourceInfo&, std::string&, std::string&) {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            return true;
        },
        0.5);
    EXPECT_FALSE(hang.ok);
    EXPECT_EQ(hang.error, "the reader did not finish within 0.5 seconds; the file is probably damaged");
}

TEST(IsolatedRead, CancelStopsTheReader)
{
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const Result r = ReadWith(
        [](ScalarVolume&, SourceInfo&, std::string&, std::string&) {
            std::this_thread::sleep_for(std::chrono::seconds(30));
            return true;
        },
        60.0, &cancel);
    canceller.join();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "cancelled");
}

// A reader that reported progress and then reports none is ended as hung
// after the stall time, long before its limit; one that never reports, or
// keeps reporting, may take longer than that.
TEST(IsolatedRead, AReaderThatStopsMakingProgressEndsEarly)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const Result stuck = ReadWith(
        [](ScalarVolume&, SourceInfo&, std::string&, std::string&) {
            ReportReadProgress();
            ReportReadProgress();
            std::this_thread::sleep_for(std::chrono::seconds(60));
            return true;
        },
        30.0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_FALSE(stuck.ok);
    EXPECT_EQ(stuck.error,
              "the reader stopped making progress (nothing read for 2 seconds); the file is probably "
              "damaged");
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, 20.0) << "ended at the stall, not at the limit";

    const auto slowButSilent = [](ScalarVolume& v, SourceInfo&, std::string&, std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2600));
        v.size = {3, 2, 1};
        v.samples.assign(v.Count(), 1.0f);
        return true;
    };
    const Result silent = ReadWith(slowButSilent, 30.0);
    EXPECT_TRUE(silent.ok) << silent.error;
    EXPECT_EQ(silent.volume.samples.size(), 6u);

    const Result steady = ReadWith(
        [](ScalarVolume& v, SourceInfo&, std::string&, std::string&) {
            for (int slice = 0; slice < 6; ++slice) {
                ReportReadProgress();
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            v.size = {2, 2, 2};
            v.samples.assign(v.Count(), 2.0f);
            return true;
        },
        30.0);
    EXPECT_TRUE(steady.ok) << steady.error;
    EXPECT_EQ(steady.volume.samples.size(), 8u);
    // Outside a child it does nothing.
    ReportReadProgress();
}
