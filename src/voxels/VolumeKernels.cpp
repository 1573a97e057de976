#include "VolumeKernels.h"

#include <tbb/parallel_reduce.h>

#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VOLREN_X86 1
#endif

namespace VolumeKernels {

namespace {
// Four tables of counts, so that a run of equal densities (the air and the
// padding) does not wait on one counter; summed at the end.
struct Counts {
    const uint16_t* grid;
    char* token;
    std::vector<uint32_t> table;

    Counts(const uint16_t* grid, char* token) : grid(grid), token(token), table(4 * 65536, 0) {}
    Counts(Counts& other, tbb::split) : grid(other.grid), token(other.token), table(4 * 65536, 0) { TaskEnds(token); }

    void operator()(const tbb::blocked_range<uint64_t>& range)
    {
        TaskStarts(token);
        uint32_t* c0 = table.data();
        uint32_t* c1 = c0 + 65536;
        uint32_t* c2 = c1 + 65536;
        uint32_t* c3 = c2 + 65536;
        uint64_t i = range.begin();
        const uint64_t end = range.end();
        for (; i + 4 <= end; i += 4) {
            ++c0[grid[i]];
            ++c1[grid[i + 1]];
            ++c2[grid[i + 2]];
            ++c3[grid[i + 3]];
        }
        for (; i < end; ++i) {
            ++c0[grid[i]];
        }
        TaskEnds(token);
    }

    void join(const Counts& other)
    {
        TaskStarts(token);
        for (size_t v = 0; v < table.size(); ++v) {
            table[v] += other.table[v];
        }
        TaskEnds(token);
    }
};

// One row of gradient vectors (y, z), by the loader's face and interior rules, into g (three
// floats per voxel).
void GradientRow(const uint16_t* grid, const float* quotient, uint32_t dimX, uint32_t dimY, uint32_t dimZ, uint32_t y,
                 uint32_t z, float* g, const float* axisScale)
{
    const uint64_t strideY = dimX;
    const uint64_t strideZ = uint64_t(dimX) * dimY;
    const bool faceRow = y == 0 || y == dimY - 1 || z == 0 || z == dimZ - 1;
    if (faceRow) {
        // The y faces win over the z faces.
        const float gy = y == 0 ? -1.0f : (y == dimY - 1 ? 1.0f : 0.0f);
        const float gz = gy != 0.0f ? 0.0f : (z == 0 ? -1.0f : 1.0f);
        for (uint32_t x = 0; x < dimX; ++x) {
            g[3 * x] = 0.0f;
            g[3 * x + 1] = gy;
            g[3 * x + 2] = gz;
        }
    } else {
        const uint16_t* d = grid + z * strideZ + y * strideY;
        for (uint32_t x = 1; x + 1 < dimX; ++x) {
            g[3 * x] = quotient[d[x - 1]] - quotient[d[x + 1]];
            g[3 * x + 1] = quotient[d[x - strideY]] - quotient[d[x + strideY]];
            g[3 * x + 2] = quotient[d[x - strideZ]] - quotient[d[x + strideZ]];
        }
        if (axisScale) {
            for (uint32_t x = 1; x + 1 < dimX; ++x) {
                g[3 * x] *= axisScale[0];
                g[3 * x + 1] *= axisScale[1];
                g[3 * x + 2] *= axisScale[2];
            }
        }
    }
    // The x faces win over every other rule; x = 0 over x = last.
    g[3 * (dimX - 1)] = 1.0f;
    g[3 * (dimX - 1) + 1] = 0.0f;
    g[3 * (dimX - 1) + 2] = 0.0f;
    g[0] = -1.0f;
    g[1] = 0.0f;
    g[2] = 0.0f;
}

// Rows per task: about 64 Ki voxels.
uint64_t RowGrain(uint32_t dimX) { return std::max<uint64_t>(1, (uint64_t(1) << 16) / dimX); }

#if VOLREN_X86
__attribute__((target("avx,f16c"))) void HardwareHalves(const float* in, uint16_t* out, size_t count)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i h = _mm256_cvtps_ph(_mm256_loadu_ps(in + i), _MM_FROUND_TO_NEAREST_INT);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), h);
    }
    for (; i < count; ++i) {
        out[i] = HalfFromFloat(in[i]);
    }
}
#endif

bool DetectHardwareHalves()
{
#if VOLREN_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") && __builtin_cpu_supports("f16c");
#else
    return false;
#endif
}
}  // namespace

void CountDensities(const uint16_t* grid, uint64_t count, uint32_t* counts)
{
    char token = 0;
    Counts total(grid, &token);
    TaskEnds(&token);
    tbb::parallel_reduce(tbb::blocked_range<uint64_t>(0, count, uint64_t(1) << 20), total);
    TaskStarts(&token);
    for (uint32_t v = 0; v < 65536; ++v) {
        counts[v] = total.table[v] + total.table[65536 + v] + total.table[2 * 65536 + v] + total.table[3 * 65536 + v];
    }
}

uint16_t Maximum(const uint16_t* samples, uint64_t count)
{
    return tbb::parallel_reduce(
        tbb::blocked_range<uint64_t>(0, count, uint64_t(1) << 16), uint16_t(0),
        [samples](const tbb::blocked_range<uint64_t>& range, uint16_t largest) {
            for (uint64_t i = range.begin(); i < range.end(); ++i) {
                largest = std::max(largest, samples[i]);
            }
            return largest;
        },
        [](uint16_t a, uint16_t b) { return std::max(a, b); });
}

void GradientQuotients(float divisor, float* quotient)
{
    // An all-zero volume (divisor 0) gets zero quotients and so zero interior
    // gradients instead of 0 / 0.
    for (uint32_t v = 0; v < 65536; ++v) {
        quotient[v] = divisor != 0.0f ? float(v) / divisor : 0.0f;
    }
}

void GradientPlanes(const uint16_t* grid, const float* quotient, uint32_t dimX, uint32_t dimY, uint32_t dimZ,
                    uint32_t z0, uint32_t planes, float* out, const float* axisScale)
{
    ParallelFor(uint64_t(planes) * dimY, RowGrain(dimX), [&](uint64_t begin, uint64_t end) {
        for (uint64_t r = begin; r < end; ++r) {
            const uint32_t z = z0 + uint32_t(r / dimY), y = uint32_t(r % dimY);
            GradientRow(grid, quotient, dimX, dimY, dimZ, y, z, out + 3 * r * dimX, axisScale);
        }
    });
}

void GradientDensityHalves(const uint16_t* grid, const float* quotient, uint32_t dimX, uint32_t dimY, uint32_t dimZ,
                           uint32_t z0, uint32_t planes, uint16_t* out, const float* axisScale)
{
    ParallelFor(uint64_t(planes) * dimY, RowGrain(dimX), [&](uint64_t begin, uint64_t end) {
        std::vector<float> row(3 * size_t(dimX)), texels(4 * size_t(dimX));
        for (uint64_t r = begin; r < end; ++r) {
            const uint32_t z = z0 + uint32_t(r / dimY), y = uint32_t(r % dimY);
            GradientRow(grid, quotient, dimX, dimY, dimZ, y, z, row.data(), axisScale);
            const uint16_t* densities = grid + (uint64_t(z) * dimY + y) * dimX;
            for (uint32_t x = 0; x < dimX; ++x) {
                texels[4 * x] = row[3 * x];
                texels[4 * x + 1] = row[3 * x + 1];
                texels[4 * x + 2] = row[3 * x + 2];
                texels[4 * x + 3] = float(densities[x]) / 4096.0f;
            }
            FloatsToHalves(texels.data(), out + 4 * r * dimX, texels.size());
        }
    });
}

uint16_t HalfFromFloat(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const uint16_t sign = uint16_t((bits >> 16) & 0x8000u);
    const uint32_t magnitude = bits & 0x7FFFFFFFu;
    if (magnitude >= 0x7F800000u) {
        // Infinity, or a quiet NaN that keeps the top of its payload.
        return uint16_t(sign | 0x7C00u | (magnitude > 0x7F800000u ? 0x200u | ((magnitude >> 13) & 0x3FFu) : 0u));
    }
    if (magnitude >= 0x477FF000u) {
        // 65520 and above round to infinity.
        return uint16_t(sign | 0x7C00u);
    }
    if (magnitude < 0x38800000u) {
        // Below 2^-14: a subnormal half, or zero below 2^-25.
        if (magnitude < 0x33000000u) {
            return sign;
        }
        const uint32_t exponent = magnitude >> 23;
        const uint32_t mantissa = (magnitude & 0x7FFFFFu) | 0x800000u;
        const uint32_t shift = 126 - exponent;
        uint32_t half = mantissa >> shift;
        const uint32_t rest = mantissa & ((1u << shift) - 1);
        const uint32_t tie = 1u << (shift - 1);
        if (rest > tie || (rest == tie && (half & 1u))) {
            ++half;
        }
        return uint16_t(sign | half);
    }
    const uint32_t rebased = magnitude - (uint32_t(127 - 15) << 23);
    uint32_t half = rebased >> 13;
    const uint32_t rest = rebased & 0x1FFFu;
    if (rest > 0x1000u || (rest == 0x1000u && (half & 1u))) {
        ++half;
    }
    return uint16_t(sign | half);
}

bool HasHardwareHalves()
{
    static const bool has = DetectHardwareHalves();
    return has;
}

void FloatsToHalves(const float* in, uint16_t* out, size_t count)
{
#if VOLREN_X86
    if (HasHardwareHalves()) {
        HardwareHalves(in, out, count);
        return;
    }
#endif
    for (size_t i = 0; i < count; ++i) {
        out[i] = HalfFromFloat(in[i]);
    }
}

}  // namespace VolumeKernels
