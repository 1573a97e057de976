#pragma once
// The output grid: the input's own, or cubic voxels of the finest input
// spacing, uniformly coarser where an axis would exceed the size limit.
#include <array>
#include <cstddef>
#include <string>

struct GridPlan {
    std::array<size_t, 3> size{};
    std::array<double, 3> spacing{};
    bool resample = false;

    // false with the cause in error when the spacing cannot be used.
    static bool Make(const std::array<size_t, 3>& size, const std::array<double, 3>& spacing, size_t maxSize,
                     bool keepGrid, GridPlan& plan, std::string& error);
};
