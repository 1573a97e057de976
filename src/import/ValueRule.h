#pragma once
// Maps input samples to the densities 0..4096 of a .dat file by one affine
// rule with clamping, chosen from the input's type and values, and says in
// one line which rule it is.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ScalarVolume.h"

// What the rule is chosen from: the range of the finite samples and how
// many of them lie where air does in Hounsfield units. Gathered as the
// samples are read, so a reader need not keep them as floats.
struct ValueStatistics {
    double minimum = 0.0;
    double maximum = 0.0;
    size_t finite = 0;
    size_t air = 0;  // samples between -1100 and -900

    void Add(float value)
    {
        if (std::isfinite(value)) {
            minimum = finite == 0 || value < minimum ? value : minimum;
            maximum = finite == 0 || value > maximum ? value : maximum;
            ++finite;
            air += value >= -1100.0f && value <= -900.0f;
        }
    }
    void Add(const ValueStatistics& other);
};

class ValueRule {
public:
    // window, when given, maps LOW..HIGH to 0..4095 whatever the input holds.
    static ValueRule Choose(const SourceInfo& info, const ScalarVolume& volume,
                            const std::optional<std::array<double, 2>>& window);
    static ValueRule Choose(const SourceInfo& info, const ValueStatistics& statistics,
                            const std::optional<std::array<double, 2>>& window);

    uint16_t Map(float value) const;
    const std::string& Description() const { return description; }
    // Whether the rule reads the values as Hounsfield units of a CT.
    bool Hounsfield() const { return hounsfield; }

private:
    ValueRule(double scale, double offset, double ceiling, std::string description, bool hounsfield = false);

    double scale;
    double offset;
    double ceiling;
    std::string description;
    bool hounsfield;
};

// A number as the tool prints it: short, without trailing zeros.
std::string FormatNumber(double value);
