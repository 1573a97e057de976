#include "DatWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
constexpr size_t maxAxis = 65535;

void PutU16(unsigned char* bytes, uint16_t value)
{
    bytes[0] = uint8_t(value & 0xff);
    bytes[1] = uint8_t(value >> 8);
}

bool WriteAll(int fd, const unsigned char* bytes, size_t count)
{
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

// An existing file keeps its permissions; a new one gets the usual ones.
mode_t NewFileMode(const char* path)
{
    struct stat existing;
    if (::stat(path, &existing) == 0) {
        return existing.st_mode & 07777;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
}  // namespace

bool WriteDat(const std::string& path, const ScalarVolume& volume, const ValueRule& rule,
              const std::array<bool, 3>& flip, std::string& error)
{
    for (const size_t n : volume.size) {
        if (n == 0 || n > maxAxis) {
            error = "the output would be " + std::to_string(volume.size[0]) + " x " + std::to_string(volume.size[1]) +
                    " x " + std::to_string(volume.size[2]) + "; a .dat file holds 1 to 65535 along each axis";
            return false;
        }
    }
    // A link is followed, so that the file it names is the one replaced.
    std::string target = path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        error = "is a folder";
        return false;
    }
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = std::string("cannot be created: ") + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, NewFileMode(target.c_str()));
    const auto fail = [&](const char* what) {
        error = std::string(what) + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    };

    unsigned char header[6];
    for (int d = 0; d < 3; ++d) {
        PutU16(header + 2 * d, uint16_t(volume.size[d]));
    }
    if (!WriteAll(fd, header, sizeof header)) {
        return fail("cannot be written: ");
    }
    const size_t nx = volume.size[0], ny = volume.size[1], nz = volume.size[2];
    std::vector<unsigned char> slice(nx * ny * 2);
    for (size_t z = 0; z < nz; ++z) {
        const size_t sz = flip[2] ? nz - 1 - z : z;
        for (size_t y = 0; y < ny; ++y) {
            const size_t sy = flip[1] ? ny - 1 - y : y;
            const float* row = volume.samples.data() + (sz * ny + sy) * nx;
            for (size_t x = 0; x < nx; ++x) {
                const size_t sx = flip[0] ? nx - 1 - x : x;
                PutU16(slice.data() + 2 * (y * nx + x), rule.Map(row[sx]));
            }
        }
        if (!WriteAll(fd, slice.data(), slice.size())) {
            return fail("cannot be written: ");
        }
    }
    if (::fsync(fd) != 0) {
        return fail("cannot be written: ");
    }
    if (::close(fd) != 0) {
        error = std::string("cannot be written: ") + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = std::string("cannot be replaced: ") + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
