// Transfer functions a newcomer can use: the presets draw real scans and
// phantoms, a right drag moves the function and undo brings back the saved
// one, and a Ctrl+click reports the density it points at.
#include <GL/glew.h>

#include "Main.h"

#include <QImage>
#include <QLabel>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVector4D>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Presets.h"
#include "PresetPage.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "TransferFunctionHistory.h"
#include "Transferfunceditor.h"
#include "VolumeRenderer.h"

namespace {
using VR = VolumeRenderer;

std::string SourceFile(const std::string& relative)
{
    const char* source = std::getenv("VOLREN_SOURCE_DIR");
    return std::string(source ? source : "..") + "/" + relative;
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, pixels = 0;
};

Box Outline(const QImage& picture, int threshold = 12)
{
    Box box;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (qGray(picture.pixel(x, y)) > threshold) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
                ++box.pixels;
            }
        }
    }
    return box;
}

// Layers about the centre of a 71 x 63 x 57 box: an outer shell of 1000
// from 20 to 24 voxels, a layer of 2500 from 12 to 16, a core of 3500 within
// 5; air between.
std::string WriteLayers(const ScratchFolder& scratch)
{
    const std::string path = scratch.Path("layers.dat");
    WriteVolume(path, 71, 63, 57, [](uint32_t x, uint32_t y, uint32_t z) {
        const double u = x - 35.0, v = y - 31.0, w = z - 28.0;
        const double r = std::sqrt(u * u + v * v + w * w);
        return uint16_t(r <= 5.0 ? 3500 : (r >= 12.0 && r <= 16.0 ? 2500 : (r >= 20.0 && r <= 24.0 ? 1000 : 0)));
    });
    return path;
}

// A band of one colour, opaque from low to high, clear elsewhere.
void Band(TransferFunction& tf, uint32_t low, uint32_t high)
{
    tf.Clear();
    for (int c = 0; c < 4; ++c) {
        tf.AddSample(c, 0, 0);
        tf.AddSample(c, 0, low - 1);
        tf.AddSample(c, 255, low);
        tf.AddSample(c, 255, high);
        tf.AddSample(c, 0, high + 1);
        tf.AddSample(c, 0, 4096);
    }
}
}  // namespace

TEST(TransferFunctionHistory, StepsBackAndForthAndKnowsTheSavedState)
{
    TransferFunction tf;
    tf.AddSample(3, 10, 100);
    tf.SetModified(false);
    TransferFunctionHistory history;
    EXPECT_TRUE(history.Record(tf));
    EXPECT_FALSE(history.Record(tf)) << "the same state is no step";
    for (int i = 1; i <= 60; ++i) {
        tf.Channel(3)[0].position = uint32_t(100 + i);
        tf.SetModified(true);
        EXPECT_TRUE(history.Record(tf));
    }
    for (int i = 59; i >= 0; --i) {
        ASSERT_TRUE(history.Undo(tf)) << i;
        EXPECT_EQ(tf.Channel(3)[0].position, uint32_t(100 + i));
    }
    EXPECT_FALSE(tf.IsModified()) << "back at the state loaded";
    EXPECT_FALSE(history.Undo(tf));
    ASSERT_TRUE(history.Redo(tf));
    EXPECT_EQ(tf.Channel(3)[0].position, 101u);
    EXPECT_TRUE(tf.IsModified());
    // A new change drops the states undone.
    tf.Channel(3)[0].position = 500;
    EXPECT_TRUE(history.Record(tf));
    EXPECT_FALSE(history.Redo(tf));
    // The oldest states go past the depth.
    for (size_t i = 0; i < TransferFunctionHistory::depth + 10; ++i) {
        tf.Channel(3)[0].position = uint32_t(1000 + i);
        history.Record(tf);
    }
    size_t steps = 0;
    while (history.Undo(tf)) {
        ++steps;
    }
    EXPECT_EQ(steps, TransferFunctionHistory::depth - 1);
}

// Every preset draws the real CT head and a phantom: neither blank nor a
// solid block. "CT bone" shows the skull opaque and the air clear: its
// outline is the box around the bone's voxels as the frame projects them.
TEST(Presets, EveryPresetDrawsTheHeadAndAPhantomAndCtBoneOutlinesTheSkull)
{
    ScratchFolder scratch;
    GLWindow gl(240, 220);
    Viewer& viewer = gl.viewer;
    const std::vector<Preset> presets = Presets::List();
    ASSERT_GE(presets.size(), 10u);
    const char* const names[] = {"CT bone",
                                 "CT skin and bone",
                                 "CT soft tissue",
                                 "CT lung",
                                 "CT vessels with contrast",
                                 "CT maximum intensity",
                                 "MR default",
                                 "MR brain",
                                 "MR maximum intensity",
                                 "Greyscale"};
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(presets[i].name.toStdString(), names[i]);
    }

    for (const std::string& volume : {SourceFile("docs/headsq_ct.nhdr"), WriteLayers(scratch)}) {
        const OpenResult opened = viewer.Open(QString::fromStdString(volume));
        ASSERT_TRUE(opened.opened) << volume << ": " << opened.error.toStdString();
        for (const Preset& preset : presets) {
            const std::string what = volume + " " + preset.name.toStdString();
            QString error;
            ASSERT_TRUE(viewer.ApplyPreset(preset, error)) << what << error.toStdString();
            EXPECT_EQ(viewer.Settings().blend == VR::MaximumIntensity, preset.maximumIntensity) << what;
            const QImage picture = Rested(viewer);
            const Box box = Outline(picture, 3);
            const int area = picture.width() * picture.height();
            EXPECT_GT(box.pixels, area / 100) << what << ": blank";
            // Not one flat block: the lit volume shows levels.
            int darkest = 255, brightest = 0;
            for (int y = box.top; y <= box.bottom; ++y) {
                for (int x = box.left; x <= box.right; ++x) {
                    const int grey = qGray(picture.pixel(x, y));
                    if (grey > 3) {
                        darkest = std::min(darkest, grey);
                        brightest = std::max(brightest, grey);
                    }
                }
            }
            EXPECT_GT(brightest - darkest, 40) << what << ": a solid block";
        }
    }

    // The head again with "CT bone": the bone's voxels (above 200 HU, the
    // CT rule's 1224) projected by the frame bound the outline.
    ASSERT_TRUE(viewer.Open(QString::fromStdString(SourceFile("docs/headsq_ct.nhdr"))).opened);
    EXPECT_TRUE(viewer.Hounsfield());
    Preset bone;
    QString error;
    ASSERT_TRUE(Presets::Find(QStringLiteral("CT bone"), bone));
    ASSERT_TRUE(viewer.ApplyPreset(bone, error));
    const Box drawn = Outline(Rested(viewer));
    const VR& r = *viewer.volumeRenderer;
    std::vector<uint16_t> grid;
    ASSERT_TRUE(r.CopyDensities(grid));
    const Vec3 half = r.BoxHalfExtents();
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (uint32_t z = 0; z < r.GetDimZ(); ++z) {
        for (uint32_t y = 0; y < r.GetDimY(); ++y) {
            for (uint32_t x = 0; x < r.GetDimX(); ++x) {
                if (grid[(uint64_t(z) * r.texDimY + y) * r.texDimX + x] < 1300) {
                    continue;
                }
                const QVector4D p((2.0f * (x + 0.5f) / r.GetDimX() - 1.0f) * half.x,
                                  (2.0f * (y + 0.5f) / r.GetDimY() - 1.0f) * half.y,
                                  (2.0f * (z + 0.5f) / r.GetDimZ() - 1.0f) * half.z, 1.0f);
                const QVector4D clip = viewer.FrameMatrix().map(p);
                left = std::min(left, double(clip.x() / clip.w()));
                right = std::max(right, double(clip.x() / clip.w()));
                top = std::min(top, double(clip.y() / clip.w()));
                bottom = std::max(bottom, double(clip.y() / clip.w()));
            }
        }
    }
    // Voxel centres lie half a voxel inside the bone's edge.
    const double voxel = 0.5 * (right - left) / r.GetDimX() + 1.5;
    EXPECT_NEAR(drawn.left, left, voxel + 2.0);
    EXPECT_NEAR(drawn.right, right, voxel + 2.0);
    EXPECT_NEAR(drawn.top, top, voxel + 2.0);
    EXPECT_NEAR(drawn.bottom, bottom, voxel + 2.0);
    // The air around the head is clear.
    const QImage picture = Rested(viewer);
    EXPECT_EQ(qGray(picture.pixel(2, 2)), 0);
}

namespace {
struct Window {
    TMainForm form;

    explicit Window(ScratchFolder&)
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
        QTest::qWait(300);
        form.idleTimer->stop();
        // Shortcuts reach the active window.
        form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
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
    QPoint centre() { return QPoint(panel()->width() / 2, panel()->height() / 2); }
};
}  // namespace

// A right drag of 64 pixels to the right moves every point by 64 / 512 of
// the volume's largest density; down widens the function about its middle.
// Undo steps back through the drags to the loaded file, byte for byte, and
// the close prompt knows it is saved.
TEST(PresetsMouse, RightDragMovesTheFunctionAndUndoRestoresTheSavedFile)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    TMainForm& form = w.form;
    ASSERT_TRUE(form.OpenVolume(QString::fromStdString(WriteLayers(scratch))));
    const std::string saved = scratch.Path("band.tf");
    {
        TransferFunction tf;
        Band(tf, 2400, 2600);
        ASSERT_TRUE(tf.Save(saved.c_str()));
    }
    ASSERT_TRUE(form.viewer.LoadTransferFunction(QString::fromStdString(saved)));
    form.OnIdle();
    const TransferFunctionHistory::State loaded = TransferFunctionHistory::StateOf(form.viewer.transferFunction);
    const double maxDensity = form.viewer.volumeRenderer->GetMaxDensity();

    QTest::mousePress(w.panel(), Qt::RightButton, {}, w.centre());
    for (int i = 1; i <= 8; ++i) {
        QTest::mouseMove(w.panel(), w.centre() + QPoint(8 * i, 0));
    }
    QTest::mouseRelease(w.panel(), Qt::RightButton, {}, w.centre() + QPoint(64, 0));
    form.OnIdle();
    const double shift = 64.0 * maxDensity * WindowLevel::shiftPerPixel;
    for (int c = 0; c < 4; ++c) {
        const auto& now = form.viewer.transferFunction.Channel(c);
        ASSERT_EQ(now.size(), loaded[size_t(c)].size());
        for (size_t i = 1; i + 1 < now.size(); ++i) {
            EXPECT_NEAR(double(now[i].position), double(loaded[size_t(c)][i].position) + shift, 1.0);
        }
    }
    EXPECT_TRUE(form.viewer.transferFunction.IsModified());

    // Down by 150 pixels doubles the band's width about its middle.
    const auto before = form.viewer.transferFunction.Channel(3);
    QTest::mousePress(w.panel(), Qt::RightButton, {}, w.centre());
    QTest::mouseMove(w.panel(), w.centre() + QPoint(0, 75));
    QTest::mouseMove(w.panel(), w.centre() + QPoint(0, 150));
    QTest::mouseRelease(w.panel(), Qt::RightButton, {}, w.centre() + QPoint(0, 150));
    form.OnIdle();
    const auto& widened = form.viewer.transferFunction.Channel(3);
    EXPECT_NEAR(double(widened[3].position - widened[2].position), 2.0 * (before[3].position - before[2].position),
                1.0);

    // Ctrl+Z twice: the file as loaded, saved again byte for byte.
    QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_FALSE(form.viewer.transferFunction.IsModified()) << "the close prompt would ask";
    const std::string again = scratch.Path("again.tf");
    ASSERT_TRUE(form.viewer.transferFunction.Save(again.c_str()));
    EXPECT_EQ(ReadFile(again), ReadFile(saved));
    // Ctrl+Shift+Z steps forward again.
    QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_NEAR(double(form.viewer.transferFunction.Channel(3)[2].position), 2400.0 + shift, 1.0);
    EXPECT_TRUE(form.viewer.transferFunction.IsModified());
}

// Ctrl+click at the panel's centre reports the first density the function
// shows along the ray, within 2 %, in the page's line; with a function that
// shows nothing, the densest sample along the ray (the core). A preset
// clicked in the list applies.
TEST(PresetsMouse, CtrlClickReportsTheDensityOfTheLayerAndAPresetApplies)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    TMainForm& form = w.form;
    ASSERT_TRUE(form.OpenVolume(QString::fromStdString(WriteLayers(scratch))));
    Band(form.viewer.transferFunction, 2470, 2530);
    form.viewer.KeepTransferFunction();
    form.viewer.UpdateTransferFunction();
    w.Frame();

    QTest::mouseClick(w.panel(), Qt::LeftButton, Qt::ControlModifier, w.centre());
    const Pick layer = form.viewer.PickAt(w.centre());
    ASSERT_TRUE(layer.hit && layer.shows);
    EXPECT_NEAR(layer.density, 2500.0f, 50.0f);
    // The layer's near side: 12 to 16 voxels in front of the centre.
    EXPECT_NEAR(layer.voxel.z, 28.5f + 16.0f, 1.0f);
    EXPECT_TRUE(form.TabSheet4->PickLabel->text().startsWith(QStringLiteral("Density 2")))
        << form.TabSheet4->PickLabel->text().toStdString();
    EXPECT_TRUE(form.TabSheet4->AddPointButton->isEnabled());

    Band(form.viewer.transferFunction, 3900, 4000);
    form.viewer.UpdateTransferFunction();
    w.Frame();
    const Pick core = form.viewer.PickAt(w.centre());
    ASSERT_TRUE(core.hit);
    EXPECT_FALSE(core.shows);
    EXPECT_NEAR(core.density, 3500.0f, 70.0f);

    // "Greyscale" from the list, then undone.
    const auto before = TransferFunctionHistory::StateOf(form.viewer.transferFunction);
    form.OnIdle();
    const QList<QListWidgetItem*> items =
        form.TabSheet4->PresetList->findItems(QStringLiteral("Greyscale"), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    emit form.TabSheet4->PresetList->itemClicked(items.front());
    EXPECT_FALSE(TransferFunctionHistory::Same(TransferFunctionHistory::StateOf(form.viewer.transferFunction), before));
    form.OnIdle();
    QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(TransferFunctionHistory::Same(TransferFunctionHistory::StateOf(form.viewer.transferFunction), before));
}

// The editor lists the presets too, and Ctrl+Z undoes there as in the
// window.
TEST(PresetsMouse, TheEditorAppliesPresetsAndUndoes)
{
    ScratchFolder scratch;
    EnsureApplication();
    TTransferFuncEditForm editor;
    TMainForm form(&editor);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
    QTest::qWait(300);
    form.idleTimer->stop();
    ASSERT_TRUE(form.OpenVolume(QString::fromStdString(WriteLayers(scratch))));
    form.OnIdle();
    const auto before = TransferFunctionHistory::StateOf(form.viewer.transferFunction);

    editor.SetTransferFunction(&form.viewer.transferFunction);
    editor.ShowPresets();
    ASSERT_GE(editor.PresetBox->count(), 11);
    EXPECT_EQ(editor.PresetBox->itemText(1), QStringLiteral("CT bone"));
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    emit editor.PresetBox->activated(editor.PresetBox->findText(QStringLiteral("MR maximum intensity")));
    EXPECT_EQ(form.viewer.Settings().blend, VR::MaximumIntensity);
    EXPECT_FALSE(TransferFunctionHistory::Same(TransferFunctionHistory::StateOf(form.viewer.transferFunction), before));
    EXPECT_EQ(editor.PresetBox->currentIndex(), 0);
    form.OnIdle();
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(TransferFunctionHistory::Same(TransferFunctionHistory::StateOf(form.viewer.transferFunction), before));
    editor.hide();
}
