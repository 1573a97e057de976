#include "RawReader.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

namespace {
size_t SampleBytes(RawType type)
{
    switch (type) {
        case RawType::UInt8:
            return 1;
        case RawType::Int16:
        case RawType::UInt16:
            return 2;
        case RawType::Float32:
            return 4;
    }
    return 1;
}

float Decode(const unsigned char* bytes, RawType type, bool bigEndian)
{
    const size_t n = SampleBytes(type);
    unsigned char ordered[4];
    for (size_t i = 0; i < n; ++i) {
        const bool swap = bigEndian == (std::endian::native == std::endian::little);
        ordered[i] = bytes[swap ? n - 1 - i : i];
    }
    switch (type) {
        case RawType::UInt8:
            return ordered[0];
        case RawType::Int16: {
            int16_t v;
            std::memcpy(&v, ordered, 2);
            return v;
        }
        case RawType::UInt16: {
            uint16_t v;
            std::memcpy(&v, ordered, 2);
            return v;
        }
        case RawType::Float32: {
            float v;
            std::memcpy(&v, ordered, 4);
            return v;
        }
    }
    return 0.0f;
}

const char* RawTypeName(RawType type)
{
    switch (type) {
        case RawType::UInt8:
            return "uint8";
        case RawType::Int16:
            return "int16";
        case RawType::UInt16:
            return "uint16";
        case RawType::Float32:
            return "float32";
    }
    return "";
}
}  // namespace

bool ReadRaw(const std::string& path, const RawLayout& layout, ScalarVolume& volume, SourceInfo& info,
             std::string& notes, std::string& error)
{
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) {
        error = "is a folder; --raw reads a single file";
        return false;
    }
    const uintmax_t fileBytes = std::filesystem::file_size(path, code);
    if (code) {
        error = code.message();
        return false;
    }
    const size_t count = layout.size[0] * layout.size[1] * layout.size[2];
    const size_t sampleBytes = SampleBytes(layout.type);
    const uintmax_t needed = uintmax_t(count) * sampleBytes;
    const std::string layoutText = std::to_string(layout.size[0]) + " x " + std::to_string(layout.size[1]) + " x " +
                                   std::to_string(layout.size[2]) + " " + RawTypeName(layout.type);
    if (fileBytes < layout.skip || fileBytes - layout.skip < needed) {
        error = "is too short: " + std::to_string(fileBytes) + " bytes, but " + layoutText + " after " +
                std::to_string(layout.skip) + " skipped bytes needs " + std::to_string(layout.skip + needed);
        return false;
    }
    if (fileBytes - layout.skip > needed) {
        notes += "warning: the file holds " + std::to_string(fileBytes - layout.skip - needed) + " bytes more than " +
                 layoutText + " after " + std::to_string(layout.skip) + " skipped bytes; they are ignored\n";
    }

    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    file.seekg(std::streamoff(layout.skip));
    try {
        volume.samples.resize(count);
        std::vector<unsigned char> row(layout.size[0] * sampleBytes);
        for (size_t r = 0; r < count / layout.size[0]; ++r) {
            if (!file.read(reinterpret_cast<char*>(row.data()), std::streamsize(row.size()))) {
                error = "could not be read to the end";
                volume.samples.clear();
                return false;
            }
            float* out = volume.samples.data() + r * layout.size[0];
            for (size_t x = 0; x < layout.size[0]; ++x) {
                out[x] = Decode(row.data() + x * sampleBytes, layout.type, layout.bigEndian);
            }
        }
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read it";
        volume.samples.clear();
        return false;
    }
    volume.size = layout.size;
    volume.spacing = {1.0, 1.0, 1.0};
    info.description = "raw";
    info.typeName = RawTypeName(layout.type);
    info.integerType = layout.type != RawType::Float32;
    info.unsigned8Bit = layout.type == RawType::UInt8;
    return true;
}
