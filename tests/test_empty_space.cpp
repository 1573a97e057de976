// Empty-space leaping of the ray caster: pictures that stay the same with
// leaps and without, and the window rectangle the last pass shades; and the
// ray caster of a volume too large for a gradient texture, which draws the
// same picture.
#include <GL/glew.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "BrickGrid.h"
#include "Log.h"
#include "StartupTransferFunction.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
struct Scene {
    explicit Scene(const std::string& volume, void (*transfer)(TransferFunction&) = FillStartupTransferFunction)
        : basePath(ProgramFolder()), renderer(&window.display, basePath.c_str(), &transferFunction)
    {
        transfer(transferFunction);
        renderer.Load(volume.c_str());
    }

    explicit Scene(void (*transfer)(TransferFunction&))
        : basePath(ProgramFolder()), renderer(&window.display, basePath.c_str(), &transferFunction)
    {
        transfer(transferFunction);
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
    const uint32_t plane = 3 * BrickGrid::SideFor(40, 30, 20) - 1;
    WriteVolume(scratch.Path("plane.dat"), 40, 30, 20,
                [plane](uint32_t, uint32_t, uint32_t z) -> uint16_t { return z == plane ? 4000 : 0; });
    Scene sliver(scratch.Path("plane.dat"), FaintRedDenseBlue);
    EXPECT_EQ(sliver.LeapDifference(), 0);

    // Those volumes have bricks of one voxel. The same at bricks of 4, in a
    // volume with more voxels than bricks of one may take: rods, and a dense
    // plane in the last voxel but one of a brick's reach.
    ASSERT_EQ(BrickGrid::SideFor(210, 170, 130), 4u);
    WriteVolume(scratch.Path("large.dat"), 210, 170, 130, [](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const int on = (x % 23 == 6) + (y % 23 == 6) + (z % 23 == 6);
        return z == 11 ? 4000 : on >= 2 ? uint16_t(1500 + 1000 * (x % 2)) : 0;
    });
    Scene large(scratch.Path("large.dat"), FaintRedDenseBlue);
    EXPECT_EQ(large.renderer.brickGrid.Side(), 4u);
    EXPECT_EQ(large.LeapDifference(), 0);
    large.renderer.SetStepSize(0.002f);
    EXPECT_EQ(large.LeapDifference(), 0);
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

// Where the memory cannot hold the gradient texture as well, the ray caster
// takes its gradients from the densities: the same lit picture, the same
// with leaps and without, and one line in the log saying so.
TEST(LargeVolumes, GradientsFromTheDensitiesDrawTheSamePicture)
{
    ScratchFolder scratch;
    // A ball with a soft rim and a denser core off its centre, lit from
    // every side the camera sees.
    const std::string volume = scratch.Path("ball.dat");
    WriteVolume(volume, 70, 60, 50, [](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const double r = std::sqrt(std::pow(x + 0.5 - 35, 2) + std::pow(y + 0.5 - 30, 2) + std::pow(z + 0.5 - 25, 2));
        const double core =
            std::sqrt(std::pow(x + 0.5 - 42, 2) + std::pow(y + 0.5 - 26, 2) + std::pow(z + 0.5 - 22, 2));
        return uint16_t(std::clamp(2000.0 - 150.0 * (r - 18.0), 0.0, 2000.0) + (core < 6.0 ? 1500.0 : 0.0));
    });
    Scene scene(ShowDensitiesFrom1000);
    scene.renderer.SetLighting(1.0f);
    // A step of 0.84 voxel, whose samples each take their own gradient, and
    // one of 0.28 voxel, whose passes of three samples share one.
    const float coarse = 0.012f, fine = 0.004f;
    scene.renderer.SetStepSize(coarse);
    scene.renderer.Load(volume.c_str());
    ASSERT_NE(scene.renderer.gradientTexture, VolumeRenderer::none);
    ASSERT_FALSE(scene.renderer.gradientsFromDensities);
    const std::vector<uint8_t> withTexture = scene.Frame();
    scene.renderer.SetStepSize(fine);
    const std::vector<uint8_t> fineWithTexture = scene.Frame();
    scene.renderer.SetStepSize(coarse);
    const std::vector<uint16_t> grid(scene.renderer.densities, scene.renderer.densities + 128 * 64 * 64);
    const std::vector<uint32_t> histogram(scene.renderer.GetHistogram(),
                                          scene.renderer.GetHistogram() + scene.renderer.GetMaxDensity() + 1);
    const BrickGrid bricks = scene.renderer.brickGrid;
    const uint64_t lean = scene.renderer.LoadPeakBytes(false);
    ASSERT_LT(lean, scene.renderer.LoadPeakBytes(true));

    LogOpen();
    VolumeRenderer::SetMemoryLimit(lean);
    scene.renderer.Load(volume.c_str());
    VolumeRenderer::SetMemoryLimit(0);
    LogClose();
    EXPECT_TRUE(scene.renderer.gradientsFromDensities);
    EXPECT_EQ(scene.renderer.gradientTexture, VolumeRenderer::none);
    EXPECT_EQ(ReadFile("debug.log"), "[ WARN ] Data file: '" + volume +
                                         "' is too large for a gradient texture of 128 x 64 x 64 texels; the ray "
                                         "caster takes its gradients from the densities, which is slower\n");
    EXPECT_EQ(scene.renderer.SamplesPerGradient(), 1);
    const std::vector<uint8_t> fromDensities = scene.Frame();
    // The largest difference of a channel, and the mean over lit channels.
    auto compare = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t* lit, size_t* shaded) {
        int largest = 0;
        double sum = 0.0;
        size_t count = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
            if (i % 4 != 3 && a[i] > 20) {
                sum += std::abs(int(a[i]) - int(b[i]));
                ++count;
                *shaded += a[i] < 235;
            }
        }
        *lit = count;
        return std::make_pair(largest, sum / double(std::max<size_t>(count, 1)));
    };
    size_t lit = 0, shaded = 0;
    const auto [largest, mean] = compare(withTexture, fromDensities, &lit, &shaded);
    EXPECT_GT(lit, 3000u);
    EXPECT_GT(shaded, 1000u) << "the light must vary over the ball";
    // The gradient texture holds half floats; the densities give floats.
    EXPECT_LE(largest, 2);
    EXPECT_LT(mean, 0.05);
    EXPECT_EQ(scene.LeapDifference(), 0);
    // Shared gradients lie at most 0.375 voxel from their samples.
    scene.renderer.SetStepSize(fine);
    EXPECT_EQ(scene.renderer.SamplesPerGradient(), 3);
    const auto [fineLargest, fineMean] = compare(fineWithTexture, scene.Frame(), &lit, &shaded);
    EXPECT_LE(fineLargest, 6);
    EXPECT_LT(fineMean, 0.2);
    EXPECT_EQ(scene.LeapDifference(), 0);
    scene.renderer.SetStepSize(coarse);

    // Such a volume goes from the file into the density texture a slab at a
    // time, never whole in memory, with the same histogram and bricks.
    EXPECT_EQ(scene.renderer.densities, nullptr);
    EXPECT_TRUE(scene.renderer.IsLoaded());
    ASSERT_EQ(scene.renderer.GetMaxDensity() + 1, histogram.size());
    EXPECT_TRUE(std::equal(histogram.begin(), histogram.end(), scene.renderer.GetHistogram()));
    const BrickGrid& streamed = scene.renderer.brickGrid;
    ASSERT_EQ(streamed.BricksZ(), bricks.BricksZ());
    size_t differentBricks = 0;
    for (uint32_t z = 0; z < bricks.BricksZ(); ++z) {
        for (uint32_t y = 0; y < bricks.BricksY(); ++y) {
            for (uint32_t x = 0; x < bricks.BricksX(); ++x) {
                differentBricks +=
                    streamed.Min(x, y, z) != bricks.Min(x, y, z) || streamed.Max(x, y, z) != bricks.Max(x, y, z);
            }
        }
    }
    EXPECT_EQ(differentBricks, 0u);
    // Slabs of 4, 8 and 12 planes, the last one short, the same.
    for (const uint32_t planes : {4u, 8u, 12u}) {
        scene.renderer.streamSlabPlanes = planes;
        VolumeRenderer::SetMemoryLimit(lean);
        scene.renderer.Load(volume.c_str());
        VolumeRenderer::SetMemoryLimit(0);
        EXPECT_EQ(scene.renderer.densities, nullptr);
        EXPECT_TRUE(std::equal(histogram.begin(), histogram.end(), scene.renderer.GetHistogram())) << planes;
        size_t different = 0;
        for (uint32_t z = 0; z < bricks.BricksZ(); ++z) {
            for (uint32_t y = 0; y < bricks.BricksY(); ++y) {
                for (uint32_t x = 0; x < bricks.BricksX(); ++x) {
                    different += scene.renderer.brickGrid.Min(x, y, z) != bricks.Min(x, y, z) ||
                                 scene.renderer.brickGrid.Max(x, y, z) != bricks.Max(x, y, z);
                }
            }
        }
        EXPECT_EQ(different, 0u) << planes;
        EXPECT_EQ(scene.Frame(), fromDensities) << planes;
    }
    // A method that needs the grid reads it back from the texture.
    scene.renderer.SetRenderMethod(VolumeRenderer::VolumeTexture);
    ASSERT_NE(scene.renderer.densities, nullptr);
    EXPECT_TRUE(std::equal(grid.begin(), grid.end(), scene.renderer.densities));
}
