#pragma once

#include <QMatrix4x4>
#include <QPointF>
#include <Qt>

#include "CutRegion.h"
#include "Vec3.h"

// The crop tool: while it is on, the render panel shows the crop box with a
// handle on each side and one on the plane, and a left drag that starts on a
// handle moves that side or the plane instead of turning the view. The wheel
// with Ctrl moves the plane whether the tool is on or not. It changes a
// CutRegion in the box's coordinates; frame maps them to the panel's
// pixels (y down) as the last frame drew them.
class CropTool {
public:
    // How near a handle a press must be, in pixels.
    static constexpr float grabPixels = 10.0f;
    // How far a notch of the wheel moves the plane, in the box's units.
    static constexpr float wheelStep = 0.02f;
    // How far a pixel of drag moves a plane that faces the viewer, where the
    // drag goes up and down (down brings it nearer).
    static constexpr float unitsPerPixel = 0.005f;
    // Index of the plane's handle; 0 to 5 are the sides, as in CutRegion.
    static constexpr int planeHandle = 6;

    // Where the handle lies in the box, for the region as drawn; false for a
    // handle that does not show (the plane off).
    static bool HandlePoint(const CutRegion& region, Vec3 half, int handle, Vec3& point);
    // The handle within grabPixels of the position, nearest first; -1 if none.
    static int HandleAt(const CutRegion& region, Vec3 half, const QMatrix4x4& frame, QPointF position);

    // A press on a handle starts its drag; false where the press is not the
    // tool's (it is off, not the left button, or no handle is there).
    bool Press(Qt::MouseButton button, QPointF position, const CutRegion& drawn, Vec3 half, const QMatrix4x4& frame);
    // Moves the dragged side or plane of region by the drag since the last
    // position, as drawn in the frame. drawn is the region as the renderer
    // has it: the plane's normal in the box's coordinates.
    void Move(QPointF position, double now, CutRegion& region, const CutRegion& drawn, Vec3 half,
              const QMatrix4x4& frame);
    void Release(Qt::MouseButton button);
    // angleDelta in eighths of a degree, 120 a notch: the plane along its
    // normal, a positive turn keeping more.
    void Wheel(int angleDelta, double now, CutRegion& region);
    bool Dragging() const { return handle >= 0; }
    bool Moving(double now) const;

    bool on = false;

private:
    int handle = -1;
    QPointF last;
    double lastChange = -1e9;
};
