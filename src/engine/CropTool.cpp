#include "CropTool.h"

#include <QVector3D>
#include <QVector4D>
#include <cmath>

#include "ViewControl.h"

namespace {
QVector3D ToQt(Vec3 v) { return {v.x, v.y, v.z}; }

// The panel pixel of a box point and its depth in normalised device
// coordinates; false behind the eye.
bool Project(const QMatrix4x4& frame, QVector3D point, QPointF& pixel, float& depth)
{
    const QVector4D clip = frame.map(QVector4D(point, 1.0f));
    if (clip.w() <= 1e-6f) {
        return false;
    }
    pixel = QPointF(clip.x() / clip.w(), clip.y() / clip.w());
    depth = clip.z() / clip.w();
    return true;
}
}  // namespace

bool CropTool::HandlePoint(const CutRegion& region, Vec3 half, int handle, Vec3& point)
{
    const Vec3 low = region.Low(half), high = region.High(half);
    const Vec3 centre{(low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, (low.z + high.z) * 0.5f};
    if (handle >= 0 && handle < 6) {
        point = centre;
        const float at = handle % 2 == 0 ? (handle == 0   ? low.x
                                            : handle == 2 ? low.y
                                                          : low.z)
                                         : (handle == 1   ? high.x
                                            : handle == 3 ? high.y
                                                          : high.z);
        (handle / 2 == 0 ? point.x : handle / 2 == 1 ? point.y : point.z) = at;
        return true;
    }
    if (handle != planeHandle || !region.clip) {
        return false;
    }
    // The plane's point nearest the crop box's centre.
    const QVector3D n = ToQt(region.normal);
    const float length2 = n.lengthSquared();
    if (!(length2 > 0.0f)) {
        return false;
    }
    const QVector3D c = ToQt(centre);
    const QVector3D p = c - n * ((QVector3D::dotProduct(n, c) - region.distance) / length2);
    point = {p.x(), p.y(), p.z()};
    return true;
}

int CropTool::HandleAt(const CutRegion& region, Vec3 half, const QMatrix4x4& frame, QPointF position)
{
    int nearest = -1;
    float best = grabPixels;
    for (int h = 0; h <= planeHandle; ++h) {
        Vec3 point;
        QPointF pixel;
        float depth = 0.0f;
        if (!HandlePoint(region, half, h, point) || !Project(frame, ToQt(point), pixel, depth)) {
            continue;
        }
        const QPointF d = pixel - position;
        const float distance = float(std::hypot(d.x(), d.y()));
        // The plane's handle wins a tie: it may sit on a side's.
        if (distance < best || (h == planeHandle && distance <= best)) {
            best = distance;
            nearest = h;
        }
    }
    return nearest;
}

bool CropTool::Press(Qt::MouseButton button, QPointF position, const CutRegion& drawn, Vec3 half,
                     const QMatrix4x4& frame)
{
    if (!on || button != Qt::LeftButton || handle >= 0) {
        return false;
    }
    handle = HandleAt(drawn, half, frame, position);
    last = position;
    return handle >= 0;
}

void CropTool::Move(QPointF position, double now, CutRegion& region, const CutRegion& drawn, Vec3 half,
                    const QMatrix4x4& frame)
{
    if (handle < 0) {
        return;
    }
    const QPointF delta = position - last;
    last = position;
    Vec3 point;
    if (delta.isNull() || !HandlePoint(drawn, half, handle, point)) {
        return;
    }
    // The handle's way on the screen, in pixels: where a move along its axis
    // or normal carries it, by
    // a tenth of the side, or a tenth of the box's unit along the normal.
    QVector3D along;
    float reach = 0.1f;
    if (handle < 6) {
        const int a = handle / 2;
        along[a] = 1.0f;
        reach = 0.1f * 2.0f * (a == 0 ? half.x : a == 1 ? half.y : half.z);
    } else {
        along = ToQt(drawn.normal).normalized();
    }
    QPointF from, to;
    float fromDepth = 0.0f, toDepth = 0.0f;
    if (!Project(frame, ToQt(point), from, fromDepth) || !Project(frame, ToQt(point) + along * reach, to, toDepth)) {
        return;
    }
    const QPointF way = to - from;
    const double length2 = way.x() * way.x() + way.y() * way.y();
    // The share of reach the drag covers along that way.
    const double moved = length2 > 4.0 ? (delta.x() * way.x() + delta.y() * way.y()) / length2 : 0.0;
    if (handle < 6) {
        region.SetCrop(handle, region.crop[handle] + float(moved * 0.1));
    } else {
        float units = float(moved) * reach;
        if (length2 <= 25.0) {
            // A plane nearly facing the viewer: down brings it nearer.
            const float towardsViewer = toDepth < fromDepth ? 1.0f : -1.0f;
            units = float(delta.y()) * unitsPerPixel * towardsViewer;
        }
        region.distance += units * ToQt(region.normal).length();
    }
    lastChange = now;
}

void CropTool::Release(Qt::MouseButton button)
{
    if (button == Qt::LeftButton) {
        handle = -1;
    }
}

void CropTool::Wheel(int angleDelta, double now, CutRegion& region)
{
    if (angleDelta == 0 || !region.clip) {
        return;
    }
    region.distance += float(angleDelta) / 120.0f * wheelStep * ToQt(region.normal).length();
    lastChange = now;
}

bool CropTool::Moving(double now) const { return now - lastChange < ViewControl::settleSeconds; }
