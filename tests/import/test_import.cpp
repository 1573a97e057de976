// volren-import as a child process, on files written by the image library's
// own writers: what it prints, the exit status, and the .dat file it leaves.
#include <gdcmTrace.h>
#include <itkGDCMImageIO.h>
#include <itkImage.h>
#include <itkImageFileWriter.h>
#include <itkImageSeriesReader.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <itkRGBPixel.h>

#include <sys/stat.h>

#include <QDir>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "ScanFiles.h"
#include "TestSupport.h"

namespace {
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome Tool(const std::string& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(QString::fromStdString(ProgramFolder() + program), arguments);
    EXPECT_TRUE(tool.waitForFinished(120000));
    Outcome run;
    run.status = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.out = tool.readAllStandardOutput().toStdString();
    run.err = tool.readAllStandardError().toStdString();
    return run;
}

Outcome Import(const std::string& input, const std::string& output, QStringList options = {})
{
    options.prepend(QString::fromStdString(output));
    options.prepend(QString::fromStdString(input));
    return Tool("volren-import", options);
}

struct Dat {
    std::array<size_t, 3> size{};
    std::vector<uint16_t> samples;
    uint16_t At(size_t x, size_t y, size_t z) const { return samples[x + size[0] * (y + size[1] * z)]; }
    std::array<size_t, 3> Brightest() const
    {
        const size_t i = size_t(std::max_element(samples.begin(), samples.end()) - samples.begin());
        return {i % size[0], i / size[0] % size[1], i / (size[0] * size[1])};
    }
};

Dat ReadDat(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    Dat dat;
    if (bytes.size() < 6) {
        ADD_FAILURE() << path << " has no header";
        return dat;
    }
    const auto u16 = [&](size_t at) { return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
    for (int d = 0; d < 3; ++d) {
        dat.size[d] = u16(2 * d);
    }
    const size_t count = dat.size[0] * dat.size[1] * dat.size[2];
    EXPECT_EQ(bytes.size(), 6 + 2 * count) << path;
    dat.samples.resize(std::min(count, (bytes.size() - 6) / 2));
    for (size_t i = 0; i < dat.samples.size(); ++i) {
        dat.samples[i] = u16(6 + 2 * i);
    }
    return dat;
}

// The names in a folder, to see that a failed import leaves nothing behind.
std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A CT series: one file per slice, named in the reverse of their order along
// the patient axis, stored with rescale slope 2 and intercept -1024, so that
// stored value s means 2 s - 1024 HU.
constexpr std::array<size_t, 3> ctSize = {8, 6, 5};
constexpr std::array<size_t, 3> ctMarker = {5, 2, 3};
int16_t CtHounsfield(size_t x, size_t y, size_t z)
{
    int stored = 600 + 5 * int(x) + 20 * int(y);
    if (x == ctMarker[0] && y == ctMarker[1] && z == ctMarker[2]) {
        stored = 1800;
    } else if (x == 0 && y == 0) {
        stored = z == 0 ? 0 : 3000;  // below air and above the clamp
    }
    return int16_t(2 * stored - 1024);
}

// The writer takes the image's values in real-world units and stores them
// through the inverse of the rescale its tags name.
void WriteDicomSeries(const std::string& folder, const std::string& uid, const std::string& modality, size_t slices,
                      const std::function<int16_t(size_t, size_t, size_t)>& value)
{
    // The writer warns that the image carries no photometric interpretation,
    // for which it then uses the right one.
    gdcm::Trace::WarningOff();
    std::filesystem::create_directories(folder);
    for (size_t z = 0; z < slices; ++z) {
        auto slice = MakeVolume<int16_t>({ctSize[0], ctSize[1], 1}, {0.5, 0.5, 1.5},
                                         [&](size_t x, size_t y, size_t) { return value(x, y, z); });
        Volume<int16_t>::PointType origin;
        origin[0] = 0.0;
        origin[1] = 0.0;
        origin[2] = 1.5 * double(z);
        slice->SetOrigin(origin);
        itk::MetaDataDictionary& tags = slice->GetMetaDataDictionary();
        itk::EncapsulateMetaData<std::string>(tags, "0008|0060", modality);
        itk::EncapsulateMetaData<std::string>(tags, "0020|000e", uid);
        itk::EncapsulateMetaData<std::string>(tags, "0020|0013", std::to_string(z + 1));
        if (modality == "CT") {
            itk::EncapsulateMetaData<std::string>(tags, "0028|1052", "-1024");
            itk::EncapsulateMetaData<std::string>(tags, "0028|1053", "2");
        }
        auto io = itk::GDCMImageIO::New();
        io->KeepOriginalUIDOn();
        Write<Volume<int16_t>>(slice, folder + "/" + modality + std::to_string(slices - z) + ".dcm", io);
    }
}

void ExpectNothingWritten(const Outcome& run, const std::string& named, const std::string& folder,
                          const std::vector<std::string>& before)
{
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("volren-import: " + named + ": ", 0), 0u) << run.err;
    EXPECT_EQ(Listing(folder), before);
}
}  // namespace

TEST(Import, DicomCtSeriesInPositionOrderWithRescaleAndHounsfieldRule)
{
    ScratchFolder scratch;
    const std::string folder = scratch.Path("ct");
    WriteDicomSeries(folder, "1.2.826.0.1.3680043.2.1125.1", "CT", ctSize[2], CtHounsfield);
    // The files really carry the rescale the reader has to apply.
    auto check = itk::GDCMImageIO::New();
    check->SetFileName(folder + "/CT1.dcm");
    check->ReadImageInformation();
    ASSERT_EQ(check->GetRescaleSlope(), 2.0);
    ASSERT_EQ(check->GetRescaleIntercept(), -1024.0);

    const Outcome kept = Import(folder, scratch.Path("kept.dat"), {"--keep-grid"});
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_NE(kept.out.find("input: DICOM series 1.2.826.0.1.3680043.2.1125.1"), std::string::npos) << kept.out;
    EXPECT_NE(kept.out.find("5 slices, modality CT), 8 x 6 x 5"), std::string::npos) << kept.out;
    EXPECT_NE(kept.out.find("spacing 0.5 x 0.5 x 1.5\n"), std::string::npos) << kept.out;
    EXPECT_NE(kept.out.find("values: CT: HU + 1024, clamped to 0..4095 (input range -1024..4976)"), std::string::npos)
        << kept.out;
    EXPECT_NE(kept.out.find("output: 8 x 6 x 5, spacing 0.5 x 0.5 x 1.5 (input grid kept)"), std::string::npos)
        << kept.out;
    EXPECT_EQ(kept.out.find("warning"), std::string::npos) << kept.out;
    const Dat dat = ReadDat(scratch.Path("kept.dat"));
    ASSERT_EQ(dat.size, ctSize);
    for (size_t z = 0; z < ctSize[2]; ++z) {
        for (size_t y = 0; y < ctSize[1]; ++y) {
            for (size_t x = 0; x < ctSize[0]; ++x) {
                ASSERT_EQ(dat.At(x, y, z), std::clamp(CtHounsfield(x, y, z) + 1024, 0, 4095))
                    << x << " " << y << " " << z;
            }
        }
    }

    // 1.5 mm slices become three of 0.5 mm; the marker's slice is the middle one.
    const Outcome cubic = Import(folder, scratch.Path("cubic.dat"));
    ASSERT_EQ(cubic.status, 0) << cubic.err;
    EXPECT_NE(cubic.out.find("output: 8 x 6 x 15, spacing 0.5 x 0.5 x 0.5 (resampled to cubic voxels)"),
              std::string::npos)
        << cubic.out;
    const Dat resampled = ReadDat(scratch.Path("cubic.dat"));
    ASSERT_EQ(resampled.size, (std::array<size_t, 3>{8, 6, 15}));
    EXPECT_EQ(resampled.At(5, 2, 10), 3600);
    EXPECT_LT(resampled.At(5, 2, 9), 3600);
    EXPECT_LT(resampled.At(5, 2, 11), 3600);
    EXPECT_LT(resampled.At(5, 3, 10), 3600);
    EXPECT_EQ(resampled.At(3, 4, 7), CtHounsfield(3, 4, 2) + 1024);
}

TEST(Import, ChoosesAmongSeveralSeries)
{
    ScratchFolder scratch;
    const std::string folder = scratch.Path("two");
    WriteDicomSeries(folder, "1.2.826.0.1.3680043.2.1125.7", "CT", 5, CtHounsfield);
    WriteDicomSeries(folder, "1.2.826.0.1.3680043.2.1125.8", "MR", 3,
                     [](size_t x, size_t y, size_t z) { return int16_t(1024 + 100 * z + x + y); });

    const Outcome largest = Import(folder, scratch.Path("largest.dat"), {"--keep-grid"});
    ASSERT_EQ(largest.status, 0) << largest.err;
    EXPECT_NE(largest.out.find("note: 2 series in this folder"), std::string::npos) << largest.out;
    EXPECT_NE(largest.out.find("modality CT"), std::string::npos) << largest.out;
    EXPECT_EQ(ReadDat(scratch.Path("largest.dat")).size[2], 5u);

    const Outcome chosen =
        Import(folder, scratch.Path("mr.dat"), {"--keep-grid", "--series", "1.2.826.0.1.3680043.2.1125.8"});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(chosen.out.find("note:"), std::string::npos) << chosen.out;
    EXPECT_NE(chosen.out.find("modality MR"), std::string::npos) << chosen.out;
    EXPECT_NE(chosen.out.find("values: unchanged: integers within 0..4096"), std::string::npos) << chosen.out;
    const Dat mr = ReadDat(scratch.Path("mr.dat"));
    ASSERT_EQ(mr.size, (std::array<size_t, 3>{8, 6, 3}));
    EXPECT_EQ(mr.At(7, 5, 2), 1024 + 200 + 12);

    const auto before = Listing(scratch.path());
    ExpectNothingWritten(Import(folder, scratch.Path("none.dat"), {"--series", "1.2.3"}), folder, scratch.path(),
                         before);
}

namespace {
// A series of 9 x 7 slices of T, 0.8 mm apart, with the rescale tags given.
template <typename T>
void WriteTypedSeries(const std::string& folder, const std::string& modality, const std::string& slope,
                      const std::string& intercept, size_t slices,
                      const std::function<T(size_t, size_t, size_t)>& value)
{
    gdcm::Trace::WarningOff();
    std::filesystem::create_directories(folder);
    for (size_t z = 0; z < slices; ++z) {
        auto slice =
            MakeVolume<T>({9, 7, 1}, {0.6, 0.7, 0.8}, [&](size_t x, size_t y, size_t) { return value(x, y, z); });
        typename Volume<T>::PointType origin;
        origin.Fill(0.0);
        origin[2] = 0.8 * double(z);
        slice->SetOrigin(origin);
        itk::MetaDataDictionary& tags = slice->GetMetaDataDictionary();
        itk::EncapsulateMetaData<std::string>(tags, "0008|0060", modality);
        itk::EncapsulateMetaData<std::string>(tags, "0020|000e", "1.2.826.0.1.3680043.2.1125.44");
        if (!slope.empty()) {
            itk::EncapsulateMetaData<std::string>(tags, "0028|1052", intercept);
            itk::EncapsulateMetaData<std::string>(tags, "0028|1053", slope);
        }
        auto io = itk::GDCMImageIO::New();
        io->KeepOriginalUIDOn();
        Write<Volume<T>>(slice, folder + "/s" + std::to_string(z) + ".dcm", io);
    }
}

// The series as the image library's own series reader gives it, in floats.
std::vector<float> ReadWithTheImageLibrary(const std::string& folder, size_t slices)
{
    std::vector<std::string> names;
    for (size_t z = 0; z < slices; ++z) {
        names.push_back(folder + "/s" + std::to_string(z) + ".dcm");
    }
    auto reader = itk::ImageSeriesReader<itk::Image<float, 3>>::New();
    reader->SetImageIO(itk::GDCMImageIO::New());
    reader->SetFileNames(names);
    reader->Update();
    const float* first = reader->GetOutput()->GetBufferPointer();
    return std::vector<float>(first, first + 9 * 7 * slices);
}
}  // namespace

// Each stored type and rescale the slice-by-slice reader handles gives the
// values of the image library's series reader under the rule it names: 8
// bits times 16, 16 bits over 4096 and a fractional rescale linear over the
// range.
TEST(Import, DicomSeriesOfEachStoredTypeReadsAsTheImageLibraryDoes)
{
    ScratchFolder scratch;
    struct Case {
        std::string name;
        std::function<void(const std::string&)> write;
        std::string rule;
    };
    const std::vector<Case> cases = {
        {"uint8",
         [](const std::string& f) {
             WriteTypedSeries<uint8_t>(f, "MR", "", "", 4, [](size_t x, size_t y, size_t z) {
                 return uint8_t((x * 29 + y * 7 + z * 51) % 256);
             });
         },
         "8-bit: times 16"},
        {"uint16",
         [](const std::string& f) {
             WriteTypedSeries<uint16_t>(f, "MR", "", "", 5, [](size_t x, size_t y, size_t z) {
                 return uint16_t(100 + x * 1000 + y * 37 + z * 3);
             });
         },
         "linear from 100.."},
        {"signed",
         [](const std::string& f) {
             WriteTypedSeries<int16_t>(f, "MR", "2", "-1000", 3, [](size_t x, size_t y, size_t z) {
                 return int16_t(2 * (int(x * 100) - int(y * 250) + int(z)) - 1000);
             });
         },
         "linear from -4000..604"},
        {"fractional",
         [](const std::string& f) {
             // The writer takes only whole slopes; the files' slope 3 then
             // becomes 0.5 in place (both two characters).
             WriteTypedSeries<int16_t>(f, "MR", "3", "10", 3, [](size_t x, size_t y, size_t z) {
                 return int16_t(3 * (int(x * 100) - int(y * 250) + int(z)) + 10);
             });
             for (const auto& entry : std::filesystem::directory_iterator(f)) {
                 std::string bytes = ReadFile(entry.path().string());
                 const std::string tag("\x28\x00\x53\x10", 4);
                 const auto at = bytes.find(tag);
                 ASSERT_NE(at, std::string::npos);
                 ASSERT_EQ(bytes.substr(at + 8, 2), "3 ");
                 bytes.replace(at + 8, 2, ".5");
                 WriteFile(entry.path().string(), bytes);
             }
         },
         "linear from"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = scratch.Path(c.name);
        c.write(folder);
        const size_t slices = size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
        const std::vector<float> expected = ReadWithTheImageLibrary(folder, slices);
        const Outcome run = Import(folder, scratch.Path(c.name + ".dat"), {"--keep-grid"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("values: " + c.rule), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("spacing 0.6 x 0.7 x 0.8\n"), std::string::npos) << run.out;
        const Dat dat = ReadDat(scratch.Path(c.name + ".dat"));
        ASSERT_EQ(dat.size, (std::array<size_t, 3>{9, 7, slices}));
        const auto [low, high] = std::minmax_element(expected.begin(), expected.end());
        for (size_t i = 0; i < expected.size(); ++i) {
            double mapped = 0.0;
            if (c.name == "uint8") {
                mapped = std::min(double(expected[i]) * 16.0, 4080.0);
            } else {
                const double scale = 4095.0 / (double(*high) - double(*low));
                mapped = std::min(double(expected[i]) * scale - double(*low) * scale, 4095.0);
            }
            ASSERT_EQ(dat.samples[i], mapped > 0.0 ? std::lround(mapped) : 0)
                << "sample " << i << " of " << expected[i];
        }
    }
}

// A series with a slice missing is imported, with a warning that says so.
TEST(Import, WarnsOfUnevenlySpacedSlices)
{
    ScratchFolder scratch;
    const std::string folder = scratch.Path("gap");
    WriteDicomSeries(folder, "1.2.826.0.1.3680043.2.1125.5", "CT", ctSize[2], CtHounsfield);
    std::filesystem::remove(folder + "/CT3.dcm");
    const Outcome run = Import(folder, scratch.Path("gap.dat"), {"--keep-grid"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("warning: the slices are not evenly spaced"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(4 slices, modality CT)"), std::string::npos) << run.out;
}

// NIfTI holding Hounsfield units: air all around, soft tissue, one bright voxel.
TEST(Import, NiftiPlainAndCompressedLookingLikeHounsfieldUnits)
{
    ScratchFolder scratch;
    const auto hu = [](size_t x, size_t y, size_t z) -> int16_t {
        if (x == 6 && y == 1 && z == 2) {
            return 2000;
        }
        return x >= 2 && x < 8 && y >= 2 && y < 6 ? 40 : -1000;
    };
    const auto image = MakeVolume<int16_t>({10, 8, 4}, {1.0, 1.0, 2.0}, hu);
    for (const char* name : {"ct.nii", "ct.nii.gz"}) {
        Write<Volume<int16_t>>(image, scratch.Path(name), itk::NiftiImageIO::New(), true);
        const Outcome run = Import(scratch.Path(name), scratch.Path("ct.dat"));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("input: NIfTI, 10 x 8 x 4 int16, spacing 1 x 1 x 2\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("values: CT (values look like HU): HU + 1024, clamped to 0..4095 (input range "
                               "-1000..2000)"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("output: 10 x 8 x 8, spacing 1 x 1 x 1 (resampled to cubic voxels)"), std::string::npos)
            << run.out;
        const Dat dat = ReadDat(scratch.Path("ct.dat"));
        ASSERT_EQ(dat.size, (std::array<size_t, 3>{10, 8, 8}));
        EXPECT_EQ(dat.At(0, 0, 0), 24);
        EXPECT_EQ(dat.At(3, 3, 0), 1064);
        // Slice 2 of 2 mm covers the new slices 4 and 5, which share the marker.
        const auto brightest = dat.Brightest();
        EXPECT_EQ(brightest[0], 6u);
        EXPECT_EQ(brightest[1], 1u);
        EXPECT_TRUE(brightest[2] == 4 || brightest[2] == 5) << brightest[2];
        EXPECT_GT(dat.At(6, 1, 4), 1024 + 1000);
        EXPECT_EQ(dat.At(6, 1, 4), dat.At(6, 1, 5));
    }
    const auto plain = std::filesystem::file_size(scratch.Path("ct.nii"));
    const auto compressed = std::filesystem::file_size(scratch.Path("ct.nii.gz"));
    EXPECT_LT(compressed, plain);
}

// 8-bit NRRD, with the samples in the header's file and in a detached one.
TEST(Import, NrrdAttachedAndDetachedEightBit)
{
    ScratchFolder scratch;
    const auto value = [](size_t x, size_t y, size_t z) -> uint8_t {
        return x == 1 && y == 4 && z == 2 ? 255 : uint8_t(x + 10 * y + 3 * z);
    };
    const auto image = MakeVolume<uint8_t>({7, 5, 3}, {0.25, 0.25, 0.25}, value);
    for (const char* name : {"grid.nrrd", "grid.nhdr"}) {
        Write<Volume<uint8_t>>(image, scratch.Path(name), itk::NrrdImageIO::New());
        const Outcome run = Import(scratch.Path(name), scratch.Path("grid.dat"));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("input: NRRD, 7 x 5 x 3 uint8, spacing 0.25 x 0.25 x 0.25\n"), std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("values: 8-bit: times 16 (input range 0..255)"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("output: 7 x 5 x 3, spacing 0.25 x 0.25 x 0.25 (voxels already cubic)"),
                  std::string::npos)
            << run.out;
        const Dat dat = ReadDat(scratch.Path("grid.dat"));
        ASSERT_EQ(dat.size, (std::array<size_t, 3>{7, 5, 3}));
        for (size_t i = 0; i < dat.samples.size(); ++i) {
            ASSERT_EQ(dat.samples[i], 16 * value(i % 7, i / 7 % 5, i / 35)) << i;
        }
    }
    EXPECT_TRUE(std::filesystem::exists(scratch.Path("grid.raw.gz")) ||
                std::filesystem::exists(scratch.Path("grid.raw")));
}

// MetaImage: floats map from their range to 0..4095; 16-bit integers in range stay.
TEST(Import, MetaImageFloatLinearAndIntegersUnchanged)
{
    ScratchFolder scratch;
    const auto real = [](size_t x, size_t y, size_t z) -> float {
        return x == 2 && y == 3 && z == 1 ? 2.5f : -1.5f + 0.25f * float(x) + 0.125f * float(y) + 0.0625f * float(z);
    };
    Write<Volume<float>>(MakeVolume<float>({6, 4, 3}, {2.0, 1.0, 1.0}, real), scratch.Path("f.mha"),
                         itk::MetaImageIO::New());
    const Outcome linear = Import(scratch.Path("f.mha"), scratch.Path("f.dat"));
    ASSERT_EQ(linear.status, 0) << linear.err;
    EXPECT_NE(linear.out.find("input: MetaImage, 6 x 4 x 3 float32, spacing 2 x 1 x 1\n"), std::string::npos)
        << linear.out;
    EXPECT_NE(linear.out.find("values: linear from -1.5..2.5 to 0..4095 (input range -1.5..2.5)"), std::string::npos)
        << linear.out;
    EXPECT_NE(linear.out.find("output: 12 x 4 x 3, spacing 1 x 1 x 1 (resampled to cubic voxels)"), std::string::npos)
        << linear.out;
    const Dat resampled = ReadDat(scratch.Path("f.dat"));
    ASSERT_EQ(resampled.size, (std::array<size_t, 3>{12, 4, 3}));
    const auto brightest = resampled.Brightest();
    EXPECT_TRUE(brightest[0] == 4 || brightest[0] == 5) << brightest[0];
    EXPECT_EQ(brightest[1], 3u);
    EXPECT_EQ(brightest[2], 1u);
    EXPECT_EQ(resampled.At(0, 0, 0), 0);

    const Outcome window = Import(scratch.Path("f.mha"), scratch.Path("w.dat"), {"--keep-grid", "--window", "-1,1"});
    ASSERT_EQ(window.status, 0) << window.err;
    EXPECT_NE(window.out.find("values: window: linear from -1..1 to 0..4095 (input range -1.5..2.5)"),
              std::string::npos)
        << window.out;
    const Dat windowed = ReadDat(scratch.Path("w.dat"));
    EXPECT_EQ(windowed.At(0, 0, 0), 0);
    EXPECT_EQ(windowed.At(2, 3, 1), 4095);
    EXPECT_EQ(windowed.At(2, 0, 0), std::lround((real(2, 0, 0) + 1.0) / 2.0 * 4095.0));

    const auto integer = [](size_t x, size_t y, size_t z) -> uint16_t { return uint16_t(4096 - x - 7 * y - 50 * z); };
    Write<Volume<uint16_t>>(MakeVolume<uint16_t>({5, 5, 5}, {0.7, 0.7, 0.7}, integer), scratch.Path("u.mhd"),
                            itk::MetaImageIO::New());
    const Outcome unchanged = Import(scratch.Path("u.mhd"), scratch.Path("u.dat"), {"--flip", "x", "--flip", "z"});
    ASSERT_EQ(unchanged.status, 0) << unchanged.err;
    EXPECT_NE(unchanged.out.find("values: unchanged: integers within 0..4096 (input range 3864..4096)"),
              std::string::npos)
        << unchanged.out;
    EXPECT_NE(unchanged.out.find("(voxels already cubic, flipped along x and z)"), std::string::npos) << unchanged.out;
    const Dat flipped = ReadDat(scratch.Path("u.dat"));
    for (size_t z = 0; z < 5; ++z) {
        for (size_t y = 0; y < 5; ++y) {
            for (size_t x = 0; x < 5; ++x) {
                ASSERT_EQ(flipped.At(x, y, z), integer(4 - x, y, 4 - z));
            }
        }
    }
}

// Larger than --max-size: scaled down uniformly, proportions kept.
TEST(Import, ScalesDownUniformlyToTheSizeLimit)
{
    ScratchFolder scratch;
    Write<Volume<uint16_t>>(
        MakeVolume<uint16_t>({40, 30, 10}, {1.0, 1.0, 2.0},
                             [](size_t x, size_t, size_t) { return uint16_t(x < 20 ? 1000 : 3000); }),
        scratch.Path("big.mha"), itk::MetaImageIO::New());
    const Outcome run = Import(scratch.Path("big.mha"), scratch.Path("small.dat"), {"--max-size", "20"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("output: 20 x 15 x 10, spacing 2 x 2 x 2 (resampled to cubic voxels)"), std::string::npos)
        << run.out;
    const Dat dat = ReadDat(scratch.Path("small.dat"));
    ASSERT_EQ(dat.size, (std::array<size_t, 3>{20, 15, 10}));
    EXPECT_EQ(dat.At(0, 7, 5), 1000);
    EXPECT_EQ(dat.At(19, 7, 5), 3000);
    // The edge between the halves falls between samples 9 and 10.
    EXPECT_LT(dat.At(9, 7, 5), 2000);
    EXPECT_GT(dat.At(10, 7, 5), 2000);
}

TEST(Import, RawEachTypeAndByteOrder)
{
    ScratchFolder scratch;
    struct Case {
        const char* type;
        size_t bytes;
        double value;  // of the marker; the rest hold small values
    };
    for (const Case c :
         {Case{"uint8", 1, 200}, Case{"int16", 2, -300}, Case{"uint16", 2, 4000}, Case{"float32", 4, 0.75}}) {
        for (const bool big : {false, true}) {
            const size_t nx = 4, ny = 3, nz = 2, skip = 5;
            std::string bytes(skip, 'h');
            for (size_t i = 0; i < nx * ny * nz; ++i) {
                const double v = i == 13 ? c.value : double(i % 4);
                unsigned char sample[4];
                const std::string type = c.type;
                if (type == "uint8") {
                    sample[0] = uint8_t(v);
                } else if (type == "int16") {
                    const int16_t s = int16_t(v);
                    std::memcpy(sample, &s, 2);
                } else if (type == "uint16") {
                    const uint16_t s = uint16_t(v);
                    std::memcpy(sample, &s, 2);
                } else {
                    const float s = float(v);
                    std::memcpy(sample, &s, 4);
                }
                for (size_t b = 0; b < c.bytes; ++b) {
                    bytes.push_back(char(sample[big ? c.bytes - 1 - b : b]));
                }
            }
            const std::string input = scratch.Path("dump.raw");
            WriteFile(input, bytes);
            QStringList options = {"--raw", "4x3x2", "--type", c.type, "--skip", "5"};
            if (big) {
                options << "--big-endian";
            }
            const Outcome run = Import(input, scratch.Path("raw.dat"), options);
            ASSERT_EQ(run.status, 0) << c.type << " " << run.err;
            EXPECT_NE(run.out.find(std::string("input: raw, 4 x 3 x 2 ") + c.type + ", spacing 1 x 1 x 1\n"),
                      std::string::npos)
                << run.out;
            const Dat dat = ReadDat(scratch.Path("raw.dat"));
            ASSERT_EQ(dat.size, (std::array<size_t, 3>{4, 3, 2}));
            const double low = std::min(0.0, c.value), high = std::max(3.0, c.value);
            const std::string type = c.type;
            for (size_t i = 0; i < dat.samples.size(); ++i) {
                const double v = i == 13 ? c.value : double(i % 4);
                const long expected = type == "uint8"    ? long(16 * v)
                                      : type == "uint16" ? long(v)
                                                         : std::lround((v - low) / (high - low) * 4095.0);
                ASSERT_EQ(dat.samples[i], expected) << type << (big ? " big" : " little") << " sample " << i;
            }
        }
    }
}

TEST(Import, RawSpacingResamples)
{
    ScratchFolder scratch;
    WriteFile(scratch.Path("r.raw"), std::string(2 * 2 * 3, '\x10'));
    const Outcome run = Import(scratch.Path("r.raw"), scratch.Path("r.dat"),
                               {"--raw", "2x2x3", "--type", "uint8", "--spacing", "1,1,2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("input: raw, 2 x 2 x 3 uint8, spacing 1 x 1 x 2\n"), std::string::npos) << run.out;
    const Dat dat = ReadDat(scratch.Path("r.dat"));
    EXPECT_EQ(dat.size, (std::array<size_t, 3>{2, 2, 6}));
    EXPECT_TRUE(std::all_of(dat.samples.begin(), dat.samples.end(), [](uint16_t v) { return v == 256; }));
}

// Each bad input: exit 1, one line naming the file and the cause, and the
// output folder as it was.
TEST(Import, BadInputLeavesNothingBehind)
{
    ScratchFolder scratch;
    const std::string in = scratch.Path("in");
    const std::string out = scratch.Path("out");
    std::filesystem::create_directories(in);
    std::filesystem::create_directories(out);
    const std::string target = out + "/v.dat";
    WriteFile(target, "previous");
    const auto before = Listing(out);
    const auto expect = [&](const std::string& input, const std::string& cause, QStringList options = {}) {
        const Outcome run = Import(input, target, options);
        ExpectNothingWritten(run, input, out, before);
        EXPECT_NE(run.err.find(cause), std::string::npos) << run.err;
        EXPECT_TRUE(ReadFile(target) == "previous") << "the previous output was replaced";
    };

    expect(in + "/missing.nii", "no such file or folder");
    // Nobody writes into this pipe: reading it would wait for ever.
    ASSERT_EQ(::mkfifo((in + "/pipe.nii").c_str(), 0600), 0);
    expect(in + "/pipe.nii", "is not a regular file");
    std::filesystem::remove(in + "/pipe.nii");
    WriteFile(in + "/notes.txt", "not an image\n");
    expect(in + "/notes.txt", "not a format volren-import reads");
    WriteFile(in + "/header.mha", "ObjectType = Image\nNDims = 3\nDimSize = 2 2\nElementDataFile = LOCAL\n");
    expect(in + "/header.mha", "cannot be read");
    WriteFile(in + "/garbage.nii", std::string(400, 'x'));
    // Named as NIfTI or NRRD without such a header: the message names the
    // format that failed, not a DICOM series that is not there.
    expect(in + "/garbage.nii", "cannot be read as NIfTI: its header is not a NIfTI header");
    WriteFile(in + "/garbage.nii.gz", std::string(400, 'x'));
    expect(in + "/garbage.nii.gz", "cannot be read as NIfTI: its header is not a NIfTI header");
    WriteFile(in + "/garbage.nrrd", std::string(400, 'x'));
    expect(in + "/garbage.nrrd", "cannot be read as NRRD: it does not begin with a NRRD magic line");
    WriteFile(in + "/garbage.raw", std::string(400, 'x'));
    expect(in + "/garbage.raw", "not a format volren-import reads");
    // A NIfTI header without its magic is still checked before the image
    // library, which reads such a file as Analyze: one whose sizes lie in the
    // other byte order than its size field (the library would swap them to
    // 1280 x 1024 x 768 and allocate 2 GB), and one that cannot hold its
    // samples.
    const auto header = [](int16_t dims, int16_t x, int16_t y, int16_t z, float offset) {
        std::string h(352, '\0');
        const int32_t size = 348;
        const int16_t dim[8] = {dims, x, y, z, 1, 1, 1, 1};
        const int16_t type[2] = {4, 16};
        std::memcpy(&h[0], &size, 4);
        std::memcpy(&h[40], dim, sizeof dim);
        std::memcpy(&h[70], type, sizeof type);
        std::memcpy(&h[108], &offset, 4);
        return h;
    };
    WriteFile(in + "/swapped.nii", header(0x0300, 0x0500, 0x0400, 0x0300, 352.0f));
    expect(in + "/swapped.nii", "its header gives 768 dimensions");
    WriteFile(in + "/short.nii", header(3, 1280, 1024, 768, 352.0f));
    expect(in + "/short.nii", "is truncated: its samples need 2013265920 bytes, the file holds 0");
    // A header that makes the image one-dimensional would read as a grid
    // with an axis of no samples: refused before any reader acts on it.
    WriteFile(in + "/line.nii", header(1, 12, 1, 0, 352.0f) + std::string(24, '\0'));
    expect(in + "/line.nii", "cannot be read as NIfTI: its header gives a size of 0 along dimension 3");
    // A header line full of control characters is quoted as printable text,
    // in one line that sends the terminal nothing to act on.
    WriteFile(in + "/controls.mha", "ObjectType = Image\nNDims = 3\n\x1b[2J\x1b]0;owned\x07\rSpoof\nDimSize = 2 2 2\n");
    const Outcome controls = Import(in + "/controls.mha", target);
    EXPECT_EQ(controls.status, 1);
    EXPECT_EQ(std::count(controls.err.begin(), controls.err.end(), '\n'), 1) << controls.err;
    EXPECT_EQ(controls.err.find('\x1b'), std::string::npos) << controls.err;
    EXPECT_EQ(controls.err.find('\r'), std::string::npos) << controls.err;
    EXPECT_NE(controls.err.find("\\x1B[2J\\x1B]0;owned\\x07\\x0DSpoof"), std::string::npos) << controls.err;
    expect(in, "no DICOM series in this folder");

    const auto image =
        MakeVolume<int16_t>({32, 32, 16}, {1, 1, 1}, [](size_t x, size_t y, size_t z) { return int16_t(x * y + z); });
    // Each format cut short, plain and compressed, its samples in the header's
    // file or in one of their own.
    struct Cut {
        const char* name;
        const char* data;  // the file to shorten
        bool compress;
    };
    for (const Cut cut :
         {Cut{"cut.nii", "cut.nii", false}, Cut{"cut.nii.gz", "cut.nii.gz", true}, Cut{"cut.nrrd", "cut.nrrd", false},
          Cut{"cutz.nrrd", "cutz.nrrd", true}, Cut{"cut.nhdr", "cut.raw", false}, Cut{"cut.mha", "cut.mha", false},
          Cut{"cutz.mha", "cutz.mha", true}, Cut{"cutd.mhd", "cutd.raw", false}}) {
        const std::string path = in + "/" + cut.name;
        const std::string name = cut.name;
        if (name.find(".nii") != std::string::npos) {
            Write<Volume<int16_t>>(image, path, itk::NiftiImageIO::New(), cut.compress);
        } else if (name.find(".n") != std::string::npos) {
            Write<Volume<int16_t>>(image, path, itk::NrrdImageIO::New(), cut.compress);
        } else {
            Write<Volume<int16_t>>(image, path, itk::MetaImageIO::New(), cut.compress);
        }
        const std::string data = in + "/" + cut.data;
        std::filesystem::resize_file(data, std::filesystem::file_size(data) - 40);
        const Outcome run = Import(path, target);
        ExpectNothingWritten(run, path, out, before);
        EXPECT_TRUE(ReadFile(target) == "previous") << "the previous output was replaced";
    }
    const Outcome truncated = Import(in + "/cut.nii", target);
    EXPECT_NE(truncated.err.find("is truncated: its samples need 32768 bytes, the file holds 32728"), std::string::npos)
        << truncated.err;

    // One slice of a DICOM series cut short.
    WriteDicomSeries(in + "/series", "1.2.826.0.1.3680043.2.1125.3", "CT", 4, CtHounsfield);
    const std::string slice = in + "/series/CT2.dcm";
    std::filesystem::resize_file(slice, std::filesystem::file_size(slice) - 20);
    expect(in + "/series", "the file " + slice + " is truncated");

    WriteFile(in + "/short.raw", std::string(100, '\0'));
    expect(in + "/short.raw", "is too short: 100 bytes, but 4 x 4 x 4 uint16 after 0 skipped bytes needs 128",
           {"--raw", "4x4x4", "--type", "uint16"});
    expect(in + "/short.raw", "is too short", {"--raw", "2x2x2", "--type", "uint8", "--skip", "95"});

    Write<Volume<uint8_t>>(MakeVolume<uint8_t>({70000, 1, 2}, {1, 1, 1}, [](size_t, size_t, size_t) { return 1; }),
                           in + "/long.mha", itk::MetaImageIO::New());
    expect(in + "/long.mha", "is 70000 x 1 x 2 voxels; a .dat file holds at most 65535 along each axis",
           {"--keep-grid"});

    using Colour = itk::Image<itk::RGBPixel<uint8_t>, 3>;
    auto colour = Colour::New();
    colour->SetRegions(Colour::RegionType(Colour::SizeType{{4, 4, 4}}));
    colour->Allocate(true);
    Write<Colour>(colour, in + "/colour.mha", itk::MetaImageIO::New());
    expect(in + "/colour.mha", "has 3 values per voxel");

    using Series = itk::Image<int16_t, 4>;
    auto series = Series::New();
    series->SetRegions(Series::RegionType(Series::SizeType{{4, 4, 4, 3}}));
    series->Allocate(true);
    Write<Series>(series, in + "/fmri.nii", itk::NiftiImageIO::New());
    expect(in + "/fmri.nii", "holds 3 volumes along dimension 4");

    // The library's writers refuse a zero spacing; other programs write one.
    WriteFile(in + "/flat.mha",
              "ObjectType = Image\nNDims = 3\nDimSize = 2 2 2\nElementSpacing = 1 0 1\nElementType = MET_UCHAR\n"
              "ElementDataFile = LOCAL\n" +
                  std::string(8, '\x01'));
    expect(in + "/flat.mha", "spacing");

    // An output that cannot be written names the output.
    Write<Volume<uint8_t>>(MakeVolume<uint8_t>({4, 4, 4}, {1, 1, 1}, [](size_t, size_t, size_t) { return 1; }),
                           in + "/ok.mha", itk::MetaImageIO::New());
    const std::string nowhere = out + "/missing/v.dat";
    const Outcome run = Import(in + "/ok.mha", nowhere);
    ExpectNothingWritten(run, nowhere, out, before);
}

TEST(Import, BadArgumentsExitTwo)
{
    ScratchFolder scratch;
    WriteFile(scratch.Path("a.raw"), std::string(8, '\0'));
    const QString in = QString::fromStdString(scratch.Path("a.raw"));
    const QString out = QString::fromStdString(scratch.Path("a.dat"));
    const QList<QStringList> cases = {
        {},
        {in},
        {in, out, "extra"},
        {in, out, "--bogus"},
        {in, out, "--raw", "2x2"},
        {in, out, "--raw", "0x2x2", "--type", "uint8"},
        {in, out, "--raw", "70000x1x1", "--type", "uint8"},
        {in, out, "--raw", "2x2x2"},
        {in, out, "--raw", "2x2x2", "--type", "int64"},
        {in, out, "--type", "uint8"},
        {in, out, "--big-endian"},
        {in, out, "--raw", "2x2x2", "--type", "uint8", "--skip", "-1"},
        {in, out, "--spacing", "1,0,1"},
        {in, out, "--window", "5,1"},
        {in, out, "--window", "a,b"},
        {in, out, "--max-size", "0"},
        {in, out, "--max-size", "70000"},
        {in, out, "--keep-grid", "--max-size", "64"},
        {in, out, "--flip", "w"},
        {in, out, "--series", "1.2.3"},
    };
    for (const QStringList& arguments : cases) {
        const Outcome run = Tool("volren-import", arguments);
        EXPECT_EQ(run.status, 2) << arguments.join(' ').toStdString();
        EXPECT_NE(run.err.find("usage: volren-import"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(scratch.Path("a.dat")));
    }
    const Outcome help = Tool("volren-import", {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--raw", "--type", "--big-endian", "--skip", "--spacing", "--series", "--window",
                               "--max-size", "--keep-grid", "--flip"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
}

// An imported CT series opens in volren-render and draws, and so does the
// series itself, read by the renderer's tool directly.
TEST(Import, ImportedVolumeOpensInTheRendererAndDraws)
{
    ScratchFolder scratch;
    const std::string folder = scratch.Path("ct");
    WriteDicomSeries(folder, "1.2.826.0.1.3680043.2.1125.9", "CT", ctSize[2], CtHounsfield);
    ASSERT_EQ(Import(folder, scratch.Path("ct.dat")).status, 0);
    for (const std::string& volume : {scratch.Path("ct.dat"), folder}) {
        const std::string picture = scratch.Path("ct.png");
        const Outcome render = Tool("volren-render", {QString::fromStdString(volume), "-o",
                                                      QString::fromStdString(picture), "--size", "64x64"});
        ASSERT_EQ(render.status, 0) << volume << ": " << render.err;
        const QImage image(QString::fromStdString(picture));
        ASSERT_EQ(image.size(), QSize(64, 64));
        int lit = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                lit += qGray(image.pixel(x, y)) > 16;
            }
        }
        EXPECT_GT(lit, 100) << volume;
        EXPECT_LT(lit, 64 * 64) << volume;
    }
    // The series itself gets the transfer function the program applies to a
    // CT, and the tool says so: the same picture as with that file named.
    const Outcome sample = Tool(
        "volren-render",
        {QString::fromStdString(folder), "-o", QString::fromStdString(scratch.Path("sample.png")), "--size", "64x64"});
    ASSERT_EQ(sample.status, 0) << sample.err;
    const std::string ctFunction =
        QFileInfo(QCoreApplication::applicationDirPath() + "/../samples/ct.tf").canonicalFilePath().toStdString();
    EXPECT_NE(sample.out.find("transfer function " + ctFunction + ", as the program applies it to this scan\n"),
              std::string::npos)
        << sample.out;
    const Outcome named =
        Tool("volren-render", {QString::fromStdString(folder), "-o", QString::fromStdString(scratch.Path("named.png")),
                               "--size", "64x64", "--tf", QString::fromStdString(ctFunction)});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out.find("transfer function"), std::string::npos) << named.out;
    EXPECT_EQ(QImage(QString::fromStdString(scratch.Path("sample.png"))),
              QImage(QString::fromStdString(scratch.Path("named.png"))));

    const Outcome damaged = Tool("volren-render", {QString::fromStdString(scratch.Path("missing.nii")), "-o",
                                                   QString::fromStdString(scratch.Path("x.png"))});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("volren-render: " + scratch.Path("missing.nii") + ": no such file or folder\n"),
              std::string::npos)
        << damaged.err;
}

// Headers from older writers whose meaning is clear: a NRRD 'space' beside
// per-axis spacings (attached, and detached with its samples in slice files
// beside it), a non-spatial axis of one sample, the first NRRD magic, and a
// MetaImage ElementSize without ElementSpacing. Each reads with its spacings.
TEST(Import, OlderHeaderFormsRead)
{
    ScratchFolder scratch;
    std::string samples;
    for (int i = 0; i < 6 * 5 * 4; ++i) {
        samples += char(i % 97);
    }
    const auto expectRead = [&](const std::string& file, const std::string& warning) {
        const Outcome run = Import(scratch.Path(file), scratch.Path("v.dat"), {"--keep-grid"});
        ASSERT_EQ(run.status, 0) << file << ": " << run.err;
        EXPECT_NE(run.out.find(", 6 x 5 x 4 uint8, spacing 0.5 x 0.5 x 2\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("warning: ") != std::string::npos, !warning.empty()) << run.out;
        EXPECT_NE(run.out.find(warning), std::string::npos) << run.out;
        const Dat dat = ReadDat(scratch.Path("v.dat"));
        ASSERT_EQ(dat.size, (std::array<size_t, 3>{6, 5, 4})) << file;
        for (size_t i = 0; i < dat.samples.size(); ++i) {
            ASSERT_EQ(dat.samples[i], 16 * (i % 97)) << file << " sample " << i;
        }
    };
    const std::string olderForm = "'space' together with per-axis 'spacings'";
    WriteFile(scratch.Path("space.nrrd"),
              "NRRD0004\n# written by an older tool\ntype: uchar\ndimension: 3\n"
              "space: left-posterior-superior\nsizes: 6 5 4\nspacings: 0.5 0.5 2\n"
              "encoding: raw\n\n" +
                  samples);
    expectRead("space.nrrd", olderForm);

    std::filesystem::create_directories(scratch.Path("slices"));
    for (int z = 0; z < 4; ++z) {
        WriteFile(scratch.Path("slices/head." + std::to_string(z + 1)), samples.substr(size_t(z) * 30, 30));
    }
    WriteFile(scratch.Path("slices/head.nhdr"),
              "NRRD0004\ntype: unsigned char\ndimension: 3\nspace: RAS\n"
              "sizes: 6 5 4\nspacings: 0.5 0.5 2\nencoding: raw\n"
              "data file: head.%d 1 4 1 2\n");
    expectRead("slices/head.nhdr", olderForm);

    WriteFile(scratch.Path("vector.nrrd"),
              "NRRD0004\ntype: uint8\ndimension: 4\nsizes: 1 6 5 4\n"
              "spacings: nan 0.5 0.5 2\nkinds: scalar domain domain domain\n"
              "encoding: raw\n\n" +
                  samples);
    expectRead("vector.nrrd", "");
    WriteFile(scratch.Path("first.nrrd"),
              "NRRD0001\ntype: uchar\ndimension: 3\nsizes: 6 5 4\nspacings: 0.5 0.5 2\nencoding: raw\n\n" + samples);
    expectRead("first.nrrd", "");
    WriteFile(scratch.Path("size.mha"),
              "ObjectType = Image\nNDims = 3\nDimSize = 6 5 4\nElementSize = 0.5 0.5 2\n"
              "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n" +
                  samples);
    expectRead("size.mha", "");
}

// Orientations the image library cannot use: the samples read in their stored
// order with the spacing alone, and a warning.
TEST(Import, UnusableOrientationFallsBackToTheSpacing)
{
    ScratchFolder scratch;
    const auto value = [](size_t x, size_t y, size_t z) { return int16_t(x + 9 * y + 50 * z); };
    const auto image = MakeVolume<int16_t>({9, 7, 5}, {0.5, 0.5, 1.5}, value);
    const std::string warning = "warning: the orientation in the header is not usable";
    for (const bool compress : {false, true}) {
        const std::string name = compress ? "tilted.nii.gz" : "tilted.nii";
        Write<Volume<int16_t>>(image, scratch.Path("plain.nii"), itk::NiftiImageIO::New());
        std::string bytes = ReadFile(scratch.Path("plain.nii"));
        const float nan = std::nanf("");
        const int16_t sformCode = 1;
        std::memcpy(&bytes[254], &sformCode, 2);
        std::memcpy(&bytes[280], &nan, 4);
        std::memcpy(&bytes[316], &nan, 4);
        if (compress) {
            WriteFile(scratch.Path("tilted.nii"), bytes);
            QProcess gzip;
            gzip.start("gzip", {"-kf", QString::fromStdString(scratch.Path("tilted.nii"))});
            ASSERT_TRUE(gzip.waitForFinished());
        } else {
            WriteFile(scratch.Path(name), bytes);
        }
        const Outcome run = Import(scratch.Path(name), scratch.Path("v.dat"), {"--keep-grid"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind(warning, 0), 0u) << run.out;
        EXPECT_NE(run.out.find("9 x 7 x 5 int16, spacing 0.5 x 0.5 x 1.5"), std::string::npos) << run.out;
        const Dat dat = ReadDat(scratch.Path("v.dat"));
        ASSERT_EQ(dat.size, (std::array<size_t, 3>{9, 7, 5}));
        EXPECT_EQ(dat.At(8, 6, 4), value(8, 6, 4));
        EXPECT_EQ(dat.At(3, 2, 1), value(3, 2, 1));
    }
}

// Every file that ever crashed or hung a reader, or stands for one that did:
// each ends in success or in one line and status 1 with nothing written.
// The imports run side by side: a hung reader takes its whole time limit.
TEST(Import, DamagedFilesEndInOneLine)
{
    ScratchFolder scratch;
    const std::filesystem::path folder =
        std::string(std::getenv("VOLREN_SOURCE_DIR")) + "/tests/data/import-regression";
    struct Run {
        std::string input;
        std::string out;
        std::unique_ptr<QProcess> process;
    };
    std::vector<Run> runs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        Run run;
        run.input = entry.path().string();
        run.out = scratch.Path("out" + std::to_string(runs.size()));
        std::filesystem::create_directories(run.out);
        run.process = std::make_unique<QProcess>();
        run.process->start(QString::fromStdString(ProgramFolder() + "volren-import"),
                           {QString::fromStdString(run.input), QString::fromStdString(run.out + "/v.dat")});
        runs.push_back(std::move(run));
    }
    EXPECT_GE(runs.size(), 20u);
    for (Run& run : runs) {
        ASSERT_TRUE(run.process->waitForFinished(100000)) << run.input;
        const std::string err = run.process->readAllStandardError().toStdString();
        const int status = run.process->exitStatus() == QProcess::NormalExit ? run.process->exitCode() : -1;
        ASSERT_TRUE(status == 0 || status == 1) << run.input << " ended with " << status << ": " << err;
        if (status == 1) {
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << run.input << ": " << err;
            EXPECT_EQ(err.rfind("volren-import: " + run.input + ": ", 0), 0u) << err;
            EXPECT_TRUE(Listing(run.out).empty()) << run.input;
        } else {
            EXPECT_EQ(ReadDat(run.out + "/v.dat").samples.empty(), false) << run.input;
        }
    }
}
