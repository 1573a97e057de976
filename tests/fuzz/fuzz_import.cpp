// libFuzzer target over the whole import: the first byte picks the input's
// file name (and so what its name tells the readers), the rest is the file.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzNames.h"
#include "Importer.h"

namespace {
const std::string& Folder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "volren-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    static std::FILE* out = std::fopen("/dev/null", "w");
    ImportOptions options;
    options.input = Folder() + "/" + FuzzInputName(data[0]);
    options.output = Folder() + "/out.dat";
    options.maxSize = 64;
    // Sizes claimed by a small input are refused quickly instead of read.
    options.memoryLimit = uint64_t(256) << 20;
    {
        std::ofstream file(options.input, std::ios::binary);
        file.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    }
    std::string error;
    Import(options, out, error);
    // A reader that crashed or hung in its own process ended nothing here,
    // but its input belongs in the regression set as well. The reader built
    // with the sanitizers reports a fault and exits 1 instead of a signal.
    static const char* kept = std::getenv("VOLREN_FUZZ_READER_ENDINGS");
    // The cause follows the file's name and the format it was read as; a
    // quoted header line may hold the same words anywhere else.
    std::string cause = error.substr(std::min(error.size(), options.input.size() + 2));
    const std::string format = "cannot be read as ";
    if (cause.rfind(format, 0) == 0 && cause.find(": ") != std::string::npos) {
        cause.erase(0, cause.find(": ") + 2);
    }
    bool ended = false;
    for (const char* ending : {"the reader stopped on a damaged file", "the reader did not finish within",
                               "the reader stopped making progress", "the reader ended without a result"}) {
        ended = ended || cause.rfind(ending, 0) == 0;
    }
    if (kept && ended) {
        std::ofstream copy(
            std::string(kept) + "/reader-" +
                std::to_string(std::hash<std::string>()(std::string(reinterpret_cast<const char*>(data), size))),
            std::ios::binary);
        copy.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    std::error_code code;
    std::filesystem::remove(options.input, code);
    std::filesystem::remove(options.output, code);
    return 0;
}
