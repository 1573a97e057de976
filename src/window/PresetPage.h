#pragma once

#include <QWidget>

#include "Picker.h"

class QLabel;
class QListWidget;
class QPushButton;
class Viewer;

// The page "Presets": the transfer function presets, one click to apply;
// undo and redo of the function's changes; and what a Ctrl+click in the
// render panel picked, with an action that adds an opaque point there.
class PresetPage : public QWidget {
    Q_OBJECT

public:
    explicit PresetPage(Viewer& viewer);

    // The list again: the installed presets and the user's own.
    void ShowPresets();
    // Says what was picked; the point action adds one at its density.
    void ShowPick(const Pick& pick);
    // Applies the preset of that name, as a click in the list does.
    void Apply(const QString& name);

    QListWidget* PresetList;
    QPushButton* UndoButton;
    QPushButton* RedoButton;
    QLabel* PickLabel;
    QPushButton* AddPointButton;
    QLabel* HintLabel;

signals:
    // The transfer function changed here: a preset, or a point added.
    void FunctionChanged();
    // A preset could not be read: its file and the cause.
    void PresetFailed(const QString& file, const QString& cause);

private:
    Viewer& viewer;
    Pick picked;
};
