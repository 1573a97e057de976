// The two slicing methods: axis-aligned 2D slice stacks, and planes cut through
// the 3D texture. Both lay out their quads in voxel units centred on the
// origin and scale them into the box that every method draws, back to front
// along the axis of the current view stack.
#include "VolumeRenderer.h"

#include <algorithm>

#include "glsl.h"

namespace {
bool Descending(int8_t viewStack) { return viewStack <= VolumeRenderer::Back; }

// 0 for x, 1 for y, 2 for z.
int StackAxis(int8_t viewStack) { return viewStack % 3; }

void SliceQuad(int axis, float p, float hx, float hy, float hz, float s, float t)
{
    glBegin(GL_QUADS);
    switch (axis) {
        case 0:
            glTexCoord2f(0, 0), glVertex3f(p, -hy, -hz);
            glTexCoord2f(0, t), glVertex3f(p, -hy, +hz);
            glTexCoord2f(s, t), glVertex3f(p, +hy, +hz);
            glTexCoord2f(s, 0), glVertex3f(p, +hy, -hz);
            break;
        case 1:
            glTexCoord2f(0, 0), glVertex3f(-hx, p, -hz);
            glTexCoord2f(0, t), glVertex3f(-hx, p, +hz);
            glTexCoord2f(s, t), glVertex3f(+hx, p, +hz);
            glTexCoord2f(s, 0), glVertex3f(+hx, p, -hz);
            break;
        default:
            glTexCoord2f(0, 0), glVertex3f(-hx, -hy, p);
            glTexCoord2f(0, t), glVertex3f(-hx, +hy, p);
            glTexCoord2f(s, t), glVertex3f(+hx, +hy, p);
            glTexCoord2f(s, 0), glVertex3f(+hx, -hy, p);
            break;
    }
    glEnd();
}

void VolumePlane(int axis, float p, float c, float hx, float hy, float hz, float cx, float cy, float cz)
{
    glBegin(GL_QUADS);
    switch (axis) {
        case 0:
            glTexCoord3f(c, 0, 0), glVertex3f(p, -hy, -hz);
            glTexCoord3f(c, 0, cz), glVertex3f(p, -hy, +hz);
            glTexCoord3f(c, cy, cz), glVertex3f(p, +hy, +hz);
            glTexCoord3f(c, cy, 0), glVertex3f(p, +hy, -hz);
            break;
        case 1:
            glTexCoord3f(0, c, 0), glVertex3f(-hx, p, -hz);
            glTexCoord3f(0, c, cz), glVertex3f(-hx, p, +hz);
            glTexCoord3f(cx, c, cz), glVertex3f(+hx, p, +hz);
            glTexCoord3f(cx, c, 0), glVertex3f(+hx, p, -hz);
            break;
        default:
            glTexCoord3f(0, 0, c), glVertex3f(-hx, -hy, p);
            glTexCoord3f(0, cy, c), glVertex3f(-hx, +hy, p);
            glTexCoord3f(cx, cy, c), glVertex3f(+hx, +hy, p);
            glTexCoord3f(cx, 0, c), glVertex3f(+hx, -hy, p);
            break;
    }
    glEnd();
}
}  // namespace

// Binds the colour-map program of a slicing method with its lookup and
// gradient textures; returns the program in use, if any. Without
// classification the densities go through the grey lookup of a stack of
// `slices` planes across `depth` of the box's largest side.
static aShaderObject* BeginShaderClassification(VolumeRenderer& r, aShaderObject* intensity, aShaderObject* gradient,
                                                const char* densityUniform, uint32_t slices, float depth)
{
    if (r.classification == VolumeRenderer::PreClassification || !intensity) {
        return nullptr;
    }
    GLuint lookup = r.transferTexture;
    aShaderObject* program = intensity;
    if (r.classification == VolumeRenderer::NoClassification) {
        lookup = r.DensityLookup(slices, depth);
    } else if (r.colorMapType == VolumeRenderer::IntensityGradient) {
        // A volume too large for a gradient texture shows its intensities.
        program = r.gradientTexture != VolumeRenderer::none && gradient ? gradient : intensity;
    } else if (r.colorMapType != VolumeRenderer::Intensity) {
        return nullptr;
    }
    glActiveTexture(GL_TEXTURE1);
    glEnable(GL_TEXTURE_1D);
    glBindTexture(GL_TEXTURE_1D, lookup);
    if (program == gradient) {
        glActiveTexture(GL_TEXTURE2);
        glEnable(GL_TEXTURE_3D);
        glBindTexture(GL_TEXTURE_3D, r.gradientTexture);
    }
    program->bind();
    program->setUniform1i(densityUniform, 0);
    program->setUniform1i("transfer_tex", 1);
    if (program == gradient) {
        program->setUniform1i("gradient_tex", 2);
    }
    return program;
}

static void EndShaderClassification(aShaderObject* program, aShaderObject* gradient)
{
    program->unbind();
    if (program == gradient) {
        glActiveTexture(GL_TEXTURE2);
        glDisable(GL_TEXTURE_3D);
    }
    glActiveTexture(GL_TEXTURE1);
    glDisable(GL_TEXTURE_1D);
}

// The 2D gradient program gets no 3D coordinate: the texture matrix of the
// gradient's unit maps model units to gradient texture space, with the
// slice's voxel centre along the stack axis at 'offset' + position.
static void LoadGradientMatrix(const VolumeRenderer& r, int axis, float offset)
{
    float translation[3] = {float(r.dimX) * 0.5f, float(r.dimY) * 0.5f, float(r.dimZ) * 0.5f};
    translation[axis] = offset;
    glActiveTexture(GL_TEXTURE2);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glScalef(1.0f / float(r.texDimX), 1.0f / float(r.texDimY), 1.0f / float(r.texDimZ));
    glTranslatef(translation[0], translation[1], translation[2]);
    glMatrixMode(GL_MODELVIEW);
    glActiveTexture(GL_TEXTURE0);
}

// From voxel units to the common box, at the volume's proportions.
static void PushBoxScale(const VolumeRenderer& r)
{
    const Vec3 half = r.BoxHalfExtents();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glScalef(2.0f * half.x / float(std::max(r.dimX, 1u)), 2.0f * half.y / float(std::max(r.dimY, 1u)),
             2.0f * half.z / float(std::max(r.dimZ, 1u)));
}

static void PopBoxScale()
{
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

static void RestoreGradientMatrix()
{
    glActiveTexture(GL_TEXTURE2);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void VolumeRenderer::RenderSlices()
{
    // The previous frame may have left another unit active (shader
    // classification ends on unit 1) with unit 0's 3D texture enabled.
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_TEXTURE_3D);
    const int stackAxis = viewStack >= Left && viewStack <= Front ? StackAxis(viewStack) : 2;
    const uint32_t planes = stackAxis == 0 ? dimX : stackAxis == 1 ? dimY : dimZ;
    aShaderObject* const program = BeginShaderClassification(*this, intensity2dProgram, intensityGradient2dProgram,
                                                             "density_tex", planes, BoxDepth(stackAxis));

    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glColor4ub(255, 255, 255, 255);
    PushBoxScale(*this);

    const float hx = float(dimX) * 0.5f, hy = float(dimY) * 0.5f, hz = float(dimZ) * 0.5f;

    if (viewStack >= Left && viewStack <= Front) {
        const int axis = StackAxis(viewStack);
        const std::vector<GLuint>& stack = axis == 0 ? sliceTexturesX : axis == 1 ? sliceTexturesY : sliceTexturesZ;
        const float h = axis == 0 ? hx : axis == 1 ? hy : hz;
        const float s = axis == 0 ? texCoordMaxY : texCoordMaxX;
        const float t = axis == 2 ? texCoordMaxY : texCoordMaxZ;
        const int n = int(stack.size());
        const bool gradientMatrix = program && program == intensityGradient2dProgram;

        if (sliceMode & StackSpecificSlice) {
            const int32_t chosen = axis == 0 ? stackSliceX : axis == 1 ? stackSliceY : stackSliceZ;
            if (n > 0) {
                // A slice number left over from a larger volume shows the nearest slice.
                const int i = std::clamp(chosen - 1, 0, n - 1);
                if (gradientMatrix) {
                    LoadGradientMatrix(*this, axis, float(i) + 0.5f);
                }
                glBindTexture(GL_TEXTURE_2D, stack[i]);
                SliceQuad(axis, 0.0f, hx, hy, hz, s, t);
                if (gradientMatrix) {
                    RestoreGradientMatrix();
                }
            }
        } else {
            // Slice i lies at its voxels' centre, -h + 0.5 + i, in either order,
            // where the ray caster samples the same voxels.
            if (gradientMatrix) {
                LoadGradientMatrix(*this, axis, h);
            }
            if (Descending(viewStack)) {
                float p = h - 0.5f;
                for (int i = n - 1; i >= 0; --i, p -= 1.0f) {
                    glBindTexture(GL_TEXTURE_2D, stack[i]);
                    SliceQuad(axis, p, hx, hy, hz, s, t);
                }
            } else {
                float p = -h + 0.5f;
                for (int i = 0; i < n; ++i, p += 1.0f) {
                    glBindTexture(GL_TEXTURE_2D, stack[i]);
                    SliceQuad(axis, p, hx, hy, hz, s, t);
                }
            }
            if (gradientMatrix) {
                RestoreGradientMatrix();
            }
        }
    }

    PopBoxScale();
    if (program) {
        EndShaderClassification(program, intensityGradient2dProgram);
    }
}

void VolumeRenderer::RenderVolumeTexture()
{
    // As for the slices: unit 0 may hold an enabled 2D texture of the last frame.
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_TEXTURE_2D);
    const int stackAxis = viewStack >= Left && viewStack <= Front ? StackAxis(viewStack) : 2;
    const uint32_t planes = stackAxis == 0 ? sliceCountX : stackAxis == 1 ? sliceCountY : sliceCountZ;
    aShaderObject* const program = BeginShaderClassification(*this, intensity3dProgram, intensityGradient3dProgram,
                                                             "volume_tex", planes, BoxDepth(stackAxis));

    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    PushBoxScale(*this);

    const float hx = float(dimX) * 0.5f, hy = float(dimY) * 0.5f, hz = float(dimZ) * 0.5f;

    if (viewStack >= Left && viewStack <= Front) {
        const int axis = StackAxis(viewStack);
        const float h = axis == 0 ? hx : axis == 1 ? hy : hz;
        const uint32_t n = axis == 0 ? sliceCountX : axis == 1 ? sliceCountY : sliceCountZ;
        const float cmax = axis == 0 ? texCoordMaxX : axis == 1 ? texCoordMaxY : texCoordMaxZ;
        const float d = (h - (-h)) / float(n);
        const float ts = cmax / float(n);

        if (sliceMode & VolumeSpecificSlice) {
            const int32_t v = axis == 0 ? volumeSliceX : axis == 1 ? volumeSliceY : volumeSliceZ;
            const float c = Descending(viewStack) ? cmax - float(v - 1) * ts : float(v - 1) * ts;
            VolumePlane(axis, 0.0f, c, hx, hy, hz, texCoordMaxX, texCoordMaxY, texCoordMaxZ);
        } else if (Descending(viewStack)) {
            float p = h, c = cmax;
            for (uint32_t i = 0; i < n; ++i, p -= d, c -= ts) {
                VolumePlane(axis, p, c, hx, hy, hz, texCoordMaxX, texCoordMaxY, texCoordMaxZ);
            }
        } else {
            float p = -h, c = 0.0f;
            for (uint32_t i = 0; i < n; ++i, p += d, c += ts) {
                VolumePlane(axis, p, c, hx, hy, hz, texCoordMaxX, texCoordMaxY, texCoordMaxZ);
            }
        }
    }

    PopBoxScale();
    if (program) {
        EndShaderClassification(program, intensityGradient3dProgram);
    }
}
