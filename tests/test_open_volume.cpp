#include <GL/glew.h>

#include "Main.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "TestSupport.h"
#include "VolumeRenderer.h"

namespace {
std::string VolumeHeader(uint16_t dimX, uint16_t dimY, uint16_t dimZ)
{
    std::string bytes;
    for (uint16_t v : {dimX, dimY, dimZ}) {
        bytes.push_back(char(v & 0xFF));
        bytes.push_back(char(v >> 8));
    }
    return bytes;
}

// The main window is never closed here: closing it ends the process.
class OpenVolumeTest : public testing::Test {
protected:
    OpenVolumeTest()
    {
        EnsureApplication();
        form = new TMainForm();
        form->viewer.volumeRenderer->basePath = basePath.c_str();
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form)) {
            QApplication::setActiveWindow(form);
        }
    }

    template <typename T>
    T* Child(const char* name) const
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }

    // Ctrl+O, then the file name entered in the dialog and Return, or Escape
    // when the name is empty.
    void Open(const QString& fileName)
    {
        WhenModalOpens([this, fileName](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) {
                ADD_FAILURE() << "the open dialog did not come up";
                modal->close();
                return;
            }
            dialogName = dialog->objectName();
            filters = dialog->nameFilters();
            selectedFilter = dialog->selectedNameFilter();
            if (fileName.isEmpty()) {
                QTest::keyClick(dialog, Qt::Key_Escape);
                return;
            }
            EnterFileName(dialog, fileName);
        });
        QTest::keyClick(form, Qt::Key_O, Qt::ControlModifier);
        QTest::qWait(50);
    }

    struct Bar {
        int minimum, maximum, value;
        bool operator==(const Bar&) const = default;
        friend void PrintTo(const Bar& b, std::ostream* os)
        {
            *os << "range " << b.minimum << " to " << b.maximum << ", at " << b.value;
        }
    };
    Bar BarOf(const char* name) const
    {
        const QScrollBar* bar = Child<QScrollBar>(name);
        return Bar{bar->minimum(), bar->maximum(), bar->value()};
    }
    QString Box(const char* name) const { return Child<QLabel>(name)->text(); }

    ScratchFolder scratch;
    std::string basePath = WriteMinimalShaders(scratch.path());
    TMainForm* form = nullptr;
    QString dialogName, selectedFilter;
    QStringList filters;
};

TEST_F(OpenVolumeTest, CtrlOLoadsTheChosenFileAndResetsTheSliceBars)
{
    // Single slices sent before the load stay with the renderer.
    Child<QScrollBar>("ScrollBar7")->setValue(5);
    Child<QScrollBar>("ScrollBar4")->setValue(3);
    ASSERT_EQ(form->viewer.volumeRenderer->stackSliceX, 5);
    ASSERT_EQ(form->viewer.volumeRenderer->volumeSliceX, 3);

    const std::string path = scratch.Path("long.dat");
    WriteFile(path, VolumeHeader(1200, 2, 2) + std::string(2 * 1200 * 2 * 2, '\x01'));
    Open(QString::fromStdString(path));

    EXPECT_EQ(dialogName, QStringLiteral("FileOpenDialog"));
    const QString scans = QStringLiteral("*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd *.dcm");
    EXPECT_EQ(filters, (QStringList{QStringLiteral("Volumes and scans (*.dat %1)").arg(scans),
                                    QStringLiteral("Volume data file (*.dat)"), QStringLiteral("Scans (%1)").arg(scans),
                                    QStringLiteral("All files (*)")}));
    EXPECT_EQ(selectedFilter, filters.front());
    EXPECT_EQ(form->windowTitle(), QString::fromStdString(path));
    ASSERT_NE(form->viewer.volumeRenderer->densities, nullptr);
    EXPECT_EQ(form->viewer.volumeRenderer->GetDimX(), 1200u);
    EXPECT_EQ(form->viewer.volumeRenderer->densities[0], 257);

    // "Number of Slices" stops at 1000 while the renderer keeps all 1200.
    EXPECT_EQ(BarOf("ScrollBar1"), (Bar{1, 1000, 1000}));
    EXPECT_EQ(BarOf("ScrollBar2"), (Bar{1, 1000, 2}));
    EXPECT_EQ(BarOf("ScrollBar3"), (Bar{1, 1000, 2}));
    EXPECT_EQ(Box("Panel3"), QStringLiteral("1000"));
    EXPECT_EQ(Box("Panel7"), QStringLiteral("2"));
    EXPECT_EQ(Box("Panel8"), QStringLiteral("2"));
    EXPECT_EQ(form->viewer.volumeRenderer->sliceCountX, 1200u);

    // The slice method's bars run over the full dimensions.
    EXPECT_EQ(BarOf("ScrollBar7"), (Bar{1, 1200, 1}));
    EXPECT_EQ(BarOf("ScrollBar8"), (Bar{1, 2, 1}));
    EXPECT_EQ(BarOf("ScrollBar9"), (Bar{1, 2, 1}));
    EXPECT_EQ(Box("Panel12"), QStringLiteral("1"));
    EXPECT_EQ(Box("Panel13"), QStringLiteral("1"));
    EXPECT_EQ(Box("Panel14"), QStringLiteral("1"));

    // The volume-texture bars run up to the "Number of Slices" positions.
    EXPECT_EQ(BarOf("ScrollBar4"), (Bar{1, 1000, 1}));
    EXPECT_EQ(BarOf("ScrollBar5"), (Bar{1, 2, 1}));
    EXPECT_EQ(BarOf("ScrollBar6"), (Bar{1, 2, 1}));
    EXPECT_EQ(Box("Panel9"), QStringLiteral("1"));
    EXPECT_EQ(Box("Panel10"), QStringLiteral("1"));
    EXPECT_EQ(Box("Panel11"), QStringLiteral("1"));

    EXPECT_EQ(form->viewer.volumeRenderer->stackSliceX, 5);
    EXPECT_EQ(form->viewer.volumeRenderer->volumeSliceX, 3);
}

TEST_F(OpenVolumeTest, OpensTheSampleHead)
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/../samples/head256.dat");
    ASSERT_TRUE(QFileInfo::exists(path)) << "the build writes the sample volumes into <build>/samples";
    Open(path);

    EXPECT_EQ(form->windowTitle(), QFileInfo(path).absoluteFilePath());
    ASSERT_TRUE(form->viewer.volumeRenderer->IsLoaded());
    EXPECT_EQ(form->viewer.volumeRenderer->texDimZ, 256u);
    EXPECT_GT(form->viewer.volumeRenderer->GetMaxDensity(), 3000u);
    EXPECT_LE(form->viewer.volumeRenderer->GetMaxDensity(), 4096u);
    EXPECT_EQ(BarOf("ScrollBar1"), (Bar{1, 1000, 208}));
    EXPECT_EQ(BarOf("ScrollBar2"), (Bar{1, 1000, 244}));
    EXPECT_EQ(BarOf("ScrollBar3"), (Bar{1, 1000, 256}));
    EXPECT_EQ(Box("Panel8"), QStringLiteral("256"));
    EXPECT_EQ(BarOf("ScrollBar9"), (Bar{1, 256, 1}));
    EXPECT_EQ(BarOf("ScrollBar6"), (Bar{1, 256, 1}));

    // Frames go on over the loaded volume.
    QTest::qWait(200);
    EXPECT_TRUE(form->viewer.volumeRenderer->IsLoaded());
}

TEST_F(OpenVolumeTest, CancelledDialogChangesNothing)
{
    const QString title = form->windowTitle();
    Open(QString());
    EXPECT_EQ(dialogName, QStringLiteral("FileOpenDialog"));
    EXPECT_EQ(form->windowTitle(), title);
    EXPECT_EQ(form->viewer.volumeRenderer->densities, nullptr);
    EXPECT_EQ(BarOf("ScrollBar7"), (Bar{1, 1000, 1}));
}
}  // namespace
