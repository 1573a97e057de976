#pragma once
// A scalar volume on its way from an input file to a .dat file: samples as
// floats, x fastest, then y, then z, with the voxel spacing along each axis.
// A reader asked for densities maps the samples itself and hands over only
// the 16-bit densities, which is all a program that draws the scan needs.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DensityBlock.h"

struct ScalarVolume {
    std::array<size_t, 3> size{};
    std::array<double, 3> spacing{1.0, 1.0, 1.0};
    std::vector<float> samples;
    // Densities 0..4096 by the value rule, x fastest; then samples is empty.
    DensityBlock densities;

    size_t Count() const { return size[0] * size[1] * size[2]; }
};

// What the reader learnt about the input beyond its samples; the value rule
// and the printed summary draw on it.
struct SourceInfo {
    std::string description;  // the format and, for DICOM, the series
    std::string typeName;     // the stored sample type, e.g. "int16"
    bool integerType = false;
    bool unsigned8Bit = false;
    bool signed8Bit = false;
    bool dicom = false;
    bool modalityCT = false;
    std::string modality;  // DICOM's, e.g. "CT" or "MR"; empty where unknown
    // Where the reader mapped the samples to densities: the rule it chose, in
    // words, and whether it read the values as Hounsfield units.
    std::string valueRule;
    bool hounsfield = false;
};
