#include "WindowLevel.h"

#include <algorithm>
#include <cmath>

#include "ViewControl.h"

bool WindowLevel::Press(Qt::MouseButton button, QPointF position, const TransferFunction& function, uint32_t maximum)
{
    if (button != Qt::RightButton || dragging) {
        return false;
    }
    dragging = true;
    start = TransferFunctionHistory::StateOf(function);
    span = std::max(1.0, double(maximum));
    centre = Middle(function, maximum);
    from = position;
    return true;
}

bool WindowLevel::Move(QPointF position, double now, TransferFunction& function) const
{
    if (!dragging) {
        return false;
    }
    const QPointF delta = position - from;
    Transform(start, centre, std::exp2(delta.y() / pixelsPerDoubling), delta.x() * span * shiftPerPixel, function);
    function.SetModified(true);
    lastChange = now;
    return true;
}

void WindowLevel::Release(Qt::MouseButton button)
{
    if (button == Qt::RightButton) {
        dragging = false;
    }
}

bool WindowLevel::Moving(double now) const { return now - lastChange < ViewControl::settleSeconds; }

void WindowLevel::Transform(const TransferFunctionHistory::State& start, double centre, double factor, double shift,
                            TransferFunction& function)
{
    for (int c = 0; c < 4; ++c) {
        std::vector<TransferFunction::Sample> samples = start[size_t(c)];
        for (TransferFunction::Sample& s : samples) {
            const double moved = centre + (double(s.position) - centre) * factor + shift;
            // A positive factor keeps the points' order; those pushed below 0
            // gather there.
            s.position = uint32_t(std::lround(std::clamp(moved, 0.0, 1e9)));
        }
        function.Channel(c) = std::move(samples);
    }
}

double WindowLevel::Middle(const TransferFunction& function, uint32_t span)
{
    const std::vector<TransferFunction::Sample>& alpha = function.Channel(3);
    double first = -1.0, last = -1.0;
    for (size_t i = 0; i < alpha.size(); ++i) {
        const bool shows = alpha[i].value > 0 || (i > 0 && alpha[i - 1].value > 0);
        if (shows) {
            const double at = double(i > 0 && alpha[i].value > 0 && alpha[i - 1].value == 0 ? alpha[i - 1].position
                                                                                            : alpha[i].position);
            first = first < 0.0 ? at : first;
            last = double(alpha[i].position);
        }
    }
    if (first < 0.0) {
        return 0.5 * double(span);
    }
    // A function that shows up to the top of the axis counts to the volume's end.
    return 0.5 * (first + std::min(last, std::max(first, double(span))));
}
