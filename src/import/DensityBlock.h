#pragma once
// A scan's 16-bit densities in memory mapped for them alone: anonymous
// memory, or a memory file that the reader program fills and its caller then
// maps, so that the densities cross from one process to the other without a
// copy. Pages that the caller has passed on (into a texture, say) are given
// back one range at a time, before the whole is freed.
#include <cstddef>
#include <cstdint>

class DensityBlock {
public:
    DensityBlock() = default;
    ~DensityBlock();
    DensityBlock(DensityBlock&& other) noexcept;
    DensityBlock& operator=(DensityBlock&& other) noexcept;
    DensityBlock(const DensityBlock&) = delete;
    DensityBlock& operator=(const DensityBlock&) = delete;

    // Room for count densities, zero, in anonymous memory or, where file is
    // a memory file's descriptor, in that file, sized to fit. false where
    // the memory cannot be had.
    bool Create(size_t count, int file = -1);
    // The memory file as another process filled it; false unless it holds
    // count densities.
    bool Map(int file, size_t count);

    uint16_t* data() { return memory; }
    const uint16_t* data() const { return memory; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    // Whether the densities lie in the memory file with this descriptor.
    bool InFile(int file) const { return memory != nullptr && file >= 0 && file == inFile; }

    // Gives back the memory of the whole pages among densities [first, end);
    // they read as 0 afterwards. Safe from several threads for distinct ranges.
    void Release(size_t first, size_t end);

private:
    void Free();

    uint16_t* memory = nullptr;
    size_t count = 0;
    size_t bytes = 0;
    bool shared = false;
    int inFile = -1;
};
