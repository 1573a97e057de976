// Loading a volume data file into the padded grid, and the data derived from
// it: the histogram and the gradient vectors.
#include "Volume.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "Log.h"

namespace {
[[noreturn]] void FailLoad(const char* fileName, const std::string& cause)
{
    LogFailed(("Data file: '" + std::string(fileName) + "' " + cause).c_str());
}

void CheckGlError(int line)
{
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", line);
    }
}

uint16_t ReadU16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
}  // namespace

void VolumeRenderer::Load(const char* fileName)
{
    SetupLighting();
    ReleaseVolumeData();
    if (!fileName) {
        return;
    }

    ReadVolumeData(fileName);
    BuildGradientTexture(gradients);
    delete[] gradients;
    gradients = nullptr;

    BuildTransferTexture();
    LoadShaders();
    RebuildTextures();
    CheckGlError(__LINE__);
}

// The steps of a load that need no OpenGL context beyond the size limits: the
// padded grid, its value check, the histogram and the gradient buffer.
void VolumeRenderer::ReadVolumeData(const char* fileName)
{
    ReadDensities(fileName);

    ComputeHistogram();
    if (maxDensity > 4096) {
        LogFailed("Data file: Density data value exceeds maximum of 2^12 (4096)");
    }

    gradients = ComputeGradients(densities, float(maxDensity), texDimX, texDimY, texDimZ);
    if (!gradients) {
        const uint64_t bytes = uint64_t(texDimX) * texDimY * texDimZ * 12;
        FailLoad(fileName, "needs " + std::to_string(bytes) + " bytes for its gradients, which cannot be allocated");
    }
}

// Opens the file, sets the sizes and fills a new padded grid from it.
void VolumeRenderer::ReadDensities(const char* fileName)
{
    delete[] densities;
    densities = nullptr;
    FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        FailLoad(fileName, std::string("cannot be opened: ") + std::strerror(errno));
    }
    unsigned char header[6];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) {
        std::fclose(file);
        FailLoad(fileName, "is shorter than its 6-byte header");
    }
    dimX = ReadU16(header);
    dimY = ReadU16(header + 2);
    dimZ = ReadU16(header + 4);
    if (dimX == 0 || dimY == 0 || dimZ == 0) {
        std::fclose(file);
        FailLoad(fileName, "has a size of 0 (" + std::to_string(dimX) + " x " + std::to_string(dimY) + " x " +
                               std::to_string(dimZ) + ")");
    }

    texDimX = uint32_t(NextPowerOfTwo(dimX));
    texDimY = uint32_t(NextPowerOfTwo(dimY));
    texDimZ = uint32_t(NextPowerOfTwo(dimZ));
    texCoordMaxX = float(double(dimX) / double(texDimX));
    texCoordMaxY = float(double(dimY) / double(texDimY));
    texCoordMaxZ = float(double(dimZ) / double(texDimZ));
    sliceCountX = dimX;
    sliceCountY = dimY;
    sliceCountZ = dimZ;

    const std::string padded =
        std::to_string(texDimX) + " x " + std::to_string(texDimY) + " x " + std::to_string(texDimZ);
    GLint max3d = 0, max2d = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3d);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max2d);
    const uint32_t largest = std::max(texDimX, std::max(texDimY, texDimZ));
    if (max3d > 0 && largest > uint32_t(max3d)) {
        std::fclose(file);
        FailLoad(fileName, "needs a 3D texture of " + padded + " texels, but the OpenGL driver allows at most " +
                               std::to_string(max3d) + " per side");
    }
    if (max2d > 0 && largest > uint32_t(max2d)) {
        std::fclose(file);
        FailLoad(fileName, "needs slice textures of up to " + std::to_string(largest) +
                               " texels per side, but the OpenGL driver allows at most " + std::to_string(max2d));
    }

    // A corrupt header must not make a small file fill the machine's memory:
    // the grid and the gradient buffer (14 bytes a voxel) have to fit in it.
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    const uint64_t memory = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
    if (memory > 0 && count > memory / 14) {
        std::fclose(file);
        FailLoad(fileName, "needs " + std::to_string(count * 14) + " bytes for its padded grid of " + padded +
                               " samples and their gradients, more than the " + std::to_string(memory) +
                               " bytes of this machine's memory");
    }
    densities = new (std::nothrow) uint16_t[count]();
    if (!densities) {
        std::fclose(file);
        FailLoad(fileName, "needs " + std::to_string(count * 2) + " bytes for its padded grid of " + padded +
                               " samples, which cannot be allocated");
    }

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
}

void VolumeRenderer::ComputeHistogram()
{
    // Maximum and counts in one pass over all 16-bit values, then cut to size.
    std::vector<uint32_t> counts(65536, 0);
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    for (uint64_t i = 0; i < count; ++i) {
        ++counts[densities[i]];
    }
    maxDensity = 0;
    for (uint32_t v = 65535; v > 0; --v) {
        if (counts[v] != 0) {
            maxDensity = v;
            break;
        }
    }
    delete[] histogram;
    histogram = new uint32_t[maxDensity + 1];
    std::memcpy(histogram, counts.data(), sizeof(uint32_t) * (maxDensity + 1));
}

float* VolumeRenderer::ComputeGradients(const uint16_t* densities, float divisor, uint32_t texDimX, uint32_t texDimY,
                                        uint32_t texDimZ)
{
    const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
    float* result = new (std::nothrow) float[count * 3];
    if (!result) {
        return nullptr;
    }

    // Every 16-bit value divided once, so the grid is read in a single pass; an
    // all-zero volume (divisor 0) gets zero quotients and so zero interior
    // gradients instead of 0 / 0.
    std::vector<float> quotient(65536, 0.0f);
    if (divisor != 0.0f) {
        for (size_t v = 0; v < quotient.size(); ++v) {
            quotient[v] = float(v) / divisor;
        }
    }

    const uint64_t strideY = texDimX;
    const uint64_t strideZ = uint64_t(texDimX) * texDimY;
    auto set = [result](uint64_t i, float x, float y, float z) {
        result[3 * i] = x;
        result[3 * i + 1] = y;
        result[3 * i + 2] = z;
    };

    for (uint32_t z = 0; z < texDimZ; ++z) {
        for (uint32_t y = 0; y < texDimY; ++y) {
            const uint64_t row = z * strideZ + y * strideY;
            const bool faceRow = y == 0 || y == texDimY - 1 || z == 0 || z == texDimZ - 1;
            if (faceRow) {
                // The y faces win over the z faces.
                const float gy = y == 0 ? -1.0f : (y == texDimY - 1 ? 1.0f : 0.0f);
                const float gz = gy != 0.0f ? 0.0f : (z == 0 ? -1.0f : 1.0f);
                for (uint32_t x = 0; x < texDimX; ++x) {
                    set(row + x, 0.0f, gy, gz);
                }
            } else {
                const uint16_t* d = densities + row;
                float* g = result + 3 * row;
                for (uint32_t x = 1; x + 1 < texDimX; ++x) {
                    g[3 * x] = quotient[d[x - 1]] - quotient[d[x + 1]];
                    g[3 * x + 1] = quotient[d[x - strideY]] - quotient[d[x + strideY]];
                    g[3 * x + 2] = quotient[d[x - strideZ]] - quotient[d[x + strideZ]];
                }
            }
            // The x faces win over every other rule; x = 0 over x = last.
            set(row + texDimX - 1, 1.0f, 0.0f, 0.0f);
            set(row, -1.0f, 0.0f, 0.0f);
        }
    }
    return result;
}
