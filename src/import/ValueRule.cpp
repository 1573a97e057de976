#include "ValueRule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
constexpr double top = 4095.0;

ValueStatistics Measure(const ScalarVolume& volume)
{
    ValueStatistics s;
    for (const float v : volume.samples) {
        s.Add(v);
    }
    return s;
}

// Hounsfield units: signed, within the 16-bit range CT scanners store, and
// with a good share of air around the body or in it.
bool LooksLikeHounsfield(const ValueStatistics& s)
{
    return s.minimum <= -900.0 && s.minimum >= -32768.0 && s.maximum <= 32767.0 && s.air * 100 >= s.finite;
}
}  // namespace

std::string FormatNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

ValueRule::ValueRule(double scale, double offset, double ceiling, std::string description, bool hounsfield)
    : scale(scale), offset(offset), ceiling(ceiling), description(std::move(description)), hounsfield(hounsfield)
{
}

void ValueStatistics::Add(const ValueStatistics& other)
{
    if (other.finite == 0) {
        return;
    }
    minimum = finite == 0 ? other.minimum : std::min(minimum, other.minimum);
    maximum = finite == 0 ? other.maximum : std::max(maximum, other.maximum);
    finite += other.finite;
    air += other.air;
}

ValueRule ValueRule::Choose(const SourceInfo& info, const ScalarVolume& volume,
                            const std::optional<std::array<double, 2>>& window)
{
    return Choose(info, Measure(volume), window);
}

ValueRule ValueRule::Choose(const SourceInfo& info, const ValueStatistics& s,
                            const std::optional<std::array<double, 2>>& window)
{
    const std::string range = " (input range " + FormatNumber(s.minimum) + ".." + FormatNumber(s.maximum) + ")";
    const auto linear = [&](double low, double high, const std::string& what) {
        const double scale = high > low ? top / (high - low) : 0.0;
        return ValueRule(scale, -low * scale, top,
                         what + " " + FormatNumber(low) + ".." + FormatNumber(high) + " to 0..4095" + range);
    };
    if (window) {
        return linear((*window)[0], (*window)[1], "window: linear from");
    }
    if (info.modalityCT) {
        return ValueRule(1.0, 1024.0, top, "CT: HU + 1024, clamped to 0..4095" + range, true);
    }
    if (info.unsigned8Bit || (info.signed8Bit && s.minimum >= 0.0)) {
        return ValueRule(16.0, 0.0, 4080.0, "8-bit: times 16" + range);
    }
    if (info.integerType && s.minimum >= 0.0 && s.maximum <= 4096.0) {
        return ValueRule(1.0, 0.0, 4096.0, "unchanged: integers within 0..4096" + range);
    }
    if (!info.dicom && LooksLikeHounsfield(s)) {
        return ValueRule(1.0, 1024.0, top, "CT (values look like HU): HU + 1024, clamped to 0..4095" + range, true);
    }
    return linear(s.minimum, s.maximum, "linear from");
}

uint16_t ValueRule::Map(float value) const
{
    const double mapped = double(value) * scale + offset;
    if (!(mapped > 0.0)) {  // also not-a-number
        return 0;
    }
    return uint16_t(std::lround(std::min(mapped, ceiling)));
}
