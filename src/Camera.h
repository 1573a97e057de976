#pragma once

#include <cstdint>

#include "Vec3.h"

class VolumeRenderer;

// The camera of the frame loop: where the viewer stands, the rotation chosen
// by a camera button and the accumulated free rotation. The main window and
// the command-line renderer both draw through it, so their frames agree.
struct Camera {
    // The rotation that turns one side of the volume toward the viewer, and
    // the view stack that draws that side back to front.
    struct ButtonView {
        int8_t viewStack;
        Vec3 axis;
        float angle;
    };
    static ButtonView ViewOfButton(int8_t viewStack);

    // Puts the camera transform on the identity modelview matrix: translation,
    // button rotation, then, when asked, the free rotation about x, y and z,
    // after the renderer has been given the stack that suits it.
    static void Apply(VolumeRenderer& renderer, Vec3 translation, Vec3 rotationAxis, float rotationAngle,
                      bool applyFreeRotation, Vec3 freeRotation);

    // One frame's step of the free rotation: half a degree about each chosen
    // axis; an angle above 360 wraps, exactly 360 stays.
    static void AdvanceFreeRotation(Vec3& freeRotation, bool x, bool y, bool z);
};
