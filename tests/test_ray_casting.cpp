// The ray caster's geometry and sampling, through volren-render on volumes of
// sizes that are not powers of two: each volume drawn in its own proportions and
// place, lit in the displayed space, seen also from inside, with exact entry
// points, and the same with and without leaps over empty bricks.
#include <GL/glew.h>

#include <QImage>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TransferFunction.h"

namespace {
constexpr int side = 400;
// Pixels per unit of the displayed space at a distance of one unit from the
// eye: half the panel's height over tan(22.5 degrees).
const double focal = (side / 2.0) / std::tan(22.5 * M_PI / 180.0);

// Opaque white (or grey) from density 1000 up, transparent below.
void WriteOpaqueTransferFunction(const std::string& path, uint8_t grey = 255)
{
    TransferFunction tf;
    tf.Clear();
    for (int channel = 0; channel < 3; ++channel) {
        tf.AddSample(channel, grey, 0);
        tf.AddSample(channel, grey, 4095);
    }
    tf.AddSample(3, 0, 0);
    tf.AddSample(3, 0, 999);
    tf.AddSample(3, 255, 1000);
    tf.AddSample(3, 255, 4095);
    ASSERT_TRUE(tf.Save(path.c_str()));
}

QImage Render(const ScratchFolder& scratch, const std::string& volume, const std::string& tf, QStringList options,
              const std::string& name = "picture.png")
{
    const QString out = QString::fromStdString(scratch.Path(name));
    options << QString::fromStdString(volume) << QStringLiteral("-o") << out << QStringLiteral("--tf")
            << QString::fromStdString(tf) << QStringLiteral("--size") << QStringLiteral("%1x%1").arg(side);
    QProcess tool;
    tool.start(QString::fromStdString(ProgramFolder() + "volren-render"), options);
    EXPECT_TRUE(tool.waitForFinished(240000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    return QImage(out).convertToFormat(QImage::Format_RGB888);
}

int Brightness(const QImage& image, int x, int y)
{
    const QRgb c = image.pixel(x, y);
    return qRed(c) + qGreen(c) + qBlue(c);
}

// Bounding box and centroid of the pixels brighter than the threshold, in
// pixels from the panel's centre, y up.
struct Outline {
    double width = 0, height = 0, centreX = 0, centreY = 0;
    int pixels = 0;
};

Outline Measure(const QImage& image, int threshold = 60)
{
    int x0 = image.width(), x1 = -1, y0 = image.height(), y1 = -1;
    double sx = 0, sy = 0;
    Outline o;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (Brightness(image, x, y) > threshold) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
                sx += x, sy += y;
                ++o.pixels;
            }
        }
    }
    if (o.pixels == 0) {
        return o;
    }
    o.width = x1 - x0 + 1;
    o.height = y1 - y0 + 1;
    o.centreX = sx / o.pixels + 0.5 - image.width() / 2.0;
    o.centreY = image.height() / 2.0 - (sy / o.pixels + 0.5);
    return o;
}

struct Difference {
    int largest = 0;
    double mean = 0;
};

Difference Compare(const QImage& a, const QImage& b)
{
    Difference d;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int channel :
                 {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))}) {
                d.largest = std::max(d.largest, channel);
                sum += channel;
            }
        }
    }
    d.mean = sum / (3.0 * a.width() * a.height());
    return d;
}

// The sphere of the tests: centre and radius in voxels.
struct Ball {
    double x, y, z, r;
};

uint16_t Inside(const Ball& b, uint32_t x, uint32_t y, uint32_t z, uint16_t density = 2000)
{
    const double dx = x + 0.5 - b.x, dy = y + 0.5 - b.y, dz = z + 0.5 - b.z;
    return dx * dx + dy * dy + dz * dz < b.r * b.r ? density : 0;
}
}  // namespace

// An off-centre ball in a 100 x 60 x 30 box is round, and where it belongs, in
// three views; the volume-texture method, one unit per voxel, agrees.
TEST(RayCastingGeometry, BallIsRoundAndInPlaceInEveryView)
{
    ScratchFolder scratch;
    const Ball ball{62, 24, 15, 11};
    const std::string volume = scratch.Path("ball.dat"), tf = scratch.Path("opaque.tf");
    WriteVolume(volume, 100, 60, 30, [&](uint32_t x, uint32_t y, uint32_t z) { return Inside(ball, x, y, z); });
    WriteOpaqueTransferFunction(tf);

    // The ball's centre in the displayed space (largest side 2) and where each
    // view turns it: down turns (x, y, z) to (x, z, -y), left to (z, y, -x).
    const double s = 1.0 / 50.0;
    const double cx = (ball.x - 50) * s, cy = (ball.y - 30) * s, cz = (ball.z - 15) * s, radius = ball.r * s;
    struct View {
        const char* name;
        double x, y, z;
    };
    const View views[] = {{"front", cx, cy, cz}, {"down", cx, cz, -cy}, {"left", cz, cy, -cx}};
    const double distance = 3.0;
    for (const View& v : views) {
        const QImage picture = Render(scratch, volume, tf,
                                      {QStringLiteral("--view"), QString::fromLatin1(v.name),
                                       QStringLiteral("--distance"), QString::number(distance)},
                                      std::string("ball_") + v.name + ".png");
        const Outline o = Measure(picture);
        ASSERT_GT(o.pixels, 100) << v.name;
        const double depth = distance - v.z;
        const double expectedX = focal * v.x / depth, expectedY = focal * v.y / depth;
        const double expectedDiameter = 2 * focal * radius / depth;
        EXPECT_NEAR(o.centreX, expectedX, 1.5) << v.name;
        EXPECT_NEAR(o.centreY, expectedY, 1.5) << v.name;
        EXPECT_NEAR(o.width, expectedDiameter, 3.0) << v.name;
        EXPECT_NEAR(o.height, o.width, 2.0) << v.name;

        // The volume texture draws the same box: the same view.
        const QImage planes =
            Render(scratch, volume, tf,
                   {QStringLiteral("--view"), QString::fromLatin1(v.name), QStringLiteral("--distance"),
                    QString::number(distance), QStringLiteral("--method"), QStringLiteral("volume-texture"),
                    QStringLiteral("--classification"), QStringLiteral("pre"), QStringLiteral("--blend"),
                    QStringLiteral("blend")},
                   std::string("ball_planes_") + v.name + ".png");
        const Outline p = Measure(planes);
        ASSERT_GT(p.pixels, 100) << v.name;
        EXPECT_NEAR(p.height / p.width, o.height / o.width, 0.04) << v.name;
        EXPECT_NEAR(p.centreX, o.centreX, 2.0) << v.name;
        EXPECT_NEAR(p.centreY, o.centreY, 2.0) << v.name;
    }
}

// A shell one to two voxels thick is all there with leaps over empty bricks, as
// without: the same samples are composited, so only rounding could differ. The
// stated tolerance is no channel off by more than 8 levels and a mean under
// 0.25 of a level, at the default step and at half a voxel.
TEST(RayCastingGeometry, ThinShellIsWholeWithAndWithoutLeaps)
{
    ScratchFolder scratch;
    const std::string volume = scratch.Path("shell.dat"), tf = scratch.Path("opaque.tf");
    WriteVolume(volume, 150, 130, 90, [](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const double dx = x + 0.5 - 75, dy = y + 0.5 - 65, dz = z + 0.5 - 45;
        const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
        return std::abs(r - 40.0) < 0.8 ? 1500 : 0;
    });
    WriteOpaqueTransferFunction(tf);
    for (const char* step : {"0.01", "0.003"}) {
        const QStringList common = {QStringLiteral("--distance"), QStringLiteral("3"), QStringLiteral("--step"),
                                    QString::fromLatin1(step)};
        const QImage leaping = Render(scratch, volume, tf,
                                      QStringList(common) << "--adaptive"
                                                          << "1",
                                      "shell_1.png");
        const QImage marching = Render(scratch, volume, tf,
                                       QStringList(common) << "--adaptive"
                                                           << "0",
                                       "shell_0.png");
        const Difference d = Compare(leaping, marching);
        EXPECT_LE(d.largest, 8) << step;
        EXPECT_LT(d.mean, 0.25) << step;
        // The whole shell shows: its outline is that of its outer radius,
        // 40.8 voxels, under perspective.
        const Outline o = Measure(leaping);
        const double outer = 40.8 / 75.0;
        EXPECT_NEAR(o.width, 2 * focal * outer / std::sqrt(9.0 - outer * outer), 3.0) << step;
        EXPECT_GT(o.pixels, 1000) << step;
    }
}

// A surface at 45 degrees to the viewer is lit alike whether its grid is cubic
// or four times thinner along z: light is computed in the displayed space.
TEST(RayCastingGeometry, SlantedPlaneIsLitAlikeInEveryGrid)
{
    ScratchFolder scratch;
    const std::string tf = scratch.Path("opaque.tf");
    WriteOpaqueTransferFunction(tf);
    double brightness[2] = {0, 0};
    const uint16_t depths[2] = {64, 16};
    for (int i = 0; i < 2; ++i) {
        const std::string volume = scratch.Path("plane" + std::to_string(i) + ".dat");
        const double cz = depths[i] / 2.0;
        // Solid where x + z lies below the centre's: a face at 45 degrees
        // between the x and z axes, in voxels, which are cubes.
        WriteVolume(volume, 64, 64, depths[i], [cz](uint32_t x, uint32_t, uint32_t z) -> uint16_t {
            const double across = (x + 0.5 - 32.0) + (z + 0.5 - cz);
            return uint16_t(std::clamp(2000.0 - 1000.0 * across, 0.0, 4000.0));
        });
        const QImage picture = Render(
            scratch, volume, tf,
            {QStringLiteral("--distance"), QStringLiteral("4"), QStringLiteral("--step"), QStringLiteral("0.002")});
        double sum = 0;
        int n = 0;
        for (int y = side / 2 - 10; y < side / 2 + 10; ++y) {
            for (int x = side / 2 - 10; x < side / 2 + 10; ++x, ++n) {
                sum += Brightness(picture, x, y) / 3.0;
            }
        }
        brightness[i] = sum / n;
    }
    // Diffuse light of a surface at 45 degrees: 0.3 + 0.7 cos 45 of full white.
    const double expected = 255.0 * (0.3 + 0.7 * std::sqrt(0.5));
    EXPECT_NEAR(brightness[0], expected, 12.0);
    EXPECT_NEAR(brightness[1], brightness[0], 6.0);
}

// A camera at the volume's centre or close in front of it shows the volume from
// where it stands: a hollow ball seen from inside shows its far wall and a
// marker inside it, half a radius in front of the eye.
TEST(RayCastingGeometry, CameraInsideOrCloseSeesTheVolume)
{
    ScratchFolder scratch;
    const std::string volume = scratch.Path("hollow.dat"), tf = scratch.Path("colours.tf");
    const Ball marker{45, 40, 35 - 14, 5};
    WriteVolume(volume, 90, 80, 70, [&](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const double dx = x + 0.5 - 45, dy = y + 0.5 - 40, dz = z + 0.5 - 35;
        const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (std::abs(r - 30.0) < 1.5) {
            return 1500;
        }
        return Inside(marker, x, y, z, 3000);
    });
    // The wall (1500) a red veil, the marker (3000) opaque green behind a thin
    // veil where its rim passes through the wall's densities.
    TransferFunction colours;
    colours.Clear();
    colours.AddSample(0, 255, 0), colours.AddSample(0, 255, 2900), colours.AddSample(0, 0, 2950);
    colours.AddSample(0, 0, 4095);
    colours.AddSample(1, 0, 0), colours.AddSample(1, 0, 2900), colours.AddSample(1, 255, 2950);
    colours.AddSample(1, 255, 4095);
    colours.AddSample(2, 0, 0), colours.AddSample(2, 0, 4095);
    colours.AddSample(3, 0, 0), colours.AddSample(3, 0, 999), colours.AddSample(3, 40, 1000);
    colours.AddSample(3, 40, 2900), colours.AddSample(3, 255, 2950), colours.AddSample(3, 255, 4095);
    ASSERT_TRUE(colours.Save(tf.c_str()));

    const QImage centre =
        Render(scratch, volume, tf,
               {QStringLiteral("--distance"), QStringLiteral("0"), QStringLiteral("--lighting"), QStringLiteral("0")},
               "inside.png");
    // The marker fills the middle, the far wall the rest of the panel.
    auto meanColour = [&](int x0, int y0, int r, int channel) {
        double sum = 0;
        for (int y = y0 - r; y <= y0 + r; ++y) {
            for (int x = x0 - r; x <= x0 + r; ++x) {
                const QRgb c = centre.pixel(x, y);
                sum += channel == 0 ? qRed(c) : qGreen(c);
            }
        }
        return sum / ((2 * r + 1) * (2 * r + 1));
    };
    EXPECT_GT(meanColour(side / 2, side / 2, 10, 1), 150);
    EXPECT_LT(meanColour(side / 2, side / 2, 10, 0), 100);
    EXPECT_GT(meanColour(30, 30, 10, 0), 100);
    EXPECT_LT(meanColour(30, 30, 10, 1), 10);

    const QImage close =
        Render(scratch, volume, tf, {QStringLiteral("--distance"), QStringLiteral("1.5")}, "close.png");
    const Outline o = Measure(close);
    EXPECT_GT(o.pixels, side * side / 4);
}

// Each fragment has its own exact ray: close up, the outline of a sharp box
// turned about the view axis is a straight line within a pixel, and the lit
// surface of a smooth ball changes from pixel to pixel, without runs of equal
// pixels as wide as a voxel.
TEST(RayCastingGeometry, OutlinesAreStraightAndShadingSmooth)
{
    ScratchFolder scratch;
    const std::string tf = scratch.Path("opaque.tf");
    WriteOpaqueTransferFunction(tf);

    const std::string box = scratch.Path("box.dat");
    WriteVolume(box, 70, 70, 40, [](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        return x >= 10 && x < 60 && y >= 10 && y < 60 && z >= 5 && z < 35 ? 2000 : 0;
    });
    const QImage turned = Render(scratch, box, tf,
                                 {QStringLiteral("--distance"), QStringLiteral("2.6"), QStringLiteral("--rotate"),
                                  QStringLiteral("0,0,10"), QStringLiteral("--lighting"), QStringLiteral("0")},
                                 "box.png");
    // The left edge of every row through the middle of the box, to a
    // hundredth of a pixel from the brightness of its first pixel.
    std::vector<double> ys, xs;
    for (int y = side / 2 - 60; y < side / 2 + 60; ++y) {
        int x = 0;
        while (x < side && Brightness(turned, x, y) == 0) {
            ++x;
        }
        ASSERT_LT(x, side) << y;
        ys.push_back(y);
        xs.push_back(x + 1.0 - Brightness(turned, x, y) / 765.0);
    }
    double my = 0, mx = 0;
    for (size_t i = 0; i < ys.size(); ++i) {
        my += ys[i] / ys.size(), mx += xs[i] / xs.size();
    }
    double syy = 0, sxy = 0;
    for (size_t i = 0; i < ys.size(); ++i) {
        syy += (ys[i] - my) * (ys[i] - my), sxy += (ys[i] - my) * (xs[i] - mx);
    }
    const double slope = sxy / syy;
    EXPECT_NEAR(slope, std::tan(10 * M_PI / 180), 0.02);
    double worst = 0;
    for (size_t i = 0; i < ys.size(); ++i) {
        worst = std::max(worst, std::abs(xs[i] - (mx + slope * (ys[i] - my))));
    }
    EXPECT_LT(worst, 1.0);

    const std::string ball = scratch.Path("smooth.dat");
    const Ball b{20, 20, 15, 12};
    // A smooth density profile, so that the gradients are smooth too, and a
    // grey that the highlight does not saturate.
    WriteVolume(ball, 40, 40, 30, [&](uint32_t x, uint32_t y, uint32_t z) -> uint16_t {
        const double dx = x + 0.5 - b.x, dy = y + 0.5 - b.y, dz = z + 0.5 - b.z;
        const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
        return uint16_t(std::clamp(2000.0 - 400.0 * (r - b.r), 0.0, 4000.0));
    });
    const std::string grey = scratch.Path("grey.tf");
    WriteOpaqueTransferFunction(grey, 150);
    const QImage lit =
        Render(scratch, ball, grey,
               {QStringLiteral("--distance"), QStringLiteral("1.8"), QStringLiteral("--step"), QStringLiteral("0.001")},
               "smooth.png");
    // A voxel here spans about twenty pixels; the rows cross the ball where
    // its light changes by a level every few pixels.
    const double radiusPixels = focal * (12.0 / 20.0) / (1.8 - 12.0 / 20.0);
    const double voxelPixels = radiusPixels / 12.0;
    ASSERT_GT(voxelPixels, 15.0);
    int longest = 0;
    for (int y = side / 2 - int(radiusPixels / 4); y <= side / 2 + int(radiusPixels / 4); y += 6) {
        int run = 1;
        for (int x = side / 2 + int(0.35 * radiusPixels); x < side / 2 + int(0.85 * radiusPixels); ++x) {
            run = lit.pixel(x, y) != lit.pixel(x + 1, y) ? 1 : run + 1;
            longest = std::max(longest, run);
        }
    }
    EXPECT_LT(longest, voxelPixels / 2);
}
