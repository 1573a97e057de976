// Reading and writing ".tf" files: a 28-byte little-endian header with the
// four channel counts, then one 8-byte record per sample.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "FileWrite.h"
#include "Log.h"
#include "TransferFunction.h"

namespace {
constexpr uint32_t magicNumber = 18004;  // "TF\0\0"
constexpr int headerBytes = 28;
constexpr int recordBytes = 8;

uint32_t ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void WriteU32(unsigned char* p, uint32_t v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
    p[2] = (v >> 16) & 0xFF;
    p[3] = (v >> 24) & 0xFF;
}

bool ReadAll(int fd, unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}
}  // namespace

bool TransferFunction::Load(const char* fileName)
{
    // Read into a function of its own: a file that fails leaves this one,
    // with its unsaved changes, as it was.
    std::vector<Sample> loaded[4];
    auto fail = [this](const char* entry, const char* cause, int fd) {
        LogWarning(entry);
        error = cause;
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    };

    const int fd = ::open(fileName, O_RDONLY);
    if (fd < 0) {
        return fail("TransferFunction: Failed to open file!", "cannot be opened", -1);
    }

    unsigned char header[headerBytes];
    if (!ReadAll(fd, header, sizeof header)) {
        return fail("TransferFunction: Reading header failed!", "is too short for a transfer function's header", fd);
    }
    if (ReadU32(header) != magicNumber) {
        return fail("TransferFunction: Invalid transfer function file!", "is not a transfer function file", fd);
    }
    const int32_t headerSize = static_cast<int32_t>(ReadU32(header + 4));
    ::lseek(fd, headerSize, SEEK_SET);

    // Room is made only for the records the file still holds, never for what
    // the counts promise, so a corrupt count cannot allocate beyond the file.
    struct stat info;
    const off_t fileSize = ::fstat(fd, &info) == 0 ? info.st_size : 0;
    for (int c = 0; c < 4; ++c) {
        const uint32_t count = ReadU32(header + 12 + 4 * c);
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        const uint64_t left = offset >= 0 && fileSize > offset ? uint64_t(fileSize - offset) / recordBytes : 0;
        loaded[c].reserve(size_t(std::min<uint64_t>(count, left)));
        for (uint32_t i = 0; i < count; ++i) {
            unsigned char record[recordBytes];
            if (!ReadAll(fd, record, sizeof record)) {
                return fail("TransferFunction: Reading sample failed!", "ends before the samples its header counts",
                            fd);
            }
            loaded[c].push_back(Sample{record[0], ReadU32(record + 4)});
        }
    }

    ::close(fd);
    for (int c = 0; c < 4; ++c) {
        channels[c] = std::move(loaded[c]);
    }
    error = "";
    modified = false;
    hasFileName = true;
    return true;
}

bool TransferFunction::Save(const char* fileName)
{
    std::string content(headerBytes, '\0');
    auto* header = reinterpret_cast<unsigned char*>(content.data());
    WriteU32(header, magicNumber);
    WriteU32(header + 4, headerBytes);
    WriteU32(header + 8, recordBytes);
    for (int c = 0; c < 4; ++c) {
        WriteU32(header + 12 + 4 * c, SampleCount(c));
    }
    for (const auto& channel : channels) {
        for (const Sample& sample : channel) {
            unsigned char record[recordBytes] = {};
            record[0] = sample.value;
            WriteU32(record + 4, sample.position);
            content.append(reinterpret_cast<const char*>(record), recordBytes);
        }
    }

    const FileWriteResult result = WriteWholeFile(fileName, content);
    if (!result.opened) {
        LogWarning("TransferFunction: File creation failed!");
        error = "cannot be created or written";
        return false;
    }
    if (!result.complete) {
        LogWarning(result.bytesWritten < size_t(headerBytes) ? "TransferFunction: Writing header failed!"
                                                             : "TransferFunction: Writing samples failed!");
        error = "could not be written whole";
        return false;
    }
    error = "";

    modified = false;
    hasFileName = true;
    return true;
}
