#include <GL/glew.h>

#include "MotionQuality.h"

#include <algorithm>
#include <cmath>

#include "Display.h"

void MotionQuality::FrameStarts(double now)
{
    const double seconds = now - lastStart;
    const bool known = measured;
    lastStart = now;
    measured = true;
    if (!known) {
        return;
    }
    // A frame's cost grows with the pixels drawn: the factor that would have
    // met the budget, moved to at once when too slow, one step at a time when
    // well within it, since part of the cost does not shrink with the pixels.
    const double wanted = double(lastFactor) * std::sqrt(seconds / budgetSeconds);
    if (seconds > budgetSeconds) {
        movingFactor = std::max(lastFactor + 1, int(std::ceil(wanted)));
    } else if (seconds < 0.5 * budgetSeconds) {
        movingFactor = std::max({1, lastFactor - 1, int(std::ceil(wanted))});
    } else {
        movingFactor = lastFactor;
    }
    movingFactor = std::clamp(movingFactor, 1, largestFactor);
}

void MotionQuality::Pause() { measured = false; }

int MotionQuality::Factor(bool moving)
{
    lastFactor = moving ? movingFactor : 1;
    return lastFactor;
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
