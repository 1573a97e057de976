// The renderer object: construction, destruction, setters and the fixed-function
// lighting that every load installs.
#include "VolumeRenderer.h"

#include <algorithm>
#include <cmath>

#include "glsl.h"

VolumeRenderer::VolumeRenderer(Display* display, const char* basePath, TransferFunction* transferFunction)
    : display(display), basePath(basePath)
{
    texCoordMaxX = texCoordMaxY = texCoordMaxZ = 0.0f;
    densities = nullptr;
    volumeTexture = none;
    sliceMode = AllSlices;
    colorMapType = Intensity;
    intensity2dProgram = intensity3dProgram = nullptr;
    intensityGradient2dProgram = intensityGradient3dProgram = nullptr;
    transferTexture = none;
    gradientTexture = none;
    histogram = nullptr;

    blendMode = DefaultBlend;
    viewStack = Front;
    renderMethod = RayCasting;
    classification = NoClassification;

    this->transferFunction = transferFunction;

    adaptiveStepSize = true;
    lighting = true;
    stepSize = 0.01f;
    maxIntensity = 1.0f;

    entryTexture = exitTexture = none;
    occupancyTexture = none;
    rayCastingProgram = nullptr;
    std::fill(std::begin(rayCastingSharedPrograms), std::end(rayCastingSharedPrograms), nullptr);

    cubeList = glGenLists(1);
    BuildCubeList();
}

namespace {
void DeleteTexture(GLuint& name)
{
    if (name != VolumeRenderer::none) {
        glDeleteTextures(1, &name);
        name = VolumeRenderer::none;
    }
}
}  // namespace

VolumeRenderer::~VolumeRenderer()
{
    glDeleteLists(cubeList, 1);
    cubeList = none;
    DeleteShaders();
    DeleteSliceTextures();
    DeleteTexture(transferTexture);
    DeleteTexture(densityLookupTexture);
    DeleteTexture(gradientTexture);
    DeleteTexture(volumeTexture);
    DeleteTexture(entryTexture);
    DeleteTexture(exitTexture);
    DeleteTexture(occupancyTexture);
    DeleteTexture(rayTransferTexture);
    DeleteCutFaceTexture();
    if (entryExitFramebuffer != 0) {
        glDeleteFramebuffers(1, &entryExitFramebuffer);
    }
    ReleaseVolumeData();
}

void VolumeRenderer::ReleaseVolumeData()
{
    reducedResolution.clear();
    delete[] densities;
    densities = nullptr;
    delete[] histogram;
    histogram = nullptr;
    brickGrid.Clear();
    // The next grid may differ: the resident density texture no longer counts as its copy.
    volumeTextureHoldsDensities = false;
}

void VolumeRenderer::SetSliceCounts(int32_t x, int32_t y, int32_t z)
{
    sliceCountX = static_cast<uint32_t>(x);
    sliceCountY = static_cast<uint32_t>(y);
    sliceCountZ = static_cast<uint32_t>(z);
}

void VolumeRenderer::SetStackSlices(int32_t x, int32_t y, int32_t z)
{
    stackSliceX = x;
    stackSliceY = y;
    stackSliceZ = z;
}

void VolumeRenderer::SetVolumeSlices(int32_t x, int32_t y, int32_t z)
{
    volumeSliceX = x;
    volumeSliceY = y;
    volumeSliceZ = z;
}

void VolumeRenderer::SetSliceMode(int32_t mode) { sliceMode = mode; }

void VolumeRenderer::SetBlendMode(uint8_t mode)
{
    blendMode = mode;
    // Colours premultiplied for "Default" and as they are for the others.
    if (IsLoaded() && PremultipliedColors() != premultipliedTextures) {
        UpdateTransferFunction();
    }
}

void VolumeRenderer::SetViewStack(int8_t stack) { viewStack = stack; }

void VolumeRenderer::SetVoxelSpacing(Vec3 spacing)
{
    auto side = [](float s) { return std::isfinite(s) && s > 0.0f ? s : 1.0f; };
    voxelSpacing = Vec3{side(spacing.x), side(spacing.y), side(spacing.z)};
    ++generation;
    if (densities && gradientTexture != none) {
        BuildGradientTexture();
    }
}

Vec3 VolumeRenderer::BoxHalfExtents() const
{
    const float x = float(std::max(dimX, 1u)) * voxelSpacing.x;
    const float y = float(std::max(dimY, 1u)) * voxelSpacing.y;
    const float z = float(std::max(dimZ, 1u)) * voxelSpacing.z;
    const float largest = std::max({x, y, z});
    return Vec3{x / largest, y / largest, z / largest};
}

void VolumeRenderer::SetRenderMethod(uint8_t method)
{
    if (method == renderMethod) {
        return;
    }
    renderMethod = method;
    if (IsLoaded()) {
        RebuildTextures();
    }
}

void VolumeRenderer::SetClassification(uint8_t value)
{
    if (value == classification) {
        return;
    }
    classification = value;
    if (IsLoaded()) {
        RebuildTextures();
    }
}

void VolumeRenderer::SetColorMapType(uint8_t type)
{
    if (type == colorMapType) {
        return;
    }
    colorMapType = type;
    if (IsLoaded()) {
        UpdateTransferFunction();
    }
}

void VolumeRenderer::SetStepSize(float size) { stepSize = size > 0.0f ? size : 0.1f; }

void VolumeRenderer::SetMaxIntensity(float intensity)
{
    maxIntensity = intensity > 1.0f ? 1.0f : (intensity > 0.0f ? intensity : 0.0f);
}

void VolumeRenderer::SetAdaptiveStepSize(float flag) { adaptiveStepSize = flag != 0.0f; }

void VolumeRenderer::SetLighting(float flag) { lighting = flag != 0.0f; }

void VolumeRenderer::SetupLighting()
{
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_COLOR_MATERIAL);

    const GLfloat modelAmbient[] = {0.0f, 0.0f, 0.0f, 0.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, modelAmbient);
    glLightModelf(GL_LIGHT_MODEL_LOCAL_VIEWER, 1.0f);
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 0.0f);

    const GLfloat spotDirection[] = {1.0f, -1.0f, -1.0f};
    const GLfloat position[] = {0.0f, 5.0f, 5.0f, 1.0f};
    const GLfloat ambient[] = {1.0f, 0.5f, 0.5f, 1.0f};
    const GLfloat diffuse[] = {0.1f, 0.1f, 0.1f, 1.0f};
    const GLfloat specular[] = {1.0f, 1.0f, 1.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, spotDirection);
    glLighti(GL_LIGHT0, GL_SPOT_EXPONENT, 30);
    glLighti(GL_LIGHT0, GL_SPOT_CUTOFF, 180);
    glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.0f);
    glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, 0.0f);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);

    const GLfloat materialAmbient[] = {0.5f, 0.0f, 0.0f, 1.0f};
    const GLfloat materialDiffuse[] = {0.4f, 0.4f, 0.5f, 1.0f};
    const GLfloat materialSpecular[] = {0.8f, 0.8f, 0.0f, 1.0f};
    const GLfloat materialEmission[] = {0.1f, 0.0f, 0.0f, 0.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, materialAmbient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, materialDiffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, materialSpecular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, materialEmission);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20.0f);
}
