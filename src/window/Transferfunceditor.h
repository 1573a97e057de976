#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

#include "TransferFunction.h"

class DrawingSurface;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class SpinEdit;

// The window in which the transfer function's control points are drawn over
// the volume's histogram and added, removed and dragged with the mouse.
class TTransferFuncEditForm : public QDialog {
    Q_OBJECT

public:
    explicit TTransferFuncEditForm(QWidget* parent = nullptr);

    void SetTransferFunction(TransferFunction* function);
    // Copies the counts of densities 0 to maximum (at most 4096). Counts that
    // differ from the ones shown belong to another volume: the density axis
    // goes back to that volume's whole range and the marker is cleared.
    void SetHistogram(const uint32_t* counts, uint32_t maximum);
    // A vertical line over the histogram at the density, until the next call
    // or another volume's histogram; a negative density clears it.
    void MarkDensity(int density);
    // The function was changed or replaced from outside: a remembered point
    // may be gone, so the selection is dropped before the redraw.
    void FunctionChanged();
    // The preset list again: the installed presets and the user's own.
    void ShowPresets();

signals:
    // A preset was chosen in the list.
    void PresetChosen(const QString& name);

public:
    // Event handlers; the sender is read only by AddSpeedButtonClick.
    void FormCreate();
    void FormActivate();
    void CheckBoxClick(QObject* = nullptr);
    void Image1MouseMove(int x, int y);
    void Image1MouseDown(int x, int y);
    void Image1MouseUp(int x, int y);
    void CSpinEdit1Change(QObject* = nullptr);
    void CSpinEdit2Change(QObject* = nullptr);
    void AxisScrollBarChange(int offset);
    void WholeRangeButtonClick(QObject* = nullptr);
    void AddSpeedButtonClick(QObject* sender);
    void SpeedButton7Click(QObject* = nullptr);
    void SpeedButton1Click(QObject* = nullptr);

    // A place on the density axis; wider than a sample, since a pixel may map
    // outside the sample's range.
    struct AxisPoint {
        int64_t position;
        int64_t value;
    };
    struct Pixel {
        int64_t x;
        int64_t y;
    };
    struct Rectangle {
        int64_t left, top, right, bottom;
    };

    void Redraw();
    void DrawHistogram();
    void DrawAxes();
    void DrawColorBar();
    void DrawMarker();
    void DrawChannel(int channel);
    Pixel SampleToPixel(const TransferFunction::Sample& sample) const;
    AxisPoint PixelToSample(int x, int y) const;
    TransferFunction::Sample* FindSample(const Rectangle& rectangle);

    // Controls.
    QFrame* Panel1;
    DrawingSurface* Image1;
    QFrame* Panel2;
    QGroupBox* GroupBox1;
    QCheckBox *RedCheckBox, *GreenCheckBox, *BlueCheckBox, *AlphaCheckBox;
    QGroupBox* GroupBox2;
    QPushButton *SpeedButton3, *SpeedButton4, *SpeedButton5, *SpeedButton6, *SpeedButton7;
    QGroupBox* GroupBox3;
    QLabel* Label1;
    SpinEdit* CSpinEdit1;
    QLabel* Label2;
    SpinEdit* CSpinEdit2;
    QCheckBox* LogCheckBox;
    QScrollBar* AxisScrollBar;
    QPushButton* WholeRangeButton;
    QLabel* HoverLabel;
    // The presets, by name; choosing one applies it through the main window.
    QComboBox* PresetBox;
    QPushButton* SpeedButton1;

    // Editor state. Horizontally pixelsX pixels show unitsX densities, from
    // axisStart at originX on: unitsX is the volume's range, rangeLow to
    // rangeHigh, and pixelsX the plot's width times the zoom of CSpinEdit1.
    TransferFunction* transferFunction = nullptr;
    int32_t originX = 0, originY = 0;
    int32_t pixelsX = 0, unitsX = 0;
    int32_t pixelsY = 0, unitsY = 0;
    int32_t rangeLow = 0, rangeHigh = 0;
    int32_t axisStart = 0;
    TransferFunction::Sample* selectedSample = nullptr;
    bool dragging = false;
    uint8_t editMode = 0;
    QPushButton* addButton = nullptr;
    std::vector<uint32_t> histogram;
    uint32_t maxDensity = 0;
    uint32_t histogramPeak = 0;
    // Percent of the 255 line that the highest bin reaches (CSpinEdit2).
    int32_t histogramScale = 0;
    int32_t markedDensity = -1;

    enum EditMode : uint8_t { NoEdit = 0, AddMode = 1, RemoveMode = 2 };

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildLayout();
    void ForgetSelection();
    void ShowWholeRange();
    void SetAxisStart(int64_t start);
    int32_t PlotWidth() const;
    int64_t ColumnOf(int64_t position) const;
    int64_t BarHeight(uint32_t count) const;
    void ShowHover(int x, int y);
    int ChannelOfSample(const TransferFunction::Sample* sample) const;
    int ChannelOfButton(const QObject* button) const;
    QCheckBox* ChannelCheckBox(int channel) const;
};
