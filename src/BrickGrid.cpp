#include "BrickGrid.h"

#include <algorithm>
#include <cmath>

namespace {
uint32_t Bricks(uint32_t dim) { return (dim + BrickGrid::brickSize - 1) / BrickGrid::brickSize; }

// The voxels whose values a sample inside brick b can reach: one more on each
// side; whether that reaches beyond the data, where the texture gives 0.
struct Reach {
    uint32_t first, last;
    bool beyond;
};

Reach ReachOf(uint32_t brick, uint32_t dim)
{
    const int64_t first = int64_t(brick) * BrickGrid::brickSize - 1;
    const int64_t last = int64_t(brick + 1) * BrickGrid::brickSize;
    return {uint32_t(std::max<int64_t>(first, 0)), uint32_t(std::min<int64_t>(last, dim - 1)),
            first < 0 || last > int64_t(dim) - 1};
}
}  // namespace

void BrickGrid::Build(const uint16_t* densities, uint32_t texDimX, uint32_t texDimY, uint32_t dimX, uint32_t dimY,
                      uint32_t dimZ)
{
    bricksX = Bricks(dimX);
    bricksY = Bricks(dimY);
    bricksZ = Bricks(dimZ);
    const size_t count = size_t(bricksX) * bricksY * bricksZ;
    lowest.assign(count, 0);
    highest.assign(count, 0);

    const size_t row = texDimX, plane = size_t(texDimX) * texDimY;
    for (uint32_t bz = 0; bz < bricksZ; ++bz) {
        const Reach rz = ReachOf(bz, dimZ);
        for (uint32_t by = 0; by < bricksY; ++by) {
            const Reach ry = ReachOf(by, dimY);
            for (uint32_t bx = 0; bx < bricksX; ++bx) {
                const Reach rx = ReachOf(bx, dimX);
                uint16_t lo = 0xFFFF, hi = 0;
                for (uint32_t z = rz.first; z <= rz.last; ++z) {
                    for (uint32_t y = ry.first; y <= ry.last; ++y) {
                        const uint16_t* d = densities + z * plane + y * row;
                        for (uint32_t x = rx.first; x <= rx.last; ++x) {
                            lo = std::min(lo, d[x]);
                            hi = std::max(hi, d[x]);
                        }
                    }
                }
                if (rx.beyond || ry.beyond || rz.beyond) {
                    lo = 0;
                }
                lowest[Index(bx, by, bz)] = lo;
                highest[Index(bx, by, bz)] = hi;
            }
        }
    }
}

void BrickGrid::Clear()
{
    bricksX = bricksY = bricksZ = 0;
    lowest.clear();
    highest.clear();
}

std::vector<uint8_t> BrickGrid::Occupancy(const uint8_t* lookupAlpha, float window) const
{
    // visibleBefore[k]: how many of texels 0 .. k - 1 are not transparent.
    std::vector<uint32_t> visibleBefore(lookupTexels + 1, 0);
    for (uint32_t k = 0; k < lookupTexels; ++k) {
        visibleBefore[k + 1] = visibleBefore[k] + (lookupAlpha[k] != 0);
    }
    // A density d is looked up at texel coordinate (d + 0.5) / 2, between
    // texels floor((d + 0.5) / 2 - 0.5) and the next. Filtered densities may
    // round by a fraction of a level either way: one level of margin.
    auto texelBelow = [](double d) {
        return int64_t(std::clamp(std::floor((d + 0.5) / 2.0 - 0.5), 0.0, double(lookupTexels - 1)));
    };
    const double highestShown = double(window);

    std::vector<uint8_t> occupied(lowest.size(), 0);
    for (size_t i = 0; i < lowest.size(); ++i) {
        const double lo = double(lowest[i]) - 1.0;
        const double hi = std::min(double(highest[i]) + 1.0, highestShown);
        if (lo > hi) {
            continue;
        }
        const int64_t first = texelBelow(lo);
        const int64_t last = std::min<int64_t>(texelBelow(hi) + 1, lookupTexels - 1);
        occupied[i] = visibleBefore[last + 1] > visibleBefore[first] ? 255 : 0;
    }
    return occupied;
}
