#pragma once
// A scalar volume on its way from an input file to a .dat file: samples as
// floats, x fastest, then y, then z, with the voxel spacing along each axis.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

struct ScalarVolume {
    std::array<size_t, 3> size{};
    std::array<double, 3> spacing{1.0, 1.0, 1.0};
    std::vector<float> samples;

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
};
