#include "IsolatedRead.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "ReaderChannel.h"

extern char** environ;

namespace {
// Reads until the reader closes the pipe, it ends, the time
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

// Starts the program with the write ends of the pipes as its descriptors 3
// and 4, nothing on its standard input, and its standard streams silenced:
// the readers' libraries report there in their own words, and the caller
// tells the user in one line instead.
bool Start(const std::string& program, const std::vector<std::string>& arguments, int result, int progress,
           int densities, pid_t& child, std::string& error)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, result, readerResultDescriptor);
    posix_spawn_file_actions_adddup2(&actions, progress, readerProgressDescriptor);
    if (densities >= 0) {
        posix_spawn_file_actions_adddup2(&actions, densities, readerDensityDescriptor);
    }
    // Nothing else of the caller's (its display connection, its files) goes
    // to the reader.
    posix_spawn_file_actions_addclosefrom_np(&actions, readerDensityDescriptor + 1);
    // The caller's signal handlers and blocked signals are no concern of the reader.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int status = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) {
        error = "cannot start its reader " + program + ": " + std::strerror(status);
        return false;
    }
    return true;
}

// A pipe's write end moved above the descriptors the reader is given, so
// that placing one of them cannot overwrite the other.
int Above(int fd)
{
    if (fd < 0) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, readerDensityDescriptor + 1);
    ::close(fd);
    return moved;
}

std::string Ending(int status)
{
    if (WIFSIGNALED(status)) {
        return "the reader stopped on a damaged file (" + std::string(strsignal(WTERMSIG(status))) + ")";
    }
    return "the reader ended without a result (status " + std::to_string(WEXITSTATUS(status)) + ")";
}
}  // namespace

std::string ReaderProgram()
{
    std::error_code code;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", code);
    if (code) {
        return {};
    }
    const std::filesystem::path folder = self.parent_path();
    for (const std::filesystem::path& candidate :
         {folder / "volren-reader", folder / ".." / "libexec" / "volren" / "volren-reader"}) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.lexically_normal().string();
        }
    }
    return {};
}

double ReadSeconds(uintmax_t inputBytes) { return 5.0 + double(inputBytes) / 20e6; }

bool ReadIsolated(const std::vector<std::string>& arguments, const IsolationLimits& limits, ScalarVolume& volume,
                  SourceInfo& info, std::string& notes, std::string& error)
{
    volume.samples.clear();
    volume.densities = DensityBlock();
    const std::string program = limits.program.empty() ? ReaderProgram() : limits.program;
    if (program.empty()) {
        error = "cannot start its reader: the program volren-reader is not installed beside this one";
        return false;
    }
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
    fds[1] = Above(fds[1]);
    ticks[1] = Above(ticks[1]);
    // Densities come back in a memory file both map, not through the pipe;
    // without one they still come through it.
    const int densityFile = Above(::memfd_create("volren-densities", MFD_CLOEXEC));
    pid_t child = -1;
    const bool started =
        fds[1] >= 0 && ticks[1] >= 0 && Start(program, arguments, fds[1], ticks[1], densityFile, child, error);
    if (fds[1] < 0 || ticks[1] < 0) {
        error = std::string("cannot start its reader: ") + std::strerror(errno);
    }
    for (const int fd : {fds[1], ticks[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (!started) {
        ::close(fds[0]);
        ::close(ticks[0]);
        if (densityFile >= 0) {
            ::close(densityFile);
        }
        return false;
    }

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
                    in.Read(info.modality, textLimit) && in.Read(info.valueRule, textLimit) && in.Read(flags);
    uint64_t size[3] = {0, 0, 0};
    for (int d = 0; d < 3 && complete; ++d) {
        complete = in.Read(size[d]) && in.Read(volume.spacing[d]);
        volume.size[d] = size_t(size[d]);
    }
    const bool densities = flags & 64;
    const bool densitiesInFile = flags & 128;
    // Sizes whose product overflows cannot be a volume that was read.
    const long double count = (long double)size[0] * size[1] * size[2];
    complete = complete && count < (long double)(uint64_t(1) << 48);
    bool outOfMemory = false;
    if (complete && ok) {
        try {
            if (densities && densitiesInFile) {
                // Mapped once the reader has ended and left them as they are.
            } else if (densities) {
                outOfMemory = !volume.densities.Create(volume.Count());
                complete = !outOfMemory && in.Read(volume.densities.data(), volume.Count() * sizeof(uint16_t));
            } else {
                volume.samples.resize(volume.Count());
                complete = in.Read(volume.samples.data(), volume.Count() * sizeof(float));
            }
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
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
    if (complete && ok && densities && densitiesInFile &&
        (densityFile < 0 || !volume.densities.Map(densityFile, volume.Count()))) {
        complete = false;
        outOfMemory = densityFile >= 0;
    }
    if (densityFile >= 0) {
        ::close(densityFile);
    }
    if (complete) {
        error = childError;
        notes += childNotes;
        info.integerType = flags & 1;
        info.unsigned8Bit = flags & 2;
        info.signed8Bit = flags & 4;
        info.dicom = flags & 8;
        info.modalityCT = flags & 16;
        info.hounsfield = flags & 32;
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
            volume.densities = DensityBlock();
        }
        return ok;
    }
    volume.samples.clear();
    volume.densities = DensityBlock();
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
    } else if (outOfMemory) {
        error = "not enough memory to read it";
    } else {
        error = Ending(status);
    }
    return false;
}
