// Textures built from the loaded volume: the lookup texture of the transfer
// function, the gradient texture, the slice stacks and the 3D volume texture.
#include "Volume.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Log.h"
#include "TransferFunction.h"

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

// Pre-classified colours of the whole padded grid; the caller frees them.
uint32_t* ClassifyGrid(const TransferFunction& transferFunction, const uint16_t* densities, uint64_t count)
{
    uint32_t* colors = new (std::nothrow) uint32_t[count];
    if (!colors) {
        LogFailed("Volume: Not enough memory for the pre-classified volume");
    }
    transferFunction.Classify(colors, densities, count);
    return colors;
}

// The grids are tightly packed: with the default row alignment of 4 bytes, a
// row of one 16-bit texel would be read with a stride of 4.
void BeginTightRows()
{
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

void EndTightRows() { glPopClientAttrib(); }

// Uploads the three stacks; Texel is uint16_t (densities) or uint32_t (colours).
template <typename Texel>
void UploadSliceStacks(VolumeRenderer& r, const Texel* grid, GLint internalFormat, GLenum format, GLenum type)
{
    BeginTightRows();
    const uint64_t planeXY = uint64_t(r.texDimX) * r.texDimY;

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

    for (uint32_t k = 0; k < r.dimZ; ++k) {
        upload(r.sliceTexturesZ[k], GLsizei(r.texDimX), GLsizei(r.texDimY), grid + k * planeXY);
    }

    // Y planes: each row of x is contiguous in the grid.
    std::vector<Texel> plane(size_t(r.texDimX) * r.texDimZ, Texel(0));
    for (uint32_t k = 0; k < r.dimY; ++k) {
        for (uint32_t z = 0; z < r.texDimZ; ++z) {
            std::memcpy(&plane[size_t(z) * r.texDimX], grid + z * planeXY + size_t(k) * r.texDimX,
                        sizeof(Texel) * r.texDimX);
        }
        upload(r.sliceTexturesY[k], GLsizei(r.texDimX), GLsizei(r.texDimZ), plane.data());
    }

    // X planes are gathered a block at a time, so each grid row is read once
    // per block instead of once per plane.
    constexpr uint32_t block = 16;
    std::vector<Texel> planes(size_t(block) * r.texDimY * r.texDimZ, Texel(0));
    const size_t planeYZ = size_t(r.texDimY) * r.texDimZ;
    for (uint32_t k0 = 0; k0 < r.dimX; k0 += block) {
        const uint32_t n = std::min(block, r.dimX - k0);
        for (uint32_t z = 0; z < r.texDimZ; ++z) {
            for (uint32_t y = 0; y < r.texDimY; ++y) {
                const Texel* row = grid + z * planeXY + size_t(y) * r.texDimX + k0;
                const size_t texel = y + size_t(r.texDimY) * z;
                for (uint32_t i = 0; i < n; ++i) {
                    planes[i * planeYZ + texel] = row[i];
                }
            }
        }
        for (uint32_t i = 0; i < n; ++i) {
            upload(r.sliceTexturesX[k0 + i], GLsizei(r.texDimY), GLsizei(r.texDimZ), &planes[i * planeYZ]);
        }
    }
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
    occupancyStale = true;

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

void VolumeRenderer::BuildGradientTexture(const float* gradientVectors)
{
    DeleteTexture(gradientTexture);
    glGenTextures(1, &gradientTexture);
    glBindTexture(GL_TEXTURE_3D, gradientTexture);
    SetTextureParameters(GL_TEXTURE_3D);
    // A signed float format: unsized GL_RGB would clamp negative components to 0.
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGB16F, GLsizei(texDimX), GLsizei(texDimY), GLsizei(texDimZ), 0, GL_RGB,
                 GL_FLOAT, gradientVectors);
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
    UploadSliceStacks(*this, grid, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
    CheckGlError(__LINE__);
}

void VolumeRenderer::BuildClassifiedSliceTextures(const uint32_t* grid)
{
    UploadSliceStacks(*this, grid, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE);
    CheckGlError(__LINE__);
}

void VolumeRenderer::BuildVolumeTexture(const void* data, GLint internalFormat, GLenum format, GLenum type)
{
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
        const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
        uint32_t* colors = ClassifyGrid(*transferFunction, densities, count);
        BuildClassifiedSliceTextures(colors);
        delete[] colors;
    } else if (classification == ShaderClassification || classification == NoClassification) {
        BuildSliceTextures(densities);
    }
}

void VolumeRenderer::RebuildVolumeTexture()
{
    if (classification == PreClassification) {
        const uint64_t count = uint64_t(texDimX) * texDimY * texDimZ;
        uint32_t* colors = ClassifyGrid(*transferFunction, densities, count);
        BuildVolumeTexture(colors, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
        delete[] colors;
    } else if (classification == ShaderClassification || classification == NoClassification) {
        BuildVolumeTexture(densities, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
    }
}

void VolumeRenderer::RebuildRayCastingTextures()
{
    DeleteTexture(entryTexture);
    DeleteTexture(exitTexture);
    DeleteTexture(occupancyTexture);
    glGenTextures(1, &entryTexture);
    glGenTextures(1, &exitTexture);
    glGenTextures(1, &occupancyTexture);
    occupancyStale = true;
    // The bricks' ranges are made once per volume, when ray casting first
    // needs them.
    if (brickGrid.Empty()) {
        brickGrid.Build(densities, texDimX, texDimY, dimX, dimY, dimZ);
    }
    BuildVolumeTexture(densities, GL_LUMINANCE16, GL_LUMINANCE, GL_UNSIGNED_SHORT);
}

void VolumeRenderer::RebuildTextures()
{
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
    if (classification == PreClassification && densities) {
        RebuildTextures();
    }
}
