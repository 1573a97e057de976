#pragma once

#include <QPointF>
#include <Qt>

#include "TransferFunctionHistory.h"

// Window and level with the right mouse button in the render panel: a
// horizontal drag moves the transfer function along the density axis, a
// vertical one widens it (down) or narrows it (up) about its middle, both
// measured from where the button went down.
class WindowLevel {
public:
    // Densities per pixel of horizontal drag, as a share of the volume's
    // density range.
    static constexpr double shiftPerPixel = 1.0 / 512.0;
    // Pixels of downward drag that double the function's width.
    static constexpr double pixelsPerDoubling = 150.0;

    // span: the volume's largest density. False where the press is not a
    // right press.
    bool Press(Qt::MouseButton button, QPointF position, const TransferFunction& function, uint32_t span);
    // The function as the drag so far makes it; false where nothing is dragged.
    bool Move(QPointF position, double now, TransferFunction& function) const;
    void Release(Qt::MouseButton button);
    bool Dragging() const { return dragging; }
    bool Moving(double now) const;

    // Every point of start at centre + (position - centre) * factor + shift,
    // kept at 0 or above, into function.
    static void Transform(const TransferFunctionHistory::State& start, double centre, double factor, double shift,
                          TransferFunction& function);
    // The middle of the densities the function shows (its opacity above 0),
    // or of 0 to span where it shows none.
    static double Middle(const TransferFunction& function, uint32_t span);

private:
    bool dragging = false;
    TransferFunctionHistory::State start;
    double centre = 0.0;
    double span = 4096.0;
    QPointF from;
    mutable double lastChange = -1e9;
};
