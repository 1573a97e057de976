#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The lowest and highest density of each brick of 4 x 4 x 4 voxels, and from
// them, for a lookup table and a density window, which bricks may show
// anything. The ray caster leaps over the others.
//
// Positions u are in voxels from the data's lower faces, voxel j's centre at
// j + 0.5. A trilinear sample at u filters voxels floor(u - 0.5) and the next.
// So the bricks are laid half a voxel off the voxels, brick b over u from
// 4b - offset to 4b - offset + 4: a sample there filters voxels 4b - 4 to 4b,
// five a side (bricks aligned to the voxels would need six). The first brick
// starts before the data and the last may end after them; where a brick's
// voxels reach beyond the data, the texture's border or padding gives 0.
class BrickGrid {
public:
    static constexpr uint32_t brickSize = 4;
    static constexpr float offset = 3.5f;
    // Texels of the lookup table: texel k holds densities 2k and 2k + 1.
    static constexpr uint32_t lookupTexels = 2048;

    // densities: the padded grid, x fastest, rows of texDimX, planes of
    // texDimX * texDimY samples; dimX, dimY, dimZ: the data within it.
    void Build(const uint16_t* densities, uint32_t texDimX, uint32_t texDimY, uint32_t dimX, uint32_t dimY,
               uint32_t dimZ);
    // The same a few layers of bricks at a time, for a grid that is never
    // whole in memory: Start, then BuildLayers for every layer, each with the
    // planes from FirstPlane(layer) to LastPlane(layer); planes holds planes
    // firstPlane and on.
    void Start(uint32_t dimX, uint32_t dimY, uint32_t dimZ);
    void BuildLayers(const uint16_t* planes, uint32_t firstPlane, uint32_t texDimX, uint32_t texDimY,
                     uint32_t firstLayer, uint32_t endLayer);
    static uint32_t FirstPlane(uint32_t layer);
    uint32_t LastPlane(uint32_t layer) const;
    void Clear();
    // Bricks along an axis of dim voxels.
    static uint32_t BricksFor(uint32_t dim) { return (dim + 3) / brickSize + 1; }

    // One byte per brick, x fastest: 255 where some density of the brick's
    // range is at most the window (maxIntensity * 4096 + 0.5) and has a lookup
    // texel of non-zero opacity within reach of the linear filter, else 0.
    std::vector<uint8_t> Occupancy(const uint8_t* lookupAlpha, float window) const;
    // For each brick, how many bricks away the nearest occupied one is, counted
    // along the axis that needs most (0 for an occupied brick), at most
    // farthest. Every brick closer than that is empty, so a ray inside the
    // brick can leap to where it leaves the cube of those bricks.
    std::vector<uint8_t> EmptyDistance(const std::vector<uint8_t>& occupancy) const;
    static constexpr uint8_t farthest = 32;

    uint32_t BricksX() const { return bricksX; }
    uint32_t BricksY() const { return bricksY; }
    uint32_t BricksZ() const { return bricksZ; }
    uint16_t Min(uint32_t x, uint32_t y, uint32_t z) const { return lowest[Index(x, y, z)]; }
    uint16_t Max(uint32_t x, uint32_t y, uint32_t z) const { return highest[Index(x, y, z)]; }
    bool Empty() const { return lowest.empty(); }

private:
    size_t Index(uint32_t x, uint32_t y, uint32_t z) const { return x + size_t(bricksX) * (y + size_t(bricksY) * z); }

    uint32_t dimX = 0, dimY = 0, dimZ = 0;
    uint32_t bricksX = 0, bricksY = 0, bricksZ = 0;
    std::vector<uint16_t> lowest, highest;
};
