#include <GL/glew.h>

#include "Main.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Camera.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "ViewControl.h"
#include "VolumeRenderer.h"

using VR = VolumeRenderer;

namespace {
// A picture read back from the current colour buffer, bottom row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;

    int Brightness(int x, int y) const
    {
        const uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
        return p[0] + p[1] + p[2];
    }
    bool operator==(const Picture& other) const
    {
        return width == other.width && height == other.height && rgba == other.rgba;
    }
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

// Bounding box and centroid of the pixels brighter than the threshold, in
// pixels from the panel's centre, y up.
struct Outline {
    double width = 0, height = 0, centreX = 0, centreY = 0;
    int pixels = 0;
};

Outline Measure(const Picture& picture, int threshold = 150)
{
    int x0 = picture.width, x1 = -1, y0 = picture.height, y1 = -1;
    double sx = 0, sy = 0;
    Outline o;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            if (picture.Brightness(x, y) > threshold) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
                sx += x, sy += y;
                ++o.pixels;
            }
        }
    }
    if (o.pixels > 0) {
        o.width = x1 - x0 + 1;
        o.height = y1 - y0 + 1;
        o.centreX = sx / o.pixels + 0.5 - picture.width / 2.0;
        o.centreY = sy / o.pixels + 0.5 - picture.height / 2.0;
    }
    return o;
}

void ExpectSameOutline(const Outline& a, const Outline& b, double tolerance, const std::string& what)
{
    ASSERT_GT(a.pixels, 100) << what;
    ASSERT_GT(b.pixels, 100) << what;
    EXPECT_NEAR(a.width, b.width, tolerance) << what;
    EXPECT_NEAR(a.height, b.height, tolerance) << what;
    EXPECT_NEAR(a.centreX, b.centreX, tolerance) << what;
    EXPECT_NEAR(a.centreY, b.centreY, tolerance) << what;
}

// Opaque white from density 1000 up, nothing below.
void OpaqueWhite(TransferFunction& tf)
{
    tf.Clear();
    for (int channel = 0; channel < 3; ++channel) {
        tf.AddSample(channel, 255, 0);
        tf.AddSample(channel, 255, 4095);
    }
    tf.AddSample(3, 0, 0);
    tf.AddSample(3, 0, 999);
    tf.AddSample(3, 255, 1000);
    tf.AddSample(3, 255, 4095);
}

// An ellipsoid filling most of a 120 x 72 x 40 grid, its density falling
// smoothly across the surface so that every method finds it at the same place.
void WriteEllipsoid(const std::string& path)
{
    WriteVolume(path, 120, 72, 40, [](uint32_t x, uint32_t y, uint32_t z) {
        const double dx = (x + 0.5 - 60.0) / 54.0, dy = (y + 0.5 - 36.0) / 30.0, dz = (z + 0.5 - 20.0) / 16.0;
        const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
        return uint16_t(std::clamp(2000.0 - 8000.0 * (r - 1.0), 0.0, 3000.0));
    });
}

const char* const methodNames[3] = {"slices", "volume texture", "ray casting"};

// A renderer on a 537 x 595 panel drawing through the program's camera.
struct Scene {
    GLWindow gl;
    TransferFunction tf;
    std::string base = ProgramFolder();
    VolumeRenderer renderer{&gl.display, base.c_str(), &tf};
    ViewControl view;

    explicit Scene(const std::string& volume, Vec3 spacing = Vec3{1, 1, 1})
    {
        OpaqueWhite(tf);
        // Classified after interpolation in every method, as the ray caster does.
        renderer.SetClassification(VR::ShaderClassification);
        renderer.SetBlendMode(VR::Blend);
        renderer.Load(volume.c_str());
        renderer.SetVoxelSpacing(spacing);
        view.SetViewport(gl.display.width, gl.display.height);
        view.SetBox(renderer.BoxHalfExtents());
        view.ShowSide(VR::Front);
    }

    Picture Draw(uint8_t method)
    {
        renderer.SetRenderMethod(method);
        gl.display.Clear();
        view.Apply(renderer, false);
        renderer.Render();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        return ReadPicture(gl.display.width, gl.display.height);
    }
};
}  // namespace

// The three methods draw the same box: the same outline at the start camera
// and turned, and framed so that the largest side spans about two thirds of
// the panel's narrower side.
TEST(View, EveryMethodDrawsTheSameOutlineFramedAndTurned)
{
    ScratchFolder scratch;
    WriteEllipsoid(scratch.Path("ellipsoid.dat"));
    Scene scene(scratch.Path("ellipsoid.dat"));

    const Outline start = Measure(scene.Draw(VR::RayCasting));
    const double share = start.width / std::min(scene.gl.display.width, scene.gl.display.height);
    EXPECT_GE(share, 0.60);
    EXPECT_LE(share, 0.75);
    EXPECT_NEAR(start.centreX, 0.0, 1.0);
    EXPECT_NEAR(start.centreY, 0.0, 1.0);
    // Proportions of the ellipsoid's axes, 108 by 60 voxels, seen nearly face on.
    EXPECT_NEAR(start.height / start.width, 60.0 / 108.0, 0.03);
    for (uint8_t method : {VR::Slices, VR::VolumeTexture}) {
        ExpectSameOutline(Measure(scene.Draw(method)), start, 2.0, std::string("start, ") + methodNames[method]);
    }

    scene.view.Turn(35, -25);
    const Outline turned = Measure(scene.Draw(VR::RayCasting));
    EXPECT_GT(std::abs(turned.width - start.width), 20) << "the turn changes the outline";
    for (uint8_t method : {VR::Slices, VR::VolumeTexture}) {
        ExpectSameOutline(Measure(scene.Draw(method)), turned, 2.0, std::string("turned, ") + methodNames[method]);
    }
}

namespace {
// A ball of radius 25 mm and a plane through its centre at 45 degrees between
// x and z, sampled at the centres of voxels of the given size in mm within a
// box of 60 mm a side.
void WriteBallInMillimetres(const std::string& path, double sx, double sy, double sz)
{
    WriteVolume(path, uint16_t(60 / sx), uint16_t(60 / sy), uint16_t(60 / sz), [=](uint32_t x, uint32_t y, uint32_t z) {
        const double px = (x + 0.5) * sx - 30, py = (y + 0.5) * sy - 30, pz = (z + 0.5) * sz - 30;
        const double r = std::sqrt(px * px + py * py + pz * pz);
        return uint16_t(std::clamp(2000.0 - 400.0 * (r - 25.0), 0.0, 3000.0));
    });
}

void WritePlaneInMillimetres(const std::string& path, double sx, double sy, double sz)
{
    WriteVolume(path, uint16_t(60 / sx), uint16_t(60 / sy), uint16_t(60 / sz), [=](uint32_t x, uint32_t, uint32_t z) {
        const double px = (x + 0.5) * sx - 30, pz = (z + 0.5) * sz - 30;
        return uint16_t(std::clamp(2000.0 + 100.0 * (px - pz), 0.0, 4000.0));
    });
}
}  // namespace

// A volume of 1 x 1 x 3 mm voxels drawn at its spacing looks as the same
// object sampled at 1 mm cubes: the same outline in every method, and a
// plane at 45 degrees lit alike, which takes gradients per unit length.
TEST(View, AnisotropicVoxelsDrawTheSameObjectAsCubicOnes)
{
    ScratchFolder scratch;
    WriteBallInMillimetres(scratch.Path("thick.dat"), 1, 1, 3);
    WriteBallInMillimetres(scratch.Path("cubes.dat"), 1, 1, 1);
    Scene thick(scratch.Path("thick.dat"), Vec3{1, 1, 3});
    const Vec3 box = thick.renderer.BoxHalfExtents();
    EXPECT_EQ((std::array<float, 3>{box.x, box.y, box.z}), (std::array<float, 3>{1, 1, 1}));

    std::vector<Picture> thickPictures[2];
    for (int turned = 0; turned < 2; ++turned) {
        if (turned) {
            thick.view.Turn(50, 30);
        }
        for (uint8_t method : {VR::Slices, VR::VolumeTexture, VR::RayCasting}) {
            thickPictures[turned].push_back(thick.Draw(method));
        }
    }
    Scene cubes(scratch.Path("cubes.dat"));
    for (int turned = 0; turned < 2; ++turned) {
        if (turned) {
            cubes.view.Turn(50, 30);
        }
        for (uint8_t method : {VR::Slices, VR::VolumeTexture, VR::RayCasting}) {
            const Outline a = Measure(thickPictures[turned][method]), b = Measure(cubes.Draw(method));
            ExpectSameOutline(a, b, 2.0, std::string(turned ? "turned, " : "front, ") + methodNames[method]);
            EXPECT_NEAR(a.height / a.width, 1.0, 0.02) << "a ball stays round";
        }
    }

    // A .dat load starts from cubic voxels again.
    thick.renderer.Load(scratch.Path("thick.dat").c_str());
    EXPECT_EQ((std::array<float, 3>{thick.renderer.voxelSpacing.x, thick.renderer.voxelSpacing.y,
                                    thick.renderer.voxelSpacing.z}),
              (std::array<float, 3>{1, 1, 1}));

    // Without its spacing the thick volume is a third as deep: seen from the
    // side, the outline shows it. A spacing that is no positive number counts as 1.
    thick.renderer.SetVoxelSpacing(Vec3{1, 0, -2});
    thick.view.SetBox(thick.renderer.BoxHalfExtents());
    thick.view.ShowSide(VR::Left);
    const Outline flat = Measure(thick.Draw(VR::RayCasting));
    EXPECT_LT(flat.width, 0.5 * flat.height);
}

TEST(View, AnisotropicGradientsLightAPlaneAsCubicOnesDo)
{
    ScratchFolder scratch;
    WritePlaneInMillimetres(scratch.Path("thick.dat"), 1, 1, 3);
    WritePlaneInMillimetres(scratch.Path("cubes.dat"), 1, 1, 1);
    auto litCentre = [](Scene& scene) {
        scene.renderer.SetClassification(VR::NoClassification);
        const Picture p = scene.Draw(VR::RayCasting);
        double sum = 0;
        int n = 0;
        for (int y = p.height / 2 - 15; y < p.height / 2 + 15; ++y) {
            for (int x = p.width / 2 - 15; x < p.width / 2 + 15; ++x, ++n) {
                sum += p.Brightness(x, y) / 3.0;
            }
        }
        return sum / n;
    };
    Scene cubes(scratch.Path("cubes.dat"));
    const double expected = litCentre(cubes);
    Scene thick(scratch.Path("thick.dat"), Vec3{1, 1, 3});
    const double lit = litCentre(thick);
    // Lit at 45 degrees the plane is far from full white and from the unlit
    // colour; a gradient taken per voxel would tilt it to about 72 degrees.
    EXPECT_GT(expected, 100);
    EXPECT_LT(expected, 240);
    EXPECT_NEAR(lit, expected, 3.0);

    // Setting the spacing on a loaded volume rebuilds its gradients.
    thick.renderer.SetVoxelSpacing(Vec3{1, 1, 1});
    thick.view.SetBox(thick.renderer.BoxHalfExtents());
    thick.view.ShowSide(VR::Front);
    EXPECT_GT(std::abs(litCentre(thick) - expected), 10);
}

namespace {
// The main window with the ellipsoid open, frames drawn only when asked.
struct Window {
    TMainForm form;
    ScratchFolder& scratch;

    explicit Window(ScratchFolder& scratch) : scratch(scratch)
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
        // The driver takes the window's size from the swaps of the first frames.
        QTest::qWait(300);
        form.idleTimer->stop();
        OpaqueWhite(form.viewer.transferFunction);
        WriteEllipsoid(scratch.Path("ellipsoid.dat"));
        form.viewer.volumeRenderer->Load(scratch.Path("ellipsoid.dat").c_str());
        form.FrameVolume();
    }

    // The frame the window shows: a moving one, or the view at rest once it
    // has converged.
    Picture Frame()
    {
        for (int frames = 0; frames < 100; ++frames) {
            form.DrawFrame();
            if (form.viewer.Converged()) {
                break;
            }
        }
        return ReadPicture(form.viewer.display.width, form.viewer.display.height);
    }

    QWindow* panel() { return form.renderWindow; }
    QPoint centre() { return QPoint(panel()->width() / 2, panel()->height() / 2); }

    void Drag(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint from, QPoint to)
    {
        QTest::mousePress(panel(), button, modifiers, from);
        // In steps, as a hand moves.
        for (int i = 1; i <= 10; ++i) {
            QTest::mouseMove(panel(), from + (to - from) * i / 10);
        }
        QTest::mouseRelease(panel(), button, modifiers, to);
    }

    void Wheel(int notches)
    {
        const QPointF at = centre();
        QWheelEvent event(at, panel()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(panel(), &event);
    }
};
}  // namespace

// Dragging to the right by 180 pixels turns the volume by 90 degrees about the
// screen's vertical axis: it then shows the side that the Left button shows,
// with that button's stack.
TEST(ViewMouse, HorizontalDragTurnsAboutTheVerticalAxis)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    const Picture start = w.Frame();
    const Outline front = Measure(start);

    // A press alone changes nothing.
    QTest::mousePress(w.panel(), Qt::LeftButton, {}, w.centre());
    EXPECT_TRUE(w.Frame() == start);
    QTest::mouseRelease(w.panel(), Qt::LeftButton, {}, w.centre());

    const QPoint from = w.centre() - QPoint(90, 0);
    w.Drag(Qt::LeftButton, {}, from, from + QPoint(180, 0));
    const Outline turned = Measure(w.Frame());
    EXPECT_EQ(w.form.viewer.volumeRenderer->viewStack, VR::Left);
    // Seen end on, the ellipsoid is deeper: its outline grows a little.
    EXPECT_NEAR(turned.height, front.height, 0.05 * front.height) << "the vertical axis stays";
    EXPECT_LT(turned.width, 0.5 * front.width) << "the thin side faces the viewer";

    w.form.SpeedButton10->click();
    ExpectSameOutline(Measure(w.Frame()), turned, 1.0, "the Left button");

    // A vertical drag turns about the horizontal axis: 30 degrees keep the
    // front stack and shorten the outline's height.
    w.form.SpeedButton12->click();
    w.Drag(Qt::LeftButton, {}, w.centre(), w.centre() + QPoint(0, 60));
    const Outline tilted = Measure(w.Frame());
    EXPECT_EQ(w.form.viewer.volumeRenderer->viewStack, VR::Front);
    EXPECT_NEAR(tilted.width, front.width, 4.0);
    EXPECT_GT(std::abs(tilted.height - front.height), 5.0);

    // The Front button restores the view exactly, once it has rested.
    w.form.SpeedButton12->click();
    QTest::qWait(300);
    EXPECT_TRUE(w.Frame() == start);
}

TEST(ViewMouse, WheelZoomsWithoutPassingThroughAndDragsPan)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    const Outline start = Measure(w.Frame());

    w.Wheel(1);
    const Outline nearer = Measure(w.Frame());
    EXPECT_GT(nearer.width / start.width, 1.05);
    EXPECT_LT(nearer.width / start.width, 1.2);
    w.Wheel(-2);
    EXPECT_LT(Measure(w.Frame()).width, start.width);

    // However far it turns, the wheel stops before the volume.
    w.Wheel(200);
    EXPECT_EQ(w.form.viewer.viewControl.distance,
              Camera::NearestDistance(w.form.viewer.volumeRenderer->BoxHalfExtents()));
    w.form.SpeedButton12->click();

    // A middle drag moves the centre with the mouse (y up in the picture), a
    // Shift-left drag too.
    w.Drag(Qt::MiddleButton, {}, w.centre(), w.centre() + QPoint(60, 40));
    const Outline moved = Measure(w.Frame());
    EXPECT_NEAR(moved.centreX - start.centreX, 60.0, 2.0);
    EXPECT_NEAR(moved.centreY - start.centreY, -40.0, 2.0);
    EXPECT_NEAR(moved.width, start.width, 3.0);
    w.Drag(Qt::LeftButton, Qt::ShiftModifier, w.centre(), w.centre() + QPoint(-60, -40));
    ExpectSameOutline(Measure(w.Frame()), start, 1.0, "panned back");
}

// While the view moves a slow frame is drawn at a lower resolution; once the
// view has rested a quarter of a second, the still picture is drawn exactly.
TEST(ViewMouse, MovingFramesAreCoarserAndTheRestingFrameIsExact)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    const Picture still = w.Frame();

    w.Drag(Qt::LeftButton, {}, w.centre(), w.centre() + QPoint(40, 0));
    w.form.SpeedButton12->click();
    // As after frames of a second each.
    w.form.viewer.motionQuality.movingFactor = 5;
    const Picture moving = w.Frame();
    EXPECT_FALSE(moving == still);
    ExpectSameOutline(Measure(moving), Measure(still), 6.0, "coarse frame");

    QTest::qWait(300);
    EXPECT_TRUE(w.Frame() == still);
}

TEST(MotionQuality, ChoosesTheResolutionFromTheLastFrames)
{
    MotionQuality quality;
    EXPECT_EQ(quality.Factor(true), 1) << "nothing measured yet";
    quality.FrameStarts(10.0);
    quality.FrameStarts(10.1);
    // 100 ms a frame: half the resolution each way gives about 25 ms.
    EXPECT_EQ(quality.Factor(true), 2);
    EXPECT_EQ(quality.Factor(false), 1) << "a still view is drawn whole";

    // Too slow still: the factor grows at once to what the pixels predict.
    quality.Factor(true);
    quality.FrameStarts(10.2);
    EXPECT_EQ(quality.Factor(true), 4);
    // Within the budget, but not far within: kept.
    quality.FrameStarts(10.23);
    EXPECT_EQ(quality.Factor(true), 4);
    // Well within: one step finer at a time.
    quality.FrameStarts(10.24);
    EXPECT_EQ(quality.Factor(true), 3);
    quality.FrameStarts(10.245);
    EXPECT_EQ(quality.Factor(true), 2);

    // A pause of the frames says nothing about the drawing.
    quality.Pause();
    quality.FrameStarts(20.0);
    EXPECT_EQ(quality.Factor(true), 2);
    // Nor does a frame that never ends in time: the largest factor holds.
    quality.FrameStarts(25.0);
    EXPECT_EQ(quality.Factor(true), MotionQuality::largestFactor);
}

// The stack of the whole rotation is the stack of the angles' rule wherever
// that rule is exact, at quarter turns, and that of each camera button.
TEST(ViewStack, FollowsTheWholeRotationAsTheAnglesRuleDoes)
{
    for (float x : {0.0f, 90.0f, 180.0f, 270.0f}) {
        for (float y : {0.0f, 90.0f, 180.0f, 270.0f}) {
            for (float z : {0.0f, 90.0f, 180.0f, 270.0f}) {
                const Vec3 angles{x, y, z};
                EXPECT_EQ(int(Camera::ViewStackOfRotation(Camera::FreeRotation(angles))),
                          int(VR::ViewStackFromAngles(angles)))
                    << x << ", " << y << ", " << z;
            }
        }
    }
    for (int8_t stack = VR::Left; stack <= VR::Front; ++stack) {
        EXPECT_EQ(Camera::ViewStackOfRotation(Camera::RotationOfButton(stack)), stack);
        // A button's side turned by less than 45 degrees keeps its stack.
        const QQuaternion turned = QQuaternion::fromAxisAndAngle(0, 1, 0, 40) *
                                   QQuaternion::fromAxisAndAngle(1, 0, 0, -30) * Camera::RotationOfButton(stack);
        EXPECT_EQ(Camera::ViewStackOfRotation(turned), stack);
    }
}
