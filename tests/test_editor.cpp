#include "Display.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "DrawingSurface.h"
#include "SpinEdit.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "Transferfunceditor.h"
#include "VolumeRenderer.h"

namespace {
constexpr int originX = 40;
constexpr int originY = 449;
constexpr int surfaceWidth = 643;
// The plot's last column: the high end of the density axis.
constexpr int rightEdge = surfaceWidth - 41;
// The fixture's histogram spans densities 0 to 562: one per column.
constexpr uint32_t fixtureHigh = 562;

const QColor white(255, 255, 255);
const QColor black(0, 0, 0);
const QColor histogramGrey(204, 204, 204);
const QColor dotGrey(128, 128, 128);
const QColor channelColors[4] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255), QColor(0, 0, 0)};
const QColor markerColor(255, 0, 255);

// One point per channel inside the visible area, apart from each other.
void SpreadFunction(TransferFunction& tf)
{
    tf.Clear();
    tf.AddSample(0, 200, 100);
    tf.AddSample(0, 180, 150);
    tf.AddSample(1, 150, 200);
    tf.AddSample(1, 130, 250);
    tf.AddSample(2, 100, 300);
    tf.AddSample(2, 80, 350);
    tf.AddSample(3, 50, 400);
    tf.AddSample(3, 30, 450);
}

struct Editor {
    TransferFunction tf;
    std::vector<uint32_t> histogram = std::vector<uint32_t>(4097, 0);
    TTransferFuncEditForm form;

    explicit Editor(bool withHistogram = true)
    {
        SpreadFunction(tf);
        histogram[0] = 1;
        histogram[100] = 5000;
        histogram[101] = 50;
        histogram[150] = 100000;
        histogram[fixtureHigh] = 1;
        form.SetTransferFunction(&tf);
        if (withHistogram) {
            form.SetHistogram(histogram.data(), fixtureHigh);
        }
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    QColor At(int x, int y) const { return form.Image1->picture.pixelColor(x, y); }

    QPoint PointOf(int channel, int index) const
    {
        const auto p = form.SampleToPixel(tf.Channel(channel)[index]);
        return QPoint(int(p.x), int(p.y));
    }

    // A move with no button held, as the surface gets it while hovering.
    void Hover(QPoint pos)
    {
        QMouseEvent move(QEvent::MouseMove, pos, form.Image1->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(form.Image1, &move);
    }

    void Press(QPoint pos) { QTest::mousePress(form.Image1, Qt::LeftButton, Qt::NoModifier, pos); }
    void Release(QPoint pos) { QTest::mouseRelease(form.Image1, Qt::LeftButton, Qt::NoModifier, pos); }
    void Drag(QPoint pos) { QTest::mouseMove(form.Image1, pos); }
    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void Type(SpinEdit* field, const char* text)
    {
        field->selectAll();
        QTest::keyClicks(field, QString::fromLatin1(text));
        QTest::keyClick(field, Qt::Key_Return);
    }

    Qt::CursorShape Cursor() const { return form.Image1->cursor().shape(); }

    // Histogram pixels in a column, also where a curve crosses the bar.
    int GreyIn(int x) const
    {
        int n = 0;
        for (int y = 0; y < originY; ++y) {
            n += At(x, y) == histogramGrey;
        }
        return n;
    }

    // A bar's height in rows; its lowest row lies under the axis.
    int BarHeight(int x) const
    {
        int h = 0;
        while (h < originY && At(x, originY - 1 - h) == histogramGrey) {
            ++h;
        }
        return h == 0 ? 0 : h + 1;
    }

    int CountColor(const QColor& color, int top, int bottom) const
    {
        int n = 0;
        for (int y = top; y <= bottom; ++y) {
            for (int x = 0; x < surfaceWidth; ++x) {
                n += At(x, y) == color;
            }
        }
        return n;
    }

    // The filled disc around a point, away from the lines through its centre.
    bool DiscAt(QPoint p, const QColor& color) const
    {
        return At(p.x() - 2, p.y() - 1) == color && At(p.x() + 1, p.y() + 2) == color &&
               At(p.x() + 2, p.y() - 1) == color && At(p.x() - 1, p.y() + 2) == color;
    }
};

// The height of the 255 line times the share of the highest bin.
int LogHeight(uint32_t count, uint32_t peak) { return int(std::log1p(double(count)) / std::log1p(double(peak)) * 255); }

}  // namespace

TEST(Editor, LayoutAndStartState)
{
    EnsureApplication();
    Editor e;
    EXPECT_EQ(e.form.windowTitle(), QStringLiteral("Transfer Function Editor"));
    EXPECT_EQ(e.form.size(), QSize(792, 573));
    EXPECT_EQ(e.form.Image1->geometry(), QRect(2, 2, 643, 569));
    EXPECT_EQ(e.form.Image1->picture.size(), QSize(643, 569));
    EXPECT_EQ(e.form.originY, originY);
    EXPECT_EQ(e.Cursor(), Qt::CrossCursor);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 1);
    EXPECT_EQ(e.form.CSpinEdit2->value(), 100);
    EXPECT_EQ(e.form.histogramScale, 100);
    EXPECT_TRUE(e.form.LogCheckBox->isChecked());
    EXPECT_EQ(e.form.LogCheckBox->text(), QStringLiteral("Logarithmic histogram"));
    EXPECT_FALSE(e.form.AxisScrollBar->isEnabled());
    EXPECT_EQ(e.form.markedDensity, -1);
    for (QPushButton* b :
         {e.form.SpeedButton3, e.form.SpeedButton4, e.form.SpeedButton5, e.form.SpeedButton6, e.form.SpeedButton7}) {
        EXPECT_TRUE(b->isCheckable());
        EXPECT_FALSE(b->isChecked());
    }
    // The curves show from the start.
    for (QCheckBox* b : {e.form.RedCheckBox, e.form.GreenCheckBox, e.form.BlueCheckBox, e.form.AlphaCheckBox}) {
        EXPECT_TRUE(b->isChecked());
    }
}

TEST(Editor, FirstShowingDrawsAxesHistogramColourBarAndEveryChannel)
{
    EnsureApplication();
    Editor e;
    EXPECT_EQ(e.form.rangeLow, 0);
    EXPECT_EQ(e.form.rangeHigh, int(fixtureHigh));

    // Axes with their arrow heads; the lines stop short of their end points.
    EXPECT_EQ(e.At(originX, originY), black);
    EXPECT_EQ(e.At(300, originY), black);
    EXPECT_EQ(e.At(surfaceWidth - 41, originY), black);
    EXPECT_EQ(e.At(originX, 300), black);
    EXPECT_EQ(e.At(originX, 41), black);
    EXPECT_EQ(e.At(surfaceWidth - 20, originY), black);
    EXPECT_EQ(e.At(surfaceWidth - 40, originY - 5), black);
    EXPECT_EQ(e.At(surfaceWidth - 40, originY + 5), black);
    EXPECT_EQ(e.At(surfaceWidth - 30, originY), white);
    EXPECT_EQ(e.At(originX, 20), black);
    EXPECT_EQ(e.At(originX - 5, 40), black);
    EXPECT_EQ(e.At(originX, 30), white);

    // Dotted at value 255, from two pixels left of the axis.
    const int y255 = originY - 255;
    EXPECT_EQ(e.At(originX - 2, y255), dotGrey);
    EXPECT_EQ(e.At(originX - 1, y255), white);
    EXPECT_EQ(e.At(surfaceWidth - 41, y255), dotGrey);
    EXPECT_EQ(e.At(surfaceWidth - 40, y255), white);
    int dots = 0;
    for (int x = 0; x < surfaceWidth; ++x) {
        dots += e.At(x, y255) == dotGrey;
    }
    EXPECT_EQ(dots, (surfaceWidth - 40 - (originX - 2) + 1) / 2);

    // Logarithmic histogram, one density per column: the highest bin (at 150)
    // reaches the 255 line, the others their share of its logarithm.
    EXPECT_EQ(e.BarHeight(140), LogHeight(5000, 100000));
    EXPECT_EQ(e.BarHeight(141), LogHeight(50, 100000));
    EXPECT_EQ(e.At(190, originY - 254), histogramGrey);
    EXPECT_EQ(e.BarHeight(142), 0);
    // The bins at both ends of the range are drawn.
    EXPECT_EQ(e.BarHeight(rightEdge), LogHeight(1, 100000));
    EXPECT_GT(e.BarHeight(rightEdge), 10);

    // Every channel's points.
    for (int c = 0; c < 4; ++c) {
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(e.DiscAt(e.PointOf(c, i), channelColors[c])) << c << " " << i;
        }
    }
}

TEST(Editor, NoHistogramNoBarsAndTheAxisSpans0To4095)
{
    EnsureApplication();
    Editor e(false);
    EXPECT_EQ(e.CountColor(histogramGrey, 0, originY), 0);
    EXPECT_EQ(e.At(300, originY), black);
    EXPECT_EQ(e.form.rangeLow, 0);
    EXPECT_EQ(e.form.rangeHigh, 4095);
    e.tf.AddSample(0, 100, 4095);
    e.form.FunctionChanged();
    const QPoint last = e.PointOf(0, 2);
    EXPECT_EQ(last.x(), rightEdge);
    EXPECT_TRUE(e.DiscAt(last, channelColors[0]));
}

TEST(Editor, UntickingAChannelHidesItsPointsAndTickingShowsThem)
{
    EnsureApplication();
    Editor e;
    QCheckBox* boxes[4] = {e.form.RedCheckBox, e.form.GreenCheckBox, e.form.BlueCheckBox, e.form.AlphaCheckBox};
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(e.DiscAt(e.PointOf(c, 0), channelColors[c])) << c;
        e.Click(boxes[c]);
        EXPECT_FALSE(boxes[c]->isChecked());
        EXPECT_FALSE(e.DiscAt(e.PointOf(c, 0), channelColors[c])) << c;
    }
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(e.CountColor(channelColors[c], 0, originY + 19), 0) << "channel " << c;
    }
    // With no channel shown nothing can be picked.
    e.Hover(e.PointOf(0, 0));
    EXPECT_EQ(e.form.selectedSample, nullptr);
    EXPECT_EQ(e.Cursor(), Qt::CrossCursor);

    for (int c = 0; c < 4; ++c) {
        e.Click(boxes[c]);
        EXPECT_TRUE(boxes[c]->isChecked());
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(e.DiscAt(e.PointOf(c, i), channelColors[c])) << c << " " << i;
        }
        // The line between the two points.
        const QPoint a = e.PointOf(c, 0), b = e.PointOf(c, 1);
        EXPECT_EQ(e.At((a.x() + b.x()) / 2, (a.y() + b.y()) / 2), channelColors[c]) << c;
        // Later channels are not drawn yet.
        for (int later = c + 1; later < 3; ++later) {
            EXPECT_EQ(e.CountColor(channelColors[later], 0, originY + 19), 0);
        }
    }
    e.Click(e.form.GreenCheckBox);
    EXPECT_EQ(e.CountColor(channelColors[1], 0, originY + 19), 0);
    EXPECT_TRUE(e.DiscAt(e.PointOf(0, 0), channelColors[0]));
}

TEST(Editor, HoverPicksWithinThreePixelsRedOverGreenOverBlueOverAlpha)
{
    EnsureApplication();
    Editor e;
    for (int c = 0; c < 4; ++c) {
        e.tf.AddSample(c, 100, 500);
    }
    auto shared = [&](int c) {
        for (auto& s : e.tf.Channel(c)) {
            if (s.position == 500) {
                return &s;
            }
        }
        return static_cast<TransferFunction::Sample*>(nullptr);
    };
    const QPoint p(originX + 500, originY - 100);
    e.Hover(p + QPoint(3, -3));
    EXPECT_EQ(e.form.selectedSample, shared(0));
    EXPECT_EQ(e.Cursor(), Qt::PointingHandCursor);
    e.Hover(p + QPoint(-3, 3));
    EXPECT_EQ(e.form.selectedSample, shared(0));
    for (QPoint off : {QPoint(4, 0), QPoint(-4, 0), QPoint(0, 4), QPoint(0, -4)}) {
        e.Hover(p + off);
        EXPECT_EQ(e.form.selectedSample, nullptr) << off.x() << "," << off.y();
        EXPECT_EQ(e.Cursor(), Qt::CrossCursor);
    }

    e.Click(e.form.RedCheckBox);
    e.Hover(p);
    EXPECT_EQ(e.form.selectedSample, shared(1));
    e.Click(e.form.GreenCheckBox);
    e.Hover(p);
    EXPECT_EQ(e.form.selectedSample, shared(2));
    e.Click(e.form.BlueCheckBox);
    e.Hover(p);
    EXPECT_EQ(e.form.selectedSample, shared(3));
    e.Click(e.form.AlphaCheckBox);
    e.Hover(p);
    EXPECT_EQ(e.form.selectedSample, nullptr);
}

TEST(Editor, HoverShowsThePointsDensityAndValueOrTheDensityUnderTheCursor)
{
    EnsureApplication();
    Editor e;
    EXPECT_TRUE(e.form.HoverLabel->text().isEmpty());
    e.Hover(e.PointOf(1, 0) + QPoint(2, -1));
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 200, Green 150"));
    e.Hover(e.PointOf(3, 1));
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 450, Alpha 30"));
    e.Hover(QPoint(originX + 250, 100));
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 250"));
    e.Hover(QPoint(originX - 30, 100));
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 0"));

    // Another volume: 2000 densities over the 562 columns.
    std::fill(e.histogram.begin(), e.histogram.end(), 0u);
    e.histogram[1000] = 10;
    e.histogram[3000] = 10;
    e.form.SetHistogram(e.histogram.data(), 3000);
    e.Hover(QPoint(originX + 300, 100));
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 2068"));

    // While a point is dragged, the label follows it.
    e.tf.AddSample(3, 90, 2200);
    e.form.FunctionChanged();
    const QPoint p = e.PointOf(3, 2);
    e.Hover(p);
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 2200, Alpha 90"));
    e.Press(p);
    e.Drag(QPoint(originX + 300, originY - 40));
    EXPECT_EQ(e.form.HoverLabel->text(), QStringLiteral("Density 2068, Alpha 40"));
    e.Release(QPoint(originX + 300, originY - 40));
}

TEST(Editor, AddingAPointClampsItsValueAndPosition)
{
    EnsureApplication();
    Editor e;
    e.tf.SetModified(false);

    e.Click(e.form.SpeedButton4);
    EXPECT_TRUE(e.form.SpeedButton4->isChecked());
    EXPECT_EQ(e.form.editMode, 1);
    // Below the horizontal axis, on the colour bar.
    e.Press(QPoint(originX + 220, originY + 50));
    e.Release(QPoint(originX + 220, originY + 50));
    EXPECT_FALSE(e.form.SpeedButton4->isChecked());
    EXPECT_EQ(e.form.editMode, 0);
    EXPECT_EQ(e.form.addButton, nullptr);
    EXPECT_FALSE(e.form.dragging);
    EXPECT_TRUE(e.tf.IsModified());
    ASSERT_EQ(e.tf.SampleCount(1), 3u);
    EXPECT_EQ(e.tf.Channel(1)[1].position, 220u);
    EXPECT_EQ(e.tf.Channel(1)[1].value, 0);

    // Above the 255 line and left of the vertical axis.
    e.Click(e.form.SpeedButton6);
    e.Press(QPoint(10, 60));
    EXPECT_EQ(e.tf.Channel(3)[0].position, 0u);
    EXPECT_EQ(e.tf.Channel(3)[0].value, 255);
    e.Release(QPoint(10, 60));

    // A press in mode 0 away from any point does nothing.
    e.Press(QPoint(500, 100));
    e.Release(QPoint(500, 100));
    EXPECT_EQ(e.tf.SampleCount(3), 3u);
}

TEST(Editor, DraggingClampsAndDoesNotReSort)
{
    EnsureApplication();
    Editor e;
    e.tf.SetModified(false);
    TransferFunction::Sample* first = &e.tf.Channel(1)[0];

    const QPoint start = e.PointOf(1, 0);
    e.Hover(start + QPoint(1, 1));
    ASSERT_EQ(e.form.selectedSample, first);
    e.Press(start + QPoint(1, 1));
    EXPECT_TRUE(e.form.dragging);

    e.Drag(QPoint(originX + 400, originY - 20));
    EXPECT_EQ(first->position, 400u);
    EXPECT_EQ(first->value, 20);
    EXPECT_TRUE(e.tf.IsModified());
    // Past its neighbour at 250, still stored first.
    EXPECT_EQ(&e.tf.Channel(1)[0], first);
    EXPECT_EQ(e.tf.Channel(1)[1].position, 250u);
    EXPECT_TRUE(e.DiscAt(QPoint(originX + 400, originY - 20), channelColors[1]));

    e.Drag(QPoint(originX - 30, originY + 60));
    EXPECT_EQ(first->position, 0u);
    EXPECT_EQ(first->value, 0);
    e.Drag(QPoint(originX + 10, 5));
    EXPECT_EQ(first->value, 255);
    e.Drag(QPoint(originX + 5000, originY - 1));
    EXPECT_EQ(first->position, 5000u);
    EXPECT_EQ(first->value, 1);

    e.Release(QPoint(originX + 5000, originY - 1));
    EXPECT_FALSE(e.form.dragging);
    e.Hover(QPoint(originX + 100, originY - 100));
    EXPECT_EQ(first->position, 5000u);
}

TEST(Editor, APointLandsOnTheDensityUnderTheCursorAtEveryScale)
{
    EnsureApplication();
    Editor e;
    std::fill(e.histogram.begin(), e.histogram.end(), 0u);
    e.histogram[1000] = 10;
    e.histogram[3000] = 10;
    e.form.SetHistogram(e.histogram.data(), 3000);
    auto column = [&](int64_t density) {
        return e.form.SampleToPixel(TransferFunction::Sample{0, uint32_t(density)}).x;
    };

    // The whole range, 2000 densities over 562 columns: every column's density
    // is drawn in that very column.
    for (int x = originX; x <= rightEdge; ++x) {
        ASSERT_EQ(column(e.form.PixelToSample(x, 0).position), x) << x;
    }
    e.tf.AddSample(1, 100, 2000);
    e.form.FunctionChanged();
    const QPoint green = e.PointOf(1, 2);
    EXPECT_EQ(green, QPoint(originX + 281, originY - 100));
    e.Hover(green);
    e.Press(green);
    e.Drag(QPoint(originX + 400, originY - 77));
    e.Release(QPoint(originX + 400, originY - 77));
    // 400 columns are 1423.49 densities: the nearest is 1423.
    EXPECT_EQ(e.tf.Channel(1)[2].position, 2423u);
    EXPECT_EQ(e.tf.Channel(1)[2].value, 77);
    EXPECT_TRUE(e.DiscAt(QPoint(originX + 400, originY - 77), channelColors[1]));

    // Zoomed eight times around the middle (density 2000): 250 densities,
    // from 1875 on; a density spans 2.248 columns and each maps back to itself.
    e.Type(e.form.CSpinEdit1, "8");
    EXPECT_EQ(e.form.axisStart, 1875);
    for (int64_t d = 1875; d <= 2125; ++d) {
        ASSERT_EQ(e.form.PixelToSample(int(column(d)), 0).position, d) << d;
    }
    e.Click(e.form.SpeedButton4);
    e.Press(QPoint(originX + 225, originY - 60));
    e.Release(QPoint(originX + 225, originY - 60));
    ASSERT_EQ(e.tf.SampleCount(1), 4u);
    EXPECT_EQ(e.tf.Channel(1)[2].position, 1975u);
    EXPECT_EQ(e.tf.Channel(1)[2].value, 60);
    EXPECT_EQ(e.PointOf(1, 2), QPoint(originX + 225, originY - 60));
    EXPECT_TRUE(e.DiscAt(QPoint(originX + 225, originY - 60), channelColors[1]));

    // Scrolled a page on: the point at 1975 leaves the plot, one at 2200
    // stands where its density is.
    e.form.AxisScrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(e.form.axisStart, 2125);
    EXPECT_LT(e.PointOf(1, 2).x(), 0);
    e.tf.AddSample(2, 30, 2200);
    e.form.FunctionChanged();
    const QPoint blue = e.PointOf(2, 2);
    EXPECT_EQ(blue, QPoint(originX + 169, originY - 30));
    EXPECT_TRUE(e.DiscAt(blue, channelColors[2]));
    e.Hover(blue + QPoint(1, 0));
    ASSERT_NE(e.form.selectedSample, nullptr);
    EXPECT_EQ(e.form.selectedSample->position, 2200u);
    e.Press(blue + QPoint(1, 0));
    e.Drag(QPoint(originX + 170, originY - 30));
    e.Release(QPoint(originX + 170, originY - 30));
    EXPECT_EQ(e.tf.Channel(2)[2].position, 2201u);
}

TEST(Editor, RemovingLeavesTheModifiedMark)
{
    EnsureApplication();
    Editor e;
    e.tf.SetModified(false);
    const uint32_t kept = e.tf.Channel(2)[1].position;

    e.Click(e.form.SpeedButton7);
    EXPECT_TRUE(e.form.SpeedButton7->isChecked());
    EXPECT_EQ(e.form.editMode, 2);
    // Nothing under the cursor: nothing happens and the mode stays.
    e.Hover(QPoint(500, 100));
    e.Press(QPoint(500, 100));
    e.Release(QPoint(500, 100));
    EXPECT_EQ(e.form.editMode, 2);
    EXPECT_EQ(e.tf.SampleCount(2), 2u);

    const QPoint p = e.PointOf(2, 0);
    e.Hover(p);
    e.Press(p);
    e.Release(p);
    ASSERT_EQ(e.tf.SampleCount(2), 1u);
    EXPECT_EQ(e.tf.Channel(2)[0].position, kept);
    EXPECT_FALSE(e.tf.IsModified());
    EXPECT_FALSE(e.form.SpeedButton7->isChecked());
    EXPECT_EQ(e.form.editMode, 0);
    EXPECT_EQ(e.form.selectedSample, nullptr);
    EXPECT_FALSE(e.form.dragging);
    EXPECT_FALSE(e.DiscAt(p, channelColors[2]));
}

TEST(Editor, ToggleButtonsAndTheirGroups)
{
    EnsureApplication();
    Editor e;
    auto& f = e.form;
    e.Click(f.SpeedButton3);
    e.Click(f.SpeedButton3);
    EXPECT_TRUE(f.SpeedButton3->isChecked());
    EXPECT_EQ(f.editMode, 1);
    EXPECT_EQ(f.addButton, f.SpeedButton3);

    e.Click(f.SpeedButton5);
    EXPECT_FALSE(f.SpeedButton3->isChecked());
    EXPECT_TRUE(f.SpeedButton5->isChecked());
    EXPECT_EQ(f.addButton, f.SpeedButton5);

    // "Remove" leaves a pressed blue button pressed and the chosen channel.
    e.Click(f.SpeedButton7);
    EXPECT_EQ(f.editMode, 2);
    EXPECT_TRUE(f.SpeedButton7->isChecked());
    EXPECT_TRUE(f.SpeedButton5->isChecked());
    EXPECT_EQ(f.addButton, f.SpeedButton5);

    // Red and "Remove" release each other.
    e.Click(f.SpeedButton3);
    EXPECT_TRUE(f.SpeedButton3->isChecked());
    EXPECT_FALSE(f.SpeedButton7->isChecked());
    EXPECT_EQ(f.editMode, 1);
    e.Click(f.SpeedButton7);
    EXPECT_FALSE(f.SpeedButton3->isChecked());
    EXPECT_EQ(f.editMode, 2);
}

TEST(Editor, DensityAxisZoomsAroundTheMiddleAndWholeRangeGoesBack)
{
    EnsureApplication();
    Editor e;
    e.tf.AddSample(0, 100, 281);
    e.form.FunctionChanged();
    e.Type(e.form.CSpinEdit1, "4");
    EXPECT_EQ(e.form.pixelsX, 4 * 562);
    EXPECT_EQ(e.form.unitsX, 562);
    // A quarter of the range around the middle density, four columns a density.
    EXPECT_EQ(e.form.axisStart, 281 - 70);
    const QPoint middle = e.PointOf(0, 2);
    EXPECT_EQ(middle.x(), originX + 4 * 70);
    EXPECT_TRUE(e.DiscAt(middle, channelColors[0]));
    EXPECT_EQ(e.form.SampleToPixel(TransferFunction::Sample{0, 282}).x, middle.x() + 4);
    ASSERT_TRUE(e.form.AxisScrollBar->isEnabled());
    EXPECT_EQ(e.form.AxisScrollBar->maximum(), 562 - 140);
    EXPECT_EQ(e.form.AxisScrollBar->value(), 281 - 70);

    // Scrolled to its end, the highest density stands at the right edge.
    e.form.AxisScrollBar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(e.form.axisStart, 562 - 140);
    EXPECT_NEAR(e.form.SampleToPixel(TransferFunction::Sample{0, fixtureHigh}).x, rightEdge, 2);
    EXPECT_EQ(e.BarHeight(int(e.form.SampleToPixel(TransferFunction::Sample{0, fixtureHigh}).x)), LogHeight(1, 100000));

    e.Click(e.form.WholeRangeButton);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 1);
    EXPECT_EQ(e.form.pixelsX, 562);
    EXPECT_EQ(e.form.axisStart, 0);
    EXPECT_FALSE(e.form.AxisScrollBar->isEnabled());
    EXPECT_TRUE(e.DiscAt(QPoint(originX + 281, originY - 100), channelColors[0]));

    // Arrows stay in 1 to 100; a typed value is taken as it is.
    e.Type(e.form.CSpinEdit1, "100");
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Up);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 100);
    e.Type(e.form.CSpinEdit1, "150");
    EXPECT_EQ(e.form.pixelsX, 150 * 562);
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Up);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 150);
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Down);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 100);
    EXPECT_EQ(e.form.pixelsX, 100 * 562);
}

TEST(Editor, DensityAxisBelowOneIsRefused)
{
    EnsureApplication();
    Editor e;
    e.Type(e.form.CSpinEdit1, "8");
    const QImage before = e.form.Image1->picture.copy();

    struct Case {
        const char* typed;
        int kept;  // digit by digit, the last keystroke is the refused one
    };
    for (const Case& c : {Case{"0", 8}, Case{"-3", 8}, Case{"20000000", 2000000}}) {
        e.Type(e.form.CSpinEdit1, "8");
        QString shown;
        WhenModalOpens([&shown](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            shown = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        e.Type(e.form.CSpinEdit1, c.typed);
        EXPECT_EQ(shown, QStringLiteral("Invalid value!")) << c.typed;
        EXPECT_EQ(e.form.pixelsX, c.kept * 562) << c.typed;
        EXPECT_EQ(e.form.CSpinEdit1->value(), c.kept) << c.typed;
        EXPECT_TRUE(e.form.isVisible());
        if (c.kept == 8) {
            EXPECT_TRUE(e.form.Image1->picture == before) << c.typed;
        }
    }

    // Text that is no integer becomes the minimum.
    e.form.CSpinEdit1->selectAll();
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Delete);
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Return);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 1);
    EXPECT_EQ(e.form.pixelsX, 562);
}

TEST(Editor, HistogramHeightFollowsCSpinEdit2InPercentOfThe255Line)
{
    EnsureApplication();
    Editor e;
    // No curves over the bars.
    e.tf.Clear();
    e.form.FunctionChanged();
    e.Click(e.form.LogCheckBox);
    EXPECT_FALSE(e.form.LogCheckBox->isChecked());

    // Linear: the highest bin (100000 voxels) reaches the 255 line.
    EXPECT_EQ(e.BarHeight(190), 255);
    EXPECT_EQ(e.BarHeight(140), 12);  // 5000 voxels: 12.75 rows
    EXPECT_EQ(e.BarHeight(141), 0);   // 50 voxels

    e.Type(e.form.CSpinEdit2, "1000");
    EXPECT_EQ(e.form.histogramScale, 1000);
    EXPECT_EQ(e.BarHeight(140), 127);
    // 2550 rows: the whole column, cut by the dotted line.
    EXPECT_EQ(e.At(190, originY - 255), dotGrey);
    EXPECT_EQ(e.At(190, 0), histogramGrey);
    EXPECT_EQ(e.At(190, originY - 256), histogramGrey);

    e.Type(e.form.CSpinEdit2, "50");
    EXPECT_EQ(e.BarHeight(190), 127);

    // A scale of 0 or below counts as 1 percent.
    e.Type(e.form.CSpinEdit2, "-5");
    EXPECT_EQ(e.form.histogramScale, -5);
    EXPECT_EQ(e.BarHeight(190), 2);
    e.Type(e.form.CSpinEdit2, "0");
    EXPECT_EQ(e.BarHeight(190), 2);
    EXPECT_EQ(e.BarHeight(150), 0);  // an empty bin

    // The same percent in the logarithmic histogram.
    e.Type(e.form.CSpinEdit2, "100");
    e.Click(e.form.LogCheckBox);
    EXPECT_EQ(e.BarHeight(190), 255);
    EXPECT_EQ(e.BarHeight(140), LogHeight(5000, 100000));
    e.Type(e.form.CSpinEdit2, "50");
    EXPECT_EQ(e.BarHeight(190), 127);
}

TEST(Editor, TheLogarithmicHistogramShowsASmallBinTheLinearOneHides)
{
    EnsureApplication();
    Editor e;
    e.tf.Clear();
    e.form.FunctionChanged();
    // A thousandth of the peak at 150.
    e.histogram[300] = 100;
    e.form.SetHistogram(e.histogram.data(), fixtureHigh);
    const int x = int(e.form.SampleToPixel(TransferFunction::Sample{0, 300}).x);
    EXPECT_EQ(x, originX + 300);
    EXPECT_EQ(e.BarHeight(x), LogHeight(100, 100000));
    EXPECT_GT(e.BarHeight(x), 20);

    e.Click(e.form.LogCheckBox);
    EXPECT_LE(e.BarHeight(x), 1);
    EXPECT_EQ(e.BarHeight(190), 255);
}

TEST(Editor, ColourBarShowsTheColoursAtTheirOpacitiesOverACheckerboard)
{
    EnsureApplication();
    Editor e;
    e.tf.Clear();
    e.tf.AddSample(0, 255, 0);
    e.tf.AddSample(2, 128, 0);
    e.tf.AddSample(3, 0, 0);
    e.tf.AddSample(3, 0, 200);
    e.tf.AddSample(3, 255, 300);
    e.form.FunctionChanged();
    const int top = originY + 20;
    const QColor opaque(255, 0, 128);

    // Clear up to density 200: checks of 8 pixels, grey, light and dark in turn.
    const QColor a = e.At(originX, top), b = e.At(originX + 8, top), c = e.At(originX, top + 8);
    EXPECT_NE(a, b);
    EXPECT_EQ(b, c);
    EXPECT_EQ(e.At(originX + 8, top + 8), a);
    EXPECT_EQ(e.At(originX + 7, top + 7), a);
    for (const QColor& check : {a, b}) {
        EXPECT_EQ(check.red(), check.green());
        EXPECT_EQ(check.green(), check.blue());
    }
    EXPECT_EQ(e.At(originX + 200, top), e.At(originX + 200 - 16, top));

    // Opaque from 300 on: the colour itself in every pixel.
    int wrong = 0;
    for (int x = originX + 300; x <= rightEdge; ++x) {
        for (int y = top; y < originY + 100; ++y) {
            wrong += e.At(x, y) != opaque;
        }
    }
    EXPECT_EQ(wrong, 0);

    // Half way a blend: some green from the check, less than the check has.
    const QColor half = e.At(originX + 250, top);
    const int check = ((250 / 8) % 2 == 0 ? a : b).green();
    EXPECT_GT(half.green(), 0);
    EXPECT_LT(half.green(), check);
    EXPECT_NEAR(half.green(), (check * 128 + 127) / 255, 1);

    // Only the bar's rows and columns.
    EXPECT_EQ(e.At(200, originY + 19), white);
    EXPECT_EQ(e.At(200, originY + 100), white);
    EXPECT_EQ(e.At(originX - 1, originY + 50), white);
    EXPECT_EQ(e.At(rightEdge + 1, originY + 50), white);

    // The bar follows an edit at once: an opaque alpha point at 100.
    e.Click(e.form.SpeedButton6);
    e.Press(QPoint(originX + 100, originY - 255));
    e.Release(QPoint(originX + 100, originY - 255));
    EXPECT_EQ(e.tf.SampleCount(3), 4u);
    EXPECT_EQ(e.At(originX + 100, originY + 60), opaque);
    EXPECT_NE(e.At(originX + 10, originY + 60), opaque);
}

TEST(Editor, MarkDensityDrawsALineAtTheDensitysColumnUntilClearedOrAnotherVolume)
{
    EnsureApplication();
    Editor e;
    std::fill(e.histogram.begin(), e.histogram.end(), 0u);
    e.histogram[1000] = 10;
    e.histogram[3000] = 10;
    e.form.SetHistogram(e.histogram.data(), 3000);
    auto markerIn = [&](int x) {
        int n = 0;
        for (int y = 0; y < originY + 100; ++y) {
            n += e.At(x, y) == markerColor;
        }
        return n;
    };
    const int tall = originY - 40 + 1;

    e.form.MarkDensity(2000);
    EXPECT_EQ(markerIn(originX + 281), tall);
    EXPECT_EQ(e.CountColor(markerColor, 0, originY + 100), tall);
    EXPECT_EQ(e.At(originX + 281, originY - 300), markerColor);

    // 500 densities are 140.5 columns.
    e.form.MarkDensity(1500);
    EXPECT_EQ(markerIn(originX + 141), tall);
    EXPECT_EQ(markerIn(originX + 281), 0);

    e.form.MarkDensity(-1);
    EXPECT_EQ(e.CountColor(markerColor, 0, originY + 100), 0);

    // Beyond the axis: nothing.
    e.form.MarkDensity(4000);
    EXPECT_EQ(e.CountColor(markerColor, 0, originY + 100), 0);

    // The same volume handed over again keeps the marker, another clears it.
    e.form.MarkDensity(3000);
    EXPECT_EQ(markerIn(rightEdge), tall);
    e.form.SetHistogram(e.histogram.data(), 3000);
    EXPECT_EQ(markerIn(rightEdge), tall);
    e.histogram[2000] = 1;
    e.form.SetHistogram(e.histogram.data(), 3000);
    EXPECT_EQ(e.form.markedDensity, -1);
    EXPECT_EQ(e.CountColor(markerColor, 0, originY + 100), 0);
}

TEST(Editor, AnotherVolumesHistogramShowsItsWholeRangeAndTheSameOneKeepsTheZoom)
{
    EnsureApplication();
    Editor e;
    e.Type(e.form.CSpinEdit1, "4");
    e.form.AxisScrollBar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(e.form.axisStart, 0);

    // Handed over again, as each opening of the editor does: the view stays.
    e.form.SetHistogram(e.histogram.data(), fixtureHigh);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 4);
    EXPECT_EQ(e.form.pixelsX, 4 * 562);

    std::fill(e.histogram.begin(), e.histogram.end(), 0u);
    e.histogram[700] = 3;
    e.histogram[2700] = 3;
    e.form.SetHistogram(e.histogram.data(), 2700);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 1);
    EXPECT_EQ(e.form.rangeLow, 700);
    EXPECT_EQ(e.form.rangeHigh, 2700);
    EXPECT_EQ(e.form.axisStart, 700);
    EXPECT_EQ(e.form.SampleToPixel(TransferFunction::Sample{0, 2700}).x, rightEdge);
    EXPECT_EQ(e.form.SampleToPixel(TransferFunction::Sample{0, 700}).x, originX);

    // A volume of one density still gets an axis; no volume, the default one.
    std::fill(e.histogram.begin(), e.histogram.end(), 0u);
    e.histogram[1000] = 8;
    e.form.SetHistogram(e.histogram.data(), 1000);
    EXPECT_EQ(e.form.rangeLow, 1000);
    EXPECT_EQ(e.form.rangeHigh, 1001);
    e.form.SetHistogram(nullptr, 0);
    EXPECT_EQ(e.form.rangeLow, 0);
    EXPECT_EQ(e.form.rangeHigh, 4095);
    EXPECT_EQ(e.CountColor(histogramGrey, 0, originY), 0);
}

TEST(Editor, FunctionChangedFromOutsideShowsTheNewFunctionAndDropsTheSelection)
{
    EnsureApplication();
    Editor e;
    const QPoint red = e.PointOf(0, 0);
    e.Hover(red);
    ASSERT_NE(e.form.selectedSample, nullptr);

    // As a loaded file replaces the function while the editor is open.
    e.tf.Clear();
    e.tf.AddSample(0, 220, 500);
    e.form.FunctionChanged();
    EXPECT_EQ(e.form.selectedSample, nullptr);
    EXPECT_EQ(e.Cursor(), Qt::CrossCursor);
    EXPECT_FALSE(e.DiscAt(red, channelColors[0]));
    EXPECT_TRUE(e.DiscAt(QPoint(originX + 500, originY - 220), channelColors[0]));
}

TEST(Editor, ShowingAndClosingForgetTheSelection)
{
    EnsureApplication();
    Editor e;
    const QPoint p = e.PointOf(0, 0);
    e.Hover(p);
    e.Press(p);
    ASSERT_TRUE(e.form.dragging);

    e.Click(e.form.SpeedButton1);
    EXPECT_FALSE(e.form.isVisible());
    EXPECT_EQ(e.form.selectedSample, nullptr);
    EXPECT_FALSE(e.form.dragging);

    // The function changes while the window is closed; the state survives.
    e.tf.Clear();
    e.tf.AddSample(0, 10, 10);
    e.form.show();
    EXPECT_TRUE(e.form.RedCheckBox->isChecked());
    EXPECT_EQ(e.form.selectedSample, nullptr);
    e.Drag(p + QPoint(100, 0));
    EXPECT_EQ(e.tf.Channel(0)[0].position, 10u);
    EXPECT_EQ(e.tf.Channel(0)[0].value, 10);
    EXPECT_TRUE(e.DiscAt(e.PointOf(0, 0), channelColors[0]));
    e.Release(p + QPoint(100, 0));
}

// A CT-like phantom opened by the renderer: the editor's axis spans its
// densities, from the air to the densest bone.
TEST(Editor, TheAxisSpansTheOpenedVolumesRangeAtTheStart)
{
    ScratchFolder scratch;
    EnsureApplication();
    const std::string path = scratch.Path("phantom.dat");
    WriteVolume(path, 32, 32, 32, [](uint32_t x, uint32_t y, uint32_t z) {
        const double dx = x - 15.5, dy = y - 15.5, dz = z - 15.5;
        const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (r > 14.0) {
            return uint16_t(20 + (x + y + z) % 5);
        }
        if (r > 11.0) {
            return uint16_t(2300 + 100 * ((x + y + z) % 8));
        }
        return uint16_t(1040 + (x + 2 * y + 3 * z) % 60);
    });
    GLWindow gl;
    ASSERT_TRUE(gl.viewer.volumeRenderer->Load(path.c_str()));
    const uint32_t* counts = gl.viewer.volumeRenderer->GetHistogram();
    const uint32_t highest = gl.viewer.volumeRenderer->GetMaxDensity();
    ASSERT_EQ(highest, 3000u);
    ASSERT_GT(counts[20], 0u);
    for (uint32_t d = 0; d < 20; ++d) {
        ASSERT_EQ(counts[d], 0u) << d;
    }

    Editor e;
    e.tf.Clear();
    for (int c = 0; c < 3; ++c) {
        e.tf.AddSample(c, uint8_t(255 - 20 * c), 0);
    }
    e.tf.AddSample(3, 0, 20);
    e.tf.AddSample(3, 0, 900);
    e.tf.AddSample(3, 40, 1040);
    e.tf.AddSample(3, 0, 1200);
    e.tf.AddSample(3, 255, 2300);
    e.tf.AddSample(3, 255, 3000);
    e.form.SetHistogram(counts, highest);
    e.form.FunctionChanged();
    EXPECT_EQ(e.form.rangeLow, 20);
    EXPECT_EQ(e.form.rangeHigh, 3000);

    // Air at the axis, the densest bone at the right edge, everything between.
    EXPECT_EQ(e.PointOf(3, 0).x(), originX);
    const QPoint bone = e.PointOf(3, 5);
    EXPECT_NEAR(bone.x(), rightEdge, 2);
    EXPECT_TRUE(e.DiscAt(bone, black));
    for (int i = 1; i < 5; ++i) {
        EXPECT_GT(e.PointOf(3, i).x(), originX + 20) << i;
        EXPECT_LT(e.PointOf(3, i).x(), rightEdge - 20) << i;
        EXPECT_TRUE(e.DiscAt(e.PointOf(3, i), black)) << i;
    }
    // Bone's colour is opaque in the bar; the clear air shows the checks.
    const int top = originY + 20;
    EXPECT_EQ(e.At(bone.x() - 10, top + 40), QColor(255, 235, 215));
    EXPECT_NE(e.At(originX, top), e.At(originX + 8, top));
    // The histogram's air, tissue and bone bars stand in their columns.
    EXPECT_GT(e.GreyIn(originX + 1), 100);
    EXPECT_GT(e.GreyIn(int(e.form.SampleToPixel(TransferFunction::Sample{0, 1070}).x)), 100);
    EXPECT_GT(e.GreyIn(int(e.form.SampleToPixel(TransferFunction::Sample{0, 2700}).x)), 100);
    EXPECT_EQ(e.GreyIn(int(e.form.SampleToPixel(TransferFunction::Sample{0, 500}).x)), 0);
}
