#pragma once
// Reads the inputs whose format the image library knows: a folder holding a
// DICOM series, or a single NIfTI, NRRD or MetaImage file. Each returns false
// with the cause in error, in a few words, when the input cannot be imported.
#include <atomic>
#include <cstdint>
#include <string>

#include "ScalarVolume.h"

// Each read runs in a reader program of its own with a time limit, so a
// damaged file can neither end nor hang the caller.
struct ReadLimits {
    // Bytes a read may hold at once; 0: the machine's physical memory.
    uint64_t memoryLimit = 0;
    // Set by another thread to stop the read ("cancelled").
    const std::atomic<bool>* cancel = nullptr;
    // The reader maps the samples to densities by the value rule and hands
    // on only those (volume.densities, info.valueRule), not the floats.
    bool densities = false;
};

// series: the identifier of the series to read, or empty for the one with the
// most slices; notes receives lines worth telling the user (other series
// present, uneven slice spacing).
bool ReadDicomSeries(const std::string& folder, const std::string& series, ScalarVolume& volume, SourceInfo& info,
                     std::string& notes, std::string& error, const ReadLimits& limits = {});

// The series in the file's folder that holds the file.
bool ReadDicomSeriesOf(const std::string& file, ScalarVolume& volume, SourceInfo& info, std::string& notes,
                       std::string& error, const ReadLimits& limits = {});

// notes receives warnings about the header (an older form read, an unusable
// orientation left out). wholeDicomSeries: a DICOM file stands for its series.
bool ReadImageFile(const std::string& path, ScalarVolume& volume, SourceInfo& info, std::string& notes,
                   std::string& error, const ReadLimits& limits = {}, bool wholeDicomSeries = false);
