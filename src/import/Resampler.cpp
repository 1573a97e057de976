#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
struct Tap {
    size_t index;
    float weight;
};

// For each output sample along an axis of n input samples, the input samples
// it draws on. Sample i covers [i, i + 1) of the axis, so both grids share
// their outer edges.
std::vector<std::vector<Tap>> Taps(size_t n, size_t m)
{
    const double step = double(n) / double(m);
    const double radius = std::max(1.0, step);
    std::vector<std::vector<Tap>> taps(m);
    for (size_t p = 0; p < m; ++p) {
        const double centre = (double(p) + 0.5) * step - 0.5;
        const long first = std::max(0L, long(std::ceil(centre - radius)));
        const long last = std::min(long(n) - 1, long(std::floor(centre + radius)));
        double total = 0.0;
        for (long i = first; i <= last; ++i) {
            const double weight = 1.0 - std::abs(double(i) - centre) / radius;
            if (weight > 0.0) {
                taps[p].push_back({size_t(i), float(weight)});
                total += weight;
            }
        }
        if (taps[p].empty()) {
            taps[p].push_back({size_t(std::clamp(std::lround(centre), 0L, long(n) - 1)), 1.0f});
            total = 1.0;
        }
        for (Tap& tap : taps[p]) {
            tap.weight = float(tap.weight / total);
        }
    }
    return taps;
}

// One pass along one axis; the other two keep their sizes.
ScalarVolume ResampleAxis(const ScalarVolume& in, int axis, size_t m)
{
    ScalarVolume out;
    out.size = in.size;
    out.size[axis] = m;
    out.spacing = in.spacing;
    out.spacing[axis] = in.spacing[axis] * double(in.size[axis]) / double(m);
    // An empty grid has nothing to resample (and no taps to weigh).
    if (in.Count() == 0 || m == 0) {
        return out;
    }
    out.samples.resize(out.Count());
    const auto taps = Taps(in.size[axis], m);
    const size_t inStride[3] = {1, in.size[0], in.size[0] * in.size[1]};
    const size_t outStride[3] = {1, out.size[0], out.size[0] * out.size[1]};
    const long slices = long(out.size[2]);
#pragma omp parallel for
    for (long z = 0; z < slices; ++z) {
        for (size_t y = 0; y < out.size[1]; ++y) {
            for (size_t x = 0; x < out.size[0]; ++x) {
                const size_t position[3] = {x, y, size_t(z)};
                size_t base = 0;
                for (int d = 0; d < 3; ++d) {
                    base += d == axis ? 0 : position[d] * inStride[d];
                }
                float sum = 0.0f;
                for (const Tap& tap : taps[position[axis]]) {
                    sum += tap.weight * in.samples[base + tap.index * inStride[axis]];
                }
                out.samples[x + y * outStride[1] + size_t(z) * outStride[2]] = sum;
            }
        }
    }
    return out;
}
}  // namespace

ScalarVolume Resample(ScalarVolume volume, const std::array<size_t, 3>& size)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (volume.size[axis] != size[axis]) {
            volume = ResampleAxis(volume, axis, size[axis]);
        }
    }
    return volume;
}
