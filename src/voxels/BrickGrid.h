#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The lowest and highest density of each brick of side x side x side voxels,
// and from them, for a lookup table and a density window, which bricks may
// show anything. The ray caster leaps over the others.
//
// Positions u are in voxels from the data's lower faces, voxel j's centre at
// j + 0.5. A trilinear sample at u filters voxels floor(u - 0.5) and the next.
// So the bricks are laid half a voxel off the voxels, brick b over u from
// side * b - offset to side * b - offset + side, offset = side - 0.5: a sample
// there filters voxels side * b - side to side * b, side + 1 a side (bricks
// aligned to the voxels would need side + 2). The first brick starts before
// the data and the last may end after them; where a brick's voxels reach
// beyond the data, the texture's border or padding gives 0.
//
// A ray marches every sample of an occupied brick, though it may show nothing
// along the ray's way through it: the smaller the bricks, the less of that.
// Small volumes, whose voxels span many samples, get bricks of one voxel;
// larger ones bricks of 4, whose ranges and distances cost 64 times less
// memory and time.
class BrickGrid {
public:
    // Bricks of one voxel as long as there are at most this many.
    static constexpr uint64_t finestBricks = uint64_t(1) << 22;
    static constexpr uint32_t coarseSide = 4;
    // Texels of the lookup table: texel k holds densities 2k and 2k + 1.
    static constexpr uint32_t lookupTexels = 2048;

    // The side of the bricks for a volume of these voxels.
    static uint32_t SideFor(uint32_t dimX, uint32_t dimY, uint32_t dimZ);
    // Bricks along an axis of dim voxels.
    static uint32_t BricksFor(uint32_t dim, uint32_t side) { return (dim + side - 1) / side + 1; }
    static uint64_t BricksFor(uint32_t dimX, uint32_t dimY, uint32_t dimZ, uint32_t side)
    {
        return uint64_t(BricksFor(dimX, side)) * BricksFor(dimY, side) * BricksFor(dimZ, side);
    }

    // densities: the padded grid, x fastest, rows of texDimX, planes of
    // texDimX * texDimY samples; dimX, dimY, dimZ: the data within it. side 0:
    // SideFor the volume.
    void Build(const uint16_t* densities, uint32_t texDimX, uint32_t texDimY, uint32_t dimX, uint32_t dimY,
               uint32_t dimZ, uint32_t side = 0);
    // The same a few layers of bricks at a time, for a grid that is never
    // whole in memory: Start, then BuildLayers for every layer, each with the
    // planes from FirstPlane(layer) to LastPlane(layer); planes holds planes
    // firstPlane and on.
    void Start(uint32_t dimX, uint32_t dimY, uint32_t dimZ, uint32_t side = 0);
    void BuildLayers(const uint16_t* planes, uint32_t firstPlane, uint32_t texDimX, uint32_t texDimY,
                     uint32_t firstLayer, uint32_t endLayer);
    uint32_t FirstPlane(uint32_t layer) const;
    uint32_t LastPlane(uint32_t layer) const;
    void Clear();

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

    uint32_t Side() const { return side; }
    float Offset() const { return float(side) - 0.5f; }
    uint32_t BricksX() const { return bricksX; }
    uint32_t BricksY() const { return bricksY; }
    uint32_t BricksZ() const { return bricksZ; }
    uint16_t Min(uint32_t x, uint32_t y, uint32_t z) const { return lowest[Index(x, y, z)]; }
    uint16_t Max(uint32_t x, uint32_t y, uint32_t z) const { return highest[Index(x, y, z)]; }
    bool Empty() const { return lowest.empty(); }

private:
    size_t Index(uint32_t x, uint32_t y, uint32_t z) const { return x + size_t(bricksX) * (y + size_t(bricksY) * z); }

    uint32_t dimX = 0, dimY = 0, dimZ = 0;
    uint32_t side = coarseSide;
    uint32_t bricksX = 0, bricksY = 0, bricksZ = 0;
    std::vector<uint16_t> lowest, highest;
};
