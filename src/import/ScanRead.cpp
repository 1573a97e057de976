#include "ScanRead.h"

#include "HeaderCheck.h"
#include "NiftiReader.h"
#include "ReaderChannel.h"
#include "ValueRule.h"

#include <gdcmAttribute.h>
#include <gdcmImageHelper.h>
#include <gdcmImageReader.h>
#include <gdcmReader.h>
#include <gdcmScanner.h>
#include <gdcmTrace.h>
#include <itkGDCMImageIO.h>
#include <itkGDCMImageIOFactory.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageIOFactory.h>
#include <itkCommand.h>
#include <itkImageSeriesReader.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIO.h>
#include <itkMetaImageIOFactory.h>
#include <itkMultiThreaderBase.h>
#include <itkNiftiImageIOFactory.h>
#include <itkNrrdImageIOFactory.h>
#include <metaImage.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <set>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <vector>

namespace {
using Image = itk::Image<float, 3>;
constexpr size_t maxAxis = 65535;

// Only the formats the tool promises, so that any other file is refused by
// name rather than read by some reader nobody tested.
void RegisterFormats()
{
    // A reader runs in a child process, which inherits the image library's
    // pool of worker threads, where one exists, without the threads: work
    // handed to it would wait for ever. Threads made for each task work.
    itk::MultiThreaderBase::SetGlobalDefaultThreader(itk::MultiThreaderBase::ThreaderEnum::Platform);
    static const bool registered = [] {
        itk::GDCMImageIOFactory::RegisterOneFactory();
        itk::NiftiImageIOFactory::RegisterOneFactory();
        itk::NrrdImageIOFactory::RegisterOneFactory();
        itk::MetaImageIOFactory::RegisterOneFactory();
        // The libraries' warnings are multi-line reports on standard error;
        // what matters of them is checked and told in one line instead.
        itk::Object::GlobalWarningDisplayOff();
        gdcm::Trace::WarningOff();
        gdcm::Trace::ErrorOff();
        gdcm::Trace::DebugOff();
        return true;
    }();
    (void)registered;
}

// MetaIO tells its problems on the standard streams as well as to its caller;
// the caller's account is the one the user gets, in one line.
class QuietStandardStreams {
public:
    QuietStandardStreams() : err(std::cerr.rdbuf(nullptr)), out(std::cout.rdbuf(nullptr)) {}
    ~QuietStandardStreams()
    {
        std::cerr.rdbuf(err);
        std::cout.rdbuf(out);
    }
    QuietStandardStreams(const QuietStandardStreams&) = delete;
    QuietStandardStreams& operator=(const QuietStandardStreams&) = delete;

private:
    std::streambuf* err;
    std::streambuf* out;
};

// The library's messages start "ITK ERROR: SomeImageIO(0x55d0...): "; the
// user needs only what follows, on one line. Where that line only leads into
// a trace of the format library's calls ("[nrrd] function: ..."), the trace's
// last entry holds the cause.
std::string Cause(const char* text)
{
    std::vector<std::string> lines;
    std::string rest = text ? text : "";
    for (size_t end; (end = rest.find('\n')) != std::string::npos; rest.erase(0, end + 1)) {
        lines.push_back(rest.substr(0, end));
    }
    lines.push_back(rest);
    std::string line = lines.front();
    const auto object = line.find("): ");
    if (line.rfind("ITK ERROR: ", 0) == 0 && object != std::string::npos) {
        line.erase(0, object + 3);
    }
    while (!lines.empty() && lines.back().find_first_not_of(" \t\r") == std::string::npos) {
        lines.pop_back();
    }
    if (!line.empty() && line.back() == ':' && lines.size() > 1) {
        line = lines.back();
        const auto library = line.find("] ");
        const auto function = library == std::string::npos ? library : line.find(": ", library);
        if (line.front() == '[' && function != std::string::npos) {
            line.erase(0, function + 2);
        }
        line = "cannot be read: " + line;
    }
    const auto first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string("unknown error") : line.substr(first);
}

std::string EndsEarly(uintmax_t needed, uintmax_t available)
{
    return "is truncated: its samples need " + std::to_string(needed) + " bytes, the file holds " +
           std::to_string(available);
}

// A DICOM file whose pixel data end early is read with the rest made up, so
// each file must be as long as its elements declare: preamble and meta header,
// then the data set in its transfer syntax. Compressed pixel data fail to
// decode instead; a deflated data set is shorter than it declares.
bool DicomFileComplete(const gdcm::ImageReader& image, const std::string& name, std::string& error)
{
    const gdcm::TransferSyntax& syntax = image.GetImage().GetTransferSyntax();
    if (syntax.IsEncapsulated() || syntax == gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian) {
        return true;
    }
    const gdcm::File& file = image.GetFile();
    const gdcm::FileMetaInformation& meta = file.GetHeader();
    const gdcm::DataSet& data = file.GetDataSet();
    uintmax_t declared = meta.GetFullLength();
    declared += meta.GetDataSetTransferSyntax().IsExplicit() ? data.GetLength<gdcm::ExplicitDataElement>()
                                                             : data.GetLength<gdcm::ImplicitDataElement>();
    std::error_code code;
    const uintmax_t size = std::filesystem::file_size(name, code);
    if (code || size < declared) {
        error = "the file " + name + " is truncated: its elements need " + std::to_string(declared) +
                " bytes, the file holds " + std::to_string(code ? 0 : size);
        return false;
    }
    return true;
}

// Every slice must be complete and describe its pixels as the first does:
// the series reader sizes the volume from one of them.
std::string PixelDescription(const gdcm::Image& pixels)
{
    const gdcm::PixelFormat& format = pixels.GetPixelFormat();
    const unsigned* dims = pixels.GetDimensions();
    return std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + ", " +
           std::to_string(format.GetSamplesPerPixel()) + " samples of " + std::to_string(format.GetBitsAllocated()) +
           " bits";
}

bool DicomFilesComplete(const std::vector<std::string>& files, std::string& error)
{
    std::string firstDescription;
    for (const std::string& name : files) {
        ReportReadProgress();
        gdcm::ImageReader image;
        image.SetFileName(name.c_str());
        if (!image.Read()) {
            error = "the file " + name + " cannot be read as DICOM";
            return false;
        }
        const std::string description = PixelDescription(image.GetImage());
        if (firstDescription.empty()) {
            firstDescription = description;
        } else if (description != firstDescription) {
            error = "the file " + name + " describes its pixels as " + description + ", the series' first as " +
                    firstDescription;
            return false;
        }
        if (!DicomFileComplete(image, name, error)) {
            return false;
        }
    }
    return true;
}

// MetaImage: the samples, or their compressed stream of the size the header
// gives, follow the header line naming the data file ("LOCAL": this one), or
// fill a file of their own.
bool MetaImageComplete(itk::MetaImageIO& io, const std::string& path, std::string& error)
{
    const MetaImage* meta = io.GetMetaImagePointer();
    const std::string data = meta->ElementDataFileName();
    if (data == "LIST" || data.find('%') != std::string::npos) {
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    std::string head(1 << 16, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(in.gcount()));
    const auto field = head.find("ElementDataFile");
    const auto end = field == std::string::npos ? std::string::npos : head.find('\n', field);
    if (end == std::string::npos) {
        return true;
    }
    uintmax_t needed = io.GetImageSizeInBytes();
    if (meta->CompressedData()) {
        const auto sizeField = head.rfind("CompressedDataSize", field);
        const auto equals = sizeField == std::string::npos ? std::string::npos : head.find('=', sizeField);
        if (equals == std::string::npos) {
            return true;
        }
        needed = std::strtoull(head.c_str() + equals + 1, nullptr, 10);
    }
    uintmax_t start = end + 1;
    std::filesystem::path file = path;
    if (data != "LOCAL") {
        file = std::filesystem::path(path).parent_path() / data;
        start = !meta->CompressedData() && meta->HeaderSize() > 0 ? uintmax_t(meta->HeaderSize()) : 0;
    }
    std::error_code code;
    const uintmax_t size = std::filesystem::file_size(file, code);
    if (code) {
        error = "its data file " + file.string() + " cannot be read: " + code.message();
        return false;
    }
    const uintmax_t available = size < start ? 0 : size - start;
    if (available < needed) {
        error = EndsEarly(needed, available);
        return false;
    }
    return true;
}

void DescribeType(itk::IOComponentEnum type, SourceInfo& info)
{
    using C = itk::IOComponentEnum;
    struct Name {
        C type;
        const char* name;
    };
    static const Name names[] = {{C::UCHAR, "uint8"},    {C::CHAR, "int8"},     {C::USHORT, "uint16"},
                                 {C::SHORT, "int16"},    {C::UINT, "uint32"},   {C::INT, "int32"},
                                 {C::ULONG, "uint64"},   {C::LONG, "int64"},    {C::ULONGLONG, "uint64"},
                                 {C::LONGLONG, "int64"}, {C::FLOAT, "float32"}, {C::DOUBLE, "float64"}};
    info.typeName = "unknown";
    for (const Name& n : names) {
        if (n.type == type) {
            info.typeName = n.name;
        }
    }
    info.integerType = type != C::FLOAT && type != C::DOUBLE && info.typeName != "unknown";
    info.unsigned8Bit = type == C::UCHAR;
    info.signed8Bit = type == C::CHAR;
}

// Refuses what a .dat file cannot hold: several values per voxel, more than
// one volume, more samples along an axis than its 16-bit sizes allow.
bool CheckShape(const itk::ImageIOBase& io, std::string& error)
{
    if (io.GetNumberOfComponents() != 1) {
        error = "has " + std::to_string(io.GetNumberOfComponents()) +
                " values per voxel (colour, vector or complex); only scalar images can be imported";
        return false;
    }
    const unsigned dimensions = io.GetNumberOfDimensions();
    for (unsigned d = 3; d < dimensions; ++d) {
        if (io.GetDimensions(d) > 1) {
            error = "holds " + std::to_string(io.GetDimensions(d)) + " volumes along dimension " +
                    std::to_string(d + 1) + "; only a single volume can be imported";
            return false;
        }
    }
    std::string sizes;
    bool tooLarge = false;
    for (unsigned d = 0; d < std::min(dimensions, 3u); ++d) {
        sizes += (d ? " x " : "") + std::to_string(io.GetDimensions(d));
        tooLarge = tooLarge || io.GetDimensions(d) > maxAxis;
    }
    if (tooLarge) {
        error = "is " + sizes + " voxels; a .dat file holds at most 65535 along each axis";
        return false;
    }
    return true;
}

void TakeImage(const Image* image, ScalarVolume& volume)
{
    const auto size = image->GetLargestPossibleRegion().GetSize();
    for (int d = 0; d < 3; ++d) {
        volume.size[d] = size[d];
        volume.spacing[d] = image->GetSpacing()[d];
    }
    const float* first = image->GetBufferPointer();
    volume.samples.assign(first, first + volume.Count());
}

std::string FormatName(const itk::ImageIOBase& io)
{
    const std::string name = io.GetNameOfClass();
    if (name == "NiftiImageIO") {
        return "NIfTI";
    }
    if (name == "NrrdImageIO") {
        return "NRRD";
    }
    if (name == "MetaImageIO") {
        return "MetaImage";
    }
    return "DICOM";
}

std::string Trimmed(std::string text)
{
    const auto last = text.find_last_not_of(" \t\r\n");
    text.erase(last == std::string::npos ? 0 : last + 1);
    const auto first = text.find_first_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first);
}

// An identifier the user typed matches a series whole, or as the leading
// components of the detailed identifier the library makes from several tags.
bool SeriesMatches(const std::string& series, const std::string& wanted)
{
    return series == wanted || (series.size() > wanted.size() && series.compare(0, wanted.size(), wanted) == 0 &&
                                series[wanted.size()] == '.');
}

// What a slice's header says of its place in a series, read without its pixels.
struct SliceHeader {
    std::string name;
    std::string series;
    std::string shape;  // rows and columns
    long instance = 0;
    bool placed = false;  // has a position and an orientation
    std::array<double, 3> position{};
    std::array<double, 6> orientation{};
};

bool ReadSliceHeader(const std::string& name, SliceHeader& slice)
{
    using gdcm::Tag;
    gdcm::Reader reader;
    reader.SetFileName(name.c_str());
    const std::set<Tag> tags = {Tag(0x0020, 0x000e), Tag(0x0020, 0x0013), Tag(0x0020, 0x0032),
                                Tag(0x0020, 0x0037), Tag(0x0028, 0x0010), Tag(0x0028, 0x0011)};
    if (!reader.ReadSelectedTags(tags)) {
        return false;
    }
    const gdcm::DataSet& data = reader.GetFile().GetDataSet();
    gdcm::Attribute<0x0020, 0x000e> uid;
    if (!data.FindDataElement(uid.GetTag()) || data.GetDataElement(uid.GetTag()).IsEmpty()) {
        return false;
    }
    uid.SetFromDataSet(data);
    slice.name = name;
    slice.series = Trimmed(std::string(uid.GetValue()));
    gdcm::Attribute<0x0028, 0x0010> rows;
    gdcm::Attribute<0x0028, 0x0011> columns;
    rows.SetFromDataSet(data);
    columns.SetFromDataSet(data);
    slice.shape = std::to_string(rows.GetValue()) + "." + std::to_string(columns.GetValue());
    gdcm::Attribute<0x0020, 0x0013> instance;
    if (data.FindDataElement(instance.GetTag()) && !data.GetDataElement(instance.GetTag()).IsEmpty()) {
        instance.SetFromDataSet(data);
        slice.instance = long(instance.GetValue());
    }
    gdcm::Attribute<0x0020, 0x0032> position;
    gdcm::Attribute<0x0020, 0x0037> orientation;
    slice.placed = data.FindDataElement(position.GetTag()) && !data.GetDataElement(position.GetTag()).IsEmpty() &&
                   data.FindDataElement(orientation.GetTag()) && !data.GetDataElement(orientation.GetTag()).IsEmpty();
    if (slice.placed) {
        position.SetFromDataSet(data);
        orientation.SetFromDataSet(data);
        for (unsigned i = 0; i < 3; ++i) {
            slice.position[i] = position.GetValue(i);
        }
        for (unsigned i = 0; i < 6; ++i) {
            slice.orientation[i] = orientation.GetValue(i);
        }
        slice.placed =
            std::all_of(slice.position.begin(), slice.position.end(), [](double v) { return std::isfinite(v); }) &&
            std::all_of(slice.orientation.begin(), slice.orientation.end(), [](double v) { return std::isfinite(v); });
    }
    return true;
}

// The DICOM series in a folder, each file read up to the few tags that place
// it (never its pixels), with progress after each: a file on which the parser
// hangs is ended within seconds. A series is named by its identifier, and by
// its rows and columns as well where files of one identifier differ in them.
// Its files are in the order of their positions along the slices' normal,
// else of their instance numbers, else of their names.
std::map<std::string, std::vector<std::string>> SeriesInFolder(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code listing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, listing)) {
        std::error_code kind;
        if (entry.is_regular_file(kind)) {
            names.push_back(entry.path().string());
        }
    }
    std::sort(names.begin(), names.end());
    std::map<std::string, std::vector<SliceHeader>> byIdentifier;
    for (const std::string& name : names) {
        ReportReadProgress();
        SliceHeader slice;
        if (ReadSliceHeader(name, slice)) {
            byIdentifier[slice.series].push_back(slice);
        }
    }
    std::map<std::string, std::vector<SliceHeader>> groups;
    for (auto& [uid, slices] : byIdentifier) {
        const std::string& shape = slices.front().shape;
        const bool oneShape =
            std::all_of(slices.begin(), slices.end(), [&shape](const SliceHeader& s) { return s.shape == shape; });
        for (SliceHeader& slice : slices) {
            groups[oneShape ? uid : uid + "." + slice.shape].push_back(slice);
        }
    }
    std::map<std::string, std::vector<std::string>> series;
    for (auto& [uid, slices] : groups) {
        const bool placed = std::all_of(slices.begin(), slices.end(), [](const SliceHeader& s) { return s.placed; });
        const std::array<double, 6>& o = slices.front().orientation;
        const std::array<double, 3> normal = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                                              o[0] * o[4] - o[1] * o[3]};
        const auto along = [&](const SliceHeader& s) {
            return placed ? s.position[0] * normal[0] + s.position[1] * normal[1] + s.position[2] * normal[2] : 0.0;
        };
        std::stable_sort(slices.begin(), slices.end(), [&](const SliceHeader& a, const SliceHeader& b) {
            const double pa = along(a);
            const double pb = along(b);
            if (pa != pb) {
                return pa < pb;
            }
            return a.instance != b.instance ? a.instance < b.instance : a.name < b.name;
        });
        for (const SliceHeader& slice : slices) {
            series[uid].push_back(slice.name);
        }
    }
    return series;
}

// The lean way through a series of single-frame greyscale slices of 8 or 16
// bits: each file is parsed once, its stored values go straight into one
// 16-bit array in their final place, and each slice's rescale is applied
// only when the values are handed on, as densities in place or as floats.
class DicomSlices {
public:
    enum class Outcome { Read, Failed, NotSuitable };

    // densities: the values are to become densities, not floats.
    Outcome Read(const std::vector<std::string>& files, uint64_t memoryLimit, bool densities, std::string& notes,
                 std::string& error)
    {
        if (files.size() < 2) {
            return Outcome::NotSuitable;
        }
        // As the image library's series reader does, so that both ways read
        // the same values.
        gdcm::ImageHelper::SetForceRescaleInterceptSlope(true);
        rescales.resize(files.size());
        positions.resize(files.size());
        std::vector<ValueStatistics> sliceStatistics(files.size());
        std::vector<std::string> errors(files.size());
        std::vector<Outcome> outcomes(files.size(), Outcome::Read);
        outcomes[0] = ReadSlice(0, files[0], memoryLimit, densities, sliceStatistics[0], errors[0]);
        if (outcomes[0] != Outcome::Read) {
            error = errors[0];
            return outcomes[0];
        }
        // The files on all cores, each parsed by a reader of its own; the
        // first that fails is told, whichever thread found it.
        std::atomic<bool> failed{false};
#pragma omp parallel for schedule(dynamic)
        for (long long k = 1; k < (long long)files.size(); ++k) {
            if (!failed.load()) {
                const size_t i = size_t(k);
                outcomes[i] = ReadSlice(i, files[i], memoryLimit, densities, sliceStatistics[i], errors[i]);
                if (outcomes[i] != Outcome::Read) {
                    failed = true;
                }
            }
        }
        for (size_t k = 0; k < files.size(); ++k) {
            if (outcomes[k] != Outcome::Read) {
                error = errors[k];
                return Outcome::Failed;
            }
            statistics.Add(sliceStatistics[k]);
        }
        PlaceSlices(notes);
        return Outcome::Read;
    }

    void Describe(SourceInfo& info) const
    {
        bool integral = true;
        bool changed = false;
        for (const Rescale& r : rescales) {
            integral = integral && r.slope == std::round(r.slope) && r.intercept == std::round(r.intercept);
            changed = changed || r.slope != 1.0 || r.intercept != 0.0;
        }
        const bool signedValues = stored.GetPixelRepresentation() == 1;
        const bool eight = stored.GetBitsAllocated() == 8;
        info.typeName = eight ? (signedValues ? "int8" : "uint8") : (signedValues ? "int16" : "uint16");
        info.integerType = integral;
        info.unsigned8Bit = eight && !signedValues && !changed;
        info.signed8Bit = eight && signedValues && !changed;
        info.dicom = true;
        info.modality = modality;
        info.modalityCT = modality == "CT";
    }

    // Hands the values on: mapped to densities in place, or as floats.
    void Take(SourceInfo& info, bool densities, ScalarVolume& volume)
    {
        volume.size = size;
        volume.spacing = spacing;
        const size_t count = size[0] * size[1];
        const bool signedValues = stored.GetPixelRepresentation() == 1;
        std::vector<size_t> tableOf;
        if (densities) {
            const ValueRule rule = ValueRule::Choose(info, statistics, std::nullopt);
            info.valueRule = rule.Description();
            info.hounsfield = rule.Hounsfield();
            const auto tables = Tables<uint16_t>(
                tableOf, [&](const Rescale& r, uint16_t raw) { return rule.Map(r.Value(raw, signedValues)); });
#pragma omp parallel for
            for (long long k = 0; k < (long long)size[2]; ++k) {
                uint16_t* v = values.data() + size_t(k) * count;
                const uint16_t* table = tables[tableOf[size_t(k)]].data();
                for (size_t i = 0; i < count; ++i) {
                    v[i] = table[v[i]];
                }
            }
            volume.densities = std::move(values);
            return;
        }
        volume.samples.resize(values.size());
        const auto tables =
            Tables<float>(tableOf, [&](const Rescale& r, uint16_t raw) { return r.Value(raw, signedValues); });
#pragma omp parallel for
        for (long long k = 0; k < (long long)size[2]; ++k) {
            const uint16_t* v = values.data() + size_t(k) * count;
            float* out = volume.samples.data() + size_t(k) * count;
            const float* table = tables[tableOf[size_t(k)]].data();
            for (size_t i = 0; i < count; ++i) {
                out[i] = table[v[i]];
            }
        }
        values = DensityBlock();
    }

private:
    // One file into its place; the first sets the series' shape, the others
    // must match it.
    Outcome ReadSlice(size_t k, const std::string& name, uint64_t memoryLimit, bool densities,
                      ValueStatistics& sliceStatistics, std::string& error)
    {
        ReportReadProgress();
        gdcm::ImageReader reader;
        reader.SetFileName(name.c_str());
        if (!reader.Read()) {
            error = "the file " + name + " cannot be read as DICOM";
            return Outcome::Failed;
        }
        const gdcm::Image& image = reader.GetImage();
        const gdcm::PixelFormat& format = image.GetPixelFormat();
        const unsigned* dims = image.GetDimensions();
        const bool frames = image.GetNumberOfDimensions() > 2 && dims[2] > 1;
        const auto photometric = image.GetPhotometricInterpretation();
        const bool grey = photometric == gdcm::PhotometricInterpretation::MONOCHROME1 ||
                          photometric == gdcm::PhotometricInterpretation::MONOCHROME2;
        const unsigned bits = format.GetBitsAllocated();
        const std::string description = PixelDescription(image);
        if (k == 0) {
            if (frames || !grey || format.GetSamplesPerPixel() != 1 || (bits != 8 && bits != 16) || dims[0] == 0 ||
                dims[1] == 0 || dims[0] > maxAxis || dims[1] > maxAxis || rescales.size() > maxAxis) {
                return Outcome::NotSuitable;
            }
            first = description;
            size = {dims[0], dims[1], rescales.size()};
            spacing = {image.GetSpacing(0), image.GetSpacing(1), 1.0};
            stored = format;
            const long double needed = (long double)size[0] * size[1] * size[2] * (densities ? 2 : 2 + 4);
            if (needed > (long double)(memoryLimit ? memoryLimit : PhysicalMemory())) {
                error = "is " + std::to_string(size[0]) + " x " + std::to_string(size[1]) + " x " +
                        std::to_string(size[2]) + " voxels, more than the memory holds";
                return Outcome::Failed;
            }
            // Densities go straight into the caller's memory file.
            if (!values.Create(size[0] * size[1] * size[2], densities ? ReaderDensityFile() : -1)) {
                error = "not enough memory to read it";
                return Outcome::Failed;
            }
            gdcm::Attribute<0x0008, 0x0060> modalityTag;
            modalityTag.SetFromDataSet(reader.GetFile().GetDataSet());
            modality = Trimmed(std::string(modalityTag.GetValue()));
        } else if (description != first || frames ||
                   format.GetPixelRepresentation() != stored.GetPixelRepresentation()) {
            error = "the file " + name + " describes its pixels as " + description + ", the series' first as " + first;
            return Outcome::Failed;
        }
        if (!DicomFileComplete(reader, name, error)) {
            return Outcome::Failed;
        }
        const size_t count = size[0] * size[1];
        const size_t bytes = count * (bits / 8);
        if (image.GetBufferLength() != bytes) {
            error = "the file " + name + " holds " + std::to_string(image.GetBufferLength()) +
                    " bytes of pixels, its header describes " + std::to_string(bytes);
            return Outcome::Failed;
        }
        std::vector<char> slice(bytes);
        if (!image.GetBuffer(slice.data())) {
            error = "the pixels of the file " + name + " cannot be decoded";
            return Outcome::Failed;
        }
        const Rescale rescale{image.GetSlope(), image.GetIntercept()};
        rescales[k] = rescale;
        positions[k] = {image.GetOrigin(0), image.GetOrigin(1), image.GetOrigin(2)};
        uint16_t* out = values.data() + k * count;
        const bool signedValues = stored.GetPixelRepresentation() == 1;
        if (bits == 8) {
            for (size_t i = 0; i < count; ++i) {
                out[i] = signedValues ? uint16_t(int16_t(int8_t(slice[i]))) : uint16_t(uint8_t(slice[i]));
            }
        } else {
            std::memcpy(out, slice.data(), bytes);
        }
        sliceStatistics = signedValues ? rescale.Statistics(reinterpret_cast<const int16_t*>(out), count)
                                       : rescale.Statistics(out, count);
        return Outcome::Read;
    }

    struct Rescale {
        double slope = 1.0;
        double intercept = 0.0;

        float Value(uint16_t raw, bool signedValues) const
        {
            return float((signedValues ? double(int16_t(raw)) : double(raw)) * slope + intercept);
        }
        bool operator==(const Rescale& other) const { return slope == other.slope && intercept == other.intercept; }

        // The statistics of the rescaled values, counted on the stored
        // integers: their range, and air as the stored range that rescales
        // into it.
        template <typename T>
        ValueStatistics Statistics(const T* raw, size_t count) const
        {
            ValueStatistics s;
            if (count == 0) {
                return s;
            }
            T low = raw[0];
            T high = raw[0];
            double airLow = -1100.0;
            double airHigh = -900.0;
            if (slope != 0.0) {
                airLow = (-1100.0 - intercept) / slope;
                airHigh = (-900.0 - intercept) / slope;
                if (slope < 0.0) {
                    std::swap(airLow, airHigh);
                }
            }
            const bool airEverywhere = slope == 0.0 && intercept >= -1100.0 && intercept <= -900.0;
            const bool airNowhere = slope == 0.0 && !airEverywhere;
            const double first = std::ceil(airLow);
            const double last = std::floor(airHigh);
            const long long from = (long long)std::max(first, -70000.0);
            const long long to = (long long)std::min(last, 70000.0);
            size_t air = 0;
            for (size_t i = 0; i < count; ++i) {
                low = std::min(low, raw[i]);
                high = std::max(high, raw[i]);
                air += (long long)raw[i] >= from && (long long)raw[i] <= to;
            }
            s.Add(float(double(low) * slope + intercept));
            s.Add(float(double(high) * slope + intercept));
            s.finite = count;
            s.air = airNowhere ? 0 : airEverywhere ? count : air;
            return s;
        }
    };

    // Each distinct rescale's values for every stored integer, so that
    // handing the values on is one look-up a voxel.
    template <typename T, typename Make>
    std::vector<std::vector<T>> Tables(std::vector<size_t>& tableOf, const Make& make) const
    {
        std::vector<Rescale> distinct;
        std::vector<std::vector<T>> tables;
        tableOf.resize(rescales.size());
        for (size_t k = 0; k < rescales.size(); ++k) {
            const auto known = std::find(distinct.begin(), distinct.end(), rescales[k]);
            tableOf[k] = size_t(known - distinct.begin());
            if (known == distinct.end()) {
                distinct.push_back(rescales[k]);
                std::vector<T> table(65536);
                for (size_t raw = 0; raw < table.size(); ++raw) {
                    table[raw] = make(rescales[k], uint16_t(raw));
                }
                tables.push_back(std::move(table));
            }
        }
        return tables;
    }

    // The slices lie in the order the series' file names were sorted; the
    // distance between the first two is their spacing, and a series whose
    // others lie elsewhere is told so.
    void PlaceSlices(std::string& notes)
    {
        const auto distance = [&](size_t a, size_t b) {
            double sum = 0.0;
            for (int d = 0; d < 3; ++d) {
                sum += (positions[b][d] - positions[a][d]) * (positions[b][d] - positions[a][d]);
            }
            return std::sqrt(sum);
        };
        spacing[2] = distance(0, 1);
        if (!(spacing[2] > 1e-9)) {
            spacing[2] = 1.0;
            return;
        }
        double deviation = 0.0;
        for (size_t k = 2; k < positions.size(); ++k) {
            deviation = std::max(deviation, std::abs(distance(k - 1, k) - spacing[2]));
        }
        if (deviation > 0.01 * spacing[2]) {
            notes += "warning: the slices are not evenly spaced (deviation " + std::to_string(deviation) +
                     "); the distance between the first two is used\n";
        }
    }

    std::string first;
    std::array<size_t, 3> size{};
    std::array<double, 3> spacing{};
    gdcm::PixelFormat stored;
    std::string modality;
    DensityBlock values;
    std::vector<Rescale> rescales;
    std::vector<std::array<double, 3>> positions;
    ValueStatistics statistics;
};

// Maps a volume read as floats to densities, as the lean way does, so the
// caller gets 16-bit densities from every reader.
void MapToDensities(SourceInfo& info, ScalarVolume& volume)
{
    const ValueRule rule = ValueRule::Choose(info, volume, std::nullopt);
    info.valueRule = rule.Description();
    info.hounsfield = rule.Hounsfield();
    if (!volume.densities.Create(volume.samples.size(), ReaderDensityFile())) {
        throw std::bad_alloc();
    }
#pragma omp parallel for
    for (long long i = 0; i < (long long)volume.samples.size(); ++i) {
        volume.densities.data()[size_t(i)] = rule.Map(volume.samples[size_t(i)]);
    }
    volume.samples = std::vector<float>();
}

bool DicomSeriesInChild(const std::string& folder, const std::string& series, const std::string& file,
                        uint64_t memoryLimit, bool densities, ScalarVolume& volume, SourceInfo& info,
                        std::string& notes, std::string& error)
{
    RegisterFormats();
    try {
        SliceHeader given;
        if (!file.empty() && !ReadSliceHeader(file, given)) {
            error = "cannot be read as DICOM: its header cannot be parsed or names no series";
            return false;
        }
        const std::map<std::string, std::vector<std::string>> found = SeriesInFolder(folder);
        std::vector<std::string> all;
        for (const auto& [uid, files] : found) {
            all.push_back(uid);
        }
        if (all.empty()) {
            error = "no DICOM series in this folder";
            return false;
        }
        const auto fileNames = [&](const std::string& uid) -> const std::vector<std::string>& { return found.at(uid); };
        std::string chosen;
        size_t chosenFiles = 0;
        size_t matches = 0;
        std::error_code code;
        const auto wanted = std::filesystem::weakly_canonical(file, code);
        const auto holdsFile = [&](const std::string& uid) {
            for (const std::string& name : fileNames(uid)) {
                if (std::filesystem::weakly_canonical(name, code) == wanted) {
                    return true;
                }
            }
            return false;
        };
        if (!file.empty() && !code) {
            for (const std::string& uid : all) {
                if (holdsFile(uid)) {
                    chosen = uid;
                    chosenFiles = fileNames(uid).size();
                }
            }
            if (chosen.empty()) {
                error = "is not part of a readable DICOM series";
                return false;
            }
        }
        for (const std::string& uid : file.empty() ? all : std::vector<std::string>()) {
            const size_t files = fileNames(uid).size();
            if (series.empty() ? files > chosenFiles : SeriesMatches(uid, series)) {
                chosen = uid;
                chosenFiles = files;
                ++matches;
            }
        }
        if (!series.empty() && matches != 1) {
            error = (matches == 0 ? "no series " : "several series match ") + series;
            return false;
        }
        if (all.size() > 1 && series.empty() && file.empty()) {
            notes += "note: " + std::to_string(all.size()) +
                     " series in this folder, importing the one with the most"
                     " slices; choose another with --series:\n";
            for (const std::string& uid : all) {
                notes += "  " + uid + " (" + std::to_string(fileNames(uid).size()) + " slices)\n";
            }
        }

        const auto describe = [&](const std::string& modality) {
            info.description = "DICOM series " + chosen + " (" + std::to_string(chosenFiles) + " slices" +
                               (modality.empty() ? std::string() : ", modality " + modality) + ")";
        };
        DicomSlices slices;
        switch (slices.Read(fileNames(chosen), memoryLimit, densities, notes, error)) {
            case DicomSlices::Outcome::Failed:
                return false;
            case DicomSlices::Outcome::Read:
                slices.Describe(info);
                describe(info.modality);
                slices.Take(info, densities, volume);
                return true;
            case DicomSlices::Outcome::NotSuitable:
                break;
        }
        // Multi-frame files, colour, 32-bit samples: the image library's
        // series reader, slower and with the samples as floats.
        if (!DicomFilesComplete(fileNames(chosen), error)) {
            return false;
        }
        auto io = itk::GDCMImageIO::New();
        auto reader = itk::ImageSeriesReader<Image>::New();
        reader->SetImageIO(io);
        reader->SetFileNames(fileNames(chosen));
        // From here the read reports each slice it has read: a file on which
        // the DICOM library hangs is ended within seconds, not at the limit.
        auto progress = itk::CStyleCommand::New();
        progress->SetCallback([](itk::Object*, const itk::EventObject&, void*) { ReportReadProgress(); });
        reader->AddObserver(itk::ProgressEvent(), progress);
        ReportReadProgress();
        reader->UpdateOutputInformation();
        if (!CheckShape(*io, error)) {
            return false;
        }
        // The slices' sizes come from their headers: the series is read only
        // where its samples, stored and as floats twice, fit in the memory.
        const auto region = reader->GetOutput()->GetLargestPossibleRegion().GetSize();
        const long double voxels = (long double)region[0] * region[1] * region[2];
        const long double needed = voxels * (io->GetComponentSize() + 8);
        if (needed > (long double)(memoryLimit ? memoryLimit : PhysicalMemory())) {
            error = "is " + std::to_string(region[0]) + " x " + std::to_string(region[1]) + " x " +
                    std::to_string(region[2]) + " voxels, more than the memory holds";
            return false;
        }
        reader->Update();

        std::string modality;
        itk::ExposeMetaData<std::string>(io->GetMetaDataDictionary(), "0008|0060", modality);
        modality = Trimmed(modality);
        DescribeType(io->GetComponentType(), info);
        info.dicom = true;
        info.modalityCT = modality == "CT";
        info.modality = modality;
        describe(modality);
        // Rounding in the stored positions makes tiny deviations; a missing
        // slice makes one as large as the spacing.
        double deviation = 0.0;
        if (itk::ExposeMetaData<double>(reader->GetOutput()->GetMetaDataDictionary(),
                                        "ITK_non_uniform_sampling_deviation", deviation) &&
            deviation > 0.01 * reader->GetOutput()->GetSpacing()[2]) {
            notes += "warning: the slices are not evenly spaced (deviation " + std::to_string(deviation) +
                     "); the distance between the first two is used\n";
        }
        TakeImage(reader->GetOutput(), volume);
        return true;
    } catch (const itk::ExceptionObject& e) {
        error = Cause(e.GetDescription());
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read it";
    }
    volume.samples.clear();
    return false;
}

bool ImageFileInChild(const std::string& path, bool dicom, ScalarVolume& volume, SourceInfo& info, std::string& error)
{
    RegisterFormats();
    const QuietStandardStreams quiet;
    try {
        auto io = itk::ImageIOFactory::CreateImageIO(path.c_str(), itk::IOFileModeEnum::ReadMode);
        if (!io && dicom) {
            error = "cannot be read as DICOM: its data elements cannot be parsed";
            return false;
        }
        if (!io) {
            error = "not a format volren-import reads (a DICOM folder, NIfTI, NRRD, MetaImage, or raw with --raw)";
            return false;
        }
        io->SetFileName(path);
        io->ReadImageInformation();
        if (!CheckShape(*io, error)) {
            return false;
        }
        const std::string format = FormatName(*io);
        auto* meta = dynamic_cast<itk::MetaImageIO*>(io.GetPointer());
        if (meta && !MetaImageComplete(*meta, path, error)) {
            return false;
        }
        auto reader = itk::ImageFileReader<Image>::New();
        reader->SetImageIO(io);
        reader->SetFileName(path);
        reader->Update();
        DescribeType(io->GetComponentType(), info);
        info.description = format;
        if (format == "DICOM") {
            std::string modality;
            itk::ExposeMetaData<std::string>(io->GetMetaDataDictionary(), "0008|0060", modality);
            info.dicom = true;
            info.modality = Trimmed(modality);
            info.modalityCT = info.modality == "CT";
        }
        TakeImage(reader->GetOutput(), volume);
        return true;
    } catch (const itk::ExceptionObject& e) {
        error = Cause(e.GetDescription());
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read it";
    }
    volume.samples.clear();
    return false;
}

bool ReadInChild(bool ok, bool densities, SourceInfo& info, ScalarVolume& volume)
{
    if (ok && densities && volume.densities.empty()) {
        MapToDensities(info, volume);
    }
    return ok;
}
}  // namespace

bool ReadDicomFolder(const std::string& folder, const std::string& series, const std::string& file,
                     uint64_t memoryLimit, bool densities, ScalarVolume& volume, SourceInfo& info, std::string& notes,
                     std::string& error)
{
    return ReadInChild(DicomSeriesInChild(folder, series, file, memoryLimit, densities, volume, info, notes, error),
                       densities, info, volume);
}

bool ReadScanFile(const std::string& path, const std::string& readPath, const std::string& format, uint64_t memoryLimit,
                  bool densities, ScalarVolume& volume, SourceInfo& info, std::string& error)
{
    bool ok = false;
    if (format == "nifti") {
        // The checked header, as the caller found it; a NIfTI check writes no copy.
        HeaderCheck check;
        ok = CheckHeader(path, memoryLimit ? memoryLimit : PhysicalMemory(), check, error) &&
             check.format == ScanFormat::Nifti && ReadNifti(check.readPath, check.nifti, volume, info, error);
        if (!ok && error.empty()) {
            error = "cannot be read as NIfTI: its header is not a NIfTI header";
        }
    } else {
        ok = ImageFileInChild(readPath, format == "dicom", volume, info, error);
    }
    return ReadInChild(ok, densities, info, volume);
}
