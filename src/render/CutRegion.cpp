#include "CutRegion.h"

#include <algorithm>
#include <cmath>

namespace {
Vec3 Add(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Scale(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Axis(Vec3 v, int a) { return a == 0 ? v.x : a == 1 ? v.y : v.z; }
Vec3 Unit(int a, float s) { return {a == 0 ? s : 0.0f, a == 1 ? s : 0.0f, a == 2 ? s : 0.0f}; }

// Keeps the part of a convex polygon where dot(n, p) <= d.
std::vector<Vec3> ClipPolygon(const std::vector<Vec3>& polygon, Vec3 n, float d)
{
    std::vector<Vec3> kept;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const Vec3 a = polygon[i];
        const Vec3 b = polygon[(i + 1) % polygon.size()];
        const float fa = Dot(n, a) - d, fb = Dot(n, b) - d;
        if (fa <= 0.0f) {
            kept.push_back(a);
        }
        if ((fa < 0.0f && fb > 0.0f) || (fa > 0.0f && fb < 0.0f)) {
            kept.push_back(Add(a, Scale(Add(b, Scale(a, -1.0f)), fa / (fa - fb))));
        }
    }
    return kept;
}
}  // namespace

bool CutRegion::Crops(int side) const { return side % 2 == 0 ? crop[side] > 0.0f : crop[side] < 1.0f; }

bool CutRegion::Cropped() const
{
    for (int s = 0; s < 6; ++s) {
        if (Crops(s)) {
            return true;
        }
    }
    return false;
}

Vec3 CutRegion::Low(Vec3 half) const
{
    return {(2.0f * crop[0] - 1.0f) * half.x, (2.0f * crop[2] - 1.0f) * half.y, (2.0f * crop[4] - 1.0f) * half.z};
}

Vec3 CutRegion::High(Vec3 half) const
{
    return {(2.0f * crop[1] - 1.0f) * half.x, (2.0f * crop[3] - 1.0f) * half.y, (2.0f * crop[5] - 1.0f) * half.z};
}

bool CutRegion::Keeps(Vec3 point, Vec3 half) const
{
    const Vec3 low = Low(half), high = High(half);
    for (int a = 0; a < 3; ++a) {
        if (Axis(point, a) < Axis(low, a) || Axis(point, a) > Axis(high, a)) {
            return false;
        }
    }
    return !clip || Dot(normal, point) <= distance;
}

void CutRegion::SetCrop(int side, float share)
{
    if (side < 0 || side > 5 || !std::isfinite(share)) {
        return;
    }
    const float other = crop[side ^ 1];
    crop[side] = side % 2 == 0 ? std::clamp(share, 0.0f, std::max(0.0f, other - thinnest))
                               : std::clamp(share, std::min(1.0f, other + thinnest), 1.0f);
}

void CutRegion::ResetCrop()
{
    for (int s = 0; s < 6; ++s) {
        crop[s] = float(s % 2);
    }
}

void CutRegion::Flip()
{
    normal = Scale(normal, -1.0f);
    distance = -distance;
}

std::vector<CutRegion::Face> CutRegion::CutFaces(Vec3 half) const
{
    std::vector<Face> faces;
    const Vec3 low = Low(half), high = High(half);
    const float length = std::sqrt(Dot(normal, normal));
    const bool plane = clip && length > 0.0f && std::isfinite(length);
    const Vec3 n = plane ? Scale(normal, 1.0f / length) : Vec3{};
    const float d = plane ? distance / length : 0.0f;
    for (int side = 0; side < 6; ++side) {
        if (!Crops(side)) {
            continue;
        }
        const int a = side / 2, u = (a + 1) % 3, v = (a + 2) % 3;
        const float at = Axis(side % 2 == 0 ? low : high, a);
        std::vector<Vec3> corners;
        const float us[4] = {Axis(low, u), Axis(high, u), Axis(high, u), Axis(low, u)};
        const float vs[4] = {Axis(low, v), Axis(low, v), Axis(high, v), Axis(high, v)};
        for (int c = 0; c < 4; ++c) {
            corners.push_back(Add(Add(Unit(a, at), Unit(u, us[c])), Unit(v, vs[c])));
        }
        if (plane) {
            corners = ClipPolygon(corners, n, d);
        }
        if (corners.size() >= 3) {
            faces.push_back({corners, Unit(a, side % 2 == 0 ? -1.0f : 1.0f)});
        }
    }

    Face face;
    if (PlaneFace(half, face)) {
        faces.push_back(face);
    }
    return faces;
}

bool CutRegion::PlaneFace(Vec3 half, Face& face) const
{
    const float length = std::sqrt(Dot(normal, normal));
    if (!clip || !(length > 0.0f) || !std::isfinite(length) || !std::isfinite(distance)) {
        return false;
    }
    const Vec3 n = Scale(normal, 1.0f / length);
    const float d = distance / length;
    const Vec3 low = Low(half), high = High(half);
    // A square on the plane larger than the box, cut down to the box.
    const Vec3 helper = std::fabs(n.x) < 0.9f ? Vec3{1.0f, 0.0f, 0.0f} : Vec3{0.0f, 1.0f, 0.0f};
    Vec3 e1 = Cross(n, helper);
    e1 = Scale(e1, 1.0f / std::sqrt(Dot(e1, e1)));
    const Vec3 e2 = Cross(n, e1);
    const Vec3 centre = Scale(n, d);
    const float r = 4.0f * std::max({half.x, half.y, half.z, std::fabs(d)});
    std::vector<Vec3> corners = {
        Add(centre, Add(Scale(e1, -r), Scale(e2, -r))), Add(centre, Add(Scale(e1, r), Scale(e2, -r))),
        Add(centre, Add(Scale(e1, r), Scale(e2, r))), Add(centre, Add(Scale(e1, -r), Scale(e2, r)))};
    for (int a = 0; a < 3 && corners.size() >= 3; ++a) {
        corners = ClipPolygon(corners, Unit(a, -1.0f), -Axis(low, a));
        corners = ClipPolygon(corners, Unit(a, 1.0f), Axis(high, a));
    }
    if (corners.size() < 3) {
        return false;
    }
    face = {corners, n};
    return true;
}

bool operator==(const CutRegion& a, const CutRegion& b)
{
    return std::equal(a.crop, a.crop + 6, b.crop) && a.clip == b.clip && a.normal.x == b.normal.x &&
           a.normal.y == b.normal.y && a.normal.z == b.normal.z && a.distance == b.distance && a.face == b.face &&
           a.greyLow == b.greyLow && a.greyHigh == b.greyHigh;
}
