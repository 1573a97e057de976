#pragma once

#include <QQuaternion>
#include <cstdint>

#include "Vec3.h"

class VolumeRenderer;

// The camera of the frame loop: where the viewer stands relative to the
// volume's box (largest side from -1 to +1), its orientation, and the
// accumulated free rotation. The main window and the command-line renderer
// both draw through it, so their frames agree.
struct Camera {
    // The rotation of a camera button, which turns the side of the volume
    // whose view stack it sets toward the viewer.
    static QQuaternion RotationOfButton(int8_t viewStack);

    // The distance from the eye to the box's centre at which a side of 2 units
    // spans two thirds of the narrower side of a width x height panel.
    static float FramedDistance(int width, int height);
    // The nearest the eye may come to the centre of a box of these half
    // extents: outside the box and with all of it beyond the near plane.
    static float NearestDistance(Vec3 boxHalfExtents);

    // The view stack whose slices face the viewer under this rotation of the
    // volume: the volume axis that the rotation carries nearest to the viewing
    // axis, ascending where it then points toward the viewer.
    static int8_t ViewStackOfRotation(const QQuaternion& rotation);

    // The free rotation's angles about x, then y, then z, as one rotation.
    static QQuaternion FreeRotation(Vec3 angles);

    // Puts the camera transform on the identity modelview matrix: the eye at
    // 'distance' from the box's centre, which is shifted by 'pan' across the
    // view, the orientation, then, when asked, the free rotation about x, y
    // and z. The renderer is given the view stack of the whole rotation.
    static void Apply(VolumeRenderer& renderer, Vec3 pan, float distance, const QQuaternion& orientation,
                      bool applyFreeRotation, Vec3 freeRotation);

    // One frame's step of the free rotation: half a degree about each chosen
    // axis; an angle above 360 wraps, exactly 360 stays.
    static void AdvanceFreeRotation(Vec3& freeRotation, bool x, bool y, bool z);
};
