#pragma once
// What the reader program does with a request: reads a scan in its own
// process through the image libraries. Each returns false with the cause in
// a few words. densities: the samples are mapped to densities by the value
// rule as they are read, and only the densities are kept.
#include <cstdint>
#include <string>

#include "ScalarVolume.h"

// A DICOM series in folder: the one whose identifier matches series, the one
// holding file, or else the one with the most slices.
bool ReadDicomFolder(const std::string& folder, const std::string& series, const std::string& file,
                     uint64_t memoryLimit, bool densities, ScalarVolume& volume, SourceInfo& info, std::string& notes,
                     std::string& error);

// A NIfTI, NRRD, MetaImage or DICOM file whose header the caller checked:
// readPath is the file or the caller's corrected copy of its header; format
// is "nifti", "dicom" or "image" (the others).
bool ReadScanFile(const std::string& path, const std::string& readPath, const std::string& format, uint64_t memoryLimit,
                  bool densities, ScalarVolume& volume, SourceInfo& info, std::string& error);
