#pragma once

#include <QMatrix4x4>
#include <QPointF>

#include <cstdint>

#include "CutRegion.h"
#include "TransferFunction.h"
#include "Vec3.h"

// What a click in the render panel points at: along the pixel's ray through
// the kept part of the volume, the first sample the transfer function shows,
// or where none shows the densest sample.
struct Pick {
    bool hit = false;
    // The sample is one the function shows (not the densest of a clear ray).
    bool shows = false;
    float density = 0.0f;
    // In voxels from the volume's first corner, voxel centres at i + 0.5.
    Vec3 voxel;
};

class Picker {
public:
    // Samples a ray every quarter of a voxel along its largest axis.
    static constexpr float samplesPerVoxel = 4.0f;

    // grid: the densities, texDim[0] by texDim[1] by texDim[2] with the
    // volume's dim in the first samples of each axis; frame: from the box's
    // coordinates to the panel's units (y down) and depth; window: the
    // densities above it are not drawn.
    static Pick Along(QPointF pixel, const QMatrix4x4& frame, Vec3 half, const CutRegion& cut, const uint16_t* grid,
                      const uint32_t dim[3], const uint32_t texDim[3], const TransferFunction& function, float window);
};
