#include <GL/glew.h>

#include "Main.h"

#include <QImage>
#include <QProcess>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "PictureMaker.h"
#include "TestSupport.h"
#include "VolumeRenderer.h"

namespace {
// The frame the program draws, read back before its swap, top row first.
// The frames of the view at rest are drawn until it has converged.
QImage ProgramFrame(TMainForm& form)
{
    int frames = 0;
    do {
        form.DrawFrame();
        ++frames;
    } while (!form.viewer.Converged() && frames < 100);
    EXPECT_LT(frames, 100) << "the view at rest does not converge";
    QImage frame(form.viewer.display.width, form.viewer.display.height, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width(), frame.height(), GL_RGBA, GL_UNSIGNED_BYTE, frame.bits());
    return frame.mirrored().convertToFormat(QImage::Format_RGB888);
}

QImage ToolFrame(const ScratchFolder& scratch, const std::string& volume, const QSize& size, QStringList options)
{
    const QString out = QString::fromStdString(scratch.Path("tool.png"));
    options << QString::fromStdString(volume) << QStringLiteral("-o") << out << QStringLiteral("--size")
            << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    QProcess tool;
    tool.start(QString::fromStdString(ProgramFolder() + "volren-render"), options);
    EXPECT_TRUE(tool.waitForFinished(120000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    return QImage(out).convertToFormat(QImage::Format_RGB888);
}

// The picture drawn off screen, as the tool and Save Picture draw it, and
// the panel's frame: a few of their pixels round a level apart.
void ExpectSameBeyondRounding(const QImage& a, const QImage& b)
{
    ASSERT_EQ(a.size(), b.size());
    int differing = 0, largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
            largest = std::max(largest, d);
            differing += d > 0;
        }
    }
    EXPECT_LE(largest, 1);
    EXPECT_LE(differing, a.width() * a.height() / 500);
}

int DifferingPixels(const QImage& a, const QImage& b)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += a.pixel(x, y) != b.pixel(x, y);
        }
    }
    return differing;
}
}  // namespace

// volren-render draws through the same camera and renderer as the program's
// frame loop, so its picture of the same settings is the one Save Picture
// makes, pixel for pixel, and the panel's frame but for rounding.
TEST(RenderTool, DrawsThePicturesOfTheProgramsFrameLoop)
{
    ScratchFolder scratch;
    const std::string volume = std::string(std::getenv("VOLREN_SOURCE_DIR")) + "/tests/data/blob.dat";
    EnsureApplication();
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
    // The driver takes the window's size from the swaps of the first frames.
    QTest::qWait(300);
    form.idleTimer->stop();
    form.viewer.volumeRenderer->Load(volume.c_str());
    form.FrameVolume();
    form.CameraForwardActionExecute();
    // As a left drag and a middle drag would.
    form.viewer.viewControl.Turn(30, -20);
    form.viewer.viewControl.Pan(12, -7);
    const QSize size(form.viewer.display.width, form.viewer.display.height);

    const QImage rayCast = ProgramFrame(form);
    const QImage toolRayCast = ToolFrame(
        scratch, volume, size,
        {QStringLiteral("--distance"), QString::number(double(form.viewer.viewControl.distance), 'g', 9),
         QStringLiteral("--turn"), QStringLiteral("30,-20"), QStringLiteral("--pan"), QStringLiteral("12,-7")});
    ASSERT_EQ(toolRayCast.size(), rayCast.size());
    ExpectSameBeyondRounding(rayCast, toolRayCast);
    PictureMaker maker;
    EXPECT_EQ(DifferingPixels(maker.Draw(form.viewer, size.width(), size.height(), false), toolRayCast), 0);

    form.RadioButton1->click();
    form.RadioButton10->click();
    form.CameraLeftActionExecute();
    const QImage slices = ProgramFrame(form);
    const QImage toolSlices =
        ToolFrame(scratch, volume, size,
                  {QStringLiteral("--method"), QStringLiteral("slices"), QStringLiteral("--classification"),
                   QStringLiteral("pre"), QStringLiteral("--view"), QStringLiteral("left")});
    ExpectSameBeyondRounding(slices, toolSlices);
    EXPECT_EQ(DifferingPixels(maker.Draw(form.viewer, size.width(), size.height(), false), toolSlices), 0);

    // The two settings give different pictures, so the comparison can fail.
    EXPECT_GT(DifferingPixels(rayCast, slices), 100);
}

// The window's own frame loop, started at once on a volume, converges to the
// picture the tool writes: frames drawn before the driver knows the panel's
// size (they come out empty) are not averaged in.
TEST(RenderTool, TheWindowsFrameLoopConvergesToTheToolsPicture)
{
    ScratchFolder scratch;
    const std::string volume = std::string(std::getenv("VOLREN_SOURCE_DIR")) + "/tests/data/blob.dat";
    EnsureApplication();
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
    ASSERT_TRUE(form.OpenVolume(QString::fromStdString(volume)));
    QTest::qWait(1500);
    form.idleTimer->stop();
    EXPECT_TRUE(form.viewer.Converged());
    form.viewer.Redraw();
    ASSERT_TRUE(form.DrawFrame());
    const QImage window = form.viewer.ReadPicture();
    const QImage tool = ToolFrame(scratch, volume, window.size(), {});
    ExpectSameBeyondRounding(window, tool);
}

// A display that cannot be reached: the tool starts again twice, in the same
// environment, then ends as Qt ends it; nothing else is retried.
TEST(RenderTool, LostDisplayConnectionStartsAgainTwice)
{
    ScratchFolder scratch;
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4242"));
    environment.remove(QStringLiteral("VOLREN_DISPLAY_ATTEMPT"));
    tool.setProcessEnvironment(environment);
    tool.start(QString::fromStdString(ProgramFolder() + "volren-render"),
               {QStringLiteral("missing.dat"), QStringLiteral("-o"), QString::fromStdString(scratch.Path("x.png"))});
    ASSERT_TRUE(tool.waitForFinished(60000));
    const std::string err = tool.readAllStandardError().toStdString();
    EXPECT_TRUE(tool.exitStatus() == QProcess::CrashExit || tool.exitCode() != 0);
    EXPECT_NE(err.find("the connection to the display failed; starting again (attempt 2 of 3)"), std::string::npos)
        << err;
    EXPECT_NE(err.find("(attempt 3 of 3)"), std::string::npos) << err;
    EXPECT_EQ(err.find("attempt 4"), std::string::npos) << err;

    // A bad argument is no display failure: one run, no retry.
    QProcess bad;
    bad.start(QString::fromStdString(ProgramFolder() + "volren-render"), {QStringLiteral("--no-such-option")});
    ASSERT_TRUE(bad.waitForFinished(60000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_EQ(bad.readAllStandardError().toStdString().find("starting again"), std::string::npos);
}
