// The ray caster's bricks on the CPU: the density range of every brick, the
// occupancy that the transfer function and the density window make of it, and
// each empty brick's distance to an occupied one. No OpenGL here: the
// ThreadSanitizer build runs these too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BrickGrid.h"

namespace {
// A padded grid of the given data sizes, every sample from the field.
struct Grid {
    Grid(uint32_t x, uint32_t y, uint32_t z) : dimX(x), dimY(y), dimZ(z)
    {
        texX = NextPower(x), texY = NextPower(y), texZ = NextPower(z);
        samples.assign(size_t(texX) * texY * texZ, 0);
    }
    static uint32_t NextPower(uint32_t n)
    {
        uint32_t p = 1;
        while (p < n) {
            p *= 2;
        }
        return p;
    }
    uint16_t& At(uint32_t x, uint32_t y, uint32_t z) { return samples[x + size_t(texX) * (y + size_t(texY) * z)]; }
    BrickGrid Bricks(uint32_t side)
    {
        BrickGrid bricks;
        bricks.Build(samples.data(), texX, texY, dimX, dimY, dimZ, side);
        return bricks;
    }

    uint32_t dimX, dimY, dimZ, texX, texY, texZ;
    std::vector<uint16_t> samples;
};

// Lookup opacities that show densities from first to last only.
std::vector<uint8_t> Showing(uint32_t first, uint32_t last)
{
    std::vector<uint8_t> alpha(BrickGrid::lookupTexels, 0);
    for (uint32_t k = first / 2; k <= last / 2; ++k) {
        alpha[k] = 200;
    }
    return alpha;
}

const uint32_t sides[] = {1, 2, 4};

bool Occupied(const BrickGrid& bricks, const std::vector<uint8_t>& occupancy, uint32_t x, uint32_t y, uint32_t z)
{
    return occupancy[x + size_t(bricks.BricksX()) * (y + size_t(bricks.BricksY()) * z)] != 0;
}
}  // namespace

// Each brick's range is that of the voxels that trilinear samples inside it
// filter, no wider: sampled at positions across the brick, up to a hair from
// its faces, with density 0 beyond the volume's faces.
TEST(BrickGrid, RangesAreThoseOfTheVoxelsThatSamplesInsideFilter)
{
    Grid grid(37, 21, 11);
    std::mt19937 random(7);
    for (uint32_t z = 0; z < grid.dimZ; ++z) {
        for (uint32_t y = 0; y < grid.dimY; ++y) {
            for (uint32_t x = 0; x < grid.dimX; ++x) {
                grid.At(x, y, z) = uint16_t(100 + random() % 3000);
            }
        }
    }
    for (uint32_t side : sides) {
        SCOPED_TRACE(side);
        const BrickGrid bricks = grid.Bricks(side);
        const double b = side;
        // The box, positions 0 to dim, lies within the bricks.
        EXPECT_EQ(bricks.BricksX(), uint32_t((37 + bricks.Offset()) / b) + 1);
        EXPECT_EQ(bricks.BricksY(), uint32_t((21 + bricks.Offset()) / b) + 1);
        EXPECT_EQ(bricks.BricksZ(), uint32_t((11 + bricks.Offset()) / b) + 1);
        // The two voxels a sample at position u filters along one axis.
        auto footprint = [](double u) { return int(std::floor(u - 0.5)); };
        auto value = [&](int x, int y, int z) -> uint16_t {
            const bool inside = x >= 0 && y >= 0 && z >= 0 && x < 37 && y < 21 && z < 11;
            return inside ? grid.At(uint32_t(x), uint32_t(y), uint32_t(z)) : 0;
        };
        std::vector<double> across;
        for (int i = 0; i < 8; ++i) {
            across.push_back(0.001 + i * (b - 0.002) / 7);
        }
        for (uint32_t bz = 0; bz < bricks.BricksZ(); ++bz) {
            for (uint32_t by = 0; by < bricks.BricksY(); ++by) {
                for (uint32_t bx = 0; bx < bricks.BricksX(); ++bx) {
                    uint16_t lo = 0xFFFF, hi = 0;
                    for (double sz : across) {
                        for (double sy : across) {
                            for (double sx : across) {
                                const int x = footprint(bx * b - bricks.Offset() + sx);
                                const int y = footprint(by * b - bricks.Offset() + sy);
                                const int z = footprint(bz * b - bricks.Offset() + sz);
                                for (int corner = 0; corner < 8; ++corner) {
                                    const uint16_t v =
                                        value(x + (corner & 1), y + (corner >> 1 & 1), z + (corner >> 2));
                                    lo = std::min(lo, v);
                                    hi = std::max(hi, v);
                                }
                            }
                        }
                    }
                    EXPECT_EQ(bricks.Min(bx, by, bz), lo) << bx << "," << by << "," << bz;
                    EXPECT_EQ(bricks.Max(bx, by, bz), hi) << bx << "," << by << "," << bz;
                }
            }
        }
    }
}

TEST(BrickGrid, OnlyBricksThatCanShowSomethingAreOccupied)
{
    for (uint32_t b : sides) {
        SCOPED_TRACE(b);
        const uint32_t n = 6;
        Grid grid(n * b, n * b, n * b);
        for (uint32_t z = 0; z < n * b; ++z) {
            for (uint32_t y = 0; y < n * b; ++y) {
                for (uint32_t x = 0; x < n * b; ++x) {
                    grid.At(x, y, z) = 500;
                }
            }
        }
        // One visible voxel, 2b along each axis. Its centre lies at the lower
        // face of brick 3 along x: brick 2 before it filters it too, brick 4
        // after it does not; along y and z it lies inside brick 3, except for
        // bricks of one voxel, whose faces pass through every voxel's centre.
        grid.At(2 * b, 2 * b + b / 2, 2 * b + b / 2) = 1100;
        const BrickGrid bricks = grid.Bricks(b);
        const std::vector<uint8_t> shown = Showing(1000, 1200);

        const std::vector<uint8_t> all = bricks.Occupancy(shown.data(), 4096.5f);
        EXPECT_EQ(std::count(all.begin(), all.end(), 255), b == 1 ? 8 : 2);
        EXPECT_TRUE(Occupied(bricks, all, 2, 3, 3));
        EXPECT_TRUE(Occupied(bricks, all, 3, 3, 3));
        EXPECT_FALSE(Occupied(bricks, all, 4, 3, 3));

        // A density window below the voxel hides it; one just above keeps it.
        const std::vector<uint8_t> below = bricks.Occupancy(shown.data(), 990.5f);
        EXPECT_EQ(std::count(below.begin(), below.end(), 0), long(below.size()));
        const std::vector<uint8_t> above = bricks.Occupancy(shown.data(), 1100.5f);
        EXPECT_TRUE(Occupied(bricks, above, 3, 3, 3));

        // Densities just outside the shown range reach a visible texel through
        // the lookup's linear filter: 998 lies between texels 498 and 499.
        EXPECT_TRUE(Occupied(bricks, bricks.Occupancy(Showing(1000, 1000).data(), 4096.5f), 3, 3, 3));
        EXPECT_FALSE(Occupied(bricks, bricks.Occupancy(Showing(1110, 1200).data(), 4096.5f), 3, 3, 3));
        // A sample's position and its texture coordinate round apart, which
        // may move its density by a few levels: 1104 still counts for a brick
        // up to 1100.
        EXPECT_TRUE(Occupied(bricks, bricks.Occupancy(Showing(1104, 1200).data(), 4096.5f), 3, 3, 3));

        // Where density 0 shows, the bricks at the faces show the texture's
        // border; the inner ones, all 500 and 1100, stay empty. The n * b
        // voxels a side take n + 1 bricks.
        ASSERT_EQ(bricks.BricksX(), n + 1);
        const std::vector<uint8_t> zero = bricks.Occupancy(Showing(0, 10).data(), 4096.5f);
        EXPECT_EQ(std::count(zero.begin(), zero.end(), 255),
                  long((n + 1) * (n + 1) * (n + 1) - (n - 1) * (n - 1) * (n - 1)));
        EXPECT_FALSE(Occupied(bricks, zero, 3, 3, 3));
    }
}

// Small volumes get bricks of one voxel, larger ones bricks of 4, decided by
// the count of the finest bricks; the grid built layer by layer, from slabs
// of planes as a volume streamed from its file arrives, equals the one built
// from the whole grid.
TEST(BrickGrid, SideFollowsTheVolumeAndLayersBuildTheSameGrid)
{
    EXPECT_EQ(BrickGrid::SideFor(64, 64, 93), 1u);
    EXPECT_EQ(BrickGrid::SideFor(160, 160, 160), 1u);
    EXPECT_EQ(BrickGrid::SideFor(208, 244, 256), 4u);
    EXPECT_EQ(BrickGrid::SideFor(4096, 2, 2), 1u);
    EXPECT_EQ(BrickGrid::SideFor(512, 512, 256), 4u);
    EXPECT_EQ(BrickGrid::BricksFor(161, 1), 162u);
    EXPECT_EQ(BrickGrid::BricksFor(161, 4), 42u);

    Grid grid(29, 17, 23);
    std::mt19937 random(11);
    for (uint32_t z = 0; z < grid.dimZ; ++z) {
        for (uint32_t y = 0; y < grid.dimY; ++y) {
            for (uint32_t x = 0; x < grid.dimX; ++x) {
                grid.At(x, y, z) = uint16_t(random() % 4096);
            }
        }
    }
    const size_t plane = size_t(grid.texX) * grid.texY;
    for (uint32_t side : sides) {
        for (uint32_t per : {4u, 8u, 12u}) {
            SCOPED_TRACE(std::to_string(side) + " a side, slabs of " + std::to_string(per));
            const BrickGrid whole = grid.Bricks(side);
            BrickGrid layered;
            layered.Start(grid.dimX, grid.dimY, grid.dimZ, side);
            // As the loader does: each slab holds its planes and the next one.
            uint32_t layer = 0;
            for (uint32_t z0 = 0; z0 < grid.dimZ; z0 += per) {
                const uint32_t n = std::min(per, grid.dimZ - z0);
                std::vector<uint16_t> slab(grid.samples.begin() + ptrdiff_t(z0 * plane),
                                           grid.samples.begin() + ptrdiff_t(std::min(z0 + n + 1, grid.texZ) * plane));
                uint32_t end = layer;
                while (end < layered.BricksZ() && layered.LastPlane(end) <= z0 + n) {
                    ++end;
                }
                ASSERT_GE(layered.FirstPlane(layer), z0);
                layered.BuildLayers(slab.data(), z0, grid.texX, grid.texY, layer, end);
                layer = end;
            }
            ASSERT_EQ(layer, whole.BricksZ());
            int mismatches = 0;
            for (uint32_t bz = 0; bz < whole.BricksZ(); ++bz) {
                for (uint32_t by = 0; by < whole.BricksY(); ++by) {
                    for (uint32_t bx = 0; bx < whole.BricksX(); ++bx) {
                        mismatches += layered.Min(bx, by, bz) != whole.Min(bx, by, bz) ||
                                      layered.Max(bx, by, bz) != whole.Max(bx, by, bz);
                    }
                }
            }
            EXPECT_EQ(mismatches, 0);
        }
    }
}

// Each brick's distance to the nearest occupied brick, counted along the axis
// that needs most, equals a brute-force search, and stops at the farthest
// distance the texture keeps; occupied bricks are 0.
TEST(BrickGrid, EmptyDistanceIsTheLargestAxisDistanceToAnOccupiedBrick)
{
    const uint32_t b = 4;
    Grid grid(45 * b, 13 * b, 9 * b - 2);
    const BrickGrid bricks = grid.Bricks(b);
    const uint32_t nx = bricks.BricksX(), ny = bricks.BricksY(), nz = bricks.BricksZ();
    std::mt19937 random(7);
    for (int occupiedBricks : {0, 1, 5, 60}) {
        std::vector<uint8_t> occupancy(size_t(nx) * ny * nz, 0);
        std::vector<uint32_t> xs, ys, zs;
        // The first one near an end, so that the far end lies beyond the
        // farthest distance kept.
        for (int i = 0; i < occupiedBricks; ++i) {
            const uint32_t x = i == 0 ? 2 : random() % nx, y = random() % ny, z = random() % nz;
            occupancy[x + size_t(nx) * (y + size_t(ny) * z)] = 255;
            xs.push_back(x), ys.push_back(y), zs.push_back(z);
        }
        const std::vector<uint8_t> distance = bricks.EmptyDistance(occupancy);
        ASSERT_EQ(distance.size(), occupancy.size());
        int mismatches = 0;
        for (uint32_t z = 0; z < nz; ++z) {
            for (uint32_t y = 0; y < ny; ++y) {
                for (uint32_t x = 0; x < nx; ++x) {
                    int expected = BrickGrid::farthest;
                    for (size_t i = 0; i < xs.size(); ++i) {
                        const int d = std::max({std::abs(int(x) - int(xs[i])), std::abs(int(y) - int(ys[i])),
                                                std::abs(int(z) - int(zs[i]))});
                        expected = std::min(expected, d);
                    }
                    const int found = distance[x + size_t(nx) * (y + size_t(ny) * z)];
                    mismatches += found != expected;
                    if (found != expected && mismatches < 5) {
                        ADD_FAILURE() << occupiedBricks << " occupied, brick " << x << "," << y << "," << z << ": "
                                      << found << " instead of " << expected;
                    }
                }
            }
        }
        EXPECT_EQ(mismatches, 0) << occupiedBricks << " occupied";
    }
}
