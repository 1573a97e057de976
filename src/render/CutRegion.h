#pragma once

#include <cstdint>
#include <vector>

#include "Vec3.h"

// What of the volume is kept and how its cuts are drawn: a crop box given as
// shares of each side, and a plane that keeps one side of it. Coordinates
// are the box's own: centred on the volume, its largest side from -1 to 1,
// turning with the volume.
struct CutRegion {
    enum FaceStyle : uint8_t { NoFace = 0, ColorFace = 1, GreyFace = 2 };

    // x0, x1, y0, y1, z0, z1, each from 0 to 1 of its side.
    float crop[6] = {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f};
    // The plane keeps the points p with dot(normal, p) <= distance.
    bool clip = false;
    Vec3 normal{0.0f, 0.0f, 1.0f};
    float distance = 0.0f;
    // Where the box or the plane cuts through the volume, an opaque face of
    // the densities there: in the transfer function's colours, clear where
    // it shows nothing, or grey levels over a window of densities, clear
    // below it.
    uint8_t face = NoFace;
    float greyLow = 0.0f;
    float greyHigh = 4095.0f;

    // The nearest two faces of the crop box may come, as a share of a side.
    static constexpr float thinnest = 0.01f;

    // Whether side s (0 to 5, in the order of crop) lies inside the volume.
    bool Crops(int side) const;
    bool Cropped() const;
    // Whether any part of the volume is cut away.
    bool Cuts() const { return clip || Cropped(); }
    // The crop box's corners in box coordinates, for a box of these half
    // extents.
    Vec3 Low(Vec3 half) const;
    Vec3 High(Vec3 half) const;
    // Whether the point of the box is kept.
    bool Keeps(Vec3 point, Vec3 half) const;
    // Sets one side of the crop box, kept within 0 to 1 and at least
    // `thinnest` from the opposite side.
    void SetCrop(int side, float share);
    // The whole volume, no crop.
    void ResetCrop();
    // The plane facing the other way, keeping the other side.
    void Flip();

    // A face of the kept part that cuts through the volume: a convex polygon
    // in box coordinates, its normal pointing out of the kept part.
    struct Face {
        std::vector<Vec3> corners;
        Vec3 normal;
    };
    std::vector<Face> CutFaces(Vec3 half) const;
    // Where the plane crosses the crop box; false where it is off or misses.
    bool PlaneFace(Vec3 half, Face& face) const;
};

bool operator==(const CutRegion& a, const CutRegion& b);
inline bool operator!=(const CutRegion& a, const CutRegion& b) { return !(a == b); }
