#include <GL/glew.h>

#include "Main.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "MovieDialog.h"
#include "MovieMaker.h"
#include "PictureCompare.h"
#include "PictureDialog.h"
#include "PictureMaker.h"
#include "TestSupport.h"
#include "ViewSaver.h"
#include "VolumeRenderer.h"

namespace {
QString Docs(const char* name) { return QString::fromLocal8Bit(std::getenv("VOLREN_SOURCE_DIR")) + "/docs/" + name; }

// The real CT head, 64 x 64 x 93, with its skull opaque and the soft tissue
// clear, face on.
void OpenHead(Viewer& viewer)
{
    ASSERT_TRUE(viewer.Open(Docs("headsq_ct.dat")).opened);
    ASSERT_TRUE(viewer.LoadTransferFunction(Docs("headsq_ct_skull.tf")));
    viewer.ShowSide(VolumeRenderer::Up);
    viewer.viewControl.Turn(180.0f, 0.0f);
}

// The panel's frame of the view at rest, once converged, as the window shows it.
QImage PanelFrame(Viewer& viewer)
{
    viewer.Redraw();
    int frames = 0;
    do {
        viewer.DrawFrame(1e6);
    } while (!viewer.Converged() && ++frames < 100);
    return viewer.ReadPicture();
}

// The box and the centre of what an opaque picture draws over its black
// background, in pixels from the top left corner (a pixel's centre at +0.5).
struct Outline {
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    double centreX = 0.0, centreY = 0.0;
    int pixels = 0;
};

Outline OutlineOf(const QImage& picture)
{
    // A transparent picture as it shows over black.
    QImage rgb(picture.size(), QImage::Format_RGB888);
    rgb.fill(Qt::black);
    QPainter(&rgb).drawImage(0, 0, picture);
    const auto shows = [&rgb](int x, int y) {
        if (!rgb.rect().contains(x, y)) {
            return false;
        }
        const uchar* p = rgb.constScanLine(y) + 3 * x;
        return std::max({p[0], p[1], p[2]}) > 24;
    };
    // A pixel whose four neighbours show too: a speck of noise is no outline.
    Outline o;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            if (shows(x, y) && shows(x - 1, y) && shows(x + 1, y) && shows(x, y - 1) && shows(x, y + 1)) {
                o.left = std::min(o.left, double(x));
                o.right = std::max(o.right, x + 1.0);
                o.top = std::min(o.top, double(y));
                o.bottom = std::max(o.bottom, y + 1.0);
                o.centreX += x + 0.5;
                o.centreY += y + 0.5;
                ++o.pixels;
            }
        }
    }
    o.centreX /= std::max(o.pixels, 1);
    o.centreY /= std::max(o.pixels, 1);
    return o;
}

// Both pictures as RGB888, their mean absolute difference in levels.
double Difference(const QImage& a, const QImage& b)
{
    QImage diff;
    return PictureCompare::MeanAbsoluteDifference(a.convertToFormat(QImage::Format_RGB888),
                                                  b.convertToFormat(QImage::Format_RGB888), diff);
}

// The pixels that differ, and the largest difference in a channel.
struct Differences {
    int pixels = 0;
    int largest = 0;
};

Differences Compare(const QImage& a, const QImage& b)
{
    Differences d;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int most =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
            d.largest = std::max(d.largest, most);
            d.pixels += most > 0;
        }
    }
    return d;
}

// Every frame of a movie file, decoded by FFmpeg's libraries into RGB.
std::vector<QImage> DecodeMovie(const QString& path)
{
    std::vector<QImage> frames;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path.toStdString();
        return frames;
    }
    avformat_find_stream_info(format, nullptr);
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    EXPECT_GE(index, 0);
    if (index < 0) {
        avformat_close_input(&format);
        return frames;
    }
    EXPECT_EQ(format->streams[index]->codecpar->codec_id, AV_CODEC_ID_H264);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, format->streams[index]->codecpar);
    EXPECT_EQ(avcodec_open2(codec, decoder, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* rgb = av_frame_alloc();
    SwsContext* scaler = nullptr;
    const auto receive = [&] {
        while (avcodec_receive_frame(codec, frame) == 0) {
            // The scaler writes whole vectors: into a frame padded for them.
            if (rgb->width != frame->width || rgb->height != frame->height) {
                av_frame_unref(rgb);
                rgb->format = AV_PIX_FMT_RGB24;
                rgb->width = frame->width;
                rgb->height = frame->height;
                EXPECT_EQ(av_frame_get_buffer(rgb, 0), 0);
            }
            scaler =
                sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                     frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, rgb->data, rgb->linesize);
            QImage picture(frame->width, frame->height, QImage::Format_RGB888);
            for (int y = 0; y < frame->height; ++y) {
                std::memcpy(picture.scanLine(y), rgb->data[0] + size_t(y) * rgb->linesize[0], size_t(frame->width) * 3);
            }
            frames.push_back(picture);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(codec, packet);
            receive();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(codec, nullptr);
    receive();
    sws_freeContext(scaler);
    av_frame_free(&rgb);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return frames;
}

QStringList FolderEntries(const std::string& folder)
{
    return QDir(QString::fromStdString(folder)).entryList(QDir::Files | QDir::Hidden);
}
}  // namespace

// A picture at twice the panel's size is the panel's picture scaled by two:
// its outline twice as large about a centre twice as far from the corner.
TEST(Pictures, TwiceThePanelsSizeScalesTheOutlineByTwo)
{
    ScratchFolder scratch;
    GLWindow gl(181, 157);
    OpenHead(gl.viewer);
    const QImage panel = PanelFrame(gl.viewer);
    PictureMaker maker;
    const QImage twice = maker.Draw(gl.viewer, 362, 314, false);
    ASSERT_EQ(twice.size(), QSize(362, 314)) << maker.error.toStdString();
    twice.save(QString::fromStdString(scratch.Path("twice.png")));
    const Outline small = OutlineOf(panel), large = OutlineOf(twice);
    ASSERT_GT(small.pixels, 2000);
    for (const auto& [a, b] : {std::pair{small.left, large.left}, std::pair{small.right, large.right},
                               std::pair{small.top, large.top}, std::pair{small.bottom, large.bottom}}) {
        EXPECT_NEAR(b, 2.0 * a, 2.0);
    }
    EXPECT_NEAR(large.centreX, 2.0 * small.centreX, 1.0);
    EXPECT_NEAR(large.centreY, 2.0 * small.centreY, 1.0);
}

// The picture at the panel's size is the panel's converged frame, also
// made while the view still moves (the panel draws a coarse frame then) and
// with the crop tool drawn over the panel.
TEST(Pictures, AtThePanelsSizeTheConvergedFrameWithoutTheCropTool)
{
    ScratchFolder scratch;
    GLWindow gl(181, 157);
    Viewer& viewer = gl.viewer;
    OpenHead(viewer);
    viewer.motionQuality.movingFactor = 4;
    // A drag of a few pixels just now.
    const double now = 500.0;
    viewer.viewControl.Press(Qt::LeftButton, Qt::NoModifier, QPointF(50, 50));
    viewer.viewControl.Move(QPointF(56, 50), now);
    viewer.viewControl.Release(Qt::LeftButton);
    viewer.cropTool.on = true;
    viewer.Redraw();
    viewer.DrawFrame(now);
    const QImage moving = viewer.ReadPicture();

    PictureMaker maker;
    const QImage picture = maker.Draw(viewer, 181, 157, false);
    ASSERT_FALSE(picture.isNull()) << maker.error.toStdString();
    EXPECT_TRUE(viewer.cropTool.on);
    viewer.cropTool.on = false;
    const QImage still = PanelFrame(viewer);
    EXPECT_GT(Compare(moving, still).pixels, 500);
    // Drawn off screen and on the panel, a few pixels round a level apart.
    const Differences d = Compare(picture, still);
    EXPECT_LE(d.largest, 1);
    EXPECT_LE(d.pixels, 181 * 157 / 500);
}

// Tiles drawn through their parts of the frustum make the same picture.
TEST(Pictures, TilesMakeTheSamePicture)
{
    ScratchFolder scratch;
    GLWindow gl(181, 157);
    OpenHead(gl.viewer);
    PictureMaker whole, tiled;
    tiled.largestTile = 100;
    const QImage one = whole.Draw(gl.viewer, 362, 314, false);
    const QImage many = tiled.Draw(gl.viewer, 362, 314, false);
    ASSERT_FALSE(one.isNull());
    ASSERT_FALSE(many.isNull());
    EXPECT_LT(Difference(one, many), 0.3);
    EXPECT_NEAR(OutlineOf(many).centreX, OutlineOf(one).centreX, 0.1);
    EXPECT_NEAR(OutlineOf(many).centreY, OutlineOf(one).centreY, 0.1);
}

// A transparent picture: alpha 0 where the background shows, 255 on the
// opaque bone, and over black it is the opaque picture.
TEST(Pictures, TransparentBackgroundKeepsTheBonesOpacity)
{
    ScratchFolder scratch;
    GLWindow gl(181, 157);
    Viewer& viewer = gl.viewer;
    OpenHead(viewer);
    PictureMaker maker;
    const QImage opaque = maker.Draw(viewer, 181, 157, false);
    const QImage clear = maker.Draw(viewer, 181, 157, true);
    ASSERT_EQ(clear.format(), QImage::Format_RGBA8888);
    // Where the volume's box lies on the panel: no ray outside meets it.
    PanelFrame(viewer);
    const Vec3 half = viewer.volumeRenderer->BoxHalfExtents();
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    for (int corner = 0; corner < 8; ++corner) {
        const QVector3D p = viewer.FrameMatrix().map(
            QVector3D(corner & 1 ? half.x : -half.x, corner & 2 ? half.y : -half.y, corner & 4 ? half.z : -half.z));
        left = std::min(left, double(p.x()));
        right = std::max(right, double(p.x()));
        top = std::min(top, double(p.y()));
        bottom = std::max(bottom, double(p.y()));
    }
    // A pixel of margin: the rasteriser's edge rules.
    const QRectF box(QPointF(left - 1, top - 1), QPointF(right + 1, bottom + 1));
    // The bone: pixels that show it, as their neighbours do, so that no
    // ray grazes its edge.
    const auto showsBone = [&opaque](int x, int y) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (!opaque.rect().contains(x + dx, y + dy) || qGray(opaque.pixel(x + dx, y + dy)) < 60) {
                    return false;
                }
            }
        }
        return true;
    };
    int background = 0, bone = 0, opaqueBone = 0;
    for (int y = 0; y < clear.height(); ++y) {
        for (int x = 0; x < clear.width(); ++x) {
            const QColor c = clear.pixelColor(x, y), o = opaque.pixelColor(x, y);
            if (!box.intersects(QRectF(x, y, 1, 1))) {
                EXPECT_EQ(c.alpha(), 0) << x << ", " << y;
                ++background;
            }
            if (showsBone(x, y)) {
                ++bone;
                opaqueBone += c.alpha() == 255;
            }
            if (c.alpha() == 255) {
                EXPECT_EQ(c.rgb(), o.rgb()) << x << ", " << y;
            }
            // Straight colours over black: the opaque picture.
            EXPECT_NEAR(c.red() * c.alpha() / 255.0, o.red(), 1.01) << x << ", " << y;
            EXPECT_NEAR(c.green() * c.alpha() / 255.0, o.green(), 1.01) << x << ", " << y;
            EXPECT_NEAR(c.blue() * c.alpha() / 255.0, o.blue(), 1.01) << x << ", " << y;
        }
    }
    EXPECT_GT(background, 10000);
    EXPECT_GT(bone, 3000);
    // All but where rays pass thin bone in the nose, whose samples are not
    // all opaque.
    EXPECT_GE(opaqueBone, bone * 99 / 100);
}

TEST(Pictures, ASizeOutsideTheLimitsIsRefused)
{
    ScratchFolder scratch;
    GLWindow gl(64, 48);
    PictureMaker maker;
    EXPECT_TRUE(maker.Draw(gl.viewer, 0, 10, false).isNull());
    EXPECT_EQ(maker.error.toStdString(), "a picture has 1 to 16384 pixels a side, not 0 x 10");
    EXPECT_TRUE(maker.Draw(gl.viewer, 20000, 10, false).isNull());
}

// An orbit of 24 frames: the file holds 24 frames of the size asked for,
// the first the still picture, frame 12 the view turned by 180 degrees.
TEST(Movies, AnOrbitDecodesToItsFramesEachTheViewTurned)
{
    ScratchFolder scratch;
    GLWindow gl(181, 157);
    Viewer& viewer = gl.viewer;
    OpenHead(viewer);
    MovieOptions options;
    options.frames = 24;
    options.width = 180;
    options.height = 156;
    const QString path = QString::fromStdString(scratch.Path("orbit.mp4"));
    std::vector<int> told;
    MovieMaker maker;
    ASSERT_TRUE(maker.Make(viewer, options, path, [&told](int done, int total) {
        EXPECT_EQ(total, 24);
        told.push_back(done);
        return true;
    })) << maker.error.toStdString();
    EXPECT_EQ(told.size(), 25u);
    EXPECT_EQ(told.back(), 24);

    const std::vector<QImage> frames = DecodeMovie(path);
    ASSERT_EQ(frames.size(), 24u);
    for (const QImage& frame : frames) {
        EXPECT_EQ(frame.size(), QSize(180, 156));
    }
    PictureMaker pictures;
    const QImage still = pictures.Draw(viewer, 180, 156, false);
    const QQuaternion orientation = viewer.viewControl.orientation;
    viewer.viewControl.Turn(180.0f, 0.0f);
    const QImage turned = pictures.Draw(viewer, 180, 156, false);
    viewer.viewControl.orientation = orientation;
    frames[0].save(QString::fromStdString(scratch.Path("frame0.png")));
    frames[12].save(QString::fromStdString(scratch.Path("frame12.png")));
    EXPECT_LT(Difference(frames[0], still), 1.5);
    EXPECT_LT(Difference(frames[12], turned), 1.5);
    // Turned and not turned differ by far more than the encoding's loss.
    EXPECT_GT(Difference(frames[12], still), 6.0);
    // The view is left as it was.
    EXPECT_EQ(viewer.viewControl.orientation, orientation);
}

TEST(Movies, CancelledOrFailedLeavesNoFile)
{
    ScratchFolder scratch;
    GLWindow gl(64, 48);
    OpenHead(gl.viewer);
    const std::string folder = scratch.Path("movies");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    MovieOptions options;
    options.width = 64;
    options.height = 48;
    MovieMaker maker;
    int calls = 0;
    EXPECT_FALSE(
        maker.Make(gl.viewer, options, QString::fromStdString(folder + "/stopped.mp4"), [&calls](int done, int) {
            ++calls;
            return done < 3;
        }));
    EXPECT_TRUE(maker.cancelled);
    // Stopped at once: no frame after the answer.
    EXPECT_EQ(calls, 4);
    EXPECT_TRUE(FolderEntries(folder).isEmpty()) << FolderEntries(folder).join(' ').toStdString();

    options.width = 63;
    EXPECT_FALSE(maker.Make(gl.viewer, options, QString::fromStdString(folder + "/odd.mp4")));
    EXPECT_FALSE(maker.cancelled);
    EXPECT_EQ(maker.error.toStdString(), "a movie's sides are even numbers of pixels from 2 to 16384, not 63 x 48");
    options.width = 64;
    EXPECT_FALSE(maker.Make(gl.viewer, options, QString::fromStdString(folder + "/none/movie.mp4")));
    EXPECT_TRUE(maker.error.startsWith(QStringLiteral("cannot be written"))) << maker.error.toStdString();
    options.sweep = true;
    EXPECT_FALSE(maker.Make(gl.viewer, options, QString::fromStdString(folder + "/sweep.mp4")));
    EXPECT_EQ(maker.error.toStdString(), "a sweep moves the clipping plane, which is off");
    EXPECT_TRUE(FolderEntries(folder).isEmpty()) << FolderEntries(folder).join(' ').toStdString();
}

// A sweep moves the plane from keeping nearly the whole volume to nearly
// none: the first frame is the unclipped view's, the last nearly empty.
TEST(Movies, ASweepMovesThePlaneThroughTheVolume)
{
    ScratchFolder scratch;
    GLWindow gl(120, 100);
    Viewer& viewer = gl.viewer;
    OpenHead(viewer);
    PictureMaker pictures;
    const QImage whole = pictures.Draw(viewer, 120, 100, false);
    ViewSettings clipped = viewer.Settings();
    clipped.cut.clip = true;
    clipped.cut.normal = Vec3{0.0f, 1.0f, 0.0f};
    clipped.cut.distance = 0.0f;
    viewer.Apply(clipped);
    MovieOptions options;
    options.frames = 8;
    options.width = 120;
    options.height = 100;
    options.sweep = true;
    const QString path = QString::fromStdString(scratch.Path("sweep.mp4"));
    MovieMaker maker;
    ASSERT_TRUE(maker.Make(viewer, options, path)) << maker.error.toStdString();
    const std::vector<QImage> frames = DecodeMovie(path);
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_LT(Difference(frames.front(), whole), 2.0);
    const int first = OutlineOf(frames.front()).pixels, last = OutlineOf(frames.back()).pixels;
    EXPECT_LT(last, first / 4);
    // The plane was left where it was.
    EXPECT_EQ(viewer.Settings().cut.distance, 0.0f);
}

// volren-render's orbit: frame k of N is its picture with --turn 360 k / N.
TEST(Movies, TheToolsOrbitFramesAreItsTurnedPictures)
{
    ScratchFolder scratch;
    const QString tool = QString::fromStdString(ProgramFolder() + "volren-render");
    const QStringList common = {Docs("headsq_ct.dat"),    QStringLiteral("--tf"), Docs("headsq_ct_skull.tf"),
                                QStringLiteral("--view"), QStringLiteral("up"),   QStringLiteral("--size"),
                                QStringLiteral("150x126")};
    const auto run = [&tool](const QStringList& arguments) {
        QProcess process;
        process.start(tool, arguments);
        EXPECT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    };
    const QString movie = QString::fromStdString(scratch.Path("tool.mp4"));
    run(common + QStringList{QStringLiteral("--turn"), QStringLiteral("30,10"), QStringLiteral("--movie"), movie,
                             QStringLiteral("--orbit"), QStringLiteral("8")});
    const QString still = QString::fromStdString(scratch.Path("still.png"));
    run(common + QStringList{QStringLiteral("--turn"), QStringLiteral("120,10"), QStringLiteral("-o"), still});
    const std::vector<QImage> frames = DecodeMovie(movie);
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames[2].size(), QSize(150, 126));
    const QImage picture(still);
    EXPECT_LT(Difference(frames[2], picture), 1.5);
    EXPECT_GT(Difference(frames[0], picture), 6.0);
}

namespace {
// The window with the head open and its view at rest converged; its frame
// loop stopped, so that the test draws alone.
void ShowHead(TMainForm& form)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.renderWindow));
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_TRUE(form.OpenVolume(Docs("headsq_ct.dat")));
    ASSERT_TRUE(form.viewer.LoadTransferFunction(Docs("headsq_ct_skull.tf")));
    form.viewer.ShowSide(VolumeRenderer::Up);
    form.viewer.viewControl.Turn(180.0f, 0.0f);
    QTest::qWait(1500);
    form.idleTimer->stop();
}

void ClickOk(QWidget* dialog)
{
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
}
}  // namespace

// Save Picture from the window, by its shortcut: at twice the panel's size
// the outline of the panel's picture scales by two, the background is
// transparent where asked, and the file dialog opens next in the folder it
// saved to.
TEST(WindowPictures, SavePictureAtTwiceThePanelsSize)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    ShowHead(form);
    form.viewer.Redraw();
    ASSERT_TRUE(form.DrawFrame());
    ASSERT_TRUE(form.viewer.Converged());
    const QImage panel = form.viewer.ReadPicture();
    const QSize twice = panel.size() * 2;
    const std::string folder = scratch.Path("pictures");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const QString path = QString::fromStdString(folder + "/head.png");
    WhenModalOpens(QStringLiteral("PictureDialog"), [&](QWidget* modal) {
        auto* dialog = qobject_cast<PictureDialog*>(modal);
        dialog->widthBox->setValue(twice.width());
        // The panel's proportions are kept.
        EXPECT_EQ(dialog->heightBox->value(), twice.height());
        QTest::mouseClick(dialog->transparentBox, Qt::LeftButton);
        WhenModalOpens(QStringLiteral("PictureSaveDialog"), [&path](QWidget* files) { EnterFileName(files, path); });
        ClickOk(dialog);
    });
    QTest::keyClick(&form, Qt::Key_P, Qt::ControlModifier);
    const QImage saved(path);
    ASSERT_EQ(saved.size(), twice);
    ASSERT_TRUE(saved.hasAlphaChannel());
    const Outline small = OutlineOf(panel), large = OutlineOf(saved);
    for (const auto& [a, b] : {std::pair{small.left, large.left}, std::pair{small.right, large.right},
                               std::pair{small.top, large.top}, std::pair{small.bottom, large.bottom}}) {
        EXPECT_NEAR(b, 2.0 * a, 2.0);
    }
    EXPECT_NEAR(large.centreX, 2.0 * small.centreX, 1.0);
    EXPECT_NEAR(large.centreY, 2.0 * small.centreY, 1.0);
    EXPECT_EQ(saved.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(saved.pixelColor(saved.width() - 1, saved.height() - 1).alpha(), 0);
    int opaque = 0;
    for (int y = 0; y < saved.height(); ++y) {
        for (int x = 0; x < saved.width(); ++x) {
            opaque += saved.pixelColor(x, y).alpha() == 255;
        }
    }
    EXPECT_GT(opaque, large.pixels * 3 / 4);

    QString opened;
    WhenModalOpens(QStringLiteral("PictureDialog"), [&opened](QWidget* dialog) {
        WhenModalOpens(QStringLiteral("PictureSaveDialog"), [&opened](QWidget* files) {
            opened = qobject_cast<QFileDialog*>(files)->directory().absolutePath();
            qobject_cast<QDialog*>(files)->reject();
        });
        ClickOk(dialog);
    });
    form.SavePictureAction->trigger();
    EXPECT_EQ(opened.toStdString(), QDir(QString::fromStdString(folder)).absolutePath().toStdString());
}

// Save Movie from the window: the orbit of 24 frames at the size asked for,
// its first frame the still picture; a movie cancelled from its progress
// dialog after a few frames leaves no file.
TEST(WindowPictures, SaveMovieAndCancelOne)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    ShowHead(form);
    const std::string folder = scratch.Path("movies");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const QString path = QString::fromStdString(folder + "/orbit.mp4");
    const auto ask = [](int frames, const QString& file) {
        WhenModalOpens(QStringLiteral("MovieDialog"), [frames, file](QWidget* modal) {
            auto* dialog = qobject_cast<MovieDialog*>(modal);
            EXPECT_TRUE(dialog->orbitButton->isChecked());
            EXPECT_FALSE(dialog->sweepButton->isEnabled());
            dialog->framesBox->setValue(frames);
            dialog->widthBox->setValue(120);
            dialog->heightBox->setValue(132);
            WhenModalOpens(QStringLiteral("MovieSaveDialog"), [file](QWidget* files) { EnterFileName(files, file); });
            ClickOk(dialog);
        });
    };
    ask(24, path);
    QTest::keyClick(&form, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    const std::vector<QImage> frames = DecodeMovie(path);
    ASSERT_EQ(frames.size(), 24u);
    EXPECT_EQ(frames[0].size(), QSize(120, 132));
    PictureMaker maker;
    EXPECT_LT(Difference(frames[0], maker.Draw(form.viewer, 120, 132, false)), 1.5);

    const QString cancelled = QString::fromStdString(folder + "/cancelled.mp4");
    ask(2000, cancelled);
    int shown = -1;
    WhenModalOpens(QStringLiteral("MovieProgress"), [&shown](QWidget* modal) {
        auto* progress = qobject_cast<QProgressDialog*>(modal);
        auto* poll = new QTimer(progress);
        QObject::connect(poll, &QTimer::timeout, progress, [progress, poll, &shown] {
            if (progress->value() >= 3) {
                poll->stop();
                shown = progress->value();
                QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
            }
        });
        poll->start(5);
    });
    form.SaveMovieAction->trigger();
    EXPECT_GE(shown, 3);
    EXPECT_FALSE(QFileInfo::exists(cancelled));
    EXPECT_EQ(FolderEntries(folder), QStringList{QStringLiteral("orbit.mp4")});
}
