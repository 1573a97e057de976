#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "Camera.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
using VR = VolumeRenderer;

void SetChannel(TransferFunction& tf, int channel, std::initializer_list<std::pair<int, uint32_t>> points)
{
    for (const auto& [value, position] : points) {
        tf.AddSample(channel, uint8_t(value), position);
    }
}

// Density 1000 is red, 3000 green, both with alpha 64; 0 is transparent black.
void RedGreen(TransferFunction& tf)
{
    tf.Clear();
    SetChannel(tf, 0, {{0, 0}, {255, 1000}, {0, 2000}, {0, 4096}});
    SetChannel(tf, 1, {{0, 0}, {0, 2000}, {255, 3000}, {0, 4096}});
    SetChannel(tf, 2, {{0, 0}, {0, 4096}});
    SetChannel(tf, 3, {{0, 0}, {64, 1000}, {64, 3000}, {0, 4096}});
}

// Density 1000 is opaque grey 100, 3000 opaque grey 200.
void DimBright(TransferFunction& tf)
{
    tf.Clear();
    for (int c = 0; c < 3; ++c) {
        SetChannel(tf, c, {{0, 0}, {100, 1000}, {200, 3000}, {0, 4096}});
    }
    SetChannel(tf, 3, {{0, 0}, {255, 1000}, {255, 3000}, {0, 4096}});
}

// Opaque grey, linear in density: 400 (k + 1) gives 25 (k + 1).
void LinearGrey(TransferFunction& tf)
{
    tf.Clear();
    for (int c = 0; c < 3; ++c) {
        SetChannel(tf, c, {{0, 0}, {255, 4080}});
    }
    SetChannel(tf, 3, {{255, 0}, {255, 4096}});
}

// A pre-classified slice renderer on a 537 x 595 panel.
struct Scene {
    ScratchFolder scratch;
    GLWindow gl;
    TransferFunction tf;
    std::string base = ProgramFolder();
    VolumeRenderer renderer{&gl.display, base.c_str(), &tf};

    Scene()
    {
        renderer.SetRenderMethod(VR::Slices);
        renderer.SetClassification(VR::PreClassification);
    }

    // One frame as the frame loop draws it, seen through a camera button, from
    // 20 voxels of the largest side away from the centre (the box's largest
    // side spans 2 units).
    void Frame(int8_t view)
    {
        const float largest = float(std::max({renderer.dimX, renderer.dimY, renderer.dimZ, 1u}));
        gl.display.Clear();
        Camera::Apply(renderer, Vec3{}, 20.0f * 2.0f / largest, Camera::RotationOfButton(view), false, Vec3{});
        renderer.Render();
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
};

constexpr int centreX = 268, centreY = 297;

std::array<int, 3> Rgb(Pixel p) { return {p.r, p.g, p.b}; }

// Loads a 16^3 volume whose lower half along the stack's axis has density 1000
// and upper half 3000.
void LoadHalves(Scene& scene, int axis)
{
    const std::string path = scene.scratch.Path("halves" + std::to_string(axis) + ".dat");
    WriteVolume(path, 16, 16, 16, [axis](int x, int y, int z) {
        const int c = axis == 0 ? x : axis == 1 ? y : z;
        return c < 8 ? 1000 : 3000;
    });
    scene.renderer.Load(path.c_str());
}

// Slabs composited back to front: eight far slices, then eight near ones.
std::array<int, 3> Composite(std::array<double, 3> far, std::array<double, 3> near, double alpha,
                             const std::function<double(double, double, double)>& blend)
{
    std::array<double, 3> dst = {0, 0, 0};
    for (int i = 0; i < 16; ++i) {
        const auto& src = i < 8 ? far : near;
        for (int c = 0; c < 3; ++c) {
            dst[c] = blend(src[c], dst[c], alpha);
        }
    }
    return {int(std::lround(dst[0] * 255)), int(std::lround(dst[1] * 255)), int(std::lround(dst[2] * 255))};
}

void ExpectNear(const std::array<int, 3>& actual, const std::array<int, 3>& expected, int tolerance,
                const std::string& what)
{
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(actual[c], expected[c], tolerance) << what << " channel " << c;
    }
}

const int8_t allViews[6] = {VR::Left, VR::Down, VR::Back, VR::Right, VR::Up, VR::Front};
const char* const viewNames[6] = {"Left", "Down", "Back", "Right", "Up", "Front"};

// The viewer of a descending stack looks at the lower half, of an ascending one at the upper half.
bool SeesLowerHalf(int8_t view) { return view <= VR::Back; }
}  // namespace

TEST(ViewStackFromAngles, DocumentedCases)
{
    auto stack = [](float x, float y, float z) { return int(VR::ViewStackFromAngles(Vec3{x, y, z})); };
    EXPECT_EQ(stack(0, 0, 0), VR::Front);
    EXPECT_EQ(stack(0, 90, 0), VR::Left);
    EXPECT_EQ(stack(0, 180, 0), VR::Back);
    EXPECT_EQ(stack(0, 270, 0), VR::Right);
    EXPECT_EQ(stack(90, 0, 0), VR::Up);
    EXPECT_EQ(stack(270, 0, 0), VR::Down);
    // Boundaries belong to the higher sector.
    EXPECT_EQ(stack(45, 0, 0), VR::Up);
    EXPECT_EQ(stack(44.5f, 0, 0), VR::Front);
    EXPECT_EQ(stack(315, 0, 0), VR::Front);
    EXPECT_EQ(stack(314.5f, 0, 0), VR::Down);
    EXPECT_EQ(stack(0, 135, 0), VR::Back);
    EXPECT_EQ(stack(0, 225, 0), VR::Right);
    // 360 and negative angles have no sector.
    EXPECT_EQ(stack(0, 0, 360), VR::Front);
    EXPECT_EQ(stack(360, 0, 0), VR::Front);
    EXPECT_EQ(stack(0, 360, 0), VR::Front);
    EXPECT_EQ(stack(0, -0.5f, 0), VR::Front);
    EXPECT_EQ(stack(90, 0, -1), VR::Front);
    EXPECT_EQ(stack(std::nanf(""), 0, 0), VR::Front);
    // y is not consulted while x lies in S90 or S270.
    EXPECT_EQ(stack(90, 360, 0), VR::Up);
    EXPECT_EQ(stack(270, -10, 90), VR::Left);
}

// The table is the rule "which volume axis does the rotation about x, then y,
// then z (angles rounded to quarter turns) carry onto the viewing axis, and
// does it point toward the viewer". Every sector combination is checked
// against that rule, at the sector's start, middle and last half degree.
TEST(ViewStackFromAngles, WholeTableFollowsTheRotationRule)
{
    using M = std::array<std::array<int, 3>, 3>;
    auto multiply = [](const M& a, const M& b) {
        M r{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) {
                    r[i][j] += a[i][k] * b[k][j];
                }
            }
        }
        return r;
    };
    auto rotation = [](int axis, int quarter) {
        const int c[4] = {1, 0, -1, 0};
        const int s[4] = {0, 1, 0, -1};
        const int co = c[quarter], si = s[quarter];
        if (axis == 0) {
            return M{{{1, 0, 0}, {0, co, -si}, {0, si, co}}};
        }
        if (axis == 1) {
            return M{{{co, 0, si}, {0, 1, 0}, {-si, 0, co}}};
        }
        return M{{{co, -si, 0}, {si, co, 0}, {0, 0, 1}}};
    };
    const float probes[3] = {-45.0f, 0.0f, 44.5f};
    int checked = 0;
    for (int qx = 0; qx < 4; ++qx) {
        for (int qy = 0; qy < 4; ++qy) {
            for (int qz = 0; qz < 4; ++qz) {
                const M r = multiply(multiply(rotation(0, qx), rotation(1, qy)), rotation(2, qz));
                // Row 2 of the modelview rotation is the eye z of each volume axis.
                int axis = 0;
                while (r[2][axis] == 0) {
                    ++axis;
                }
                const int expected = r[2][axis] > 0 ? VR::Right + axis : VR::Left + axis;
                for (float px : probes) {
                    for (float py : probes) {
                        for (float pz : probes) {
                            auto angle = [](int q, float p) { return std::fmod(q * 90.0f + p + 360.0f, 360.0f); };
                            const Vec3 a{angle(qx, px), angle(qy, py), angle(qz, pz)};
                            ASSERT_EQ(int(VR::ViewStackFromAngles(a)), expected)
                                << "angles " << a.x << ", " << a.y << ", " << a.z;
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 64 * 27);
}

TEST(Frame, BlendCompositesBackToFrontSoTheNearerSlabDominates)
{
    Scene scene;
    RedGreen(scene.tf);
    scene.renderer.SetBlendMode(VR::Blend);
    const double a = 64.0 / 255.0;
    auto over = [](double src, double dst, double alpha) { return src * alpha + dst * (1 - alpha); };
    for (int v = 0; v < 6; ++v) {
        LoadHalves(scene, v % 3);
        scene.Frame(allViews[v]);
        const std::array<int, 3> pixel = Rgb(ReadPixel(centreX, centreY));
        const std::array<double, 3> red = {1, 0, 0}, green = {0, 1, 0};
        const bool lower = SeesLowerHalf(allViews[v]);
        ExpectNear(pixel, Composite(lower ? green : red, lower ? red : green, a, over), 4, viewNames[v]);
        const int nearChannel = lower ? 0 : 1;
        EXPECT_GT(pixel[nearChannel], pixel[1 - nearChannel] + 100) << viewNames[v];
    }
}

// "Default" takes premultiplied colours, and the pre-classified texels are
// premultiplied for it: the slabs composite as "over" does, where colours as
// they are added up to a white wash.
TEST(Frame, DefaultBlendCompositesPremultipliedBackToFront)
{
    Scene scene;
    RedGreen(scene.tf);
    scene.renderer.SetBlendMode(VR::DefaultBlend);
    const double a = 64.0 / 255.0;
    auto premultipliedOver = [](double src, double dst, double alpha) { return src * alpha + dst * (1 - alpha); };
    for (int v = 0; v < 6; ++v) {
        LoadHalves(scene, v % 3);
        scene.Frame(allViews[v]);
        const std::array<int, 3> pixel = Rgb(ReadPixel(centreX, centreY));
        const std::array<double, 3> red = {1, 0, 0}, green = {0, 1, 0};
        const bool lower = SeesLowerHalf(allViews[v]);
        ExpectNear(pixel, Composite(lower ? green : red, lower ? red : green, a, premultipliedOver), 4, viewNames[v]);
        const int nearChannel = lower ? 0 : 1;
        EXPECT_LT(pixel[nearChannel], 240) << viewNames[v] << ": washed out";
        EXPECT_GT(pixel[nearChannel], 200) << viewNames[v];
        EXPECT_LT(pixel[1 - nearChannel], 40) << viewNames[v];
    }
}

TEST(Frame, MaximumIntensityKeepsTheBrightestSlabFromEitherSide)
{
    Scene scene;
    DimBright(scene.tf);
    scene.renderer.SetBlendMode(VR::MaximumIntensity);
    for (int v = 0; v < 6; ++v) {
        LoadHalves(scene, v % 3);
        scene.Frame(allViews[v]);
        EXPECT_EQ(Rgb(ReadPixel(centreX, centreY)), (std::array<int, 3>{200, 200, 200})) << viewNames[v];
    }
}

TEST(Frame, MinimumIntensityOverTheBlackBackgroundStaysBlack)
{
    Scene scene;
    DimBright(scene.tf);
    scene.renderer.SetBlendMode(VR::MinimumIntensity);
    for (int v = 0; v < 6; ++v) {
        LoadHalves(scene, v % 3);
        scene.Frame(allViews[v]);
        for (const auto& [x, y] : {std::pair{centreX, centreY}, std::pair{centreX - 60, centreY + 60}}) {
            EXPECT_EQ(Rgb(ReadPixel(x, y)), (std::array<int, 3>{0, 0, 0})) << viewNames[v];
        }
    }
}

// The box of an 8^3 volume seen from 20 voxels away: its nearest slice lies
// at the centre of the last voxel layer, z = +3.5, 16.5 voxels away, and
// spans 4 / 16.5 of the half-height at that distance over tan 22.5 degrees:
// 174 pixels from the centre.
TEST(Frame, BoxCoversTheExpectedAreaTwentyVoxelsAway)
{
    Scene scene;
    LinearGrey(scene.tf);
    const std::string path = scene.scratch.Path("cube.dat");
    WriteVolume(path, 8, 8, 8, [](int, int, int) { return 2000; });
    scene.renderer.Load(path.c_str());
    scene.Frame(VR::Front);

    const double halfPixels = 4.0 / 16.5 / std::tan(22.5 * M_PI / 180.0) * 595 / 2;
    EXPECT_NEAR(halfPixels, 174.1, 0.1);
    auto lit = [](int x, int y) { return ReadPixel(x, y).r > 0; };
    for (int inside : {-168, 0, 168}) {
        EXPECT_TRUE(lit(centreX + inside, centreY)) << inside;
        EXPECT_TRUE(lit(centreX, centreY + inside)) << inside;
    }
    for (int outside : {-180, 180}) {
        EXPECT_FALSE(lit(centreX + outside, centreY)) << outside;
        EXPECT_FALSE(lit(centreX, centreY + outside)) << outside;
    }
    EXPECT_EQ(Rgb(ReadPixel(centreX, centreY)), (std::array<int, 3>{125, 125, 125}));
}

// Slice k of the z stack has grey 25 (k + 1). One slice is drawn at the
// box's centre plane, 20 units away: it reaches 144 pixels from the centre.
TEST(Frame, SpecificSliceShowsOnlyThatSliceAtTheCentrePlane)
{
    Scene scene;
    LinearGrey(scene.tf);
    const std::string path = scene.scratch.Path("layers.dat");
    WriteVolume(path, 8, 8, 8, [](int, int, int z) { return 400 * (z + 1); });
    scene.renderer.Load(path.c_str());

    scene.Frame(VR::Front);
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 200) << "all slices: the nearest one shows";
    EXPECT_GT(ReadPixel(centreX + 155, centreY).r, 0) << "all slices reach beyond the centre plane's square";

    scene.renderer.SetSliceMode(VR::StackSpecificSlice);
    scene.renderer.SetStackSlices(5, 6, 3);
    for (int8_t view : {VR::Front, VR::Back}) {
        scene.Frame(view);
        EXPECT_EQ(Rgb(ReadPixel(centreX, centreY)), (std::array<int, 3>{75, 75, 75})) << int(view);
        // Inside the quad, away from its edge texels that filter with the border.
        EXPECT_EQ(ReadPixel(centreX + 100, centreY - 100).r, 75) << int(view);
        EXPECT_EQ(ReadPixel(centreX + 150, centreY).r, 0) << int(view);
        EXPECT_EQ(ReadPixel(centreX, centreY - 150).r, 0) << int(view);
    }

    // The volume-texture single plane does not limit the slice method.
    scene.renderer.SetSliceMode(VR::VolumeSpecificSlice);
    scene.Frame(VR::Front);
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 200);
}

TEST(Frame, SpecificSliceOutsideTheStackDrawsTheNearestSlice)
{
    Scene scene;
    LinearGrey(scene.tf);
    const std::string path = scene.scratch.Path("layers.dat");
    WriteVolume(path, 8, 8, 8, [](int, int, int z) { return 400 * (z + 1); });
    scene.renderer.Load(path.c_str());
    scene.renderer.SetSliceMode(VR::StackSpecificSlice);

    // As after a smaller volume was loaded while "Specific" stayed selected.
    scene.renderer.SetStackSlices(1, 1, 99);
    scene.Frame(VR::Front);
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 200);
    scene.renderer.SetStackSlices(1, 1, 0);
    scene.Frame(VR::Back);
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 25);
    scene.renderer.SetStackSlices(1, 1, -7);
    scene.Frame(VR::Front);
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 25);
}

TEST(Frame, UnknownMethodOrStackShowsOnlyTheBackground)
{
    Scene scene;
    LinearGrey(scene.tf);
    const std::string path = scene.scratch.Path("cube.dat");
    WriteVolume(path, 8, 8, 8, [](int, int, int) { return 2000; });
    scene.renderer.Load(path.c_str());

    scene.renderer.SetViewStack(6);
    scene.gl.display.Clear();
    glTranslatef(0, 0, -5);
    scene.renderer.Render();
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 0);

    scene.renderer.SetRenderMethod(7);
    scene.Frame(VR::Front);
    EXPECT_EQ(ReadPixel(centreX, centreY).r, 0);
}
