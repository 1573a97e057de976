#include "ViewControl.h"

#include <algorithm>
#include <cmath>

#include "Camera.h"

void ViewControl::SetViewport(int width, int height)
{
    viewportWidth = std::max(width, 1);
    viewportHeight = std::max(height, 1);
    // The first size known frames the view.
    if (distance == 0.0f) {
        Frame();
    }
}

void ViewControl::SetBox(Vec3 halfExtents)
{
    box = halfExtents;
    distance = Clamped(distance);
}

void ViewControl::Frame()
{
    pan = Vec3{};
    distance = Clamped(Camera::FramedDistance(viewportWidth, viewportHeight));
}

void ViewControl::ShowSide(int8_t viewStack)
{
    orientation = Camera::RotationOfButton(viewStack);
    Frame();
}

void ViewControl::StepForward() { distance = Clamped(distance * stepFactor); }

void ViewControl::StepBackward() { distance = Clamped(distance / stepFactor); }

void ViewControl::Press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position)
{
    if (drag != NoDrag) {
        return;
    }
    if (button == Qt::LeftButton) {
        drag = modifiers & Qt::ShiftModifier ? PanDrag : TurnDrag;
    } else if (button == Qt::MiddleButton) {
        drag = PanDrag;
    } else {
        return;
    }
    dragButton = button;
    // The view changes only once the mouse moves: no jump at the press.
    last = position;
}

void ViewControl::Move(QPointF position, double now)
{
    if (drag == NoDrag) {
        return;
    }
    const QPointF delta = position - last;
    last = position;
    if (delta.isNull()) {
        return;
    }
    if (drag == TurnDrag) {
        Turn(float(delta.x()) * degreesPerPixel, float(delta.y()) * degreesPerPixel);
    } else {
        Pan(float(delta.x()), float(delta.y()));
    }
    lastChange = now;
}

void ViewControl::Release(Qt::MouseButton button)
{
    if (button == dragButton) {
        drag = NoDrag;
        dragButton = Qt::NoButton;
    }
}

void ViewControl::Wheel(int angleDelta, double now)
{
    if (angleDelta == 0) {
        return;
    }
    distance = Clamped(distance * std::pow(wheelFactor, float(angleDelta) / 120.0f));
    lastChange = now;
}

void ViewControl::Turn(float horizontal, float vertical)
{
    // Screen axes: the turn is put in front of what the volume has already
    // turned, so it always follows the screen.
    const QQuaternion turn =
        QQuaternion::fromAxisAndAngle(0, 1, 0, horizontal) * QQuaternion::fromAxisAndAngle(1, 0, 0, vertical);
    orientation = (turn * orientation).normalized();
}

void ViewControl::Pan(float dx, float dy)
{
    // A pixel at the depth of the box's centre.
    const float unitsPerPixel = 2.0f * distance * float(std::tan(22.5 * M_PI / 180.0)) / float(viewportHeight);
    pan.x += dx * unitsPerPixel;
    pan.y -= dy * unitsPerPixel;
}

void ViewControl::SetDistance(float d) { distance = Clamped(d); }

void ViewControl::AdvanceFreeRotation(bool x, bool y, bool z, double now)
{
    Camera::AdvanceFreeRotation(freeRotation, x, y, z);
    if (x || y || z) {
        lastChange = now;
    }
}

void ViewControl::Apply(VolumeRenderer& renderer, bool applyFreeRotation) const
{
    Camera::Apply(renderer, pan, distance, orientation, applyFreeRotation, freeRotation);
}

bool ViewControl::Moving(double now) const { return now - lastChange < settleSeconds; }

float ViewControl::Clamped(float d) const
{
    const float nearest = Camera::NearestDistance(box);
    const float framed = Camera::FramedDistance(viewportWidth, viewportHeight);
    if (!std::isfinite(d)) {
        d = framed;
    }
    return std::clamp(d, nearest, std::max(nearest, farthest * framed));
}
