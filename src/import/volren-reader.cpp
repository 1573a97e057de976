// The reader program: reads one scan for the program or a tool that started
// it (IsolatedRead.h) and sends the result back through the descriptors it
// was given. Started afresh for each read, it shares no threads, locks or
// memory with its caller, and whatever a damaged file does to it ends here.
//
//   volren-reader dicom FOLDER SERIES FILE MEMORY densities|samples
//   volren-reader file PATH READPATH nifti|dicom|image MEMORY densities|samples
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "ReaderChannel.h"
#include "ScanRead.h"

namespace {
bool Read(int count, char** arguments, ScalarVolume& volume, SourceInfo& info, std::string& notes, std::string& error)
{
    const std::string kind = count > 1 ? arguments[1] : "";
    const auto memory = [&](int index) { return uint64_t(std::strtoull(arguments[index], nullptr, 10)); };
    const auto densities = [&](int index) { return std::string(arguments[index]) == "densities"; };
    if (kind == "dicom" && count == 7) {
        return ReadDicomFolder(arguments[2], arguments[3], arguments[4], memory(5), densities(6), volume, info, notes,
                               error);
    }
    if (kind == "file" && count == 7) {
        return ReadScanFile(arguments[2], arguments[3], arguments[4], memory(5), densities(6), volume, info, error);
    }
    error = "the reader was asked for something it does not read";
    return false;
}
}  // namespace

int main(int count, char** arguments)
{
    OpenReaderChannel();
    // Each slice's buffers are alike and short-lived: kept by the allocator
    // for the next file rather than returned and faulted in again.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    ScalarVolume volume;
    SourceInfo info;
    std::string notes;
    std::string error;
    bool ok = false;
    try {
        ok = Read(count, arguments, volume, info, notes, error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read it";
    } catch (const std::exception& e) {
        error = std::string("cannot be read: ") + e.what();
    }
    return SendReadResult(ok, volume, info, notes, error) ? 0 : 1;
}
