#pragma once

#include <QImage>
#include <QString>

class Viewer;

// Draws the viewer's view at rest as a picture of any size, off screen in a
// framebuffer object of its own. The framing is the render panel's: the
// panel's picture scaled to fill the new size along the side it fills less
// (a picture of twice the panel's size is the panel's picture scaled by two),
// with more of the scene beside it along the other. Sizes beyond the
// driver's limits are drawn in tiles, each through its part of the panel's
// frustum. The picture is the converged one of the view at rest, never a
// coarse moving frame, and has no crop tool drawn over it.
class PictureMaker {
public:
    // The longest side a picture may have.
    static constexpr int largestSide = 16384;

    // The picture, width x height pixels, top row first; where transparent,
    // what shows no volume has alpha 0 and the colours are straight (not
    // premultiplied), else it is RGB. A null picture where it failed, with
    // the reason in error. The panel is left as it was and draws again.
    QImage Draw(Viewer& viewer, int width, int height, bool transparent);

    // The longest side of a tile, beside the driver's own limits; it also
    // bounds the memory of the renderer's textures of the frame's size.
    int largestTile = 2048;
    QString error;

private:
    // The longest tile side the driver takes for a framebuffer, a viewport
    // and the renderer's textures, and largestTile.
    int TileSide() const;
};
