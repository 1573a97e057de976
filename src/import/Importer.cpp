#include "Importer.h"

#include <filesystem>
#include <new>

#include "DatWriter.h"
#include "GridPlan.h"
#include "ImageReader.h"
#include "RawReader.h"
#include "Resampler.h"
#include "ScalarVolume.h"
#include "ValueRule.h"

namespace {
std::string Sizes(const std::array<size_t, 3>& size)
{
    return std::to_string(size[0]) + " x " + std::to_string(size[1]) + " x " + std::to_string(size[2]);
}

std::string Spacing(const std::array<double, 3>& spacing)
{
    return FormatNumber(spacing[0]) + " x " + FormatNumber(spacing[1]) + " x " + FormatNumber(spacing[2]);
}

bool Read(const ImportOptions& options, ScalarVolume& volume, SourceInfo& info, std::string& notes, std::string& error)
{
    std::error_code code;
    if (!std::filesystem::exists(options.input, code)) {
        error = "no such file or folder";
        return false;
    }
    if (options.raw) {
        return ReadRaw(options.input, *options.raw, volume, info, notes, error);
    }
    if (std::filesystem::is_directory(options.input, code)) {
        ReadLimits limits;
        limits.memoryLimit = options.memoryLimit;
        return ReadDicomSeries(options.input, options.series, volume, info, notes, error, limits);
    }
    ReadLimits limits;
    limits.memoryLimit = options.memoryLimit;
    return ReadImageFile(options.input, volume, info, notes, error, limits);
}
}  // namespace

bool Import(const ImportOptions& options, std::FILE* out, std::string& error)
{
    ScalarVolume volume;
    SourceInfo info;
    std::string notes;
    std::string cause;
    if (!Read(options, volume, info, notes, cause)) {
        error = options.input + ": " + cause;
        return false;
    }
    if (options.spacing) {
        volume.spacing = *options.spacing;
    }
    std::fprintf(out, "%sinput: %s, %s %s, spacing %s\n", notes.c_str(), info.description.c_str(),
                 Sizes(volume.size).c_str(), info.typeName.c_str(), Spacing(volume.spacing).c_str());

    const ValueRule rule = ValueRule::Choose(info, volume, options.window);
    std::fprintf(out, "values: %s\n", rule.Description().c_str());

    GridPlan plan;
    if (!GridPlan::Make(volume.size, volume.spacing, options.maxSize, options.keepGrid, plan, cause)) {
        error = options.input + ": " + cause;
        return false;
    }
    if (plan.resample) {
        try {
            volume = Resample(std::move(volume), plan.size);
        } catch (const std::bad_alloc&) {
            error = options.input + ": not enough memory to resample it";
            return false;
        }
    }
    std::string flipped;
    for (int d = 0; d < 3; ++d) {
        if (options.flip[d]) {
            flipped += (flipped.empty() ? ", flipped along " : " and ") + std::string(1, char('x' + d));
        }
    }
    const char* how = options.keepGrid ? "input grid kept"
                      : plan.resample  ? "resampled to cubic voxels"
                                       : "voxels already cubic";
    std::fprintf(out, "output: %s, spacing %s (%s%s)\n", Sizes(plan.size).c_str(), Spacing(plan.spacing).c_str(), how,
                 flipped.c_str());

    if (!WriteDat(options.output, volume, rule, options.flip, cause)) {
        error = options.output + ": " + cause;
        return false;
    }
    std::fprintf(out, "wrote %s\n", options.output.c_str());
    return true;
}
