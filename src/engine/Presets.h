#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "TransferFunction.h"

// A named transfer function that the program ships or the user saved into
// their presets folder.
struct Preset {
    QString name;
    QString path;
    // Written on an axis from 0 to 4095 that stretches over the volume's 0.1
    // to 99.9 percentiles; otherwise in densities as they are (the CT
    // presets in Hounsfield units + 1024, the import's CT rule).
    bool percentiles = false;
    // Drawn as a maximum intensity projection.
    bool maximumIntensity = false;
};

// The presets: those installed with the program (presets/ in the build tree,
// share/volren/presets/ installed), in the order of their index, then the
// user's own .tf files by name.
class Presets {
public:
    static QString InstalledFolder();
    // Where the user's own presets go: volren/presets in the user's data
    // folder.
    static QString UserFolder();
    static std::vector<Preset> List();
    // The preset of that name; false where there is none.
    static bool Find(const QString& name, Preset& preset);

    // Reads the preset into function, fitted to the volume's histogram
    // (counts of the densities 0 to maxDensity); the function is left as it
    // was where the file cannot be read, with the cause in error.
    static bool Read(const Preset& preset, const uint32_t* histogram, uint32_t maxDensity, TransferFunction& function,
                     QString& error);
    // The densities below which lie the share low and the share high of the
    // histogram's samples.
    static void Percentiles(const uint32_t* histogram, uint32_t maxDensity, double low, double high, uint32_t& from,
                            uint32_t& to);
    // Whether the histogram is a CT's in the import's rule: much air
    // (below -800 HU), soft tissue about 0 HU and some bone.
    static bool LooksLikeCt(const uint32_t* histogram, uint32_t maxDensity);
    // The preset for a volume whose file does not say what it is.
    static QString Suggested(const uint32_t* histogram, uint32_t maxDensity);
};
