#pragma once

#include <QFont>

class QWidget;

// The look of the fixed layouts of the main window and the editor.

// The layouts place captions and buttons to the pixel for a small, narrow
// sans serif: Liberation Sans at 7.5 points (10 pixels at 96 dpi) fits every
// caption beside its value box and "Backward" inside its button's frame,
// where the desktop's default font (often the wider DejaVu Sans) at 8 points
// would run captions into their value boxes and cut button texts.
QFont LayoutFont();

// Group boxes whose title sits on the frame line, so that controls placed
// just below the title are inside the frame, and flat buttons that show a
// frame when the mouse is over them or while they are down. Called once the
// column holds all its controls.
void StyleControlColumn(QWidget* column);
