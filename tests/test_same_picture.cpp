// Every method shows the same volume: under each classification and blend
// mode the slicing methods and the ray caster draw one outline, no panel is
// black or white where another shows the volume, and the ray caster's view at
// rest converges to the picture of a fine step.
#include <GL/glew.h>

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "PictureCompare.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
using VR = VolumeRenderer;

// The box around the pixels brighter than a threshold, and their mean grey.
struct Outline {
    int left = 0, top = 0, right = -1, bottom = -1;
    double mean = 0.0;
    int pixels = 0;
    int brightest = 0;
};

Outline Measure(const QImage& picture, int threshold)
{
    Outline o;
    o.left = picture.width();
    o.top = picture.height();
    double sum = 0.0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const int grey = qGray(picture.pixel(x, y));
            if (grey > threshold) {
                o.left = std::min(o.left, x);
                o.top = std::min(o.top, y);
                o.right = std::max(o.right, x);
                o.bottom = std::max(o.bottom, y);
                sum += grey;
                ++o.pixels;
                o.brightest = std::max(o.brightest, grey);
            }
        }
    }
    o.mean = o.pixels ? sum / o.pixels : 0.0;
    return o;
}

void Set(Viewer& viewer, uint8_t method, uint8_t classification, uint8_t blend)
{
    ViewSettings s = viewer.Settings();
    s.method = method;
    s.classification = classification;
    s.blend = blend;
    viewer.Apply(s);
}

// An ellipsoid in a box of 61 x 47 x 37: a dense shell of 3000 around a
// core of 1500, air outside.
std::string WriteEllipsoid(const ScratchFolder& scratch)
{
    const std::string path = scratch.Path("ellipsoid.dat");
    WriteVolume(path, 61, 47, 37, [](uint32_t x, uint32_t y, uint32_t z) {
        const double u = (x - 30.0) / 27.0, v = (y - 23.0) / 20.0, w = (z - 18.0) / 15.0;
        const double r = std::sqrt(u * u + v * v + w * w);
        return uint16_t(r > 1.0 ? 0 : (r > 0.8 ? 3000 : 1500));
    });
    return path;
}

// Air clear, the core a translucent red, the shell an opaque ivory.
void ShellFunction(TransferFunction& tf)
{
    tf.Clear();
    const int r[] = {0, 0, 200, 200, 240, 240}, g[] = {0, 0, 40, 40, 230, 230}, b[] = {0, 0, 40, 40, 200, 200},
              a[] = {0, 0, 60, 60, 255, 255};
    const uint32_t at[] = {0, 1000, 1400, 2000, 2800, 4096};
    for (int i = 0; i < 6; ++i) {
        tf.AddSample(0, uint8_t(r[i]), at[i]);
        tf.AddSample(1, uint8_t(g[i]), at[i]);
        tf.AddSample(2, uint8_t(b[i]), at[i]);
        tf.AddSample(3, uint8_t(a[i]), at[i]);
    }
}
}  // namespace

// The outline of the ellipsoid is that of the ray caster in every method,
// classification and blend mode, within 2 pixels; the slicing methods draw it
// neither black nor white, and alike: within 32 levels (an eighth) of each
// other, since the volume texture's planes lie between the voxels, spread
// from face to face, where the slices lie at the voxels' centres, so their
// opacity per unit of depth differs a little. "Minimum intensity" keeps the
// cleared black background wherever a ray meets air, which every ray through
// the box does: there both slicing methods are black, as they should be.
TEST(SamePicture, EveryMethodDrawsTheOutlineOfTheRayCaster)
{
    ScratchFolder scratch;
    GLWindow gl(240, 200);
    Viewer& viewer = gl.viewer;
    ShellFunction(viewer.transferFunction);
    ASSERT_TRUE(viewer.Open(QString::fromStdString(WriteEllipsoid(scratch))).opened);
    viewer.ShowSide(VR::Left);

    Set(viewer, VR::RayCasting, VR::NoClassification, VR::DefaultBlend);
    const Outline ray = Measure(Rested(viewer), 12);
    ASSERT_GT(ray.pixels, 2000);

    for (uint8_t classification : {VR::PreClassification, VR::ShaderClassification, VR::NoClassification}) {
        for (uint8_t blend : {VR::DefaultBlend, VR::Blend, VR::MaximumIntensity}) {
            Outline drawn[2];
            for (uint8_t method : {VR::Slices, VR::VolumeTexture}) {
                Set(viewer, method, classification, blend);
                const Outline o = Measure(Rested(viewer), 12);
                const std::string what = "method " + std::to_string(method) + " classification " +
                                         std::to_string(classification) + " blend " + std::to_string(blend);
                EXPECT_NEAR(o.left, ray.left, 2) << what;
                EXPECT_NEAR(o.right, ray.right, 2) << what;
                EXPECT_NEAR(o.top, ray.top, 2) << what;
                EXPECT_NEAR(o.bottom, ray.bottom, 2) << what;
                // Neither a black nor a white panel.
                EXPECT_GT(o.mean, 30.0) << what;
                EXPECT_LT(o.mean, 235.0) << what;
                drawn[method] = o;
            }
            // Both slicing methods sample the same voxels at the same planes.
            EXPECT_NEAR(drawn[0].mean, drawn[1].mean, 32.0)
                << "classification " << int(classification) << " blend " << int(blend);
        }
    }
    for (uint8_t method : {VR::Slices, VR::VolumeTexture}) {
        Set(viewer, method, VR::ShaderClassification, VR::MinimumIntensity);
        EXPECT_EQ(Measure(Rested(viewer), 12).pixels, 0) << "method " << int(method);
    }
}

// "Default" composites premultiplied colours, "Blend" colours as they are:
// the same transfer function gives the same picture under both where the
// colours are classified after filtering. Pre-classified texels are filtered
// as colours: premultiplied, a texel between the shell and clear air is half
// the shell's colour at half its opacity, where "Blend" takes half the colour
// at half the opacity again, so "Default" is brighter; but no pixel is
// brighter than the function's brightest colour (grey 228, and a few levels
// of rounding), as pixels were when air's colour added up.
TEST(SamePicture, DefaultAndBlendAgreeUnderEveryClassification)
{
    ScratchFolder scratch;
    GLWindow gl(240, 200);
    Viewer& viewer = gl.viewer;
    ShellFunction(viewer.transferFunction);
    ASSERT_TRUE(viewer.Open(QString::fromStdString(WriteEllipsoid(scratch))).opened);
    for (uint8_t method : {VR::Slices, VR::VolumeTexture}) {
        for (uint8_t classification : {VR::PreClassification, VR::ShaderClassification, VR::NoClassification}) {
            Set(viewer, method, classification, VR::Blend);
            const QImage blend = Rested(viewer);
            Set(viewer, method, classification, VR::DefaultBlend);
            const QImage premultiplied = Rested(viewer);
            const std::string what =
                "method " + std::to_string(method) + " classification " + std::to_string(classification);
            if (classification == VR::PreClassification) {
                const Outline b = Measure(blend, 12), p = Measure(premultiplied, 12);
                EXPECT_NEAR(p.left, b.left, 2) << what;
                EXPECT_NEAR(p.right, b.right, 2) << what;
                EXPECT_GE(p.mean, b.mean - 2.0) << what;
                EXPECT_LE(p.brightest, 232) << what;
                continue;
            }
            QImage diff;
            // A level or two of rounding: premultiplied lookups are rounded
            // before the blend, the others in it.
            EXPECT_LT(PictureCompare::MeanAbsoluteDifference(premultiplied, blend, diff), 1.0) << what;
        }
    }
}

// The ray caster's view at rest converges to the picture of a step 20 times
// finer, which a single frame at the default step does not reach; once
// converged, further frames show the same picture, and a moved camera starts
// again.
TEST(SamePicture, TheViewAtRestConvergesToTheFineStep)
{
    ScratchFolder scratch;
    GLWindow gl(240, 200);
    Viewer& viewer = gl.viewer;
    ShellFunction(viewer.transferFunction);
    ASSERT_TRUE(viewer.Open(QString::fromStdString(WriteEllipsoid(scratch))).opened);
    viewer.viewControl.Turn(35.0f, 20.0f);

    ViewSettings s = viewer.Settings();
    s.converge = false;
    s.step = 0.0005f;
    viewer.Apply(s);
    const QImage reference = Rested(viewer);
    s.step = 0.01f;
    viewer.Apply(s);
    const QImage single = Rested(viewer);
    s.converge = true;
    viewer.Apply(s);
    const QImage rested = Rested(viewer);
    const double singleSsim = PictureCompare::Ssim(single, reference);
    const double restedSsim = PictureCompare::Ssim(rested, reference);
    EXPECT_GE(restedSsim, 0.98);
    EXPECT_LT(singleSsim, restedSsim - 0.01);

    // Converged: the next frames draw nothing new.
    EXPECT_TRUE(viewer.Converged());
    viewer.DrawFrame(0.0);
    EXPECT_EQ(viewer.ReadPicture(), rested);
    // A frame while the view moves is a single frame again.
    viewer.DrawFrame(0.0, true);
    EXPECT_EQ(viewer.ReadPicture(), single);
    // A turned view starts over and converges to its own picture.
    viewer.viewControl.Turn(10.0f, 0.0f);
    viewer.DrawFrame(0.0);
    EXPECT_FALSE(viewer.Converged());
    EXPECT_NE(Rested(viewer), rested);
}
