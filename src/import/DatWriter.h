#pragma once
// Writes a volume as a .dat file: three little-endian 16-bit sizes, then the
// 16-bit densities, x fastest. The file is written beside the target and
// renamed over it only when complete, so a failure leaves nothing behind and
// never a damaged file.
#include <array>
#include <string>

#include "ScalarVolume.h"
#include "ValueRule.h"

// flip reverses the order of the samples along the axes marked.
bool WriteDat(const std::string& path, const ScalarVolume& volume, const ValueRule& rule,
              const std::array<bool, 3>& flip, std::string& error);
