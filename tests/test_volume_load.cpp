// Before the window headers, whose macros clash with oneTBB.
#include "VolumeKernels.h"

#include <GL/glew.h>

#include "VolumeRenderer.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Log.h"
#include "StartupTransferFunction.h"
#include "TestSupport.h"
#include "TransferFunction.h"

namespace {
std::string VolumeBytes(uint16_t dimX, uint16_t dimY, uint16_t dimZ, const std::vector<uint16_t>& samples)
{
    std::string bytes;
    for (uint16_t v : {dimX, dimY, dimZ}) {
        bytes.push_back(char(v & 0xFF));
        bytes.push_back(char(v >> 8));
    }
    for (uint16_t v : samples) {
        bytes.push_back(char(v & 0xFF));
        bytes.push_back(char(v >> 8));
    }
    return bytes;
}

// Samples with values 1 to 4000 that differ between neighbours, in file order.
std::vector<uint16_t> Pattern(uint32_t dimX, uint32_t dimY, uint32_t dimZ)
{
    std::vector<uint16_t> samples(size_t(dimX) * dimY * dimZ);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = uint16_t(1 + (i * 2654435761u >> 7) % 4000);
    }
    return samples;
}

GLint LevelParameter(GLenum target, GLuint texture, GLenum name)
{
    glBindTexture(target, texture);
    GLint value = 0;
    glGetTexLevelParameteriv(target, 0, name, &value);
    return value;
}

template <typename T>
std::vector<T> TextureImage(GLenum target, GLuint texture, GLenum format, GLenum type, size_t count)
{
    std::vector<T> image(count);
    glBindTexture(target, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(target, 0, format, type, image.data());
    return image;
}

class VolumeLoadTest : public testing::Test {
protected:
    VolumeLoadTest()
    {
        LogOpen();
        FillStartupTransferFunction(transferFunction);
        renderer = std::make_unique<VolumeRenderer>(&gl.display, basePath.c_str(), &transferFunction);
    }
    ~VolumeLoadTest() override
    {
        renderer.reset();
        LogClose();
    }

    std::string Write(const std::string& name, uint16_t dimX, uint16_t dimY, uint16_t dimZ,
                      const std::vector<uint16_t>& samples)
    {
        const std::string path = scratch.Path(name);
        WriteFile(path, VolumeBytes(dimX, dimY, dimZ, samples));
        return path;
    }

    bool Load(const std::string& path) { return renderer->Load(path.c_str()); }

    // The log so far; it starts again empty.
    std::string Logged()
    {
        LogClose();
        const std::string log = ReadFile("debug.log");
        LogOpen();
        return log;
    }

    uint16_t Density(uint32_t x, uint32_t y, uint32_t z) const
    {
        return renderer->densities[x + renderer->texDimX * (y + renderer->texDimY * uint64_t(z))];
    }

    uint64_t PaddedCount() const { return uint64_t(renderer->texDimX) * renderer->texDimY * renderer->texDimZ; }

    ScratchFolder scratch;
    GLWindow gl;
    std::string basePath = WriteMinimalShaders(scratch.path());
    TransferFunction transferFunction;
    std::unique_ptr<VolumeRenderer> renderer;
};

using VolumeLoadDeathTest = VolumeLoadTest;

TEST_F(VolumeLoadTest, PadsEachAxisToAPowerOfTwoWithZeros)
{
    const std::vector<uint16_t> samples = Pattern(256, 256, 113);
    Load(Write("v.dat", 256, 256, 113, samples));

    EXPECT_EQ(renderer->GetDimX(), 256u);
    EXPECT_EQ(renderer->GetDimY(), 256u);
    EXPECT_EQ(renderer->GetDimZ(), 113u);
    EXPECT_EQ(renderer->texDimX, 256u);
    EXPECT_EQ(renderer->texDimY, 256u);
    EXPECT_EQ(renderer->texDimZ, 128u);
    EXPECT_EQ(renderer->texCoordMaxX, 1.0f);
    EXPECT_EQ(renderer->texCoordMaxY, 1.0f);
    EXPECT_EQ(renderer->texCoordMaxZ, 0.8828125f);
    EXPECT_EQ(renderer->sliceCountX, 256u);
    EXPECT_EQ(renderer->sliceCountY, 256u);
    EXPECT_EQ(renderer->sliceCountZ, 113u);

    size_t mismatches = 0;
    for (uint32_t z = 0; z < 113; ++z) {
        for (uint32_t y = 0; y < 256; ++y) {
            for (uint32_t x = 0; x < 256; ++x) {
                mismatches += Density(x, y, z) != samples[x + 256 * (y + 256 * z)];
            }
        }
    }
    EXPECT_EQ(mismatches, 0u);
    size_t padding = 0;
    for (uint64_t i = uint64_t(256) * 256 * 113; i < PaddedCount(); ++i) {
        padding += renderer->densities[i] == 0;
    }
    EXPECT_EQ(padding, 256u * 256u * 15u);
    EXPECT_EQ(renderer->GetHistogram()[0], 256u * 256u * 15u);
}

namespace {
// The densities the ray caster samples from the gradient texture's alpha, and
// those a grid should give there: each over 4096, as a half float.
std::vector<uint16_t> CarriedDensities(GLuint gradientTexture, size_t count)
{
    const std::vector<uint16_t> texels =
        TextureImage<uint16_t>(GL_TEXTURE_3D, gradientTexture, GL_RGBA, GL_HALF_FLOAT, 4 * count);
    std::vector<uint16_t> alpha(count);
    for (size_t i = 0; i < count; ++i) {
        alpha[i] = texels[4 * i + 3];
    }
    return alpha;
}

std::vector<uint16_t> HalvesOf(const uint16_t* densities, size_t count)
{
    std::vector<uint16_t> halves(count);
    for (size_t i = 0; i < count; ++i) {
        halves[i] = VolumeKernels::HalfFromFloat(float(densities[i]) / 4096.0f);
    }
    return halves;
}
}  // namespace

TEST_F(VolumeLoadTest, PowersOfTwoAndAxesOfOneNeedNoPadding)
{
    const std::vector<uint16_t> cube = Pattern(8, 4, 2);
    Load(Write("cube.dat", 8, 4, 2, cube));
    EXPECT_EQ(renderer->texDimX, 8u);
    EXPECT_EQ(renderer->texDimY, 4u);
    EXPECT_EQ(renderer->texDimZ, 2u);
    EXPECT_EQ(renderer->texCoordMaxX, 1.0f);
    EXPECT_EQ(renderer->texCoordMaxY, 1.0f);
    EXPECT_EQ(renderer->texCoordMaxZ, 1.0f);
    EXPECT_EQ(std::vector<uint16_t>(renderer->densities, renderer->densities + 64), cube);

    // One sample across x: rows of a single 16-bit texel reach the 3D texture
    // unshifted.
    const std::vector<uint16_t> column = Pattern(1, 3, 2);
    Load(Write("column.dat", 1, 3, 2, column));
    EXPECT_EQ(renderer->texDimX, 1u);
    EXPECT_EQ(renderer->texDimY, 4u);
    EXPECT_EQ(renderer->texDimZ, 2u);
    EXPECT_EQ(renderer->texCoordMaxX, 1.0f);
    EXPECT_EQ(renderer->texCoordMaxY, 0.75f);
    const std::vector<uint16_t> expected = {column[0], column[1], column[2], 0, column[3], column[4], column[5], 0};
    EXPECT_EQ(std::vector<uint16_t>(renderer->densities, renderer->densities + 8), expected);
    EXPECT_EQ(CarriedDensities(renderer->gradientTexture, 8), HalvesOf(expected.data(), 8));
    renderer->SetRenderMethod(VolumeRenderer::VolumeTexture);
    EXPECT_EQ(LevelParameter(GL_TEXTURE_3D, renderer->volumeTexture, GL_TEXTURE_WIDTH), 1);
    EXPECT_EQ(TextureImage<uint16_t>(GL_TEXTURE_3D, renderer->volumeTexture, GL_LUMINANCE, GL_UNSIGNED_SHORT, 8),
              expected);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(VolumeLoadTest, AcceptsDensity4096AndRefusesAboveKeepingTheVolumeShown)
{
    std::vector<uint16_t> samples(27, 1000);
    samples[13] = 4096;
    const std::string max = Write("max.dat", 3, 3, 3, samples);
    ASSERT_TRUE(Load(max));
    EXPECT_EQ(renderer->GetMaxDensity(), 4096u);
    EXPECT_EQ(renderer->GetHistogram()[4096], 1u);
    const GLuint gradients = renderer->gradientTexture;

    // The last sample of a file larger than one block of the check.
    std::vector<uint16_t> large(130 * 90 * 100, 2000);
    large.back() = 4097;
    const std::string over = Write("over.dat", 130, 90, 100, large);
    const std::string entry = "[ WARN ] Data file: Density data value exceeds maximum of 2^12 (4096)\n";
    EXPECT_FALSE(Load(over));
    EXPECT_EQ(renderer->loadError, "holds a density above 4096, the largest a volume data file may hold");
    EXPECT_EQ(Logged(), entry);
    // The volume shown before stays as it was.
    ASSERT_TRUE(renderer->IsLoaded());
    EXPECT_EQ(renderer->GetDimX(), 3u);
    EXPECT_EQ(renderer->GetMaxDensity(), 4096u);
    EXPECT_EQ(renderer->gradientTexture, gradients);
    EXPECT_EQ(Density(1, 1, 1), 4096);

    // With nothing shown the load itself finds the sample, and leaves nothing.
    renderer->Load(nullptr);
    EXPECT_FALSE(Load(over));
    EXPECT_FALSE(renderer->IsLoaded());
    EXPECT_EQ(Logged(), entry);
    // The next file loads as ever.
    EXPECT_TRUE(Load(max));
    EXPECT_EQ(renderer->GetMaxDensity(), 4096u);
}

TEST_F(VolumeLoadTest, ShortFileLoadsZerosAndWarns)
{
    // Ten whole samples and half of the eleventh.
    std::string bytes = VolumeBytes(4, 4, 4, Pattern(4, 4, 4));
    bytes.resize(6 + 2 * 10 + 1);
    const std::string path = scratch.Path("short.dat");
    WriteFile(path, bytes);
    Load(path);
    const std::vector<uint16_t> pattern = Pattern(4, 4, 4);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(renderer->densities[i], i < 10 ? pattern[i] : 0) << i;
    }

    // Padded rows: the file ends inside the second row.
    std::string rows = VolumeBytes(3, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    rows.resize(6 + 2 * 4 + 1);
    const std::string rowsPath = scratch.Path("rows.dat");
    WriteFile(rowsPath, rows);
    Load(rowsPath);
    EXPECT_EQ(std::vector<uint16_t>(renderer->densities, renderer->densities + 16),
              (std::vector<uint16_t>{1, 2, 3, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    LogClose();
    EXPECT_EQ(ReadFile("debug.log"),
              "[ WARN ] Data file: '" + path + "' ends early: 54 of 64 samples are missing and read as 0\n" +
                  "[ WARN ] Data file: '" + rowsPath + "' ends early: 8 of 12 samples are missing and read as 0\n");
}

TEST_F(VolumeLoadTest, HistogramCountsThePaddedGrid)
{
    Load(Write("h.dat", 3, 1, 1, {5, 7, 5}));
    ASSERT_EQ(renderer->texDimX, 4u);
    EXPECT_EQ(renderer->GetMaxDensity(), 7u);
    const std::vector<uint32_t> histogram(renderer->GetHistogram(), renderer->GetHistogram() + 8);
    EXPECT_EQ(histogram, (std::vector<uint32_t>{1, 0, 0, 0, 0, 2, 0, 1}));
}

struct Vector {
    float x, y, z;
    bool operator==(const Vector&) const = default;
};

void PrintTo(const Vector& v, std::ostream* os) { *os << "(" << v.x << ", " << v.y << ", " << v.z << ")"; }

TEST_F(VolumeLoadTest, GradientTextureHoldsSignedVectorsOfTheExamples)
{
    std::vector<uint16_t> samples(64, 0);
    samples[1 + 4 * (1 + 4 * 1)] = 100;
    Load(Write("g.dat", 4, 4, 4, samples));

    EXPECT_EQ(LevelParameter(GL_TEXTURE_3D, renderer->gradientTexture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F);
    const std::vector<float> image =
        TextureImage<float>(GL_TEXTURE_3D, renderer->gradientTexture, GL_RGBA, GL_FLOAT, 64 * 4);
    auto at = [&image](int x, int y, int z) {
        const size_t i = 4 * size_t(x + 4 * (y + 4 * z));
        return Vector{image[i], image[i + 1], image[i + 2]};
    };
    // Alpha holds the density over 4096, exact for 100 as a half float.
    for (int v = 0; v < 64; ++v) {
        EXPECT_EQ(image[4 * size_t(v) + 3], v == 1 + 4 * (1 + 4 * 1) ? 100.0f / 4096.0f : 0.0f) << v;
    }
    EXPECT_EQ(at(2, 1, 1), (Vector{1, 0, 0}));
    EXPECT_EQ(at(1, 2, 1), (Vector{0, 1, 0}));
    EXPECT_EQ(at(1, 1, 2), (Vector{0, 0, 1}));
    EXPECT_EQ(at(1, 1, 1), (Vector{0, 0, 0}));
    EXPECT_EQ(at(0, 1, 1), (Vector{-1, 0, 0}));
    // Faces, then edges and corners where x wins over y and y over z.
    EXPECT_EQ(at(3, 1, 1), (Vector{1, 0, 0}));
    EXPECT_EQ(at(1, 0, 1), (Vector{0, -1, 0}));
    EXPECT_EQ(at(1, 3, 1), (Vector{0, 1, 0}));
    EXPECT_EQ(at(1, 1, 0), (Vector{0, 0, -1}));
    EXPECT_EQ(at(2, 2, 3), (Vector{0, 0, 1}));
    EXPECT_EQ(at(0, 0, 0), (Vector{-1, 0, 0}));
    EXPECT_EQ(at(3, 0, 0), (Vector{1, 0, 0}));
    EXPECT_EQ(at(0, 3, 3), (Vector{-1, 0, 0}));
    EXPECT_EQ(at(1, 0, 3), (Vector{0, -1, 0}));
    EXPECT_EQ(at(2, 3, 0), (Vector{0, 1, 0}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(VolumeLoadTest, GradientsFollowTheRulesOnEveryVoxel)
{
    // A reference that applies the rules one voxel at a time.
    const uint32_t nx = 8, ny = 4, nz = 16;
    std::vector<uint16_t> grid(nx * ny * nz);
    for (size_t i = 0; i < grid.size(); ++i) {
        grid[i] = uint16_t((i * 7919) % 3001);
    }
    const float d = 3000.0f;
    float* gradients = VolumeRenderer::ComputeGradients(grid.data(), d, nx, ny, nz);
    ASSERT_NE(gradients, nullptr);
    auto f = [&](uint32_t x, uint32_t y, uint32_t z) { return float(grid[x + nx * (y + ny * z)]) / d; };
    size_t mismatches = 0;
    for (uint32_t z = 0; z < nz; ++z) {
        for (uint32_t y = 0; y < ny; ++y) {
            for (uint32_t x = 0; x < nx; ++x) {
                Vector expected;
                if (x == 0) {
                    expected = {-1, 0, 0};
                } else if (x == nx - 1) {
                    expected = {1, 0, 0};
                } else if (y == 0) {
                    expected = {0, -1, 0};
                } else if (y == ny - 1) {
                    expected = {0, 1, 0};
                } else if (z == 0) {
                    expected = {0, 0, -1};
                } else if (z == nz - 1) {
                    expected = {0, 0, 1};
                } else {
                    expected = {f(x - 1, y, z) - f(x + 1, y, z), f(x, y - 1, z) - f(x, y + 1, z),
                                f(x, y, z - 1) - f(x, y, z + 1)};
                }
                const float* g = gradients + 3 * (x + nx * (y + ny * z));
                mismatches += !(Vector{g[0], g[1], g[2]} == expected);
            }
        }
    }
    delete[] gradients;
    EXPECT_EQ(mismatches, 0u);

    // Axes of 2 and 1 have no interior: every vector is a face normal.
    const std::vector<uint16_t> flat(2 * 8 * 1, 50);
    float* faces = VolumeRenderer::ComputeGradients(flat.data(), 50.0f, 2, 8, 1);
    for (uint32_t y = 0; y < 8; ++y) {
        EXPECT_EQ((Vector{faces[6 * y], faces[6 * y + 1], faces[6 * y + 2]}), (Vector{-1, 0, 0}));
        EXPECT_EQ((Vector{faces[6 * y + 3], faces[6 * y + 4], faces[6 * y + 5]}), (Vector{1, 0, 0}));
    }
    delete[] faces;
}

std::vector<uint16_t> Spread(size_t count);

// The gradient vectors of a padded grid by the loader's face and interior rules, one voxel at a
// time on one thread.
std::vector<float> ReferenceGradients(const uint16_t* grid, float d, uint32_t nx, uint32_t ny, uint32_t nz)
{
    std::vector<float> out(3 * size_t(nx) * ny * nz);
    auto f = [&](uint32_t x, uint32_t y, uint32_t z) { return float(grid[x + nx * (y + size_t(ny) * z)]) / d; };
    for (uint32_t z = 0; z < nz; ++z) {
        for (uint32_t y = 0; y < ny; ++y) {
            for (uint32_t x = 0; x < nx; ++x) {
                Vector g;
                if (x == 0 || x == nx - 1) {
                    g = {x == 0 ? -1.0f : 1.0f, 0, 0};
                } else if (y == 0 || y == ny - 1) {
                    g = {0, y == 0 ? -1.0f : 1.0f, 0};
                } else if (z == 0 || z == nz - 1) {
                    g = {0, 0, z == 0 ? -1.0f : 1.0f};
                } else {
                    g = {f(x - 1, y, z) - f(x + 1, y, z), f(x, y - 1, z) - f(x, y + 1, z),
                         f(x, y, z - 1) - f(x, y, z + 1)};
                }
                std::memcpy(&out[3 * (x + nx * (y + size_t(ny) * z))], &g, sizeof g);
            }
        }
    }
    return out;
}

TEST_F(VolumeLoadTest, GradientTextureBuiltBySlabsEqualsOneBuiltAtOnce)
{
    // Sizes that are not powers of two; the padded depth of 32 is no multiple
    // of slabs of 3, 5 or 7 planes.
    Load(Write("slabs.dat", 37, 21, 19, Spread(37 * 21 * 19)));
    ASSERT_EQ(renderer->texDimX, 64u);
    ASSERT_EQ(renderer->texDimY, 32u);
    ASSERT_EQ(renderer->texDimZ, 32u);
    const uint64_t count = PaddedCount();

    // Every vector and density over 4096, rounded to half floats.
    const std::vector<float> vectors = ReferenceGradients(renderer->densities, float(renderer->GetMaxDensity()),
                                                          renderer->texDimX, renderer->texDimY, renderer->texDimZ);
    std::vector<uint16_t> expected(4 * count);
    for (uint64_t v = 0; v < count; ++v) {
        for (int c = 0; c < 3; ++c) {
            expected[4 * v + c] = VolumeKernels::HalfFromFloat(vectors[3 * v + c]);
        }
        expected[4 * v + 3] = VolumeKernels::HalfFromFloat(float(renderer->densities[v]) / 4096.0f);
    }

    for (uint32_t slab : {0u, 1u, 3u, 5u, 7u, 32u}) {
        if (slab != 0) {
            renderer->BuildGradientTexture(slab);
        }
        EXPECT_EQ(LevelParameter(GL_TEXTURE_3D, renderer->gradientTexture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F);
        const std::vector<uint16_t> built =
            TextureImage<uint16_t>(GL_TEXTURE_3D, renderer->gradientTexture, GL_RGBA, GL_HALF_FLOAT, 4 * count);
        size_t mismatches = 0;
        for (size_t i = 0; i < built.size(); ++i) {
            mismatches += built[i] != expected[i];
        }
        EXPECT_EQ(mismatches, 0u) << "slabs of " << slab << " planes (0: the load's own)";
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(VolumeLoadTest, AllZeroVolumeHasZeroInteriorGradients)
{
    Load(Write("zero.dat", 5, 5, 5, std::vector<uint16_t>(125, 0)));
    EXPECT_EQ(renderer->GetMaxDensity(), 0u);
    EXPECT_EQ(renderer->GetHistogram()[0], 512u);

    float* gradients = VolumeRenderer::ComputeGradients(renderer->densities, 0.0f, 8, 8, 8);
    size_t nonFinite = 0, nonZeroInterior = 0;
    for (uint32_t i = 0; i < 512 * 3; ++i) {
        nonFinite += !std::isfinite(gradients[i]);
    }
    for (uint32_t z = 1; z < 7; ++z) {
        for (uint32_t y = 1; y < 7; ++y) {
            for (uint32_t x = 1; x < 7; ++x) {
                const float* g = gradients + 3 * (x + 8 * (y + 8 * z));
                nonZeroInterior += g[0] != 0.0f || g[1] != 0.0f || g[2] != 0.0f;
            }
        }
    }
    delete[] gradients;
    EXPECT_EQ(nonFinite, 0u);
    EXPECT_EQ(nonZeroInterior, 0u);

    const std::vector<float> image =
        TextureImage<float>(GL_TEXTURE_3D, renderer->gradientTexture, GL_RGB, GL_FLOAT, 512 * 3);
    const size_t centre = 3 * size_t(4 + 8 * (4 + 8 * 4));
    EXPECT_EQ((Vector{image[centre], image[centre + 1], image[centre + 2]}), (Vector{0, 0, 0}));
}

TEST_F(VolumeLoadTest, LookupTextureAveragesPairsOfDensities)
{
    // The colours as the transfer function gives them: "Default" premultiplies them.
    renderer->SetBlendMode(VolumeRenderer::Blend);
    Load(Write("l.dat", 2, 2, 2, std::vector<uint16_t>(8, 300)));
    EXPECT_EQ(LevelParameter(GL_TEXTURE_1D, renderer->transferTexture, GL_TEXTURE_WIDTH), 2048);
    const std::vector<uint8_t> texels =
        TextureImage<uint8_t>(GL_TEXTURE_1D, renderer->transferTexture, GL_RGBA, GL_UNSIGNED_BYTE, 2048 * 4);
    EXPECT_EQ(std::vector<uint8_t>(texels.begin(), texels.begin() + 4), (std::vector<uint8_t>{5, 1, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(texels.begin() + 100, texels.begin() + 104), (std::vector<uint8_t>{0, 128, 21, 2}));
    size_t mismatches = 0;
    for (uint32_t k = 0; k < 2048; ++k) {
        const TransferFunction::Color a = transferFunction.Evaluate(2 * k), b = transferFunction.Evaluate(2 * k + 1);
        const uint8_t expected[4] = {uint8_t((a.r + b.r) / 2), uint8_t((a.g + b.g) / 2), uint8_t((a.b + b.b) / 2),
                                     uint8_t((a.a + b.a) / 2)};
        mismatches += std::memcmp(expected, &texels[4 * k], 4) != 0;
    }
    EXPECT_EQ(mismatches, 0u);

    // Under "Default" the same texels times their opacity; the ray caster's
    // own lookup keeps the colours as they are.
    renderer->SetBlendMode(VolumeRenderer::DefaultBlend);
    const std::vector<uint8_t> premultiplied =
        TextureImage<uint8_t>(GL_TEXTURE_1D, renderer->transferTexture, GL_RGBA, GL_UNSIGNED_BYTE, 2048 * 4);
    mismatches = 0;
    for (size_t i = 0; i < texels.size(); ++i) {
        const uint8_t alpha = texels[i / 4 * 4 + 3];
        mismatches += premultiplied[i] != (i % 4 == 3 ? alpha : uint8_t((texels[i] * alpha + 127) / 255));
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(std::vector<uint8_t>(renderer->transferTexels.begin() + 100, renderer->transferTexels.begin() + 104),
              (std::vector<uint8_t>{0, 128, 21, 2}));
}

// Densities spread over the whole range, so that every curve segment is used.
std::vector<uint16_t> Spread(size_t count)
{
    std::vector<uint16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] = uint16_t((i * 1543) % 4097);
    }
    return samples;
}

TEST_F(VolumeLoadTest, PreClassifiedVolumeTextureHoldsTheColoursOfEvaluate)
{
    // The colours as the transfer function gives them: "Default" premultiplies them.
    renderer->SetBlendMode(VolumeRenderer::Blend);
    renderer->SetClassification(VolumeRenderer::PreClassification);
    renderer->SetRenderMethod(VolumeRenderer::VolumeTexture);
    Load(Write("c.dat", 30, 20, 10, Spread(6000)));

    EXPECT_EQ(LevelParameter(GL_TEXTURE_3D, renderer->volumeTexture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA8);
    const uint64_t count = PaddedCount();
    const std::vector<uint32_t> texels =
        TextureImage<uint32_t>(GL_TEXTURE_3D, renderer->volumeTexture, GL_RGBA, GL_UNSIGNED_BYTE, count);
    size_t mismatches = 0;
    for (uint64_t i = 0; i < count; ++i) {
        mismatches += texels[i] != transferFunction.Evaluate(renderer->densities[i]).Packed();
    }
    EXPECT_EQ(mismatches, 0u);
    // Padding takes the colour of density 0.
    EXPECT_EQ(texels[count - 1], transferFunction.Evaluate(0).Packed());

    // Under "Ray Casting" the gradient texture carries the densities.
    renderer->SetRenderMethod(VolumeRenderer::RayCasting);
    EXPECT_EQ(CarriedDensities(renderer->gradientTexture, count), HalvesOf(renderer->densities, count));
    EXPECT_NE(renderer->entryTexture, VolumeRenderer::none);
    EXPECT_NE(renderer->exitTexture, VolumeRenderer::none);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The ray caster samples its densities from the gradient texture, whatever the
// classification; no density texture is uploaded beside it.
TEST_F(VolumeLoadTest, RayCastingLoadKeepsDensitiesUnderPreClassification)
{
    renderer->SetClassification(VolumeRenderer::PreClassification);
    Load(Write("r.dat", 7, 6, 5, Spread(210)));
    ASSERT_NE(renderer->gradientTexture, VolumeRenderer::none);
    EXPECT_EQ(CarriedDensities(renderer->gradientTexture, 512), HalvesOf(renderer->densities, 512));
    EXPECT_EQ(renderer->volumeTexture, VolumeRenderer::none);
    EXPECT_FALSE(renderer->volumeTextureHoldsDensities);
}

TEST_F(VolumeLoadTest, RayCastingKeepsTheResidentDensityTextureWhenNothingChanges)
{
    Load(Write("keep.dat", 7, 6, 5, Spread(210)));
    const GLuint resident = renderer->gradientTexture;
    const std::vector<uint16_t> carried = HalvesOf(renderer->densities, 512);

    // Neither the classification nor, with pre-classification selected, a new
    // transfer function changes what the ray caster samples.
    renderer->SetClassification(VolumeRenderer::ShaderClassification);
    renderer->SetClassification(VolumeRenderer::PreClassification);
    transferFunction.AddSample(3, 255, 100);
    renderer->UpdateTransferFunction();
    EXPECT_EQ(renderer->gradientTexture, resident);
    EXPECT_EQ(CarriedDensities(renderer->gradientTexture, 512), carried);

    // A pre-classified 3D texture in between leaves it as it is.
    renderer->SetRenderMethod(VolumeRenderer::VolumeTexture);
    EXPECT_EQ(LevelParameter(GL_TEXTURE_3D, renderer->volumeTexture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA8);
    renderer->SetRenderMethod(VolumeRenderer::RayCasting);
    EXPECT_EQ(renderer->gradientTexture, resident);
    EXPECT_EQ(CarriedDensities(renderer->gradientTexture, 512), carried);

    // Another volume of the same size is uploaded.
    std::vector<uint16_t> other = Spread(210);
    std::reverse(other.begin(), other.end());
    Load(Write("other.dat", 7, 6, 5, other));
    EXPECT_EQ(CarriedDensities(renderer->gradientTexture, 512), HalvesOf(renderer->densities, 512));
    EXPECT_NE(HalvesOf(renderer->densities, 512), carried);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Without a gradient texture, the ray caster's density texture stays resident
// while nothing changes what it samples.
TEST_F(VolumeLoadTest, RayCastingWithoutGradientTextureKeepsItsDensityTexture)
{
    const std::string path = Write("lean.dat", 7, 6, 5, Spread(210));
    Load(path);
    const std::vector<uint16_t> grid(renderer->densities, renderer->densities + 512);
    const uint64_t lean = renderer->LoadPeakBytes(false);
    VolumeRenderer::SetMemoryLimit(lean);
    Load(path);
    VolumeRenderer::SetMemoryLimit(0);
    ASSERT_TRUE(renderer->gradientsFromDensities);
    // Streamed from the file into the texture: no grid in memory.
    EXPECT_EQ(renderer->densities, nullptr);
    const GLuint resident = renderer->volumeTexture;
    EXPECT_EQ(TextureImage<uint16_t>(GL_TEXTURE_3D, resident, GL_LUMINANCE, GL_UNSIGNED_SHORT, 512), grid);
    renderer->SetClassification(VolumeRenderer::PreClassification);
    transferFunction.AddSample(3, 255, 100);
    renderer->UpdateTransferFunction();
    EXPECT_EQ(renderer->volumeTexture, resident);
    EXPECT_EQ(LevelParameter(GL_TEXTURE_3D, renderer->volumeTexture, GL_TEXTURE_INTERNAL_FORMAT), GL_LUMINANCE16);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// A scan's grid, held in memory, loads as a .dat file does: streamed into
// the density texture where the ray caster draws it without a gradient
// texture, else through the padded grid. Either way each plane of the
// samples is given back once, after it was copied.
TEST_F(VolumeLoadTest, AScanGridIsLoadedAsAFileAndEachPlaneGivenBack)
{
    const uint32_t x = 7, y = 6, z = 5;
    const std::vector<uint16_t> samples = Spread(x * y * z);
    std::vector<int> given(z, 0);
    // Called from the loading threads, each plane once.
    std::atomic<bool> rangesAreWholePlanes{true};
    const auto consumed = [&](uint64_t first, uint64_t end) {
        if (first % (x * y) != 0 || end - first != x * y) {
            rangesAreWholePlanes = false;
        }
        ++given[first / (x * y)];
    };
    ASSERT_TRUE(renderer->LoadGrid("grid", x, y, z, samples.data(), Vec3{0.5f, 0.5f, 2.0f}, consumed));
    ASSERT_NE(renderer->densities, nullptr);
    EXPECT_FALSE(renderer->gradientsFromDensities);
    const std::vector<uint16_t> grid(renderer->densities, renderer->densities + 512);
    EXPECT_EQ(Density(6, 5, 4), samples.back());
    EXPECT_EQ(Density(3, 2, 1), samples[3 + x * (2 + y * 1)]);
    EXPECT_EQ(given, std::vector<int>(z, 1));

    std::fill(given.begin(), given.end(), 0);
    VolumeRenderer::SetMemoryLimit(renderer->LoadPeakBytes(false));
    const bool loaded = renderer->LoadGrid("grid", x, y, z, samples.data(), Vec3{0.5f, 0.5f, 2.0f}, consumed);
    VolumeRenderer::SetMemoryLimit(0);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(renderer->gradientsFromDensities);
    EXPECT_EQ(renderer->densities, nullptr);
    EXPECT_EQ(TextureImage<uint16_t>(GL_TEXTURE_3D, renderer->volumeTexture, GL_LUMINANCE, GL_UNSIGNED_SHORT, 512),
              grid);
    EXPECT_EQ(given, std::vector<int>(z, 1));
    EXPECT_TRUE(rangesAreWholePlanes);
    EXPECT_EQ(renderer->voxelSpacing.z, 2.0f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(VolumeLoadTest, PreClassifiedVolumeTextureBuiltBySlabsAcrossManySlabs)
{
    // The colours as the transfer function gives them: "Default" premultiplies them.
    renderer->SetBlendMode(VolumeRenderer::Blend);
    // Planes of 512 x 512 colours (1 MiB): slabs of 8 planes, four of them.
    renderer->SetClassification(VolumeRenderer::PreClassification);
    renderer->SetRenderMethod(VolumeRenderer::VolumeTexture);
    Load(Write("wide.dat", 300, 260, 29, Spread(300 * 260 * 29)));
    ASSERT_EQ(renderer->texDimZ, 32u);
    const uint64_t count = PaddedCount();
    const std::vector<uint32_t> texels =
        TextureImage<uint32_t>(GL_TEXTURE_3D, renderer->volumeTexture, GL_RGBA, GL_UNSIGNED_BYTE, count);
    size_t mismatches = 0;
    for (uint64_t i = 0; i < count; ++i) {
        mismatches += texels[i] != transferFunction.Evaluate(renderer->densities[i]).Packed();
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Checks every texel of every slice against the grid, as the texel layouts
// of the three stacks say.
template <typename Texel>
size_t SliceMismatches(const VolumeRenderer& r, GLenum format, GLenum type,
                       Texel (*expected)(const VolumeRenderer&, uint64_t))
{
    size_t mismatches = 0;
    auto index = [&r](uint32_t x, uint32_t y, uint32_t z) { return x + uint64_t(r.texDimX) * (y + r.texDimY * z); };
    for (uint32_t k = 0; k < r.dimZ; ++k) {
        const std::vector<Texel> t =
            TextureImage<Texel>(GL_TEXTURE_2D, r.sliceTexturesZ[k], format, type, r.texDimX * r.texDimY);
        for (uint32_t y = 0; y < r.texDimY; ++y) {
            for (uint32_t x = 0; x < r.texDimX; ++x) {
                mismatches += t[x + r.texDimX * y] != expected(r, index(x, y, k));
            }
        }
    }
    for (uint32_t k = 0; k < r.dimY; ++k) {
        const std::vector<Texel> t =
            TextureImage<Texel>(GL_TEXTURE_2D, r.sliceTexturesY[k], format, type, r.texDimX * r.texDimZ);
        for (uint32_t z = 0; z < r.texDimZ; ++z) {
            for (uint32_t x = 0; x < r.texDimX; ++x) {
                mismatches += t[x + r.texDimX * z] != expected(r, index(x, k, z));
            }
        }
    }
    for (uint32_t k = 0; k < r.dimX; ++k) {
        const std::vector<Texel> t =
            TextureImage<Texel>(GL_TEXTURE_2D, r.sliceTexturesX[k], format, type, r.texDimY * r.texDimZ);
        for (uint32_t z = 0; z < r.texDimZ; ++z) {
            for (uint32_t y = 0; y < r.texDimY; ++y) {
                mismatches += t[y + r.texDimY * z] != expected(r, index(k, y, z));
            }
        }
    }
    return mismatches;
}

TEST_F(VolumeLoadTest, SliceStacksHoldThePlanesOfTheGrid)
{
    // The colours as the transfer function gives them: "Default" premultiplies them.
    renderer->SetBlendMode(VolumeRenderer::Blend);
    renderer->SetRenderMethod(VolumeRenderer::Slices);
    Load(Write("s.dat", 19, 6, 5, Spread(570)));
    ASSERT_EQ(renderer->sliceTexturesX.size(), 19u);
    ASSERT_EQ(renderer->sliceTexturesY.size(), 6u);
    ASSERT_EQ(renderer->sliceTexturesZ.size(), 5u);
    EXPECT_EQ(LevelParameter(GL_TEXTURE_2D, renderer->sliceTexturesX[0], GL_TEXTURE_INTERNAL_FORMAT), GL_LUMINANCE16);
    EXPECT_EQ(SliceMismatches<uint16_t>(*renderer, GL_LUMINANCE, GL_UNSIGNED_SHORT,
                                        [](const VolumeRenderer& r, uint64_t i) { return r.densities[i]; }),
              0u);

    renderer->SetClassification(VolumeRenderer::PreClassification);
    EXPECT_EQ(LevelParameter(GL_TEXTURE_2D, renderer->sliceTexturesY[0], GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    EXPECT_EQ(SliceMismatches<uint32_t>(*renderer, GL_RGBA, GL_UNSIGNED_BYTE,
                                        [](const VolumeRenderer& r, uint64_t i) {
                                            return r.transferFunction->Evaluate(r.densities[i]).Packed();
                                        }),
              0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(VolumeLoadTest, SliceStacksOfTheHeadSizedVolume)
{
    renderer->SetRenderMethod(VolumeRenderer::Slices);
    Load(Write("v.dat", 256, 256, 113, Pattern(256, 256, 113)));
    ASSERT_EQ(renderer->sliceTexturesX.size(), 256u);
    ASSERT_EQ(renderer->sliceTexturesY.size(), 256u);
    ASSERT_EQ(renderer->sliceTexturesZ.size(), 113u);
    auto sizes = [](const std::vector<GLuint>& stack, GLint w, GLint h) {
        size_t wrong = 0;
        for (GLuint name : stack) {
            wrong += LevelParameter(GL_TEXTURE_2D, name, GL_TEXTURE_WIDTH) != w ||
                     LevelParameter(GL_TEXTURE_2D, name, GL_TEXTURE_HEIGHT) != h;
        }
        return wrong;
    };
    EXPECT_EQ(sizes(renderer->sliceTexturesX, 256, 128), 0u);
    EXPECT_EQ(sizes(renderer->sliceTexturesY, 256, 128), 0u);
    EXPECT_EQ(sizes(renderer->sliceTexturesZ, 256, 256), 0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(VolumeLoadTest, SecondSmallerVolumeDeletesExactlyTheOldSlices)
{
    renderer->SetRenderMethod(VolumeRenderer::Slices);
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);

    Load(Write("big.dat", 9, 7, 6, Spread(378)));
    std::vector<GLuint> old = renderer->sliceTexturesX;
    old.insert(old.end(), renderer->sliceTexturesY.begin(), renderer->sliceTexturesY.end());
    old.insert(old.end(), renderer->sliceTexturesZ.begin(), renderer->sliceTexturesZ.end());
    ASSERT_EQ(old.size(), 22u);

    Load(Write("small.dat", 3, 2, 2, Spread(12)));
    EXPECT_EQ(renderer->sliceTexturesX.size(), 3u);
    EXPECT_EQ(renderer->sliceTexturesY.size(), 2u);
    EXPECT_EQ(renderer->sliceTexturesZ.size(), 2u);
    std::vector<GLuint> current = renderer->sliceTexturesX;
    current.insert(current.end(), renderer->sliceTexturesY.begin(), renderer->sliceTexturesY.end());
    current.insert(current.end(), renderer->sliceTexturesZ.begin(), renderer->sliceTexturesZ.end());
    for (GLuint name : current) {
        EXPECT_TRUE(glIsTexture(name)) << name;
    }
    // The driver may hand a freed name out again for the new stacks.
    for (GLuint name : old) {
        const bool reused = std::find(current.begin(), current.end(), name) != current.end();
        EXPECT_TRUE(reused || !glIsTexture(name)) << name;
    }
    EXPECT_TRUE(glIsTexture(other));
    EXPECT_EQ(LevelParameter(GL_TEXTURE_2D, renderer->sliceTexturesX[0], GL_TEXTURE_WIDTH), 2);
    EXPECT_EQ(LevelParameter(GL_TEXTURE_2D, renderer->sliceTexturesX[0], GL_TEXTURE_HEIGHT), 2);
}

// Address space beyond what the process uses now, so that allocations above
// the headroom fail.
void LimitAddressSpace(uint64_t headroom)
{
    // Under the sanitizer the run's own allocation limit of 1 GiB stands in.
    if (underAddressSanitizer) {
        return;
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    uint64_t used = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            used = std::stoull(line.substr(7)) * 1024;
        }
    }
    const rlimit limit{rlim_t(used + headroom), rlim_t(used + headroom)};
    setrlimit(RLIMIT_AS, &limit);
}

TEST_F(VolumeLoadTest, RefusesFilesThatCannotBeReadKeepingTheVolumeShown)
{
    ASSERT_TRUE(Load(Write("shown.dat", 5, 4, 3, std::vector<uint16_t>(60, 1500))));
    const std::string missing = scratch.Path("missing.dat");
    const std::string stub = scratch.Path("stub.dat");
    WriteFile(stub, std::string("\x04\x00\x04\x00", 4));
    const std::string empty = Write("empty.dat", 4, 0, 4, {});
    const std::pair<std::string, std::string> cases[] = {
        {missing, "cannot be opened: No such file or directory"},
        {stub, "is shorter than its 6-byte header"},
        {empty, "has a size of 0 (4 x 0 x 4)"},
    };
    std::string log;
    for (const auto& [path, cause] : cases) {
        EXPECT_FALSE(Load(path)) << path;
        EXPECT_EQ(renderer->loadError, cause);
        log += "[ WARN ] Data file: '" + path + "' " + cause + "\n";
        EXPECT_TRUE(renderer->IsLoaded()) << path;
        EXPECT_EQ(renderer->GetDimX(), 5u) << path;
        EXPECT_EQ(Density(4, 3, 2), 1500) << path;
    }
    EXPECT_EQ(Logged(), log);
}

// A grid wider than the driver's textures is drawn at half its samples along
// that side, each the mean of two, in a box of the same sides; the log says so.
TEST_F(VolumeLoadTest, ReducesGridsTheDriverCannotHold)
{
    GLint max3d = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3d);
    ASSERT_LT(max3d, 32768);
    const uint16_t wide = uint16_t(max3d + 1);
    std::vector<uint16_t> samples(size_t(wide) * 3 * 3);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = uint16_t(i % wide % 7 * 100 + i / wide * 10);
    }
    const std::string path = Write("wide.dat", wide, 3, 3, samples);
    Load(path);
    const uint32_t half = (wide + 1) / 2;
    EXPECT_EQ(renderer->GetDimX(), half);
    EXPECT_EQ(renderer->GetDimY(), 3u);
    EXPECT_EQ(renderer->GetDimZ(), 3u);
    EXPECT_FLOAT_EQ(renderer->voxelSpacing.x, float(wide) / float(half));
    EXPECT_FLOAT_EQ(renderer->voxelSpacing.y, 1.0f);
    // The box keeps the proportions of the whole grid.
    EXPECT_FLOAT_EQ(renderer->BoxHalfExtents().y, 3.0f / float(wide));
    size_t wrong = 0;
    for (uint32_t z = 0; z < 3; ++z) {
        for (uint32_t y = 0; y < 3; ++y) {
            for (uint32_t x = 0; x < half; ++x) {
                const size_t row = (size_t(z) * 3 + y) * wide;
                const uint32_t a = samples[row + 2 * x];
                const uint32_t b = 2 * x + 1 < wide ? samples[row + 2 * x + 1] : a;
                const uint32_t n = 2 * x + 1 < wide ? 2 : 1;
                const uint16_t mean = uint16_t((a + (n == 2 ? b : 0) + n / 2) / n);
                wrong += renderer->densities[(size_t(z) * renderer->texDimY + y) * renderer->texDimX + x] != mean;
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
    const std::string reduced = "is drawn at a reduced resolution of " + std::to_string(half) + " x 3 x 3 of its " +
                                std::to_string(wide) +
                                " x 3 x 3 samples: the OpenGL driver cannot hold the textures of the current "
                                "method at full resolution";
    EXPECT_EQ(renderer->reducedResolution, reduced);
    LogClose();
    EXPECT_NE(ReadFile("debug.log").find("[ WARN ] Data file: '" + path + "' " + reduced + "\n"), std::string::npos);
    LogOpen();

    // A volume the driver holds is drawn whole.
    Load(Write("narrow.dat", 5, 3, 3, std::vector<uint16_t>(45, 1000)));
    EXPECT_EQ(renderer->GetDimX(), 5u);
    EXPECT_TRUE(renderer->reducedResolution.empty());
}

TEST_F(VolumeLoadTest, RefusesWhatTheMemoryLimitCannotHold)
{
    // 30 x 20 x 10 pads to 32 x 32 x 16: 16384 samples. Ray casting holds 2
    // bytes a sample for the grid, 8 for the gradient texture (half floats:
    // the gradient and the density), one slab of 16 planes of its texels
    // (131072 bytes) and 8 bytes for each of the 31 x 21 x 11 bricks of one
    // voxel of the ray caster's empty-space leaps (laid half a voxel off the
    // voxels, so one more a side than the data fill): 352200 bytes. Without
    // the gradient texture and its slab, which it can do without, but with 2
    // bytes a sample for the density texture instead, 122824.
    const std::string path = Write("limited.dat", 30, 20, 10, Spread(6000));
    auto refusal = [&](uint64_t needed, const char* what) {
        return "[ WARN ] Data file: '" + path + "' needs " + std::to_string(needed) +
               " bytes for its padded grid of 32 x 32 x 16 samples" + what +
               " and the textures of the current method, more than the " + std::to_string(needed - 1) +
               " bytes of this machine's memory\n";
    };
    VolumeRenderer::SetMemoryLimit(122823);
    EXPECT_FALSE(Load(path));
    EXPECT_FALSE(renderer->IsLoaded());
    EXPECT_EQ(Logged(), refusal(122824, ""));
    for (const uint64_t limit : {uint64_t(122824), uint64_t(352199), uint64_t(352200)}) {
        VolumeRenderer::SetMemoryLimit(limit);
        Load(path);
        VolumeRenderer::SetMemoryLimit(0);
        EXPECT_EQ(renderer->GetDimX(), 30u);
        EXPECT_EQ(renderer->gradientsFromDensities, limit < 352200) << limit;
        EXPECT_EQ(renderer->gradientTexture == VolumeRenderer::none, limit < 352200) << limit;
    }

    // The gradient colour map of the volume texture cannot do without the
    // gradient texture: the grid, the gradient texture and its slab, and 2
    // bytes a sample for the 3D texture.
    renderer->SetRenderMethod(VolumeRenderer::VolumeTexture);
    renderer->SetClassification(VolumeRenderer::ShaderClassification);
    renderer->SetColorMapType(VolumeRenderer::IntensityGradient);
    // A fresh log: the lean loads above noted that they do without it.
    LogClose();
    LogOpen();
    VolumeRenderer::SetMemoryLimit(327679);
    EXPECT_FALSE(Load(path));
    EXPECT_EQ(Logged(), refusal(327680, ", its gradient texture"));
    // The volume loaded before stays.
    EXPECT_TRUE(renderer->IsLoaded());

    // Exactly enough is enough.
    VolumeRenderer::SetMemoryLimit(327680);
    Load(path);
    VolumeRenderer::SetMemoryLimit(0);
    EXPECT_EQ(renderer->GetDimX(), 30u);
    EXPECT_EQ(renderer->LoadPeakBytes(), 327680u);
    EXPECT_NE(renderer->gradientTexture, VolumeRenderer::none);
}

TEST_F(VolumeLoadDeathTest, RefusesWhatMemoryCannotHoldAndEndsOnlyWhereTheDriverRunsOut)
{
    GLint max3d = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3d);
    ASSERT_GE(max3d, 1024);

    // A small file whose header asks for more than the whole machine holds is
    // refused before anything is allocated: the largest header, 2^48 samples
    // counted in 64 bits, must be read whole before it could be reduced.
    const uint64_t memory = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
    const std::string huge = Write("huge.dat", 65535, 65535, 65535, {});
    EXPECT_FALSE(Load(huge));
    const std::string log = Logged();
    const std::string head = "[ WARN ] Data file: '" + huge + "' needs ";
    const std::string tail =
        " bytes for its padded grid of 65536 x 65536 x 65536 samples and the textures of the "
        "current method, more than the " +
        std::to_string(memory) + " bytes of this machine's memory\n";
    // Checks that go on where they fail: a death test below runs this test
    // again up to its own statement, with a fresh log.
    const bool framed = log.rfind(head, 0) == 0 && log.size() > head.size() + tail.size() &&
                        log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
    EXPECT_TRUE(framed) << log;
    EXPECT_GT(framed ? std::stod(log.substr(head.size())) : 0.0, std::ldexp(1.0, 49)) << log;

    // 2 GiB of densities against 512 MiB of headroom.
    const std::string grid = Write("grid.dat", 1024, 1024, 1024, {});
    // The child tells by its status that the load failed without ending it.
    EXPECT_EXIT(
        {
            LogClose();
            LogOpen();
            LimitAddressSpace(uint64_t(512) << 20);
            const bool loaded = Load(grid);
            LogClose();
            std::_Exit(loaded ? 0 : 5);
        },
        testing::ExitedWithCode(5), "");
    EXPECT_EQ(ReadFile("debug.log"), "[ WARN ] Data file: '" + grid +
                                         "' needs 2147483648 bytes for its padded grid of 1024 x 1024 x 1024 "
                                         "samples, which cannot be allocated\n");

    // 512 MiB of densities fit, the gradient texture that the gradient colour
    // map needs (2 GiB of half floats) does not.
    const std::string gradients = Write("gradients.dat", 1024, 512, 512, {});
    EXPECT_EXIT(
        {
            renderer->SetRenderMethod(VolumeRenderer::VolumeTexture);
            renderer->SetClassification(VolumeRenderer::ShaderClassification);
            renderer->SetColorMapType(VolumeRenderer::IntensityGradient);
            LimitAddressSpace(uint64_t(768) << 20);
            Load(gradients);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile("debug.log"), "[ WARN ] Data file: '" + gradients +
                                         "' ends early: 268435456 of 268435456 samples are missing and read as "
                                         "0\n[FAILED] Data file: '" +
                                         gradients +
                                         "' needs 2147483648 bytes for its gradient texture of 1024 x 512 x 512 "
                                         "texels, which cannot be allocated");
}
}  // namespace
