// Cutting into the volume for the slicing methods: the crop box and the
// plane as OpenGL clip planes around the slices, and the faces where they cut
// through the volume drawn as opaque slices of its densities. The ray caster
// cuts its rays itself (RayCasting.frag).
#include "VolumeRenderer.h"

#include <QMatrix4x4>
#include <QVector3D>
#include <algorithm>
#include <cmath>

#include "Log.h"
#include "glsl.h"

namespace {
// Clip plane 0 to 5 for the crop box's sides, 6 for the plane.
constexpr int cropPlanes = 6;

QVector3D ToQt(Vec3 v) { return {v.x, v.y, v.z}; }
}  // namespace

void VolumeRenderer::BeginCut()
{
    // Planes are given in the box's coordinates, the modelview of the frame.
    const Vec3 low = cut.Low(BoxHalfExtents()), high = cut.High(BoxHalfExtents());
    const float lows[3] = {low.x, low.y, low.z}, highs[3] = {high.x, high.y, high.z};
    for (int side = 0; side < 6; ++side) {
        if (!cut.Crops(side)) {
            continue;
        }
        // OpenGL keeps the points where the equation is not negative.
        GLdouble equation[4] = {0.0, 0.0, 0.0, 0.0};
        const int a = side / 2;
        equation[a] = side % 2 == 0 ? 1.0 : -1.0;
        equation[3] = side % 2 == 0 ? -lows[a] : highs[a];
        glClipPlane(GL_CLIP_PLANE0 + side, equation);
        glEnable(GL_CLIP_PLANE0 + side);
    }
    if (cut.clip) {
        const GLdouble equation[4] = {-cut.normal.x, -cut.normal.y, -cut.normal.z, cut.distance};
        glClipPlane(GL_CLIP_PLANE0 + cropPlanes, equation);
        glEnable(GL_CLIP_PLANE0 + cropPlanes);
    }
}

void VolumeRenderer::EndCut()
{
    for (int plane = 0; plane <= cropPlanes; ++plane) {
        glDisable(GL_CLIP_PLANE0 + plane);
    }
}

void VolumeRenderer::DeleteCutFaceTexture()
{
    if (cutFaceTexture != none) {
        glDeleteTextures(1, &cutFaceTexture);
        cutFaceTexture = none;
    }
}

GLuint VolumeRenderer::CutFaceDensities()
{
    if (renderMethod == VolumeTexture && volumeTextureHoldsDensities) {
        return volumeTexture;
    }
    if (cutFaceTexture != none || !densities) {
        return cutFaceTexture;
    }
    // The slice stacks have no 3D texture: one of the densities, made the
    // first time a face is drawn and kept until the next load.
    glGenTextures(1, &cutFaceTexture);
    glBindTexture(GL_TEXTURE_3D, cutFaceTexture);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage3D(GL_TEXTURE_3D, 0, GL_LUMINANCE16, GLsizei(texDimX), GLsizei(texDimY), GLsizei(texDimZ), 0,
                 GL_LUMINANCE, GL_UNSIGNED_SHORT, densities);
    glPopClientAttrib();
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        // Without room for it the faces are left out; the volume still shows.
        LogWarning((std::string("Cut face: no texture of the densities: ") +
                    reinterpret_cast<const char*>(glewGetErrorString(error)))
                       .c_str());
        DeleteCutFaceTexture();
    }
    return cutFaceTexture;
}

bool VolumeRenderer::DrawsCutFaces() const
{
    // Under maximum and minimum intensity the cut only limits the projection.
    return cut.face != CutRegion::NoFace && cut.Cuts() && (blendMode == Blend || blendMode == DefaultBlend);
}

void VolumeRenderer::RenderCutFaces(bool front)
{
    if (!DrawsCutFaces() || !cutFaceProgram) {
        return;
    }
    const GLuint densityTexture = CutFaceDensities();
    if (densityTexture == none) {
        return;
    }
    const Vec3 half = BoxHalfExtents();
    GLfloat modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    const QMatrix4x4 toEye = QMatrix4x4(modelview).transposed();

    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_DEPTH_BUFFER_BIT);
    // A face is the nearest or the farthest of the kept part by its side; a
    // plane of the stack may lie in it and must not hide it.
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glActiveTexture(GL_TEXTURE1);
    glEnable(GL_TEXTURE_1D);
    glBindTexture(GL_TEXTURE_1D, transferTexture);
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, densityTexture);

    // Without classification the slicing methods draw grey densities, and so
    // does the face.
    const bool grey = cut.face == CutRegion::GreyFace || classification == NoClassification;
    cutFaceProgram->bind();
    cutFaceProgram->setUniform1i("density_tex", 0);
    cutFaceProgram->setUniform1i("transfer_tex", 1);
    cutFaceProgram->setUniform1i("grey", grey ? 1 : 0);
    cutFaceProgram->setUniform1i("premultiplied", premultipliedTextures ? 1 : 0);
    glUniform2f(cutFaceProgram->uniformLocation("greyWindow"), cut.face == CutRegion::GreyFace ? cut.greyLow : 0.0f,
                cut.face == CutRegion::GreyFace ? cut.greyHigh : float(std::max(maxDensity, 1u)));

    const float cmax[3] = {texCoordMaxX, texCoordMaxY, texCoordMaxZ};
    const float halves[3] = {half.x, half.y, half.z};
    for (const CutRegion::Face& face : cut.CutFaces(half)) {
        // A face is seen from in front where the eye lies on its outer side.
        const QVector3D corner = toEye.map(ToQt(face.corners[0]));
        const QVector3D normal = toEye.mapVector(ToQt(face.normal)).normalized();
        const bool facesViewer = QVector3D::dotProduct(normal, corner) < 0.0f;
        if (facesViewer != front) {
            continue;
        }
        QVector3D centre;
        for (const Vec3& p : face.corners) {
            centre += toEye.map(ToQt(p));
        }
        centre /= float(face.corners.size());
        const float cosine = std::fabs(QVector3D::dotProduct(normal, centre.normalized()));
        cutFaceProgram->setUniform1f("shade", 0.3f + 0.7f * cosine);
        glBegin(GL_POLYGON);
        for (const Vec3& p : face.corners) {
            const float point[3] = {p.x, p.y, p.z};
            GLfloat texture[3];
            for (int a = 0; a < 3; ++a) {
                texture[a] = (point[a] / halves[a] + 1.0f) * 0.5f * cmax[a];
            }
            glTexCoord3fv(texture);
            glVertex3fv(point);
        }
        glEnd();
    }
    cutFaceProgram->unbind();
    glPopAttrib();
    glActiveTexture(GL_TEXTURE0);
}
