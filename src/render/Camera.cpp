#include <GL/glew.h>

#include "Camera.h"

#include <QMatrix3x3>
#include <algorithm>
#include <cmath>

#include "VolumeRenderer.h"

namespace {
// Half the vertical field of view of the display's projection, and its near plane.
const float tanHalfFieldOfView = float(std::tan(22.5 * M_PI / 180.0));
constexpr float nearPlane = 1.0f;
}  // namespace

QQuaternion Camera::RotationOfButton(int8_t viewStack)
{
    switch (viewStack) {
        case VolumeRenderer::Left:
            return QQuaternion::fromAxisAndAngle(0, 1, 0, 90);
        case VolumeRenderer::Down:
            return QQuaternion::fromAxisAndAngle(1, 0, 0, 270);
        case VolumeRenderer::Back:
            return QQuaternion::fromAxisAndAngle(0, 1, 0, 180);
        case VolumeRenderer::Right:
            return QQuaternion::fromAxisAndAngle(0, 1, 0, 270);
        case VolumeRenderer::Up:
            return QQuaternion::fromAxisAndAngle(1, 0, 0, 90);
        default:
            return QQuaternion();
    }
}

float Camera::FramedDistance(int width, int height)
{
    const float aspect = float(std::max(width, 1)) / float(std::max(height, 1));
    return 1.5f / (tanHalfFieldOfView * std::min(1.0f, aspect));
}

float Camera::NearestDistance(Vec3 boxHalfExtents)
{
    const float radius = std::sqrt(boxHalfExtents.x * boxHalfExtents.x + boxHalfExtents.y * boxHalfExtents.y +
                                   boxHalfExtents.z * boxHalfExtents.z);
    return radius + nearPlane * 1.05f;
}

int8_t Camera::ViewStackOfRotation(const QQuaternion& rotation)
{
    // Column i of the rotation matrix is where volume axis i goes; its z
    // component points toward the viewer.
    const QMatrix3x3 m = rotation.normalized().toRotationMatrix();
    int axis = 0;
    for (int i = 1; i < 3; ++i) {
        if (std::fabs(m(2, i)) > std::fabs(m(2, axis))) {
            axis = i;
        }
    }
    return int8_t(m(2, axis) > 0.0f ? VolumeRenderer::Right + axis : VolumeRenderer::Left + axis);
}

QQuaternion Camera::FreeRotation(Vec3 angles)
{
    return QQuaternion::fromAxisAndAngle(1, 0, 0, angles.x) * QQuaternion::fromAxisAndAngle(0, 1, 0, angles.y) *
           QQuaternion::fromAxisAndAngle(0, 0, 1, angles.z);
}

void Camera::Apply(VolumeRenderer& renderer, Vec3 pan, float distance, const QQuaternion& orientation,
                   bool applyFreeRotation, Vec3 freeRotation)
{
    const QQuaternion rotation = applyFreeRotation ? orientation * FreeRotation(freeRotation) : orientation;
    renderer.SetViewStack(ViewStackOfRotation(rotation));

    glTranslatef(pan.x, pan.y, -distance);
    // The orientation as a column-major matrix, as OpenGL keeps them.
    const QMatrix3x3 m = orientation.normalized().toRotationMatrix();
    const GLfloat matrix[16] = {m(0, 0), m(1, 0), m(2, 0), 0, m(0, 1), m(1, 1), m(2, 1), 0,
                                m(0, 2), m(1, 2), m(2, 2), 0, 0,       0,       0,       1};
    glMultMatrixf(matrix);
    if (applyFreeRotation) {
        glRotatef(freeRotation.x, 1, 0, 0);
        glRotatef(freeRotation.y, 0, 1, 0);
        glRotatef(freeRotation.z, 0, 0, 1);
    }
}

void Camera::AdvanceFreeRotation(Vec3& freeRotation, bool x, bool y, bool z)
{
    float* angles[3] = {&freeRotation.x, &freeRotation.y, &freeRotation.z};
    const bool chosen[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
        if (chosen[i]) {
            *angles[i] += 0.5f;
        }
        if (*angles[i] > 360.0f) {
            *angles[i] -= 360.0f;
        }
    }
}
