// volren-import: converts a DICOM series, a NIfTI, NRRD or MetaImage file or a
// raw dump into a .dat volume with densities 0..4096 and cubic voxels.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Importer.h"
#include "PrintableText.h"

namespace {
constexpr int exitBadInput = 1;
constexpr int exitUsage = 2;
constexpr size_t maxAxis = 65535;

const char* const usageLine =
    "usage: volren-import INPUT OUTPUT.dat [--raw WxHxD --type uint8|int16|uint16|float32 [--big-endian] "
    "[--skip BYTES]] [--spacing X,Y,Z] [--series UID] [--window LOW,HIGH] [--max-size N | --keep-grid] "
    "[--flip x|y|z]...";

[[noreturn]] void UsageError(const QString& message)
{
    std::fprintf(stderr, "volren-import: %s\n%s\n", message.toLocal8Bit().constData(), usageLine);
    std::exit(exitUsage);
}

// A list of count numbers separated by separator, each accepted by valid.
template <typename Valid>
std::vector<double> Numbers(const QCommandLineParser& parser, const QString& option, QChar separator, int count,
                            Valid valid)
{
    const QString text = parser.value(option);
    const QStringList parts = text.split(separator);
    std::vector<double> numbers;
    for (const QString& part : parts) {
        bool ok = false;
        const double value = part.toDouble(&ok);
        if (!ok || !std::isfinite(value) || !valid(value)) {
            break;
        }
        numbers.push_back(value);
    }
    if (int(parts.size()) != count || int(numbers.size()) != count) {
        UsageError(QStringLiteral("--%1 does not take '%2'").arg(option, text));
    }
    return numbers;
}

RawLayout Raw(const QCommandLineParser& parser)
{
    RawLayout raw;
    const auto sizes = Numbers(parser, QStringLiteral("raw"), QLatin1Char('x'), 3,
                               [](double v) { return v >= 1 && v <= double(maxAxis) && v == std::floor(v); });
    for (int d = 0; d < 3; ++d) {
        raw.size[d] = size_t(sizes[d]);
    }
    const QStringList types = {QStringLiteral("uint8"), QStringLiteral("int16"), QStringLiteral("uint16"),
                               QStringLiteral("float32")};
    const int type = int(types.indexOf(parser.value(QStringLiteral("type"))));
    if (type < 0) {
        UsageError(QStringLiteral("--raw needs --type %1").arg(types.join(QLatin1Char('|'))));
    }
    raw.type = RawType(type);
    raw.bigEndian = parser.isSet(QStringLiteral("big-endian"));
    if (parser.isSet(QStringLiteral("skip"))) {
        bool ok = false;
        raw.skip = parser.value(QStringLiteral("skip")).toULongLong(&ok);
        if (!ok) {
            UsageError(QStringLiteral("--skip takes a number of bytes, not '%1'").arg(parser.value("skip")));
        }
    }
    return raw;
}

ImportOptions Parse(const QCommandLineParser& parser)
{
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2) {
        UsageError(QStringLiteral("needs an input and an output file"));
    }
    ImportOptions options;
    options.input = QFile::encodeName(arguments[0]).toStdString();
    options.output = QFile::encodeName(arguments[1]).toStdString();

    if (parser.isSet(QStringLiteral("raw"))) {
        options.raw = Raw(parser);
    } else {
        for (const char* rawOnly : {"type", "big-endian", "skip"}) {
            if (parser.isSet(QLatin1String(rawOnly))) {
                UsageError(QStringLiteral("--%1 applies to --raw input only").arg(QLatin1String(rawOnly)));
            }
        }
    }
    if (parser.isSet(QStringLiteral("spacing"))) {
        const auto s = Numbers(parser, QStringLiteral("spacing"), QLatin1Char(','), 3, [](double v) { return v > 0; });
        options.spacing = std::array<double, 3>{s[0], s[1], s[2]};
    }
    if (parser.isSet(QStringLiteral("series"))) {
        if (options.raw || !QFileInfo(arguments[0]).isDir()) {
            UsageError(QStringLiteral("--series applies to a folder holding DICOM files"));
        }
        options.series = parser.value(QStringLiteral("series")).toStdString();
    }
    if (parser.isSet(QStringLiteral("window"))) {
        const auto w = Numbers(parser, QStringLiteral("window"), QLatin1Char(','), 2, [](double) { return true; });
        if (w[0] >= w[1]) {
            UsageError(QStringLiteral("--window needs LOW below HIGH"));
        }
        options.window = std::array<double, 2>{w[0], w[1]};
    }
    options.keepGrid = parser.isSet(QStringLiteral("keep-grid"));
    if (parser.isSet(QStringLiteral("max-size"))) {
        if (options.keepGrid) {
            UsageError(QStringLiteral("--max-size and --keep-grid exclude each other"));
        }
        const auto n = Numbers(parser, QStringLiteral("max-size"), QLatin1Char(','), 1,
                               [](double v) { return v >= 1 && v <= double(maxAxis) && v == std::floor(v); });
        options.maxSize = size_t(n[0]);
    }
    for (const QString& axis : parser.values(QStringLiteral("flip"))) {
        const int d = int(QStringList({"x", "y", "z"}).indexOf(axis));
        if (d < 0) {
            UsageError(QStringLiteral("--flip takes x, y or z, not '%1'").arg(axis));
        }
        options.flip[d] = true;
    }
    return options;
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("volren-import"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts a DICOM series (a folder), a NIfTI (.nii, .nii.gz), NRRD (.nrrd, .nhdr), MetaImage (.mha, .mhd) "
        "or raw file into a volume data file (.dat) with densities 0..4096, resampled to cubic voxels."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("A file, or a folder holding a DICOM series."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT.dat"), QStringLiteral("The volume data file to write."));
    parser.addOptions({
        {QStringLiteral("raw"), QStringLiteral("Read INPUT as raw samples, W x H x D, x fastest."),
         QStringLiteral("WxHxD")},
        {QStringLiteral("type"), QStringLiteral("Raw sample type: uint8, int16, uint16 or float32."),
         QStringLiteral("TYPE")},
        {QStringLiteral("big-endian"), QStringLiteral("Raw samples are big-endian (default little-endian).")},
        {QStringLiteral("skip"), QStringLiteral("Raw bytes to skip before the samples (default 0)."),
         QStringLiteral("BYTES")},
        {QStringLiteral("spacing"), QStringLiteral("Voxel spacing, replacing the input's own (raw: default 1,1,1)."),
         QStringLiteral("X,Y,Z")},
        {QStringLiteral("series"), QStringLiteral("The DICOM series to import when the folder holds several."),
         QStringLiteral("UID")},
        {QStringLiteral("window"), QStringLiteral("Map LOW..HIGH linearly to 0..4095 instead of the automatic rule."),
         QStringLiteral("LOW,HIGH")},
        {QStringLiteral("max-size"), QStringLiteral("Largest output size along any axis (default 512)."),
         QStringLiteral("N")},
        {QStringLiteral("keep-grid"), QStringLiteral("Write the samples as they are, without resampling.")},
        {QStringLiteral("flip"), QStringLiteral("Reverse the samples along an axis; may be repeated."),
         QStringLiteral("x|y|z")},
    });
    if (!parser.parse(application.arguments())) {
        UsageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s\n", parser.helpText().toLocal8Bit().constData());
        return 0;
    }
    const ImportOptions options = Parse(parser);
    std::string error;
    if (!Import(options, stdout, error)) {
        std::fflush(stdout);
        std::fprintf(stderr, "volren-import: %s\n", PrintableText(error).c_str());
        return exitBadInput;
    }
    return 0;
}
