#pragma once
// The file names a fuzz input's first byte chooses among.
#include <cstdint>

inline const char* FuzzInputName(uint8_t selector)
{
    static const char* const names[] = {"in.nii", "in.nii.gz", "in.nrrd", "in.nhdr",
                                        "in.mha", "in.mhd",    "in.dcm",  "in"};
    return names[selector % 8];
}
