#pragma once
// Opens scans for the program and its tools through the import library: a
// DICOM series (a folder, or any file of it), NIfTI, NRRD or MetaImage, read
// with the import's checks and value rule, at the scan's own voxel spacing
// and without resampling. A .dat file is no scan: the renderer reads it.
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <cstdint>
#include <string>
#include <vector>

#include "Vec3.h"

class VolumeRenderer;

// A scan read and mapped to densities 0..4095, x fastest.
struct ScanVolume {
    enum class Kind { Other, Ct, Mri };
    uint32_t size[3] = {0, 0, 0};
    Vec3 spacing{1.0f, 1.0f, 1.0f};
    // In memory the scan's reader filled, held by memory; release gives
    // back the memory of samples [first, end) once they are loaded.
    const uint16_t* densities = nullptr;
    std::shared_ptr<void> memory;
    std::function<void(uint64_t first, uint64_t end)> release;
    // CT: the values follow the CT rule; MRI: a DICOM MR series, or a NIfTI
    // file (the neuroimaging format) whose values are no Hounsfield units.
    Kind kind = Kind::Other;
    // What was read and how the values were mapped, a line each.
    std::string description;
};

class ScanLoader {
public:
    // Anything but a .dat file.
    static bool IsScan(const QString& path);

    // Reads on the calling thread; false with the reason in one line.
    static bool Read(const QString& path, uint64_t memoryLimit, ScanVolume& scan, QString& error,
                     const std::atomic<bool>* cancel = nullptr);

    // Whether the renderer can hold the scan with its current method: false
    // with the reason (the driver's texture limits, the memory). Window thread.
    static bool Fits(VolumeRenderer& renderer, const ScanVolume& scan, QString& error);
    // Loads a scan that fits into the renderer; false where memory runs out
    // on the way (the renderer's loadError says so). Window thread.
    static bool Load(VolumeRenderer& renderer, const QString& path, const ScanVolume& scan);

    // The sample transfer function for scans of this kind ("ct.tf",
    // "mri.tf") beside the program or where it is installed; empty if none.
    static QString SampleFunction(ScanVolume::Kind kind);
};
