// The threaded voxel loops of loading and pre-classification against
// single-threaded references written here: exact equality on small volumes
// cut into many chunks. No OpenGL and no Qt, so that the ThreadSanitizer
// build (make tsan-test) runs these alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "StartupTransferFunction.h"
#include "TransferFunction.h"
#include "VolumeKernels.h"

namespace {
std::vector<uint16_t> Grid(size_t count, uint32_t modulo)
{
    std::vector<uint16_t> grid(count);
    for (size_t i = 0; i < count; ++i) {
        // Runs of equal values as well as scattered ones, like air around a scan.
        grid[i] = (i / 977) % 3 == 0 ? 0 : uint16_t((i * 2654435761u >> 5) % modulo);
    }
    return grid;
}

// The loader's face and interior rules, one voxel at a time.
std::vector<float> ReferenceGradients(const std::vector<uint16_t>& grid, float d, uint32_t nx, uint32_t ny, uint32_t nz)
{
    std::vector<float> out(3 * size_t(nx) * ny * nz);
    auto f = [&](uint32_t x, uint32_t y, uint32_t z) {
        return d != 0.0f ? float(grid[x + nx * (y + size_t(ny) * z)]) / d : 0.0f;
    };
    for (uint32_t z = 0; z < nz; ++z) {
        for (uint32_t y = 0; y < ny; ++y) {
            for (uint32_t x = 0; x < nx; ++x) {
                float g[3];
                if (x == 0) {
                    g[0] = -1, g[1] = 0, g[2] = 0;
                } else if (x == nx - 1) {
                    g[0] = 1, g[1] = 0, g[2] = 0;
                } else if (y == 0) {
                    g[0] = 0, g[1] = -1, g[2] = 0;
                } else if (y == ny - 1) {
                    g[0] = 0, g[1] = 1, g[2] = 0;
                } else if (z == 0) {
                    g[0] = 0, g[1] = 0, g[2] = -1;
                } else if (z == nz - 1) {
                    g[0] = 0, g[1] = 0, g[2] = 1;
                } else {
                    g[0] = f(x - 1, y, z) - f(x + 1, y, z);
                    g[1] = f(x, y - 1, z) - f(x, y + 1, z);
                    g[2] = f(x, y, z - 1) - f(x, y, z + 1);
                }
                std::memcpy(&out[3 * (x + nx * (y + size_t(ny) * z))], g, sizeof g);
            }
        }
    }
    return out;
}

std::vector<uint32_t> Bits(const std::vector<float>& values)
{
    std::vector<uint32_t> bits(values.size());
    std::memcpy(bits.data(), values.data(), 4 * values.size());
    return bits;
}

float FloatOfBits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
}  // namespace

TEST(ParallelLoad, HistogramCountsEqualASingleThreadedCount)
{
    for (size_t count : {size_t(0), size_t(1), size_t(7), size_t(3) * 1024 * 1024 + 3}) {
        const std::vector<uint16_t> grid = Grid(count, count > 100 ? 65536 : 5000);
        std::vector<uint32_t> expected(65536, 0);
        for (uint16_t v : grid) {
            ++expected[v];
        }
        std::vector<uint32_t> counts(65536, 0xFFFFFFFFu);
        VolumeKernels::CountDensities(grid.data(), grid.size(), counts.data());
        EXPECT_EQ(counts, expected) << count << " entries";
    }
}

TEST(ParallelLoad, GradientsEqualTheRulesVoxelByVoxel)
{
    // Sizes that are not powers of two, many rows per task and many tasks.
    const uint32_t nx = 131, ny = 67, nz = 45;
    const std::vector<uint16_t> grid = Grid(size_t(nx) * ny * nz, 4097);
    for (float d : {4096.0f, 3001.0f, 0.0f}) {
        const std::vector<float> expected = ReferenceGradients(grid, d, nx, ny, nz);
        std::vector<float> quotient(65536);
        VolumeKernels::GradientQuotients(d, quotient.data());
        std::vector<float> all(expected.size(), std::numeric_limits<float>::quiet_NaN());
        VolumeKernels::GradientPlanes(grid.data(), quotient.data(), nx, ny, nz, 0, nz, all.data());
        EXPECT_EQ(Bits(all), Bits(expected)) << "divisor " << d;

        // A run of planes in the middle, as a slab.
        const uint32_t z0 = 17, planes = 9;
        std::vector<float> slab(3 * size_t(nx) * ny * planes);
        VolumeKernels::GradientPlanes(grid.data(), quotient.data(), nx, ny, nz, z0, planes, slab.data());
        const std::vector<float> part(expected.begin() + 3 * size_t(nx) * ny * z0,
                                      expected.begin() + 3 * size_t(nx) * ny * (z0 + planes));
        EXPECT_EQ(Bits(slab), Bits(part)) << "divisor " << d;
    }
}

// The gradient texture's texels: each voxel's gradient and its density over
// 4096, rounded to half floats.
TEST(ParallelLoad, HalfFloatTexelsAreTheRoundedGradientsAndDensities)
{
    const uint32_t nx = 64, ny = 40, nz = 23;
    const std::vector<uint16_t> grid = Grid(size_t(nx) * ny * nz, 65536);
    const std::vector<float> expected = ReferenceGradients(grid, 65535.0f, nx, ny, nz);
    std::vector<float> quotient(65536);
    VolumeKernels::GradientQuotients(65535.0f, quotient.data());
    std::vector<uint16_t> halves(4 * grid.size(), 0xFFFF);
    VolumeKernels::GradientDensityHalves(grid.data(), quotient.data(), nx, ny, nz, 0, nz, halves.data());
    size_t mismatches = 0;
    for (size_t v = 0; v < grid.size(); ++v) {
        for (size_t c = 0; c < 3; ++c) {
            mismatches += halves[4 * v + c] != VolumeKernels::HalfFromFloat(expected[3 * v + c]);
        }
        mismatches += halves[4 * v + 3] != VolumeKernels::HalfFromFloat(float(grid[v]) / 4096.0f);
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(ParallelLoad, HalfFloatsRoundToNearestEven)
{
    using VolumeKernels::HalfFromFloat;
    EXPECT_EQ(HalfFromFloat(0.0f), 0x0000);
    EXPECT_EQ(HalfFromFloat(-0.0f), 0x8000);
    EXPECT_EQ(HalfFromFloat(1.0f), 0x3C00);
    EXPECT_EQ(HalfFromFloat(-1.0f), 0xBC00);
    EXPECT_EQ(HalfFromFloat(0.5f), 0x3800);
    EXPECT_EQ(HalfFromFloat(65504.0f), 0x7BFF);
    EXPECT_EQ(HalfFromFloat(65519.0f), 0x7BFF);
    EXPECT_EQ(HalfFromFloat(65520.0f), 0x7C00);
    EXPECT_EQ(HalfFromFloat(std::numeric_limits<float>::infinity()), 0x7C00);
    EXPECT_EQ(HalfFromFloat(-std::numeric_limits<float>::infinity()), 0xFC00);
    EXPECT_EQ(HalfFromFloat(std::ldexp(1.0f, -14)), 0x0400);         // smallest normal
    EXPECT_EQ(HalfFromFloat(std::ldexp(1.0f, -24)), 0x0001);         // smallest subnormal
    EXPECT_EQ(HalfFromFloat(std::ldexp(1.0f, -25)), 0x0000);         // tie to even: 0
    EXPECT_EQ(HalfFromFloat(std::ldexp(3.0f, -25)), 0x0002);         // tie to even: 2
    EXPECT_EQ(HalfFromFloat(1.0f + std::ldexp(1.0f, -11)), 0x3C00);  // tie to even: down
    EXPECT_EQ(HalfFromFloat(1.0f + std::ldexp(3.0f, -11)), 0x3C02);  // tie to even: up
    EXPECT_EQ(HalfFromFloat(1.0f / 4096.0f), 0x0C00);

    // The batch conversion (the processor's instructions where it has them)
    // gives the same bits as the plain one, over a spread of bit patterns.
    std::vector<float> values;
    for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65521) {
        const float f = FloatOfBits(uint32_t(bits));
        if (!std::isnan(f)) {
            values.push_back(f);
        }
    }
    std::vector<uint16_t> batch(values.size());
    VolumeKernels::FloatsToHalves(values.data(), batch.data(), values.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        mismatches += batch[i] != HalfFromFloat(values[i]);
    }
    EXPECT_EQ(mismatches, 0u) << (VolumeKernels::HasHardwareHalves() ? "with F16C" : "without F16C");
}

TEST(ParallelLoad, ClassificationEqualsEvaluatePerVoxel)
{
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    tf.AddSample(0, 200, 3000);
    // Densities of a loaded volume, and some above the 12-bit range.
    std::vector<uint16_t> densities = Grid(1024 * 1024 + 5, 4097);
    for (size_t i = 0; i < densities.size(); i += 4099) {
        densities[i] = uint16_t(4097 + i % 60000);
    }
    std::vector<uint32_t> out(densities.size(), 0xDEADBEEFu);
    tf.Classify(out.data(), densities.data(), densities.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < densities.size(); ++i) {
        mismatches += out[i] != tf.Evaluate(densities[i]).Packed();
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(ParallelLoad, PipelineHandsOnEverySlabInOrderOnTheCallingThread)
{
    for (uint32_t per : {1u, 5u, 37u, 100u}) {
        const uint32_t total = 37, width = 1000;
        std::vector<uint32_t> a(size_t(per) * width), b(size_t(per) * width);
        uint32_t* const buffers[2] = {a.data(), b.data()};
        const std::thread::id caller = std::this_thread::get_id();
        uint32_t expectedFirst = 0;
        bool ok = true;
        VolumeKernels::Pipeline(
            total, per, buffers,
            [width](uint32_t first, uint32_t n, uint32_t* out) {
                VolumeKernels::ParallelFor(uint64_t(n) * width, 64, [&](uint64_t begin, uint64_t end) {
                    for (uint64_t i = begin; i < end; ++i) {
                        out[i] = uint32_t(first * width + i);
                    }
                });
            },
            [&](uint32_t first, uint32_t n, const uint32_t* slab) {
                ok = ok && std::this_thread::get_id() == caller && first == expectedFirst &&
                     n == std::min(per, total - first);
                for (uint64_t i = 0; i < uint64_t(n) * width; ++i) {
                    ok = ok && slab[i] == first * width + i;
                }
                expectedFirst = first + n;
            });
        EXPECT_TRUE(ok) << per << " planes a slab";
        EXPECT_EQ(expectedFirst, total) << per << " planes a slab";
    }
}
