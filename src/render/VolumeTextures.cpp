// Textures built from the loaded volume: the lookup texture of the transfer
// function, the gradient texture, the slice stacks and the 3D volume texture.
// The voxel work runs on the worker threads a slab at a time; only this
// thread calls OpenGL.
#include "VolumeRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "Log.h"
#include "TransferFunction.h"
#include "VolumeKernels.h"

namespace {
void DeleteTexture(GLuint& name)
{
    if (name != VolumeRenderer::none) {
        glDeleteTextures(1, &name);
        name = VolumeRenderer::none;
    }
}

void SetTextureParameters(GLenum target)
{
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP);
    if (target == GL_TEXTURE_3D) {
        glTexParameteri(target, GL_TEXTURE_WRAP_R, GL_CLAMP);
    }
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

void CheckGlError(int line)
{
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", line);
    }
}

// The grids are tightly packed: with the default row alignment of 4 bytes, a
// row of one 16-bit texel would be read with a stride of 4.
void BeginTightRows()
{
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

void EndTightRows() { glPopClientAttrib(); }

// A work buffer of the texture builds, or the end of the program.
template <typename T>
std::unique_ptr<T[]> WorkBuffer(uint64_t count)
{
    std::unique_ptr<T[]> buffer(new (std::nothrow) T[count]);
    if (!buffer) {
        LogFailed("Volume: Not enough memory for the texture slabs");
    }
    return buffer;
}

// Rows per task of a gather: about 64 Ki texels.
uint64_t RowGrain(uint32_t width) { return std::max<uint64_t>(1, (uint64_t(1) << 16) / width); }

// Uploads the three stacks from the densities; Texel is uint16_t (densities)
// or uint32_t (colours, classified a block of planes at a time). The worker
// threads gather (and classify) the next block of planes while this thread
// uploads the one before.
template <typename Texel>
void UploadSliceStacks(VolumeRenderer& r, const uint16_t* grid, GLint internalFormat, GLenum format, GLenum type)
{
    constexpr bool classified = std::is_same_v<Texel, uint32_t>;
    BeginTightRows();
    const uint32_t texDimX = r.texDimX, texDimY = r.texDimY, texDimZ = r.texDimZ;
    const uint64_t planeXY = uint64_t(texDimX) * texDimY;

    r.sliceTexturesX.assign(r.dimX, 0);
    r.sliceTexturesY.assign(r.dimY, 0);
    r.sliceTexturesZ.assign(r.dimZ, 0);
    glGenTextures(GLsizei(r.dimX), r.sliceTexturesX.data());
    glGenTextures(GLsizei(r.dimY), r.sliceTexturesY.data());
    glGenTextures(GLsizei(r.dimZ), r.sliceTexturesZ.data());

    auto upload = [&](GLuint name, GLsizei w, GLsizei h, const Texel* texels) {
        glBindTexture(GL_TEXTURE_2D, name);
        SetTextureParameters(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, w, h, 0, format, type, texels);
    };

    // One stack of 'count' planes of w x h texels; gather(k0, n, out) puts the
    // densities of planes k0 to k0 + n - 1 into out, one plane after another.
    auto stack = [&](const std::vector<GLuint>& names, uint32_t w, uint32_t h, uint32_t count, auto&& gather) {
        const uint64_t plane = uint64_t(w) * h;
        const uint32_t per = std::min(r.SlabPlanes(sizeof(Texel) * plane), count);
        std::unique_ptr<Texel[]> first = WorkBuffer<Texel>(per * plane);
        std::unique_ptr<Texel[]> second = per < count ? WorkBuffer<Texel>(per * plane) : nullptr;
        Texel* const buffers[2] = {first.get(), second.get()};
        std::unique_ptr<uint16_t[]> densities = classified ? WorkBuffer<uint16_t>(per * plane) : nullptr;
        auto produce = [&](uint32_t k0, uint32_t n, Texel* out) {
            if constexpr (classified) {
                gather(k0, n, densities.get());
                r.transferFunction->Classify(out, densities.get(), n * plane, r.premultipliedTextures);
            } else {
                gather(k0, n, out);
            }
        };
        VolumeKernels::Pipeline(count, per, buffers, produce, [&](uint32_t k0, uint32_t n, const Texel* texels) {
            for (uint32_t i = 0; i < n; ++i) {
                upload(names[k0 + i], GLsizei(w), GLsizei(h), texels + i * plane);
            }
        });
    };

    // Z planes are blocks of the grid: uploaded in place, or classified a block at a time.
    if constexpr (classified) {
        const uint32_t per = std::min(r.SlabPlanes(sizeof(Texel) * planeXY), r.dimZ);
        std::unique_ptr<Texel[]> first = WorkBuffer<Texel>(per * planeXY);
        std::unique_ptr<Texel[]> second = per < r.dimZ ? WorkBuffer<Texel>(per * planeXY) : nullptr;
        Texel* const buffers[2] = {first.get(), second.get()};
        VolumeKernels::Pipeline(
            r.dimZ, per, buffers,
            [&](uint32_t k0, uint32_t n, Texel* out) {
                r.transferFunction->Classify(out, grid + k0 * planeXY, n * planeXY, r.premultipliedTextures);
            },
            [&](uint32_t k0, uint32_t n, const Texel* texels) {
                for (uint32_t i = 0; i < n; ++i) {
                    upload(r.sliceTexturesZ[k0 + i], GLsizei(texDimX), GLsizei(texDimY), texels + i * planeXY);
                }
            });
    } else {
        for (uint32_t k = 0; k < r.dimZ; ++k) {
            upload(r.sliceTexturesZ[k], GLsizei(texDimX), GLsizei(texDimY), grid + k * planeXY);
        }
    }

    // Y planes: each row of x is contiguous in the grid.
    const uint64_t planeXZ = uint64_t(texDimX) * texDimZ;
    stack(r.sliceTexturesY, texDimX, texDimZ, r.dimY, [&](uint32_t k0, uint32_t n, uint16_t* out) {
        VolumeKernels::ParallelFor(uint64_t(n) * texDimZ, RowGrain(texDimX), [&](uint64_t begin, uint64_t end) {
            for (uint64_t row = begin; row < end; ++row) {
                const uint64_t i = row / texDimZ, z = row % texDimZ;
                std::memcpy(out + i * planeXZ + z * texDimX, grid + z * planeXY + (k0 + i) * texDimX,
                            sizeof(uint16_t) * texDimX);
            }
        });
    });

    // X planes: each grid row gives one texel to each plane of the block.
    const uint64_t planeYZ = uint64_t(texDimY) * texDimZ;
    stack(r.sliceTexturesX, texDimY, texDimZ, r.dimX, [&](uint32_t k0, uint32_t n, uint16_t* out) {
        VolumeKernels::ParallelFor(texDimZ, std::max<uint64_t>(1, RowGrain(texDimY) / texDimY),
                                   [&](uint64_t begin, uint64_t end) {
                                       for (uint64_t z = begin; z < end; ++z) {
                                           for (uint32_t y = 0; y < texDimY; ++y) {
                                               const uint16_t* row = grid + z * planeXY + y * texDimX + k0;
                                               uint16_t* texel = out + y + texDimY * z;
                                               for (uint32_t i = 0; i < n; ++i) {
                                                   texel[i * planeYZ] = row[i];
                                               }
                                           }
                                       }
                                   });
    });
    EndTightRows();
}
}  // namespace

void VolumeRenderer::BuildTransferTexture()
{
    DeleteTexture(transferTexture);

    // Texel k holds the average of densities 2k and 2k + 1.
    uint8_t texels[2048 * 4];
    transferAlpha.resize(2048);
    for (uint32_t k = 0; k < 2048; ++k) {
        const TransferFunction::Color a = transferFunction->Evaluate(2 * k);
        const TransferFunction::Color b = transferFunction->Evaluate(2 * k + 1);
        texels[4 * k + 0] = uint8_t((a.r + b.r) / 2);
        texels[4 * k + 1] = uint8_t((a.g + b.g) / 2);
        texels[4 * k + 2] = uint8_t((a.b + b.b) / 2);
        texels[4 * k + 3] = uint8_t((a.a + b.a) / 2);
        transferAlpha[k] = texels[4 * k + 3];
    }
    transferTexels.assign(texels, texels + sizeof texels);
    ++generation;
    occupancyStale = true;
    rayTransferStep = -1.0f;
    // The ray caster composites in its shader and keeps the colours as they are.
    premultipliedTextures = PremultipliedColors();
    if (premultipliedTextures) {
        for (uint32_t k = 0; k < 2048; ++k) {
            for (int c = 0; c < 3; ++c) {
                texels[4 * k + c] = uint8_t((texels[4 * k + c] * texels[4 * k + 3] + 127) / 255);
            }
        }
    }

    glGenTextures(1, &transferTexture);
    glBindTexture(GL_TEXTURE_1D, transferTexture);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA, 2048, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);

    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogWarning(reinterpret_cast<const char*>(glewGetErrorString(error)));
    }
}

void VolumeRenderer::BuildGradientTexture(uint32_t slabPlanes)
{
    DeleteTexture(gradientTexture);
    glGenTextures(1, &gradientTexture);
    glBindTexture(GL_TEXTURE_3D, gradientTexture);
    SetTextureParameters(GL_TEXTURE_3D);
    // A signed float format: unsized GL_RGBA would clamp negative components
    // to 0. Allocated once, then filled slab by slab with half floats, which
    // the driver stores as they are: the gradient, and the density in alpha.
    BeginTightRows();
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA16F, GLsizei(texDimX), GLsizei(texDimY), GLsizei(texDimZ), 0, GL_RGBA,
                 GL_HALF_FLOAT, nullptr);
    const GLenum error = glGetError();
    if (error == GL_OUT_OF_MEMORY) {
        const uint64_t bytes = uint64_t(texDimX) * texDimY * texDimZ * 8;
        LogFailed(("Data file: '" + volumeFile + "' needs " + std::to_string(bytes) +
                   " bytes for its gradient texture of " + std::to_string(texDimX) + " x " + std::to_string(texDimY) +
                   " x " + std::to_string(texDimZ) + " texels, which cannot be allocated")
                      .c_str());
    } else if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", __LINE__);
    }
    ComputeGradientSlabs(slabPlanes, [this](uint32_t z0, uint32_t planes, const uint16_t* halves) {
        glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, GLint(z0), GLsizei(texDimX), GLsizei(texDimY), GLsizei(planes), GL_RGBA,
                        GL_HALF_FLOAT, halves);
    });
    EndTightRows();
}

void VolumeRenderer::DeleteGradientTexture() { DeleteTexture(gradientTexture); }

float VolumeRenderer::BoxDepth(int axis) const
{
    const Vec3 half = BoxHalfExtents();
    return axis == 0 ? half.x : axis == 1 ? half.y : half.z;
}

GLuint VolumeRenderer::DensityLookup(uint32_t slices, float depth)
{
    slices = std::max<uint32_t>(slices, 1);
    const bool premultiplied = PremultipliedColors();
    if (densityLookupTexture != none && slices == densityLookupSlices && depth == densityLookupDepth &&
        premultiplied == densityLookupPremultiplied) {
        return densityLookupTexture;
    }
    densityLookupSlices = slices;
    densityLookupDepth = depth;
    densityLookupPremultiplied = premultiplied;
    // Through the box's largest side, density 4096 lets e^-4 of the light
    // through: the planes share that opacity, each its part of the depth.
    constexpr float opacityPerSide = 4.0f;
    const float share = depth / float(slices);
    std::vector<float> texels(2048 * 4);
    for (uint32_t k = 0; k < 2048; ++k) {
        // Texel k holds densities 2k and 2k + 1, as the colour maps read it.
        const float grey = std::min((float(2 * k) + 0.5f) / 4096.0f, 1.0f);
        const float alpha = 1.0f - std::exp(-opacityPerSide * grey * share);
        const float shown = premultiplied ? grey * alpha : grey;
        texels[4 * k + 0] = texels[4 * k + 1] = texels[4 * k + 2] = shown;
        texels[4 * k + 3] = alpha;
    }
    DeleteTexture(densityLookupTexture);
    glGenTextures(1, &densityLookupTexture);
    glBindTexture(GL_TEXTURE_1D, densityLookupTexture);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // Float texels: a plane of a deep stack is nearly clear.
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA32F, 2048, 0, GL_RGBA, GL_FLOAT, texels.data());
    return densityLookupTexture;
}

void VolumeRenderer::DeleteSliceTextures()
{
    for (std::vector<GLuint>* stack : {&sliceTexturesX, &sliceTexturesY, &sliceTexturesZ}) {
        if (!stack->empty()) {
            glDeleteTextures(GLsizei(stack->size()), stack->data());
            stack->clear();
        }
    }
}

void VolumeRenderer::BuildSliceTextures(const uint16_t* grid)
{
    UploadSliceStacks<uint16_t>(*this, grid, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
    CheckGlError(__LINE__);
}

void VolumeRenderer::BuildClassifiedSliceTextures(const uint16_t* grid)
{
    UploadSliceStacks<uint32_t>(*this, grid, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE);
    CheckGlError(__LINE__);
}

void VolumeRenderer::BuildVolumeTexture(const void* data, GLint internalFormat, GLenum format, GLenum type)
{
    volumeTextureHoldsDensities = false;
    DeleteTexture(volumeTexture);
    glGenTextures(1, &volumeTexture);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    SetTextureParameters(GL_TEXTURE_3D);
    BeginTightRows();
    glTexImage3D(GL_TEXTURE_3D, 0, internalFormat, GLsizei(texDimX), GLsizei(texDimY), GLsizei(texDimZ), 0, format,
                 type, data);
    EndTightRows();
    CheckGlError(__LINE__);
}

void VolumeRenderer::RebuildSliceStacks()
{
    DeleteSliceTextures();
    if (classification == PreClassification) {
        BuildClassifiedSliceTextures(densities);
    } else if (classification == ShaderClassification || classification == NoClassification) {
        BuildSliceTextures(densities);
    }
}

// The 3D texture of the densities, unless it is resident already.
static void BuildDensityTexture(VolumeRenderer& r)
{
    if (!r.volumeTextureHoldsDensities) {
        r.BuildVolumeTexture(r.densities, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
        r.volumeTextureHoldsDensities = true;
    }
}

void VolumeRenderer::RebuildVolumeTexture()
{
    if (classification == PreClassification) {
        // Allocated once, then classified and uploaded a slab at a time.
        BuildVolumeTexture(nullptr, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
        const uint64_t planeXY = uint64_t(texDimX) * texDimY;
        const uint32_t per = std::min(SlabPlanes(4 * planeXY), texDimZ);
        std::unique_ptr<uint32_t[]> first = WorkBuffer<uint32_t>(per * planeXY);
        std::unique_ptr<uint32_t[]> second = per < texDimZ ? WorkBuffer<uint32_t>(per * planeXY) : nullptr;
        uint32_t* const buffers[2] = {first.get(), second.get()};
        BeginTightRows();
        VolumeKernels::Pipeline(
            texDimZ, per, buffers,
            [this, planeXY](uint32_t z0, uint32_t n, uint32_t* out) {
                transferFunction->Classify(out, densities + z0 * planeXY, n * planeXY, premultipliedTextures);
            },
            [this](uint32_t z0, uint32_t n, const uint32_t* colors) {
                glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, GLint(z0), GLsizei(texDimX), GLsizei(texDimY), GLsizei(n),
                                GL_RGBA, GL_UNSIGNED_BYTE, colors);
            });
        EndTightRows();
        CheckGlError(__LINE__);
    } else if (classification == ShaderClassification || classification == NoClassification) {
        BuildDensityTexture(*this);
    }
}

void VolumeRenderer::RebuildRayCastingTextures()
{
    DeleteTexture(entryTexture);
    DeleteTexture(exitTexture);
    DeleteTexture(occupancyTexture);
    entryExitSize[0] = entryExitSize[1] = 0;
    glGenTextures(1, &entryTexture);
    glGenTextures(1, &exitTexture);
    glGenTextures(1, &occupancyTexture);
    occupancyStale = true;
    // The bricks' ranges are made once per volume, when ray casting first
    // needs them.
    if (brickGrid.Empty()) {
        brickGrid.Build(densities, texDimX, texDimY, dimX, dimY, dimZ);
    }
    // The gradient texture carries the densities too, where there is one.
    if (gradientsFromDensities || gradientTexture == none) {
        BuildDensityTexture(*this);
    }
}

void VolumeRenderer::RebuildTextures()
{
    // Only the ray caster draws from the density texture alone.
    if (renderMethod != RayCasting) {
        RestoreDensities();
    }
    switch (renderMethod) {
        case Slices:
            RebuildSliceStacks();
            break;
        case VolumeTexture:
            RebuildVolumeTexture();
            break;
        case RayCasting:
            RebuildRayCastingTextures();
            break;
        default:
            break;
    }
}

void VolumeRenderer::UpdateTransferFunction()
{
    if (!transferFunction) {
        return;
    }
    BuildTransferTexture();
    if (classification == PreClassification && IsLoaded()) {
        RebuildTextures();
    }
}
