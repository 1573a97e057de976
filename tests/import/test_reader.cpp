// A stand-in for the reader program, started by the tests as the real one
// is, that behaves as its first argument says: sends a volume, refuses,
// crashes, aborts, hangs, or stops making progress.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>

#include "ReaderChannel.h"

namespace {
void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// Which of the caller's descriptors reached this program.
std::string Descriptors()
{
    std::string open;
    for (int fd = 0; fd < 64; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0) {
            open += (open.empty() ? "" : " ") + std::to_string(fd);
        }
    }
    return open;
}
}  // namespace

int main(int count, char** arguments)
{
    OpenReaderChannel();
    const std::string how = count > 1 ? arguments[1] : "";
    ScalarVolume v;
    SourceInfo i;
    std::string notes;
    if (how == "send") {
        v.size = {301, 7, 5};
        v.spacing = {0.5, 0.25, 3.0};
        v.samples.resize(v.Count());
        for (size_t k = 0; k < v.samples.size(); ++k) {
            v.samples[k] = float(k) * 0.5f - 7.0f;
        }
        i.description = "DICOM series 1.2.3";
        i.typeName = "int16";
        i.integerType = true;
        i.modalityCT = true;
        notes = "warning: something\n";
    } else if (how == "densities") {
        v.size = {3, 2, 2};
        const uint16_t values[] = {0, 1, 2, 3, 4, 5, 4090, 4091, 4092, 4093, 4094, 4095};
        // Through the caller's memory file, or the pipe where asked.
        v.densities.Create(12, count > 2 && std::string(arguments[2]) == "pipe" ? -1 : ReaderDensityFile());
        std::copy(std::begin(values), std::end(values), v.densities.data());
        i.valueRule = "CT: HU + 1024";
        i.hounsfield = true;
    } else if (how == "descriptors") {
        v.size = {1, 1, 1};
        v.samples = {1.0f};
        notes = Descriptors();
    } else if (how == "refuse") {
        return SendReadResult(false, v, i, notes, "is truncated") ? 0 : 1;
    } else if (how == "crash") {
        std::raise(SIGSEGV);
    } else if (how == "abort") {
        std::abort();
    } else if (how == "hang") {
        for (;;) {
            Sleep(1000);
        }
    } else if (how == "stall") {
        ReportReadProgress();
        ReportReadProgress();
        Sleep(60000);
    } else if (how == "silent") {
        Sleep(2600);
        v.size = {3, 2, 1};
        v.samples.assign(v.Count(), 1.0f);
    } else if (how == "steady") {
        for (int slice = 0; slice < 6; ++slice) {
            ReportReadProgress();
            Sleep(500);
        }
        v.size = {2, 2, 2};
        v.samples.assign(v.Count(), 2.0f);
    } else if (how == "short") {
        // Claims more samples than it sends, then ends.
        v.size = {100, 100, 100};
        v.samples.assign(10, 0.0f);
    } else {
        return 2;
    }
    return SendReadResult(true, v, i, notes, std::string()) ? 0 : 1;
}
