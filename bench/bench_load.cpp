// The stages of loading a volume, each on its own, on a head-sized volume of
// 256 x 256 x 113 and a larger scan of 512 x 512 x 256, with a plain read of
// the same file as the baseline. Texture stages end with glFinish, so that
// the driver's copy is counted. Stages run on all cores, as in the program.
#include <GL/glew.h>

#include "Viewer.h"
#include "VolumeRenderer.h"

#include <QGuiApplication>
#include <QWindow>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Log.h"
#include "Platform.h"
#include "TransferFunction.h"

namespace {
struct Volume {
    uint16_t dimX, dimY, dimZ;
    std::string path;
    std::unique_ptr<VolumeRenderer> renderer;
    std::vector<uint32_t> colors;
};

Display* display = nullptr;
// The engine's start-up transfer function.
TransferFunction* transferFunction = nullptr;
Volume volumes[2] = {{256, 256, 113, {}, {}, {}}, {512, 512, 256, {}, {}, {}}};

// A ball of soft tissue in a bony shell, with some noise, like a scan.
void WriteVolume(const Volume& v)
{
    std::vector<uint16_t> samples(3 + size_t(v.dimX) * v.dimY * v.dimZ);
    samples[0] = v.dimX;
    samples[1] = v.dimY;
    samples[2] = v.dimZ;
    size_t i = 3;
    for (uint32_t z = 0; z < v.dimZ; ++z) {
        for (uint32_t y = 0; y < v.dimY; ++y) {
            for (uint32_t x = 0; x < v.dimX; ++x) {
                const double u = 2.0 * x / v.dimX - 1.0, w = 2.0 * y / v.dimY - 1.0, t = 2.0 * z / v.dimZ - 1.0;
                const double r = std::sqrt(u * u + w * w + t * t);
                const uint32_t noise = (x * 73856093u ^ y * 19349663u ^ z * 83492791u) % 31;
                samples[i++] = uint16_t(r > 0.95 ? 0 : (r > 0.85 ? 3000 : 1040) + noise);
            }
        }
    }
    FILE* file = std::fopen(v.path.c_str(), "wb");
    std::fwrite(samples.data(), sizeof(uint16_t), samples.size(), file);
    std::fclose(file);
}

uint64_t Padded(const Volume& v)
{
    const VolumeRenderer& r = *v.renderer;
    return uint64_t(r.texDimX) * r.texDimY * r.texDimZ;
}

void ReadFileBaseline(benchmark::State& state, int index)
{
    const Volume& v = volumes[index];
    const size_t bytes = 6 + 2 * size_t(v.dimX) * v.dimY * v.dimZ;
    std::vector<char> buffer(bytes);
    for (auto _ : state) {
        FILE* file = std::fopen(v.path.c_str(), "rb");
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, bytes, file));
        std::fclose(file);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

void ReadIntoGrid(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    for (auto _ : state) {
        v.renderer->ReadDensities(v.path.c_str());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * (6 + 2 * uint64_t(v.dimX) * v.dimY * v.dimZ)));
}

void Histogram(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    for (auto _ : state) {
        v.renderer->ComputeHistogram();
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

// The gradient vectors as the load computes them: half floats, slab by slab,
// on all cores; nothing is uploaded.
void Gradients(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    const VolumeRenderer& r = *v.renderer;
    for (auto _ : state) {
        uint64_t sum = 0;
        r.ComputeGradientSlabs(0, [&sum](uint32_t, uint32_t, const uint16_t* halves) { sum += halves[0]; });
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

void PreClassification(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    for (auto _ : state) {
        transferFunction->Classify(v.colors.data(), v.renderer->densities, Padded(v));
        benchmark::DoNotOptimize(v.colors.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

// What the table replaces: one evaluation of the transfer function per voxel.
void PreClassificationPerVoxel(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    const uint64_t count = Padded(v);
    for (auto _ : state) {
        for (uint64_t i = 0; i < count; ++i) {
            v.colors[i] = transferFunction->Evaluate(v.renderer->densities[i]).Packed();
        }
        benchmark::DoNotOptimize(v.colors.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations() * count));
}

// The whole step: texture allocation, gradients and slab uploads.
void GradientTexture(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    for (auto _ : state) {
        v.renderer->BuildGradientTexture();
        glFinish();
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

void LookupTexture(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    for (auto _ : state) {
        v.renderer->BuildTransferTexture();
        glFinish();
    }
}

void BuildSliceStacks(benchmark::State& state, int index, uint8_t classification)
{
    Volume& v = volumes[index];
    v.renderer->classification = classification;
    for (auto _ : state) {
        v.renderer->RebuildSliceStacks();
        glFinish();
    }
    v.renderer->DeleteSliceTextures();
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

void BuildVolumeTexture(benchmark::State& state, int index, uint8_t classification)
{
    Volume& v = volumes[index];
    v.renderer->classification = classification;
    for (auto _ : state) {
        // Each iteration uploads, as the first build after a load does.
        v.renderer->volumeTextureHoldsDensities = false;
        v.renderer->RebuildVolumeTexture();
        glFinish();
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

// An edit of the transfer function under "Volume Texture" with
// pre-classification: the lookup texture and the classified 3D texture.
void TransferFunctionChange(benchmark::State& state, int index)
{
    Volume& v = volumes[index];
    const uint8_t method = v.renderer->renderMethod;
    v.renderer->renderMethod = VolumeRenderer::VolumeTexture;
    v.renderer->classification = VolumeRenderer::PreClassification;
    for (auto _ : state) {
        v.renderer->UpdateTransferFunction();
        glFinish();
    }
    v.renderer->renderMethod = method;
    state.SetItemsProcessed(int64_t(state.iterations() * Padded(v)));
}

void SliceTextures(benchmark::State& state, int index)
{
    BuildSliceStacks(state, index, VolumeRenderer::NoClassification);
}

void ClassifiedSliceTextures(benchmark::State& state, int index)
{
    BuildSliceStacks(state, index, VolumeRenderer::PreClassification);
}

void VolumeTexture(benchmark::State& state, int index)
{
    BuildVolumeTexture(state, index, VolumeRenderer::NoClassification);
}

void ClassifiedVolumeTexture(benchmark::State& state, int index)
{
    BuildVolumeTexture(state, index, VolumeRenderer::PreClassification);
}

#define VOLUME_BENCHMARKS(name)                                             \
    BENCHMARK_CAPTURE(name, 256x256x113, 0)->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(name, 512x512x256, 1)->Unit(benchmark::kMillisecond)

VOLUME_BENCHMARKS(ReadFileBaseline);
VOLUME_BENCHMARKS(ReadIntoGrid);
VOLUME_BENCHMARKS(Histogram);
VOLUME_BENCHMARKS(Gradients);
VOLUME_BENCHMARKS(PreClassification);
BENCHMARK_CAPTURE(PreClassificationPerVoxel, 256x256x113, 0)->Unit(benchmark::kMillisecond);
VOLUME_BENCHMARKS(GradientTexture);
VOLUME_BENCHMARKS(LookupTexture);
VOLUME_BENCHMARKS(SliceTextures);
VOLUME_BENCHMARKS(ClassifiedSliceTextures);
VOLUME_BENCHMARKS(VolumeTexture);
VOLUME_BENCHMARKS(ClassifiedVolumeTexture);
VOLUME_BENCHMARKS(TransferFunctionChange);
}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    PreparePlatform();
    QGuiApplication application(argc, argv);
    LogOpen();
    QWindow window;
    window.resize(64, 64);
    // The engine's start-up: context, GLEW, the start-up transfer function.
    Viewer viewer;
    viewer.Start(&window, QByteArray());
    window.show();
    display = &viewer.display;
    transferFunction = &viewer.transferFunction;

    char folder[] = "/tmp/volren-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        return 1;
    }
    for (Volume& v : volumes) {
        v.path = std::string(folder) + "/" + std::to_string(v.dimX) + "x" + std::to_string(v.dimY) + "x" +
                 std::to_string(v.dimZ) + ".dat";
        WriteVolume(v);
        v.renderer = std::make_unique<VolumeRenderer>(display, "", transferFunction);
        // The stages work on the grid in memory, which the ray caster of a
        // volume without a gradient texture never holds: it streams the file
        // into its density texture.
        v.renderer->renderMethod = VolumeRenderer::VolumeTexture;
        if (!v.renderer->ReadDensities(v.path.c_str())) {
            return 1;
        }
        v.renderer->ComputeHistogram();
        v.colors.resize(Padded(v));
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (Volume& v : volumes) {
        v.renderer.reset();
        std::remove(v.path.c_str());
    }
    rmdir(folder);
    viewer.Stop();
    LogClose();
    return 0;
}
