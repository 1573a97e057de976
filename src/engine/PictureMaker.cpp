#include <GL/glew.h>

#include "PictureMaker.h"

#include <algorithm>
#include <limits>

#include "Viewer.h"

namespace {
// Enough for any view to converge; a bound, not a count to reach.
constexpr int mostPasses = 64;

}  // namespace

int PictureMaker::TileSide() const
{
    GLint renderbuffer = 0, texture = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    int side = std::min({renderbuffer, texture, viewport[0], viewport[1]});
    if (largestTile > 0) {
        side = std::min(side, largestTile);
    }
    return std::max(side, 1);
}

QImage PictureMaker::Draw(Viewer& viewer, int width, int height, bool transparent)
{
    error.clear();
    if (width < 1 || height < 1 || width > largestSide || height > largestSide) {
        error =
            QStringLiteral("a picture has 1 to %1 pixels a side, not %2 x %3").arg(largestSide).arg(width).arg(height);
        return {};
    }
    Display& display = viewer.display;
    const int panelWidth = std::max(display.width, 1), panelHeight = std::max(display.height, 1);
    // OpenGL's rows run bottom to top: the picture is read upside down and
    // turned at the end. The screen shows no alpha: an opaque picture
    // ignores it.
    QImage picture(width, height, transparent ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGBX8888);
    if (picture.isNull()) {
        error = QStringLiteral("there is not enough memory for a picture of %1 x %2").arg(width).arg(height);
        return {};
    }

    const int tile = TileSide();
    const int tileWidth = std::min(width, tile), tileHeight = std::min(height, tile);
    GLint outer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &outer);
    GLuint framebuffer = 0, renderbuffers[2] = {0, 0};
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(2, renderbuffers);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, tileWidth, tileHeight);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, tileWidth, tileHeight);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;

    GLdouble panelProjection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, panelProjection);

    // The view at rest, as the panel shows it, without the crop tool.
    const ViewSettings settings = viewer.Settings();
    ViewSettings still = settings;
    std::fill(still.rotateAxes, still.rotateAxes + 3, false);
    viewer.Apply(still);
    const bool cropTool = viewer.cropTool.on;
    viewer.cropTool.on = false;
    display.clearAlpha = transparent ? 0.0f : 1.0f;
    // A time after every movement has settled.
    const double rest = std::numeric_limits<double>::infinity();

    // The panel's picture fills the new one along the side it fills less:
    // the picture spans its sides over the panel's sides times scale in the
    // panel's normalised device coordinates. Each tile's part of those is
    // stretched over its own: exactly the panel's projection where the
    // picture is the panel's.
    const double scale = std::min(double(width) / panelWidth, double(height) / panelHeight);
    const double spanX = panelWidth * scale, spanY = panelHeight * scale;
    for (int y0 = 0; complete && y0 < height; y0 += tileHeight) {
        for (int x0 = 0; x0 < width; x0 += tileWidth) {
            const int w = std::min(tileWidth, width - x0), h = std::min(tileHeight, height - y0);
            display.Resize(w, h);
            const double left = (2.0 * x0 - width) / spanX, right = (2.0 * (x0 + w) - width) / spanX;
            const double bottom = (2.0 * y0 - height) / spanY, top = (2.0 * (y0 + h) - height) / spanY;
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            glTranslated(-(left + right) / (right - left), -(bottom + top) / (top - bottom), 0.0);
            glScaled(2.0 / (right - left), 2.0 / (top - bottom), 1.0);
            glMultMatrixd(panelProjection);
            glMatrixMode(GL_MODELVIEW);
            // Each tile converges from its own first frame.
            viewer.stillAccumulation.Reset();
            viewer.Redraw();
            int passes = 0;
            do {
                viewer.DrawFrame(rest);
            } while (!viewer.Converged() && ++passes < mostPasses);
            glPixelStorei(GL_PACK_ALIGNMENT, 4);
            glPixelStorei(GL_PACK_ROW_LENGTH, width);
            glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, picture.bits() + (size_t(y0) * width + x0) * 4);
            glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        }
    }

    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(outer));
    glDeleteRenderbuffers(2, renderbuffers);
    glDeleteFramebuffers(1, &framebuffer);
    display.clearAlpha = 1.0f;
    display.Resize(panelWidth, panelHeight);
    viewer.cropTool.on = cropTool;
    viewer.Apply(settings);
    viewer.stillAccumulation.Reset();
    viewer.Redraw();
    if (!complete) {
        error = QStringLiteral("the driver cannot draw off screen at %1 x %2").arg(tileWidth).arg(tileHeight);
        return {};
    }

    picture.mirror();
    if (!transparent) {
        return picture.convertToFormat(QImage::Format_RGB888);
    }
    // Rounding in the average may leave a colour a level above its alpha,
    // which straight colours cannot hold.
    for (int y = 0; y < height; ++y) {
        uchar* p = picture.scanLine(y);
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = std::min(p[0], p[3]);
            p[1] = std::min(p[1], p[3]);
            p[2] = std::min(p[2], p[3]);
        }
    }
    return picture.convertToFormat(QImage::Format_RGBA8888);
}
