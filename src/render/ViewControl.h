#pragma once

#include <QPointF>
#include <QQuaternion>
#include <Qt>
#include <cstdint>

#include "Vec3.h"

class VolumeRenderer;

// The view of the render panel and the mouse's rules for changing it: a left
// drag turns the volume about its centre like a trackball, the wheel and the
// Forward and Backward buttons move towards it or away, a middle or Shift-left
// drag pans, a camera button shows one side framed. Times are seconds of any
// steady clock; they tell whether the view is still moving.
class ViewControl {
public:
    // Degrees of turn per pixel of drag.
    static constexpr float degreesPerPixel = 0.5f;
    // The eye's distance is multiplied by wheelFactor for each wheel notch
    // towards the volume and by stepFactor for each Forward (divided going back).
    static constexpr float wheelFactor = 0.9f;
    static constexpr float stepFactor = 0.8f;
    // The farthest the eye may go, in framed distances.
    static constexpr float farthest = 20.0f;
    // How long after its last change the view still counts as moving.
    static constexpr double settleSeconds = 0.25;

    // The panel's size in the pixels of its mouse events.
    void SetViewport(int width, int height);
    // The half extents of the box of the volume shown, which bound how near
    // the eye may come.
    void SetBox(Vec3 halfExtents);
    // The whole volume in view at the framed distance, centred, the
    // orientation kept.
    void Frame();
    // The side of a camera button, framed.
    void ShowSide(int8_t viewStack);
    void StepForward();
    void StepBackward();

    void Press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position);
    void Move(QPointF position, double now);
    void Release(Qt::MouseButton button);
    // angleDelta in eighths of a degree, as Qt's wheel events give it: 120 a notch.
    void Wheel(int angleDelta, double now);

    // A turn as a left drag gives it: about the screen's vertical axis by
    // 'horizontal' degrees (positive carries the near side to the right), then
    // about its horizontal axis by 'vertical' (positive carries it down).
    void Turn(float horizontal, float vertical);
    // A pan by a number of pixels, as a middle drag gives it (y downwards).
    void Pan(float dx, float dy);
    void SetDistance(float d);

    // One frame's step of the free rotation about the chosen axes.
    void AdvanceFreeRotation(bool x, bool y, bool z, double now);
    // Puts the camera transform on the modelview matrix and gives the
    // renderer the view stack that faces the viewer.
    void Apply(VolumeRenderer& renderer, bool applyFreeRotation) const;
    bool Moving(double now) const;

    QQuaternion orientation;
    Vec3 pan;
    float distance = 0.0f;
    Vec3 freeRotation;

private:
    enum Drag { NoDrag, TurnDrag, PanDrag };
    float Clamped(float d) const;

    int viewportWidth = 537;
    int viewportHeight = 595;
    Vec3 box{1.0f, 1.0f, 1.0f};
    Drag drag = NoDrag;
    Qt::MouseButton dragButton = Qt::NoButton;
    QPointF last;
    double lastChange = -1e9;
};
