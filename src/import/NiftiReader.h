#pragma once
// Reads a NIfTI file (.nii, .nii.gz, or a .hdr with its .img) through the
// format's own library, from a header already checked: only the samples,
// their type and scaling and the voxel spacing; the stored order is kept.
#include <nifti1.h>

#include <string>

#include "ScalarVolume.h"

bool ReadNifti(const std::string& path, const nifti_1_header& header, ScalarVolume& volume, SourceInfo& info,
               std::string& error);
