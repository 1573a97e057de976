#pragma once

#include <QDialog>
#include <QSize>

#include "MovieMaker.h"

class QRadioButton;
class QSpinBox;

// Asks how to make a movie of the view: its frames and their rate, its size
// (even sides, starting at the render panel's), and an orbit of the view or,
// where the clipping plane is on, a sweep of the plane.
class MovieDialog : public QDialog {
    Q_OBJECT

public:
    MovieDialog(QWidget* parent, QSize panel, bool planeOn);

    MovieOptions Options() const;

    QSpinBox* framesBox;
    QSpinBox* fpsBox;
    QSpinBox* widthBox;
    QSpinBox* heightBox;
    QRadioButton* orbitButton;
    QRadioButton* sweepButton;
};
