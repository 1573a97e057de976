// Scans opened in the program: through the Open dialog, a drop on the window
// and the command line, each format as the image library writes it, a DICOM
// series from any of its files, the sample transfer function of a CT or an
// MRI, and a scan that cannot be read leaving everything as it was.
#include <GL/glew.h>

#include "Main.h"

#include <gdcmTrace.h>
#include <itkGDCMImageIO.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>
#include <filesystem>

#include "ScanFiles.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
constexpr std::array<size_t, 3> size = {11, 7, 5};
constexpr std::array<double, 3> spacing = {0.8, 0.8, 2.4};

int16_t Value(size_t x, size_t y, size_t z) { return int16_t(100 + x + 20 * y + 300 * z); }

// Slices of a CT series at z = 2.4 k, named in a shuffled order.
void WriteShuffledSeries(const std::string& folder)
{
    gdcm::Trace::WarningOff();
    std::filesystem::create_directories(folder);
    const size_t names[5] = {3, 0, 4, 1, 2};
    for (size_t z = 0; z < size[2]; ++z) {
        // Stored as HU: the CT rule adds 1024.
        auto slice = MakeVolume<int16_t>({size[0], size[1], 1}, spacing,
                                         [z](size_t x, size_t y, size_t) { return int16_t(Value(x, y, z) - 1024); });
        Volume<int16_t>::PointType origin;
        origin[0] = 0.0;
        origin[1] = 0.0;
        origin[2] = spacing[2] * double(z);
        slice->SetOrigin(origin);
        itk::MetaDataDictionary& tags = slice->GetMetaDataDictionary();
        itk::EncapsulateMetaData<std::string>(tags, "0008|0060", "CT");
        itk::EncapsulateMetaData<std::string>(tags, "0020|000e", "1.2.826.0.1.3680043.2.1125.44");
        itk::EncapsulateMetaData<std::string>(tags, "0020|0013", std::to_string(z + 1));
        auto io = itk::GDCMImageIO::New();
        io->KeepOriginalUIDOn();
        Write<Volume<int16_t>>(slice, folder + "/IM" + std::to_string(names[z]), io);
    }
}

class OpenScanTest : public testing::Test {
protected:
    OpenScanTest()
    {
        EnsureApplication();
        form = new TMainForm();
        form->viewer.volumeRenderer->basePath = basePath.c_str();
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form)) {
            QApplication::setActiveWindow(form);
        }
        image = MakeVolume<int16_t>(size, spacing, Value);
    }

    uint16_t At(size_t x, size_t y, size_t z) const
    {
        const VolumeRenderer& r = *form->viewer.volumeRenderer;
        return r.densities[(z * r.texDimY + y) * r.texDimX + x];
    }

    // The grid, spacing and samples of the scan written by MakeVolume,
    // mapped by the rule that leaves integers within 0..4096 as they are.
    void ExpectScan(const std::string& what) const
    {
        const VolumeRenderer& r = *form->viewer.volumeRenderer;
        ASSERT_TRUE(r.IsLoaded()) << what;
        EXPECT_EQ(r.GetDimX(), size[0]) << what;
        EXPECT_EQ(r.GetDimY(), size[1]) << what;
        EXPECT_EQ(r.GetDimZ(), size[2]) << what;
        EXPECT_FLOAT_EQ(r.voxelSpacing.x, 0.8f) << what;
        EXPECT_FLOAT_EQ(r.voxelSpacing.y, 0.8f) << what;
        EXPECT_FLOAT_EQ(r.voxelSpacing.z, 2.4f) << what;
        for (const auto& p : {std::array<size_t, 3>{0, 0, 0}, {10, 6, 4}, {3, 5, 1}, {7, 2, 3}}) {
            EXPECT_EQ(At(p[0], p[1], p[2]), Value(p[0], p[1], p[2]))
                << what << " at " << p[0] << "," << p[1] << "," << p[2];
        }
        EXPECT_EQ(form->windowTitle().isEmpty(), false);
    }

    // Ctrl+O with the name typed into the dialog.
    void OpenThroughDialog(const std::string& path)
    {
        WhenModalOpens(QStringLiteral("FileOpenDialog"),
                       [path](QWidget* dialog) { EnterFileName(dialog, QString::fromStdString(path)); });
        QTest::keyClick(form, Qt::Key_O, Qt::ControlModifier);
    }

    // The scan opened through the dialog, a drop and the command line, each
    // under a name of its own so that each open changes the title. The dialog
    // comes first: a window manager would give the keyboard back after it.
    void OpenEachWay(const std::string& format)
    {
        for (const std::string way : {"dialog", "drop", "arguments"}) {
            std::string path = scratch.Path(way + "-" + format);
            if (format == "series") {
                path = scratch.Path(way == "dialog" ? "series/IM0" : way == "drop" ? "series/IM2" : "series/IM4");
            } else {
                std::filesystem::copy_file(scratch.Path(format), path);
            }
            if (way == "dialog") {
                OpenThroughDialog(path);
            } else if (way == "drop") {
                Drop(path);
            } else {
                form->OpenArguments({QStringLiteral("volren"), QString::fromStdString(path)});
            }
            WaitForTitle(path);
            ASSERT_EQ(form->windowTitle().toStdString(), path) << "through the " << way;
            ExpectScan(format + " through the " + way);
        }
    }

    void Drop(const std::string& path)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form, &drop);
        EXPECT_TRUE(drop.isAccepted());
    }

    // Events until the title names the file, as the open ends.
    void WaitForTitle(const std::string& path)
    {
        for (int i = 0; i < 200 && form->windowTitle() != QString::fromStdString(path); ++i) {
            // A message box nobody expects fails the test instead of waiting.
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "message box: " << box->text().toStdString();
                box->close();
            }
            QTest::qWait(25);
        }
        EXPECT_EQ(form->windowTitle(), QString::fromStdString(path));
    }

    QString FunctionBox() const { return form->findChild<QLabel*>(QStringLiteral("Panel6"))->text(); }

    ScratchFolder scratch;
    std::string basePath = WriteMinimalShaders(scratch.path());
    TMainForm* form = nullptr;
    Volume<int16_t>::Pointer image;
};

// Each format through the dialog, a drop and the command line, a test each,
// so that the dialog is the first thing each process does.
TEST_F(OpenScanTest, NiftiThroughTheDialogADropAndTheCommandLine)
{
    Write<Volume<int16_t>>(image, scratch.Path("scan.nii.gz"), itk::NiftiImageIO::New(), true);
    OpenEachWay("scan.nii.gz");
}

TEST_F(OpenScanTest, NrrdThroughTheDialogADropAndTheCommandLine)
{
    Write<Volume<int16_t>>(image, scratch.Path("scan.nrrd"), itk::NrrdImageIO::New());
    OpenEachWay("scan.nrrd");
}

TEST_F(OpenScanTest, MetaImageThroughTheDialogADropAndTheCommandLine)
{
    Write<Volume<int16_t>>(image, scratch.Path("scan.mhd"), itk::MetaImageIO::New());
    OpenEachWay("scan.mhd");
}

TEST_F(OpenScanTest, DicomThroughTheDialogADropAndTheCommandLine)
{
    WriteShuffledSeries(scratch.Path("series"));
    OpenEachWay("series");
}

// Any file of a series opens the whole series in the order of the slices'
// positions, whatever the order of the file names; a dropped folder as well.
// A CT gets the CT sample function, an MRI (NIfTI) the MRI one, until the
// user chooses a function of their own.
TEST_F(OpenScanTest, DicomSeriesFromAnyFileOrItsFolderWithTheSampleFunction)
{
    WriteShuffledSeries(scratch.Path("series"));
    ASSERT_EQ(FunctionBox(), QString());
    OpenThroughDialog(scratch.Path("series/IM4"));
    WaitForTitle(scratch.Path("series/IM4"));
    ExpectScan("a DICOM file");
    EXPECT_EQ(FunctionBox(), QStringLiteral("ct.tf"));
    EXPECT_TRUE(form->transferFunctionFileName.endsWith(QLatin1String("samples/ct.tf")))
        << form->transferFunctionFileName.toStdString();
    EXPECT_FALSE(form->viewer.transferFunction.IsModified());

    Write<Volume<int16_t>>(image, scratch.Path("mri.nii"), itk::NiftiImageIO::New());
    Drop(scratch.Path("mri.nii"));
    WaitForTitle(scratch.Path("mri.nii"));
    EXPECT_EQ(FunctionBox(), QStringLiteral("mri.tf"));

    // New is the user's choice: the next CT keeps the empty function.
    form->NewTransferFuncActionExecute();
    ASSERT_EQ(FunctionBox(), QStringLiteral("-"));
    Drop(scratch.Path("series"));
    WaitForTitle(scratch.Path("series"));
    ExpectScan("a DICOM folder");
    EXPECT_EQ(FunctionBox(), QStringLiteral("-"));
}

// A damaged scan is named in a message box; the volume on screen, its title,
// the transfer function and the camera stay, and the frames go on.
TEST_F(OpenScanTest, UnreadableScanLeavesEverythingAsItWas)
{
    Write<Volume<int16_t>>(image, scratch.Path("good.nrrd"), itk::NrrdImageIO::New());
    Drop(scratch.Path("good.nrrd"));
    WaitForTitle(scratch.Path("good.nrrd"));
    ExpectScan("the scan before");
    const QString function = FunctionBox();
    form->viewer.viewControl.Turn(30.0f, 10.0f);
    form->viewer.viewControl.SetDistance(form->viewer.viewControl.distance * 1.5f);
    const QQuaternion orientation = form->viewer.viewControl.orientation;
    const float distance = form->viewer.viewControl.distance;

    const std::string damaged =
        std::string(std::getenv("VOLREN_SOURCE_DIR")) + "/tests/data/import-regression/nifti-nan-offset.nii";
    QString message;
    WhenMessageBoxOpens([&message](QWidget* box, const QString& text) {
        message = text;
        QTest::keyClick(box, Qt::Key_Return);
    });
    Drop(damaged);
    for (int i = 0; i < 200 && message.isEmpty(); ++i) {
        QTest::qWait(25);
    }
    EXPECT_EQ(message.toStdString(),
              damaged + ": cannot be read as NIfTI: its header gives the samples' offset as nan");
    EXPECT_EQ(form->windowTitle(), QString::fromStdString(scratch.Path("good.nrrd")));

    // Damaged files of each format: the message names the format and the
    // fault, on one line; a file of none of them says so, and only a file
    // with DICOM content is read as part of a series.
    const std::string garbage(500, '\x7f');
    const std::string dicomPreamble = std::string(128, '\0') + "DICM";
    const std::string metaHeader =
        "ObjectType = Image\nNDims = 3\nDimSize = 4 4 4\nElementType = MET_SHORT\nElementDataFile = LOCAL\n";
    for (const auto& [name, content, cause] :
         {std::tuple{"damaged.nii", garbage, ": cannot be read as NIfTI: its header is not a NIfTI header"},
          std::tuple{"damaged.hdr", garbage, ": cannot be read as NIfTI: its header is not a NIfTI header"},
          std::tuple{"damaged.nrrd", garbage, ": cannot be read as NRRD: it does not begin with a NRRD magic line"},
          std::tuple{"damaged.mha", garbage, ": cannot be read as MetaImage: its header holds the line '\\x7F"},
          std::tuple{"short.mha", metaHeader,
                     ": cannot be read as MetaImage: it is truncated: its samples need 128 bytes, the file holds 0"},
          std::tuple{"damaged.dcm", dicomPreamble + garbage,
                     ": cannot be read as DICOM: its header cannot be parsed or names no series"},
          std::tuple{"notes.txt", std::string("a note\n"),
                     ": is not a scan Volren opens: its content is not DICOM, NIfTI, NRRD or MetaImage"}}) {
        const std::string path = scratch.Path(name);
        WriteFile(path, content);
        message.clear();
        WhenMessageBoxOpens([&message](QWidget* box, const QString& text) {
            message = text;
            QTest::keyClick(box, Qt::Key_Return);
        });
        Drop(path);
        for (int i = 0; i < 200 && message.isEmpty(); ++i) {
            QTest::qWait(25);
        }
        EXPECT_EQ(message.toStdString().rfind(path + cause, 0), 0u) << message.toStdString();
        EXPECT_EQ(message.count(QLatin1Char('\n')), 0) << message.toStdString();
    }
    ExpectScan("the scan after");
    EXPECT_EQ(FunctionBox(), function);
    EXPECT_EQ(form->viewer.viewControl.distance, distance);
    EXPECT_EQ(form->viewer.viewControl.orientation, orientation);
    QTest::qWait(100);
    EXPECT_TRUE(form->viewer.volumeRenderer->IsLoaded());
}
}  // namespace

namespace {
// A NIfTI file of 512 x 512 x 512 zeros, compressed to a few hundred
// kilobytes: reading it takes longer than the moment after which the
// progress dialog shows.
void WriteLargeCompressedNifti(const std::string& path)
{
    std::string header(352, '\0');
    const auto put16 = [&header](size_t at, int16_t v) { std::memcpy(&header[at], &v, 2); };
    const int32_t size = 348;
    std::memcpy(&header[0], &size, 4);
    put16(40, 3);
    put16(42, 512);
    put16(44, 512);
    put16(46, 512);
    put16(70, 4);
    put16(72, 16);
    const float pixdim[4] = {1, 1, 1, 1};
    std::memcpy(&header[76], pixdim, sizeof pixdim);
    const float offset = 352;
    std::memcpy(&header[108], &offset, 4);
    std::memcpy(&header[344], "n+1", 4);
    gzFile out = gzopen(path.c_str(), "wb1");
    ASSERT_NE(out, nullptr);
    gzwrite(out, header.data(), unsigned(header.size()));
    const std::vector<char> plane(512 * 512 * 2, '\0');
    for (int z = 0; z < 512; ++z) {
        gzwrite(out, plane.data(), unsigned(plane.size()));
    }
    gzclose(out);
}
}  // namespace

// A long read shows its progress; Cancel stops it, no message box follows,
// and the volume on screen stays.
TEST_F(OpenScanTest, CancelStopsALongRead)
{
    Write<Volume<int16_t>>(image, scratch.Path("good.nrrd"), itk::NrrdImageIO::New());
    Drop(scratch.Path("good.nrrd"));
    WaitForTitle(scratch.Path("good.nrrd"));
    WriteLargeCompressedNifti(scratch.Path("large.nii.gz"));

    bool progressShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [this, &progressShown, &watch] {
        auto* progress = form->findChild<QProgressDialog*>(QStringLiteral("ScanProgress"));
        if (progress && progress->isVisible()) {
            progressShown = true;
            watch.stop();
            QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        }
    });
    watch.start(20);
    EXPECT_FALSE(form->OpenVolume(QString::fromStdString(scratch.Path("large.nii.gz"))));
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(form->windowTitle(), QString::fromStdString(scratch.Path("good.nrrd")));
    ExpectScan("the scan before the cancelled one");
}

// The memory guard of the loader refuses a scan by its header's sizes,
// before anything of it is read: a DICOM series in the reader's process, a
// compressed NIfTI file by its header.
TEST_F(OpenScanTest, MemoryLimitRefusesScansByTheirSizes)
{
    WriteShuffledSeries(scratch.Path("series"));
    Write<Volume<int16_t>>(image, scratch.Path("scan.nii.gz"), itk::NiftiImageIO::New(), true);
    VolumeRenderer::SetMemoryLimit(3000);
    for (const std::string& path : {scratch.Path("series"), scratch.Path("scan.nii.gz")}) {
        QString message;
        WhenMessageBoxOpens([&message](QWidget* box, const QString& text) {
            message = text;
            QTest::keyClick(box, Qt::Key_Return);
        });
        EXPECT_FALSE(form->OpenVolume(QString::fromStdString(path)));
        // The series' reader holds only its 16-bit densities, which fit: the
        // renderer's textures then do not.
        const bool series = path == scratch.Path("series");
        const std::string cause = series ? ": needs 8704 bytes for its padded grid of 16 x 8 x 8 samples"
                                         : ": is 11 x 7 x 5 voxels, more than the memory holds";
        EXPECT_EQ(message.toStdString().rfind(path + cause, 0), 0u) << message.toStdString();
        EXPECT_FALSE(form->viewer.volumeRenderer->IsLoaded());
    }
    VolumeRenderer::SetMemoryLimit(0);
}
