#include "HeaderCheck.h"

#include "ValueRule.h"

#include <nifti1_io.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace {
constexpr uint64_t maxAxis = 65535;
// Enough for any real header, including a NRRD or MetaImage list of slice files.
constexpr size_t headLimit = size_t(4) << 20;

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && Lower(text.substr(text.size() - end.size())) == end;
}

std::optional<long long> Integer(const std::string& token)
{
    if (token.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(token.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::optional<double> Number(const std::string& token)
{
    if (token.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    if (*end != '\0') {
        return std::nullopt;
    }
    return value;
}

// Splits on white space outside quotes and parentheses, so that NRRD's
// "(1,0,0) (0,1,0)" and '"x" "y"' come apart as one token an axis.
std::vector<std::string> Tokens(const std::string& text)
{
    std::vector<std::string> tokens;
    std::string token;
    bool quoted = false;
    int depth = 0;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '(') {
            ++depth;
        } else if (!quoted && c == ')') {
            depth = std::max(0, depth - 1);
        }
        if (!quoted && depth == 0 && (c == ' ' || c == '\t' || c == '\r')) {
            if (!token.empty()) {
                tokens.push_back(token);
            }
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty()) {
        tokens.push_back(token);
    }
    return tokens;
}

std::string Join(const std::vector<std::string>& tokens)
{
    std::string text;
    for (const std::string& t : tokens) {
        text += (text.empty() ? "" : " ") + t;
    }
    return text;
}

std::string ReadHead(const std::string& path, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(limit, '\0');
    in.read(head.data(), std::streamsize(limit));
    head.resize(size_t(std::max<std::streamsize>(in.gcount(), 0)));
    return head;
}

uintmax_t FileSize(const std::string& path)
{
    std::error_code code;
    const uintmax_t size = fs::file_size(path, code);
    return code ? 0 : size;
}

std::string EndsEarly(uint64_t needed, uint64_t available)
{
    return "is truncated: its samples need " + std::to_string(needed) + " bytes, the file holds " +
           std::to_string(available);
}

std::string Sizes(const std::vector<uint64_t>& sizes)
{
    std::string text;
    for (size_t d = 0; d < std::min<size_t>(sizes.size(), 3); ++d) {
        text += (d ? " x " : "") + std::to_string(sizes[d]);
    }
    return text;
}

// The samples of sizes (at most 2^31 each) of the given bytes, or nothing
// when the product overflows.
std::optional<uint64_t> SampleBytes(const std::vector<uint64_t>& sizes, uint64_t bytes)
{
    unsigned __int128 total = bytes;
    for (const uint64_t s : sizes) {
        total *= s;
        if (total > (unsigned __int128)(UINT64_MAX / 16)) {
            return std::nullopt;
        }
    }
    return uint64_t(total);
}

// A read holds the samples as stored and as floats in the reader, and the
// floats again in the caller.
bool FitsMemory(const std::vector<uint64_t>& sizes, uint64_t bytes, uint64_t limit, std::string& error)
{
    const auto stored = SampleBytes(sizes, bytes);
    const auto floats = SampleBytes(sizes, 8);
    if (!stored || !floats || *stored + *floats > limit) {
        error = "is " + Sizes(sizes) + " voxels, more than the memory holds (" +
                (stored && floats ? std::to_string(*stored + *floats) + " bytes needed, " : std::string()) +
                std::to_string(limit) + " available)";
        return false;
    }
    return true;
}

bool AxesFit(const std::vector<uint64_t>& sizes, std::string& error)
{
    for (size_t d = 0; d < std::min<size_t>(sizes.size(), 3); ++d) {
        if (sizes[d] > maxAxis) {
            error = "is " + Sizes(sizes) + " voxels; a .dat file holds at most 65535 along each axis";
            return false;
        }
    }
    return true;
}

bool MakeFolder(HeaderCheck& check, std::string& error)
{
    std::string pattern = (fs::temp_directory_path() / "volren-header-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        error = "cannot write a corrected copy of its header: " + std::string(std::strerror(errno));
        return false;
    }
    check.folder = pattern;
    return true;
}

bool WriteText(const std::string& path, const std::string& text, std::string& error)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write a corrected copy of its header";
        return false;
    }
    return true;
}

// A data file's name as the corrected header in another folder must give it:
// absolute, and for a name pattern with its folder's '%' doubled.
std::string Absolute(const fs::path& folder, const std::string& name, bool pattern)
{
    if (!name.empty() && name.front() == '/') {
        return name;
    }
    std::string prefix = (folder / "").string();
    if (pattern) {
        std::string escaped;
        for (const char c : prefix) {
            escaped += c == '%' ? std::string("%%") : std::string(1, c);
        }
        prefix = escaped;
    }
    return prefix + name;
}

// ---- NIfTI ----

struct NiftiType {
    short code;
    int bytes;
    int values;  // 0: cannot be imported at all
};

std::optional<NiftiType> NiftiTypeOf(short code)
{
    static const NiftiType types[] = {{2, 1, 1},    {4, 2, 1},     {8, 4, 1},     {16, 4, 1},   {64, 8, 1}, {256, 1, 1},
                                      {512, 2, 1},  {768, 4, 1},   {1024, 8, 1},  {1280, 8, 1}, {32, 8, 2}, {128, 3, 3},
                                      {2304, 4, 4}, {1792, 16, 2}, {1536, 16, 0}, {2048, 32, 0}};
    for (const NiftiType& t : types) {
        if (t.code == code) {
            return t;
        }
    }
    return std::nullopt;
}

bool Finite(const float* values, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i]) || std::abs(values[i]) > 1e9f) {
            return false;
        }
    }
    return true;
}

bool OrientationUsable(const nifti_1_header& h)
{
    if (h.qform_code > 0) {
        const float q[6] = {h.quatern_b, h.quatern_c, h.quatern_d, h.qoffset_x, h.qoffset_y, h.qoffset_z};
        if (!Finite(q, 6) || !std::isfinite(h.pixdim[0]) ||
            double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] > 1.0001) {
            return false;
        }
    }
    if (h.sform_code > 0) {
        if (!Finite(h.srow_x, 4) || !Finite(h.srow_y, 4) || !Finite(h.srow_z, 4)) {
            return false;
        }
        const double a[3][3] = {{h.srow_x[0], h.srow_x[1], h.srow_x[2]},
                                {h.srow_y[0], h.srow_y[1], h.srow_y[2]},
                                {h.srow_z[0], h.srow_z[1], h.srow_z[2]}};
        const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        double scale = 0.0;
        for (const auto& row : a) {
            for (const double v : row) {
                scale = std::max(scale, std::abs(v));
            }
        }
        if (!(std::abs(det) > 1e-9 * scale * scale * scale)) {
            return false;
        }
    }
    return true;
}

// The first bytes of a file, through zlib when it is compressed.
std::string Inflated(const std::string& path, size_t limit)
{
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file) {
        return {};
    }
    std::string head(limit, '\0');
    const int got = gzread(file, head.data(), unsigned(limit));
    gzclose(file);
    head.resize(size_t(std::max(got, 0)));
    return head;
}

// A NIfTI header by its magic, or, without one, a header of the right size in a
// file whose name the image library would read as NIfTI or Analyze anyway:
// such a file must not reach it unchecked.
bool LooksLikeNifti(const std::string& head, bool niftiName)
{
    if (head.size() < 348) {
        return false;
    }
    int32_t size = 0;
    std::memcpy(&size, head.data(), 4);
    const bool sized = size == 348 || size == 0x5C010000;
    const bool magic =
        head.compare(344, 4, std::string("n+1\0", 4)) == 0 || head.compare(344, 4, std::string("ni1\0", 4)) == 0;
    return sized && (magic || niftiName);
}

bool CheckNifti(const std::string& path, const std::string& head, bool compressed, uint64_t limit, HeaderCheck& check,
                std::string& error)
{
    nifti_1_header& h = check.nifti;
    std::memcpy(&h, head.data(), sizeof h);
    if (h.sizeof_hdr != 348) {
        swap_nifti_header(&h, 1);
    }
    if (h.dim[0] < 1 || h.dim[0] > 7) {
        error = "cannot be read: its header gives " + std::to_string(h.dim[0]) + " dimensions";
        return false;
    }
    // The reader takes the grid's three sizes from dim[1] to dim[3] whatever
    // dim[0] says: a one-dimensional header with dim[3] = 0 would read as a
    // grid without samples.
    std::vector<uint64_t> sizes;
    for (int d = 1; d <= 7; ++d) {
        const bool taken = d <= h.dim[0] || d <= 3;
        if (taken && h.dim[d] < 1) {
            error = "cannot be read: its header gives a size of " + std::to_string(h.dim[d]) + " along dimension " +
                    std::to_string(d);
            return false;
        }
        sizes.push_back(taken ? uint64_t(h.dim[d]) : 1);
    }
    const auto type = NiftiTypeOf(h.datatype);
    if (!type || type->values == 0) {
        error = "has samples of NIfTI type " + std::to_string(h.datatype) + ", which cannot be imported";
        return false;
    }
    const uint64_t values = uint64_t(type->values) * sizes[4];
    if (values > 1) {
        error = "has " + std::to_string(values) +
                " values per voxel (colour, vector or complex); only scalar images can be imported";
        return false;
    }
    for (const int d : {3, 5, 6}) {
        if (sizes[size_t(d)] > 1) {
            error = "holds " + std::to_string(sizes[size_t(d)]) + " volumes along dimension " + std::to_string(d + 1) +
                    "; only a single volume can be imported";
            return false;
        }
    }
    sizes.resize(3);
    if (!AxesFit(sizes, error) || !FitsMemory(sizes, uint64_t(type->bytes), limit, error)) {
        return false;
    }
    if (!std::isfinite(h.vox_offset) || h.vox_offset < 0.0f || h.vox_offset > 1e12f) {
        error = "cannot be read: its header gives the samples' offset as " + std::to_string(h.vox_offset);
        return false;
    }
    const uint64_t needed = *SampleBytes(sizes, uint64_t(type->bytes));
    if (!compressed) {
        std::string data = path;
        if (EndsWith(path, ".hdr")) {
            data = path.substr(0, path.size() - 4) + (path.compare(path.size() - 4, 4, ".HDR") == 0 ? ".IMG" : ".img");
        }
        const uint64_t offset = uint64_t(h.vox_offset);
        const uint64_t size = FileSize(data);
        if (fs::exists(data) && size < offset + needed) {
            error = EndsEarly(needed, size < offset ? 0 : size - offset);
            return false;
        }
    }
    if (!OrientationUsable(h)) {
        check.warnings +=
            "warning: the orientation in the header is not usable (not finite or degenerate); the "
            "voxel spacing alone is used\n";
    }
    // The samples keep their stored order, so the reader needs no orientation:
    // without one, the library computes none from values it cannot trust.
    h.qform_code = 0;
    h.sform_code = 0;
    check.readPath = path;
    return true;
}

// ---- NRRD ----

struct NrrdType {
    const char* names;  // the forms a header may use, each between '|'
    uint64_t bytes;
};

std::optional<uint64_t> NrrdTypeBytes(const std::string& type)
{
    static const NrrdType types[] = {
        {"|signed char|int8|int8_t|", 1},
        {"|uchar|unsigned char|uint8|uint8_t|", 1},
        {"|short|short int|signed short|signed short int|int16|int16_t|", 2},
        {"|ushort|unsigned short|unsigned short int|uint16|uint16_t|", 2},
        {"|int|signed int|int32|int32_t|", 4},
        {"|uint|unsigned int|uint32|uint32_t|", 4},
        {"|longlong|long long|long long int|signed long long|signed long long int|int64|int64_t|", 8},
        {"|ulonglong|unsigned long long|unsigned long long int|uint64|uint64_t|", 8},
        {"|float|", 4},
        {"|double|", 8},
    };
    const std::string key = "|" + Lower(type) + "|";
    for (const NrrdType& t : types) {
        if (std::string(t.names).find(key) != std::string::npos) {
            return t.bytes;
        }
    }
    return std::nullopt;
}

struct NrrdLine {
    std::string field;  // lower case; empty for the magic, comments and key/value pairs
    std::string value;
    std::string text;
};

bool NrrdDirections(const std::vector<std::string>& tokens, std::vector<double>& lengths)
{
    for (const std::string& t : tokens) {
        if (t == "none") {
            lengths.push_back(std::nan(""));
            continue;
        }
        if (t.size() < 2 || t.front() != '(' || t.back() != ')') {
            return false;
        }
        std::string inner = t.substr(1, t.size() - 2);
        std::replace(inner.begin(), inner.end(), ',', ' ');
        double sum = 0.0;
        for (const std::string& v : Tokens(inner)) {
            const auto n = Number(v);
            if (!n || !std::isfinite(*n) || std::abs(*n) > 1e9) {
                return false;
            }
            sum += *n * *n;
        }
        if (!(sum > 0.0)) {
            return false;
        }
        lengths.push_back(std::sqrt(sum));
    }
    return true;
}

bool CheckNrrd(const std::string& path, const std::string& head, uint64_t limit, HeaderCheck& check, std::string& error)
{
    // The header ends at the first empty line; a detached header may end with the file.
    size_t end = head.find("\n\n");
    const size_t crEnd = head.find("\r\n\r\n");
    size_t headerBytes = 0;
    if (crEnd != std::string::npos && (end == std::string::npos || crEnd < end)) {
        end = crEnd;
        headerBytes = end + 4;
    } else if (end != std::string::npos) {
        headerBytes = end + 2;
    }
    if (end == std::string::npos) {
        if (FileSize(path) > head.size()) {
            error = "cannot be read: its header does not end within " + std::to_string(headLimit) + " bytes";
            return false;
        }
        end = head.size();
        headerBytes = head.size();
    }
    std::vector<NrrdLine> lines;
    size_t headerLines = 0;
    for (size_t start = 0; start < end;) {
        size_t stop = head.find('\n', start);
        stop = stop == std::string::npos || stop > end ? end : stop;
        NrrdLine line;
        line.text = head.substr(start, stop - start);
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
        }
        const auto colon = line.text.find(": ");
        if (!lines.empty() && !line.text.empty() && line.text.front() != '#' &&
            line.text.find(":=") == std::string::npos && colon != std::string::npos) {
            line.field = Lower(Trim(line.text.substr(0, colon)));
            line.value = Trim(line.text.substr(colon + 2));
        }
        lines.push_back(line);
        ++headerLines;
        start = stop + 1;
    }
    ++headerLines;  // the empty line
    const auto find = [&](const std::string& field) -> NrrdLine* {
        for (NrrdLine& l : lines) {
            if (l.field == field) {
                return &l;
            }
        }
        return nullptr;
    };
    for (const char* required : {"dimension", "sizes", "type", "encoding"}) {
        if (!find(required)) {
            error = "cannot be read: its header has no '" + std::string(required) + "' field";
            return false;
        }
    }
    const auto dimension = Integer(find("dimension")->value);
    if (!dimension || *dimension < 1 || *dimension > 16) {
        error = "cannot be read: its header gives dimension '" + find("dimension")->value + "'";
        return false;
    }
    const size_t axes = size_t(*dimension);
    std::vector<uint64_t> sizes;
    for (const std::string& t : Tokens(find("sizes")->value)) {
        const auto n = Integer(t);
        if (!n || *n < 1 || *n > (1ll << 31)) {
            error = "cannot be read: its header gives the size '" + t + "'";
            return false;
        }
        sizes.push_back(uint64_t(*n));
    }
    if (sizes.size() != axes) {
        error = "cannot be read: its header gives " + std::to_string(sizes.size()) + " sizes for " +
                std::to_string(axes) + " dimensions";
        return false;
    }
    const auto bytes = NrrdTypeBytes(find("type")->value);
    if (!bytes) {
        error = "has samples of type '" + find("type")->value + "', which cannot be imported";
        return false;
    }
    const std::string encoding = Lower(find("encoding")->value);
    static const std::string encodings = "|raw|txt|text|ascii|hex|gz|gzip|bz2|bzip2|";
    if (encodings.find("|" + encoding + "|") == std::string::npos) {
        error = "has samples in the encoding '" + encoding + "', which cannot be imported";
        return false;
    }

    // Per-axis spacings: a number, or nan for an axis without one.
    std::vector<double> spacings(axes, std::nan(""));
    NrrdLine* spacingLine = find("spacings");
    if (spacingLine) {
        const auto tokens = Tokens(spacingLine->value);
        if (tokens.size() != axes) {
            error = "cannot be read: its header gives " + std::to_string(tokens.size()) + " spacings for " +
                    std::to_string(axes) + " dimensions";
            return false;
        }
        for (size_t d = 0; d < axes; ++d) {
            const auto n = Lower(tokens[d]) == "nan" ? std::optional<double>(std::nan("")) : Number(tokens[d]);
            if (!n) {
                error = "cannot be read: its header gives the spacing '" + tokens[d] + "'";
                return false;
            }
            spacings[d] = *n;
        }
    }
    bool rewrite = false;
    std::vector<std::string> drop;
    const std::vector<std::string> spaceFields = {"space",        "space dimension",   "space units",
                                                  "space origin", "measurement frame", "space directions"};
    NrrdLine* directions = find("space directions");
    if (directions) {
        std::vector<double> lengths;
        if (!NrrdDirections(Tokens(directions->value), lengths) || lengths.size() != axes) {
            check.warnings +=
                "warning: the orientation in the header is not usable (not finite or degenerate); "
                "the voxel spacing alone is used\n";
            drop = spaceFields;
            // Without usable directions, the axes are spatial with unit spacing.
            std::fill(spacings.begin(), spacings.end(), 1.0);
            rewrite = true;
        } else {
            spacings = lengths;
        }
    } else if ((find("space") || find("space dimension")) && spacingLine) {
        check.warnings +=
            "warning: the header gives 'space' together with per-axis 'spacings', an older form; "
            "the spacings are used\n";
        drop = spaceFields;
        rewrite = true;
    }
    // An axis of one sample without a spacing (a scalar's "vector" axis) is
    // read as no axis at all.
    std::vector<bool> keep(axes, true);
    size_t kept = axes;
    for (size_t d = 0; d < axes && kept > 3; ++d) {
        if (sizes[d] == 1 && std::isnan(spacings[d])) {
            keep[d] = false;
            --kept;
            rewrite = true;
        }
    }
    std::vector<uint64_t> spatial;
    for (size_t d = 0; d < axes; ++d) {
        if (keep[d]) {
            spatial.push_back(sizes[d]);
        }
    }
    if (!FitsMemory(spatial, *bytes, limit, error)) {
        return false;
    }
    spatial.resize(std::min<size_t>(spatial.size(), 3));
    if (!AxesFit(spatial, error)) {
        return false;
    }

    const fs::path folder = fs::absolute(path).parent_path();
    NrrdLine* dataFile = find("data file");
    if (!dataFile) {
        dataFile = find("datafile");
    }
    const auto lineSkip = find("line skip") ? Integer(find("line skip")->value) : std::optional<long long>(0);
    const auto byteSkip = find("byte skip") ? Integer(find("byte skip")->value) : std::optional<long long>(0);
    if (!lineSkip || *lineSkip < 0 || !byteSkip || *byteSkip < -1) {
        error = "cannot be read: its header gives an unusable line or byte skip";
        return false;
    }
    // Raw samples in one file of known length are checked against it.
    const uint64_t needed = *SampleBytes(sizes, *bytes);
    if (encoding == "raw" && *lineSkip == 0 && *byteSkip >= 0) {
        std::optional<uint64_t> available;
        if (!dataFile) {
            const uint64_t size = FileSize(path);
            available = size < headerBytes + uint64_t(*byteSkip) ? 0 : size - headerBytes - uint64_t(*byteSkip);
        } else if (dataFile->value.find('%') == std::string::npos && dataFile->value.rfind("LIST", 0) != 0) {
            const std::string name = Absolute(folder, dataFile->value, false);
            if (fs::exists(name)) {
                const uint64_t size = FileSize(name);
                available = size < uint64_t(*byteSkip) ? 0 : size - uint64_t(*byteSkip);
            }
        }
        if (available && *available < needed) {
            error = EndsEarly(needed, *available);
            return false;
        }
    }

    check.readPath = path;
    if (!rewrite) {
        return true;
    }
    // The corrected header lies in a folder of its own, so its data files are
    // named absolutely; attached samples stay where they are, after as many
    // lines as the original header has.
    std::string text;
    bool listing = false;
    bool dataNamed = false;
    const std::vector<std::string> perAxis = {"sizes",     "spacings", "thicknesses",     "axis mins",  "axismins",
                                              "axis maxs", "axismaxs", "centers",         "centerings", "labels",
                                              "units",     "kinds",    "space directions"};
    for (size_t i = 0; i < lines.size(); ++i) {
        NrrdLine line = lines[i];
        if (listing) {
            text += Absolute(folder, Trim(line.text), false) + "\n";
            continue;
        }
        if (std::find(drop.begin(), drop.end(), line.field) != drop.end()) {
            continue;
        }
        if (line.field == "line skip" && !dataFile) {
            continue;
        }
        if (line.field == "dimension") {
            line.text = "dimension: " + std::to_string(kept);
        } else if (std::find(perAxis.begin(), perAxis.end(), line.field) != perAxis.end()) {
            const auto tokens = Tokens(line.value);
            std::vector<std::string> left;
            for (size_t d = 0; d < tokens.size(); ++d) {
                if (tokens.size() != axes || keep[d]) {
                    left.push_back(tokens[d]);
                }
            }
            line.text = line.field + ": " + Join(left);
        } else if (&lines[i] == dataFile) {
            const auto tokens = Tokens(line.value);
            if (!tokens.empty() && tokens.front() == "LIST") {
                listing = true;
            } else if (tokens.size() >= 4 && tokens.front().find('%') != std::string::npos) {
                auto pattern = tokens;
                pattern.front() = Absolute(folder, pattern.front(), true);
                line.text = "data file: " + Join(pattern);
            } else {
                line.text = "data file: " + Absolute(folder, line.value, false);
            }
            dataNamed = true;
        }
        text += line.text + "\n";
    }
    if (directions && !drop.empty() && !spacingLine) {
        std::vector<std::string> tokens;
        for (size_t d = 0; d < axes; ++d) {
            if (keep[d]) {
                tokens.push_back(std::isnan(spacings[d]) ? "nan" : std::to_string(spacings[d]));
            }
        }
        text += "spacings: " + Join(tokens) + "\n";
    }
    if (!dataNamed) {
        text += "data file: " + fs::absolute(path).string() + "\n";
        text += "line skip: " + std::to_string(headerLines + uint64_t(*lineSkip)) + "\n";
    }
    if (!MakeFolder(check, error)) {
        return false;
    }
    check.readPath = (fs::path(check.folder) / "header.nhdr").string();
    return WriteText(check.readPath, text, error);
}

// ---- MetaImage ----

std::optional<uint64_t> MetaTypeBytes(const std::string& type)
{
    struct MetaType {
        const char* name;
        uint64_t bytes;
    };
    static const MetaType types[] = {{"MET_CHAR", 1},      {"MET_UCHAR", 1},      {"MET_SHORT", 2}, {"MET_USHORT", 2},
                                     {"MET_INT", 4},       {"MET_UINT", 4},       {"MET_LONG", 4},  {"MET_ULONG", 4},
                                     {"MET_LONG_LONG", 8}, {"MET_ULONG_LONG", 8}, {"MET_FLOAT", 4}, {"MET_DOUBLE", 8}};
    for (const MetaType& t : types) {
        if (type == t.name || type == std::string(t.name) + "_ARRAY") {
            return t.bytes;
        }
    }
    return std::nullopt;
}

bool CheckMetaImage(const std::string& path, const std::string& head, uint64_t limit, HeaderCheck& check,
                    std::string& error)
{
    struct Field {
        std::string key;
        std::string value;
        std::string text;
    };
    std::vector<Field> fields;
    size_t dataStart = std::string::npos;
    std::vector<std::string> listed;
    for (size_t start = 0; start < head.size();) {
        size_t stop = head.find('\n', start);
        stop = stop == std::string::npos ? head.size() : stop;
        Field f;
        f.text = head.substr(start, stop - start);
        if (!f.text.empty() && f.text.back() == '\r') {
            f.text.pop_back();
        }
        start = stop + 1;
        const auto equals = f.text.find('=');
        if (equals == std::string::npos) {
            if (Trim(f.text).empty()) {
                continue;
            }
            error = "cannot be read: its header holds the line '" + f.text.substr(0, 60) + "'";
            return false;
        }
        f.key = Trim(f.text.substr(0, equals));
        f.value = Trim(f.text.substr(equals + 1));
        fields.push_back(f);
        if (f.key == "ElementDataFile") {
            dataStart = std::min(start, head.size());
            if (f.value.rfind("LIST", 0) == 0) {
                for (size_t s = start; s < head.size();) {
                    size_t e = head.find('\n', s);
                    e = e == std::string::npos ? head.size() : e;
                    const std::string name = Trim(head.substr(s, e - s));
                    if (!name.empty()) {
                        listed.push_back(name);
                    }
                    s = e + 1;
                }
            }
            break;
        }
    }
    const auto value = [&](const std::string& key) -> const std::string* {
        for (const Field& f : fields) {
            if (f.key == key) {
                return &f.value;
            }
        }
        return nullptr;
    };
    if (dataStart == std::string::npos) {
        error = "cannot be read: its header names no ElementDataFile";
        return false;
    }
    const std::string* dims = value("NDims");
    const auto ndims = dims ? Integer(*dims) : std::nullopt;
    if (!ndims || *ndims < 1 || *ndims > 16) {
        error = "cannot be read: its header gives NDims = " + (dims ? *dims : std::string("nothing"));
        return false;
    }
    const size_t axes = size_t(*ndims);
    const auto numbers = [&](const std::string& key, size_t count) -> std::optional<std::vector<double>> {
        const std::string* text = value(key);
        if (!text) {
            return std::vector<double>();
        }
        std::vector<double> values;
        for (const std::string& t : Tokens(*text)) {
            const auto n = Number(t);
            if (!n) {
                return std::nullopt;
            }
            values.push_back(*n);
        }
        if (values.size() != count) {
            return std::nullopt;
        }
        return values;
    };
    const auto sizeValues = numbers("DimSize", axes);
    if (!value("DimSize") || !sizeValues) {
        error = "cannot be read: its DimSize does not give " + std::to_string(axes) + " sizes";
        return false;
    }
    std::vector<uint64_t> sizes;
    for (const double s : *sizeValues) {
        if (!(s >= 1.0 && s <= double(1ll << 31)) || s != std::floor(s)) {
            error = "cannot be read: its DimSize holds the size " + FormatNumber(s);
            return false;
        }
        sizes.push_back(uint64_t(s));
    }
    const std::string* type = value("ElementType");
    const auto bytes = type ? MetaTypeBytes(*type) : std::nullopt;
    if (!bytes) {
        error = "cannot be read: its ElementType is " + (type ? "'" + *type + "'" : std::string("missing"));
        return false;
    }
    uint64_t channels = 1;
    if (const std::string* c = value("ElementNumberOfChannels")) {
        const auto n = Integer(*c);
        if (!n || *n < 1 || *n > 4096) {
            error = "cannot be read: its ElementNumberOfChannels is '" + *c + "'";
            return false;
        }
        channels = uint64_t(*n);
    }
    for (const char* key : {"ElementSpacing", "ElementSize"}) {
        if (!numbers(key, axes)) {
            error = "cannot be read: its " + std::string(key) + " does not give " + std::to_string(axes) + " numbers";
            return false;
        }
    }
    // An unusable placement or orientation is left out of the corrected header.
    std::vector<std::string> drop;
    for (const auto& [key, count] : {std::pair<const char*, size_t>{"TransformMatrix", axes * axes},
                                     {"Rotation", axes * axes},
                                     {"Orientation", axes * axes},
                                     {"Offset", axes},
                                     {"Position", axes},
                                     {"Origin", axes},
                                     {"CenterOfRotation", axes}}) {
        const auto v = numbers(key, count);
        bool usable = v.has_value();
        for (const double n : v ? *v : std::vector<double>()) {
            usable = usable && std::isfinite(n) && std::abs(n) < 1e9;
        }
        if (usable && v && !v->empty() && count == 9) {
            const auto& m = *v;
            const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                               m[2] * (m[3] * m[7] - m[4] * m[6]);
            usable = std::abs(det) > 1e-9;
        }
        if (!usable) {
            drop.push_back(key);
        }
    }
    const std::string* headerSize = value("HeaderSize");
    const auto skip = headerSize ? Integer(*headerSize) : std::optional<long long>(0);
    if (!skip || *skip < -1) {
        error = "cannot be read: its HeaderSize is '" + (headerSize ? *headerSize : std::string()) + "'";
        return false;
    }
    const std::string* compressedText = value("CompressedData");
    const bool compressed = compressedText && Lower(*compressedText) == "true";
    if (const std::string* c = value("CompressedDataSize")) {
        const auto n = Integer(*c);
        if (!n || *n < 0) {
            error = "cannot be read: its CompressedDataSize is '" + *c + "'";
            return false;
        }
    }
    std::vector<uint64_t> withChannels = sizes;
    withChannels.push_back(channels);
    if (!FitsMemory(withChannels, *bytes, limit, error)) {
        return false;
    }
    const std::vector<uint64_t> spatial(sizes.begin(), sizes.begin() + std::min<size_t>(axes, 3));
    if (!AxesFit(spatial, error)) {
        return false;
    }
    const std::string data = *value("ElementDataFile");
    const fs::path folder = fs::absolute(path).parent_path();
    const uint64_t needed = *SampleBytes(withChannels, *bytes);
    const bool pattern = data.find('%') != std::string::npos || !listed.empty();
    if (!compressed && !pattern && *skip >= 0) {
        const bool local = data == "LOCAL";
        const std::string file = local ? path : Absolute(folder, data, false);
        const uint64_t start = local ? dataStart : uint64_t(*skip);
        if (local || fs::exists(file)) {
            const uint64_t size = FileSize(file);
            const uint64_t available = size < start ? 0 : size - start;
            if (available < needed) {
                error = EndsEarly(needed, available);
                return false;
            }
        }
    }

    check.readPath = path;
    if (drop.empty()) {
        return true;
    }
    check.warnings +=
        "warning: the orientation or position in the header is not usable (not finite or "
        "degenerate); the voxel spacing alone is used\n";
    if (!MakeFolder(check, error)) {
        return false;
    }
    std::string text;
    for (const Field& f : fields) {
        if (std::find(drop.begin(), drop.end(), f.key) != drop.end()) {
            continue;
        }
        if (f.key != "ElementDataFile") {
            text += f.text + "\n";
        }
    }
    check.readPath = (fs::path(check.folder) / "header.mha").string();
    if (data != "LOCAL") {
        text += "ElementDataFile = " + Absolute(folder, data, data.find('%') != std::string::npos) + "\n";
        for (const std::string& name : listed) {
            text += Absolute(folder, name, false) + "\n";
        }
        return WriteText(check.readPath, text, error);
    }
    // Samples in the header's own file are copied after the corrected header.
    text += "ElementDataFile = LOCAL\n";
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(dataStart));
    std::ofstream out(check.readPath, std::ios::binary);
    out << text << in.rdbuf();
    out.close();
    if (!out) {
        error = "cannot write a corrected copy of its header";
        return false;
    }
    return true;
}

bool LooksLikeDicomWithoutPreamble(const std::string& head)
{
    if (head.size() < 8) {
        return false;
    }
    const auto byte = [&head](size_t i) { return unsigned(uint8_t(head[i])); };
    const unsigned group = byte(0) | byte(1) << 8;
    if (group != 0x0002 && group != 0x0008) {
        return false;
    }
    const bool explicitVr = std::isupper(byte(4)) && std::isupper(byte(5));
    const uint32_t implicitLength = byte(4) | byte(5) << 8 | byte(6) << 16 | uint32_t(byte(7)) << 24;
    return explicitVr || implicitLength < (1u << 16);
}
}  // namespace

HeaderCheck::~HeaderCheck()
{
    if (!folder.empty()) {
        std::error_code code;
        fs::remove_all(folder, code);
    }
}

uint64_t PhysicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : uint64_t(1) << 32;
}

bool CheckHeader(const std::string& path, uint64_t memoryLimit, HeaderCheck& check, std::string& error)
{
    // A pipe or a device would keep the read waiting for ever.
    std::error_code code;
    if (!fs::is_regular_file(path, code)) {
        error = "is not a regular file";
        return false;
    }
    const std::string head = ReadHead(path, headLimit);
    const bool gzip = head.size() >= 2 && uint8_t(head[0]) == 0x1f && uint8_t(head[1]) == 0x8b;
    const bool niftiName = EndsWith(path, ".hdr") || EndsWith(path, ".nii");
    if (gzip) {
        const std::string inflated = Inflated(path, 352);
        if (LooksLikeNifti(inflated, EndsWith(path, ".nii.gz"))) {
            check.format = ScanFormat::Nifti;
            return CheckNifti(path, inflated, true, memoryLimit, check, error);
        }
    } else if (LooksLikeNifti(head, niftiName)) {
        check.format = ScanFormat::Nifti;
        return CheckNifti(path, head, false, memoryLimit, check, error);
    }
    if (head.rfind("NRRD000", 0) == 0) {
        check.format = ScanFormat::Nrrd;
        return CheckNrrd(path, head, memoryLimit, check, error);
    }
    if (head.size() >= 132 && head.compare(128, 4, "DICM") == 0) {
        check.format = ScanFormat::Dicom;
        check.readPath = path;
        return true;
    }
    const bool metaName = EndsWith(path, ".mha") || EndsWith(path, ".mhd");
    const bool metaText = head.rfind("ObjectType", 0) == 0 || head.rfind("NDims", 0) == 0;
    if (metaName || metaText) {
        check.format = ScanFormat::MetaImage;
        return CheckMetaImage(path, head, memoryLimit, check, error);
    }
    // A file named as NIfTI or NRRD whose header is none is damaged or
    // mislabelled: said so, rather than searched for a DICOM series.
    if (niftiName || EndsWith(path, ".nii.gz")) {
        error = "cannot be read as NIfTI: its header is not a NIfTI header";
        return false;
    }
    if (EndsWith(path, ".nrrd") || EndsWith(path, ".nhdr")) {
        error = "cannot be read as NRRD: it does not begin with a NRRD magic line";
        return false;
    }
    // Older DICOM files lack the preamble and begin with an element of the
    // identifying group (0008) or the meta group (0002), little-endian.
    if (LooksLikeDicomWithoutPreamble(head)) {
        check.format = ScanFormat::Dicom;
        check.readPath = path;
        return true;
    }
    check.format = ScanFormat::Unknown;
    check.readPath = path;
    return true;
}
