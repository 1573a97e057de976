#include "PresetPage.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <cmath>

#include "MakeWidget.h"
#include "Viewer.h"
#include "VolumeRenderer.h"

PresetPage::PresetPage(Viewer& viewer) : viewer(viewer)
{
    setObjectName(QStringLiteral("PresetPage"));
    auto* presets = MakeWidget<QGroupBox>(this, "PresetGroupBox", 8, 8, 225, 300);
    presets->setTitle(QStringLiteral("Presets"));
    PresetList = MakeWidget<QListWidget>(presets, "PresetList", 16, 20, 193, 236);
    UndoButton = MakeWidget<QPushButton>(presets, "UndoButton", 16, 264, 90, 25);
    UndoButton->setText(QStringLiteral("Undo"));
    UndoButton->setToolTip(QStringLiteral("Ctrl+Z"));
    RedoButton = MakeWidget<QPushButton>(presets, "RedoButton", 119, 264, 90, 25);
    RedoButton->setText(QStringLiteral("Redo"));
    RedoButton->setToolTip(QStringLiteral("Ctrl+Shift+Z"));

    auto* pick = MakeWidget<QGroupBox>(this, "PickGroupBox", 8, 316, 225, 150);
    pick->setTitle(QStringLiteral("Pick"));
    PickLabel = MakeWidget<QLabel>(pick, "PickLabel", 16, 20, 193, 60);
    PickLabel->setWordWrap(true);
    PickLabel->setText(QStringLiteral("Ctrl+click the volume to pick a tissue."));
    AddPointButton = MakeWidget<QPushButton>(pick, "AddPointButton", 16, 84, 193, 25);
    AddPointButton->setText(QStringLiteral("Add an opaque point there"));
    AddPointButton->setEnabled(false);

    HintLabel = MakeWidget<QLabel>(this, "HintLabel", 16, 474, 209, 64);
    HintLabel->setWordWrap(true);
    HintLabel->setText(
        QStringLiteral("Right-drag in the view: left and right move the function along the "
                       "densities, up and down narrow and widen it."));

    connect(PresetList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { Apply(item->text()); });
    connect(AddPointButton, &QPushButton::clicked, this, [this] {
        if (!picked.hit) {
            return;
        }
        TransferFunction& function = this->viewer.transferFunction;
        const uint32_t at = uint32_t(std::lround(picked.density));
        TransferFunction::Color color = function.Evaluate(at);
        // A density the function leaves black gets a white point.
        if (color.r == 0 && color.g == 0 && color.b == 0) {
            color.r = color.g = color.b = 255;
        }
        const uint8_t values[4] = {color.r, color.g, color.b, 255};
        for (int c = 0; c < 4; ++c) {
            function.AddSample(c, values[c], at);
        }
        function.SetModified(true);
        this->viewer.KeepTransferFunction();
        this->viewer.UpdateTransferFunction();
        emit FunctionChanged();
    });
    ShowPresets();
}

void PresetPage::ShowPresets()
{
    PresetList->clear();
    for (const Preset& preset : Presets::List()) {
        auto* item = new QListWidgetItem(preset.name, PresetList);
        item->setToolTip(QDir::toNativeSeparators(preset.path));
    }
}

void PresetPage::ShowPick(const Pick& pick)
{
    picked = pick;
    PickLabel->setText(viewer.Describe(pick));
    AddPointButton->setEnabled(pick.hit);
}

void PresetPage::Apply(const QString& name)
{
    Preset preset;
    QString error;
    if (!Presets::Find(name, preset)) {
        return;
    }
    if (!viewer.ApplyPreset(preset, error)) {
        emit PresetFailed(preset.path, error);
        return;
    }
    emit FunctionChanged();
}
