#include <GL/glew.h>

#include "MotionQuality.h"

#include <algorithm>

#include "Display.h"

void MotionQuality::FrameStarts(double now)
{
    const double seconds = now - lastStart;
    lastStart = now;
    // A pause of the frame loop or a modal dialog says nothing about drawing.
    if (seconds <= 0.0 || seconds > 1.0) {
        return;
    }
    // The drawing's cost grows with the pixels drawn: a frame at factor f
    // costs about 1 / f^2 of a full one. Averaged, so one slow frame does not
    // flip the choice.
    const double full = seconds * double(lastFactor) * double(lastFactor);
    fullFrameSeconds = fullFrameSeconds > 0.0 ? 0.5 * (fullFrameSeconds + full) : full;
}

int MotionQuality::Factor(bool moving)
{
    int f = 1;
    if (moving) {
        while (f < largestFactor && fullFrameSeconds / double(f * f) > budgetSeconds) {
            ++f;
        }
    }
    lastFactor = f;
    return f;
}

void MotionQuality::Begin(Display& display, int f)
{
    factor = std::max(f, 1);
    fullWidth = display.width;
    fullHeight = display.height;
    display.width = std::max(1, fullWidth / factor);
    display.height = std::max(1, fullHeight / factor);
    glViewport(0, 0, display.width, display.height);
}

void MotionQuality::End(Display& display)
{
    const int w = display.width, h = display.height;
    display.width = fullWidth;
    display.height = fullHeight;
    glViewport(0, 0, fullWidth, fullHeight);

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glUseProgramObjectARB(0);
    // Only unit 0 may texture the quad.
    for (GLenum unit = GL_TEXTURE5; unit > GL_TEXTURE0; --unit) {
        glActiveTexture(unit);
        glDisable(GL_TEXTURE_1D);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_TEXTURE_3D);
    }
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_3D);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);

    if (texture == 0) {
        glGenTextures(1, &texture);
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 0, 0, w, h, 0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);

    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(+1, -1);
    glTexCoord2f(0, 1), glVertex2f(-1, +1);
    glTexCoord2f(1, 1), glVertex2f(+1, +1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

void MotionQuality::Release()
{
    if (texture != 0) {
        glDeleteTextures(1, &texture);
        texture = 0;
    }
}
