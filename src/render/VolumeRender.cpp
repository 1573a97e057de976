// Frame composition: texture environment, blend mode, dispatch to the current
// method, and the choice of the slice stack from the free-rotation angles.
#include "VolumeRenderer.h"

#include "Log.h"

void VolumeRenderer::Render()
{
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_BLEND);
    switch (blendMode) {
        case Blend:
            glBlendEquationEXT(GL_FUNC_ADD);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            break;
        case MaximumIntensity:
            glBlendEquationEXT(GL_MAX);
            glBlendFunc(GL_SRC_COLOR, GL_DST_COLOR);
            break;
        case MinimumIntensity:
            glBlendEquationEXT(GL_MIN);
            glBlendFunc(GL_SRC_COLOR, GL_DST_COLOR);
            break;
        case DefaultBlend:
            glBlendEquationEXT(GL_FUNC_ADD);
            glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            break;
        default:
            break;
    }

    switch (renderMethod) {
        case Slices:
            RenderCutFaces(false);
            BeginCut();
            RenderSlices();
            EndCut();
            RenderCutFaces(true);
            break;
        case VolumeTexture:
            RenderCutFaces(false);
            BeginCut();
            RenderVolumeTexture();
            EndCut();
            RenderCutFaces(true);
            break;
        case RayCasting:
            RenderRayCasting();
            break;
        default:
            break;
    }

    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", __LINE__);
    }
}

namespace {
enum Sector { S0, S90, S180, S270, NoSector };

Sector SectorOf(float a)
{
    // Written so that a NaN angle, too, has no sector.
    if (!(a >= 0.0f && a < 360.0f)) {
        return NoSector;
    }
    if (a >= 315.0f || a < 45.0f) {
        return S0;
    }
    if (a < 135.0f) {
        return S90;
    }
    if (a < 225.0f) {
        return S180;
    }
    return S270;
}

using VS = VolumeRenderer::ViewStack;
constexpr VS L = VolumeRenderer::Left, D = VolumeRenderer::Down, B = VolumeRenderer::Back, R = VolumeRenderer::Right,
             U = VolumeRenderer::Up, F = VolumeRenderer::Front;

// Indexed by the z sector.
const VS xQuarterTurn[2][4] = {
    {U, R, D, L},  // x in S90
    {D, L, U, R},  // x in S270
};
// Indexed by x sector (S0 or S180), y sector, z sector.
const VS xHalfTurn[2][4][4] = {
    {{F, F, F, F}, {L, U, R, D}, {B, B, B, B}, {R, D, L, U}},
    {{B, B, B, B}, {R, D, L, U}, {F, F, F, F}, {L, U, R, D}},
};
}  // namespace

VolumeRenderer::ViewStack VolumeRenderer::ViewStackFromAngles(Vec3 angles)
{
    const Sector z = SectorOf(angles.z);
    if (z == NoSector) {
        return Front;
    }
    const Sector x = SectorOf(angles.x);
    if (x == NoSector) {
        return Front;
    }
    if (x == S90 || x == S270) {
        return xQuarterTurn[x == S90 ? 0 : 1][z];
    }
    const Sector y = SectorOf(angles.y);
    if (y == NoSector) {
        return Front;
    }
    return xHalfTurn[x == S0 ? 0 : 1][y][z];
}
