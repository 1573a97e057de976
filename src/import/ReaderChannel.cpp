#include "ReaderChannel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <vector>

namespace {
int progressPipe = -1;
int resultPipe = -1;
int densityFile = -1;

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

class Message {
public:
    void Add(const void* data, size_t size) { bytes.insert(bytes.end(), (const char*)data, (const char*)data + size); }
    void Add(uint64_t value) { Add(&value, sizeof value); }
    void Add(double value) { Add(&value, sizeof value); }
    void Add(const std::string& text)
    {
        Add(uint64_t(text.size()));
        Add(text.data(), text.size());
    }
    const std::vector<char>& Bytes() const { return bytes; }

private:
    std::vector<char> bytes;
};

bool Open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
}  // namespace

void OpenReaderChannel()
{
    // A crash ends the reader at once with its signal, which the caller names,
    // even where a sanitizer's runtime installed handlers of its own.
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        std::signal(signal, SIG_DFL);
    }
    resultPipe = Open(readerResultDescriptor) ? readerResultDescriptor : -1;
    progressPipe = Open(readerProgressDescriptor) ? readerProgressDescriptor : -1;
    densityFile = Open(readerDensityDescriptor) ? readerDensityDescriptor : -1;
}

int ReaderDensityFile() { return densityFile; }

void ReportReadProgress()
{
    if (progressPipe >= 0) {
        // A full pipe holds ticks enough: the caller has not read them yet.
        const char tick = 1;
        [[maybe_unused]] const ssize_t n = ::write(progressPipe, &tick, 1);
    }
}

bool SendReadResult(bool ok, const ScalarVolume& volume, const SourceInfo& info, const std::string& notes,
                    const std::string& error)
{
    if (resultPipe < 0) {
        return false;
    }
    const bool densities = ok && !volume.densities.empty();
    // Densities in the caller's memory file are there already.
    const bool inFile = densities && volume.densities.InFile(densityFile);
    Message m;
    m.Add(uint64_t(ok));
    m.Add(error);
    m.Add(notes);
    m.Add(info.description);
    m.Add(info.typeName);
    m.Add(info.modality);
    m.Add(info.valueRule);
    m.Add(uint64_t(info.integerType) | uint64_t(info.unsigned8Bit) << 1 | uint64_t(info.signed8Bit) << 2 |
          uint64_t(info.dicom) << 3 | uint64_t(info.modalityCT) << 4 | uint64_t(info.hounsfield) << 5 |
          uint64_t(densities) << 6 | uint64_t(inFile) << 7);
    for (int d = 0; d < 3; ++d) {
        m.Add(uint64_t(ok ? volume.size[d] : 0));
        m.Add(volume.spacing[d]);
    }
    // Done reading: a slow send is no stall.
    if (progressPipe >= 0) {
        ::close(progressPipe);
        progressPipe = -1;
    }
    if (!WriteAll(resultPipe, m.Bytes().data(), m.Bytes().size())) {
        return false;
    }
    if (!ok) {
        return true;
    }
    if (densities) {
        return volume.densities.size() == volume.Count() &&
               (inFile || WriteAll(resultPipe, volume.densities.data(), volume.densities.size() * sizeof(uint16_t)));
    }
    return volume.samples.size() == volume.Count() &&
           WriteAll(resultPipe, volume.samples.data(), volume.samples.size() * sizeof(float));
}
