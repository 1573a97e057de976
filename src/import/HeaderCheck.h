#pragma once
// Checks the header of a scan file before any reader acts on it: the format
// by its first bytes, then every size, count, type, offset, spacing and
// orientation the reader would use, against the format's limits, the file's
// length and the memory. Where an older or damaged header still has a clear
// meaning (a NRRD "space" beside per-axis spacings, a non-spatial axis of one
// sample, an unusable orientation) it writes a corrected copy of the header
// for the reader and says so in a warning.
#include <nifti1.h>

#include <cstdint>
#include <string>

enum class ScanFormat { Unknown, Nifti, Nrrd, MetaImage, Dicom };

struct HeaderCheck {
    ScanFormat format = ScanFormat::Unknown;
    // Lines for the user, each ending in a newline.
    std::string warnings;
    // The file the reader opens: the input itself or a corrected copy of its
    // header in folder, which the caller removes afterwards.
    std::string readPath;
    std::string folder;
    // NIfTI: the header, in the machine's byte order, with an unusable
    // orientation removed.
    nifti_1_header nifti{};

    HeaderCheck() = default;
    HeaderCheck(const HeaderCheck&) = delete;
    HeaderCheck& operator=(const HeaderCheck&) = delete;
    ~HeaderCheck();
};

// memoryLimit: the bytes a read may hold at once. false with the cause in
// error, in a few words, when the header cannot be used.
bool CheckHeader(const std::string& path, uint64_t memoryLimit, HeaderCheck& check, std::string& error);

// The machine's physical memory in bytes.
uint64_t PhysicalMemory();
