#include "BrickGrid.h"

#include <algorithm>
#include <cmath>

#include "VolumeKernels.h"

namespace {
// The voxels whose values a sample inside brick b filters: b * side - side to
// b * side; whether that reaches beyond the data, where the texture gives 0.
struct Reach {
    uint32_t first, last;
    bool beyond;
};

Reach ReachOf(uint32_t brick, uint32_t side, uint32_t dim)
{
    const int64_t last = int64_t(brick) * side;
    const int64_t first = last - side;
    return {uint32_t(std::max<int64_t>(first, 0)), uint32_t(std::min<int64_t>(last, dim - 1)),
            first < 0 || last > int64_t(dim) - 1};
}
}  // namespace

uint32_t BrickGrid::SideFor(uint32_t dimX, uint32_t dimY, uint32_t dimZ)
{
    return BricksFor(dimX, dimY, dimZ, 1) <= finestBricks ? 1 : coarseSide;
}

void BrickGrid::Build(const uint16_t* densities, uint32_t texDimX, uint32_t texDimY, uint32_t dimX, uint32_t dimY,
                      uint32_t dimZ, uint32_t brickSide)
{
    Start(dimX, dimY, dimZ, brickSide);
    BuildLayers(densities, 0, texDimX, texDimY, 0, bricksZ);
}

void BrickGrid::Start(uint32_t x, uint32_t y, uint32_t z, uint32_t brickSide)
{
    dimX = x;
    dimY = y;
    dimZ = z;
    side = brickSide != 0 ? brickSide : SideFor(x, y, z);
    bricksX = BricksFor(dimX, side);
    bricksY = BricksFor(dimY, side);
    bricksZ = BricksFor(dimZ, side);
    const size_t count = size_t(bricksX) * bricksY * bricksZ;
    lowest.assign(count, 0);
    highest.assign(count, 0);
}

uint32_t BrickGrid::FirstPlane(uint32_t layer) const { return layer == 0 ? 0 : (layer - 1) * side; }

uint32_t BrickGrid::LastPlane(uint32_t layer) const { return ReachOf(layer, side, dimZ).last; }

void BrickGrid::BuildLayers(const uint16_t* planes, uint32_t firstPlane, uint32_t texDimX, uint32_t texDimY,
                            uint32_t firstLayer, uint32_t endLayer)
{
    std::vector<Reach> reachX(bricksX), reachY(bricksY);
    for (uint32_t b = 0; b < bricksX; ++b) {
        reachX[b] = ReachOf(b, side, dimX);
    }
    for (uint32_t b = 0; b < bricksY; ++b) {
        reachY[b] = ReachOf(b, side, dimY);
    }
    const size_t row = texDimX, plane = size_t(texDimX) * texDimY;
    // Each layer of bricks on its own: first the range of every row's stretch
    // of each brick over the layer's planes, then of the rows of each brick.
    VolumeKernels::ParallelFor(endLayer - firstLayer, 1, [&](uint64_t begin, uint64_t end) {
        std::vector<uint16_t> rowLo(size_t(dimY) * bricksX), rowHi(size_t(dimY) * bricksX);
        for (uint32_t bz = firstLayer + uint32_t(begin); bz != firstLayer + uint32_t(end); ++bz) {
            std::fill(rowLo.begin(), rowLo.end(), uint16_t(0xFFFF));
            std::fill(rowHi.begin(), rowHi.end(), uint16_t(0));
            const Reach rz = ReachOf(bz, side, dimZ);
            for (uint32_t z = rz.first; z <= rz.last; ++z) {
                for (uint32_t y = 0; y < dimY; ++y) {
                    const uint16_t* d = planes + (z - firstPlane) * plane + y * row;
                    uint16_t* lo = &rowLo[size_t(y) * bricksX];
                    uint16_t* hi = &rowHi[size_t(y) * bricksX];
                    for (uint32_t bx = 0; bx < bricksX; ++bx) {
                        uint16_t l = lo[bx], h = hi[bx];
                        for (uint32_t x = reachX[bx].first; x <= reachX[bx].last; ++x) {
                            l = std::min(l, d[x]);
                            h = std::max(h, d[x]);
                        }
                        lo[bx] = l;
                        hi[bx] = h;
                    }
                }
            }
            for (uint32_t by = 0; by < bricksY; ++by) {
                for (uint32_t bx = 0; bx < bricksX; ++bx) {
                    uint16_t l = 0xFFFF, h = 0;
                    for (uint32_t y = reachY[by].first; y <= reachY[by].last; ++y) {
                        l = std::min(l, rowLo[size_t(y) * bricksX + bx]);
                        h = std::max(h, rowHi[size_t(y) * bricksX + bx]);
                    }
                    if (reachX[bx].beyond || reachY[by].beyond || rz.beyond) {
                        l = 0;
                    }
                    lowest[Index(bx, by, bz)] = l;
                    highest[Index(bx, by, bz)] = h;
                }
            }
        }
    });
}

void BrickGrid::Clear()
{
    dimX = dimY = dimZ = 0;
    bricksX = bricksY = bricksZ = 0;
    side = coarseSide;
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
    // texels floor((d + 0.5) / 2 - 0.5) and the next. The margin: the shader
    // finds a sample's brick from its own position, which rounds apart from
    // the texture coordinate by some 1e-4 voxels in volumes of a few thousand
    // voxels a side. A sample placed in a brick may so filter a voxel beyond
    // the brick's range with such a weight, and its density may move by 4096
    // times that weight: four levels cover a thousandth of a voxel.
    const double roundingMargin = 4.0;
    auto texelBelow = [](double d) {
        return int64_t(std::clamp(std::floor((d + 0.5) / 2.0 - 0.5), 0.0, double(lookupTexels - 1)));
    };
    const double highestShown = double(window);

    std::vector<uint8_t> occupied(lowest.size(), 0);
    VolumeKernels::ParallelFor(lowest.size(), 4096, [&](uint64_t begin, uint64_t end) {
        for (size_t i = begin; i != end; ++i) {
            const double lo = double(lowest[i]) - roundingMargin;
            const double hi = std::min(double(highest[i]) + roundingMargin, highestShown);
            if (lo > hi) {
                continue;
            }
            const int64_t first = texelBelow(lo);
            const int64_t last = std::min<int64_t>(texelBelow(hi) + 1, lookupTexels - 1);
            occupied[i] = visibleBefore[last + 1] > visibleBefore[first] ? 255 : 0;
        }
    });
    return occupied;
}

std::vector<uint8_t> BrickGrid::EmptyDistance(const std::vector<uint8_t>& occupancy) const
{
    std::vector<uint8_t> distance(occupancy.size());
    const size_t rows = size_t(bricksY) * bricksZ;
    // Along x: the distance to the nearest occupied brick of the row, in a
    // sweep each way.
    VolumeKernels::ParallelFor(rows, 64, [&](uint64_t begin, uint64_t end) {
        for (size_t row = begin; row != end; ++row) {
            const uint8_t* in = occupancy.data() + row * bricksX;
            uint8_t* out = distance.data() + row * bricksX;
            uint8_t d = farthest;
            for (uint32_t x = 0; x < bricksX; ++x) {
                d = in[x] != 0 ? 0 : uint8_t(std::min<int>(d + 1, farthest));
                out[x] = d;
            }
            d = farthest;
            for (uint32_t x = bricksX; x-- > 0;) {
                d = in[x] != 0 ? 0 : uint8_t(std::min<int>(d + 1, farthest));
                out[x] = std::min(out[x], d);
            }
        }
    });
    // Along y, then z: a brick o steps away along the axis whose own distance
    // is e is max(o, e) away. The search stops once o alone is no closer than
    // the best so far, so it costs about the distance it finds.
    auto pass = [&](uint32_t length, size_t stride, size_t lines, auto lineStart) {
        VolumeKernels::ParallelFor(lines, 64, [&](uint64_t begin, uint64_t end) {
            std::vector<uint8_t> in(length);
            for (size_t line = begin; line != end; ++line) {
                uint8_t* values = distance.data() + lineStart(line);
                for (uint32_t i = 0; i < length; ++i) {
                    in[i] = values[i * stride];
                }
                for (uint32_t i = 0; i < length; ++i) {
                    int best = in[i];
                    for (int o = 1; o < best; ++o) {
                        const int below = i >= uint32_t(o) ? in[i - o] : farthest;
                        const int above = i + o < length ? in[i + o] : farthest;
                        best = std::min(best, std::max(o, std::min(below, above)));
                    }
                    values[i * stride] = uint8_t(best);
                }
            }
        });
    };
    pass(bricksY, bricksX, size_t(bricksX) * bricksZ,
         [&](size_t line) { return line % bricksX + (line / bricksX) * size_t(bricksX) * bricksY; });
    pass(bricksZ, size_t(bricksX) * bricksY, size_t(bricksX) * bricksY, [](size_t line) { return line; });
    return distance;
}
