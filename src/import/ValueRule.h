#pragma once
// Maps input samples to the densities 0..4096 of a .dat file by one affine
// rule with clamping, chosen from the input's type and values, and says in
// one line which rule it is.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "ScalarVolume.h"

class ValueRule {
public:
    // window, when given, maps LOW..HIGH to 0..4095 whatever the input holds.
    static ValueRule Choose(const SourceInfo& info, const ScalarVolume& volume,
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
