#include "Transferfunceditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "ControlStyle.h"
#include "DrawingSurface.h"
#include "MakeWidget.h"
#include "Presets.h"
#include "SpinEdit.h"

namespace {
constexpr int surfaceWidth = 643;
constexpr int surfaceHeight = 569;
// Volume files hold densities up to 4096; the axis never spans more.
constexpr uint32_t densityLimit = 4096;
constexpr int32_t defaultRangeHigh = 4095;
constexpr int checkSize = 8;
constexpr int checkLight = 255;
constexpr int checkDark = 191;
const QColor markerColor(255, 0, 255);

QPushButton* ToggleButton(QWidget* parent, const char* name, const char* text, int x, int y, int w, int h)
{
    QPushButton* button = MakeWidget<QPushButton>(parent, name, x, y, w, h);
    button->setText(QString::fromLatin1(text));
    button->setFlat(true);
    button->setCheckable(true);
    return button;
}

QCheckBox* ChannelBox(QWidget* parent, const char* name, const char* text, int y)
{
    QCheckBox* box = MakeWidget<QCheckBox>(parent, name, 8, y, 60, 17);
    box->setText(QString::fromLatin1(text));
    box->setChecked(true);
    return box;
}

// Vertical or horizontal line from (x0, y0) up to, not including, (x1, y1).
void Line(QPainter& painter, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const QColor& color)
{
    if (x0 == x1) {
        const int64_t top = y1 < y0 ? y1 + 1 : y0;
        const int64_t bottom = y1 < y0 ? y0 : y1 - 1;
        if (bottom >= top) {
            painter.fillRect(QRect(int(x0), int(top), 1, int(bottom - top + 1)), color);
        }
    } else {
        const int64_t left = x1 < x0 ? x1 + 1 : x0;
        const int64_t right = x1 < x0 ? x0 : x1 - 1;
        if (right >= left) {
            painter.fillRect(QRect(int(left), int(y0), int(right - left + 1), 1), color);
        }
    }
}

// Points far off the surface are pulled in so that the painter's coordinates
// stay small; the visible part of a line to such a point moves by less than a
// pixel.
QPoint OnPainterScale(TTransferFuncEditForm::Pixel p)
{
    constexpr int64_t limit = 1000000;
    return QPoint(int(std::clamp(p.x, -limit, limit)), int(std::clamp(p.y, -limit, limit)));
}

uint32_t ToPosition(int64_t position)
{
    return uint32_t(std::clamp<int64_t>(position, 0, std::numeric_limits<uint32_t>::max()));
}

uint8_t ToValue(int64_t value) { return uint8_t(std::clamp<int64_t>(value, 0, 255)); }

// The quotient rounded to the nearest integer, halves up; the divisor is
// positive. The remainder keeps the arithmetic within 64 bits for every
// 32-bit position at every scale.
int64_t RoundedQuotient(int64_t dividend, int64_t divisor)
{
    int64_t quotient = dividend / divisor;
    int64_t remainder = dividend % divisor;
    if (remainder < 0) {
        --quotient;
        remainder += divisor;
    }
    return 2 * remainder >= divisor ? quotient + 1 : quotient;
}

// A colour at its opacity over a background grey.
int Blend(int color, int alpha, int background) { return (color * alpha + background * (255 - alpha) + 127) / 255; }
}  // namespace

TTransferFuncEditForm::TTransferFuncEditForm(QWidget* parent) : QDialog(parent)
{
    BuildLayout();
    FormCreate();
}

void TTransferFuncEditForm::BuildLayout()
{
    setObjectName(QStringLiteral("TransferFuncEditForm"));
    setWindowTitle(QStringLiteral("Transfer Function Editor"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(LayoutFont());
    setFixedSize(792, 573);

    Panel1 = MakeWidget<QFrame>(this, "Panel1", 0, 0, 647, 573);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Image1 = new DrawingSurface(Panel1, surfaceWidth, surfaceHeight);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->move(2, 2);
    Image1->setCursor(Qt::CrossCursor);

    Panel2 = MakeWidget<QFrame>(this, "Panel2", 647, 0, 145, 573);
    Panel2->setFrameStyle(QFrame::Box | QFrame::Plain);

    GroupBox1 = MakeWidget<QGroupBox>(Panel2, "GroupBox1", 8, 8, 129, 89);
    GroupBox1->setTitle(QStringLiteral("Show samples"));
    RedCheckBox = ChannelBox(GroupBox1, "RedCheckBox", "Red", 16);
    GreenCheckBox = ChannelBox(GroupBox1, "GreenCheckBox", "Green", 32);
    BlueCheckBox = ChannelBox(GroupBox1, "BlueCheckBox", "Blue", 48);
    AlphaCheckBox = ChannelBox(GroupBox1, "AlphaCheckBox", "Alpha", 64);

    GroupBox2 = MakeWidget<QGroupBox>(Panel2, "GroupBox2", 8, 104, 129, 97);
    GroupBox2->setTitle(QStringLiteral("Add / Remove samples"));
    SpeedButton3 = ToggleButton(GroupBox2, "SpeedButton3", "Red", 8, 16, 57, 25);
    SpeedButton4 = ToggleButton(GroupBox2, "SpeedButton4", "Green", 64, 16, 57, 25);
    SpeedButton5 = ToggleButton(GroupBox2, "SpeedButton5", "Blue", 8, 40, 57, 25);
    SpeedButton6 = ToggleButton(GroupBox2, "SpeedButton6", "Alpha", 64, 40, 57, 25);
    SpeedButton7 = ToggleButton(GroupBox2, "SpeedButton7", "Remove", 8, 64, 113, 25);

    GroupBox3 = MakeWidget<QGroupBox>(Panel2, "GroupBox3", 8, 208, 129, 145);
    GroupBox3->setTitle(QStringLiteral("Adjustments"));
    Label1 = new QLabel(QStringLiteral("Density Axis"), GroupBox3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 24);
    Label1->adjustSize();
    CSpinEdit1 = new SpinEdit(GroupBox3, 1, 100, 1);
    CSpinEdit1->setObjectName(QStringLiteral("CSpinEdit1"));
    CSpinEdit1->setGeometry(72, 19, 49, 22);
    CSpinEdit1->setToolTip(QStringLiteral("Zoom: 1 shows the volume's whole density range, n an n-th of it"));
    Label2 = new QLabel(QStringLiteral("Histogramm"), GroupBox3);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(8, 49);
    Label2->adjustSize();
    CSpinEdit2 = new SpinEdit(GroupBox3, 1, 1000, 100);
    CSpinEdit2->setObjectName(QStringLiteral("CSpinEdit2"));
    CSpinEdit2->setGeometry(72, 43, 49, 22);
    CSpinEdit2->setToolTip(QStringLiteral("Height of the highest histogram bar, in percent of the 255 line"));
    LogCheckBox = MakeWidget<QCheckBox>(GroupBox3, "LogCheckBox", 8, 70, 118, 17);
    LogCheckBox->setText(QStringLiteral("Logarithmic histogram"));
    LogCheckBox->setChecked(true);
    AxisScrollBar = MakeWidget<QScrollBar>(GroupBox3, "AxisScrollBar", 8, 92, 113, 17);
    AxisScrollBar->setOrientation(Qt::Horizontal);
    AxisScrollBar->setToolTip(QStringLiteral("Moves the zoomed density axis"));
    WholeRangeButton = MakeWidget<QPushButton>(GroupBox3, "WholeRangeButton", 8, 113, 113, 25);
    WholeRangeButton->setText(QStringLiteral("Whole range"));
    WholeRangeButton->setFlat(true);
    WholeRangeButton->setAutoDefault(false);

    HoverLabel = MakeWidget<QLabel>(Panel2, "HoverLabel", 8, 360, 129, 34);
    HoverLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    HoverLabel->setWordWrap(true);

    auto* presetLabel = MakeWidget<QLabel>(Panel2, "PresetLabel", 8, 404, 129, 17);
    presetLabel->setText(QStringLiteral("Preset"));
    PresetBox = MakeWidget<QComboBox>(Panel2, "PresetBox", 8, 422, 129, 22);
    ShowPresets();
    connect(PresetBox, &QComboBox::activated, this, [this](int index) {
        // The first entry only names the list.
        if (index > 0) {
            emit PresetChosen(PresetBox->itemText(index));
        }
        PresetBox->setCurrentIndex(0);
    });

    SpeedButton1 = MakeWidget<QPushButton>(Panel2, "SpeedButton1", 16, 533, 119, 25);
    SpeedButton1->setText(QStringLiteral("Close"));
    SpeedButton1->setFlat(true);
    SpeedButton1->setAutoDefault(false);
    StyleControlColumn(Panel2);

    for (QPushButton* button : {SpeedButton3, SpeedButton4, SpeedButton5, SpeedButton6, SpeedButton7}) {
        button->setAutoDefault(false);
    }

    // "Remove" and the red add button release each other; every other add
    // button is a group of its own.
    connect(SpeedButton7, &QPushButton::toggled, this, [this](bool pressed) {
        if (pressed) {
            SpeedButton3->setChecked(false);
        }
    });
    connect(SpeedButton3, &QPushButton::toggled, this, [this](bool pressed) {
        if (pressed) {
            SpeedButton7->setChecked(false);
        }
    });

    for (QCheckBox* box : {RedCheckBox, GreenCheckBox, BlueCheckBox, AlphaCheckBox}) {
        connect(box, &QCheckBox::clicked, this, [this, box] { CheckBoxClick(box); });
    }
    for (QPushButton* button : {SpeedButton3, SpeedButton4, SpeedButton5, SpeedButton6}) {
        connect(button, &QPushButton::clicked, this, [this, button] { AddSpeedButtonClick(button); });
    }
    connect(SpeedButton7, &QPushButton::clicked, this, [this] { SpeedButton7Click(SpeedButton7); });
    connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(SpeedButton1); });
    connect(CSpinEdit1, &QSpinBox::valueChanged, this, [this] { CSpinEdit1Change(CSpinEdit1); });
    connect(CSpinEdit2, &QSpinBox::valueChanged, this, [this] { CSpinEdit2Change(CSpinEdit2); });
    connect(LogCheckBox, &QCheckBox::toggled, this, [this] { Redraw(); });
    connect(AxisScrollBar, &QScrollBar::valueChanged, this, &TTransferFuncEditForm::AxisScrollBarChange);
    connect(WholeRangeButton, &QPushButton::clicked, this, [this] { WholeRangeButtonClick(WholeRangeButton); });
    connect(Image1, &DrawingSurface::MouseMove, this, &TTransferFuncEditForm::Image1MouseMove);
    connect(Image1, &DrawingSurface::MouseDown, this, &TTransferFuncEditForm::Image1MouseDown);
    connect(Image1, &DrawingSurface::MouseUp, this, &TTransferFuncEditForm::Image1MouseUp);
}

void TTransferFuncEditForm::FormCreate()
{
    originX = 40;
    originY = Image1->height() - 120;
    pixelsY = 10;
    unitsY = 10;
    dragging = false;
    selectedSample = nullptr;
    histogramScale = 100;
    rangeLow = 0;
    rangeHigh = defaultRangeHigh;
    markedDensity = -1;
    ShowWholeRange();
}

void TTransferFuncEditForm::SetTransferFunction(TransferFunction* function) { transferFunction = function; }

void TTransferFuncEditForm::SetHistogram(const uint32_t* counts, uint32_t maximum)
{
    // A copy: the renderer frees its counts when it opens another volume,
    // and the editor may be redrawn before it is handed the new ones.
    std::vector<uint32_t> copy;
    if (counts) {
        copy.assign(counts, counts + std::min(maximum, densityLimit) + 1);
    }
    maxDensity = maximum;
    if (copy == histogram) {
        return;
    }
    histogram = std::move(copy);
    const auto occupied = [](uint32_t count) { return count != 0; };
    const auto first = std::find_if(histogram.begin(), histogram.end(), occupied);
    const auto last = std::find_if(histogram.rbegin(), histogram.rend(), occupied);
    if (first == histogram.end()) {
        rangeLow = 0;
        rangeHigh = defaultRangeHigh;
        histogramPeak = 0;
    } else {
        rangeLow = int32_t(first - histogram.begin());
        // A volume of one density still gets an axis of some length.
        rangeHigh = std::max(int32_t(histogram.rend() - last) - 1, rangeLow + 1);
        histogramPeak = *std::max_element(histogram.begin(), histogram.end());
    }
    markedDensity = -1;
    ShowWholeRange();
    Redraw();
}

void TTransferFuncEditForm::MarkDensity(int density)
{
    markedDensity = density < 0 ? -1 : density;
    Redraw();
}

void TTransferFuncEditForm::FunctionChanged()
{
    ForgetSelection();
    Redraw();
}

bool TTransferFuncEditForm::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QDialog::event(e);
}

void TTransferFuncEditForm::showEvent(QShowEvent* e)
{
    // The main window may have cleared or reloaded the function since the
    // last showing: a remembered sample could point anywhere.
    ForgetSelection();
    QDialog::showEvent(e);
    FormActivate();
}

void TTransferFuncEditForm::hideEvent(QHideEvent* e)
{
    ForgetSelection();
    QDialog::hideEvent(e);
}

void TTransferFuncEditForm::ForgetSelection()
{
    selectedSample = nullptr;
    dragging = false;
    Image1->setCursor(Qt::CrossCursor);
}

void TTransferFuncEditForm::FormActivate() { Redraw(); }

void TTransferFuncEditForm::SpeedButton1Click(QObject*) { close(); }

void TTransferFuncEditForm::CheckBoxClick(QObject*) { Redraw(); }

int32_t TTransferFuncEditForm::PlotWidth() const { return Image1->picture.width() - 41 - originX; }

void TTransferFuncEditForm::ShowWholeRange()
{
    {
        const QSignalBlocker blocker(CSpinEdit1);
        CSpinEdit1->setValue(1);
    }
    pixelsX = PlotWidth();
    unitsX = rangeHigh - rangeLow;
    SetAxisStart(rangeLow);
}

void TTransferFuncEditForm::SetAxisStart(int64_t start)
{
    // The view stays within the volume's range; the scroll bar counts
    // densities from its low end.
    const int64_t shown = int64_t(unitsX) * PlotWidth() / pixelsX;
    const int32_t maxOffset = int32_t(std::max<int64_t>(0, unitsX - shown));
    axisStart = int32_t(std::clamp<int64_t>(start, rangeLow, int64_t(rangeLow) + maxOffset));
    const QSignalBlocker blocker(AxisScrollBar);
    AxisScrollBar->setRange(0, maxOffset);
    AxisScrollBar->setPageStep(int(std::max<int64_t>(1, shown)));
    AxisScrollBar->setSingleStep(int(std::max<int64_t>(1, shown / 10)));
    AxisScrollBar->setValue(axisStart - rangeLow);
    AxisScrollBar->setEnabled(maxOffset > 0);
}

void TTransferFuncEditForm::CSpinEdit1Change(QObject*)
{
    // The value is the zoom: the axis shows the volume's range divided by it.
    // A zoom below 1, or one whose pixel count does not fit the scale, is
    // refused and the previous one stays.
    const int64_t pixels = int64_t(CSpinEdit1->value()) * PlotWidth();
    if (pixels < 1 || pixels > std::numeric_limits<int32_t>::max()) {
        QMessageBox box(QMessageBox::NoIcon, windowTitle(), QStringLiteral("Invalid value!"), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("InvalidValue"));
        box.exec();
        const QSignalBlocker blocker(CSpinEdit1);
        CSpinEdit1->setValue(pixelsX / PlotWidth());
        return;
    }
    // The density in the middle of the plot stays there.
    const int32_t half = PlotWidth() / 2;
    const int64_t middle = PixelToSample(originX + half, 0).position;
    pixelsX = int32_t(pixels);
    SetAxisStart(middle - RoundedQuotient(int64_t(half) * unitsX, pixelsX));
    Redraw();
}

void TTransferFuncEditForm::AxisScrollBarChange(int offset)
{
    SetAxisStart(int64_t(rangeLow) + offset);
    Redraw();
}

void TTransferFuncEditForm::WholeRangeButtonClick(QObject*)
{
    ShowWholeRange();
    Redraw();
}

void TTransferFuncEditForm::CSpinEdit2Change(QObject*)
{
    histogramScale = CSpinEdit2->value();
    Redraw();
}

void TTransferFuncEditForm::AddSpeedButtonClick(QObject* sender)
{
    if (editMode == AddMode && addButton) {
        addButton->setChecked(false);
    }
    editMode = AddMode;
    addButton = static_cast<QPushButton*>(sender);
    addButton->setChecked(true);
}

void TTransferFuncEditForm::SpeedButton7Click(QObject*) { editMode = RemoveMode; }

int TTransferFuncEditForm::ChannelOfButton(const QObject* button) const
{
    if (button == SpeedButton4) {
        return 1;
    }
    if (button == SpeedButton5) {
        return 2;
    }
    if (button == SpeedButton6) {
        return 3;
    }
    return 0;
}

QCheckBox* TTransferFuncEditForm::ChannelCheckBox(int channel) const
{
    QCheckBox* const boxes[4] = {RedCheckBox, GreenCheckBox, BlueCheckBox, AlphaCheckBox};
    return boxes[channel];
}

// Both directions round to the nearest: where densities share a pixel, a
// pixel's density maps back to that pixel, and where a density spans pixels,
// a density's pixel maps back to that density.
int64_t TTransferFuncEditForm::ColumnOf(int64_t position) const
{
    return originX + RoundedQuotient((position - axisStart) * pixelsX, unitsX);
}

TTransferFuncEditForm::Pixel TTransferFuncEditForm::SampleToPixel(const TransferFunction::Sample& sample) const
{
    return Pixel{ColumnOf(sample.position), originY - (int64_t(sample.value) * pixelsY) / unitsY};
}

TTransferFuncEditForm::AxisPoint TTransferFuncEditForm::PixelToSample(int x, int y) const
{
    return AxisPoint{axisStart + RoundedQuotient(int64_t(x - originX) * unitsX, pixelsX),
                     (int64_t(originY - y) * unitsY) / pixelsY};
}

int TTransferFuncEditForm::ChannelOfSample(const TransferFunction::Sample* sample) const
{
    const std::less<const TransferFunction::Sample*> before;
    for (int channel = 0; channel < 3; ++channel) {
        const std::vector<TransferFunction::Sample>& samples = transferFunction->Channel(channel);
        if (!before(sample, samples.data()) && before(sample, samples.data() + samples.size())) {
            return channel;
        }
    }
    return 3;
}

void TTransferFuncEditForm::ShowHover(int x, int y)
{
    if (selectedSample) {
        static const char* const names[4] = {"Red", "Green", "Blue", "Alpha"};
        HoverLabel->setText(QStringLiteral("Density %1, %2 %3")
                                .arg(selectedSample->position)
                                .arg(QLatin1String(names[ChannelOfSample(selectedSample)]))
                                .arg(selectedSample->value));
    } else {
        HoverLabel->setText(QStringLiteral("Density %1").arg(std::max<int64_t>(0, PixelToSample(x, y).position)));
    }
}

TransferFunction::Sample* TTransferFuncEditForm::FindSample(const Rectangle& r)
{
    if (!transferFunction) {
        return nullptr;
    }
    for (int channel = 0; channel < 4; ++channel) {
        if (!ChannelCheckBox(channel)->isChecked()) {
            continue;
        }
        for (TransferFunction::Sample& sample : transferFunction->Channel(channel)) {
            const int64_t position = sample.position;
            const int64_t value = sample.value;
            if (r.left <= position && position <= r.right && r.bottom <= value && value <= r.top) {
                return &sample;
            }
        }
    }
    return nullptr;
}

void TTransferFuncEditForm::Image1MouseMove(int x, int y)
{
    if (!dragging) {
        const AxisPoint a = PixelToSample(x - 3, y - 3);
        const AxisPoint b = PixelToSample(x + 3, y + 3);
        selectedSample = FindSample(Rectangle{a.position, a.value, b.position, b.value});
        Image1->setCursor(selectedSample ? Qt::PointingHandCursor : Qt::CrossCursor);
        ShowHover(x, y);
        return;
    }
    const AxisPoint p = PixelToSample(x, y);
    selectedSample->position = ToPosition(p.position);
    selectedSample->value = ToValue(p.value);
    transferFunction->SetModified(true);
    Redraw();
    ShowHover(x, y);
}

void TTransferFuncEditForm::Image1MouseDown(int x, int y)
{
    if (editMode == AddMode && addButton) {
        addButton->setChecked(false);
        const AxisPoint p = PixelToSample(x, y);
        transferFunction->AddSample(ChannelOfButton(addButton), ToValue(p.value), ToPosition(p.position));
        transferFunction->SetModified(true);
        editMode = NoEdit;
        addButton = nullptr;
        selectedSample = nullptr;
        Redraw();
    } else if (editMode == RemoveMode && selectedSample) {
        SpeedButton7->setChecked(false);
        transferFunction->RemoveSample(*selectedSample);
        editMode = NoEdit;
        selectedSample = nullptr;
        Redraw();
    }
    if (selectedSample) {
        dragging = true;
    }
}

void TTransferFuncEditForm::Image1MouseUp(int, int)
{
    if (selectedSample && dragging) {
        dragging = false;
    }
}

void TTransferFuncEditForm::Redraw()
{
    {
        QPainter painter(&Image1->picture);
        painter.fillRect(0, 0, Image1->picture.width(), Image1->picture.height(), Qt::white);
    }
    DrawHistogram();
    DrawAxes();
    DrawMarker();
    DrawColorBar();
    for (int channel = 0; channel < 4; ++channel) {
        if (ChannelCheckBox(channel)->isChecked()) {
            DrawChannel(channel);
        }
    }
    Image1->Show();
}

int64_t TTransferFuncEditForm::BarHeight(uint32_t count) const
{
    if (count == 0 || histogramPeak == 0) {
        return 0;
    }
    const double share = LogCheckBox->isChecked() ? std::log1p(double(count)) / std::log1p(double(histogramPeak))
                                                  : double(count) / double(histogramPeak);
    const double line255 = double((int64_t(pixelsY) * 255) / unitsY);
    return int64_t(std::trunc(share * line255 * std::max(histogramScale, 1) / 100.0));
}

void TTransferFuncEditForm::DrawHistogram()
{
    if (histogram.empty()) {
        return;
    }
    const int right = Image1->picture.width() - 41;
    // Where densities share a column, it shows the highest of their bins, so
    // that no peak drops out of the whole range; a column between the
    // densities of a close zoom shows the bin under it.
    std::vector<uint32_t> bars(size_t(right - originX + 1), 0);
    std::vector<bool> reached(bars.size(), false);
    const int64_t lowest = std::max<int64_t>(0, PixelToSample(originX, 0).position - 1);
    const int64_t highest = std::min<int64_t>(int64_t(histogram.size()) - 1, PixelToSample(right, 0).position + 1);
    for (int64_t d = lowest; d <= highest; ++d) {
        const int64_t x = ColumnOf(d);
        if (x >= originX && x <= right) {
            bars[size_t(x - originX)] = std::max(bars[size_t(x - originX)], histogram[size_t(d)]);
            reached[size_t(x - originX)] = true;
        }
    }
    QPainter painter(&Image1->picture);
    const QColor grey(204, 204, 204);
    for (int x = originX; x <= right; ++x) {
        uint32_t count = bars[size_t(x - originX)];
        if (!reached[size_t(x - originX)]) {
            const int64_t d = PixelToSample(x, 0).position;
            count = d >= 0 && d < int64_t(histogram.size()) ? histogram[size_t(d)] : 0;
        }
        const int64_t h = BarHeight(count);
        Line(painter, x, originY, x, originY - std::min<int64_t>(h, originY + 1), grey);
    }
}

void TTransferFuncEditForm::DrawAxes()
{
    QPainter painter(&Image1->picture);
    const int w = Image1->picture.width();
    Line(painter, originX, originY, w - 40, originY, Qt::black);
    Line(painter, originX, originY, originX, 40, Qt::black);

    painter.setPen(QPen(Qt::black, 0, Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    const QPoint horizontalHead[3] = {{w - 40, originY - 5}, {w - 40, originY + 5}, {w - 20, originY}};
    painter.drawPolygon(horizontalHead, 3);
    const QPoint verticalHead[3] = {{originX - 5, 40}, {originX + 5, 40}, {originX, 20}};
    painter.drawPolygon(verticalHead, 3);

    // Dotted: every other pixel of the line at value 255.
    const int64_t y = originY - (int64_t(pixelsY) * 255) / unitsY;
    const QColor grey(128, 128, 128);
    for (int x = originX - 2; x < w - 40; x += 2) {
        painter.fillRect(QRect(x, int(y), 1, 1), grey);
    }
}

void TTransferFuncEditForm::DrawMarker()
{
    if (markedDensity < 0) {
        return;
    }
    const int64_t x = ColumnOf(markedDensity);
    if (x >= originX && x <= Image1->picture.width() - 41) {
        QPainter painter(&Image1->picture);
        Line(painter, x, originY, x, 39, markerColor);
    }
}

void TTransferFuncEditForm::DrawColorBar()
{
    if (!transferFunction) {
        return;
    }
    // The colours at their opacities over a checkerboard: a clear range shows
    // the checks, an opaque one its colour.
    QImage& picture = Image1->picture;
    const int top = originY + 20;
    for (int x = originX; x <= picture.width() - 41; ++x) {
        const TransferFunction::Color c = transferFunction->Evaluate(ToPosition(PixelToSample(x, 0).position));
        for (int y = top; y < originY + 100; ++y) {
            const bool light = ((x - originX) / checkSize + (y - top) / checkSize) % 2 == 0;
            const int background = light ? checkLight : checkDark;
            picture.setPixel(
                x, y, qRgb(Blend(c.r, c.a, background), Blend(c.g, c.a, background), Blend(c.b, c.a, background)));
        }
    }
}

void TTransferFuncEditForm::DrawChannel(int channel)
{
    if (!transferFunction) {
        return;
    }
    static const QColor colors[4] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255), QColor(0, 0, 0)};
    QPainter painter(&Image1->picture);
    painter.setPen(QPen(colors[channel], 0, Qt::SolidLine));
    painter.setBrush(QBrush(colors[channel], Qt::SolidPattern));
    QPoint previous;
    bool first = true;
    for (const TransferFunction::Sample& sample : transferFunction->Channel(channel)) {
        const QPoint p = OnPainterScale(SampleToPixel(sample));
        painter.drawEllipse(QRect(p.x() - 3, p.y() - 3, 6, 6));
        if (!first) {
            painter.drawLine(previous, p);
        }
        previous = p;
        first = false;
    }
}

void TTransferFuncEditForm::ShowPresets()
{
    const QSignalBlocker block(PresetBox);
    PresetBox->clear();
    PresetBox->addItem(QStringLiteral("Choose a preset"));
    for (const Preset& preset : Presets::List()) {
        PresetBox->addItem(preset.name);
    }
    PresetBox->setCurrentIndex(0);
}
