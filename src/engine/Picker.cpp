#include "Picker.h"

#include <QVector4D>

#include <algorithm>
#include <cmath>

namespace {
// The density at a place in voxels (centres at i + 0.5), interpolated
// between the eight nearest samples, the border repeated.
float Trilinear(const uint16_t* grid, const uint32_t dim[3], const uint32_t texDim[3], const float at[3])
{
    int i0[3];
    float f[3];
    for (int a = 0; a < 3; ++a) {
        const float x = std::clamp(at[a] - 0.5f, 0.0f, float(dim[a] - 1));
        i0[a] = std::min(int(x), int(dim[a]) - 1);
        f[a] = x - float(i0[a]);
    }
    float sum = 0.0f;
    for (int corner = 0; corner < 8; ++corner) {
        float weight = 1.0f;
        uint64_t index = 0, stride = 1;
        for (int a = 0; a < 3; ++a) {
            const bool up = (corner >> a) & 1;
            const int i = std::min(i0[a] + (up ? 1 : 0), int(dim[a]) - 1);
            weight *= up ? f[a] : 1.0f - f[a];
            index += uint64_t(i) * stride;
            stride *= texDim[a];
        }
        sum += weight * float(grid[index]);
    }
    return sum;
}
}  // namespace

Pick Picker::Along(QPointF pixel, const QMatrix4x4& frame, Vec3 half, const CutRegion& cut, const uint16_t* grid,
                   const uint32_t dim[3], const uint32_t texDim[3], const TransferFunction& function, float window)
{
    Pick pick;
    bool invertible = false;
    const QMatrix4x4 back = frame.inverted(&invertible);
    if (!grid || !invertible || dim[0] == 0 || dim[1] == 0 || dim[2] == 0) {
        return pick;
    }
    const QVector4D nearPoint = back.map(QVector4D(float(pixel.x()), float(pixel.y()), -1.0f, 1.0f));
    const QVector4D farPoint = back.map(QVector4D(float(pixel.x()), float(pixel.y()), 1.0f, 1.0f));
    const QVector3D origin = nearPoint.toVector3DAffine();
    const QVector3D ray = farPoint.toVector3DAffine() - origin;

    // The ray's stretch through the crop box and the plane's kept side.
    const Vec3 low = cut.Low(half), high = cut.High(half);
    const float lows[3] = {low.x, low.y, low.z}, highs[3] = {high.x, high.y, high.z};
    float tEnter = 0.0f, tExit = 1.0f;
    for (int a = 0; a < 3; ++a) {
        if (std::fabs(ray[a]) < 1e-12f) {
            if (origin[a] < lows[a] || origin[a] > highs[a]) {
                return pick;
            }
            continue;
        }
        const float t0 = (lows[a] - origin[a]) / ray[a], t1 = (highs[a] - origin[a]) / ray[a];
        tEnter = std::max(tEnter, std::min(t0, t1));
        tExit = std::min(tExit, std::max(t0, t1));
    }
    if (cut.clip) {
        const QVector3D n(cut.normal.x, cut.normal.y, cut.normal.z);
        const float facing = QVector3D::dotProduct(n, ray), side = QVector3D::dotProduct(n, origin) - cut.distance;
        if (facing > 0.0f) {
            tExit = std::min(tExit, -side / facing);
        } else if (facing < 0.0f) {
            tEnter = std::max(tEnter, -side / facing);
        } else if (side > 0.0f) {
            return pick;
        }
    }
    if (!(tExit > tEnter)) {
        return pick;
    }

    // From box coordinates to voxels.
    const float halves[3] = {half.x, half.y, half.z};
    auto toVoxels = [&](float t, float out[3]) {
        const QVector3D p = origin + ray * t;
        for (int a = 0; a < 3; ++a) {
            out[a] = (p[a] / halves[a] + 1.0f) * 0.5f * float(dim[a]);
        }
    };
    float enter[3], leave[3];
    toVoxels(tEnter, enter);
    toVoxels(tExit, leave);
    const float length =
        std::max({std::fabs(leave[0] - enter[0]), std::fabs(leave[1] - enter[1]), std::fabs(leave[2] - enter[2])});
    const int steps = std::max(1, int(std::ceil(length * samplesPerVoxel)));
    float densest = -1.0f;
    for (int k = 0; k <= steps; ++k) {
        const float s = float(k) / float(steps);
        const float at[3] = {enter[0] + (leave[0] - enter[0]) * s, enter[1] + (leave[1] - enter[1]) * s,
                             enter[2] + (leave[2] - enter[2]) * s};
        const float d = Trilinear(grid, dim, texDim, at);
        const bool shows = d <= window && function.Evaluate(uint32_t(std::lround(d))).a > 0;
        if (shows || d > densest) {
            pick.hit = true;
            pick.density = d;
            pick.voxel = Vec3{at[0], at[1], at[2]};
            densest = d;
        }
        if (shows) {
            pick.shows = true;
            break;
        }
    }
    return pick;
}
