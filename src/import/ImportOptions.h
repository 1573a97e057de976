#pragma once
// Everything volren-import was asked to do, checked for form by the command line.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

enum class RawType { UInt8, Int16, UInt16, Float32 };

struct RawLayout {
    std::array<size_t, 3> size{};
    RawType type = RawType::UInt8;
    bool bigEndian = false;
    uint64_t skip = 0;
};

struct ImportOptions {
    std::string input;
    std::string output;
    std::optional<RawLayout> raw;
    std::optional<std::array<double, 3>> spacing;  // replaces the input's own
    std::string series;                            // a DICOM series identifier, or empty
    std::optional<std::array<double, 2>> window;   // LOW, HIGH
    size_t maxSize = 512;
    bool keepGrid = false;
    std::array<bool, 3> flip{};
    // Bytes a read may hold at once; 0: the machine's physical memory.
    uint64_t memoryLimit = 0;
};
