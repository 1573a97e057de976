// A file that fails in the window costs the user nothing: a volume data file
// the renderer refuses, a transfer function that cannot be loaded and a save
// that cannot be written each show one line, leave the picture, the transfer
// function and the camera as they were, and closing still asks to save.
#include <GL/glew.h>

#include "Main.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Log.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "Transferfunceditor.h"
#include "VolumeRenderer.h"

namespace {
using Channels = std::vector<std::vector<std::pair<int, uint32_t>>>;

Channels Points(const TransferFunction& tf)
{
    Channels channels(4);
    for (int c = 0; c < 4; ++c) {
        for (const TransferFunction::Sample& s : tf.Channel(c)) {
            channels[c].push_back({s.value, s.position});
        }
    }
    return channels;
}

// The picture the window shows of its view at rest, top row first.
QImage Frame(TMainForm& form)
{
    for (int frames = 0; frames < 100; ++frames) {
        form.DrawFrame();
        if (form.viewer.Converged()) {
            break;
        }
    }
    return form.viewer.ReadPicture();
}

// A ball of density 2000 in a box of 23 x 19 x 17.
void WriteBall(const std::string& path, uint16_t peak)
{
    WriteVolume(path, 23, 19, 17, [peak](uint32_t x, uint32_t y, uint32_t z) {
        const int dx = int(x) - 11, dy = int(y) - 9, dz = int(z) - 8;
        const int r2 = dx * dx + dy * dy + dz * dz;
        return uint16_t(r2 == 0 ? peak : (r2 < 49 ? 2000 : 0));
    });
}

// The next message box's text, answered with OK.
void TakeMessage(QString* text)
{
    WhenMessageBoxOpens([text](QWidget* box, const QString& message) {
        *text = message;
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
}

// The window shown, its frames stopped so that the test draws them, a ball
// opened and the transfer function edited but not saved.
struct Window {
    TTransferFuncEditForm editor;
    TMainForm form{&editor};
    ScratchFolder& scratch;

    explicit Window(ScratchFolder& folder) : scratch(folder)
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        // The driver takes the window's size from the swaps of the first frames.
        QTest::qWait(300);
        form.idleTimer->stop();
        form.ShaderClassificationActionExecute();
        WriteBall(scratch.Path("ball.dat"), 2000);
        EXPECT_TRUE(form.OpenVolume(QString::fromStdString(scratch.Path("ball.dat"))));
        TransferFunction& tf = form.viewer.transferFunction;
        tf.Clear();
        for (int c = 0; c < 4; ++c) {
            tf.AddSample(c, 0, 0);
            tf.AddSample(c, 255, 2000);
        }
        tf.SetModified(true);
        form.viewer.UpdateTransferFunction();
    }

    // Whether closing asks to save; the answer Cancel keeps the window.
    bool CloseAsks()
    {
        bool asked = false;
        WhenModalOpens(QStringLiteral("SavePrompt"), [&asked](QWidget* modal) {
            asked = true;
            qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Cancel)->click();
        });
        EXPECT_FALSE(form.close());
        return asked;
    }
};

std::string Log()
{
    LogClose();
    const std::string log = ReadFile("debug.log");
    LogOpen();
    return log;
}
}  // namespace

TEST(FailedFiles, AVolumeAboveTheDensityRangeLeavesTheVolumeShown)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    const QImage before = Frame(w.form);
    const Channels function = Points(w.form.viewer.transferFunction);
    const QString title = w.form.windowTitle();
    const float distance = w.form.viewer.viewControl.distance;

    const std::string over = scratch.Path("over.dat");
    WriteBall(over, 5000);
    QString message;
    WhenModalOpens(QStringLiteral("FileOpenDialog"), [&message, over](QWidget* modal) {
        TakeMessage(&message);
        EnterFileName(modal, QString::fromStdString(over));
    });
    QTest::mouseClick(w.form.SpeedButton1, Qt::LeftButton);

    EXPECT_EQ(message, QString::fromStdString(over) +
                           QStringLiteral(": holds a density above 4096, the largest a volume data file may hold"));
    EXPECT_EQ(message.count(QLatin1Char('\n')), 0);
    EXPECT_EQ(w.form.windowTitle(), title);
    EXPECT_EQ(w.form.viewer.viewControl.distance, distance);
    EXPECT_EQ(Points(w.form.viewer.transferFunction), function);
    EXPECT_TRUE(w.form.viewer.transferFunction.IsModified());
    const QImage after = Frame(w.form);
    EXPECT_EQ(after, before);
    // The comparison can fail: the ball shows.
    EXPECT_NE(before.pixel(before.width() / 2, before.height() / 2), before.pixel(2, 2));
    const std::string log = Log();
    EXPECT_NE(log.find("[ WARN ] Data file: Density data value exceeds maximum of 2^12 (4096)\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("[ WARN ] Open: " + over + ": holds a density above 4096"), std::string::npos) << log;
    EXPECT_TRUE(w.CloseAsks());
}

TEST(FailedFiles, ATransferFunctionThatDoesNotExistChangesNothing)
{
    ScratchFolder scratch;
    EnsureApplication();
    Window w(scratch);
    const QImage before = Frame(w.form);
    ASSERT_EQ(Frame(w.form), before) << "a still view draws the same frame again";
    const Channels function = Points(w.form.viewer.transferFunction);
    const QString shown = w.form.Panel6->text();

    const std::string missing = scratch.Path("missing.tf");
    QString message;
    // The edited function is kept ("No" to saving it), then the name typed.
    WhenModalOpens(QStringLiteral("SavePrompt"), [&message, missing](QWidget* prompt) {
        WhenModalOpens(QStringLiteral("TFOpenDialog"), [&message, missing](QWidget* dialog) {
            TakeMessage(&message);
            EnterFileName(dialog, QString::fromStdString(missing));
        });
        qobject_cast<QMessageBox*>(prompt)->button(QMessageBox::No)->click();
    });
    QTest::mouseClick(w.form.SpeedButton3, Qt::LeftButton);

    EXPECT_EQ(message, QString::fromStdString(missing) + QStringLiteral(": cannot be opened"));
    EXPECT_EQ(Points(w.form.viewer.transferFunction), function);
    EXPECT_TRUE(w.form.viewer.transferFunction.IsModified());
    EXPECT_EQ(w.form.Panel6->text(), shown);
    EXPECT_EQ(Frame(w.form), before);
    const std::string log = Log();
    EXPECT_NE(
        log.find("[ WARN ] TransferFunction: Failed to open file!\n[ WARN ] Load: " + missing + ": cannot be opened\n"),
        std::string::npos)
        << log;
    EXPECT_TRUE(w.CloseAsks());
}

// The refused save runs as a user who may not write the folder; the switch
// cannot be undone, so it runs in a child process that reports by files.
TEST(FailedFiles, ASaveIntoAReadOnlyFolderKeepsTheFunctionAndClosingAsks)
{
    ScratchFolder scratch;
    if (!CanDropPrivileges()) {
        GTEST_SKIP() << "cannot switch to user " << unprivilegedUser << " to be refused a folder";
    }
    const std::string folder = UnprivilegedFolder(scratch, "read-only");
    ::chmod(folder.c_str(), 0555);
    const std::string target = folder + "/kept.tf";
    const std::string report = UnprivilegedFolder(scratch, "report");
    EXPECT_EXIT(
        {
            EnsureApplication();
            Window w(scratch);
            const Channels function = Points(w.form.viewer.transferFunction);
            if (!DropPrivileges()) {
                std::_Exit(8);
            }
            QString message;
            WhenModalOpens(QStringLiteral("TFSaveDialog"), [&message, target](QWidget* dialog) {
                TakeMessage(&message);
                EnterFileName(dialog, QString::fromStdString(target));
            });
            QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
            WriteFile(report + "/message", message.toStdString());
            if (Points(w.form.viewer.transferFunction) != function || !w.form.viewer.transferFunction.IsModified()) {
                std::_Exit(9);
            }
            WriteFile(report + "/asks", w.CloseAsks() ? "yes" : "no");
            WriteFile(report + "/shown", w.form.Panel6->text().toStdString());
            LogClose();
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(report + "/message"), target + ": cannot be created or written");
    EXPECT_EQ(ReadFile(report + "/asks"), "yes");
    EXPECT_EQ(ReadFile(report + "/shown"), "");
    struct stat info;
    EXPECT_NE(::stat(target.c_str(), &info), 0);
    const std::string log = ReadFile("debug.log");
    EXPECT_NE(log.find("[ WARN ] TransferFunction: File creation failed!\n[ WARN ] Save: " + target +
                       ": cannot be created or written\n"),
              std::string::npos)
        << log;
}
