#pragma once
// Resamples a volume onto another number of samples per axis covering the
// same extent: linear interpolation where samples are added, a tent filter as
// wide as the new spacing where they are removed, so that no detail aliases.
#include <array>
#include <cstddef>

#include "ScalarVolume.h"

ScalarVolume Resample(ScalarVolume volume, const std::array<size_t, 3>& size);
