// Ray casting: the colour cube whose colours are its texture-space positions,
// the entry and exit images, and the screen-filling pass of the ray caster.
#include "Volume.h"

#include <GL/glu.h>

#include "Display.h"
#include "Log.h"
#include "glsl.h"

namespace {
struct CubeCorner {
    GLfloat p[3];
    GLfloat c[3];
};

const CubeCorner cubeCorners[8] = {
    {{+1, +1, +1}, {1, 1, 1}}, {{-1, +1, +1}, {0, 1, 1}}, {{-1, -1, +1}, {0, 0, 1}},
    {{+1, -1, +1}, {1, 0, 1}}, {{+1, +1, -1}, {1, 1, 0}}, {{-1, +1, -1}, {0, 1, 0}},
    {{-1, -1, -1}, {0, 0, 0}}, {{+1, -1, -1}, {1, 0, 0}},
};

// Six faces, each counter-clockwise seen from outside.
const int cubeFaces[6][4] = {
    {0, 1, 2, 3}, {7, 6, 5, 4}, {0, 4, 5, 1}, {7, 3, 2, 6}, {6, 2, 1, 5}, {0, 3, 7, 4},
};
}  // namespace

void VolumeRenderer::BuildCubeList()
{
    glNewList(cubeList, GL_COMPILE);
    glBegin(GL_QUADS);
    for (const auto& face : cubeFaces) {
        for (int corner : face) {
            const CubeCorner& v = cubeCorners[corner];
            glColor3f(v.c[0], v.c[1], v.c[2]);
            glTexCoord3f(v.c[0], v.c[1], v.c[2]);
            glVertex3f(v.p[0], v.p[1], v.p[2]);
        }
    }
    glEnd();
    glEndList();
}

void VolumeRenderer::DrawCube()
{
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_3D);
    glCallList(cubeList);
}

namespace {
void CheckGlError(int line)
{
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LogFailedAt(reinterpret_cast<const char*>(glewGetErrorString(error)), "Volume", line);
    }
}

void CaptureInto(GLuint texture, int width, int height, std::vector<uint8_t>& buffer)
{
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, buffer.data());
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    // GLU scales an image of any other size to a power of two and builds mip
    // levels that the linear minification filter never samples. A driver
    // with non-power-of-two textures takes the image as it is: every pixel's
    // entry point exact, and on a software rasteriser 15 ms a frame less.
    if (GLEW_ARB_texture_non_power_of_two) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, buffer.data());
    } else {
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, width, height, GL_RGBA, GL_UNSIGNED_BYTE, buffer.data());
    }
}
}  // namespace

void VolumeRenderer::RenderEntryExit()
{
    const int width = display->width;
    const int height = display->height;

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    DrawCube();

    glEnable(GL_TEXTURE_2D);
    readBack.resize(size_t(width) * size_t(height) * 4);
    CaptureInto(entryTexture, width, height, readBack);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glCullFace(GL_FRONT);
    DrawCube();
    glCullFace(GL_BACK);
    glDisable(GL_CULL_FACE);

    glEnable(GL_TEXTURE_2D);
    CaptureInto(exitTexture, width, height, readBack);

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    CheckGlError(__LINE__);
}

void VolumeRenderer::RenderRayCasting()
{
    // The cube must be drawn untextured: a slicing frame before may have left
    // unit 1 active and a slice texture enabled on unit 0.
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_LIGHTING);
    RenderEntryExit();
    glEnable(GL_LIGHTING);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(-1.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_1D);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_TEXTURE_3D);

    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, entryTexture);
    glActiveTexture(GL_TEXTURE1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, exitTexture);
    glActiveTexture(GL_TEXTURE2);
    glEnable(GL_TEXTURE_1D);
    glBindTexture(GL_TEXTURE_1D, transferTexture);
    glActiveTexture(GL_TEXTURE3);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glActiveTexture(GL_TEXTURE4);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, gradientTexture);

    if (rayCastingProgram) {
        rayCastingProgram->bind();
        rayCastingProgram->setUniform1i("adaptiveStepSize", adaptiveStepSize ? 1 : 0);
        rayCastingProgram->setUniform1i("lighting", lighting ? 1 : 0);
        rayCastingProgram->setUniform1f("sampleCount", stepSize);
        rayCastingProgram->setUniform1f("maxIntensity", maxIntensity);
        rayCastingProgram->setUniform1i("entry_tex", 0);
        rayCastingProgram->setUniform1i("exit_tex", 1);
        rayCastingProgram->setUniform1i("transfer_tex", 2);
        rayCastingProgram->setUniform1i("density_tex", 3);
        rayCastingProgram->setUniform1i("gradient_tex", 4);
    }

    glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2f(0, 0), glVertex3f(-1, -1, 0);
    glTexCoord2f(0, 1), glVertex3f(-1, +1, 0);
    glTexCoord2f(1, 0), glVertex3f(+1, -1, 0);
    glTexCoord2f(1, 1), glVertex3f(+1, +1, 0);
    glEnd();

    if (rayCastingProgram) {
        rayCastingProgram->unbind();
    }
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_3D);

    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    CheckGlError(__LINE__);
}
