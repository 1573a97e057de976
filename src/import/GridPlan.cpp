#include "GridPlan.h"

#include <algorithm>
#include <cmath>

#include "ValueRule.h"

namespace {
// Spacings read from files carry rounding from decimal text.
bool NearlyEqual(double a, double b) { return std::abs(a - b) <= 1e-4 * std::max(a, b); }
}  // namespace

bool GridPlan::Make(const std::array<size_t, 3>& size, const std::array<double, 3>& spacing, size_t maxSize,
                    bool keepGrid, GridPlan& plan, std::string& error)
{
    plan.size = size;
    plan.spacing = spacing;
    plan.resample = false;
    if (keepGrid) {
        return true;
    }
    for (const double s : spacing) {
        if (!std::isfinite(s) || s <= 0.0) {
            error = "has voxel spacing " + FormatNumber(spacing[0]) + " x " + FormatNumber(spacing[1]) + " x " +
                    FormatNumber(spacing[2]) + "; give one with --spacing or keep the grid with --keep-grid";
            return false;
        }
    }
    const bool cubic = NearlyEqual(spacing[0], spacing[1]) && NearlyEqual(spacing[0], spacing[2]);
    const bool fits = *std::max_element(size.begin(), size.end()) <= maxSize;
    if (cubic && fits) {
        return true;
    }

    double target = *std::min_element(spacing.begin(), spacing.end());
    double longest = 0.0;
    for (int d = 0; d < 3; ++d) {
        longest = std::max(longest, double(size[d]) * spacing[d]);
    }
    target = std::max(target, longest / double(maxSize));
    for (int d = 0; d < 3; ++d) {
        const double extent = double(size[d]) * spacing[d];
        plan.size[d] = std::clamp<size_t>(size_t(std::lround(extent / target)), 1, maxSize);
        plan.spacing[d] = extent / double(plan.size[d]);
    }
    plan.resample = true;
    return true;
}
