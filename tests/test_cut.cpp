// Cutting into the volume: the crop box and the plane keep the same part in
// every method, the cut faces show the densities on the cut, maximum
// intensity sees only the kept part, and the mouse moves a side or the plane.
#include <GL/glew.h>

#include "Main.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QVector4D>
#include <QWheelEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "CutPage.h"
#include "CutRegion.h"
#include "PictureCompare.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
using VR = VolumeRenderer;

float Area(const std::vector<Vec3>& polygon)
{
    // Half the length of the sum of the edges' cross products.
    float x = 0.0f, y = 0.0f, z = 0.0f;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const Vec3 a = polygon[i], b = polygon[(i + 1) % polygon.size()];
        x += a.y * b.z - a.z * b.y;
        y += a.z * b.x - a.x * b.z;
        z += a.x * b.y - a.y * b.x;
    }
    return 0.5f * std::sqrt(x * x + y * y + z * z);
}

// Air, and a solid ball or a shell of radius 21 voxels in a box of 90 x 70 x
// 50 centred on the box.
std::string WriteBall(const ScratchFolder& scratch, const std::string& name,
                      const std::function<uint16_t(double r, double z)>& density)
{
    const std::string path = scratch.Path(name);
    WriteVolume(path, 90, 70, 50, [&](uint32_t x, uint32_t y, uint32_t z) {
        const double u = x - 44.5, v = y - 34.5, w = z - 24.5;
        return density(std::sqrt(u * u + v * v + w * w), w);
    });
    return path;
}

// Densities from 1000 up opaque white, air clear.
void OpaqueWhite(TransferFunction& tf)
{
    tf.Clear();
    for (int c = 0; c < 4; ++c) {
        tf.AddSample(c, 0, 0);
        tf.AddSample(c, 0, 999);
        tf.AddSample(c, 255, 1000);
        tf.AddSample(c, 255, 4096);
    }
}

void Apply(Viewer& viewer, const std::function<void(ViewSettings&)>& edit)
{
    ViewSettings s = viewer.Settings();
    edit(s);
    viewer.Apply(s);
}

// Per row, the first and last column brighter than the threshold; -1 where
// the row shows nothing.
struct Rows {
    std::vector<int> first, last;
};

Rows Extents(const QImage& picture, int threshold = 12)
{
    Rows rows;
    for (int y = 0; y < picture.height(); ++y) {
        int first = -1, last = -1;
        for (int x = 0; x < picture.width(); ++x) {
            if (qGray(picture.pixel(x, y)) > threshold) {
                first = first < 0 ? x : first;
                last = x;
            }
        }
        rows.first.push_back(first);
        rows.last.push_back(last);
    }
    return rows;
}

int Grey(const QImage& picture, double x, double y) { return qGray(picture.pixel(int(x), int(y))); }
}  // namespace

// The faces of the kept part: a crop box's sides inside the volume, cut down
// by the plane, and the plane cut down to the box.
TEST(CutRegion, FacesAreTheKeptPartsSidesInsideTheVolume)
{
    const Vec3 half{1.0f, 0.75f, 0.5f};
    CutRegion cut;
    EXPECT_FALSE(cut.Cuts());
    EXPECT_TRUE(cut.CutFaces(half).empty());

    cut.clip = true;
    cut.normal = Vec3{0.0f, 0.0f, 2.0f};
    cut.distance = 0.4f;  // z <= 0.2
    std::vector<CutRegion::Face> faces = cut.CutFaces(half);
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_NEAR(Area(faces[0].corners), 2.0f * 1.5f, 1e-4f);
    EXPECT_NEAR(faces[0].normal.z, 1.0f, 1e-6f);
    for (const Vec3& p : faces[0].corners) {
        EXPECT_NEAR(p.z, 0.2f, 1e-5f);
    }

    // The right half cut away: one side at x = 0, cut down to z <= 0.2.
    cut.SetCrop(1, 0.5f);
    faces = cut.CutFaces(half);
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_NEAR(Area(faces[0].corners), 1.5f * 0.7f, 1e-4f);
    EXPECT_NEAR(faces[0].normal.x, 1.0f, 1e-6f);
    EXPECT_NEAR(Area(faces[1].corners), 1.0f * 1.5f, 1e-4f);
    EXPECT_TRUE(cut.Keeps(Vec3{-0.5f, 0.0f, 0.1f}, half));
    EXPECT_FALSE(cut.Keeps(Vec3{0.5f, 0.0f, 0.1f}, half));
    EXPECT_FALSE(cut.Keeps(Vec3{-0.5f, 0.0f, 0.3f}, half));

    // A plane that misses the box keeps all or nothing, and has no face.
    cut.distance = 5.0f;
    EXPECT_EQ(cut.CutFaces(half).size(), 1u);
    cut.Flip();
    EXPECT_FALSE(cut.Keeps(Vec3{-0.5f, 0.0f, 0.0f}, half));

    // Sides stay in the volume and apart.
    cut.SetCrop(0, 0.9f);
    EXPECT_NEAR(cut.crop[0], 0.5f - CutRegion::thinnest, 1e-6f);
    cut.SetCrop(5, -3.0f);
    EXPECT_NEAR(cut.crop[5], CutRegion::thinnest, 1e-6f);
    cut.SetCrop(2, std::nanf(""));
    EXPECT_EQ(cut.crop[2], 0.0f);
    cut.ResetCrop();
    EXPECT_FALSE(cut.Cropped());
}

// The ball cropped to its left half shows, in every method, the left half of
// its whole outline within 2 pixels: at the front view, and turned about the
// screen's horizontal axis, which keeps the cut at x = 0 on the panel's
// middle column.
TEST(Cut, CropKeepsTheSameHalfInEveryMethod)
{
    ScratchFolder scratch;
    GLWindow gl(241, 201);
    Viewer& viewer = gl.viewer;
    OpaqueWhite(viewer.transferFunction);
    ASSERT_TRUE(viewer
                    .Open(QString::fromStdString(WriteBall(
                        scratch, "ball.dat", [](double r, double) { return uint16_t(r <= 21.0 ? 2000 : 0); })))
                    .opened);
    const double middle = (241 - 1) * 0.5;
    // The slicing methods clip through the colour maps' shaders and, pre-
    // classified, through the fixed pipeline.
    const std::pair<uint8_t, uint8_t> ways[] = {{VR::RayCasting, VR::ShaderClassification},
                                                {VR::VolumeTexture, VR::ShaderClassification},
                                                {VR::VolumeTexture, VR::PreClassification},
                                                {VR::Slices, VR::ShaderClassification},
                                                {VR::Slices, VR::PreClassification}};
    for (float tilt : {0.0f, 35.0f}) {
        for (const auto& [method, classification] : ways) {
            const std::string what = "method " + std::to_string(method) + " classification " +
                                     std::to_string(classification) + " tilt " + std::to_string(tilt);
            Apply(viewer, [&](ViewSettings& s) {
                s.method = method;
                s.classification = classification;
                s.turn[1] = tilt;
                s.cut.ResetCrop();
            });
            viewer.PlaceCamera();
            const Rows whole = Extents(Rested(viewer));
            Apply(viewer, [](ViewSettings& s) { s.cut.SetCrop(1, 0.5f); });
            const Rows half = Extents(Rested(viewer));
            int rows = 0;
            for (size_t y = 0; y < whole.first.size(); ++y) {
                // Rows whose outline crosses the middle by more than the tolerance.
                if (whole.first[y] < 0 || whole.first[y] > middle - 4 || whole.last[y] < middle + 4) {
                    continue;
                }
                ++rows;
                EXPECT_NEAR(half.first[y], whole.first[y], 2) << what << " row " << y;
                EXPECT_NEAR(half.last[y], middle, 2) << what << " row " << y;
            }
            EXPECT_GT(rows, 50) << what;
        }
    }
}

// A shell cut through its centre by the plane, its face drawn in grey levels:
// the ring of the shell shows its density's grey, the core its own, and the
// hollow between stays clear (as without the face); in colours the ring is
// the function's opaque white. With maximum intensity the picture holds only
// the kept half's maximum.
TEST(Cut, TheCutFaceShowsTheDensitiesOnTheCutAndLeavesTheHollowClear)
{
    ScratchFolder scratch;
    GLWindow gl(241, 201);
    Viewer& viewer = gl.viewer;
    OpaqueWhite(viewer.transferFunction);
    ASSERT_TRUE(
        viewer
            .Open(QString::fromStdString(WriteBall(
                scratch, "shell.dat",
                [](double r, double) { return uint16_t(r <= 5.0 ? 3000 : (r >= 16.0 && r <= 21.0 ? 2000 : 0)); })))
            .opened);
    for (uint8_t method : {VR::RayCasting, VR::VolumeTexture, VR::Slices}) {
        const std::string what = "method " + std::to_string(method);
        // Keeps the far half, z <= 0; the front view looks along -z.
        Apply(viewer, [&](ViewSettings& s) {
            s.method = method;
            s.classification = VR::ShaderClassification;
            s.blend = VR::DefaultBlend;
            s.cut.clip = true;
            s.cut.normal = Vec3{0.0f, 0.0f, 1.0f};
            s.cut.distance = 0.0f;
            s.cut.face = CutRegion::NoFace;
            s.distance = 2.0f;
        });
        viewer.PlaceCamera();
        const QImage open = Rested(viewer);
        Apply(viewer, [](ViewSettings& s) {
            s.cut.face = CutRegion::GreyFace;
            s.cut.greyLow = 500.0f;
            s.cut.greyHigh = 3000.0f;
        });
        const QImage grey = Rested(viewer);
        Apply(viewer, [](ViewSettings& s) { s.cut.face = CutRegion::ColorFace; });
        const QImage colours = Rested(viewer);

        // The cut's rim is the outline's widest row; its radius in pixels
        // scales the shell's radii.
        const Rows rows = Extents(grey);
        int widest = 0;
        for (size_t y = 0; y < rows.first.size(); ++y) {
            if (rows.last[y] - rows.first[y] > rows.last[widest] - rows.first[widest]) {
                widest = int(y);
            }
        }
        const double cx = 0.5 * (rows.first[widest] + rows.last[widest]), cy = widest;
        const double radius = 0.5 * (rows.last[widest] - rows.first[widest] + 1) / 21.5;
        ASSERT_GT(radius, 2.5) << what;
        for (double side : {-1.0, 1.0}) {
            const double ring = cx + side * 18.5 * radius, hollow = cx + side * 10.5 * radius;
            // 2000 in the window 500 to 3000: grey 0.6, lit nearly head on
            // (the ray caster lights each pixel by its own ray, the slicing
            // methods a face by its centre).
            EXPECT_NEAR(Grey(grey, ring, cy), 153, 6) << what;
            EXPECT_NEAR(Grey(colours, ring, cy), 255, 6) << what;
            EXPECT_NEAR(Grey(grey, hollow, cy), Grey(open, hollow, cy), 2) << what << " hollow";
            EXPECT_NEAR(Grey(colours, hollow, cy), Grey(open, hollow, cy), 2) << what << " hollow";
            EXPECT_GT(std::abs(Grey(open, ring, cy) - 153), 20) << what << ": the ring is the face's";
        }
        EXPECT_NEAR(Grey(grey, cx, cy), 255, 3) << what << " core";
    }

    // A bright blob in the front half, more than a voxel from the cut (where
    // the kept part's samples interpolate): maximum intensity through the
    // clipped volume shows what it shows without the blob.
    const std::string blob = WriteBall(scratch, "blob.dat", [](double r, double z) {
        return uint16_t(r <= 21.0 && z >= 3.0 && r * r - z * z <= 25.0 ? 3500 : (r <= 21.0 ? 1500 : 0));
    });
    const std::string plain =
        WriteBall(scratch, "plain.dat", [](double r, double) { return uint16_t(r <= 21.0 ? 1500 : 0); });
    for (uint8_t method : {VR::VolumeTexture, VR::Slices}) {
        const std::string what = "method " + std::to_string(method);
        QImage pictures[2][2];
        for (int clipped = 0; clipped < 2; ++clipped) {
            for (int withBlob = 0; withBlob < 2; ++withBlob) {
                ASSERT_TRUE(viewer.Open(QString::fromStdString(withBlob ? blob : plain)).opened);
                Apply(viewer, [&](ViewSettings& s) {
                    s.method = method;
                    s.classification = VR::NoClassification;
                    s.blend = VR::MaximumIntensity;
                    s.cut.clip = clipped == 1;
                    s.cut.face = CutRegion::ColorFace;
                });
                viewer.PlaceCamera();
                pictures[clipped][withBlob] = Rested(viewer);
            }
        }
        QImage diff;
        EXPECT_GT(PictureCompare::MeanAbsoluteDifference(pictures[0][1], pictures[0][0], diff), 0.5)
            << what << ": the blob shows whole";
        EXPECT_LT(PictureCompare::MeanAbsoluteDifference(pictures[1][1], pictures[1][0], diff), 0.01)
            << what << ": the clipped blob does not show";
        EXPECT_GT(Extents(pictures[1][0]).first[100], 0) << what << ": the kept half shows";
    }
}

namespace {
// The main window with the ball open, frames drawn only when asked.
struct Window {
    TMainForm form;

    explicit Window(ScratchFolder& scratch)
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
        // The driver takes the window's size from the swaps of the first frames.
        QTest::qWait(300);
        form.idleTimer->stop();
        OpaqueWhite(form.viewer.transferFunction);
        form.viewer.KeepTransferFunction();
        EXPECT_TRUE(form.OpenVolume(QString::fromStdString(
            WriteBall(scratch, "ball.dat", [](double r, double) { return uint16_t(r <= 21.0 ? 2000 : 0); }))));
        Frame();
    }

    void Frame()
    {
        for (int frames = 0; frames < 100; ++frames) {
            form.DrawFrame();
            if (form.viewer.Converged()) {
                break;
            }
        }
    }

    QWindow* panel() { return form.renderWindow; }

    // Where the frame drew a point of the box, in the panel's units.
    QPointF At(Vec3 p)
    {
        const QVector4D clip = form.viewer.FrameMatrix().map(QVector4D(p.x, p.y, p.z, 1.0f));
        return QPointF(clip.x() / clip.w(), clip.y() / clip.w());
    }

    void Drag(QPoint from, QPoint to)
    {
        QTest::mousePress(panel(), Qt::LeftButton, {}, from);
        for (int i = 1; i <= 10; ++i) {
            QTest::mouseMove(panel(), from + (to - from) * i / 10);
        }
        QTest::mouseRelease(panel(), Qt::LeftButton, {}, to);
        Frame();
    }
};
}  // namespace

// With the crop tool on, a drag that starts on a side's handle moves that
// side by the share of the side the drag covers on the screen, and the page
// shows it in the volume's units; a drag elsewhere turns the view as before.
// The plane's handle moves the plane along its normal, and Ctrl with the
// wheel moves it by a step a notch. The cut survives a change of method.
TEST(CutMouse, DraggingAHandleMovesItsSideOrThePlane)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    Viewer& viewer = w.form.viewer;
    CutPage& page = *w.form.TabSheet3;
    page.CropToolBox->setChecked(true);
    ASSERT_TRUE(viewer.cropTool.on);
    w.Frame();

    // The right side's handle, dragged to where a side at 0.7 would show.
    const Vec3 half = viewer.volumeRenderer->BoxHalfExtents();
    const QPointF handle = w.At(Vec3{half.x, 0.0f, 0.0f});
    const QPointF target = w.At(Vec3{half.x * (2.0f * 0.7f - 1.0f), 0.0f, 0.0f});
    w.Drag(handle.toPoint(), target.toPoint());
    EXPECT_NEAR(viewer.Settings().cut.crop[1], 0.7f, 0.012f);
    EXPECT_NEAR(page.CropSpins[1]->value(), 0.7 * 90.0, 1.1);
    const QQuaternion orientation = viewer.viewControl.orientation;
    EXPECT_TRUE(orientation == QQuaternion()) << "the drag was the handle's";

    // A drag away from the handles turns the view and leaves the box.
    w.Drag(QPoint(20, 20), QPoint(60, 20));
    EXPECT_FALSE(viewer.viewControl.orientation == orientation);
    EXPECT_NEAR(viewer.Settings().cut.crop[1], 0.7f, 0.012f);
    w.form.SpeedButton12->click();
    w.Frame();

    // The plane, placed through the centre facing the viewer: a drag down
    // brings it nearer, keeping more.
    page.ClipPlaneBox->setChecked(true);
    ASSERT_TRUE(viewer.Settings().cut.clip);
    EXPECT_NEAR(viewer.Settings().cut.normal.z, 1.0f, 1e-5f);
    EXPECT_EQ(viewer.Settings().cut.distance, 0.0f);
    w.Frame();
    Vec3 point;
    ASSERT_TRUE(CropTool::HandlePoint(viewer.DrawnCut(), half, CropTool::planeHandle, point));
    const QPoint planeHandle = w.At(point).toPoint();
    w.Drag(planeHandle, planeHandle + QPoint(0, 40));
    EXPECT_NEAR(viewer.Settings().cut.distance, 40 * CropTool::unitsPerPixel, 1e-4f);
    EXPECT_NEAR(page.ClipDistanceSpin->value(), 40 * CropTool::unitsPerPixel, 0.006);

    // Seen from the left the normal lies across the screen: the handle
    // follows the drag along it.
    w.form.SpeedButton10->click();
    w.Frame();
    ASSERT_TRUE(CropTool::HandlePoint(viewer.DrawnCut(), half, CropTool::planeHandle, point));
    const float before = viewer.Settings().cut.distance;
    const QPointF from = w.At(point);
    const QPointF to = w.At(Vec3{point.x, point.y, point.z - 0.3f});
    w.Drag(from.toPoint(), to.toPoint());
    EXPECT_NEAR(viewer.Settings().cut.distance, before - 0.3f, 0.02f);

    const float dragged = viewer.Settings().cut.distance;
    QWheelEvent wheel(QPointF(30, 30), w.panel()->mapToGlobal(QPointF(30, 30)), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w.panel(), &wheel);
    EXPECT_NEAR(viewer.Settings().cut.distance, dragged + 2 * CropTool::wheelStep, 1e-5f);

    // Another method keeps the cut.
    const CutRegion cut = viewer.Settings().cut;
    w.form.RadioButton1->click();
    EXPECT_TRUE(viewer.Settings().cut == cut);
    EXPECT_TRUE(page.ClipPlaneBox->isChecked());
    page.CropResetButton->click();
    EXPECT_FALSE(viewer.Settings().cut.Cropped());
    EXPECT_NEAR(page.CropSpins[1]->value(), 90.0, 1e-6);

    // Another volume opens whole, the plane off and the faces' style kept.
    page.CropSpins[4]->setValue(20.0);
    page.CutFaceBox->setChecked(true);
    EXPECT_NEAR(viewer.Settings().cut.crop[4], 20.0f / 50.0f, 1e-5f);
    ASSERT_TRUE(w.form.OpenVolume(QString::fromStdString(scratch.Path("ball.dat"))));
    EXPECT_FALSE(viewer.Settings().cut.Cuts());
    EXPECT_EQ(viewer.Settings().cut.face, CutRegion::ColorFace);
    EXPECT_FALSE(page.ClipPlaneBox->isChecked());
    EXPECT_EQ(page.CropSpins[4]->value(), 0.0);
}
