#pragma once

#include <cstdint>
#include <vector>

// Four piecewise-linear curves (red, green, blue, alpha) over the density axis,
// each given by control points sorted by position.
class TransferFunction {
public:
    struct Sample {
        uint8_t value = 0;
        uint32_t position = 0;
    };

    struct Color {
        uint8_t r = 0, g = 0, b = 0, a = 0;
        uint32_t Packed() const;
        // The colour times its opacity, rounded.
        Color Premultiplied() const;
    };

    TransferFunction();

    void Clear();
    void AddSample(int channel, uint8_t value, uint32_t position);
    void RemoveSample(const Sample& sample);
    uint32_t SampleCount(int channel) const;
    Color Evaluate(uint32_t position) const;
    // The colours of the densities, packed; premultiplied by their opacity
    // where asked.
    void Classify(uint32_t* out, const uint16_t* densities, uint64_t count, bool premultiplied = false) const;

    bool IsModified() const { return modified; }
    void SetModified(bool flag) { modified = flag; }
    bool HasFileName() const { return hasFileName; }

    std::vector<Sample>& Channel(int channel) { return channels[channel]; }
    const std::vector<Sample>& Channel(int channel) const { return channels[channel]; }

    // Both leave the function as it was where they fail, with a warning in
    // the log and the cause, in words that follow the file's name, in Error().
    bool Load(const char* fileName);
    bool Save(const char* fileName);
    const char* Error() const { return error; }

private:
    uint8_t EvaluateChannel(int channel, uint32_t position) const;
    uint32_t Packed(uint32_t position, bool premultiplied) const;

    std::vector<Sample> channels[4];
    bool modified = false;
    bool hasFileName = false;
    // A fixed text: a load allocates nothing beyond what the file holds.
    const char* error = "";
};

static_assert(sizeof(TransferFunction::Sample) == 8, "a file record is one in-memory sample");
