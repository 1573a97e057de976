// Empty-space leaping of the ray caster: the density range of every brick, the
// occupancy that the transfer function and the density window make of it, and
// pictures that stay the same with leaps and without.
#include <GL/glew.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "BrickGrid.h"
#include "StartupTransferFunction.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "Volume.h"

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
    BrickGrid Bricks()
    {
        BrickGrid bricks;
        bricks.Build(samples.data(), texX, texY, dimX, dimY, dimZ);
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
    const BrickGrid bricks = grid.Bricks();
    const double b = BrickGrid::brickSize;
    // The box, positions 0 to dim, lies within the bricks.
    EXPECT_EQ(bricks.BricksX(), uint32_t((37 + BrickGrid::offset) / b) + 1);
    EXPECT_EQ(bricks.BricksY(), uint32_t((21 + BrickGrid::offset) / b) + 1);
    EXPECT_EQ(bricks.BricksZ(), uint32_t((11 + BrickGrid::offset) / b) + 1);
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
                            const int x = footprint(bx * b - BrickGrid::offset + sx);
                            const int y = footprint(by * b - BrickGrid::offset + sy);
                            const int z = footprint(bz * b - BrickGrid::offset + sz);
                            for (int corner = 0; corner < 8; ++corner) {
                                const uint16_t v = value(x + (corner & 1), y + (corner >> 1 & 1), z + (corner >> 2));
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

TEST(BrickGrid, OnlyBricksThatCanShowSomethingAreOccupied)
{
    const uint32_t b = BrickGrid::brickSize, n = 6;
    Grid grid(n * b, n * b, n * b);
    for (uint32_t z = 0; z < n * b; ++z) {
        for (uint32_t y = 0; y < n * b; ++y) {
            for (uint32_t x = 0; x < n * b; ++x) {
                grid.At(x, y, z) = 500;
            }
        }
    }
    // One visible voxel, 2b along each axis. Its centre lies at the lower face
    // of brick 3 along x: brick 2 before it filters it too, brick 4 after it
    // does not; along y and z it lies inside brick 3.
    grid.At(2 * b, 2 * b + b / 2, 2 * b + b / 2) = 1100;
    const BrickGrid bricks = grid.Bricks();
    const std::vector<uint8_t> shown = Showing(1000, 1200);

    const std::vector<uint8_t> all = bricks.Occupancy(shown.data(), 4096.5f);
    EXPECT_EQ(std::count(all.begin(), all.end(), 255), 2);
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
    // A sample's position and its texture coordinate round apart, which may
    // move its density by a few levels: 1104 still counts for a brick up to
    // 1100.
    EXPECT_TRUE(Occupied(bricks, bricks.Occupancy(Showing(1104, 1200).data(), 4096.5f), 3, 3, 3));

    // Where density 0 shows, the bricks at the faces show the texture's
    // border; the inner ones, all 500 and 1100, stay empty. The n * b voxels
    // a side take n + 1 bricks.
    ASSERT_EQ(bricks.BricksX(), n + 1);
    const std::vector<uint8_t> zero = bricks.Occupancy(Showing(0, 10).data(), 4096.5f);
    EXPECT_EQ(std::count(zero.begin(), zero.end(), 255),
              long((n + 1) * (n + 1) * (n + 1) - (n - 1) * (n - 1) * (n - 1)));
    EXPECT_FALSE(Occupied(bricks, zero, 3, 3, 3));
}

// Each brick's distance to the nearest occupied brick, counted along the axis
// that needs most, equals a brute-force search, and stops at the farthest
// distance the texture keeps; occupied bricks are 0.
TEST(BrickGrid, EmptyDistanceIsTheLargestAxisDistanceToAnOccupiedBrick)
{
    const uint32_t b = BrickGrid::brickSize;
    Grid grid(45 * b, 13 * b, 9 * b - 2);
    const BrickGrid bricks = grid.Bricks();
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

namespace {
struct Scene {
    explicit Scene(const std::string& volume, void (*transfer)(TransferFunction&) = FillStartupTransferFunction)
        : basePath(ProgramFolder()), renderer(&window.display, basePath.c_str(), &transferFunction)
    {
        transfer(transferFunction);
        renderer.Load(volume.c_str());
    }

    std::vector<uint8_t> Frame(float cameraZ = -3.0f)
    {
        window.display.Clear();
        glTranslatef(0.0f, 0.0f, cameraZ);
        glRotatef(20.0f, 1.0f, 0.5f, 0.0f);
        renderer.Render();
        std::vector<uint8_t> rgba(size_t(window.display.width) * window.display.height * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, window.display.width, window.display.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }

    // Largest channel difference between the pictures with leaps and without.
    int LeapDifference(float cameraZ = -3.0f)
    {
        renderer.SetAdaptiveStepSize(1.0f);
        const std::vector<uint8_t> leaping = Frame(cameraZ);
        renderer.SetAdaptiveStepSize(0.0f);
        const std::vector<uint8_t> marching = Frame(cameraZ);
        int largest = 0;
        size_t lit = 0;
        for (size_t i = 0; i < leaping.size(); ++i) {
            largest = std::max(largest, std::abs(int(leaping[i]) - int(marching[i])));
            lit += i % 4 != 3 && marching[i] > 20;
        }
        EXPECT_GT(lit, 500u) << "nothing to compare";
        return largest;
    }

    GLWindow window;
    std::string basePath;
    TransferFunction transferFunction;
    VolumeRenderer renderer;
};

void ShowDensitiesFrom1000(TransferFunction& tf)
{
    tf.Clear();
    for (int channel = 0; channel < 3; ++channel) {
        tf.AddSample(channel, 255, 0);
        tf.AddSample(channel, 120, 4095);
    }
    tf.AddSample(3, 0, 0);
    tf.AddSample(3, 0, 999);
    tf.AddSample(3, 120, 1000);
    tf.AddSample(3, 255, 4095);
}
// Faint densities red, dense ones blue; anything from density 40 opaque.
void FaintRedDenseBlue(TransferFunction& tf)
{
    tf.Clear();
    tf.AddSample(0, 255, 0);
    tf.AddSample(0, 255, 999);
    tf.AddSample(0, 0, 1000);
    tf.AddSample(0, 0, 4095);
    tf.AddSample(1, 0, 0);
    tf.AddSample(1, 0, 4095);
    tf.AddSample(2, 0, 0);
    tf.AddSample(2, 0, 999);
    tf.AddSample(2, 255, 1000);
    tf.AddSample(2, 255, 4095);
    tf.AddSample(3, 0, 0);
    tf.AddSample(3, 0, 39);
    tf.AddSample(3, 255, 40);
    tf.AddSample(3, 255, 4095);
}
}  // namespace

// Leaps over empty bricks visit the same samples as the march without them,
// so thin rods, material in one corner, a new transfer function and a new
// density window all look the same either way.
TEST(EmptySpaceLeaping, PicturesEqualThoseWithoutLeaps)
{
    ScratchFolder scratch;
    // Rods one voxel thick every 13 voxels along each axis, of two densities.
    WriteVolume(scratch.Path("lattice.dat"), 100, 90, 70, [](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const int on = (x % 13 == 6) + (y % 13 == 6) + (z % 13 == 6);
        return on >= 2 ? uint16_t(1500 + 1000 * (x % 2)) : 0;
    });
    Scene lattice(scratch.Path("lattice.dat"), ShowDensitiesFrom1000);
    for (float step : {0.01f, 0.002f}) {
        lattice.renderer.SetStepSize(step);
        EXPECT_EQ(lattice.LeapDifference(), 0) << step;
    }
    lattice.renderer.SetStepSize(0.01f);

    // Only the denser rods, through a new transfer function.
    lattice.transferFunction.Clear();
    for (int channel = 0; channel < 3; ++channel) {
        lattice.transferFunction.AddSample(channel, 255, 0);
        lattice.transferFunction.AddSample(channel, 255, 4095);
    }
    lattice.transferFunction.AddSample(3, 0, 0);
    lattice.transferFunction.AddSample(3, 0, 1999);
    lattice.transferFunction.AddSample(3, 255, 2000);
    lattice.transferFunction.AddSample(3, 255, 4095);
    lattice.renderer.UpdateTransferFunction();
    EXPECT_EQ(lattice.LeapDifference(), 0);

    // Only the lighter rods, through the density window.
    ShowDensitiesFrom1000(lattice.transferFunction);
    lattice.renderer.UpdateTransferFunction();
    lattice.renderer.SetMaxIntensity(0.5f);
    EXPECT_EQ(lattice.LeapDifference(), 0);

    // A ball in one corner of an otherwise empty volume.
    WriteVolume(scratch.Path("corner.dat"), 90, 70, 50, [](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const double dx = x + 0.5 - 75, dy = y + 0.5 - 58, dz = z + 0.5 - 40;
        return dx * dx + dy * dy + dz * dz < 81 ? 3000 : 0;
    });
    Scene corner(scratch.Path("corner.dat"), ShowDensitiesFrom1000);
    EXPECT_EQ(corner.LeapDifference(), 0);
    EXPECT_EQ(corner.LeapDifference(-1.8f), 0);

    // A dense plane in the last voxel but one of a brick's reach, seen through
    // the empty brick beyond: the samples just past their face filter a
    // sliver of it and show red before the plane's blue. A leap that went a
    // hair too far would miss them.
    const uint32_t plane = 2 * BrickGrid::brickSize + 3;
    WriteVolume(scratch.Path("plane.dat"), 40, 30, 20,
                [plane](uint32_t, uint32_t, uint32_t z) -> uint16_t { return z == plane ? 4000 : 0; });
    Scene sliver(scratch.Path("plane.dat"), FaintRedDenseBlue);
    EXPECT_EQ(sliver.LeapDifference(), 0);
}

// The last pass shades only the window rectangle of the box's corners: outside
// it the cleared background stays, opaque black, while pixels inside that no
// ray of the volume crosses are written transparent.
TEST(EmptySpaceLeaping, PixelsOutsideTheBoxStayCleared)
{
    ScratchFolder scratch;
    WriteVolume(scratch.Path("slab.dat"), 60, 30, 20, [](uint32_t, uint32_t, uint32_t) -> uint16_t { return 0; });
    Scene slab(scratch.Path("slab.dat"), ShowDensitiesFrom1000);
    const int width = slab.window.display.width, height = slab.window.display.height;
    slab.window.display.Clear();
    glTranslatef(0.0f, 0.0f, -4.0f);
    slab.renderer.Render();
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());

    // The box spans x from -1 to 1 and y from -0.5 to 0.5, its front face at a
    // depth of 4 - 1/3.
    const double focal = (height / 2.0) / std::tan(22.5 * M_PI / 180.0), depth = 4.0 - 1.0 / 3.0;
    const double halfX = focal * 1.0 / depth, halfY = focal * 0.5 / depth;
    int outside = 0, written = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
            const double dx = std::abs(x + 0.5 - width / 2.0), dy = std::abs(y + 0.5 - height / 2.0);
            if (dx > halfX + 3 || dy > halfY + 3) {
                ++outside;
                EXPECT_EQ(p[0] + p[1] + p[2], 0);
                ASSERT_EQ(p[3], 255) << x << "," << y;
            } else if (dx < halfX - 3 && dy < halfY - 3) {
                written += p[3] == 0;
            }
        }
    }
    EXPECT_GT(outside, width * height / 2);
    // The empty volume is drawn transparent over its whole rectangle.
    EXPECT_GT(written, int(4 * (halfX - 3) * (halfY - 3) * 0.95));
}
