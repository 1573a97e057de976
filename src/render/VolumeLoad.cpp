// Loading a volume data file into the padded grid, and the data derived from
// it: the histogram and the gradient vectors, computed on all cores.
#include "VolumeRenderer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "Log.h"
#include "PowerOfTwo.h"
#include "VolumeKernels.h"

namespace {
// The log entry of a refused file; the user's message is the cause alone.
std::string Refusal(const char* fileName, const std::string& cause)
{
    return "Data file: '" + std::string(fileName) + "' " + cause;
}

constexpr const char* overRangeEntry = "Data file: Density data value exceeds maximum of 2^12 (4096)";
constexpr const char* overRangeCause = "holds a density above 4096, the largest a volume data file may hold";

void CheckGlError(int line)
{
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", line);
    }
}

uint16_t ReadU16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Whether the driver can hold a 3D texture of these sizes and format.
bool DriverHolds(uint32_t x, uint32_t y, uint32_t z, GLint internalFormat, GLenum format, GLenum type)
{
    // Without a driver's entry points (the load's file steps alone) there is
    // nothing to ask.
    if (glTexImage3D == nullptr) {
        return true;
    }
    glTexImage3D(GL_PROXY_TEXTURE_3D, 0, internalFormat, GLsizei(x), GLsizei(y), GLsizei(z), 0, format, type, nullptr);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &width);
    return width != 0;
}
}  // namespace

bool VolumeRenderer::Refuse(const std::string& entry, const std::string& cause)
{
    loadError = cause;
    LogWarning(entry.c_str());
    return false;
}

bool VolumeRenderer::Load(const char* fileName)
{
    loadError.clear();
    if (!fileName) {
        SetupLighting();
        ReleaseVolumeData();
        return true;
    }
    // What refuses the file is found before the volume shown is let go, so
    // that a refused file leaves it as it was; a pass over the samples for
    // their range is worth it only where there is a volume to keep.
    if (!CheckDataFile(fileName, IsLoaded())) {
        return false;
    }
    SetupLighting();
    ReleaseVolumeData();
    // A .dat file has cubic voxels.
    voxelSpacing = Vec3{1.0f, 1.0f, 1.0f};

    if (!ReadVolumeData(fileName)) {
        ReleaseVolumeData();
        return false;
    }
    BuildLoadedTextures();
    return true;
}

FILE* VolumeRenderer::OpenDataFile(const char* fileName, uint32_t size[3])
{
    FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        const std::string cause = std::string("cannot be opened: ") + std::strerror(errno);
        Refuse(Refusal(fileName, cause), cause);
        return nullptr;
    }
    unsigned char header[6];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) {
        std::fclose(file);
        Refuse(Refusal(fileName, "is shorter than its 6-byte header"), "is shorter than its 6-byte header");
        return nullptr;
    }
    for (int a = 0; a < 3; ++a) {
        size[a] = ReadU16(header + 2 * a);
    }
    if (size[0] == 0 || size[1] == 0 || size[2] == 0) {
        std::fclose(file);
        const std::string cause = "has a size of 0 (" + std::to_string(size[0]) + " x " + std::to_string(size[1]) +
                                  " x " + std::to_string(size[2]) + ")";
        Refuse(Refusal(fileName, cause), cause);
        return nullptr;
    }
    return file;
}

bool VolumeRenderer::CheckDataFile(const char* fileName, bool samples)
{
    uint32_t size[3];
    FILE* file = OpenDataFile(fileName, size);
    if (!file) {
        return false;
    }
    uint32_t drawn[3];
    const std::string refusal = PlanGrid(size[0], size[1], size[2], drawn);
    if (!refusal.empty()) {
        std::fclose(file);
        return Refuse(Refusal(fileName, refusal), refusal);
    }
    bool inRange = true;
    if (samples) {
        std::vector<uint16_t> block(size_t(1) << 20);
        size_t n = 0;
        while (inRange && (n = std::fread(block.data(), sizeof(uint16_t), block.size(), file)) > 0) {
            inRange = VolumeKernels::Maximum(block.data(), n) <= 4096;
        }
    }
    std::fclose(file);
    return inRange || Refuse(overRangeEntry, overRangeCause);
}

void VolumeRenderer::BuildLoadedTextures()
{
    ++generation;
    gradientsFromDensities = !UsesGradientTexture();
    if (gradientsFromDensities) {
        DeleteGradientTexture();
        LogWarning(("Data file: '" + volumeFile + "' is too large for a gradient texture of " +
                    std::to_string(texDimX) + " x " + std::to_string(texDimY) + " x " + std::to_string(texDimZ) +
                    " texels; the ray caster takes its gradients from the densities, which is slower")
                       .c_str());
    } else {
        BuildGradientTexture();
    }

    DeleteCutFaceTexture();
    BuildTransferTexture();
    LoadShaders();
    RebuildTextures();
    CheckGlError(__LINE__);
}

bool VolumeRenderer::LoadGrid(const char* name, uint32_t x, uint32_t y, uint32_t z, const uint16_t* samples,
                              Vec3 spacing, const std::function<void(uint64_t first, uint64_t end)>& consumed)
{
    loadError.clear();
    SetupLighting();
    ReleaseVolumeData();
    volumeFile = name;
    SizeGrid(x, y, z);
    voxelSpacing = spacing;
    const uint64_t planeSamples = uint64_t(x) * y;
    // As a .dat file: where the ray caster draws the grid whole without a
    // gradient texture, only the density texture holds it.
    if (Streams(x, y, z)) {
        const uint32_t dx = texDimX, dy = texDimY;
        const bool streamed = StreamDensities([=, &consumed](uint32_t k, uint16_t* plane) {
            std::memset(plane, 0, sizeof(uint16_t) * dx * dy);
            if (k >= z) {
                return;
            }
            for (uint32_t j = 0; j < y; ++j) {
                std::memcpy(plane + uint64_t(j) * dx, samples + (uint64_t(k) * y + j) * x, sizeof(uint16_t) * x);
            }
            if (consumed) {
                consumed(k * planeSamples, (k + 1) * planeSamples);
            }
        });
        if (!streamed) {
            ReleaseVolumeData();
            return false;
        }
        BuildLoadedTextures();
        return true;
    }
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    densities = new (std::nothrow) uint16_t[count];
    if (!densities) {
        const std::string cause =
            "needs " + std::to_string(count * 2) + " bytes for its padded grid, which cannot be allocated";
        return Refuse(Refusal(name, cause), cause);
    }
    uint16_t* const grid = densities;
    const uint32_t planes = texDimZ, dx = texDimX, dy = texDimY;
    VolumeKernels::ParallelFor(planes, 1, [=, &consumed](uint64_t begin, uint64_t end) {
        for (uint64_t k = begin; k < end; ++k) {
            uint16_t* plane = grid + k * dx * dy;
            if (k >= z) {
                std::memset(plane, 0, sizeof(uint16_t) * dx * dy);
                continue;
            }
            for (uint32_t j = 0; j < dy; ++j) {
                uint16_t* row = plane + uint64_t(j) * dx;
                if (j < y) {
                    std::memcpy(row, samples + (k * y + j) * x, sizeof(uint16_t) * x);
                    std::memset(row + x, 0, sizeof(uint16_t) * (dx - x));
                } else {
                    std::memset(row, 0, sizeof(uint16_t) * dx);
                }
            }
            if (consumed) {
                consumed(k * planeSamples, (k + 1) * planeSamples);
            }
        }
    });
    ComputeHistogram();
    if (!ReduceGridForDriver()) {
        ReleaseVolumeData();
        return false;
    }
    BuildLoadedTextures();
    return true;
}

void VolumeRenderer::SizeGrid(uint32_t x, uint32_t y, uint32_t z)
{
    dimX = x;
    dimY = y;
    dimZ = z;
    texDimX = uint32_t(NextPowerOfTwo(dimX));
    texDimY = uint32_t(NextPowerOfTwo(dimY));
    texDimZ = uint32_t(NextPowerOfTwo(dimZ));
    texCoordMaxX = float(double(dimX) / double(texDimX));
    texCoordMaxY = float(double(dimY) / double(texDimY));
    texCoordMaxZ = float(double(dimZ) / double(texDimZ));
    sliceCountX = dimX;
    sliceCountY = dimY;
    sliceCountZ = dimZ;
}

std::string VolumeRenderer::GridRefusal(uint32_t x, uint32_t y, uint32_t z)
{
    uint32_t drawn[3];
    return PlanGrid(x, y, z, drawn);
}

std::string VolumeRenderer::PlanGrid(uint32_t x, uint32_t y, uint32_t z, uint32_t drawn[3])
{
    const uint32_t kept[6] = {dimX, dimY, dimZ, texDimX, texDimY, texDimZ};
    auto size = [this](uint32_t sx, uint32_t sy, uint32_t sz) {
        dimX = sx;
        dimY = sy;
        dimZ = sz;
        texDimX = uint32_t(NextPowerOfTwo(sx));
        texDimY = uint32_t(NextPowerOfTwo(sy));
        texDimZ = uint32_t(NextPowerOfTwo(sz));
    };
    size(x, y, z);
    const std::string padded =
        std::to_string(texDimX) + " x " + std::to_string(texDimY) + " x " + std::to_string(texDimZ);
    // The whole grid is read before it is reduced.
    const uint64_t whole = 2 * uint64_t(texDimX) * texDimY * texDimZ;
    drawn[0] = x;
    drawn[1] = y;
    drawn[2] = z;
    while (!DriverHoldsTextures() && std::max({drawn[0], drawn[1], drawn[2]}) > 1) {
        // Halve the side whose padded size is largest; the first of equals.
        const uint32_t sides[3] = {texDimX, texDimY, texDimZ};
        const int axis = int(std::max_element(sides, sides + 3) - sides);
        drawn[axis] = (drawn[axis] + 1) / 2;
        size(drawn[0], drawn[1], drawn[2]);
    }
    const bool reduced = drawn[0] != x || drawn[1] != y || drawn[2] != z;
    std::string cause;
    const uint64_t memory = MemoryLimit();
    const uint64_t peak = LoadPeakBytes() + (reduced ? whole : 0);
    if (!DriverHoldsTextures()) {
        cause = "cannot be drawn: the OpenGL driver holds none of the current method's textures for it";
    } else if (memory > 0 && peak > memory) {
        // A corrupt header must not make a small file fill the machine's
        // memory: everything the load will hold at its peak has to fit in it.
        cause = "needs " + std::to_string(peak) + " bytes for its padded grid of " + padded +
                (UsesGradientTexture() ? " samples, its gradient texture" : " samples") +
                " and the textures of the current method, more than the " + std::to_string(memory) +
                " bytes of this machine's memory";
    }
    dimX = kept[0];
    dimY = kept[1];
    dimZ = kept[2];
    texDimX = kept[3];
    texDimY = kept[4];
    texDimZ = kept[5];
    return cause;
}

bool VolumeRenderer::DriverHoldsTextures() const
{
    GLint max3d = 0, max2d = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3d);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max2d);
    const uint32_t largest = std::max({texDimX, texDimY, texDimZ});
    if ((max3d > 0 && largest > uint32_t(max3d)) || (max2d > 0 && largest > uint32_t(max2d))) {
        return false;
    }
    switch (renderMethod) {
        case VolumeTexture:
            return classification == PreClassification
                       ? DriverHolds(texDimX, texDimY, texDimZ, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE)
                       : DriverHolds(texDimX, texDimY, texDimZ, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
        case RayCasting:
            return DriverHolds(texDimX, texDimY, texDimZ, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
        default:
            return true;
    }
}

bool VolumeRenderer::ReduceGrid(uint32_t x, uint32_t y, uint32_t z)
{
    const uint32_t whole[3] = {dimX, dimY, dimZ};
    const uint32_t drawn[3] = {x, y, z};
    // Each drawn voxel is the mean of a block of factor[a] voxels a side, fewer
    // at the far faces.
    uint32_t factor[3];
    for (int a = 0; a < 3; ++a) {
        factor[a] = 1;
        while ((whole[a] + factor[a] - 1) / factor[a] > drawn[a]) {
            factor[a] *= 2;
        }
    }
    const uint16_t* const source = densities;
    const uint64_t sourceRow = texDimX, sourcePlane = uint64_t(texDimX) * texDimY;
    SizeGrid(x, y, z);
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    uint16_t* const grid = new (std::nothrow) uint16_t[count]();
    if (!grid) {
        const std::string cause = "needs " + std::to_string(count * 2) +
                                  " bytes for its grid at reduced resolution, which cannot be allocated";
        return Refuse(Refusal(volumeFile.c_str(), cause), cause);
    }
    const uint64_t row = texDimX, plane = uint64_t(texDimX) * texDimY;
    VolumeKernels::ParallelFor(z, 1, [&](uint64_t begin, uint64_t end) {
        for (uint64_t k = begin; k < end; ++k) {
            const uint64_t z0 = k * factor[2], z1 = std::min<uint64_t>(z0 + factor[2], whole[2]);
            for (uint32_t j = 0; j < y; ++j) {
                const uint64_t y0 = uint64_t(j) * factor[1], y1 = std::min<uint64_t>(y0 + factor[1], whole[1]);
                for (uint32_t i = 0; i < x; ++i) {
                    const uint64_t x0 = uint64_t(i) * factor[0], x1 = std::min<uint64_t>(x0 + factor[0], whole[0]);
                    uint64_t sum = 0;
                    for (uint64_t sz = z0; sz < z1; ++sz) {
                        for (uint64_t sy = y0; sy < y1; ++sy) {
                            const uint16_t* line = source + sz * sourcePlane + sy * sourceRow;
                            for (uint64_t sx = x0; sx < x1; ++sx) {
                                sum += line[sx];
                            }
                        }
                    }
                    const uint64_t n = (z1 - z0) * (y1 - y0) * (x1 - x0);
                    grid[k * plane + j * row + i] = uint16_t((sum + n / 2) / n);
                }
            }
        }
    });
    delete[] densities;
    densities = grid;
    // The box keeps its sides: the drawn voxels are larger.
    voxelSpacing = Vec3{voxelSpacing.x * float(whole[0]) / float(x), voxelSpacing.y * float(whole[1]) / float(y),
                        voxelSpacing.z * float(whole[2]) / float(z)};
    reducedResolution = "is drawn at a reduced resolution of " + std::to_string(x) + " x " + std::to_string(y) + " x " +
                        std::to_string(z) + " of its " + std::to_string(whole[0]) + " x " + std::to_string(whole[1]) +
                        " x " + std::to_string(whole[2]) +
                        " samples: the OpenGL driver cannot hold the textures of the current method at full "
                        "resolution";
    LogWarning(("Data file: '" + volumeFile + "' " + reducedResolution).c_str());
    return true;
}

// Reduces the grid where the driver cannot hold the current method's textures
// of it, and counts it again.
bool VolumeRenderer::ReduceGridForDriver()
{
    uint32_t drawn[3];
    PlanGrid(dimX, dimY, dimZ, drawn);
    if (drawn[0] != dimX || drawn[1] != dimY || drawn[2] != dimZ) {
        if (!ReduceGrid(drawn[0], drawn[1], drawn[2])) {
            return false;
        }
        ComputeHistogram();
    }
    return true;
}

// The steps of a load that need no OpenGL context beyond the size limits: the
// padded grid, its value check and the histogram.
bool VolumeRenderer::ReadVolumeData(const char* fileName)
{
    if (!ReadDensities(fileName)) {
        return false;
    }
    // A streamed grid has its histogram already.
    if (densities) {
        ComputeHistogram();
    }
    if (maxDensity > 4096) {
        return Refuse(overRangeEntry, overRangeCause);
    }
    return ReduceGridForDriver();
}

namespace {
uint64_t memoryLimit = 0;

// Bytes of one or two work slabs: two take turns where there is more than one slab.
uint64_t SlabBuffers(const VolumeRenderer& r, uint64_t bytesPerPlane, uint32_t planes)
{
    const uint32_t per = std::min(r.SlabPlanes(bytesPerPlane), planes);
    return (per < planes ? 2 : 1) * uint64_t(per) * bytesPerPlane;
}
}  // namespace

void VolumeRenderer::SetMemoryLimit(uint64_t bytes) { memoryLimit = bytes; }

uint64_t VolumeRenderer::MemoryLimit()
{
    return memoryLimit ? memoryLimit : uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
}

uint32_t VolumeRenderer::SlabPlanes(uint64_t bytesPerPlane) const
{
    return uint32_t(std::clamp<uint64_t>(slabBytes / std::max<uint64_t>(bytesPerPlane, 1), 1, 65536));
}

namespace {
// The half-float gradient texture (8 bytes a texel: the gradient and the
// density) and the slabs it is built from.
uint64_t GradientBytes(const VolumeRenderer& r)
{
    const uint64_t planeXY = uint64_t(r.texDimX) * r.texDimY;
    return 8 * planeXY * r.texDimZ + SlabBuffers(r, 8 * planeXY, r.texDimZ);
}
}  // namespace

bool VolumeRenderer::UsesGradientTexture() const
{
    if (renderMethod != RayCasting && classification == ShaderClassification && colorMapType == IntensityGradient) {
        return true;
    }
    const uint64_t memory = MemoryLimit();
    return GradientBytes(*this) <= gradientTextureBudget &&
           DriverHolds(texDimX, texDimY, texDimZ, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT) &&
           (memory == 0 || LoadPeakBytes(true) <= memory);
}

Vec3 VolumeRenderer::GradientScale() const
{
    if (maxDensity == 0) {
        return Vec3{0.0f, 0.0f, 0.0f};
    }
    // Normalised 16-bit densities over the largest density, per unit length
    // of the finest axis.
    const float finest = std::min({voxelSpacing.x, voxelSpacing.y, voxelSpacing.z});
    const float scale = 65535.0f / float(maxDensity);
    return Vec3{scale * finest / voxelSpacing.x, scale * finest / voxelSpacing.y, scale * finest / voxelSpacing.z};
}

uint64_t VolumeRenderer::LoadPeakBytes() const { return LoadPeakBytes(UsesGradientTexture()); }

uint64_t VolumeRenderer::LoadPeakBytes(bool withGradients) const
{
    const uint64_t planeXY = uint64_t(texDimX) * texDimY;
    const uint64_t voxels = planeXY * texDimZ;
    // The grid and, where it is built, the gradient texture.
    uint64_t bytes = 2 * voxels + (withGradients ? GradientBytes(*this) : 0);
    const bool pre = classification == PreClassification;
    switch (renderMethod) {
        case Slices: {
            // Three stacks of the data planes, gathered (and classified) a block at a time.
            const uint64_t texel = pre ? 4 : 2;
            const uint64_t planeXZ = uint64_t(texDimX) * texDimZ, planeYZ = uint64_t(texDimY) * texDimZ;
            bytes += texel * (dimZ * planeXY + dimY * planeXZ + dimX * planeYZ);
            const uint64_t z = pre ? SlabBuffers(*this, 4 * planeXY, dimZ) : 0;
            const uint64_t y =
                SlabBuffers(*this, texel * planeXZ, dimY) + (pre ? 2 * planeXZ * SlabPlanes(4 * planeXZ) : 0);
            const uint64_t x =
                SlabBuffers(*this, texel * planeYZ, dimX) + (pre ? 2 * planeYZ * SlabPlanes(4 * planeYZ) : 0);
            bytes += std::max(z, std::max(y, x));
            break;
        }
        case VolumeTexture:
            bytes += pre ? 4 * voxels + SlabBuffers(*this, 4 * planeXY, texDimZ) : 2 * voxels;
            break;
        case RayCasting: {
            // The density texture, unless the gradient texture carries the
            // densities, and per brick its density range (4 bytes), its
            // occupancy and distance bytes and their texture (1 byte each).
            const uint64_t bricks = BrickGrid::BricksFor(dimX, dimY, dimZ, BrickGrid::SideFor(dimX, dimY, dimZ));
            bytes += (withGradients ? 0 : 2 * voxels) + 8 * bricks;
            break;
        }
        default:
            break;
    }
    return bytes;
}

namespace {
// Reads plane z of a .dat file's samples into a padded plane; zeros beyond
// the data and after the file's end. Counts the samples read.
void ReadPlane(FILE* file, uint32_t z, uint32_t dimX, uint32_t dimY, uint32_t dimZ, uint32_t texDimX, uint32_t texDimY,
               uint16_t* out, uint64_t& read, bool& ended)
{
    std::memset(out, 0, sizeof(uint16_t) * texDimX * texDimY);
    if (z >= dimZ || ended) {
        return;
    }
    const uint32_t rowsPerBlock = dimX == texDimX ? dimY : 1;
    const size_t blockSamples = size_t(dimX) * rowsPerBlock;
    for (uint32_t y = 0; y < dimY && !ended; y += rowsPerBlock) {
        const size_t n = std::fread(out + uint64_t(y) * texDimX, sizeof(uint16_t), blockSamples, file);
        read += n;
        if (n < blockSamples) {
            ended = true;
            out[uint64_t(y) * texDimX + n] = 0;
        }
    }
}
}  // namespace

// Opens the file, sets the sizes and fills a new padded grid from it.
bool VolumeRenderer::ReadDensities(const char* fileName)
{
    delete[] densities;
    densities = nullptr;
    volumeFile = fileName;
    uint32_t size[3];
    FILE* file = OpenDataFile(fileName, size);
    if (!file) {
        return false;
    }
    dimX = size[0];
    dimY = size[1];
    dimZ = size[2];
    uint32_t drawn[3];
    const std::string refusal = PlanGrid(dimX, dimY, dimZ, drawn);
    if (!refusal.empty()) {
        std::fclose(file);
        return Refuse(Refusal(fileName, refusal), refusal);
    }
    SizeGrid(dimX, dimY, dimZ);
    // A volume the ray caster draws whole without a gradient texture needs
    // its grid only on the way into the density texture.
    if (Streams(dimX, dimY, dimZ)) {
        uint64_t read = 0;
        bool ended = false;
        const bool streamed = StreamDensities([&](uint32_t z, uint16_t* plane) {
            ReadPlane(file, z, dimX, dimY, dimZ, texDimX, texDimY, plane, read, ended);
        });
        std::fclose(file);
        const uint64_t expected = uint64_t(dimX) * dimY * dimZ;
        if (streamed && read < expected) {
            LogWarning(("Data file: '" + volumeFile + "' ends early: " + std::to_string(expected - read) + " of " +
                        std::to_string(expected) + " samples are missing and read as 0")
                           .c_str());
        }
        return streamed;
    }
    const std::string padded =
        std::to_string(texDimX) + " x " + std::to_string(texDimY) + " x " + std::to_string(texDimZ);
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    densities = new (std::nothrow) uint16_t[count];
    if (!densities) {
        std::fclose(file);
        const std::string cause = "needs " + std::to_string(count * 2) + " bytes for its padded grid of " + padded +
                                  " samples, which cannot be allocated";
        return Refuse(Refusal(fileName, cause), cause);
    }
    // Cleared on all cores: the first touch of fresh memory is most of the cost.
    uint16_t* const grid = densities;
    VolumeKernels::ParallelFor(count, uint64_t(1) << 20, [grid](uint64_t begin, uint64_t end) {
        std::memset(grid + begin, 0, sizeof(uint16_t) * (end - begin));
    });

    // The file is little-endian, like every platform this builds for; blocks go
    // straight into place. Rows without padding make each plane one block.
    const uint32_t rowsPerBlock = dimX == texDimX ? dimY : 1;
    const size_t blockSamples = size_t(dimX) * rowsPerBlock;
    uint64_t read = 0;
    bool ended = false;
    for (uint32_t z = 0; z < dimZ && !ended; ++z) {
        for (uint32_t y = 0; y < dimY && !ended; y += rowsPerBlock) {
            uint16_t* block = densities + (uint64_t(z) * texDimY + y) * texDimX;
            const size_t n = std::fread(block, sizeof(uint16_t), blockSamples, file);
            read += n;
            ended = n < blockSamples;
            if (ended) {
                // A sample cut off by the end of the file counts as missing.
                block[n] = 0;
            }
        }
    }
    std::fclose(file);
    const uint64_t expected = uint64_t(dimX) * dimY * dimZ;
    if (read < expected) {
        LogWarning(("Data file: '" + std::string(fileName) + "' ends early: " + std::to_string(expected - read) +
                    " of " + std::to_string(expected) + " samples are missing and read as 0")
                       .c_str());
    }
    return true;
}

bool VolumeRenderer::Streams(uint32_t x, uint32_t y, uint32_t z)
{
    uint32_t drawn[3];
    return display != nullptr && glTexImage3D != nullptr && renderMethod == RayCasting &&
           PlanGrid(x, y, z, drawn).empty() && drawn[0] == x && drawn[1] == y && drawn[2] == z &&
           !UsesGradientTexture();
}

bool VolumeRenderer::StreamDensities(const std::function<void(uint32_t z, uint16_t* plane)>& plane)
{
    BuildVolumeTexture(nullptr, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
    volumeTextureHoldsDensities = true;
    brickGrid.Start(dimX, dimY, dimZ);
    const uint64_t planeXY = uint64_t(texDimX) * texDimY;
    // Slabs of a multiple of 4 planes, a multiple of the bricks' side, and one
    // plane more: the next slab's first, which the last layer of bricks
    // reaches.
    const uint32_t planes = streamSlabPlanes ? streamSlabPlanes : SlabPlanes(2 * planeXY);
    const uint32_t per = std::max<uint32_t>(4, planes / 4 * 4);
    std::unique_ptr<uint16_t[]> slab(new (std::nothrow) uint16_t[(per + 1) * planeXY]);
    if (!slab) {
        const std::string cause = "needs " + std::to_string((per + 1) * planeXY * 2) +
                                  " bytes for a slab of its planes, which cannot be allocated";
        return Refuse(Refusal(volumeFile.c_str(), cause), cause);
    }
    std::vector<uint32_t> counts(65536, 0), slabCounts(65536);
    uint32_t layer = 0;
    plane(0, slab.get());
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    for (uint32_t z0 = 0; z0 < texDimZ; z0 += per) {
        const uint32_t n = std::min(per, texDimZ - z0);
        for (uint32_t i = 1; i <= n; ++i) {
            plane(z0 + i, slab.get() + i * planeXY);
        }
        glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, GLint(z0), GLsizei(texDimX), GLsizei(texDimY), GLsizei(n), GL_LUMINANCE,
                        GL_UNSIGNED_SHORT, slab.get());
        VolumeKernels::CountDensities(slab.get(), n * planeXY, slabCounts.data());
        for (uint32_t v = 0; v < 65536; ++v) {
            counts[v] += slabCounts[v];
        }
        uint32_t end = layer;
        while (end < brickGrid.BricksZ() && brickGrid.LastPlane(end) <= z0 + n) {
            ++end;
        }
        brickGrid.BuildLayers(slab.get(), z0, texDimX, texDimY, layer, end);
        layer = end;
        std::memmove(slab.get(), slab.get() + n * planeXY, sizeof(uint16_t) * planeXY);
    }
    glPopClientAttrib();
    CheckGlError(__LINE__);
    SetHistogram(counts.data());
    return true;
}

bool VolumeRenderer::RestoreDensities()
{
    if (densities || !volumeTextureHoldsDensities || volumeTexture == none) {
        return densities != nullptr;
    }
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    densities = new (std::nothrow) uint16_t[count];
    if (!densities) {
        LogFailed(
            ("Volume: Not enough memory for the " + std::to_string(count * 2) + " bytes of the density grid").c_str());
    }
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_3D, 0, GL_LUMINANCE, GL_UNSIGNED_SHORT, densities);
    glPopClientAttrib();
    return true;
}

bool VolumeRenderer::CopyDensities(std::vector<uint16_t>& grid) const
{
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    if (densities) {
        grid.assign(densities, densities + count);
        return true;
    }
    const bool fromVolume = volumeTextureHoldsDensities && volumeTexture != none;
    if (!fromVolume && gradientTexture == none) {
        return false;
    }
    try {
        grid.resize(count);
        std::vector<float> alpha(fromVolume ? 0 : count);
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        if (fromVolume) {
            glBindTexture(GL_TEXTURE_3D, volumeTexture);
            glGetTexImage(GL_TEXTURE_3D, 0, GL_LUMINANCE, GL_UNSIGNED_SHORT, grid.data());
        } else {
            // The gradient texture keeps the density over 4096 in alpha.
            glBindTexture(GL_TEXTURE_3D, gradientTexture);
            glGetTexImage(GL_TEXTURE_3D, 0, GL_ALPHA, GL_FLOAT, alpha.data());
            for (uint64_t i = 0; i < count; ++i) {
                grid[i] = uint16_t(std::lround(std::clamp(alpha[i] * 4096.0f, 0.0f, 4096.0f)));
            }
        }
        glPopClientAttrib();
    } catch (const std::bad_alloc&) {
        grid.clear();
        return false;
    }
    return true;
}

void VolumeRenderer::ComputeHistogram()
{
    // Maximum and counts in one pass over all 16-bit values, then cut to size.
    std::vector<uint32_t> counts(65536, 0);
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    VolumeKernels::CountDensities(densities, count, counts.data());
    SetHistogram(counts.data());
}

void VolumeRenderer::SetHistogram(const uint32_t* counts)
{
    maxDensity = 0;
    for (uint32_t v = 65535; v > 0; --v) {
        if (counts[v] != 0) {
            maxDensity = v;
            break;
        }
    }
    delete[] histogram;
    histogram = new uint32_t[maxDensity + 1];
    std::memcpy(histogram, counts, sizeof(uint32_t) * (maxDensity + 1));
}

float* VolumeRenderer::ComputeGradients(const uint16_t* densities, float divisor, uint32_t texDimX, uint32_t texDimY,
                                        uint32_t texDimZ)
{
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    float* result = new (std::nothrow) float[count * 3];
    if (!result) {
        return nullptr;
    }
    std::vector<float> quotient(65536);
    VolumeKernels::GradientQuotients(divisor, quotient.data());
    VolumeKernels::GradientPlanes(densities, quotient.data(), texDimX, texDimY, texDimZ, 0, texDimZ, result);
    return result;
}

void VolumeRenderer::ComputeGradientSlabs(
    uint32_t slabPlanes, const std::function<void(uint32_t z0, uint32_t planes, const uint16_t* halves)>& take) const
{
    std::vector<float> quotient(65536);
    VolumeKernels::GradientQuotients(float(maxDensity), quotient.data());
    // Per unit length of the finest axis, so that cubic voxels keep their
    // differences as they are and a volume resampled to its finest spacing has
    // the same gradients.
    const float finest = std::min({voxelSpacing.x, voxelSpacing.y, voxelSpacing.z});
    const float axisScale[3] = {finest / voxelSpacing.x, finest / voxelSpacing.y, finest / voxelSpacing.z};
    const uint64_t planeXY = uint64_t(texDimX) * texDimY;
    const uint32_t per = std::min(slabPlanes ? slabPlanes : SlabPlanes(8 * planeXY), texDimZ);
    const size_t each = size_t(per) * planeXY * 4;
    std::unique_ptr<uint16_t[]> first(new (std::nothrow) uint16_t[each]);
    std::unique_ptr<uint16_t[]> second(per < texDimZ ? new (std::nothrow) uint16_t[each] : nullptr);
    if (!first || (per < texDimZ && !second)) {
        LogFailed(Refusal(volumeFile.c_str(), "needs " + std::to_string((second ? 2 : 1) * each * sizeof(uint16_t)) +
                                                  " bytes for the slabs of its gradients, which cannot be allocated")
                      .c_str());
    }
    uint16_t* const buffers[2] = {first.get(), second.get()};
    VolumeKernels::Pipeline(
        texDimZ, per, buffers,
        [this, &quotient, &axisScale](uint32_t z0, uint32_t n, uint16_t* out) {
            VolumeKernels::GradientDensityHalves(densities, quotient.data(), texDimX, texDimY, texDimZ, z0, n, out,
                                                 axisScale);
        },
        take);
}
