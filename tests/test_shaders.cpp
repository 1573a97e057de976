// The shader set, ray casting, volume-texture planes and shader classification,
// drawn on a real OpenGL context and read back.
#include <GL/glew.h>

#include "VolumeRenderer.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Log.h"
#include "StartupTransferFunction.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "glsl.h"

namespace fs = std::filesystem;

namespace {
constexpr int panelWidth = 537;
constexpr int panelHeight = 595;

// 1 inside 'edge', 0 outside, with a ramp of 'width' across the edge.
float Inside(float r, float edge, float width) { return std::clamp((edge - r) / width + 0.5f, 0.0f, 1.0f); }

// A head: scalp, skull, brain with two ventricles and a nose facing +z, in a
// grid that is padded along z (100 of 128).
void WriteHead(const std::string& path)
{
    const float cx = 64.0f, cy = 64.0f, cz = 50.0f;
    WriteVolume(path, 128, 128, 100, [=](uint32_t x, uint32_t y, uint32_t z) {
        const float dx = (float(x) - cx) / 50.0f, dy = (float(y) - cy) / 58.0f, dz = (float(z) - cz) / 44.0f;
        const float r = std::sqrt(dx * dx + dy * dy + dz * dz);
        const float width = 0.03f;
        float d =
            900.0f * Inside(r, 1.0f, width) + 1900.0f * Inside(r, 0.93f, width) - 1700.0f * Inside(r, 0.85f, width);
        for (float side : {-1.0f, 1.0f}) {
            const float vx = (float(x) - cx - side * 9.0f) / 6.0f, vy = (float(y) - cy - 4.0f) / 16.0f,
                        vz = (float(z) - cz) / 10.0f;
            d -= 700.0f * Inside(std::sqrt(vx * vx + vy * vy + vz * vz), 1.0f, 0.15f);
        }
        const float nx = (float(x) - cx) / 6.0f, ny = (float(y) - cy + 4.0f) / 12.0f,
                    nz = (float(z) - cz - 44.0f) / 8.0f;
        d = std::max(d, 900.0f * Inside(std::sqrt(nx * nx + ny * ny + nz * nz), 1.0f, 0.15f));
        return uint16_t(std::lround(d));
    });
}

// Red rising from 0 at density 0 to 255 at 4080, green and blue 255, opaque.
void RampTransferFunction(TransferFunction& tf)
{
    tf.Clear();
    tf.AddSample(0, 0, 0);
    tf.AddSample(0, 255, 4080);
    tf.AddSample(1, 255, 0);
    tf.AddSample(2, 255, 0);
    tf.AddSample(3, 255, 0);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;  // bottom row first, as read back

    const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
    int Brightness(int x, int y) const { return At(x, y)[0] + At(x, y)[1] + At(x, y)[2]; }
};

Picture ReadPicture(int width, int height)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.rgba.resize(size_t(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, p.rgba.data());
    return p;
}

// Saved as PNG when VOLREN_TEST_PICTURES names a folder, to look at them.
void Keep(const Picture& p, const std::string& name)
{
    const char* folder = std::getenv("VOLREN_TEST_PICTURES");
    if (!folder) {
        return;
    }
    QImage image(p.width, p.height, QImage::Format_RGB888);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* c = p.At(x, p.height - 1 - y);
            image.setPixel(x, y, qRgb(c[0], c[1], c[2]));
        }
    }
    image.save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

// Screen rectangle in panel pixels.
struct Square {
    double x0, x1, y0, y1;
};
const Square wholePanel = {0, panelWidth, 0, panelHeight};

// Mean absolute difference per colour channel, over the pixels of a rectangle.
double MeanDifference(const Picture& a, const Picture& b, const Square& area = wholePanel)
{
    double sum = 0;
    int n = 0;
    for (int y = int(area.y0); y < int(area.y1); ++y) {
        for (int x = int(area.x0); x < int(area.x1); ++x, ++n) {
            for (int c = 0; c < 3; ++c) {
                sum += std::abs(int(a.At(x, y)[c]) - int(b.At(x, y)[c]));
            }
        }
    }
    return sum / (3.0 * n);
}

// Mean colour channel over a rectangle; the ray caster writes colours
// composited over black, so this is the alpha-weighted brightness.
double MeanBrightness(const Picture& p, const Square& area = wholePanel)
{
    double sum = 0;
    int n = 0;
    for (int y = int(area.y0); y < int(area.y1); ++y) {
        for (int x = int(area.x0); x < int(area.x1); ++x, ++n) {
            sum += p.Brightness(x, y);
        }
    }
    return sum / (3.0 * n);
}

// A window, a transfer function and a renderer with a volume loaded from the
// scratch folder.
struct Scene {
    explicit Scene(const std::string& volume, const std::string& base = ProgramFolder(),
                   void (*transfer)(TransferFunction&) = FillStartupTransferFunction)
        : basePath(base), renderer(&window.display, basePath.c_str(), &transferFunction)
    {
        transfer(transferFunction);
        renderer.Load(volume.c_str());
    }

    Picture Frame(float cameraZ = -20.0f)
    {
        window.display.Clear();
        glTranslatef(0.0f, 0.0f, cameraZ);
        renderer.Render();
        return ReadPicture(window.display.width, window.display.height);
    }

    // The same picture as a box of one unit per voxel seen from cameraZ: every
    // method draws the largest side over 2 units.
    Picture FrameInVoxels(float cameraZ) { return Frame(cameraZ * 2.0f / Largest()); }

    float Largest() const { return float(std::max({renderer.dimX, renderer.dimY, renderer.dimZ, 1u})); }

    GLWindow window;
    std::string basePath;
    TransferFunction transferFunction;
    VolumeRenderer renderer;
};

// Screen square covered by the ray-casting cube at the start-up camera: its
// front face at distance 19, the panel's 45-degree vertical field of view.
Square CubeSquare()
{
    const double halfY = 1.0 / (19.0 * std::tan(22.5 * M_PI / 180.0));
    const double halfX = halfY * panelHeight / panelWidth;
    return {(1 - halfX) * panelWidth / 2, (1 + halfX) * panelWidth / 2, (1 - halfY) * panelHeight / 2,
            (1 + halfY) * panelHeight / 2};
}

std::vector<uint8_t> TextureImage(GLuint texture, int& width, int& height)
{
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    std::vector<uint8_t> texels(size_t(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}
}  // namespace

TEST(RayCasting, StartUpPictureShowsTheHeadLitInsideTheCubeOnly)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    ASSERT_EQ(scene.renderer.renderMethod, VolumeRenderer::RayCasting);
    const Picture lit = scene.Frame();
    Keep(lit, "raycast_lit");

    const Square cube = CubeSquare();
    int outsideLit = 0, inside = 0, visible = 0, minB = 765, maxB = 0;
    for (int y = 0; y < lit.height; ++y) {
        for (int x = 0; x < lit.width; ++x) {
            const bool out = x < cube.x0 - 2 || x > cube.x1 + 2 || y < cube.y0 - 2 || y > cube.y1 + 2;
            const int b = lit.Brightness(x, y);
            if (out) {
                outsideLit += b != 0;
            } else if (x > cube.x0 + 2 && x < cube.x1 - 2 && y > cube.y0 + 2 && y < cube.y1 - 2) {
                ++inside;
                visible += b > 30;
                if (b > 30) {
                    minB = std::min(minB, b);
                    maxB = std::max(maxB, b);
                }
            }
        }
    }
    EXPECT_EQ(outsideLit, 0);
    // The head fills most of the cube's square and is shaded, not flat.
    EXPECT_GT(visible, inside / 3);
    EXPECT_GT(maxB - minB, 120);

    // Closer up the head fills more of the panel.
    const Picture close = scene.Frame(-4.0f);
    Keep(close, "raycast_close");
    EXPECT_GT(MeanBrightness(close), 4 * MeanBrightness(lit));

    scene.renderer.SetLighting(0.0f);
    const Picture unlit = scene.Frame();
    Keep(unlit, "raycast_unlit");
    Keep(scene.Frame(-4.0f), "raycast_close_unlit");
    EXPECT_GT(MeanDifference(lit, unlit, cube), 5.0);
}

TEST(RayCasting, StepSizeChangesDetailButNotOverallOpacity)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    scene.renderer.SetLighting(0.0f);
    const Picture coarse = scene.Frame();
    scene.renderer.SetStepSize(0.0025f);
    const Picture fine = scene.Frame();
    Keep(fine, "raycast_step_0.0025");

    const Square cube = CubeSquare();
    EXPECT_GT(MeanDifference(coarse, fine, cube), 0.3);
    // With the opacity corrected for the step, four times as many samples
    // keep the brightness within a few percent; uncorrected, each 0.01 of
    // scalp (opacity 0.2 there) would become 1 - 0.8^4 = 0.59 opaque and the
    // picture markedly brighter at its rim and darker behind.
    const double b0 = MeanBrightness(coarse, cube), b1 = MeanBrightness(fine, cube);
    ASSERT_GT(b0, 0.0);
    EXPECT_NEAR(b1 / b0, 1.0, 0.04) << b0 << " " << b1;
}

TEST(RayCasting, AdaptiveStepLeavesThePictureAlone)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    ASSERT_TRUE(scene.renderer.adaptiveStepSize);
    for (float step : {0.01f, 0.003f}) {
        scene.renderer.SetStepSize(step);
        scene.renderer.SetAdaptiveStepSize(1.0f);
        const Picture adaptive = scene.Frame();
        scene.renderer.SetAdaptiveStepSize(0.0f);
        const Picture fixed = scene.Frame();
        int far = 0;
        for (size_t i = 0; i < fixed.rgba.size(); ++i) {
            far += std::abs(int(fixed.rgba[i]) - int(adaptive.rgba[i])) > 2;
        }
        // A handful of the 950,000 channel values may move by a few levels
        // where a long step skips a sliver; nothing a viewer could see.
        EXPECT_LT(MeanDifference(adaptive, fixed, CubeSquare()), 0.05) << step;
        EXPECT_LT(far, 40) << step;
    }
}

TEST(RayCasting, MaxIntensityIsADensityWindow)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    const Picture full = scene.Frame();
    scene.renderer.SetMaxIntensity(0.5f);
    const Picture windowed = scene.Frame();
    Keep(windowed, "raycast_maxintensity_0.5");
    // The skull (2800) goes, the scalp (900) stays.
    const Square cube = CubeSquare();
    EXPECT_GT(MeanDifference(full, windowed, cube), 1.5);
    EXPECT_GT(MeanBrightness(windowed, cube), 10.0);
    scene.renderer.SetMaxIntensity(0.0f);
    EXPECT_EQ(MeanBrightness(scene.Frame()), 0.0);
    scene.renderer.SetMaxIntensity(1.0f);
    EXPECT_EQ(MeanDifference(full, scene.Frame()), 0.0);
}

TEST(RayCasting, EntryImageHoldsTheFrontFaceAndBlackOutside)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    scene.Frame();

    int w = 0, h = 0;
    const std::vector<uint8_t> entry = TextureImage(scene.renderer.entryTexture, w, h);
    int we = 0, he = 0;
    const std::vector<uint8_t> exitImage = TextureImage(scene.renderer.exitTexture, we, he);
    ASSERT_GT(w, 0);
    ASSERT_EQ(w, we);
    ASSERT_EQ(h, he);

    const double tanHalf = std::tan(22.5 * M_PI / 180.0), aspect = double(panelWidth) / panelHeight;
    const Square cube = CubeSquare();
    int checked = 0;
    for (int v = 0; v < h; v += 3) {
        for (int u = 0; u < w; u += 3) {
            // Texel centre in panel pixels (the image is rescaled to a power of two).
            const double px = (u + 0.5) * panelWidth / w, py = (v + 0.5) * panelHeight / h;
            const uint8_t* e = &entry[(size_t(v) * w + u) * 4];
            const uint8_t* x = &exitImage[(size_t(v) * w + u) * 4];
            if (px < cube.x0 - 4 || px > cube.x1 + 4 || py < cube.y0 - 4 || py > cube.y1 + 4) {
                EXPECT_EQ(e[0] + e[1] + e[2] + x[0] + x[1] + x[2], 0) << u << "," << v;
                // GLU's rescaling to a power of two may round the alpha of 255 down by one.
                EXPECT_GE(e[3], 254);
                EXPECT_GE(x[3], 254);
            } else if (px > cube.x0 + 4 && px < cube.x1 - 4 && py > cube.y0 + 4 && py < cube.y1 - 4) {
                // On the face z = +1, 19 units in front of the eye.
                const double mx = (2 * px / panelWidth - 1) * 19 * tanHalf * aspect;
                const double my = (2 * py / panelHeight - 1) * 19 * tanHalf;
                EXPECT_NEAR(e[0], (mx + 1) / 2 * 255, 4) << u << "," << v;
                EXPECT_NEAR(e[1], (my + 1) / 2 * 255, 4) << u << "," << v;
                EXPECT_GE(e[2], 254);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100);
    // The exit point at the centre lies on the back face z = -1.
    const uint8_t* centre = &exitImage[(size_t(h / 2) * w + w / 2) * 4];
    EXPECT_NEAR(centre[0], 128, 3);
    EXPECT_NEAR(centre[1], 128, 3);
    EXPECT_LE(centre[2], 1);
}

TEST(RayCasting, MinimumIntensityBlackensEntryExitAndPicture)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    scene.renderer.SetBlendMode(VolumeRenderer::MinimumIntensity);
    const Picture picture = scene.Frame();
    EXPECT_EQ(MeanBrightness(picture), 0.0);
    for (GLuint texture : {scene.renderer.entryTexture, scene.renderer.exitTexture}) {
        int w = 0, h = 0;
        const std::vector<uint8_t> texels = TextureImage(texture, w, h);
        size_t lit = 0;
        for (size_t i = 0; i < texels.size(); i += 4) {
            lit += texels[i] + texels[i + 1] + texels[i + 2] != 0;
        }
        EXPECT_EQ(lit, 0u);
    }
}

TEST(RayCasting, CubeIsUntexturedAfterASlicingFrame)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    const Picture before = scene.Frame();
    // Shader classification ends on unit 1 with unit 0's slice texture enabled.
    scene.renderer.SetClassification(VolumeRenderer::ShaderClassification);
    scene.renderer.SetRenderMethod(VolumeRenderer::Slices);
    scene.FrameInVoxels(-300.0f);
    scene.renderer.SetRenderMethod(VolumeRenderer::RayCasting);
    EXPECT_EQ(MeanDifference(before, scene.Frame()), 0.0);
}

TEST(VolumeTexture, SlicesAfterPlanesSampleTheirOwnTextures)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    scene.renderer.SetRenderMethod(VolumeRenderer::Slices);
    const Picture fresh = scene.FrameInVoxels(-300.0f);
    // Planes under shader classification end on unit 1, with the 3D texture
    // still enabled on unit 0, which would win over the slices' 2D textures.
    scene.renderer.SetRenderMethod(VolumeRenderer::VolumeTexture);
    scene.renderer.SetClassification(VolumeRenderer::ShaderClassification);
    scene.FrameInVoxels(-300.0f);
    scene.renderer.SetRenderMethod(VolumeRenderer::Slices);
    scene.FrameInVoxels(-300.0f);
    scene.renderer.SetClassification(VolumeRenderer::NoClassification);
    EXPECT_EQ(MeanDifference(fresh, scene.FrameInVoxels(-300.0f)), 0.0);
}

namespace {
struct FeedbackVertex {
    float z, r;
};

// The vertices the method draws, through feedback under an orthographic view
// of [-100, 100]^3 that turns window depth back into model z.
std::vector<FeedbackVertex> DrawnVertices(Scene& scene)
{
    std::vector<GLfloat> buffer(1 << 20);
    glFeedbackBuffer(GLsizei(buffer.size()), GL_4D_COLOR_TEXTURE, buffer.data());
    glRenderMode(GL_FEEDBACK);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-100, 100, -100, 100, -100, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    scene.renderer.Render();
    const GLint count = glRenderMode(GL_RENDER);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    std::vector<FeedbackVertex> vertices;
    for (GLint i = 0; i < count;) {
        const GLint token = GLint(buffer[i++]);
        EXPECT_EQ(token, GL_POLYGON_TOKEN);
        const GLint n = GLint(buffer[i++]);
        for (GLint k = 0; k < n; ++k, i += 12) {
            vertices.push_back({float(100.0 * (1.0 - 2.0 * buffer[i + 2])), buffer[i + 10]});
        }
    }
    return vertices;
}

// Planes in drawing order: (z, r) of each run of vertices on one plane.
std::vector<FeedbackVertex> Planes(const std::vector<FeedbackVertex>& vertices)
{
    std::vector<FeedbackVertex> planes;
    for (const FeedbackVertex& v : vertices) {
        if (planes.empty() || std::abs(planes.back().z - v.z) > 0.002f) {
            planes.push_back(v);
        }
        EXPECT_NEAR(v.r, planes.back().r, 1e-5);
    }
    return planes;
}
}  // namespace

TEST(VolumeTexture, PlanesAgreeInPositionAndCoordinate)
{
    ScratchFolder scratch;
    WriteVolume(scratch.Path("box.dat"), 16, 16, 64, [](uint32_t, uint32_t, uint32_t z) { return uint16_t(z * 60); });
    Scene scene(scratch.Path("box.dat"));
    scene.renderer.SetRenderMethod(VolumeRenderer::VolumeTexture);
    scene.renderer.SetSliceCounts(16, 16, 4);
    const float cmax = scene.renderer.texCoordMaxZ;
    // Voxel units in the common box, whose largest side (64) spans 2.
    const float unit = 2.0f / 64.0f;

    struct Case {
        int8_t stack;
        std::vector<float> z, r;
    };
    const Case cases[] = {
        {VolumeRenderer::Front, {-32, -16, 0, 16}, {0, 0.25f, 0.5f, 0.75f}},
        {VolumeRenderer::Back, {32, 16, 0, -16}, {1, 0.75f, 0.5f, 0.25f}},
    };
    for (const Case& c : cases) {
        scene.renderer.SetViewStack(c.stack);
        const std::vector<FeedbackVertex> planes = Planes(DrawnVertices(scene));
        ASSERT_EQ(planes.size(), c.z.size()) << int(c.stack);
        for (size_t i = 0; i < planes.size(); ++i) {
            EXPECT_NEAR(planes[i].z, c.z[i] * unit, 0.001) << int(c.stack) << " plane " << i;
            EXPECT_NEAR(planes[i].r, c.r[i] * cmax, 1e-5) << int(c.stack) << " plane " << i;
        }
    }

    // One chosen plane, shown at the centre: plane 1 is the far side.
    scene.renderer.SetSliceMode(VolumeRenderer::VolumeSpecificSlice);
    scene.renderer.SetVolumeSlices(1, 1, 1);
    for (int8_t stack : {VolumeRenderer::Front, VolumeRenderer::Back}) {
        scene.renderer.SetViewStack(stack);
        const std::vector<FeedbackVertex> planes = Planes(DrawnVertices(scene));
        ASSERT_EQ(planes.size(), 1u);
        EXPECT_NEAR(planes[0].z, 0.0f, 0.02);
        EXPECT_NEAR(planes[0].r, stack == VolumeRenderer::Front ? 0.0f : cmax, 1e-5);
    }

    // More planes than voxels.
    scene.renderer.SetSliceMode(VolumeRenderer::AllSlices);
    scene.renderer.SetSliceCounts(16, 16, 200);
    scene.renderer.SetViewStack(VolumeRenderer::Front);
    const std::vector<FeedbackVertex> planes = Planes(DrawnVertices(scene));
    ASSERT_EQ(planes.size(), 200u);
    EXPECT_NEAR(planes[199].z, (-32.0f + 199 * 0.32f) * unit, 0.002);
    EXPECT_NEAR(planes[199].r, 199 * cmax / 200, 1e-4);
}

TEST(ColorMaps, DensitiesMeetTheirLookupTexels)
{
    ScratchFolder scratch;
    // Slabs along z of densities 0, 1000, 2000, 4000, two voxels each.
    const uint16_t slabs[4] = {0, 1000, 2000, 4000};
    WriteVolume(scratch.Path("slabs.dat"), 16, 16, 8, [&](uint32_t, uint32_t, uint32_t z) { return slabs[z / 2]; });
    Scene scene(scratch.Path("slabs.dat"), ProgramFolder(), RampTransferFunction);
    scene.renderer.SetClassification(VolumeRenderer::ShaderClassification);
    const int cx = panelWidth / 2, cy = panelHeight / 2;

    auto expectedRed = [&](uint16_t d) {
        const int even = d & ~1;
        return (scene.transferFunction.Evaluate(even).r + scene.transferFunction.Evaluate(even + 1).r) / 2;
    };

    // Slices: one voxel slice of each slab.
    scene.renderer.SetRenderMethod(VolumeRenderer::Slices);
    scene.renderer.SetSliceMode(VolumeRenderer::StackSpecificSlice);
    for (int slab = 0; slab < 4; ++slab) {
        scene.renderer.SetStackSlices(1, 1, 2 * slab + 1);
        const Picture p = scene.Frame();
        EXPECT_NEAR(p.At(cx, cy)[0], expectedRed(slabs[slab]), 1) << "slice of slab " << slab;
        EXPECT_EQ(p.At(cx, cy)[1], 255);
    }

    // Planes through the 3D texture at voxel centres (r = (2k + 1) / 16 with
    // 16 planes) and halfway between slabs 1 and 2.
    scene.renderer.SetRenderMethod(VolumeRenderer::VolumeTexture);
    scene.renderer.SetSliceMode(VolumeRenderer::VolumeSpecificSlice);
    scene.renderer.SetSliceCounts(16, 16, 16);
    for (int slab = 0; slab < 4; ++slab) {
        scene.renderer.SetVolumeSlices(1, 1, 4 * slab + 2);
        const Picture p = scene.Frame();
        EXPECT_NEAR(p.At(cx, cy)[0], expectedRed(slabs[slab]), 1) << "plane in slab " << slab;
    }
    scene.renderer.SetVolumeSlices(1, 1, 9);
    EXPECT_NEAR(scene.Frame().At(cx, cy)[0], expectedRed(1500), 2);
}

namespace {
// A ball of density 2000 in an empty 64^3 grid.
void WriteBall(const std::string& path)
{
    WriteVolume(path, 64, 64, 64, [](uint32_t x, uint32_t y, uint32_t z) {
        const float dx = float(x) - 31.5f, dy = float(y) - 31.5f, dz = float(z) - 31.5f;
        return uint16_t(std::lround(2000.0f * Inside(std::sqrt(dx * dx + dy * dy + dz * dz), 24.0f, 1.5f)));
    });
}
}  // namespace

TEST(ColorMaps, SliceShadersMatchPreClassificationAndGradientsShowBoundaries)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    Scene scene(scratch.Path("head.dat"));
    scene.renderer.SetRenderMethod(VolumeRenderer::Slices);
    // "Blend" weights each slice's colour by its opacity. Under "Default" the
    // colour of transparent air adds up over the slices, and the start-up
    // function's red of 10 at density 0 alone is halved in the lookup texel
    // that density 0 shares with 1: a property of the lookup texture.
    scene.renderer.SetBlendMode(VolumeRenderer::Blend);
    scene.renderer.SetClassification(VolumeRenderer::PreClassification);
    const Picture pre = scene.FrameInVoxels(-300.0f);
    Keep(pre, "slices_preclassified");
    scene.renderer.SetClassification(VolumeRenderer::ShaderClassification);
    const Picture shaded = scene.FrameInVoxels(-300.0f);
    Keep(shaded, "slices_shader_intensity");
    // Post-classification interpolates densities where pre-classification
    // interpolates colours: they differ only along the boundaries.
    ASSERT_GT(MeanBrightness(pre), 10.0);
    EXPECT_LT(MeanDifference(pre, shaded), 1.5);

    scene.renderer.SetColorMapType(VolumeRenderer::IntensityGradient);
    const Picture gradient = scene.FrameInVoxels(-300.0f);
    Keep(gradient, "slices_shader_gradient");
    EXPECT_GT(MeanDifference(shaded, gradient), 0.5);
    EXPECT_GT(MeanBrightness(gradient), 1.0);
}

TEST(ColorMaps, GradientMapsBrightenTheRimOfABall)
{
    ScratchFolder scratch;
    WriteBall(scratch.Path("ball.dat"));
    // White and faint from density 1000 up: premultiplied under "Default",
    // each plane adds about 5 levels, so the picture sums what each ray meets.
    Scene scene(scratch.Path("ball.dat"), ProgramFolder(), [](TransferFunction& tf) {
        tf.Clear();
        for (int channel = 0; channel < 3; ++channel) {
            tf.AddSample(channel, 0, 0);
            tf.AddSample(channel, 255, 1000);
        }
        tf.AddSample(3, 0, 0);
        tf.AddSample(3, 5, 1000);
    });
    scene.renderer.SetClassification(VolumeRenderer::ShaderClassification);
    // The ball's radius of 24 units at a distance of 100 covers 24 / (100 *
    // tan 22.5) of the half height.
    const int cx = panelWidth / 2, cy = panelHeight / 2;
    const int rim = int(std::lround(24.0 / (100.0 * std::tan(22.5 * M_PI / 180.0)) * panelHeight / 2));

    for (uint8_t method : {VolumeRenderer::Slices, VolumeRenderer::VolumeTexture}) {
        scene.renderer.SetRenderMethod(method);
        scene.renderer.SetColorMapType(VolumeRenderer::Intensity);
        const Picture intensity = scene.FrameInVoxels(-100.0f);
        scene.renderer.SetColorMapType(VolumeRenderer::IntensityGradient);
        const Picture gradient = scene.FrameInVoxels(-100.0f);
        Keep(intensity, "ball_intensity_" + std::to_string(method));
        Keep(gradient, "ball_gradient_" + std::to_string(method));
        // By intensity the longest chord, through the centre, is brightest;
        // weighted by the gradient only the shell shows, brightest where the
        // view grazes it.
        EXPECT_GT(intensity.Brightness(cx, cy), intensity.Brightness(cx + rim - 3, cy) + 30) << int(method);
        EXPECT_GT(gradient.Brightness(cx + rim - 3, cy), gradient.Brightness(cx, cy) + 30) << int(method);
        EXPECT_EQ(gradient.Brightness(cx + rim + 20, cy), 0) << int(method);
        EXPECT_EQ(intensity.Brightness(cx + rim + 20, cy), 0) << int(method);
    }
}

TEST(ColorMaps, SliceGradientCoordinateFollowsTheVoxel)
{
    ScratchFolder scratch;
    WriteVolume(scratch.Path("grid.dat"), 20, 24, 12, [](uint32_t, uint32_t, uint32_t) { return uint16_t(1000); });
    // A probe that shows the gradient coordinate the real vertex shader makes.
    const fs::path program = scratch.Path("program");
    fs::create_directories(program);
    fs::copy(ProgramFolder() + "Shaders", program / "Shaders");
    WriteFile((program / "Shaders" / "ColorMap_IntensityGradient_2d.frag").string(),
              "#version 120\nvoid main() { gl_FragColor = vec4(gl_TexCoord[1].xyz, 1.0); }\n");
    Scene scene(scratch.Path("grid.dat"), program.string() + "/");
    scene.renderer.SetRenderMethod(VolumeRenderer::Slices);
    scene.renderer.SetClassification(VolumeRenderer::ShaderClassification);
    scene.renderer.SetColorMapType(VolumeRenderer::IntensityGradient);

    // Padded to 32 x 32 x 16; the box is 20 x 24 x 12 voxels, seen from 100
    // voxels with the nearest z slice (11) in front in both orders.
    // Pixel of model point (mx, my) on the plane z = mz.
    Picture picture;
    auto probe = [&](double mx, double my, double mz) {
        picture = scene.FrameInVoxels(-100.0f);
        const double unit = panelHeight / 2 / ((100.0 - mz) * std::tan(22.5 * M_PI / 180.0));
        return picture.At(int(panelWidth / 2 + mx * unit), int(panelHeight / 2 + my * unit));
    };
    for (int8_t stack : {VolumeRenderer::Front, VolumeRenderer::Back}) {
        scene.renderer.SetViewStack(stack);
        // Model (-9.5, 11.5) is the centre of voxel (0, 23); slice 11 lies at
        // its voxels' centre, z = 5.5, in both orders.
        const uint8_t* c = probe(-9.5, 11.5, 5.5);
        EXPECT_NEAR(c[0], 0.5 / 32 * 255, 2) << int(stack);
        EXPECT_NEAR(c[1], 23.5 / 32 * 255, 2) << int(stack);
        EXPECT_NEAR(c[2], 11.5 / 16 * 255, 1.5) << int(stack);
    }
    scene.renderer.SetSliceMode(VolumeRenderer::StackSpecificSlice);
    scene.renderer.SetStackSlices(1, 1, 4);
    EXPECT_NEAR(probe(0, 0, 0)[2], 3.5 / 16 * 255, 1.5);
}

namespace {
// A program folder in the scratch folder with a copy of the shaders.
std::string CopyShaders(const ScratchFolder& scratch)
{
    const fs::path program = scratch.Path("program");
    if (!fs::exists(program / "Shaders")) {
        fs::create_directories(program);
        fs::copy(ProgramFolder() + "Shaders", program / "Shaders");
    }
    return program.string() + "/";
}
}  // namespace

TEST(ShaderSet, LoadBuildsFiveLinkedProgramsAndReadsTheFilesAgain)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    const std::string base = CopyShaders(scratch);
    Scene scene(scratch.Path("head.dat"), base);
    VolumeRenderer& r = scene.renderer;
    for (aShaderObject* program : {r.intensity2dProgram, r.intensity3dProgram, r.intensityGradient2dProgram,
                                   r.intensityGradient3dProgram, r.rayCastingProgram}) {
        ASSERT_NE(program, nullptr);
        EXPECT_TRUE(program->isLinked());
    }
    r.SetRenderMethod(VolumeRenderer::Slices);
    r.SetClassification(VolumeRenderer::ShaderClassification);
    const Picture before = scene.FrameInVoxels(-300.0f);
    const uint8_t* b = before.At(panelWidth / 2, panelHeight / 2);
    EXPECT_FALSE(b[0] == 255 && b[1] == 0 && b[2] == 255);

    WriteFile(base + "Shaders/ColorMap_Intensity_2d.frag",
              "#version 120\nvoid main() { gl_FragColor = vec4(1.0, 0.0, 1.0, 1.0); }\n");
    const Picture unchanged = scene.FrameInVoxels(-300.0f);
    EXPECT_EQ(MeanDifference(before, unchanged), 0.0);
    r.Load(scratch.Path("head.dat").c_str());
    const Picture after = scene.FrameInVoxels(-300.0f);
    const uint8_t* c = after.At(panelWidth / 2, panelHeight / 2);
    EXPECT_EQ(c[0], 255);
    EXPECT_EQ(c[1], 0);
    EXPECT_EQ(c[2], 255);

    r.DeleteShaders();
    EXPECT_EQ(r.intensity2dProgram, nullptr);
    EXPECT_EQ(r.rayCastingProgram, nullptr);
}

TEST(ShaderSet, MissingFolderFailsOnTheVertexShader)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    GLWindow window;
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    const std::string base = scratch.Path("nowhere") + "/";
    EXPECT_EXIT(
        {
            LogOpen();
            VolumeRenderer r(&window.display, base.c_str(), &tf);
            r.Load(scratch.Path("head.dat").c_str());
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile("debug.log"), "[FAILED] Unable to load vertex shader!");
}

TEST(ShaderSet, MissingFragmentFileFails)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    const std::string base = CopyShaders(scratch);
    fs::remove(base + "Shaders/ColorMap_Intensity_2d.frag");
    GLWindow window;
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    EXPECT_EXIT(
        {
            LogOpen();
            VolumeRenderer r(&window.display, base.c_str(), &tf);
            r.Load(scratch.Path("head.dat").c_str());
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile("debug.log"), "[FAILED] Unable to load fragment shader!");
}

TEST(ShaderSet, RayCastingSyntaxErrorFailsWithItsCompilerLogAfterTheColorMaps)
{
    ScratchFolder scratch;
    WriteHead(scratch.Path("head.dat"));
    const std::string base = CopyShaders(scratch);
    const std::string broken = base + "Shaders/RayCasting.frag";
    const std::string source = ReadFile(ProgramFolder() + "Shaders/RayCasting.frag");
    WriteFile(broken, source + "\nvoid trailing() { undeclaredRaySymbol = 1.0 }\n");
    GLWindow window;

    // The same source compiled here gives the log the entry must carry.
    aFragmentShader reference;
    ASSERT_EQ(reference.loadSourceFile(broken.c_str()), 0);
    ASSERT_FALSE(reference.compile());
    const std::string log = reference.compilerLog();
    ASSERT_FALSE(log.empty());

    TransferFunction tf;
    FillStartupTransferFunction(tf);
    EXPECT_EXIT(
        {
            LogOpen();
            VolumeRenderer r(&window.display, base.c_str(), &tf);
            r.Load(scratch.Path("head.dat").c_str());
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile("debug.log"), "[FAILED] " + log);

    // Broken too, the first colour map fails first: the programs load in order,
    // so the ray caster's entry above came after four programs loaded.
    WriteFile(base + "Shaders/ColorMap_Intensity_2d.vert", "#version 120\nvoid main() { gl_Position = ; }\n");
    EXPECT_EXIT(
        {
            LogOpen();
            VolumeRenderer r(&window.display, base.c_str(), &tf);
            r.Load(scratch.Path("head.dat").c_str());
        },
        testing::ExitedWithCode(1), "");
    const std::string second = ReadFile("debug.log");
    EXPECT_EQ(second.rfind("[FAILED] ", 0), 0u);
    EXPECT_NE(second, "[FAILED] " + log);
}
