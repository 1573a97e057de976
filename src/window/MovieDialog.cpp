#include "MovieDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>

namespace {
QSpinBox* NumberBox(QWidget* parent, const char* name, int minimum, int maximum, int value)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}

// The video's colour planes have half the resolution: its sides are even.
QSpinBox* SideBox(QWidget* parent, const char* name, int value)
{
    QSpinBox* box = NumberBox(parent, name, 2, 16384, std::max(2, value & ~1));
    box->setSingleStep(2);
    box->setSuffix(QStringLiteral(" px"));
    QObject::connect(box, &QSpinBox::editingFinished, box, [box] { box->setValue(box->value() & ~1); });
    return box;
}
}  // namespace

MovieDialog::MovieDialog(QWidget* parent, QSize panel, bool planeOn) : QDialog(parent)
{
    setObjectName(QStringLiteral("MovieDialog"));
    setWindowTitle(QStringLiteral("Save Movie"));
    const MovieOptions defaults;
    framesBox = NumberBox(this, "MovieFrames", 1, 100000, defaults.frames);
    fpsBox = NumberBox(this, "MovieFps", 1, 240, defaults.fps);
    widthBox = SideBox(this, "MovieWidth", panel.width());
    heightBox = SideBox(this, "MovieHeight", panel.height());
    orbitButton = new QRadioButton(QStringLiteral("Orbit: a full turn about the vertical axis"), this);
    orbitButton->setObjectName(QStringLiteral("MovieOrbit"));
    orbitButton->setChecked(true);
    sweepButton = new QRadioButton(QStringLiteral("Sweep of the clipping plane through the volume"), this);
    sweepButton->setObjectName(QStringLiteral("MovieSweep"));
    sweepButton->setEnabled(planeOn);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Frames:"), framesBox);
    form->addRow(QStringLiteral("Frames a second:"), fpsBox);
    form->addRow(QStringLiteral("Width:"), widthBox);
    form->addRow(QStringLiteral("Height:"), heightBox);
    form->addRow(orbitButton);
    form->addRow(sweepButton);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

MovieOptions MovieDialog::Options() const
{
    MovieOptions options;
    options.frames = framesBox->value();
    options.fps = fpsBox->value();
    options.width = std::max(2, widthBox->value() & ~1);
    options.height = std::max(2, heightBox->value() & ~1);
    options.sweep = sweepButton->isChecked();
    return options;
}
