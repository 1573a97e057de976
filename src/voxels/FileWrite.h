#pragma once

#include <cstddef>
#include <string>

// How writing a whole file ended.
struct FileWriteResult {
    // False when the target could not be opened for writing or created.
    bool opened = false;
    // True when every byte reached the file; otherwise bytesWritten tells how
    // far the write got.
    bool complete = false;
    size_t bytesWritten = 0;
};

// Makes the content the whole of the file, with the rights of the caller: a
// target the caller may not write is refused. A link is followed.
// - A regular file with one name, or a new one, is written beside the target
//   and renamed over it once complete, so a failed write leaves the old file
//   intact; the replacement keeps the target's permission bits and, where the
//   caller may set them, its owner and group.
// - A file with further hard links, one that is not a regular file (a device,
//   a FIFO), or one in a folder where no new file can be made is written in
//   place, so every name sees the new content and no device node is replaced.
FileWriteResult WriteWholeFile(const char* fileName, const std::string& content);
