#include <GL/glew.h>

#include "StillAccumulation.h"

#include "Display.h"

float StillAccumulation::NextOffset() const
{
    if (frames == 0) {
        return 0.0f;
    }
    // The bits of the refined frame's number reversed: 0, 1/2, 1/4, 3/4, ...
    unsigned int k = unsigned((frames - 1) % refinedFrames), reversed = 0;
    for (int bit = refinedFrames >> 1; bit > 0; bit >>= 1, k >>= 1) {
        reversed += (k & 1u) * unsigned(bit);
    }
    return float(reversed) / float(refinedFrames);
}

void StillAccumulation::DrawTexture(unsigned int texture, bool blend, float weight)
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glUseProgramObjectARB(0);
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
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    if (blend) {
        // The running mean: the new frame weighs 1 / n.
        glEnable(GL_BLEND);
        glBlendEquation(GL_FUNC_ADD);
        glBlendColor(0.0f, 0.0f, 0.0f, weight);
        glBlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    glViewport(0, 0, width, height);
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

void StillAccumulation::Add(Display& display)
{
    if (frames == 0 || display.width != width || display.height != height || sumTexture == 0) {
        frames = 0;
        width = display.width;
        height = display.height;
        if (sumTexture == 0) {
            glGenTextures(1, &frameTexture);
            glGenTextures(1, &sumTexture);
            glGenFramebuffers(1, &framebuffer);
        }
        for (GLuint texture : {frameTexture, sumTexture}) {
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        glBindTexture(GL_TEXTURE_2D, sumTexture);
        // Float texels: a mean of many frames keeps more than 8 bits.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
    }
    glBindTexture(GL_TEXTURE_2D, frameTexture);
    glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 0, 0, width, height, 0);

    GLint window = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &window);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, sumTexture, 0);
    // The first frame stands alone until the refined ones replace it.
    DrawTexture(frameTexture, frames > 1, 1.0f / float(frames));
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(window));
    ++frames;
    Show(display);
}

void StillAccumulation::Show(Display& display)
{
    if (frames == 0 || display.width != width || display.height != height) {
        return;
    }
    DrawTexture(sumTexture, false, 1.0f);
}

void StillAccumulation::Release()
{
    if (sumTexture != 0) {
        glDeleteTextures(1, &frameTexture);
        glDeleteTextures(1, &sumTexture);
        glDeleteFramebuffers(1, &framebuffer);
        frameTexture = sumTexture = framebuffer = 0;
    }
    frames = 0;
}
