// Thousands of deterministic corruptions of a ".tf" file and of a ".dat" file:
// each must end with success or one clear log entry and the right exit status,
// never a crash, a hang or an allocation beyond what the file holds.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>

#include "Log.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
std::atomic<bool> trackAllocations{false};
std::atomic<size_t> largestAllocation{0};
}  // namespace

// Every allocation through operator new of this test program passes here, so
// the largest one made while a file is read can be compared with its size.
void* operator new(size_t size)
{
    if (trackAllocations.load(std::memory_order_relaxed)) {
        size_t seen = largestAllocation.load(std::memory_order_relaxed);
        while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {
std::string Corrupt(std::string bytes, std::mt19937& random, int kind, size_t countsAt, size_t countFields)
{
    auto randomByte = [&] { return char(random() & 0xFF); };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4 && at + i < bytes.size(); ++i) {
            bytes[at + i] = char((v >> (8 * i)) & 0xFF);
        }
    };
    switch (kind) {
        case 0:  // truncation
            bytes.resize(random() % bytes.size());
            break;
        case 1:  // flipped bits
            for (int n = 1 + int(random() % 4); n > 0; --n) {
                bytes[random() % bytes.size()] ^= char(1 << (random() % 8));
            }
            break;
        case 2: {  // a huge count or size
            const uint32_t huge[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x10000u, uint32_t(random())};
            put32(countsAt + 4 * (random() % countFields), huge[random() % 5]);
            break;
        }
        case 3:  // garbage appended, header bytes replaced
            for (int n = 1 + int(random() % 64); n > 0; --n) {
                bytes.push_back(randomByte());
            }
            bytes[random() % std::min<size_t>(bytes.size(), countsAt + 4 * countFields)] = randomByte();
            break;
        default:  // several at once
            for (int n = 0; n < 3; ++n) {
                bytes = Corrupt(bytes.empty() ? std::string(1, '\0') : bytes, random, int(random() % 4), countsAt,
                                countFields);
                if (bytes.empty()) {
                    break;
                }
            }
            break;
    }
    return bytes;
}

bool OneOf(const std::string& text, std::initializer_list<const char*> choices)
{
    for (const char* choice : choices) {
        if (text == choice) {
            return true;
        }
    }
    return false;
}
}  // namespace

TEST(Mutation, TransferFunctionReaderSurvivesCorruptFiles)
{
    ScratchFolder scratch;
    TransferFunction original;
    original.AddSample(0, 10, 0);
    original.AddSample(0, 0, 20000);
    original.AddSample(1, 255, 100);
    original.AddSample(2, 7, 600);
    original.AddSample(2, 9, 601);
    original.AddSample(3, 255, 20000);
    ASSERT_TRUE(original.Save("base.tf"));
    const std::string base = ReadFile("base.tf");

    std::mt19937 random(20261207);
    int loaded = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string bytes = Corrupt(base, random, i % 5, 12, 4);
        if (i % 50 == 0) {
            // Negative and odd header sizes.
            const int32_t sizes[] = {-1, -28, INT32_MIN, 3, 1 << 30};
            const int32_t size = sizes[(i / 50) % 5];
            bytes = base;
            std::memcpy(&bytes[4], &size, 4);
        }
        WriteFile("corrupt.tf", bytes);

        TransferFunction tf;
        tf.AddSample(1, 9, 99);
        LogOpen();
        largestAllocation = 0;
        trackAllocations = true;
        const bool ok = tf.Load("corrupt.tf");
        trackAllocations = false;
        LogClose();
        const std::string log = ReadFile("debug.log");

        ASSERT_LE(largestAllocation.load(), std::max<size_t>(bytes.size(), 8)) << "mutation " << i;
        uint64_t samples = 0;
        for (int c = 0; c < 4; ++c) {
            samples += tf.SampleCount(c);
        }
        if (ok) {
            ASSERT_LE(samples * 8, bytes.size()) << "mutation " << i;
            ++loaded;
            ASSERT_EQ(log, "") << "mutation " << i;
            ASSERT_FALSE(tf.IsModified());
        } else {
            ASSERT_TRUE(OneOf(log, {"[ WARN ] TransferFunction: Reading header failed!\n",
                                    "[ WARN ] TransferFunction: Invalid transfer function file!\n",
                                    "[ WARN ] TransferFunction: Reading sample failed!\n"}))
                << "mutation " << i << ": " << log;
            // The function the corrupt file would have replaced stays.
            ASSERT_TRUE(tf.IsModified());
            ASSERT_FALSE(tf.HasFileName());
            ASSERT_EQ(tf.SampleCount(0) + tf.SampleCount(1) + tf.SampleCount(2) + tf.SampleCount(3), 1u);
            ASSERT_EQ(tf.Channel(1).front().position, 99u);
        }
    }
    // Both outcomes occur, so the corruptions reach past the magic number.
    EXPECT_GT(loaded, 100);
    EXPECT_LT(loaded, 2900);
}

// The volume loader refuses bad input; every corrupt file is read in a child
// process all the same, so that a crash or a hang is caught. This process never makes a GL context: the
// children share nothing with a driver, and the driver's size limits read as
// unknown, so the memory checks and allocations are what stops large headers.
TEST(Mutation, VolumeLoaderSurvivesCorruptFiles)
{
    ScratchFolder scratch;
    WriteVolume("base.dat", 9, 7, 5, [](uint32_t x, uint32_t y, uint32_t z) {
        return uint16_t(x == 4 && y == 3 && z == 2 ? 4096 : (x * 97 + y * 31 + z * 7) % 4000);
    });
    const std::string base = ReadFile("base.dat");

    std::mt19937 random(7);
    int loaded = 0, refused = 0;
    for (int i = 0; i < 2000; ++i) {
        std::string bytes = Corrupt(base, random, i % 5, 0, 1);
        if (i % 40 == 0 && bytes.size() >= 6) {
            // A size of 0, or the largest sizes, on one axis.
            const uint16_t sizes[] = {0, 65535, 4097, 1};
            const uint16_t size = sizes[(i / 40) % 4];
            const size_t axis = 2 * ((i / 160) % 3);
            bytes[axis] = char(size & 0xFF);
            bytes[axis + 1] = char(size >> 8);
        }
        if (i % 7 == 3 && bytes.size() > 20) {
            // A density above the 12-bit range.
            bytes[6 + 2 * (random() % ((bytes.size() - 6) / 2))] = char(0xFF);
            bytes[bytes.size() - 1] = char(0x7F);
        }
        WriteFile("corrupt.dat", bytes);
        std::remove("debug.log");

        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Under the sanitizer the run's own allocation limit stands in.
            if (!underAddressSanitizer) {
                const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
                setrlimit(RLIMIT_AS, &limit);
            }
            // The memory guard counts against a quarter of the child's
            // gigabyte: a header of a few hundred million samples is refused
            // as on a small machine, instead of read and derived for seconds.
            VolumeRenderer::SetMemoryLimit(uint64_t(256) << 20);
            LogOpen();
            VolumeRenderer renderer(nullptr, "", nullptr);
            if (!renderer.ReadVolumeData("corrupt.dat")) {
                LogClose();
                std::_Exit(renderer.IsLoaded() || renderer.loadError.empty() ? 21 : 1);
            }
            // The gradients as the load makes them, slab by slab: every half
            // float finite (exponent bits not all set).
            const uint64_t plane = uint64_t(renderer.texDimX) * renderer.texDimY;
            renderer.ComputeGradientSlabs(0, [plane](uint32_t, uint32_t planes, const uint16_t* halves) {
                for (uint64_t v = 0; v < 3 * plane * planes; ++v) {
                    if ((halves[v] & 0x7C00) == 0x7C00) {
                        std::_Exit(20);
                    }
                }
            });
            LogClose();
            std::_Exit(0);
        }

        int status = 0;
        const auto start = std::chrono::steady_clock::now();
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                FAIL() << "mutation " << i << " hangs";
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_TRUE(WIFEXITED(status)) << "mutation " << i << " crashed with signal " << WTERMSIG(status);
        const std::string log = ReadFile("debug.log");
        const std::string warning = "[ WARN ] Data file: 'corrupt.dat' ends early: ";
        const bool warned = log.rfind(warning, 0) == 0;
        const std::string rest = warned ? log.substr(log.find('\n') + 1) : log;
        if (WEXITSTATUS(status) == 0) {
            ++loaded;
            ASSERT_EQ(rest, "") << "mutation " << i << ": " << log;
        } else {
            ++refused;
            ASSERT_EQ(WEXITSTATUS(status), 1) << "mutation " << i << ": " << log;
            const bool clear =
                rest == "[ WARN ] Data file: Density data value exceeds maximum of 2^12 (4096)\n" ||
                (rest.rfind("[ WARN ] Data file: 'corrupt.dat' ", 0) == 0 && rest.find('\n') == rest.size() - 1);
            ASSERT_TRUE(clear) << "mutation " << i << ": " << log;
        }
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refused, 100);
}
