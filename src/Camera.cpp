#include "Camera.h"

#include "Volume.h"

Camera::ButtonView Camera::ViewOfButton(int8_t viewStack)
{
    switch (viewStack) {
        case VolumeRenderer::Left:
            return {VolumeRenderer::Left, {0, 1, 0}, 90};
        case VolumeRenderer::Down:
            return {VolumeRenderer::Down, {1, 0, 0}, 270};
        case VolumeRenderer::Back:
            return {VolumeRenderer::Back, {0, 1, 0}, 180};
        case VolumeRenderer::Right:
            return {VolumeRenderer::Right, {0, 1, 0}, 270};
        case VolumeRenderer::Up:
            return {VolumeRenderer::Up, {1, 0, 0}, 90};
        default:
            return {VolumeRenderer::Front, {0, 0, 0}, 0};
    }
}

void Camera::Apply(VolumeRenderer& renderer, Vec3 translation, Vec3 rotationAxis, float rotationAngle,
                   bool applyFreeRotation, Vec3 freeRotation)
{
    glTranslatef(translation.x, translation.y, translation.z);
    glRotatef(rotationAngle, rotationAxis.x, rotationAxis.y, rotationAxis.z);
    if (applyFreeRotation) {
        renderer.SetViewStack(VolumeRenderer::ViewStackFromAngles(freeRotation));
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
