#pragma once

#include <cstdint>
#include <optional>

#include "CutRegion.h"
#include "Vec3.h"
#include "VolumeRenderer.h"

// How the volume is drawn, apart from the volume itself and its transfer
// function: what the window's controls set and what the tools take on their
// command line. The defaults are the program's start-up state.
struct ViewSettings {
    uint8_t method = VolumeRenderer::RayCasting;
    uint8_t classification = VolumeRenderer::NoClassification;
    uint8_t colorMap = VolumeRenderer::Intensity;
    uint8_t blend = VolumeRenderer::DefaultBlend;
    int32_t sliceMode = VolumeRenderer::AllSlices;
    // The volume texture's planes along x, y and z; an open sets them to the
    // volume's sizes.
    int32_t sliceCounts[3] = {0, 0, 0};
    // The one slice of each stack, or of each axis of the volume texture,
    // drawn under "Specific"; from 1.
    int32_t stackSlices[3] = {1, 1, 1};
    int32_t volumeSlices[3] = {1, 1, 1};
    // The ray caster's "dz =", "mi =", "Adaptive step size" and "Lighting".
    float step = 0.01f;
    float maxIntensity = 1.0f;
    bool adaptiveStep = true;
    bool lighting = true;
    // A ray-cast view at rest shows the average of frames whose samples lie
    // at other offsets within the step, which converges to the picture of a
    // fine step; off, every frame is drawn whole, as for timing.
    bool converge = true;

    // The camera: the side of a camera button, then a turn as a left drag
    // gives it (degrees about the screen's vertical and horizontal axes), a
    // pan in pixels, the eye's distance (framed where unset) and the free
    // rotation in degrees about x, y and z, applied where freeRotate is set.
    int8_t view = VolumeRenderer::Front;
    float turn[2] = {0.0f, 0.0f};
    float pan[2] = {0.0f, 0.0f};
    std::optional<float> distance;
    bool freeRotate = false;
    Vec3 rotation;
    // The axes the free rotation turns about from frame to frame.
    bool rotateAxes[3] = {false, false, false};

    // What of the volume is kept and how its cuts show. Where
    // planeFollowsCamera is set, the plane's normal is given in the camera's
    // frame (x to the right, y up, z towards the viewer) and the plane keeps
    // its place in the view as the volume turns; else it turns with the
    // volume.
    CutRegion cut;
    bool planeFollowsCamera = false;

    // The render panel in the units of its mouse events, and the device
    // pixels to each.
    int width = 537;
    int height = 595;
    double pixelRatio = 1.0;
};
