#pragma once

#include <QDialog>
#include <QSize>

class QCheckBox;
class QSpinBox;

// Asks how to save a picture of the view: its size, which starts at the
// render panel's and may keep the panel's proportions, and whether the
// background is transparent.
class PictureDialog : public QDialog {
    Q_OBJECT

public:
    PictureDialog(QWidget* parent, QSize panel);

    QSize PictureSize() const;
    bool Transparent() const;

    QSpinBox* widthBox;
    QSpinBox* heightBox;
    QCheckBox* proportionsBox;
    QCheckBox* transparentBox;

private:
    // Follows one side with the other where the proportions are kept.
    void Follow(bool widthChanged);

    QSize panel;
};
