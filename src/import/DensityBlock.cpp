#include "DensityBlock.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace {
size_t PageSize()
{
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return page;
}
}  // namespace

DensityBlock::~DensityBlock() { Free(); }

DensityBlock::DensityBlock(DensityBlock&& other) noexcept { *this = std::move(other); }

DensityBlock& DensityBlock::operator=(DensityBlock&& other) noexcept
{
    if (this != &other) {
        Free();
        memory = std::exchange(other.memory, nullptr);
        count = std::exchange(other.count, 0);
        bytes = std::exchange(other.bytes, 0);
        shared = std::exchange(other.shared, false);
        inFile = std::exchange(other.inFile, -1);
    }
    return *this;
}

void DensityBlock::Free()
{
    if (memory) {
        ::munmap(memory, bytes);
    }
    memory = nullptr;
    count = 0;
    bytes = 0;
    shared = false;
    inFile = -1;
}

bool DensityBlock::Create(size_t wanted, int file)
{
    Free();
    if (wanted == 0 || wanted > (SIZE_MAX - PageSize()) / sizeof(uint16_t)) {
        return wanted == 0;
    }
    const size_t length = wanted * sizeof(uint16_t);
    void* mapped = MAP_FAILED;
    if (file >= 0 && ::ftruncate(file, off_t(length)) == 0) {
        mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
        shared = mapped != MAP_FAILED;
    }
    if (mapped == MAP_FAILED) {
        mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    if (mapped == MAP_FAILED) {
        shared = false;
        return false;
    }
    memory = static_cast<uint16_t*>(mapped);
    count = wanted;
    bytes = length;
    inFile = shared ? file : -1;
    return true;
}

bool DensityBlock::Map(int file, size_t wanted)
{
    Free();
    struct stat status {};
    if (wanted == 0 || wanted > SIZE_MAX / sizeof(uint16_t) || ::fstat(file, &status) != 0 ||
        uint64_t(status.st_size) < uint64_t(wanted) * sizeof(uint16_t)) {
        return false;
    }
    const size_t length = wanted * sizeof(uint16_t);
    void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (mapped == MAP_FAILED) {
        return false;
    }
    memory = static_cast<uint16_t*>(mapped);
    count = wanted;
    bytes = length;
    shared = true;
    inFile = file;
    return true;
}

void DensityBlock::Release(size_t first, size_t end)
{
    if (!memory) {
        return;
    }
    end = std::min(end, count);
    const size_t page = PageSize();
    const size_t from = (first * sizeof(uint16_t) + page - 1) / page * page;
    const size_t to = end * sizeof(uint16_t) / page * page;
    if (first < end && from < to) {
        // A memory file's pages go only when the file lets them go.
        ::madvise(reinterpret_cast<char*>(memory) + from, to - from, shared ? MADV_REMOVE : MADV_DONTNEED);
    }
}
