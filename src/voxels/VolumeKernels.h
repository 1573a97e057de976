#pragma once

// The voxel loops of loading and pre-classification, split over worker
// threads with oneTBB. Each gives exactly the result of a single-threaded
// pass: every output element is written by one task, and counts are made per
// chunk and then summed. None of them touches OpenGL or a window, so the
// window thread may run them while it keeps OpenGL to itself. No Qt and no
// OpenGL here: the ThreadSanitizer build compiles this file on its own.

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace VolumeKernels {

// Debian's oneTBB is not built with ThreadSanitizer, which therefore cannot
// see that a task starts after the code that spawned it and ends before the
// wait for it returns. Under ThreadSanitizer these mark those two orderings
// on a token of each parallel loop; elsewhere they are nothing.
#if defined(__SANITIZE_THREAD__)
}  // namespace VolumeKernels
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
namespace VolumeKernels {
inline void TaskStarts(void* token) { __tsan_acquire(token); }
inline void TaskEnds(void* token) { __tsan_release(token); }
#else
inline void TaskStarts(void*) {}
inline void TaskEnds(void*) {}
#endif

// counts[v] := number of entries of grid equal to v, for v = 0 to 65535.
void CountDensities(const uint16_t* grid, uint64_t count, uint32_t* counts);

// The largest of count samples.
uint16_t Maximum(const uint16_t* samples, uint64_t count);

// quotient[v] := float(v) / divisor for v = 0 to 65535, or 0 where divisor is 0.
void GradientQuotients(float divisor, float* quotient);

// The gradient vectors of planes z0 to z0 + planes - 1 of a padded
// grid of dimX x dimY x dimZ, three floats per voxel in grid order, from the
// quotient table of GradientQuotients. axisScale, where given, multiplies the
// central differences along x, y and z (the reciprocal of the voxel spacing,
// so that a gradient is taken per unit length); the faces keep unit vectors.
void GradientPlanes(const uint16_t* grid, const float* quotient, uint32_t dimX, uint32_t dimY, uint32_t dimZ,
                    uint32_t z0, uint32_t planes, float* out, const float* axisScale = nullptr);

// The texels of the gradient texture: per voxel four half floats (IEEE
// binary16, rounded to nearest even, as OpenGL drivers convert floats), the
// same vector and the density over 4096, so that one fetch gives the ray
// caster a sample's density and its gradient.
void GradientDensityHalves(const uint16_t* grid, const float* quotient, uint32_t dimX, uint32_t dimY, uint32_t dimZ,
                           uint32_t z0, uint32_t planes, uint16_t* out, const float* axisScale = nullptr);

// IEEE binary16 of a float, rounded to nearest even (plain C++).
uint16_t HalfFromFloat(float value);
// Many at once; with the processor's F16C instructions where it has them,
// which give the same bits as HalfFromFloat.
void FloatsToHalves(const float* in, uint16_t* out, size_t count);
bool HasHardwareHalves();

// Runs fn(begin, end) over chunks of about 'grain' items of [0, count) on the
// worker threads; returns when all are done.
template <typename Fn>
void ParallelFor(uint64_t count, uint64_t grain, Fn&& fn)
{
    char token = 0;
    TaskEnds(&token);
    tbb::parallel_for(tbb::blocked_range<uint64_t>(0, count, std::max<uint64_t>(grain, 1)),
                      [&fn, &token](const tbb::blocked_range<uint64_t>& range) {
                          TaskStarts(&token);
                          fn(range.begin(), range.end());
                          TaskEnds(&token);
                      });
    TaskStarts(&token);
}

// Works through 'total' items (planes) in slabs of at most 'per': compute(first,
// n, buffer) fills a buffer on the worker threads while take(first, n, buffer),
// on the calling thread, hands on the slab before; two buffers take turns.
// Slabs are taken in order, and each is complete before it is taken.
template <typename Buffer, typename Compute, typename Take>
void Pipeline(uint32_t total, uint32_t per, Buffer* const buffers[2], Compute&& compute, Take&& take)
{
    if (total == 0 || per == 0) {
        return;
    }
    compute(0u, std::min(per, total), buffers[0]);
    tbb::task_group group;
    char token = 0;
    uint32_t slab = 0;
    for (uint32_t first = 0; first < total; first += per, ++slab) {
        const uint32_t n = std::min(per, total - first);
        const uint32_t next = first + n;
        if (next < total) {
            Buffer* const target = buffers[(slab + 1) & 1];
            TaskEnds(&token);
            group.run([&compute, &token, next, total, per, target] {
                TaskStarts(&token);
                compute(next, std::min(per, total - next), target);
                TaskEnds(&token);
            });
        }
        take(first, n, buffers[slab & 1]);
        group.wait();
        TaskStarts(&token);
    }
}

}  // namespace VolumeKernels
