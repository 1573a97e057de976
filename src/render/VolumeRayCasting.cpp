// Ray casting: the colour cube whose colours are its texture-space positions,
// the entry and exit images, and the screen-filling pass of the ray caster.
#include "VolumeRenderer.h"

#include <GL/glu.h>

#include <QMatrix4x4>
#include <algorithm>
#include <cmath>

#include "Display.h"
#include "Log.h"
#include "glsl.h"

namespace {
struct CubeCorner {
    GLfloat p[3];
    GLfloat c[3];
};

const CubeCorner cubeCorners[8] = {
    {{+1, +1, +1}, {1, 1, 1}}, {{-1, +1, +1}, {0, 1, 1}}, {{-1, -1, +1}, {0, 0, 1}}, {{+1, -1, +1}, {1, 0, 1}},
    {{+1, +1, -1}, {1, 1, 0}}, {{-1, +1, -1}, {0, 1, 0}}, {{-1, -1, -1}, {0, 0, 0}}, {{+1, -1, -1}, {1, 0, 0}},
};

// Six faces, each counter-clockwise seen from outside.
const int cubeFaces[6][4] = {
    {0, 1, 2, 3}, {7, 6, 5, 4}, {0, 4, 5, 1}, {7, 3, 2, 6}, {6, 2, 1, 5}, {0, 3, 7, 4},
};
}  // namespace

void VolumeRenderer::BuildCubeList()
{
    glNewList(cubeList, GL_COMPILE);
    glBegin(GL_QUADS);
    for (const auto& face : cubeFaces) {
        for (int corner : face) {
            const CubeCorner& v = cubeCorners[corner];
            glColor3f(v.c[0], v.c[1], v.c[2]);
            glTexCoord3f(v.c[0], v.c[1], v.c[2]);
            glVertex3f(v.p[0], v.p[1], v.p[2]);
        }
    }
    glEnd();
    glEndList();
}

void VolumeRenderer::DrawCube()
{
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_3D);
    glCallList(cubeList);
}

namespace {
void CheckGlError(int line)
{
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", line);
    }
}
}  // namespace

void VolumeRenderer::RenderEntryExit()
{
    const int width = display->width;
    const int height = display->height;

    // The box drawn is the volume in its own proportions, its largest side
    // from -1 to +1.
    const Vec3 half = BoxHalfExtents();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glScalef(half.x, half.y, half.z);
    FrameRays();

    // Each pass draws straight into its texture through a framebuffer of its
    // own; the window's framebuffer is bound again afterwards.
    GLint window = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &window);
    if (entryExitFramebuffer == 0) {
        glGenFramebuffers(1, &entryExitFramebuffer);
    }
    if (entryExitSize[0] != width || entryExitSize[1] != height) {
        for (GLuint texture : {entryTexture, exitTexture}) {
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        }
        entryExitSize[0] = width;
        entryExitSize[1] = height;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, entryExitFramebuffer);
    glEnable(GL_CULL_FACE);
    // Front faces give the entry points, back faces the exit points.
    for (const GLuint texture : {entryTexture, exitTexture}) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glCullFace(texture == entryTexture ? GL_BACK : GL_FRONT);
        DrawCube();
    }
    glCullFace(GL_BACK);
    glDisable(GL_CULL_FACE);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(window));
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();

    glClearColor(0.0f, 0.0f, 0.0f, display->clearAlpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    CheckGlError(__LINE__);
}

void VolumeRenderer::FrameRays()
{
    GLfloat modelview[16], projection[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);

    // OpenGL keeps matrices by column, QMatrix4x4 reads its array by row.
    QMatrix4x4 boxToCube;
    boxToCube.translate(-1.0f, -1.0f, -1.0f);
    boxToCube.scale(2.0f);
    const QMatrix4x4 toClip = QMatrix4x4(projection).transposed() * QMatrix4x4(modelview).transposed() * boxToCube;
    bool invertible = false;
    const QMatrix4x4 fromClip = toClip.inverted(&invertible);
    std::copy(fromClip.constData(), fromClip.constData() + 16, rayMatrix);

    // The rectangle of the window that the box's corners span; a corner at or
    // behind the eye spans everything.
    rayScissor[0] = viewport[0];
    rayScissor[1] = viewport[1];
    rayScissor[2] = viewport[2];
    rayScissor[3] = viewport[3];
    float x0 = 1.0f, y0 = 1.0f, x1 = -1.0f, y1 = -1.0f;
    bool behind = !invertible;
    for (int corner = 0; corner < 8 && !behind; ++corner) {
        // The corners of the crop box: pixels outside it show nothing.
        const float x = cut.crop[corner & 1], y = cut.crop[2 + ((corner >> 1) & 1)],
                    z = cut.crop[4 + ((corner >> 2) & 1)];
        const QVector4D clip = toClip.map(QVector4D(x, y, z, 1.0f));
        behind = clip.w() <= 1e-6f;
        x0 = std::min(x0, clip.x() / clip.w());
        x1 = std::max(x1, clip.x() / clip.w());
        y0 = std::min(y0, clip.y() / clip.w());
        y1 = std::max(y1, clip.y() / clip.w());
    }
    if (!behind) {
        auto column = [&](float ndc) {
            return std::clamp(viewport[0] + (ndc + 1.0f) * 0.5f * viewport[2], float(viewport[0]),
                              float(viewport[0] + viewport[2]));
        };
        auto row = [&](float ndc) {
            return std::clamp(viewport[1] + (ndc + 1.0f) * 0.5f * viewport[3], float(viewport[1]),
                              float(viewport[1] + viewport[3]));
        };
        // One pixel of margin for pixels whose centre lies just inside.
        const GLint left = GLint(std::floor(column(x0))) - 1, right = GLint(std::ceil(column(x1))) + 1;
        const GLint bottom = GLint(std::floor(row(y0))) - 1, top = GLint(std::ceil(row(y1))) + 1;
        rayScissor[0] = std::max(left, viewport[0]);
        rayScissor[1] = std::max(bottom, viewport[1]);
        rayScissor[2] = std::max(0, std::min(right, viewport[0] + viewport[2]) - rayScissor[0]);
        rayScissor[3] = std::max(0, std::min(top, viewport[1] + viewport[3]) - rayScissor[1]);
    }
}

void VolumeRenderer::UpdateOccupancyTexture()
{
    if (occupancyTexture == none || brickGrid.Empty() || transferAlpha.size() != BrickGrid::lookupTexels) {
        return;
    }
    if (!occupancyStale && occupancyWindow == maxIntensity) {
        return;
    }
    // Per brick, the distance in bricks to the nearest occupied one: 0 where
    // the brick itself is occupied.
    const std::vector<uint8_t> texels =
        brickGrid.EmptyDistance(brickGrid.Occupancy(transferAlpha.data(), maxIntensity * 4096.0f + 0.5f));
    glBindTexture(GL_TEXTURE_3D, occupancyTexture);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage3D(GL_TEXTURE_3D, 0, GL_LUMINANCE8, GLsizei(brickGrid.BricksX()), GLsizei(brickGrid.BricksY()),
                 GLsizei(brickGrid.BricksZ()), 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    occupancyStale = false;
    occupancyWindow = maxIntensity;
}

int VolumeRenderer::SamplesPerGradient() const
{
    // Voxels a step spans along the axis whose voxels are shortest in the
    // displayed space, where the largest side is 1. The samples of a pass lie
    // up to (n - 1) / 2 steps from its middle.
    const Vec3 half = BoxHalfExtents();
    const float perUnit = std::max({float(dimX) / half.x, float(dimY) / half.y, float(dimZ) / half.z});
    const float voxels = std::max(stepSize, 0.0001f) * perUnit;
    for (int n = 4; n >= 2; --n) {
        if (0.5f * float(n - 1) * voxels <= 0.375f) {
            return n;
        }
    }
    return 1;
}

void VolumeRenderer::UpdateRayTransferTexture()
{
    const float step = std::max(stepSize, 0.0001f);
    if (transferTexels.size() != 4 * BrickGrid::lookupTexels ||
        (rayTransferTexture != none && rayTransferStep == step)) {
        return;
    }
    // A sample's opacity over the step from the opacity over the 0.01 slab
    // the transfer function stands for: what shows through one sample shows
    // through step / 0.01 of them.
    const float exponent = step / 0.01f;
    std::vector<float> texels(transferTexels.size());
    for (size_t i = 0; i < texels.size(); ++i) {
        const float value = float(transferTexels[i]) / 255.0f;
        texels[i] = i % 4 == 3 ? 1.0f - std::pow(1.0f - value, exponent) : value;
    }
    if (rayTransferTexture == none) {
        glGenTextures(1, &rayTransferTexture);
    }
    glBindTexture(GL_TEXTURE_1D, rayTransferTexture);
    // The nearest texel, the pair of densities a sample's density rounds to:
    // within a level of the filtered lookup in the pictures, and some 6% of a
    // lit frame's time less on a software rasteriser, where the lookup is one
    // of a sample's two fetches.
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA16F, GLsizei(BrickGrid::lookupTexels), 0, GL_RGBA, GL_FLOAT, texels.data());
    rayTransferStep = step;
}

namespace {
void LoadTextureMatrix(GLenum unit, const GLfloat* matrix)
{
    glActiveTexture(unit);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadMatrixf(matrix);
}

void LoadTextureScale(GLenum unit, float x, float y, float z)
{
    const GLfloat scale[16] = {x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1};
    LoadTextureMatrix(unit, scale);
}

void PopTextureMatrix(GLenum unit)
{
    glActiveTexture(unit);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
}

const GLenum matrixUnits[] = {GL_TEXTURE0, GL_TEXTURE1, GL_TEXTURE2, GL_TEXTURE3, GL_TEXTURE5};
}  // namespace

void VolumeRenderer::RenderRayCasting()
{
    // The cube must be drawn untextured: a slicing frame before may have left
    // unit 1 active and a slice texture enabled on unit 0.
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_LIGHTING);
    RenderEntryExit();
    glEnable(GL_LIGHTING);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(-1.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_1D);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_TEXTURE_3D);
    // Pixels outside the box's rectangle keep the cleared background.
    glEnable(GL_SCISSOR_TEST);
    glScissor(rayScissor[0], rayScissor[1], rayScissor[2], rayScissor[3]);

    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, entryTexture);
    glActiveTexture(GL_TEXTURE1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, exitTexture);
    glActiveTexture(GL_TEXTURE2);
    glEnable(GL_TEXTURE_1D);
    UpdateRayTransferTexture();
    glBindTexture(GL_TEXTURE_1D, rayTransferTexture);
    glActiveTexture(GL_TEXTURE3);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glActiveTexture(GL_TEXTURE5);
    UpdateOccupancyTexture();
    glBindTexture(GL_TEXTURE_3D, occupancyTexture);
    glActiveTexture(GL_TEXTURE4);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, gradientTexture);

    // The shader reads the geometry of the frame from the texture matrices,
    // each a map from the box's coordinates c in [0, 1]^3: unit 0 the other
    // way, from the window's normalised device coordinates to c; unit 1 to the
    // displayed space, whose largest side is 1; unit 2 to bricks; unit 3 to
    // the density and gradient textures, of which the data fill a share;
    // unit 5 from bricks to the occupancy texture.
    const Vec3 half = BoxHalfExtents();
    const float brick = float(brickGrid.Side());
    LoadTextureMatrix(GL_TEXTURE0, rayMatrix);
    LoadTextureScale(GL_TEXTURE1, half.x, half.y, half.z);
    const float shift = brickGrid.Offset() / brick;
    const GLfloat toBricks[16] = {float(dimX) / brick,
                                  0,
                                  0,
                                  0,
                                  0,
                                  float(dimY) / brick,
                                  0,
                                  0,
                                  0,
                                  0,
                                  float(dimZ) / brick,
                                  0,
                                  shift,
                                  shift,
                                  shift,
                                  1};
    LoadTextureMatrix(GL_TEXTURE2, toBricks);
    LoadTextureScale(GL_TEXTURE3, texCoordMaxX, texCoordMaxY, texCoordMaxZ);
    LoadTextureScale(GL_TEXTURE5, 1.0f / float(std::max(brickGrid.BricksX(), 1u)),
                     1.0f / float(std::max(brickGrid.BricksY(), 1u)), 1.0f / float(std::max(brickGrid.BricksZ(), 1u)));
    glActiveTexture(GL_TEXTURE4);
    glMatrixMode(GL_MODELVIEW);

    const int shared = SamplesPerGradient();
    aShaderObject* const program =
        shared > 1 && rayCastingSharedPrograms[shared - 2] ? rayCastingSharedPrograms[shared - 2] : rayCastingProgram;
    if (program) {
        program->bind();
        program->setUniform1i("adaptiveStepSize", adaptiveStepSize ? 1 : 0);
        program->setUniform1i("lighting", lighting ? 1 : 0);
        program->setUniform1f("sampleCount", stepSize);
        program->setUniform1f("maxIntensity", maxIntensity);
        program->setUniform1f("sampleOffset", sampleOffset);
        program->setUniform1i("entry_tex", 0);
        program->setUniform1i("exit_tex", 1);
        program->setUniform1i("transfer_tex", 2);
        program->setUniform1i("occupancy_tex", 5);
        // The crop box and the plane in the box's coordinates c in [0, 1]^3:
        // a point p = (2 c - 1) half of the box is kept where
        // n . p <= d, that is (2 n half) . c <= d + n . half.
        glUniform3f(program->uniformLocation("cropLow"), cut.crop[0], cut.crop[2], cut.crop[4]);
        glUniform3f(program->uniformLocation("cropHigh"), cut.crop[1], cut.crop[3], cut.crop[5]);
        const Vec3 n = cut.clip ? cut.normal : Vec3{};
        const float d = cut.clip ? cut.distance : 1.0f;
        glUniform4f(program->uniformLocation("clipPlane"), 2.0f * n.x * half.x, 2.0f * n.y * half.y,
                    2.0f * n.z * half.z, d + n.x * half.x + n.y * half.y + n.z * half.z);
        const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        glUniform3f(program->uniformLocation("clipNormal"), length > 0.0f ? n.x / length : 0.0f,
                    length > 0.0f ? n.y / length : 0.0f, length > 0.0f ? n.z / length : 1.0f);
        program->setUniform1i("cutFace", DrawsCutFaces() ? int(cut.face) : 0);
        program->setUniform1i("projection", blendMode == MaximumIntensity ? 1 : blendMode == MinimumIntensity ? 2 : 0);
        glUniform2f(program->uniformLocation("greyWindow"), cut.greyLow, cut.greyHigh);
        // Each build of the shader has only the uniforms it reads.
        if (gradientsFromDensities) {
            const Vec3 scale = GradientScale();
            program->setUniform1i("density_tex", 3);
            glUniform3f(program->uniformLocation("texelCount"), float(texDimX), float(texDimY), float(texDimZ));
            glUniform3f(program->uniformLocation("gradientScale"), scale.x, scale.y, scale.z);
        } else {
            program->setUniform1i("gradient_tex", 4);
        }
    }

    glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2f(0, 0), glVertex3f(-1, -1, 0);
    glTexCoord2f(0, 1), glVertex3f(-1, +1, 0);
    glTexCoord2f(1, 0), glVertex3f(+1, -1, 0);
    glTexCoord2f(1, 1), glVertex3f(+1, +1, 0);
    glEnd();

    if (program) {
        program->unbind();
    }
    for (GLenum unit : matrixUnits) {
        PopTextureMatrix(unit);
    }
    glActiveTexture(GL_TEXTURE4);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_3D);

    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    CheckGlError(__LINE__);
}
