// Writes the sample volumes into the folder given on the command line:
//   head256.dat  a CT-like head phantom of 208 x 244 x 256 samples, cubic voxels
//   small64.dat  a 64 x 64 x 64 sphere phantom for quick looks
//   head.tf      a transfer function that shows the head's skin and bone
//   ct.tf        a transfer function for real CT scans imported by volren-import
//   mri.tf       a transfer function for real T1-weighted MRI heads, likewise
//   vessels256.dat  a tree of contrast-filled vessels, down to half a voxel
//                thin, in soft tissue, 256 x 256 x 256 samples
//   vessels.tf   a transfer function that shows the vessels only
// With --large it writes only head512.dat, the head phantom on a grid of
// 512 x 512 x 256 samples, for the benchmarks; with --huge only
// head1024.dat, the same on 1024 x 1024 x 512 samples (1 GiB).
// The output is the same on every run and every machine: no clock, no
// library random numbers, little-endian bytes written explicitly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TransferFunction.h"

namespace {
// Densities of the phantoms, on the 12-bit scale of the volume files.
constexpr double air = 0.0;
constexpr double skin = 930.0;
constexpr double fat = 900.0;
constexpr double softTissue = 1040.0;
constexpr double brain = 1070.0;
constexpr double fluid = 1010.0;
constexpr double eye = 1020.0;
constexpr double lens = 1100.0;
constexpr double boneEdge = 2300.0;
constexpr double bonePeak = 3500.0;

// Small reproducible noise in [-1, 1] from the voxel's coordinates.
double Noise(uint32_t x, uint32_t y, uint32_t z)
{
    uint32_t h = x * 73856093u ^ y * 19349663u ^ z * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return double(h & 0xFFFFu) / 32767.5 - 1.0;
}

// Squared distance in units of the radii of an axis-aligned ellipsoid.
double Ellipsoid(double x, double y, double z, double cx, double cy, double cz, double rx, double ry, double rz)
{
    const double dx = (x - cx) / rx, dy = (y - cy) / ry, dz = (z - cz) / rz;
    return dx * dx + dy * dy + dz * dz;
}

// Bone rises from its edges to its peak in the middle of the shell.
double Bone(double t) { return boneEdge + (bonePeak - boneEdge) * (1.0 - std::fabs(2.0 * t - 1.0)); }

// The head in coordinates of about -1 to 1 on each axis: x left to right, y
// back to front (the face at +y), z from the neck to the crown.
double Head(double x, double y, double z)
{
    // Outer surface; the neck below z = -0.55 narrows the head.
    const double neck = z < -0.55 ? 1.0 - 0.9 * (-0.55 - z) : 1.0;
    const double r = std::sqrt(Ellipsoid(x, y, z, 0.0, 0.0, -0.02, 0.78 * neck, 0.92 * neck, 0.97));
    if (r > 1.0) {
        return air;
    }
    // Eyes, with their lenses, sit in front of the skull.
    for (double side : {-0.3, 0.3}) {
        const double e = Ellipsoid(x, y, z, side, 0.72, -0.1, 0.13, 0.13, 0.13);
        if (e <= 1.0) {
            return Ellipsoid(x, y, z, side, 0.83, -0.1, 0.05, 0.02, 0.05) <= 1.0 ? lens : eye;
        }
    }
    if (r > 0.97) {
        return skin;
    }
    if (r > 0.93) {
        return y > 0.0 ? fat : softTissue;
    }
    if (r > 0.85) {
        return Bone((r - 0.85) / 0.08);
    }
    // Nasal cavity: air behind the face, below the brain.
    if (Ellipsoid(x, y, z, 0.0, 0.62, -0.45, 0.1, 0.22, 0.2) <= 1.0) {
        return air;
    }
    // Two lateral ventricles filled with fluid, and a small calcification.
    if (Ellipsoid(x, y, z, -0.15, 0.0, 0.2, 0.09, 0.35, 0.12) <= 1.0 ||
        Ellipsoid(x, y, z, 0.15, 0.0, 0.2, 0.09, 0.35, 0.12) <= 1.0) {
        return fluid;
    }
    if (Ellipsoid(x, y, z, 0.0, -0.25, 0.15, 0.04, 0.04, 0.04) <= 1.0) {
        return 2000.0;
    }
    // Skull base: a bony plate across the lower head.
    if (z > -0.42 && z < -0.34 && r < 0.85) {
        return Bone((z + 0.42) / 0.08);
    }
    // Grey matter near the skull, white matter inside.
    return r > 0.75 ? brain + 15.0 : brain - 20.0;
}

// A soft-tissue ball with a bony shell around a dense core.
double Ball(double x, double y, double z)
{
    const double r = std::sqrt(x * x + y * y + z * z);
    if (r > 0.9) {
        return air;
    }
    if (r > 0.75) {
        return Bone((r - 0.75) / 0.15);
    }
    if (r < 0.25) {
        return 3000.0 - 2000.0 * r / 0.25;
    }
    return softTissue;
}

template <typename Shape>
// extent: the samples that span -1 to 1 along every axis, so that the shape
// keeps its proportions on a grid of any sizes (cubic voxels); 0 stretches
// -1 to 1 over each axis's own samples.
bool WriteVolume(const std::string& path, uint32_t dimX, uint32_t dimY, uint32_t dimZ, double noise, Shape shape,
                 uint32_t extent = 0)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(6 + 2 * size_t(dimX) * dimY * dimZ);
    auto put = [&bytes](uint32_t v) {
        bytes.push_back(uint8_t(v & 0xFF));
        bytes.push_back(uint8_t(v >> 8));
    };
    put(dimX);
    put(dimY);
    put(dimZ);
    for (uint32_t z = 0; z < dimZ; ++z) {
        for (uint32_t y = 0; y < dimY; ++y) {
            for (uint32_t x = 0; x < dimX; ++x) {
                // Voxel centres, the grid's centre at 0.
                const double u = (2.0 * x + 1.0 - dimX) / (extent ? extent : dimX);
                const double v = (2.0 * y + 1.0 - dimY) / (extent ? extent : dimY);
                const double w = (2.0 * z + 1.0 - dimZ) / (extent ? extent : dimZ);
                double value = shape(u, v, w);
                if (value > 0.0) {
                    value += noise * Noise(x, y, z);
                }
                value = std::round(value);
                put(uint32_t(value < 0.0 ? 0.0 : (value > 4096.0 ? 4096.0 : value)));
            }
        }
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "volren-samples: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}
struct ControlPoint {
    uint32_t position;
    uint8_t red, green, blue, alpha;
};

bool WriteTransferFunction(const std::string& path, const std::vector<ControlPoint>& points)
{
    TransferFunction tf;
    for (const ControlPoint& p : points) {
        tf.AddSample(0, p.red, p.position);
        tf.AddSample(1, p.green, p.position);
        tf.AddSample(2, p.blue, p.position);
        tf.AddSample(3, p.alpha, p.position);
    }
    return tf.Save(path.c_str());
}

// For the head phantom: air and fluid clear, skin a faint veil, soft tissue a
// light pink haze, bone opaque ivory.
const std::vector<ControlPoint> headPoints = {{0, 0, 0, 0, 0},
                                              {880, 90, 60, 50, 0},
                                              {960, 200, 140, 120, 6},
                                              {1030, 230, 170, 150, 3},
                                              {1100, 240, 190, 170, 1},
                                              {1500, 240, 200, 180, 0},
                                              {2000, 250, 235, 210, 90},
                                              {3000, 255, 250, 235, 200},
                                              {4096, 255, 255, 255, 230},
                                              {20000, 255, 255, 255, 230}};

// For real CT imported as Hounsfield units + 1024: the air-skin boundary a
// faint veil, soft tissue and fluid clear, bone from about +250 HU opaque.
const std::vector<ControlPoint> ctPoints = {{0, 0, 0, 0, 0},
                                            {500, 0, 0, 0, 0},
                                            {700, 200, 140, 110, 6},
                                            {900, 230, 170, 140, 10},
                                            {980, 230, 175, 150, 3},
                                            {1040, 230, 180, 160, 0},
                                            {1200, 240, 220, 200, 0},
                                            {1350, 250, 240, 220, 80},
                                            {1550, 255, 248, 230, 220},
                                            {2500, 255, 252, 240, 250},
                                            {4096, 255, 255, 255, 255},
                                            {20000, 255, 255, 255, 255}};

// For a T1-weighted MRI head scaled to 0..4096: background and fluid clear,
// scalp a faint veil, grey matter a light haze, white matter nearly opaque,
// fat only tinted, so that the brain shows through the scalp.
const std::vector<ControlPoint> mriPoints = {
    {0, 0, 0, 0, 0},          {350, 0, 0, 0, 0},         {550, 200, 150, 130, 2},    {900, 210, 160, 140, 1},
    {1150, 225, 175, 155, 3}, {1450, 240, 195, 175, 25}, {1700, 250, 225, 200, 110}, {1900, 252, 235, 215, 140},
    {2050, 240, 205, 160, 8}, {2600, 240, 205, 160, 12}, {4096, 250, 225, 180, 20},  {20000, 250, 225, 180, 20}};
// A vessel tree in voxel coordinates: each segment a capsule of its radius.
struct Segment {
    double a[3], b[3], radius;
};

void Branch(std::vector<Segment>& tree, const double start[3], const double direction[3], double length, double radius,
            int depth, uint32_t seed)
{
    Segment s{{start[0], start[1], start[2]}, {}, radius};
    for (int i = 0; i < 3; ++i) {
        s.b[i] = start[i] + direction[i] * length;
    }
    tree.push_back(s);
    if (depth == 0) {
        return;
    }
    // Two children turn away from the parent's direction to either side of a
    // plane that turns with the seed.
    const double spin = 3.0 * Noise(seed, uint32_t(depth), 1u);
    double side[3] = {std::cos(spin), std::sin(spin), 0.3 * Noise(seed, 2u, uint32_t(depth))};
    // Remove the part along the direction, then normalise.
    const double along = side[0] * direction[0] + side[1] * direction[1] + side[2] * direction[2];
    double norm = 0.0;
    for (int i = 0; i < 3; ++i) {
        side[i] -= along * direction[i];
        norm += side[i] * side[i];
    }
    norm = std::sqrt(norm);
    for (int child = 0; child < 2; ++child) {
        const double angle = (child == 0 ? 0.55 : -0.45) + 0.15 * Noise(seed, uint32_t(child), 3u);
        double turned[3];
        for (int i = 0; i < 3; ++i) {
            turned[i] = direction[i] * std::cos(angle) + side[i] / norm * std::sin(angle);
        }
        Branch(tree, s.b, turned, length * 0.78, radius * 0.7, depth - 1, seed * 2u + uint32_t(child) + 1u);
    }
}

bool WriteVessels(const std::string& path)
{
    constexpr uint32_t n = 256;
    std::vector<std::vector<Segment>> trees(3);
    const double roots[3][3] = {{128, 128, 8}, {40, 200, 20}, {210, 60, 30}};
    const double up[3][3] = {{0, 0, 1}, {0.5, -0.5, 0.7}, {-0.5, 0.4, 0.75}};
    std::vector<float> field(size_t(n) * n * n, 0.0f);
    for (int t = 0; t < 3; ++t) {
        double direction[3];
        const double norm = std::sqrt(up[t][0] * up[t][0] + up[t][1] * up[t][1] + up[t][2] * up[t][2]);
        for (int i = 0; i < 3; ++i) {
            direction[i] = up[t][i] / norm;
        }
        Branch(trees[t], roots[t], direction, t == 0 ? 70.0 : 50.0, t == 0 ? 5.0 : 3.5, 7, uint32_t(t + 1));
        for (const Segment& s : trees[t]) {
            int lo[3], hi[3];
            for (int i = 0; i < 3; ++i) {
                lo[i] = std::max(0, int(std::floor(std::min(s.a[i], s.b[i]) - s.radius - 2)));
                hi[i] = std::min(int(n) - 1, int(std::ceil(std::max(s.a[i], s.b[i]) + s.radius + 2)));
            }
            const double d[3] = {s.b[0] - s.a[0], s.b[1] - s.a[1], s.b[2] - s.a[2]};
            const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            for (int z = lo[2]; z <= hi[2]; ++z) {
                for (int y = lo[1]; y <= hi[1]; ++y) {
                    for (int x = lo[0]; x <= hi[0]; ++x) {
                        const double p[3] = {x + 0.5 - s.a[0], y + 0.5 - s.a[1], z + 0.5 - s.a[2]};
                        const double u =
                            dd > 0.0 ? std::clamp((p[0] * d[0] + p[1] * d[1] + p[2] * d[2]) / dd, 0.0, 1.0) : 0.0;
                        const double q[3] = {p[0] - u * d[0], p[1] - u * d[1], p[2] - u * d[2]};
                        const double distance = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
                        // Full contrast inside, falling off over one voxel.
                        const float value = float(2400.0 * std::clamp(s.radius + 0.5 - distance, 0.0, 1.0));
                        float& f = field[x + size_t(n) * (y + size_t(n) * z)];
                        f = std::max(f, value);
                    }
                }
            }
        }
    }
    return WriteVolume(path, n, n, n, 10.0, [&](double u, double v, double w) {
        const uint32_t x = uint32_t((u + 1.0) * n / 2.0), y = uint32_t((v + 1.0) * n / 2.0),
                       z = uint32_t((w + 1.0) * n / 2.0);
        const double vessel = field[x + size_t(n) * (y + size_t(n) * z)];
        const double tissue = u * u + v * v + w * w < 0.9 ? softTissue - 40.0 : air;
        return std::max(vessel, tissue);
    });
}

// Vessels red to white by their contrast; tissue and air clear.
const std::vector<ControlPoint> vesselPoints = {{0, 0, 0, 0, 0},
                                                {1300, 200, 40, 30, 0},
                                                {1800, 230, 90, 70, 120},
                                                {2400, 255, 210, 190, 255},
                                                {4096, 255, 255, 255, 255}};

// The presets. CT presets are written in densities of the import's CT rule,
// Hounsfield units + 1024; the others on an axis from 0 to 4095 that the
// program stretches over the opened volume's 0.1 to 99.9 percentiles.
struct PresetFile {
    const char* name;
    bool percentiles;
    bool maximumIntensity;
    std::vector<ControlPoint> points;
};

constexpr uint32_t Hu(int hounsfield) { return uint32_t(hounsfield + 1024); }

const std::vector<PresetFile> presets = {
    {"CT bone",
     false,
     false,
     {{0, 0, 0, 0, 0},
      {Hu(100), 230, 200, 170, 0},
      {Hu(200), 240, 215, 185, 40},
      {Hu(500), 250, 240, 220, 230},
      {4096, 255, 255, 255, 255}}},
    {"CT skin and bone",
     false,
     false,
     {{0, 0, 0, 0, 0},
      {Hu(-520), 0, 0, 0, 0},
      {Hu(-320), 210, 150, 120, 8},
      {Hu(-70), 220, 160, 130, 12},
      {Hu(80), 225, 170, 140, 0},
      {Hu(180), 240, 220, 200, 0},
      {Hu(330), 250, 240, 220, 120},
      {Hu(580), 255, 250, 235, 240},
      {4096, 255, 255, 255, 255}}},
    {"CT soft tissue",
     false,
     false,
     {{0, 0, 0, 0, 0},
      {Hu(-180), 0, 0, 0, 0},
      {Hu(-100), 230, 200, 120, 12},
      {Hu(20), 200, 80, 70, 40},
      {Hu(100), 230, 130, 110, 90},
      {Hu(250), 240, 220, 200, 150},
      {Hu(600), 250, 245, 230, 220},
      {4096, 255, 255, 255, 255}}},
    {"CT lung",
     false,
     false,
     {{0, 0, 0, 0, 0},
      {Hu(-950), 0, 0, 0, 0},
      {Hu(-850), 190, 110, 90, 20},
      {Hu(-600), 220, 150, 130, 60},
      {Hu(-420), 220, 150, 130, 0},
      {4096, 0, 0, 0, 0}}},
    {"CT vessels with contrast",
     false,
     false,
     {{0, 0, 0, 0, 0},
      {Hu(100), 0, 0, 0, 0},
      {Hu(150), 200, 40, 30, 0},
      {Hu(220), 220, 50, 40, 200},
      {Hu(400), 240, 80, 60, 255},
      {Hu(500), 240, 230, 220, 60},
      {4096, 255, 255, 255, 80}}},
    {"CT maximum intensity",
     false,
     true,
     {{0, 0, 0, 0, 0}, {Hu(-200), 0, 0, 0, 0}, {Hu(1000), 255, 255, 255, 255}, {4096, 255, 255, 255, 255}}},
    {"MR default",
     true,
     false,
     {{0, 0, 0, 0, 0},
      {400, 0, 0, 0, 0},
      {1200, 200, 150, 130, 10},
      {2500, 240, 200, 180, 60},
      {4095, 255, 240, 220, 200}}},
    {"MR brain",
     true,
     false,
     {{0, 0, 0, 0, 0},
      {800, 0, 0, 0, 0},
      {1500, 180, 140, 120, 5},
      {2200, 230, 180, 160, 40},
      {3000, 250, 230, 210, 150},
      {4095, 255, 250, 240, 200}}},
    {"MR maximum intensity", true, true, {{0, 0, 0, 0, 0}, {400, 0, 0, 0, 0}, {4095, 255, 255, 255, 255}}},
    {"Greyscale",
     true,
     false,
     {{0, 0, 0, 0, 0}, {1024, 64, 64, 64, 4}, {2048, 128, 128, 128, 32}, {4095, 255, 255, 255, 255}}},
};

// Each preset's .tf file and the index that gives their order and how each
// is applied.
bool WritePresets(const std::string& folder)
{
    std::string index = "# The presets in their order: how each is fitted and blended.\n";
    for (const PresetFile& preset : presets) {
        if (!WriteTransferFunction(folder + preset.name + ".tf", preset.points)) {
            return false;
        }
        index += std::string("[") + preset.name + "]\nfit=" + (preset.percentiles ? "percentiles" : "hounsfield") +
                 "\nblend=" + (preset.maximumIntensity ? "maximum" : "composite") + "\n";
    }
    FILE* file = std::fopen((folder + "presets.ini").c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "volren-samples: cannot write %spresets.ini\n", folder.c_str());
        return false;
    }
    const bool ok = std::fwrite(index.data(), 1, index.size(), file) == index.size();
    return std::fclose(file) == 0 && ok;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--presets") {
        return WritePresets(std::string(argv[2]) + "/") ? 0 : 1;
    }
    const bool large = argc == 3 && std::string(argv[1]) == "--large";
    const bool huge = argc == 3 && std::string(argv[1]) == "--huge";
    if (argc != 2 && !large && !huge) {
        std::fprintf(stderr, "usage: volren-samples [--large | --huge | --presets] <output folder>\n");
        return 2;
    }
    const std::string folder = std::string(argv[argc - 1]) + "/";
    if (large) {
        return WriteVolume(folder + "head512.dat", 512, 512, 256, 12.0, Head) ? 0 : 1;
    }
    if (huge) {
        return WriteVolume(folder + "head1024.dat", 1024, 1024, 512, 12.0, Head) ? 0 : 1;
    }
    // The head in its own proportions: as wide, deep and tall as its
    // outline, 256 samples from the neck to the crown.
    const bool ok = WriteVolume(folder + "head256.dat", 208, 244, 256, 12.0, Head, 256) &&
                    WriteVolume(folder + "small64.dat", 64, 64, 64, 8.0, Ball) &&
                    WriteTransferFunction(folder + "head.tf", headPoints) &&
                    WriteTransferFunction(folder + "ct.tf", ctPoints) &&
                    WriteTransferFunction(folder + "mri.tf", mriPoints) && WriteVessels(folder + "vessels256.dat") &&
                    WriteTransferFunction(folder + "vessels.tf", vesselPoints);
    return ok ? 0 : 1;
}
