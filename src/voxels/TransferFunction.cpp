#include "TransferFunction.h"

#include <algorithm>
#include <cstdlib>

#include "VolumeKernels.h"

namespace {
int CompareSamples(const void* a, const void* b)
{
    const uint32_t pa = static_cast<const TransferFunction::Sample*>(a)->position;
    const uint32_t pb = static_cast<const TransferFunction::Sample*>(b)->position;
    return pa < pb ? -1 : (pa > pb ? 1 : 0);
}
}  // namespace

uint32_t TransferFunction::Color::Packed() const
{
    return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16) | (uint32_t(a) << 24);
}

TransferFunction::TransferFunction() = default;

void TransferFunction::Clear()
{
    for (auto& channel : channels) {
        channel.clear();
    }
    modified = true;
    hasFileName = false;
}

void TransferFunction::AddSample(int channel, uint8_t value, uint32_t position)
{
    std::vector<Sample>& samples = channels[channel];
    samples.push_back(Sample{value, position});
    std::qsort(samples.data(), samples.size(), sizeof(Sample), CompareSamples);
    modified = true;
}

void TransferFunction::RemoveSample(const Sample& sample)
{
    for (auto& channel : channels) {
        for (auto it = channel.begin(); it != channel.end(); ++it) {
            if (&*it == &sample) {
                channel.erase(it);
                return;
            }
        }
    }
}

uint32_t TransferFunction::SampleCount(int channel) const { return static_cast<uint32_t>(channels[channel].size()); }

uint8_t TransferFunction::EvaluateChannel(int channel, uint32_t x) const
{
    const std::vector<Sample>& samples = channels[channel];
    if (samples.empty()) {
        return 0;
    }
    size_t i = 0;
    while (i < samples.size() && samples[i].position <= x) {
        ++i;
    }
    // Outside the curve the nearest end value holds.
    if (i == 0) {
        return samples.front().value;
    }
    if (i == samples.size()) {
        return samples.back().value;
    }
    const Sample& s0 = samples[i - 1];
    const Sample& s1 = samples[i];
    int result = s0.value;
    if (s1.position != s0.position) {
        // 64 bits: positions are unbounded, so the product may not fit 32 bits.
        const int64_t dx = std::abs(int64_t(x) - int64_t(s0.position));
        const int64_t span = std::abs(int64_t(s1.position) - int64_t(s0.position));
        const int64_t dv = int64_t(s1.value) - int64_t(s0.value);
        result += static_cast<int>((dx * dv) / span);
    }
    return static_cast<uint8_t>(result & 0xFF);
}

TransferFunction::Color TransferFunction::Evaluate(uint32_t position) const
{
    return Color{EvaluateChannel(0, position), EvaluateChannel(1, position), EvaluateChannel(2, position),
                 EvaluateChannel(3, position)};
}

TransferFunction::Color TransferFunction::Color::Premultiplied() const
{
    auto times = [this](uint8_t c) { return uint8_t((c * a + 127) / 255); };
    return Color{times(r), times(g), times(b), a};
}

uint32_t TransferFunction::Packed(uint32_t position, bool premultiplied) const
{
    const Color c = Evaluate(position);
    return (premultiplied ? c.Premultiplied() : c).Packed();
}

void TransferFunction::Classify(uint32_t* out, const uint16_t* densities, uint64_t count, bool premultiplied) const
{
    // Densities of a loaded volume are at most 4096: one evaluation per such
    // value, then one pass of table lookups over the voxels on all cores. A
    // short run, or a density above the table, is evaluated directly.
    constexpr uint32_t tableSize = 4097;
    if (count < tableSize) {
        for (uint64_t i = 0; i < count; ++i) {
            out[i] = Packed(densities[i], premultiplied);
        }
        return;
    }
    std::vector<uint32_t> table(tableSize);
    for (uint32_t v = 0; v < tableSize; ++v) {
        table[v] = Packed(v, premultiplied);
    }
    const uint32_t* lookup = table.data();
    VolumeKernels::ParallelFor(count, uint64_t(1) << 16,
                               [this, out, densities, lookup, premultiplied](uint64_t begin, uint64_t end) {
                                   for (uint64_t i = begin; i < end; ++i) {
                                       const uint16_t d = densities[i];
                                       out[i] = d < tableSize ? lookup[d] : Packed(d, premultiplied);
                                   }
                               });
}
