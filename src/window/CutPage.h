#pragma once

#include <QWidget>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class Viewer;
struct ViewSettings;

// The page "Cut": the crop tool and the crop box's sides in the volume's
// units, the clipping plane, and the cut faces. It maps its controls onto
// the engine's cut settings and shows them again after the mouse moved a
// side or the plane in the render panel.
class CutPage : public QWidget {
    Q_OBJECT

public:
    explicit CutPage(Viewer& viewer);

    // The controls set from the engine's settings, without telling it.
    void ShowSettings();
    // The sides' ranges for the loaded volume, then ShowSettings.
    void ShowVolume();

    QCheckBox* CropToolBox;
    // x from, x to, y from, y to, z from, z to: in millimetres for a scan,
    // in voxels for a volume data file.
    QDoubleSpinBox* CropSpins[6];
    QPushButton* CropResetButton;
    QLabel* CropStateLabel;
    QCheckBox* ClipPlaneBox;
    QCheckBox* ClipFollowsCameraBox;
    QPushButton* ClipFlipButton;
    QDoubleSpinBox* ClipDistanceSpin;
    QLabel* ClipStateLabel;
    QCheckBox* CutFaceBox;
    QCheckBox* CutGreyBox;
    QDoubleSpinBox* CutWindowLowSpin;
    QDoubleSpinBox* CutWindowHighSpin;

private:
    template <typename Edit>
    void Change(Edit edit);
    // The length of each side of the volume in the spin boxes' unit.
    double SideLength(int axis) const;
    void CropEdited(int side);

    Viewer& viewer;
};
