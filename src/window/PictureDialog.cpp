#include "PictureDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

#include "PictureMaker.h"

namespace {
QSpinBox* SideBox(QWidget* parent, const char* name, int value)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(1, PictureMaker::largestSide);
    box->setValue(value);
    box->setSuffix(QStringLiteral(" px"));
    return box;
}
}  // namespace

PictureDialog::PictureDialog(QWidget* parent, QSize panelSize) : QDialog(parent), panel(panelSize)
{
    setObjectName(QStringLiteral("PictureDialog"));
    setWindowTitle(QStringLiteral("Save Picture"));
    widthBox = SideBox(this, "PictureWidth", panel.width());
    heightBox = SideBox(this, "PictureHeight", panel.height());
    proportionsBox = new QCheckBox(QStringLiteral("Keep the panel's proportions"), this);
    proportionsBox->setObjectName(QStringLiteral("PictureProportions"));
    proportionsBox->setChecked(true);
    transparentBox = new QCheckBox(QStringLiteral("Transparent background"), this);
    transparentBox->setObjectName(QStringLiteral("PictureTransparent"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Width:"), widthBox);
    form->addRow(QStringLiteral("Height:"), heightBox);
    form->addRow(proportionsBox);
    form->addRow(transparentBox);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(widthBox, &QSpinBox::valueChanged, this, [this] { Follow(true); });
    connect(heightBox, &QSpinBox::valueChanged, this, [this] { Follow(false); });
}

void PictureDialog::Follow(bool widthChanged)
{
    if (!proportionsBox->isChecked() || panel.width() < 1 || panel.height() < 1) {
        return;
    }
    QSpinBox* from = widthChanged ? widthBox : heightBox;
    QSpinBox* to = widthChanged ? heightBox : widthBox;
    const double ratio = widthChanged ? double(panel.height()) / panel.width() : double(panel.width()) / panel.height();
    const QSignalBlocker quiet(to);
    to->setValue(std::clamp(int(std::lround(from->value() * ratio)), 1, PictureMaker::largestSide));
}

QSize PictureDialog::PictureSize() const { return {widthBox->value(), heightBox->value()}; }

bool PictureDialog::Transparent() const { return transparentBox->isChecked(); }
