#include "Display.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "DrawingSurface.h"
#include "SpinEdit.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "Transferfunceditor.h"

namespace {
constexpr int originX = 40;
constexpr int originY = 449;
constexpr int surfaceWidth = 643;

const QColor white(255, 255, 255);
const QColor black(0, 0, 0);
const QColor histogramGrey(204, 204, 204);
const QColor dotGrey(128, 128, 128);
const QColor channelColors[4] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255), QColor(0, 0, 0)};

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
        histogram[100] = 5000;
        histogram[101] = 50;
        histogram[150] = 100000;
        form.SetTransferFunction(&tf);
        if (withHistogram) {
            form.SetHistogram(histogram.data(), 150);
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

bool InArrowHeads(int x, int y)
{
    const bool horizontal = x >= surfaceWidth - 40 && x <= surfaceWidth - 20 && y >= originY - 5 && y <= originY + 5;
    const bool vertical = x >= originX - 5 && x <= originX + 5 && y >= 20 && y <= 40;
    return horizontal || vertical;
}
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
    for (QPushButton* b :
         {e.form.SpeedButton3, e.form.SpeedButton4, e.form.SpeedButton5, e.form.SpeedButton6, e.form.SpeedButton7}) {
        EXPECT_TRUE(b->isCheckable());
        EXPECT_FALSE(b->isChecked());
    }
    for (QCheckBox* b : {e.form.RedCheckBox, e.form.GreenCheckBox, e.form.BlueCheckBox, e.form.AlphaCheckBox}) {
        EXPECT_FALSE(b->isChecked());
    }
}

TEST(Editor, FirstShowingDrawsAxesHistogramAndColourBarOnly)
{
    EnsureApplication();
    Editor e;

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

    // Histogram: 5000 voxels at density 100, 100 per pixel.
    EXPECT_EQ(e.At(140, originY - 1), histogramGrey);
    EXPECT_EQ(e.At(140, originY - 49), histogramGrey);
    EXPECT_EQ(e.At(140, originY - 50), white);

    // No channel is shown: no point colour above the colour bar, and black
    // only on the axes.
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(e.CountColor(channelColors[c], 0, originY + 19), 0) << "channel " << c;
    }
    int strayBlack = 0;
    for (int y = 0; y < originY + 20; ++y) {
        for (int x = 0; x < surfaceWidth; ++x) {
            if (e.At(x, y) == black && x != originX && y != originY && !InArrowHeads(x, y)) {
                ++strayBlack;
            }
        }
    }
    EXPECT_EQ(strayBlack, 0);

    // Nothing can be picked or dragged.
    const QPoint red = e.PointOf(0, 0);
    e.Hover(red);
    EXPECT_EQ(e.form.selectedSample, nullptr);
    EXPECT_EQ(e.Cursor(), Qt::CrossCursor);
    e.Press(red);
    e.Drag(red + QPoint(50, 50));
    e.Release(red + QPoint(50, 50));
    EXPECT_EQ(e.tf.Channel(0)[0].position, 100u);
    EXPECT_EQ(e.tf.Channel(0)[0].value, 200);
}

TEST(Editor, NoHistogramNoBars)
{
    EnsureApplication();
    Editor e(false);
    EXPECT_EQ(e.CountColor(histogramGrey, 0, originY), 0);
    EXPECT_EQ(e.At(300, originY), black);
}

TEST(Editor, TickingAChannelDrawsItsPoints)
{
    EnsureApplication();
    Editor e;
    QCheckBox* boxes[4] = {e.form.RedCheckBox, e.form.GreenCheckBox, e.form.BlueCheckBox, e.form.AlphaCheckBox};
    for (int c = 0; c < 4; ++c) {
        EXPECT_FALSE(e.DiscAt(e.PointOf(c, 0), channelColors[c])) << c;
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
    for (QCheckBox* b : {e.form.RedCheckBox, e.form.GreenCheckBox, e.form.BlueCheckBox, e.form.AlphaCheckBox}) {
        e.Click(b);
    }
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
    e.Click(e.form.GreenCheckBox);
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

TEST(Editor, RemovingLeavesTheModifiedMark)
{
    EnsureApplication();
    Editor e;
    e.Click(e.form.BlueCheckBox);
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

TEST(Editor, DensityAxisEightShowsUpTo4496)
{
    EnsureApplication();
    Editor e;
    e.tf.AddSample(0, 100, 4496);
    e.Click(e.form.RedCheckBox);
    e.Type(e.form.CSpinEdit1, "8");
    EXPECT_EQ(e.form.unitsX, 1600);

    const QPoint last(surfaceWidth - 41, originY - 100);
    EXPECT_TRUE(e.DiscAt(last, channelColors[0]));
    const TransferFunction::Color c = e.tf.Evaluate(4496);
    EXPECT_EQ(e.At(surfaceWidth - 41, originY + 50), QColor(c.r, c.g, c.b));
    EXPECT_EQ(e.At(surfaceWidth - 40, originY + 50), white);

    // Three pixels are 24 density units.
    e.Hover(last + QPoint(-3, 0));
    ASSERT_NE(e.form.selectedSample, nullptr);
    EXPECT_EQ(e.form.selectedSample->position, 4496u);
    e.Hover(last + QPoint(-4, 0));
    EXPECT_EQ(e.form.selectedSample, nullptr);

    // Arrows stay in 1 to 100; a typed value is taken as it is.
    e.Type(e.form.CSpinEdit1, "100");
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Up);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 100);
    e.Type(e.form.CSpinEdit1, "150");
    EXPECT_EQ(e.form.unitsX, 30000);
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Up);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 150);
    QTest::keyClick(e.form.CSpinEdit1, Qt::Key_Down);
    EXPECT_EQ(e.form.CSpinEdit1->value(), 100);
    EXPECT_EQ(e.form.unitsX, 20000);
}

TEST(Editor, DensityAxisBelowOneIsRefused)
{
    EnsureApplication();
    Editor e;
    e.Click(e.form.RedCheckBox);
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
        EXPECT_EQ(e.form.unitsX, c.kept * 200) << c.typed;
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
    EXPECT_EQ(e.form.unitsX, 200);
}

TEST(Editor, HistogramBarsFollowCSpinEdit2)
{
    EnsureApplication();
    Editor e;
    // A bar's lowest row lies under the axis.
    auto barHeight = [&](int x) {
        int h = 0;
        while (h < originY && e.At(x, originY - 1 - h) == histogramGrey) {
            ++h;
        }
        return h == 0 ? 0 : h + 1;
    };
    EXPECT_EQ(barHeight(140), 50);
    EXPECT_EQ(barHeight(141), 0);  // 50 voxels, below the scale
    EXPECT_EQ(barHeight(190), 0);  // density 150 is the maximum: not drawn

    e.Type(e.form.CSpinEdit2, "1000");
    EXPECT_EQ(e.form.histogramScale, 1000);
    EXPECT_EQ(barHeight(140), 5);
    EXPECT_EQ(barHeight(141), 0);

    e.Type(e.form.CSpinEdit2, "10");
    EXPECT_EQ(barHeight(141), 5);
    // 500 rows: the whole column, cut by the dotted line.
    EXPECT_EQ(e.At(140, originY - 255), dotGrey);
    EXPECT_EQ(e.At(140, 0), histogramGrey);
    EXPECT_EQ(e.At(140, originY - 256), histogramGrey);

    // A scale of 0 or below counts as 1.
    e.Type(e.form.CSpinEdit2, "-5");
    EXPECT_EQ(e.form.histogramScale, -5);
    EXPECT_EQ(barHeight(141), 50);
    e.Type(e.form.CSpinEdit2, "0");
    EXPECT_EQ(barHeight(141), 50);
    EXPECT_EQ(barHeight(190), 0);
    EXPECT_EQ(barHeight(150), 0);  // an empty bin
}

TEST(Editor, ColourBarIsTheFunctionAtEachColumn)
{
    EnsureApplication();
    Editor e;
    auto check = [&] {
        int wrong = 0;
        for (int x = originX; x <= surfaceWidth - 41; ++x) {
            const TransferFunction::Color c = e.tf.Evaluate(uint32_t(x - originX));
            for (int y = originY + 20; y < originY + 100; ++y) {
                wrong += e.At(x, y) != QColor(c.r, c.g, c.b);
            }
        }
        return wrong;
    };
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(e.At(200, originY + 19), white);
    EXPECT_EQ(e.At(200, originY + 100), white);
    EXPECT_EQ(e.At(originX - 1, originY + 50), white);

    // The bar follows an edit at once.
    e.Click(e.form.SpeedButton3);
    e.Press(QPoint(originX + 300, originY - 250));
    EXPECT_EQ(e.tf.SampleCount(0), 3u);
    EXPECT_EQ(check(), 0);
    const TransferFunction::Color c = e.tf.Evaluate(300);
    EXPECT_EQ(e.At(originX + 300, originY + 60), QColor(c.r, c.g, c.b));
    EXPECT_EQ(c.r, 250);
}

TEST(Editor, ShowingAndClosingForgetTheSelection)
{
    EnsureApplication();
    Editor e;
    e.Click(e.form.RedCheckBox);
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
