#pragma once
// Reads the inputs whose format the image library knows: a folder holding a
// DICOM series, or a single NIfTI, NRRD or MetaImage file. Each returns false
// with the cause in error, in a few words, when the input cannot be imported.
#include <string>

#include "ScalarVolume.h"

// series: the identifier of the series to read, or empty for the one with the
// most slices; notes receives lines worth telling the user (other series
// present, uneven slice spacing).
bool ReadDicomSeries(const std::string& folder, const std::string& series, ScalarVolume& volume, SourceInfo& info,
                     std::string& notes, std::string& error);

bool ReadImageFile(const std::string& path, ScalarVolume& volume, SourceInfo& info, std::string& error);
