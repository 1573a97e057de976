#include "CutPage.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

#include "MakeWidget.h"
#include "Viewer.h"
#include "VolumeRenderer.h"

template <typename Edit>
void CutPage::Change(Edit edit)
{
    ViewSettings next = viewer.Settings();
    edit(next);
    viewer.Apply(next);
    ShowSettings();
}

CutPage::CutPage(Viewer& viewer) : viewer(viewer)
{
    setObjectName(QStringLiteral("CutPage"));

    auto* crop = MakeWidget<QGroupBox>(this, "CropGroupBox", 8, 8, 225, 200);
    crop->setTitle(QStringLiteral("Crop box"));
    CropToolBox = MakeWidget<QCheckBox>(crop, "CropToolBox", 16, 18, 201, 17);
    CropToolBox->setText(QStringLiteral("Crop tool (drag the handles)"));
    const char* const axes[3] = {"x", "y", "z"};
    const char* const names[6] = {"CropXFromSpin", "CropXToSpin",   "CropYFromSpin",
                                  "CropYToSpin",   "CropZFromSpin", "CropZToSpin"};
    for (int a = 0; a < 3; ++a) {
        auto* label = MakeWidget<QLabel>(crop, "CropAxisLabel", 16, 44 + 28 * a, 16, 22);
        label->setText(QString::fromLatin1(axes[a]));
        for (int end = 0; end < 2; ++end) {
            const int side = 2 * a + end;
            CropSpins[side] = MakeWidget<QDoubleSpinBox>(crop, names[side], 32 + 94 * end, 44 + 28 * a, 88, 22);
            CropSpins[side]->setDecimals(1);
            CropSpins[side]->setKeyboardTracking(false);
            connect(CropSpins[side], &QDoubleSpinBox::valueChanged, this, [this, side] { CropEdited(side); });
        }
    }
    CropResetButton = MakeWidget<QPushButton>(crop, "CropResetButton", 16, 130, 73, 25);
    CropResetButton->setText(QStringLiteral("Reset"));
    CropStateLabel = MakeWidget<QLabel>(crop, "CropStateLabel", 16, 160, 201, 34);
    CropStateLabel->setWordWrap(true);

    auto* plane = MakeWidget<QGroupBox>(this, "ClipGroupBox", 8, 216, 225, 150);
    plane->setTitle(QStringLiteral("Clipping plane"));
    ClipPlaneBox = MakeWidget<QCheckBox>(plane, "ClipPlaneBox", 16, 18, 201, 17);
    ClipPlaneBox->setText(QStringLiteral("Clipping plane"));
    ClipFollowsCameraBox = MakeWidget<QCheckBox>(plane, "ClipFollowsCameraBox", 16, 38, 201, 17);
    ClipFollowsCameraBox->setText(QStringLiteral("Fixed to the camera"));
    auto* distance = MakeWidget<QLabel>(plane, "ClipDistanceLabel", 16, 62, 64, 22);
    distance->setText(QStringLiteral("Distance"));
    ClipDistanceSpin = MakeWidget<QDoubleSpinBox>(plane, "ClipDistanceSpin", 80, 62, 72, 22);
    ClipDistanceSpin->setRange(-2.0, 2.0);
    ClipDistanceSpin->setDecimals(2);
    ClipDistanceSpin->setSingleStep(0.02);
    ClipDistanceSpin->setKeyboardTracking(false);
    ClipFlipButton = MakeWidget<QPushButton>(plane, "ClipFlipButton", 160, 60, 49, 25);
    ClipFlipButton->setText(QStringLiteral("Flip"));
    ClipStateLabel = MakeWidget<QLabel>(plane, "ClipStateLabel", 16, 92, 201, 52);
    ClipStateLabel->setWordWrap(true);

    auto* face = MakeWidget<QGroupBox>(this, "CutFaceGroupBox", 8, 374, 225, 100);
    face->setTitle(QStringLiteral("Cut face"));
    CutFaceBox = MakeWidget<QCheckBox>(face, "CutFaceBox", 16, 18, 201, 17);
    CutFaceBox->setText(QStringLiteral("Draw the cut face"));
    CutGreyBox = MakeWidget<QCheckBox>(face, "CutGreyBox", 16, 38, 201, 17);
    CutGreyBox->setText(QStringLiteral("Grey levels over a window"));
    auto* window = MakeWidget<QLabel>(face, "CutWindowLabel", 16, 64, 48, 22);
    window->setText(QStringLiteral("Window"));
    CutWindowLowSpin = MakeWidget<QDoubleSpinBox>(face, "CutWindowLowSpin", 64, 64, 72, 22);
    CutWindowHighSpin = MakeWidget<QDoubleSpinBox>(face, "CutWindowHighSpin", 140, 64, 72, 22);
    for (QDoubleSpinBox* spin : {CutWindowLowSpin, CutWindowHighSpin}) {
        spin->setRange(0.0, 4095.0);
        spin->setDecimals(0);
        spin->setKeyboardTracking(false);
    }

    connect(CropToolBox, &QCheckBox::toggled, this, [this](bool on) {
        this->viewer.cropTool.on = on;
        ShowSettings();
    });
    connect(CropResetButton, &QPushButton::clicked, this,
            [this] { Change([](ViewSettings& s) { s.cut.ResetCrop(); }); });
    connect(ClipPlaneBox, &QCheckBox::toggled, this, [this](bool on) {
        Change([this, on](ViewSettings& s) {
            if (on && !s.cut.clip) {
                this->viewer.PlacePlane(s);
            }
            s.cut.clip = on;
        });
    });
    connect(ClipFollowsCameraBox, &QCheckBox::toggled, this,
            [this](bool follow) { Change([this, follow](ViewSettings& s) { this->viewer.FollowCamera(s, follow); }); });
    connect(ClipFlipButton, &QPushButton::clicked, this, [this] { Change([](ViewSettings& s) { s.cut.Flip(); }); });
    connect(ClipDistanceSpin, &QDoubleSpinBox::valueChanged, this,
            [this](double d) { Change([d](ViewSettings& s) { s.cut.distance = float(d); }); });
    const auto faceStyle = [this] {
        Change([this](ViewSettings& s) {
            s.cut.face = !CutFaceBox->isChecked()  ? CutRegion::NoFace
                         : CutGreyBox->isChecked() ? CutRegion::GreyFace
                                                   : CutRegion::ColorFace;
            s.cut.greyLow = float(CutWindowLowSpin->value());
            s.cut.greyHigh = float(std::max(CutWindowHighSpin->value(), CutWindowLowSpin->value() + 1.0));
        });
    };
    connect(CutFaceBox, &QCheckBox::toggled, this, faceStyle);
    connect(CutGreyBox, &QCheckBox::toggled, this, faceStyle);
    connect(CutWindowLowSpin, &QDoubleSpinBox::valueChanged, this, faceStyle);
    connect(CutWindowHighSpin, &QDoubleSpinBox::valueChanged, this, faceStyle);
    ShowVolume();
}

double CutPage::SideLength(int axis) const
{
    const VolumeRenderer* r = viewer.volumeRenderer;
    if (!r || !r->IsLoaded()) {
        return 1.0;
    }
    const uint32_t dims[3] = {r->GetDimX(), r->GetDimY(), r->GetDimZ()};
    const float spacing[3] = {r->voxelSpacing.x, r->voxelSpacing.y, r->voxelSpacing.z};
    return double(dims[axis]) * double(spacing[axis]);
}

void CutPage::CropEdited(int side)
{
    const double length = SideLength(side / 2);
    const float share = float(CropSpins[side]->value() / length);
    Change([side, share](ViewSettings& s) { s.cut.SetCrop(side, share); });
}

void CutPage::ShowVolume()
{
    const QString unit = viewer.VolumeInMillimetres() ? QStringLiteral(" mm") : QStringLiteral(" vx");
    for (int side = 0; side < 6; ++side) {
        const QSignalBlocker block(CropSpins[side]);
        CropSpins[side]->setRange(0.0, SideLength(side / 2));
        CropSpins[side]->setSuffix(unit);
    }
    ShowSettings();
}

void CutPage::ShowSettings()
{
    const ViewSettings& s = viewer.Settings();
    const CutRegion& cut = s.cut;
    for (int side = 0; side < 6; ++side) {
        const QSignalBlocker block(CropSpins[side]);
        CropSpins[side]->setValue(double(cut.crop[side]) * SideLength(side / 2));
    }
    const QString unit = viewer.VolumeInMillimetres() ? QStringLiteral("mm") : QStringLiteral("voxels");
    CropStateLabel->setText(cut.Cropped() ? QStringLiteral("Kept %1 × %2 × %3 %4")
                                                .arg((cut.crop[1] - cut.crop[0]) * SideLength(0), 0, 'f', 1)
                                                .arg((cut.crop[3] - cut.crop[2]) * SideLength(1), 0, 'f', 1)
                                                .arg((cut.crop[5] - cut.crop[4]) * SideLength(2), 0, 'f', 1)
                                                .arg(unit)
                                          : QStringLiteral("The whole volume"));
    const QSignalBlocker b1(CropToolBox), b2(ClipPlaneBox), b3(ClipFollowsCameraBox), b4(ClipDistanceSpin),
        b5(CutFaceBox), b6(CutGreyBox), b7(CutWindowLowSpin), b8(CutWindowHighSpin);
    CropToolBox->setChecked(viewer.cropTool.on);
    ClipPlaneBox->setChecked(cut.clip);
    ClipFollowsCameraBox->setChecked(s.planeFollowsCamera);
    ClipFollowsCameraBox->setEnabled(cut.clip);
    ClipFlipButton->setEnabled(cut.clip);
    ClipDistanceSpin->setEnabled(cut.clip);
    ClipDistanceSpin->setValue(double(cut.distance));
    ClipStateLabel->setText(
        cut.clip ? QStringLiteral("Keeps n · p ≤ %1, n = (%2, %3, %4) %5")
                       .arg(double(cut.distance), 0, 'f', 2)
                       .arg(double(cut.normal.x), 0, 'f', 2)
                       .arg(double(cut.normal.y), 0, 'f', 2)
                       .arg(double(cut.normal.z), 0, 'f', 2)
                       .arg(s.planeFollowsCamera ? QStringLiteral("in the view") : QStringLiteral("in the volume"))
                 : QStringLiteral("Off"));
    CutFaceBox->setChecked(cut.face != CutRegion::NoFace);
    CutGreyBox->setChecked(cut.face == CutRegion::GreyFace);
    CutGreyBox->setEnabled(cut.face != CutRegion::NoFace);
    CutWindowLowSpin->setValue(double(cut.greyLow));
    CutWindowHighSpin->setValue(double(cut.greyHigh));
}
