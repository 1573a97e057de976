#include "FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {
// Writes as much of the content as the file takes; returns the bytes written.
size_t WriteAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += size_t(n);
    }
    return done;
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Gives the file the owner and group of the target where the caller may;
// where the caller may not give the file away, the group alone may still be kept.
void KeepOwner(int fd, const struct stat& target)
{
    if (::fchown(fd, target.st_uid, target.st_gid) == 0) {
        return;
    }
    static_cast<void>(::fchown(fd, uid_t(-1), target.st_gid) == 0);
}

enum class Beside { Replaced, NotCreated, NotRenamed, WriteFailed };

// Writes the content into a new file beside the target and renames it over
// the target. existing is the target's status, null for a new file.
Beside WriteBeside(const std::string& target, const std::string& content, const struct stat* existing,
                   FileWriteResult& result)
{
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return Beside::NotCreated;
    }
    if (existing) {
        // The owner first: changing it clears the set-user and set-group bits.
        KeepOwner(fd, *existing);
        ::fchmod(fd, existing->st_mode & 07777);
    } else {
        ::fchmod(fd, NewFileMode());
    }
    result.bytesWritten = WriteAll(fd, content);
    const bool written = result.bytesWritten == content.size();
    const bool synced = written && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced) {
        ::unlink(temporary.c_str());
        return Beside::WriteFailed;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return Beside::NotRenamed;
    }
    return Beside::Replaced;
}

// Writes the content over the open target from its first byte; a regular
// file is cut to the content's length.
FileWriteResult WriteInPlace(int fd, const std::string& content, bool regular)
{
    FileWriteResult result;
    result.opened = true;
    result.bytesWritten = WriteAll(fd, content);
    bool ok = result.bytesWritten == content.size();
    if (ok && regular) {
        ok = ::ftruncate(fd, off_t(content.size())) == 0 && ::fsync(fd) == 0;
    }
    result.complete = ::close(fd) == 0 && ok;
    return result;
}
}  // namespace

FileWriteResult WriteWholeFile(const char* fileName, const std::string& content)
{
    std::string target = fileName;
    if (char* resolved = ::realpath(fileName, nullptr)) {
        target = resolved;
        std::free(resolved);
    }

    FileWriteResult result;
    // Opening the target itself asks the system whether the caller may write
    // it. Without a delay: a FIFO that no one reads refuses at once instead of
    // waiting for a reader.
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            return result;
        }
        const Beside outcome = WriteBeside(target, content, nullptr, result);
        result.opened = outcome != Beside::NotCreated;
        result.complete = outcome == Beside::Replaced;
        return result;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    struct stat existing;
    if (::fstat(fd, &existing) != 0) {
        ::close(fd);
        return result;
    }
    const bool regular = S_ISREG(existing.st_mode);
    if (regular && existing.st_nlink == 1) {
        const Beside outcome = WriteBeside(target, content, &existing, result);
        if (outcome == Beside::Replaced || outcome == Beside::WriteFailed) {
            ::close(fd);
            result.opened = true;
            result.complete = outcome == Beside::Replaced;
            return result;
        }
        // No new file in the folder, or none may take the target's name (a
        // sticky folder): the target itself is written.
    }
    return WriteInPlace(fd, content, regular);
}
