#include <gtest/gtest.h>

#include "Main.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QQuaternion>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "Camera.h"
#include "TestSupport.h"
#include "ViewControl.h"
#include "VolumeRenderer.h"

namespace {
using VR = VolumeRenderer;

// The main window, shown, its renderer reading the shipped shaders. It is never
// closed or deleted: closing it ends the process.
TMainForm* ShowMainForm()
{
    EnsureApplication();
    auto* form = new TMainForm();
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
    return form;
}

// Radio buttons and check boxes take clicks on their indicator and caption
// only, so they are clicked near their left edge.
void Click(QAbstractButton* button)
{
    const bool flat = qobject_cast<QPushButton*>(button) != nullptr;
    QTest::mouseClick(button, Qt::LeftButton, {}, flat ? button->rect().center() : QPoint(6, button->height() / 2));
}

void OpenVolume(TMainForm& form, const std::string& path)
{
    // The file name goes into the dialog while frames go on behind it.
    QFileDialog* dialog = form.FileOpenDialog;
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout, dialog, [dialog, path] {
        QLineEdit* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (dialog->isVisible() && name) {
            name->setText(QString::fromStdString(path));
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
    answer.start();
    Click(form.SpeedButton1);
    ASSERT_TRUE(form.viewer.volumeRenderer->IsLoaded());
}

// Brings a page of the control column to the front by clicking its tab.
void ShowPage(TMainForm& form, QWidget* page)
{
    QTabBar* tabs = form.PageControl1->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(form.PageControl1->indexOf(page)).center());
    ASSERT_EQ(form.PageControl1->currentWidget(), page);
}

// Moves a scroll bar by clicks on its arrows, one step at a time.
void StepTo(QScrollBar* bar, int position)
{
    ASSERT_TRUE(bar->isVisible()) << "its page is not shown";
    for (int i = 0; i < 2000 && bar->value() != position; ++i) {
        const QPoint arrow =
            bar->value() < position ? QPoint(bar->width() - 4, bar->height() / 2) : QPoint(4, bar->height() / 2);
        QTest::mouseClick(bar, Qt::LeftButton, {}, arrow);
    }
    ASSERT_EQ(bar->value(), position) << bar->objectName().toStdString();
}
}  // namespace

TEST(Controls, FirstFrameShowsARateOfZero)
{
    ScratchFolder scratch;
    EnsureApplication();
    auto* form = new TMainForm();
    form->idleTimer->stop();
    EXPECT_EQ(form->Panel4->text(), QString());
    form->OnIdle();
    EXPECT_EQ(form->Panel4->text(), QStringLiteral("0 fps"));
}

TEST(Controls, ClassificationColourMapAndBlendButtonsSendTheirValues)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    EXPECT_EQ(r.blendMode, VR::DefaultBlend);

    const std::pair<QRadioButton*, int> classifications[] = {{form->RadioButton10, VR::PreClassification},
                                                             {form->RadioButton11, VR::ShaderClassification},
                                                             {form->RadioButton19, VR::NoClassification}};
    for (const auto& [button, value] : classifications) {
        Click(button);
        EXPECT_EQ(r.classification, value) << button->text().toStdString();
    }
    Click(form->RadioButton8);
    EXPECT_EQ(r.colorMapType, VR::IntensityGradient);
    Click(form->RadioButton7);
    EXPECT_EQ(r.colorMapType, VR::Intensity);

    const std::pair<QRadioButton*, int> blends[] = {{form->RadioButton3, VR::MinimumIntensity},
                                                    {form->RadioButton4, VR::MaximumIntensity},
                                                    {form->RadioButton5, VR::Blend},
                                                    {form->RadioButton6, VR::DefaultBlend}};
    for (const auto& [button, value] : blends) {
        Click(button);
        EXPECT_EQ(r.blendMode, value) << button->text().toStdString();
    }
    EXPECT_EQ(form->RadioButton3->text(), QStringLiteral("Minimum intensity"));
    // Qt, too, shows a doubled ampersand as one.
    EXPECT_EQ(form->RadioButton8->text(), QStringLiteral("Intensity && gradient"));
}

TEST(Controls, MethodButtonsSetTheMethodAndTheGroups)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    auto groups = [form] {
        return std::array<bool, 3>{form->GroupBox1->isEnabled(), form->GroupBox10->isEnabled(),
                                   form->GroupBox9->isEnabled()};
    };
    EXPECT_EQ(r.renderMethod, VR::RayCasting);
    EXPECT_EQ(groups(), (std::array<bool, 3>{false, false, false}));

    Click(form->RadioButton1);
    EXPECT_EQ(r.renderMethod, VR::Slices);
    EXPECT_EQ(groups(), (std::array<bool, 3>{false, false, true}));
    Click(form->RadioButton2);
    EXPECT_EQ(r.renderMethod, VR::VolumeTexture);
    EXPECT_EQ(groups(), (std::array<bool, 3>{true, true, false}));
    Click(form->RadioButton9);
    EXPECT_EQ(r.renderMethod, VR::RayCasting);
    EXPECT_EQ(groups(), (std::array<bool, 3>{false, false, false}));
}

TEST(Controls, SpecificSliceStaysWhenTheMethodChanges)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;

    ShowPage(*form, form->TabSheet2);
    Click(form->RadioButton1);
    StepTo(form->ScrollBar8, 4);
    EXPECT_EQ(form->Panel13->text(), QStringLiteral("4"));
    EXPECT_EQ(r.stackSliceY, 4) << "the bar sends its slice also under \"All\"";
    Click(form->RadioButton13);
    EXPECT_EQ(r.sliceMode, VR::StackSpecificSlice);
    EXPECT_EQ((std::array<int, 3>{r.stackSliceX, r.stackSliceY, r.stackSliceZ}), (std::array<int, 3>{1, 4, 1}));

    Click(form->RadioButton2);
    EXPECT_EQ(r.sliceMode, VR::StackSpecificSlice);
    StepTo(form->ScrollBar6, 3);
    EXPECT_EQ(r.volumeSliceZ, 3);
    Click(form->RadioButton15);
    EXPECT_EQ(r.sliceMode, VR::VolumeSpecificSlice);
    EXPECT_EQ((std::array<int, 3>{r.volumeSliceX, r.volumeSliceY, r.volumeSliceZ}), (std::array<int, 3>{1, 1, 3}));

    Click(form->RadioButton1);
    EXPECT_EQ(r.sliceMode, VR::VolumeSpecificSlice);
    Click(form->RadioButton12);
    EXPECT_EQ(r.sliceMode, VR::AllSlices);
}

TEST(Controls, LoweringTheSliceCountPullsTheSliceBarDownWithoutTellingTheRenderer)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    ShowPage(*form, form->TabSheet2);
    Click(form->RadioButton2);

    StepTo(form->ScrollBar1, 10);
    EXPECT_EQ(r.sliceCountX, 10u);
    EXPECT_EQ(form->Panel3->text(), QStringLiteral("10"));
    EXPECT_EQ(form->ScrollBar4->maximum(), 10);
    StepTo(form->ScrollBar4, 8);
    EXPECT_EQ(r.volumeSliceX, 8);
    EXPECT_EQ(form->Panel9->text(), QStringLiteral("8"));

    StepTo(form->ScrollBar1, 5);
    EXPECT_EQ(r.sliceCountX, 5u);
    EXPECT_EQ(form->ScrollBar4->maximum(), 5);
    EXPECT_EQ(form->ScrollBar4->value(), 5);
    EXPECT_EQ(form->Panel9->text(), QStringLiteral("5"));
    EXPECT_EQ(r.volumeSliceX, 8) << "the renderer keeps the slice last sent";

    StepTo(form->ScrollBar2, 3);
    EXPECT_EQ((std::array<uint32_t, 3>{r.sliceCountX, r.sliceCountY, r.sliceCountZ}),
              (std::array<uint32_t, 3>{5, 3, 1}));
}

TEST(Controls, RayCastingControlsShowAndSendTheirValues)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    EXPECT_EQ(form->Panel15->text(), QString()) << "the boxes stay empty until a bar moves";
    EXPECT_FLOAT_EQ(r.stepSize, 0.01f);

    ShowPage(*form, form->TabSheet2);
    StepTo(form->ScrollBar10, 3);
    EXPECT_EQ(form->Panel15->text(), QStringLiteral("0.333"));
    EXPECT_FLOAT_EQ(r.stepSize, 1.0f / 3.0f);
    StepTo(form->ScrollBar10, 7);
    EXPECT_EQ(form->Panel15->text(), QStringLiteral("0.143"));
    StepTo(form->ScrollBar10, 1000);
    EXPECT_EQ(form->Panel15->text(), QStringLiteral("0.001"));
    StepTo(form->ScrollBar10, 1);
    EXPECT_EQ(form->Panel15->text(), QStringLiteral("1"));
    EXPECT_FLOAT_EQ(r.stepSize, 1.0f);

    StepTo(form->ScrollBar11, 2);
    EXPECT_EQ(form->Panel5->text(), QStringLiteral("0.002"));
    EXPECT_FLOAT_EQ(r.maxIntensity, 0.002f);
    StepTo(form->ScrollBar11, 1000);
    EXPECT_EQ(form->Panel5->text(), QStringLiteral("1"));
    EXPECT_FLOAT_EQ(r.maxIntensity, 1.0f);

    Click(form->CheckBox5);
    EXPECT_FALSE(r.adaptiveStepSize);
    Click(form->CheckBox6);
    EXPECT_FALSE(r.lighting);
    Click(form->CheckBox5);
    EXPECT_TRUE(r.adaptiveStepSize);
    Click(form->CheckBox6);
    EXPECT_TRUE(r.lighting);
}

TEST(Controls, AnArrowAtTheEndOfItsRangeStillNotifies)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    ShowPage(*form, form->TabSheet2);
    const auto clickArrow = [](QScrollBar* bar, bool right) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(right ? bar->width() - 4 : 4, bar->height() / 2));
    };

    // At start-up the bars stand at 1 and have not been applied.
    EXPECT_FLOAT_EQ(r.stepSize, 0.01f);
    clickArrow(form->ScrollBar10, false);
    EXPECT_EQ(form->ScrollBar10->value(), 1);
    EXPECT_FLOAT_EQ(r.stepSize, 1.0f);
    EXPECT_EQ(form->Panel15->text(), QStringLiteral("1"));

    clickArrow(form->ScrollBar11, false);
    EXPECT_EQ(form->ScrollBar11->value(), 1);
    EXPECT_FLOAT_EQ(r.maxIntensity, 0.001f);
    EXPECT_EQ(form->Panel5->text(), QStringLiteral("0.001"));

    // The same at the top of the range.
    StepTo(form->ScrollBar11, 1000);
    r.SetMaxIntensity(0.5f);
    clickArrow(form->ScrollBar11, true);
    EXPECT_EQ(form->ScrollBar11->value(), 1000);
    EXPECT_FLOAT_EQ(r.maxIntensity, 1.0f);
    EXPECT_EQ(form->Panel5->text(), QStringLiteral("1"));
}

TEST(Controls, CameraButtonsReplaceRotationAndViewStack)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    ViewControl& view = form->viewer.viewControl;
    view.freeRotation = Vec3{10, 20, 30};
    const float framed = view.distance;
    EXPECT_EQ(framed, Camera::FramedDistance(form->viewer.display.width, form->viewer.display.height))
        << "framed from the start";

    struct Case {
        QPushButton* button;
        int stack;
        Vec3 axis;
        float angle;
    };
    const Case cases[] = {
        {form->SpeedButton10, VR::Left, {0, 1, 0}, 90}, {form->SpeedButton8, VR::Down, {1, 0, 0}, 270},
        {form->SpeedButton9, VR::Back, {0, 1, 0}, 180}, {form->SpeedButton11, VR::Right, {0, 1, 0}, 270},
        {form->SpeedButton7, VR::Up, {1, 0, 0}, 90},    {form->SpeedButton12, VR::Front, {0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        // Whatever the mouse did before, the button shows its side framed.
        view.Turn(33, -12);
        view.Pan(40, 25);
        Click(form->SpeedButton14);
        Click(c.button);
        EXPECT_EQ(r.viewStack, c.stack) << c.button->text().toStdString();
        const QVector3D expected =
            c.angle == 0
                ? QVector3D(0, 0, 1)
                : QQuaternion::fromAxisAndAngle(c.axis.x, c.axis.y, c.axis.z, c.angle).rotatedVector({0, 0, 1});
        const QVector3D front = view.orientation.rotatedVector({0, 0, 1});
        EXPECT_LT((front - expected).length(), 1e-5f) << c.button->text().toStdString();
        EXPECT_EQ(view.distance, framed) << c.button->text().toStdString();
        EXPECT_EQ((std::array<float, 2>{view.pan.x, view.pan.y}), (std::array<float, 2>{0, 0}));
    }
    EXPECT_EQ((std::array<float, 3>{view.freeRotation.x, view.freeRotation.y, view.freeRotation.z}),
              (std::array<float, 3>{10, 20, 30}));

    // Forward brings the eye a fifth nearer, but four steps from the framed
    // start do not reach the box of the (absent) volume: a cube of side 2.
    float before = view.distance;
    for (int i = 0; i < 4; ++i) {
        Click(form->SpeedButton14);
        EXPECT_LE(view.distance, before);
        EXPECT_GE(view.distance, Camera::NearestDistance(Vec3{1, 1, 1}));
        before = view.distance;
    }
    EXPECT_NEAR(view.distance, std::max(framed * 0.8f * 0.8f * 0.8f * 0.8f, Camera::NearestDistance(Vec3{1, 1, 1})),
                1e-4f);
    Click(form->SpeedButton13);
    EXPECT_NEAR(view.distance, before / 0.8f, 1e-4f);
}

TEST(Controls, OpenResetsTheBarsAndFreeRotationTurnsTheStack)
{
    ScratchFolder scratch;
    TMainForm* form = ShowMainForm();
    VR& r = *form->viewer.volumeRenderer;
    ShowPage(*form, form->TabSheet2);
    Click(form->RadioButton1);
    StepTo(form->ScrollBar7, 6);
    Click(form->RadioButton13);

    // One axis longer than the bars reach.
    const std::string path = scratch.Path("long.dat");
    WriteVolume(path, 1100, 3, 2, [](uint32_t, uint32_t, uint32_t) { return uint16_t(500); });
    OpenVolume(*form, path);
    EXPECT_EQ(form->windowTitle(), QString::fromStdString(path));
    EXPECT_EQ(form->ScrollBar1->value(), 1000);
    EXPECT_EQ(form->Panel3->text(), QStringLiteral("1000"));
    EXPECT_EQ((std::array<int, 2>{form->ScrollBar2->value(), form->ScrollBar3->value()}), (std::array<int, 2>{3, 2}));
    EXPECT_EQ(r.sliceCountX, 1100u) << "the load's own count stays until the bar moves";
    EXPECT_EQ((std::array<int, 2>{form->ScrollBar7->maximum(), form->ScrollBar7->value()}),
              (std::array<int, 2>{1100, 1}));
    EXPECT_EQ(form->Panel12->text(), QStringLiteral("1"));
    EXPECT_EQ((std::array<int, 2>{form->ScrollBar4->maximum(), form->ScrollBar4->value()}),
              (std::array<int, 2>{1000, 1}));
    EXPECT_EQ(form->ScrollBar6->maximum(), 2);
    EXPECT_EQ(form->Panel11->text(), QStringLiteral("1"));
    EXPECT_EQ(r.sliceMode, VR::StackSpecificSlice);
    EXPECT_EQ(r.stackSliceX, 6) << "nothing is sent after the load";

    // Frames with "Free rotate" about y: each frame gives the renderer the stack
    // of the angles it draws with, then turns half a degree.
    form->idleTimer->stop();
    Click(form->CheckBox1);
    Vec3& angles = form->viewer.viewControl.freeRotation;
    form->OnIdle();
    EXPECT_EQ(angles.y, 0.0f) << "no axis chosen: no free rotation";
    Click(form->CheckBox3);
    for (int i = 0; i < 91; ++i) {
        form->OnIdle();
    }
    EXPECT_EQ(angles.y, 45.5f);
    form->OnIdle();
    EXPECT_EQ(r.viewStack, VR::Left) << "drawn at 45.5 degrees: +x turns away";
    angles.x = 359.5f;
    Click(form->CheckBox2);
    form->OnIdle();
    EXPECT_EQ(angles.x, 360.0f);
    EXPECT_EQ(r.viewStack, VR::Left);
    form->OnIdle();
    EXPECT_EQ(angles.x, 0.5f);
    EXPECT_EQ(r.viewStack, VR::Left) << "drawn at x = 360, a whole turn";

    // Cleared boxes keep the angles; the stack follows the rotation drawn.
    Click(form->CheckBox1);
    form->OnIdle();
    EXPECT_EQ(angles.y, 47.0f);
    EXPECT_EQ(r.viewStack, VR::Front);
}
