#pragma once

class QImage;

// Measures how far apart two pictures of one size are, as the picture
// baselines and the convergence of a view at rest are judged.
class PictureCompare {
public:
    // The mean absolute difference per colour channel, in levels of 0 to
    // 255, of two RGB888 pictures; diff gets the differences times 8, so that
    // small ones show.
    static double MeanAbsoluteDifference(const QImage& actual, const QImage& expected, QImage& diff);
    // The structural similarity (mean over windows of 7 x 7 pixels) of the
    // grey levels of two pictures, over the box around the pixels that either
    // draws apart from its background (the colour of its corner pixel): 1 for
    // the same picture; 1 where neither draws anything.
    static double Ssim(const QImage& a, const QImage& b);
};
