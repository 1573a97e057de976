// volren-render: draws a volume through the program's engine and writes the
// view at rest as a PNG, and an orbit of it as an MP4 movie, as the window's
// Save Picture and Save Movie do; optionally compares the picture with a
// baseline picture. Its options map onto the engine's settings.
#include <GL/glew.h>

#include "Viewer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <optional>
#include <tuple>
#include <vector>

#include "DisplayRetry.h"
#include "Log.h"
#include "MovieMaker.h"
#include "PictureCompare.h"
#include "PictureMaker.h"
#include "Platform.h"
#include "PrintableText.h"
#include "ScanLoader.h"
#include "VolumeRenderer.h"

namespace {
constexpr int exitUsage = 2;
constexpr int exitDifferent = 3;

const char* const usageLine =
    "usage: volren-render VOLUME [-o OUT.png] [--movie OUT.mp4 [--orbit N] [--fps F] [--sweep]] [--transparent] "
    "[--tf FILE.tf] [--method slices|volume-texture|ray-casting] "
    "[--classification pre|shaders|none] [--colormap intensity|gradient] [--blend min|max|blend|default] "
    "[--view left|down|back|right|up|front] [--rotate X,Y,Z] [--turn H,V] [--pan X,Y] [--distance D] "
    "[--size WxH] [--step F] "
    "[--max-intensity F] [--adaptive 0|1] [--lighting 0|1] [--converge 0|1] [--crop X0,X1,Y0,Y1,Z0,Z1] "
    "[--clip NX,NY,NZ,D] [--cut-face] [--cut-grey LOW,HIGH] [--frames N] [--drag N] "
    "[--reference BASELINE.png "
    "[--threshold T] [--ssim]] [--program-folder DIR]";

[[noreturn]] void UsageError(const QString& message)
{
    std::fprintf(stderr, "volren-render: %s\n%s\n", message.toLocal8Bit().constData(), usageLine);
    std::fflush(stderr);
    std::_Exit(exitUsage);
}

// The index of value in names, or a usage error naming the option.
int Choice(const QCommandLineParser& parser, const QString& option, const QStringList& names, int fallback)
{
    if (!parser.isSet(option)) {
        return fallback;
    }
    const int index = int(names.indexOf(parser.value(option)));
    if (index < 0) {
        UsageError(QStringLiteral("--%1 takes one of %2, not '%3'")
                       .arg(option, names.join(QLatin1Char('|')), parser.value(option)));
    }
    return index;
}

std::optional<float> FloatOption(const QCommandLineParser& parser, const QString& option)
{
    if (!parser.isSet(option)) {
        return std::nullopt;
    }
    bool ok = false;
    const float value = parser.value(option).toFloat(&ok);
    if (!ok || !std::isfinite(value)) {
        UsageError(QStringLiteral("--%1 takes a number, not '%2'").arg(option, parser.value(option)));
    }
    return value;
}

// count comma-separated finite numbers, or a usage error naming the option.
std::vector<float> Numbers(const QCommandLineParser& parser, const QString& option, int count, const QString& form)
{
    const QStringList parts = parser.value(option).split(QLatin1Char(','));
    std::vector<float> numbers(size_t(count), 0.0f);
    bool ok = parts.size() == count;
    for (int i = 0; ok && i < count; ++i) {
        numbers[size_t(i)] = parts[i].trimmed().toFloat(&ok);
        ok = ok && std::isfinite(numbers[size_t(i)]);
    }
    if (!ok) {
        UsageError(QStringLiteral("--%1 takes %2, not '%3'").arg(option, form, parser.value(option)));
    }
    return numbers;
}

bool FlagOption(const QCommandLineParser& parser, const QString& option, bool fallback)
{
    return Choice(parser, option, {QStringLiteral("0"), QStringLiteral("1")}, fallback ? 1 : 0) == 1;
}

// The engine's settings and what the tool does with its picture.
struct Settings {
    ViewSettings view;
    QString volume;
    QString output;
    QString movie;
    MovieOptions movieOptions;
    bool transparent = false;
    QString transferFunction;
    QString reference;
    QString programFolder;
    int frames = 1;
    int drag = 0;
    double threshold = 0.5;
    bool ssim = false;
};

Settings ParseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws VOLUME (a .dat file, or a scan: a DICOM series folder or file, NIfTI, NRRD, MetaImage) as the\n"
        "volren program's frame loop does and writes the view at rest as a PNG, or an orbit of it as an MP4\n"
        "movie, as the program's Save Picture and Save Movie write them.\n"
        "Defaults are the program's start-up state: ray casting, no classification, intensity colour map,\n"
        "default blend, front view, the program's transfer function for the volume, a 537x595 panel, the\n"
        "volume framed, the picture of the view at rest.\n"
        "The volume's box has its largest side from -1 to +1; framed, that side spans two thirds of the\n"
        "panel's narrower side.\n"
        "Exit status: 0 written (and like the reference), 1 fatal error (see debug.log),\n"
        "2 bad arguments, 3 picture differs from the reference or the reference is missing."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("VOLUME"), QStringLiteral("Volume data file or scan to draw."));
    parser.addOptions({
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("PNG file to write."),
         QStringLiteral("OUT.png")},
        {QStringLiteral("transparent"),
         QStringLiteral("Writes the PNG with a transparent background: alpha 0 where no volume shows, the volume's "
                        "own opacity elsewhere.")},
        {QStringLiteral("movie"),
         QStringLiteral("MP4 (H.264) file to write: an orbit of the view, frame k of N turned by 360 k / N degrees as "
                        "--turn turns it (about the screen's vertical axis), at the size of --size, whose sides must "
                        "be even."),
         QStringLiteral("OUT.mp4")},
        {QStringLiteral("orbit"), QStringLiteral("Frames of the movie; default 120."), QStringLiteral("N")},
        {QStringLiteral("fps"), QStringLiteral("Frames a second of the movie, 1 to 240; default 30."),
         QStringLiteral("F")},
        {QStringLiteral("sweep"),
         QStringLiteral("The movie sweeps the clipping plane of --clip through the volume, from keeping nearly all of "
                        "it to nearly none, instead of orbiting.")},
        {QStringLiteral("tf"),
         QStringLiteral("Transfer function file (.tf) to use; default: the one the program applies to a scan of its "
                        "kind (the samples' ct.tf for a CT, mri.tf for an MRI, said on standard output), else the "
                        "start-up one."),
         QStringLiteral("FILE.tf")},
        {QStringLiteral("method"), QStringLiteral("Rendering method: slices, volume-texture or ray-casting."),
         QStringLiteral("M"), QStringLiteral("ray-casting")},
        {QStringLiteral("classification"), QStringLiteral("Classification: pre, shaders or none."), QStringLiteral("C"),
         QStringLiteral("none")},
        {QStringLiteral("colormap"), QStringLiteral("Colour map of shader classification: intensity or gradient."),
         QStringLiteral("T"), QStringLiteral("intensity")},
        {QStringLiteral("blend"), QStringLiteral("Blend mode: min, max, blend or default."), QStringLiteral("B"),
         QStringLiteral("default")},
        {QStringLiteral("view"),
         QStringLiteral("Camera button: left, down, back, right, up or front (rotation and view stack)."),
         QStringLiteral("V"), QStringLiteral("front")},
        {QStringLiteral("rotate"),
         QStringLiteral("Free rotation in degrees about x, y and z, applied after the camera button's rotation "
                        "and the turn, as the program's free rotation."),
         QStringLiteral("X,Y,Z")},
        {QStringLiteral("turn"),
         QStringLiteral("Turn in degrees as a left mouse drag gives it, after the camera button: H about the "
                        "screen's vertical axis (positive: the near side goes right), then V about its horizontal "
                        "axis (positive: the near side goes down); a drag of one pixel turns half a degree."),
         QStringLiteral("H,V")},
        {QStringLiteral("pan"),
         QStringLiteral("Pan in pixels as a middle mouse drag gives it (x to the right, y downwards)."),
         QStringLiteral("X,Y")},
        {QStringLiteral("distance"),
         QStringLiteral("Distance of the eye from the volume's centre, in the units of its box (largest side 2); "
                        "default: framed. Any distance from 0 (the eye at the centre) up."),
         QStringLiteral("D")},
        {QStringLiteral("crop"),
         QStringLiteral("Crop box as shares of each side of the volume, from 0 to 1 (x from the left, y from the "
                        "bottom, z from the back of the front view), each upper end above its lower end."),
         QStringLiteral("X0,X1,Y0,Y1,Z0,Z1")},
        {QStringLiteral("clip"),
         QStringLiteral("Clipping plane that keeps the points p of the box with NX px + NY py + NZ pz <= D: p in the "
                        "box's own coordinates, centred, its largest side from -1 to 1, turned with the volume."),
         QStringLiteral("NX,NY,NZ,D")},
        {QStringLiteral("cut-face"),
         QStringLiteral("Draws the faces where the crop box or the plane cut through the volume, opaque in the "
                        "transfer function's colours, clear where it shows nothing.")},
        {QStringLiteral("cut-grey"),
         QStringLiteral("Draws the cut faces in grey levels over a window of densities from LOW (black) to HIGH "
                        "(white), clear below LOW."),
         QStringLiteral("LOW,HIGH")},
        {QStringLiteral("size"),
         QStringLiteral("Render panel size in pixels, and so the size of the picture and the movie, drawn off "
                        "screen (in tiles where the driver needs them)."),
         QStringLiteral("WxH"), QStringLiteral("537x595")},
        {QStringLiteral("step"), QStringLiteral("Ray step size (\"dz =\"), greater than 0; default 0.01."),
         QStringLiteral("F")},
        {QStringLiteral("max-intensity"), QStringLiteral("Ray maximum intensity (\"mi =\"), 0 to 1; default 1."),
         QStringLiteral("F")},
        {QStringLiteral("adaptive"), QStringLiteral("Adaptive step size of the ray caster: 0 or 1; default 1."),
         QStringLiteral("0|1")},
        {QStringLiteral("lighting"), QStringLiteral("Lighting of the ray caster: 0 or 1; default 1."),
         QStringLiteral("0|1")},
        {QStringLiteral("converge"),
         QStringLiteral("Whether the picture written is the ray-cast view at rest, averaged over frames with their "
                        "samples at other offsets within the step until it converges (1, the default), or a single "
                        "frame (0)."),
         QStringLiteral("0|1")},
        {QStringLiteral("drag"),
         QStringLiteral("Before the frames, N frames as during a left drag of 2 pixels a frame, each drawn at the "
                        "resolution the program would choose to stay within 40 ms; prints 'drag N median_ms M max_ms "
                        "x over_budget k largest_factor f'."),
         QStringLiteral("N")},
        {QStringLiteral("frames"),
         QStringLiteral("Frames to time, each drawn whole; with more than one, prints 'frames N median_ms M min_ms m "
                        "max_ms x', then 'rested frames N ms T': the frames and milliseconds until the view at rest "
                        "has converged. The picture written is the view at rest."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("reference"),
         QStringLiteral("Baseline PNG to compare with by the mean absolute difference per colour channel, in levels "
                        "of 0 to 255; on a difference above the threshold OUT.diff.png is written beside OUT.png."),
         QStringLiteral("BASELINE.png")},
        {QStringLiteral("threshold"),
         QStringLiteral("Largest mean absolute difference (levels) that counts as equal; default 0.5."),
         QStringLiteral("T")},
        {QStringLiteral("ssim"),
         QStringLiteral("With --reference, also prints 'ssim S': the structural similarity of the grey levels over "
                        "the box around what either picture draws (1 for the same picture).")},
        {QStringLiteral("program-folder"),
         QStringLiteral("Folder that holds the Shaders folder; default: the folder of this executable."),
         QStringLiteral("DIR")},
    });

    if (!parser.parse(arguments)) {
        UsageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Read before the application exists, the parser knows no program name.
        std::printf("%s", parser.helpText()
                              .replace(QLatin1String("<executable_name>"), QLatin1String("volren-render"))
                              .toLocal8Bit()
                              .constData());
        std::exit(0);
    }

    Settings s;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        UsageError(positional.isEmpty() ? QStringLiteral("no volume file given")
                                        : QStringLiteral("only one volume file can be drawn"));
    }
    s.volume = positional.front();
    s.output = parser.value(QStringLiteral("output"));
    s.movie = parser.value(QStringLiteral("movie"));
    if (s.output.isEmpty() && s.movie.isEmpty()) {
        UsageError(QStringLiteral("-o OUT.png or --movie OUT.mp4 is required"));
    }
    s.transparent = parser.isSet(QStringLiteral("transparent"));
    s.transferFunction = parser.value(QStringLiteral("tf"));
    s.programFolder = parser.value(QStringLiteral("program-folder"));

    // The option values are the enumerations' numbers in order.
    ViewSettings& v = s.view;
    v.method = uint8_t(
        Choice(parser, QStringLiteral("method"),
               {QStringLiteral("slices"), QStringLiteral("volume-texture"), QStringLiteral("ray-casting")}, v.method));
    v.classification =
        uint8_t(Choice(parser, QStringLiteral("classification"),
                       {QStringLiteral("pre"), QStringLiteral("shaders"), QStringLiteral("none")}, v.classification));
    v.colorMap = uint8_t(Choice(parser, QStringLiteral("colormap"),
                                {QStringLiteral("intensity"), QStringLiteral("gradient")}, v.colorMap));
    v.blend = uint8_t(Choice(
        parser, QStringLiteral("blend"),
        {QStringLiteral("blend"), QStringLiteral("max"), QStringLiteral("min"), QStringLiteral("default")}, v.blend));
    v.view = int8_t(Choice(parser, QStringLiteral("view"),
                           {QStringLiteral("left"), QStringLiteral("down"), QStringLiteral("back"),
                            QStringLiteral("right"), QStringLiteral("up"), QStringLiteral("front")},
                           v.view));

    if (parser.isSet(QStringLiteral("rotate"))) {
        const QStringList parts = parser.value(QStringLiteral("rotate")).split(QLatin1Char(','));
        float angles[3] = {};
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i) {
            angles[i] = parts[i].trimmed().toFloat(&ok);
            ok = ok && std::isfinite(angles[i]);
        }
        if (!ok) {
            UsageError(QStringLiteral("--rotate takes three numbers X,Y,Z, not '%1'")
                           .arg(parser.value(QStringLiteral("rotate"))));
        }
        v.freeRotate = true;
        v.rotation = Vec3{angles[0], angles[1], angles[2]};
    }
    for (const auto& [option, pair] :
         {std::pair{QStringLiteral("turn"), v.turn}, std::pair{QStringLiteral("pan"), v.pan}}) {
        if (!parser.isSet(option)) {
            continue;
        }
        const QStringList parts = parser.value(option).split(QLatin1Char(','));
        bool ok = parts.size() == 2;
        for (int i = 0; ok && i < 2; ++i) {
            pair[i] = parts[i].trimmed().toFloat(&ok);
            ok = ok && std::isfinite(pair[i]);
        }
        if (!ok) {
            UsageError(QStringLiteral("--%1 takes two numbers, not '%2'").arg(option, parser.value(option)));
        }
    }
    v.distance = FloatOption(parser, QStringLiteral("distance"));
    if (v.distance && !(*v.distance >= 0.0f)) {
        UsageError(QStringLiteral("--distance must be 0 or more"));
    }
    if (parser.isSet(QStringLiteral("size"))) {
        const QStringList parts = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
        bool okW = false, okH = false;
        if (parts.size() == 2) {
            v.width = parts[0].toInt(&okW);
            v.height = parts[1].toInt(&okH);
        }
        if (!okW || !okH || v.width < 1 || v.height < 1 || v.width > 16384 || v.height > 16384) {
            UsageError(QStringLiteral("--size takes WxH with each side 1 to 16384, not '%1'")
                           .arg(parser.value(QStringLiteral("size"))));
        }
    }
    if (parser.isSet(QStringLiteral("crop"))) {
        const std::vector<float> crop =
            Numbers(parser, QStringLiteral("crop"), 6, QStringLiteral("six shares X0,X1,Y0,Y1,Z0,Z1"));
        for (int a = 0; a < 3; ++a) {
            const float low = crop[size_t(2 * a)], high = crop[size_t(2 * a + 1)];
            if (low < 0.0f || high > 1.0f || high - low < CutRegion::thinnest) {
                UsageError(QStringLiteral("--crop takes shares from 0 to 1, each upper end at least %1 above its "
                                          "lower end, not '%2'")
                               .arg(double(CutRegion::thinnest))
                               .arg(parser.value(QStringLiteral("crop"))));
            }
            v.cut.crop[2 * a] = low;
            v.cut.crop[2 * a + 1] = high;
        }
    }
    if (parser.isSet(QStringLiteral("clip"))) {
        const std::vector<float> plane =
            Numbers(parser, QStringLiteral("clip"), 4, QStringLiteral("four numbers NX,NY,NZ,D"));
        if (plane[0] == 0.0f && plane[1] == 0.0f && plane[2] == 0.0f) {
            UsageError(QStringLiteral("--clip needs a normal NX,NY,NZ other than 0,0,0"));
        }
        v.cut.clip = true;
        v.cut.normal = Vec3{plane[0], plane[1], plane[2]};
        v.cut.distance = plane[3];
    }
    if (parser.isSet(QStringLiteral("cut-face"))) {
        v.cut.face = CutRegion::ColorFace;
    }
    if (parser.isSet(QStringLiteral("cut-grey"))) {
        const std::vector<float> window =
            Numbers(parser, QStringLiteral("cut-grey"), 2, QStringLiteral("two densities LOW,HIGH"));
        if (!(window[1] > window[0])) {
            UsageError(QStringLiteral("--cut-grey needs HIGH above LOW"));
        }
        v.cut.face = CutRegion::GreyFace;
        v.cut.greyLow = window[0];
        v.cut.greyHigh = window[1];
    }
    v.step = FloatOption(parser, QStringLiteral("step")).value_or(v.step);
    if (v.step <= 0.0f) {
        UsageError(QStringLiteral("--step must be greater than 0"));
    }
    v.maxIntensity = FloatOption(parser, QStringLiteral("max-intensity")).value_or(v.maxIntensity);
    if (v.maxIntensity < 0.0f || v.maxIntensity > 1.0f) {
        UsageError(QStringLiteral("--max-intensity must lie in 0 to 1"));
    }
    v.adaptiveStep = FlagOption(parser, QStringLiteral("adaptive"), v.adaptiveStep);
    v.lighting = FlagOption(parser, QStringLiteral("lighting"), v.lighting);
    v.converge = FlagOption(parser, QStringLiteral("converge"), v.converge);
    if (parser.isSet(QStringLiteral("drag"))) {
        bool ok = false;
        s.drag = parser.value(QStringLiteral("drag")).toInt(&ok);
        if (!ok || s.drag < 1) {
            UsageError(QStringLiteral("--drag takes a whole number of at least 1"));
        }
    }
    if (parser.isSet(QStringLiteral("frames"))) {
        bool ok = false;
        s.frames = parser.value(QStringLiteral("frames")).toInt(&ok);
        if (!ok || s.frames < 1) {
            UsageError(QStringLiteral("--frames takes a whole number of at least 1"));
        }
    }
    for (const auto& [option, value, most] : {std::tuple{QStringLiteral("orbit"), &s.movieOptions.frames, 100000},
                                              std::tuple{QStringLiteral("fps"), &s.movieOptions.fps, 240}}) {
        if (!parser.isSet(option)) {
            continue;
        }
        if (s.movie.isEmpty()) {
            UsageError(QStringLiteral("--%1 needs --movie").arg(option));
        }
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (!ok || *value < 1 || *value > most) {
            UsageError(QStringLiteral("--%1 takes a whole number from 1 to %2").arg(option).arg(most));
        }
    }
    s.movieOptions.sweep = parser.isSet(QStringLiteral("sweep"));
    if (s.movieOptions.sweep && (s.movie.isEmpty() || !v.cut.clip)) {
        UsageError(QStringLiteral("--sweep needs --movie and --clip"));
    }
    if (!s.movie.isEmpty() && (v.width % 2 || v.height % 2)) {
        UsageError(QStringLiteral("--movie needs a --size of even sides, not %1x%2").arg(v.width).arg(v.height));
    }
    s.movieOptions.width = v.width;
    s.movieOptions.height = v.height;
    if (s.output.isEmpty() && s.transparent) {
        UsageError(QStringLiteral("--transparent needs -o OUT.png"));
    }
    s.reference = parser.value(QStringLiteral("reference"));
    if (!s.reference.isEmpty() && s.output.isEmpty()) {
        UsageError(QStringLiteral("--reference needs -o OUT.png"));
    }
    s.ssim = parser.isSet(QStringLiteral("ssim"));
    if (s.ssim && s.reference.isEmpty()) {
        UsageError(QStringLiteral("--ssim needs --reference"));
    }
    if (parser.isSet(QStringLiteral("threshold"))) {
        if (s.reference.isEmpty()) {
            UsageError(QStringLiteral("--threshold needs --reference"));
        }
        bool ok = false;
        s.threshold = parser.value(QStringLiteral("threshold")).toDouble(&ok);
        if (!ok || !std::isfinite(s.threshold) || s.threshold < 0.0) {
            UsageError(QStringLiteral("--threshold takes a number of at least 0"));
        }
    }
    return s;
}

QString DiffPath(const QString& output)
{
    const QFileInfo info(output);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".diff.png"));
}

int Compare(const Settings& s, const QImage& picture)
{
    QImage expected;
    if (!QFileInfo::exists(s.reference) || !expected.load(s.reference)) {
        std::fprintf(stderr, "volren-render: no readable reference '%s'; the picture is in '%s'\n",
                     s.reference.toLocal8Bit().constData(), s.output.toLocal8Bit().constData());
        return exitDifferent;
    }
    expected = expected.convertToFormat(QImage::Format_RGB888);
    if (expected.size() != picture.size()) {
        std::fprintf(stderr, "volren-render: reference is %dx%d, the picture %dx%d\n", expected.width(),
                     expected.height(), picture.width(), picture.height());
        return exitDifferent;
    }
    QImage diff;
    const double difference = PictureCompare::MeanAbsoluteDifference(picture, expected, diff);
    std::printf("difference %.4f threshold %.4f\n", difference, s.threshold);
    if (s.ssim) {
        std::printf("ssim %.4f\n", PictureCompare::Ssim(picture, expected));
    }
    if (difference <= s.threshold) {
        return 0;
    }
    const QString diffPath = DiffPath(s.output);
    if (!diff.save(diffPath, "PNG")) {
        std::fprintf(stderr, "volren-render: %s: cannot be written\n", diffPath.toLocal8Bit().constData());
        return 1;
    }
    std::fprintf(stderr, "volren-render: the picture differs from '%s'; see '%s' and '%s'\n",
                 s.reference.toLocal8Bit().constData(), s.output.toLocal8Bit().constData(),
                 diffPath.toLocal8Bit().constData());
    return exitDifferent;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

double Seconds() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Frames as the program draws them while the mouse turns the view, then the
// view turned back: the resolution is chosen from the frames before.
void Drag(const Settings& s, Viewer& viewer)
{
    std::vector<double> times;
    int largest = 1, over = 0;
    ViewControl& view = viewer.viewControl;
    const QQuaternion before = view.orientation;
    for (int frame = 0; frame < s.drag; ++frame) {
        const double start = Seconds();
        viewer.motionQuality.FrameStarts(start);
        largest = std::max(largest, viewer.motionQuality.Factor(true));
        view.Turn(2.0f * ViewControl::degreesPerPixel, 0.0f);
        viewer.DrawFrame(start, true);
        viewer.Swap();
        glFinish();
        times.push_back((Seconds() - start) * 1000.0);
        // The first two frames measure the drawing.
        over += frame >= 2 && times.back() > MotionQuality::budgetSeconds * 1000.0;
    }
    view.orientation = before;
    std::printf("drag %d median_ms %.3f max_ms %.3f over_budget %d largest_factor %d\n", s.drag, Median(times),
                *std::max_element(times.begin(), times.end()), over, largest);
}

// Ends the tool with one line on standard error.
[[noreturn]] void Fail(const QString& line)
{
    std::fprintf(stderr, "volren-render: %s\n", PrintableText(line.toLocal8Bit().toStdString()).c_str());
    LogClose();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(1);
}
}  // namespace

int main(int argc, char** argv)
{
    // The arguments are read before the display is opened, so that help and
    // argument errors need none.
    QCoreApplication::setApplicationName(QStringLiteral("volren-render"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const Settings s = ParseArguments(arguments);
    RetryLostDisplay(argv);
    PreparePlatform();
    QGuiApplication application(argc, argv);

    // A scan's reader is a process of its own: it reads while the window and
    // its context start here.
    struct EarlyRead {
        bool read = false;
        ScanVolume scan;
        QString error;
    };
    std::future<EarlyRead> early;
    if (ScanLoader::IsScan(s.volume)) {
        early = std::async(std::launch::async, [path = s.volume] {
            EarlyRead r;
            r.read = ScanLoader::Read(path, VolumeRenderer::MemoryLimit(), r.scan, r.error);
            return r;
        });
    }

    // The same engine as the main window: log, context, transfer function,
    // renderer, GLEW.
    LogOpen();
    QWindow window;
    window.resize(s.view.width, s.view.height);
    const QByteArray programFolder = s.programFolder.isEmpty()
                                         ? Viewer::ProgramFolder()
                                         : (QDir(s.programFolder).absolutePath() + QLatin1Char('/')).toLocal8Bit();
    Viewer viewer;
    viewer.Start(&window, programFolder);

    if (!s.transferFunction.isEmpty() && !viewer.LoadTransferFunction(s.transferFunction)) {
        Fail(s.transferFunction + QStringLiteral(": ") + QString::fromUtf8(viewer.transferFunction.Error()));
    }
    // Settings before the load, so that the load builds the method's textures once.
    viewer.Apply(s.view);
    const OpenResult opened = early.valid()
                                  ? viewer.Open(s.volume,
                                                [&early](const QString&, uint64_t, ScanVolume& scan, QString& error) {
                                                    EarlyRead r = early.get();
                                                    scan = std::move(r.scan);
                                                    error = r.error;
                                                    return r.read;
                                                })
                                  : viewer.Open(s.volume);
    if (!opened.opened) {
        Fail(s.volume + QStringLiteral(": ") + opened.error);
    }
    if (!opened.sampleFunction.isEmpty()) {
        std::printf("transfer function %s, as the program applies it to this scan\n",
                    opened.sampleFunction.toLocal8Bit().constData());
    }
    if (!opened.reducedResolution.isEmpty()) {
        std::fprintf(stderr, "volren-render: %s %s\n", s.volume.toLocal8Bit().constData(),
                     opened.reducedResolution.toLocal8Bit().constData());
    }
    viewer.PlaceCamera();

    if (s.drag > 0) {
        Drag(s, viewer);
    }

    // Timed frames as in the frame loop, each drawn whole and finished before
    // its time is taken.
    std::vector<double> times;
    if (s.frames > 1) {
        ViewSettings whole = viewer.Settings();
        whole.converge = false;
        viewer.Apply(whole);
        for (int frame = 0; frame < s.frames; ++frame) {
            const auto start = std::chrono::steady_clock::now();
            viewer.DrawFrame(Seconds());
            viewer.Swap();
            glFinish();
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        viewer.Apply(s.view);
        std::printf("frames %d median_ms %.3f min_ms %.3f max_ms %.3f\n", s.frames, Median(times),
                    *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
    }

    // The frames until the view at rest has converged, as the window draws them.
    if (s.frames > 1) {
        const double rest = Seconds();
        int rested = 0;
        do {
            viewer.DrawFrame(Seconds());
            viewer.Swap();
            ++rested;
        } while (!viewer.Converged());
        glFinish();
        std::printf("rested frames %d ms %.1f\n", rested, (Seconds() - rest) * 1000.0);
    }

    // The picture and the movie as the window's Save Picture and Save Movie
    // make them.
    int status = 0;
    if (!s.output.isEmpty()) {
        PictureMaker maker;
        const QImage image = maker.Draw(viewer, viewer.display.width, viewer.display.height, s.transparent);
        if (image.isNull()) {
            Fail(s.output + QStringLiteral(": ") + maker.error);
        }
        if (!image.save(s.output, "PNG")) {
            Fail(s.output + QStringLiteral(": cannot be written"));
        }
        status = s.reference.isEmpty() ? 0 : Compare(s, image.convertToFormat(QImage::Format_RGB888));
    }
    if (!s.movie.isEmpty()) {
        MovieMaker movie;
        if (!movie.Make(viewer, s.movieOptions, s.movie)) {
            Fail(s.movie + QStringLiteral(": ") + movie.error);
        }
    }

    // Like the program, leave without running the rest of the toolkit's shutdown.
    LogClose();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
