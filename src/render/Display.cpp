// Only fixed-function OpenGL 1.1 is used here, from Qt's own GL header: Qt's
// context class must not be mixed with GLEW in one translation unit.
#include "Display.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>

#include <GL/glu.h>

#include "Log.h"

Display::Display() { clearColor[0] = clearColor[1] = clearColor[2] = clearColor[3] = 0; }

bool Display::CreateContext(QWindow* nativeWindow)
{
    window = nativeWindow;

    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    window->setSurfaceType(QSurface::OpenGLSurface);
    window->setFormat(format);
    window->create();

    renderContext = new QOpenGLContext();
    renderContext->setFormat(format);
    if (!renderContext->create() || !renderContext->makeCurrent(window)) {
        LogFailed("Display: OpenGL render context creation failed!");
    }

    glEnable(GL_DEPTH_TEST);
    return true;
}

bool Display::ReleaseContext()
{
    if (renderContext) {
        renderContext->doneCurrent();
        delete renderContext;
        renderContext = nullptr;
    }
    return true;
}

void Display::Resize(int w, int h)
{
    width = w;
    height = h;
    if (height <= 0) {
        height = 1;
    }
    const float aspect = static_cast<float>(width) / static_cast<float>(height);

    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, aspect, 1.0, 100000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Display::Clear()
{
    glClearColor(clearColor[0] / 255.0f, clearColor[1] / 255.0f, clearColor[2] / 255.0f, clearAlpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Display::Swap()
{
    // Qt leaves a swap on a window that is not on screen undefined; a hidden
    // window keeps its picture in the back buffer instead.
    if (window && window->isExposed()) {
        renderContext->swapBuffers(window);
    } else {
        glFlush();
    }
}
