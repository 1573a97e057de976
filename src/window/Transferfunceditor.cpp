#include "Transferfunceditor.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ControlStyle.h"
#include "DrawingSurface.h"
#include "MakeWidget.h"
#include "SpinEdit.h"

namespace {
constexpr int surfaceWidth = 643;
constexpr int surfaceHeight = 569;

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

    GroupBox3 = MakeWidget<QGroupBox>(Panel2, "GroupBox3", 8, 208, 129, 73);
    GroupBox3->setTitle(QStringLiteral("Adjustments"));
    Label1 = new QLabel(QStringLiteral("Density Axis"), GroupBox3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 24);
    Label1->adjustSize();
    CSpinEdit1 = new SpinEdit(GroupBox3, 1, 100, 1);
    CSpinEdit1->setObjectName(QStringLiteral("CSpinEdit1"));
    CSpinEdit1->setGeometry(72, 19, 49, 22);
    Label2 = new QLabel(QStringLiteral("Histogramm"), GroupBox3);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(8, 49);
    Label2->adjustSize();
    CSpinEdit2 = new SpinEdit(GroupBox3, 1, 1000, 100);
    CSpinEdit2->setObjectName(QStringLiteral("CSpinEdit2"));
    CSpinEdit2->setGeometry(72, 43, 49, 22);

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
    connect(Image1, &DrawingSurface::MouseMove, this, &TTransferFuncEditForm::Image1MouseMove);
    connect(Image1, &DrawingSurface::MouseDown, this, &TTransferFuncEditForm::Image1MouseDown);
    connect(Image1, &DrawingSurface::MouseUp, this, &TTransferFuncEditForm::Image1MouseUp);
}

void TTransferFuncEditForm::FormCreate()
{
    originX = 40;
    originY = Image1->height() - 120;
    pixelsX = 200;
    unitsX = 200;
    pixelsY = 10;
    unitsY = 10;
    dragging = false;
    selectedSample = nullptr;
    histogramScale = 100;
}

void TTransferFuncEditForm::SetTransferFunction(TransferFunction* function) { transferFunction = function; }

void TTransferFuncEditForm::SetHistogram(const uint32_t* counts, uint32_t maximum)
{
    histogram = counts;
    maxDensity = maximum;
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

void TTransferFuncEditForm::CSpinEdit1Change(QObject*)
{
    // A factor below 1 would leave no density units per pixel, and one whose
    // unit count does not fit the scale would overflow it: both are refused
    // and the previous scale stays.
    const int64_t units = int64_t(CSpinEdit1->value()) * pixelsX;
    if (units < 1 || units > std::numeric_limits<int32_t>::max()) {
        QMessageBox box(QMessageBox::NoIcon, windowTitle(), QStringLiteral("Invalid value!"), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("InvalidValue"));
        box.exec();
        const QSignalBlocker blocker(CSpinEdit1);
        CSpinEdit1->setValue(unitsX / pixelsX);
        return;
    }
    unitsX = int32_t(units);
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

TTransferFuncEditForm::Pixel TTransferFuncEditForm::SampleToPixel(const TransferFunction::Sample& sample) const
{
    return Pixel{originX + (int64_t(sample.position) * pixelsX) / unitsX,
                 originY - (int64_t(sample.value) * pixelsY) / unitsY};
}

TTransferFuncEditForm::AxisPoint TTransferFuncEditForm::PixelToSample(int x, int y) const
{
    return AxisPoint{(int64_t(x - originX) * unitsX) / pixelsX, (int64_t(originY - y) * unitsY) / pixelsY};
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
        return;
    }
    const AxisPoint p = PixelToSample(x, y);
    selectedSample->position = ToPosition(p.position);
    selectedSample->value = ToValue(p.value);
    transferFunction->SetModified(true);
    Redraw();
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
    DrawColorBar();
    for (int channel = 0; channel < 4; ++channel) {
        if (ChannelCheckBox(channel)->isChecked()) {
            DrawChannel(channel);
        }
    }
    Image1->Show();
}

void TTransferFuncEditForm::DrawHistogram()
{
    if (!histogram) {
        return;
    }
    QPainter painter(&Image1->picture);
    const QColor grey(204, 204, 204);
    const int w = Image1->picture.width();
    const double scale = histogramScale < 1 ? 1.0 : double(histogramScale);
    for (int x = originX; x <= w - 41; ++x) {
        const int64_t d = PixelToSample(x, 0).position;
        int64_t h = 0;
        if (d >= 0 && d < int64_t(maxDensity)) {
            h = int64_t(std::trunc(double(histogram[d]) / scale));
        }
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

void TTransferFuncEditForm::DrawColorBar()
{
    if (!transferFunction) {
        return;
    }
    QPainter painter(&Image1->picture);
    const int w = Image1->picture.width();
    for (int x = originX; x <= w - 41; ++x) {
        const TransferFunction::Color c = transferFunction->Evaluate(ToPosition(PixelToSample(x, 0).position));
        Line(painter, x, originY + 20, x, originY + 100, QColor(c.r, c.g, c.b));
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
