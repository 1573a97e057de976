#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
void ExpectVector(GLenum light, GLenum name, std::array<float, 4> expected, int count = 4)
{
    GLfloat v[4] = {};
    glGetLightfv(light, name, v);
    for (int i = 0; i < count; ++i) {
        EXPECT_FLOAT_EQ(v[i], expected[i]) << "light parameter " << name << " component " << i;
    }
}

void ExpectMaterial(GLenum face, GLenum name, std::array<float, 4> expected, int count = 4)
{
    GLfloat v[4] = {};
    glGetMaterialfv(face, name, v);
    for (int i = 0; i < count; ++i) {
        EXPECT_NEAR(v[i], expected[i], 1e-6) << "material parameter " << name << " component " << i;
    }
}
}  // namespace

TEST(Renderer, StartsWithItsDefaults)
{
    GLWindow gl;
    TransferFunction tf;
    VolumeRenderer r(&gl.display, "/nowhere/", &tf);
    EXPECT_FALSE(r.IsLoaded());
    EXPECT_EQ(r.blendMode, VolumeRenderer::DefaultBlend);
    EXPECT_EQ(r.viewStack, VolumeRenderer::Front);
    EXPECT_EQ(r.renderMethod, VolumeRenderer::RayCasting);
    EXPECT_EQ(r.classification, VolumeRenderer::NoClassification);
    EXPECT_EQ(r.colorMapType, VolumeRenderer::Intensity);
    EXPECT_EQ(r.sliceMode, VolumeRenderer::AllSlices);
    EXPECT_TRUE(r.adaptiveStepSize);
    EXPECT_TRUE(r.lighting);
    EXPECT_FLOAT_EQ(r.stepSize, 0.01f);
    EXPECT_FLOAT_EQ(r.maxIntensity, 1.0f);
    EXPECT_EQ(r.volumeTexture, VolumeRenderer::none);
    EXPECT_EQ(r.transferTexture, VolumeRenderer::none);
    EXPECT_EQ(r.gradientTexture, VolumeRenderer::none);
    EXPECT_EQ(r.entryTexture, VolumeRenderer::none);
    EXPECT_EQ(r.exitTexture, VolumeRenderer::none);
    EXPECT_EQ(r.GetHistogram(), nullptr);
    EXPECT_EQ(r.rayCastingProgram, nullptr);
    EXPECT_TRUE(glIsList(r.cubeList));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(Renderer, SettersStoreAndLimitTheirValues)
{
    GLWindow gl;
    TransferFunction tf;
    VolumeRenderer r(&gl.display, "", &tf);

    r.SetStepSize(0.0f);
    EXPECT_FLOAT_EQ(r.stepSize, 0.1f);
    r.SetStepSize(-1.0f);
    EXPECT_FLOAT_EQ(r.stepSize, 0.1f);
    r.SetStepSize(0.001f);
    EXPECT_FLOAT_EQ(r.stepSize, 0.001f);

    r.SetMaxIntensity(1.5f);
    EXPECT_FLOAT_EQ(r.maxIntensity, 1.0f);
    r.SetMaxIntensity(-0.2f);
    EXPECT_FLOAT_EQ(r.maxIntensity, 0.0f);
    r.SetMaxIntensity(0.25f);
    EXPECT_FLOAT_EQ(r.maxIntensity, 0.25f);

    r.SetAdaptiveStepSize(0.0f);
    EXPECT_FALSE(r.adaptiveStepSize);
    r.SetAdaptiveStepSize(-3.0f);
    EXPECT_TRUE(r.adaptiveStepSize);
    r.SetLighting(0.0f);
    EXPECT_FALSE(r.lighting);
    r.SetLighting(1.0f);
    EXPECT_TRUE(r.lighting);

    // Unloaded: a new method or classification is only stored, nothing is built.
    r.SetRenderMethod(VolumeRenderer::Slices);
    r.SetClassification(VolumeRenderer::PreClassification);
    r.SetColorMapType(VolumeRenderer::IntensityGradient);
    EXPECT_EQ(r.renderMethod, VolumeRenderer::Slices);
    EXPECT_EQ(r.classification, VolumeRenderer::PreClassification);
    EXPECT_EQ(r.colorMapType, VolumeRenderer::IntensityGradient);
    EXPECT_TRUE(r.sliceTexturesX.empty());
    EXPECT_EQ(r.transferTexture, VolumeRenderer::none);

    r.SetSliceCounts(3, 4, 5);
    r.SetStackSlices(6, 7, 8);
    r.SetVolumeSlices(9, 10, 11);
    EXPECT_EQ((std::array<uint32_t, 3>{r.sliceCountX, r.sliceCountY, r.sliceCountZ}),
              (std::array<uint32_t, 3>{3, 4, 5}));
    EXPECT_EQ((std::array<int, 3>{r.stackSliceX, r.stackSliceY, r.stackSliceZ}), (std::array<int, 3>{6, 7, 8}));
    EXPECT_EQ((std::array<int, 3>{r.volumeSliceX, r.volumeSliceY, r.volumeSliceZ}), (std::array<int, 3>{9, 10, 11}));
    r.SetSliceMode(4);
    r.SetSliceMode(2);
    EXPECT_EQ(r.sliceMode, 2);
    r.SetBlendMode(7);
    EXPECT_EQ(r.blendMode, 7);
    r.SetViewStack(VolumeRenderer::Left);
    EXPECT_EQ(r.viewStack, VolumeRenderer::Left);
}

TEST(Renderer, LightingStateReadsBack)
{
    GLWindow gl;
    TransferFunction tf;
    VolumeRenderer r(&gl.display, "", &tf);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    r.SetupLighting();

    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    GLfloat model[4] = {1, 1, 1, 1};
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, model);
    EXPECT_EQ((std::array<float, 4>{model[0], model[1], model[2], model[3]}), (std::array<float, 4>{0, 0, 0, 0}));
    GLint localViewer = 0, twoSide = 1;
    glGetIntegerv(GL_LIGHT_MODEL_LOCAL_VIEWER, &localViewer);
    glGetIntegerv(GL_LIGHT_MODEL_TWO_SIDE, &twoSide);
    EXPECT_EQ(localViewer, 1);
    EXPECT_EQ(twoSide, 0);

    ExpectVector(GL_LIGHT0, GL_SPOT_DIRECTION, {1, -1, -1, 0}, 3);
    ExpectVector(GL_LIGHT0, GL_SPOT_EXPONENT, {30, 0, 0, 0}, 1);
    ExpectVector(GL_LIGHT0, GL_SPOT_CUTOFF, {180, 0, 0, 0}, 1);
    ExpectVector(GL_LIGHT0, GL_CONSTANT_ATTENUATION, {1, 0, 0, 0}, 1);
    ExpectVector(GL_LIGHT0, GL_LINEAR_ATTENUATION, {0, 0, 0, 0}, 1);
    ExpectVector(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, {0, 0, 0, 0}, 1);
    ExpectVector(GL_LIGHT0, GL_POSITION, {0, 5, 5, 1});
    ExpectVector(GL_LIGHT0, GL_AMBIENT, {1.0f, 0.5f, 0.5f, 1.0f});
    ExpectVector(GL_LIGHT0, GL_DIFFUSE, {0.1f, 0.1f, 0.1f, 1.0f});
    ExpectVector(GL_LIGHT0, GL_SPECULAR, {1, 1, 1, 1});

    // With colour material on, ambient and diffuse follow the current colour
    // (white by default); the other material values stand as set.
    for (GLenum face : {GL_FRONT, GL_BACK}) {
        ExpectMaterial(face, GL_AMBIENT, {1, 1, 1, 1});
        ExpectMaterial(face, GL_DIFFUSE, {1, 1, 1, 1});
        ExpectMaterial(face, GL_SPECULAR, {0.8f, 0.8f, 0, 1});
        ExpectMaterial(face, GL_EMISSION, {0.1f, 0, 0, 0});
        ExpectMaterial(face, GL_SHININESS, {20, 0, 0, 0}, 1);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(Renderer, CubeListShowsItsFrontFaceAtTheStartupCamera)
{
    GLWindow gl;
    TransferFunction tf;
    VolumeRenderer r(&gl.display, "", &tf);
    gl.display.Clear();
    glTranslatef(0.0f, 0.0f, -20.0f);
    glEnable(GL_CULL_FACE);
    r.DrawCube();

    // The face z = +1 faces the viewer; its centre has colour (0.5, 0.5, 1).
    const Pixel centre = ReadPixel(537 / 2, 595 / 2);
    EXPECT_NEAR(centre.r, 128, 3);
    EXPECT_NEAR(centre.g, 128, 3);
    EXPECT_EQ(centre.b, 255);
    // Corners of the panel stay at the cleared black.
    const Pixel corner = ReadPixel(2, 2);
    EXPECT_EQ(corner.r + corner.g + corner.b, 0);

    // Culling the front faces shows the back face z = -1 instead: blue 0.
    gl.display.Clear();
    glTranslatef(0.0f, 0.0f, -20.0f);
    glCullFace(GL_FRONT);
    r.DrawCube();
    const Pixel back = ReadPixel(537 / 2, 595 / 2);
    EXPECT_NEAR(back.r, 128, 3);
    EXPECT_NEAR(back.g, 128, 3);
    EXPECT_EQ(back.b, 0);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST(Renderer, DestroyingAnUnloadedRendererDeletesOnlyItsList)
{
    GLWindow gl;
    TransferFunction tf;
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    GLuint list = 0;
    {
        VolumeRenderer r(&gl.display, "", &tf);
        list = r.cubeList;
        ASSERT_TRUE(glIsList(list));
    }
    EXPECT_FALSE(glIsList(list));
    EXPECT_TRUE(glIsTexture(other));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(Display, ResizeSetsViewportAndProjection)
{
    GLWindow gl(300, 200);
    gl.display.Resize(300, 0);
    EXPECT_EQ(gl.display.width, 300);
    EXPECT_EQ(gl.display.height, 1);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ((std::array<int, 4>{viewport[0], viewport[1], viewport[2], viewport[3]}),
              (std::array<int, 4>{0, 0, 300, 1}));

    gl.display.Resize(200, 100);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 200);
    EXPECT_EQ(viewport[3], 100);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    // gluPerspective: f = cot(22.5 degrees), [0] = f / aspect, [5] = f.
    const float f = 1.0f / std::tan(22.5f * float(M_PI) / 180.0f);
    EXPECT_NEAR(projection[5], f, 1e-5);
    EXPECT_NEAR(projection[0], f / 2.0f, 1e-5);
    EXPECT_NEAR(projection[10], -(100000.0f + 1.0f) / (100000.0f - 1.0f), 1e-5);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f);
    }
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
}

TEST(Display, ClearLeavesBlackAndIdentity)
{
    GLWindow gl(64, 64);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1, 2, 3);
    glMatrixMode(GL_PROJECTION);

    gl.display.Clear();
    const Pixel p = ReadPixel(10, 10);
    EXPECT_EQ((std::array<int, 4>{p.r, p.g, p.b, p.a}), (std::array<int, 4>{0, 0, 0, 255}));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f);
    }
}
