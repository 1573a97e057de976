#include "ImageReader.h"

#include <filesystem>
#include <vector>

#include "HeaderCheck.h"
#include "IsolatedRead.h"

namespace {
// The reader gets a few seconds for any input, more for a large one.
uintmax_t InputBytes(const std::string& path)
{
    std::error_code code;
    if (!std::filesystem::is_directory(path, code)) {
        const uintmax_t size = std::filesystem::file_size(path, code);
        return code ? 0 : size;
    }
    uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path, code)) {
        const uintmax_t size = entry.is_regular_file(code) ? entry.file_size(code) : 0;
        total += code ? 0 : size;
    }
    return total;
}

IsolationLimits Limits(const std::string& path, const ReadLimits& limits)
{
    IsolationLimits isolation;
    isolation.seconds = ReadSeconds(InputBytes(path));
    isolation.cancel = limits.cancel;
    return isolation;
}

// The reader program's request: what to read, then the memory it may use and
// whether it hands on densities or samples (volren-reader.cpp).
std::vector<std::string> Request(std::vector<std::string> what, const ReadLimits& limits)
{
    what.push_back(std::to_string(limits.memoryLimit));
    what.push_back(limits.densities ? "densities" : "samples");
    return what;
}

// A fault of the file's own (a reader's refusal, a crash, a hang, samples
// missing) is told with the format the file was read as; a refusal by size
// or memory, or a cancel, is not the file's fault and stays as it is.
std::string AsFormat(const std::string& format, const std::string& cause)
{
    const std::string generic = "cannot be read: ";
    if (cause.rfind(generic, 0) == 0) {
        return "cannot be read as " + format + ": " + cause.substr(generic.size());
    }
    if (cause.find(format) != std::string::npos) {
        return cause;
    }
    for (const char* fault : {"the reader ", "the file ", "its "}) {
        if (cause.rfind(fault, 0) == 0) {
            return "cannot be read as " + format + ": " + cause;
        }
    }
    for (const char* fault : {"is truncated", "holds no samples"}) {
        if (cause.rfind(fault, 0) == 0) {
            return "cannot be read as " + format + ": it " + cause;
        }
    }
    return cause;
}

bool ReadSeries(const std::string& folder, const std::string& series, const std::string& file, ScalarVolume& volume,
                SourceInfo& info, std::string& notes, std::string& error, const ReadLimits& limits)
{
    const bool read = ReadIsolated(Request({"dicom", folder, series, file}, limits), Limits(folder, limits), volume,
                                   info, notes, error);
    error = read ? error : AsFormat("DICOM", error);
    return read;
}

const char* FormatName(ScanFormat format)
{
    switch (format) {
        case ScanFormat::Nifti:
            return "NIfTI";
        case ScanFormat::Nrrd:
            return "NRRD";
        case ScanFormat::MetaImage:
            return "MetaImage";
        case ScanFormat::Dicom:
            return "DICOM";
        default:
            return "";
    }
}
}  // namespace

bool ReadDicomSeries(const std::string& folder, const std::string& series, ScalarVolume& volume, SourceInfo& info,
                     std::string& notes, std::string& error, const ReadLimits& limits)
{
    return ReadSeries(folder, series, std::string(), volume, info, notes, error, limits);
}

bool ReadDicomSeriesOf(const std::string& file, ScalarVolume& volume, SourceInfo& info, std::string& notes,
                       std::string& error, const ReadLimits& limits)
{
    const std::string folder = std::filesystem::absolute(file).parent_path().string();
    return ReadSeries(folder, std::string(), file, volume, info, notes, error, limits);
}

bool ReadImageFile(const std::string& path, ScalarVolume& volume, SourceInfo& info, std::string& notes,
                   std::string& error, const ReadLimits& limits, bool wholeDicomSeries)
{
    HeaderCheck check;
    if (!CheckHeader(path, limits.memoryLimit ? limits.memoryLimit : PhysicalMemory(), check, error)) {
        error = check.format == ScanFormat::Unknown ? error : AsFormat(FormatName(check.format), error);
        return false;
    }
    notes += check.warnings;
    // Only a file whose content is DICOM goes to the DICOM reader, so that a
    // damaged file of another kind is told as what it is.
    if (check.format == ScanFormat::Unknown) {
        error = wholeDicomSeries
                    ? "is not a scan Volren opens: its content is not DICOM, NIfTI, NRRD or MetaImage"
                    : "not a format volren-import reads (a DICOM folder, NIfTI, NRRD, MetaImage, or raw with --raw)";
        return false;
    }
    if (wholeDicomSeries && check.format == ScanFormat::Dicom) {
        return ReadDicomSeriesOf(path, volume, info, notes, error, limits);
    }
    const char* format = check.format == ScanFormat::Nifti   ? "nifti"
                         : check.format == ScanFormat::Dicom ? "dicom"
                                                             : "image";
    const bool read = ReadIsolated(Request({"file", path, check.readPath, format}, limits), Limits(path, limits),
                                   volume, info, notes, error);
    error = read ? error : AsFormat(FormatName(check.format), error);
    return read;
}
