#include "IsolatedRead.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {
// In a child of ReadIsolated, the write end of its progress pipe.
int progressPipe = -1;

// The child's side: whole writes, whatever the pipe's capacity.
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

// The parent's side: reads until the child closes the pipe, it ends, the time
// runs out or the caller cancels.
class Receiver {
public:
    Receiver(int fd, int progress, std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* cancel,
             double stallSeconds)
        : fd(fd),
          progress(progress),
          deadline(deadline),
          cancel(cancel),
          stall(std::chrono::milliseconds(int64_t(stallSeconds * 1000.0)))
    {
    }

    // false when the child sent less; why tells whether time ran out or the
    // caller cancelled.
    bool Read(void* data, size_t size)
    {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            if (cancel && cancel->load()) {
                why = Why::Cancelled;
                return false;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                why = Why::TimedOut;
                return false;
            }
            if (progressed && now - lastProgress > stall) {
                why = Why::Stalled;
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            pollfd wait[2] = {{fd, POLLIN, 0}, {progress, POLLIN, 0}};
            // Short waits, so that a cancel or a stall is seen promptly.
            const int ready = ::poll(wait, progress >= 0 ? 2 : 1, int(std::min<long long>(left, 100)));
            if (ready < 0 && errno != EINTR) {
                return false;
            }
            if (ready > 0 && progress >= 0 && (wait[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                char ticks[256];
                const ssize_t n = ::read(progress, ticks, sizeof ticks);
                if (n > 0) {
                    progressed = true;
                    lastProgress = std::chrono::steady_clock::now();
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    // The child closed it: it has ended, or is sending.
                    progress = -1;
                    progressed = false;
                }
            }
            if (ready <= 0 || !(wait[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            // The result is coming: a slow send is no stall.
            progressed = false;
            const ssize_t n = ::read(fd, p, size);
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
    bool Read(uint64_t& value) { return Read(&value, sizeof value); }
    bool Read(double& value) { return Read(&value, sizeof value); }
    bool Read(std::string& text, uint64_t limit)
    {
        uint64_t size = 0;
        if (!Read(size) || size > limit) {
            return false;
        }
        text.resize(size);
        return Read(text.data(), size);
    }

    enum class Why { Ended, TimedOut, Cancelled, Stalled };
    Why why = Why::Ended;

private:
    int fd;
    int progress;
    std::chrono::steady_clock::time_point deadline;
    const std::atomic<bool>* cancel;
    std::chrono::steady_clock::duration stall;
    bool progressed = false;
    std::chrono::steady_clock::time_point lastProgress;
};

[[noreturn]] void RunChild(const IsolatedReader& read, int fd)
{
    // A crash ends the child at once, whatever handlers the caller installed.
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        std::signal(signal, SIG_DFL);
    }
    // The readers' libraries report on the standard streams in their own
    // words; the caller tells the user in one line instead.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    ScalarVolume volume;
    SourceInfo info;
    std::string notes;
    std::string error;
    bool ok = false;
    try {
        ok = read(volume, info, notes, error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read it";
    } catch (const std::exception& e) {
        error = std::string("cannot be read: ") + e.what();
    }
    Message m;
    m.Add(uint64_t(ok));
    m.Add(error);
    m.Add(notes);
    m.Add(info.description);
    m.Add(info.typeName);
    m.Add(info.modality);
    m.Add(uint64_t(info.integerType) | uint64_t(info.unsigned8Bit) << 1 | uint64_t(info.signed8Bit) << 2 |
          uint64_t(info.dicom) << 3 | uint64_t(info.modalityCT) << 4);
    for (int d = 0; d < 3; ++d) {
        m.Add(uint64_t(ok ? volume.size[d] : 0));
        m.Add(volume.spacing[d]);
    }
    // Done reading: no more progress to tell.
    ::close(progressPipe);
    progressPipe = -1;
    const bool sent = WriteAll(fd, m.Bytes().data(), m.Bytes().size()) &&
                      (!ok || WriteAll(fd, volume.samples.data(), volume.Count() * sizeof(float)));
    ::_exit(sent ? 0 : 1);
}

std::string Ending(int status)
{
    if (WIFSIGNALED(status)) {
        return "the reader stopped on a damaged file (" + std::string(strsignal(WTERMSIG(status))) + ")";
    }
    return "the reader ended without a result (status " + std::to_string(WEXITSTATUS(status)) + ")";
}
}  // namespace

void ReportReadProgress()
{
    if (progressPipe >= 0) {
        // A full pipe holds ticks enough: the parent has not read them yet.
        const char tick = 1;
        [[maybe_unused]] const ssize_t n = ::write(progressPipe, &tick, 1);
    }
}

double ReadSeconds(uintmax_t inputBytes) { return 5.0 + double(inputBytes) / 20e6; }

bool ReadIsolated(const IsolatedReader& read, const IsolationLimits& limits, ScalarVolume& volume, SourceInfo& info,
                  std::string& notes, std::string& error)
{
    volume.samples.clear();
    int fds[2];
    int ticks[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot start its reader: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(ticks, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot start its reader: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        error = std::string("cannot start its reader: ") + std::strerror(errno);
        for (const int fd : {fds[0], fds[1], ticks[0], ticks[1]}) {
            ::close(fd);
        }
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        ::close(ticks[0]);
        progressPipe = ticks[1];
        RunChild(read, fds[1]);
    }
    ::close(fds[1]);
    ::close(ticks[1]);

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(limits.seconds * 1000.0));
    Receiver in(fds[0], ticks[0], deadline, limits.cancel, limits.stallSeconds);
    constexpr uint64_t textLimit = 1 << 20;
    uint64_t ok = 0;
    uint64_t flags = 0;
    std::string childError;
    std::string childNotes;
    bool complete = in.Read(ok) && in.Read(childError, textLimit) && in.Read(childNotes, textLimit) &&
                    in.Read(info.description, textLimit) && in.Read(info.typeName, textLimit) &&
                    in.Read(info.modality, textLimit) && in.Read(flags);
    uint64_t size[3] = {0, 0, 0};
    for (int d = 0; d < 3 && complete; ++d) {
        complete = in.Read(size[d]) && in.Read(volume.spacing[d]);
        volume.size[d] = size_t(size[d]);
    }
    if (complete && ok) {
        try {
            volume.samples.resize(volume.Count());
            complete = in.Read(volume.samples.data(), volume.Count() * sizeof(float));
        } catch (const std::bad_alloc&) {
            complete = false;
        }
    }
    ::close(fds[0]);
    ::close(ticks[0]);
    if (!complete) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (complete) {
        error = childError;
        notes += childNotes;
        info.integerType = flags & 1;
        info.unsigned8Bit = flags & 2;
        info.signed8Bit = flags & 4;
        info.dicom = flags & 8;
        info.modalityCT = flags & 16;
        // A header that made an axis of no samples (a one-dimensional image
        // read as 12 x 1 x 0, say) is refused here, before anything acts on
        // the grid.
        if (ok && volume.Count() == 0) {
            ok = 0;
            error = "holds no samples: its grid is " + std::to_string(volume.size[0]) + " x " +
                    std::to_string(volume.size[1]) + " x " + std::to_string(volume.size[2]);
        }
        if (!ok) {
            volume.samples.clear();
        }
        return ok;
    }
    if (in.why == Receiver::Why::Cancelled) {
        error = "cancelled";
    } else if (in.why == Receiver::Why::Stalled) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", limits.stallSeconds);
        error = "the reader stopped making progress (nothing read for " + std::string(seconds) +
                " seconds); the file is probably damaged";
    } else if (in.why == Receiver::Why::TimedOut) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", limits.seconds < 1.0 ? limits.seconds : std::ceil(limits.seconds));
        error = "the reader did not finish within " + std::string(seconds) + " seconds; the file is probably damaged";
    } else if (ok && volume.Count() > 0 && volume.samples.empty()) {
        error = "not enough memory to read it";
    } else {
        error = Ending(status);
    }
    volume.samples.clear();
    return false;
}
