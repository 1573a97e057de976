#include "PictureCompare.h"

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <vector>

double PictureCompare::MeanAbsoluteDifference(const QImage& actual, const QImage& expected, QImage& diff)
{
    diff = QImage(actual.size(), QImage::Format_RGB888);
    double sum = 0.0;
    for (int y = 0; y < actual.height(); ++y) {
        const uchar* a = actual.constScanLine(y);
        const uchar* e = expected.constScanLine(y);
        uchar* d = diff.scanLine(y);
        for (int i = 0; i < actual.width() * 3; ++i) {
            const int delta = std::abs(int(a[i]) - int(e[i]));
            sum += delta;
            d[i] = uchar(std::min(255, delta * 8));
        }
    }
    return sum / (double(actual.width()) * actual.height() * 3.0);
}

namespace {
std::vector<double> Grey(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<double> grey(size_t(rgb.width()) * rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            grey[size_t(y) * rgb.width() + x] = 0.299 * line[3 * x] + 0.587 * line[3 * x + 1] + 0.114 * line[3 * x + 2];
        }
    }
    return grey;
}
}  // namespace

double PictureCompare::Ssim(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull()) {
        return 0.0;
    }
    const int w = a.width(), h = a.height();
    const std::vector<double> ga = Grey(a), gb = Grey(b);
    // The box around what either picture draws.
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            if (ga[i] != ga[0] || gb[i] != gb[0]) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
        }
    }
    constexpr int window = 7;
    if (x1 < 0) {
        return 1.0;
    }
    // A box narrower than a window grows to one, within the picture.
    x1 = std::min(w - 1, std::max(x1, x0 + window - 1));
    y1 = std::min(h - 1, std::max(y1, y0 + window - 1));
    x0 = std::max(0, std::min(x0, x1 - window + 1));
    y0 = std::max(0, std::min(y0, y1 - window + 1));

    // Sums over each window from tables of running sums.
    const int bw = x1 - x0 + 1, bh = y1 - y0 + 1;
    const size_t stride = size_t(bw) + 1;
    std::vector<double> sa(stride * (bh + 1)), sb(sa.size()), saa(sa.size()), sbb(sa.size()), sab(sa.size());
    for (int y = 0; y < bh; ++y) {
        for (int x = 0; x < bw; ++x) {
            const size_t i = size_t(y + y0) * w + (x + x0);
            const size_t o = size_t(y + 1) * stride + (x + 1), up = o - stride, left = o - 1, corner = up - 1;
            const double va = ga[i], vb = gb[i];
            sa[o] = va + sa[up] + sa[left] - sa[corner];
            sb[o] = vb + sb[up] + sb[left] - sb[corner];
            saa[o] = va * va + saa[up] + saa[left] - saa[corner];
            sbb[o] = vb * vb + sbb[up] + sbb[left] - sbb[corner];
            sab[o] = va * vb + sab[up] + sab[left] - sab[corner];
        }
    }
    auto sum = [stride](const std::vector<double>& t, int x, int y) {
        const size_t lo = size_t(y) * stride + x, hi = size_t(y + window) * stride + x;
        return t[hi + window] - t[hi] - t[lo + window] + t[lo];
    };
    constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    constexpr double n = window * window;
    double total = 0.0;
    int count = 0;
    for (int y = 0; y + window <= bh; ++y) {
        for (int x = 0; x + window <= bw; ++x) {
            const double ma = sum(sa, x, y) / n, mb = sum(sb, x, y) / n;
            const double va = sum(saa, x, y) / n - ma * ma, vb = sum(sbb, x, y) / n - mb * mb;
            const double cov = sum(sab, x, y) / n - ma * mb;
            total += (2 * ma * mb + c1) * (2 * cov + c2) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++count;
        }
    }
    return total / count;
}
