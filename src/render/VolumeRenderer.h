#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "BrickGrid.h"
#include "CutRegion.h"
#include "Vec3.h"

class Display;
class TransferFunction;
class aShaderObject;
class aVertexShader;
class aFragmentShader;

// The one renderer: it holds the loaded volume, every OpenGL resource made from
// it, the shader programs and every rendering parameter. Its operations
// are spread over the Volume*.cpp files by concern.
class VolumeRenderer {
public:
    enum RenderMethod : uint8_t { Slices = 0, VolumeTexture = 1, RayCasting = 2 };
    enum Classification : uint8_t { PreClassification = 0, ShaderClassification = 1, NoClassification = 2 };
    enum ColorMapType : uint8_t { Intensity = 0, IntensityGradient = 1 };
    enum BlendMode : uint8_t { Blend = 0, MaximumIntensity = 1, MinimumIntensity = 2, DefaultBlend = 3 };
    enum ViewStack : int8_t { Left = 0, Down = 1, Back = 2, Right = 3, Up = 4, Front = 5 };
    enum SliceMode : int32_t { AllSlices = 0, StackSpecificSlice = 2, VolumeSpecificSlice = 4 };

    // A texture or display-list field without a live name.
    static constexpr GLuint none = 0xFFFFFFFFu;

    VolumeRenderer(Display* display, const char* basePath, TransferFunction* transferFunction);
    ~VolumeRenderer();
    VolumeRenderer(const VolumeRenderer&) = delete;
    VolumeRenderer& operator=(const VolumeRenderer&) = delete;

    bool IsLoaded() const { return histogram != nullptr && transferFunction != nullptr; }
    // Loads a volume data file; false where it cannot be drawn, with the
    // cause in loadError and a warning in the log. A file refused by its
    // header, its size or the range of its samples leaves the volume loaded
    // before as it was; one that fails further on (memory running out on
    // the way) leaves none.
    bool Load(const char* fileName);
    void UpdateTransferFunction();
    void Render();
    static ViewStack ViewStackFromAngles(Vec3 angles);

    uint32_t GetDimX() const { return dimX; }
    uint32_t GetDimY() const { return dimY; }
    uint32_t GetDimZ() const { return dimZ; }
    const uint32_t* GetHistogram() const { return histogram; }
    uint32_t GetMaxDensity() const { return maxDensity; }

    void SetSliceCounts(int32_t x, int32_t y, int32_t z);
    void SetStackSlices(int32_t x, int32_t y, int32_t z);
    void SetVolumeSlices(int32_t x, int32_t y, int32_t z);
    void SetSliceMode(int32_t mode);
    void SetBlendMode(uint8_t mode);
    void SetViewStack(int8_t stack);
    void SetRenderMethod(uint8_t method);
    void SetClassification(uint8_t value);
    void SetColorMapType(uint8_t type);
    void SetStepSize(float size);
    void SetMaxIntensity(float intensity);
    void SetAdaptiveStepSize(float flag);
    void SetLighting(float flag);
    // The size of a voxel along x, y and z (in any one unit, for instance mm).
    // The box is drawn at the volume's true proportions and gradients are
    // taken per unit length; on a loaded volume the gradient texture is built
    // again. A side that is not a positive finite number counts as 1.
    void SetVoxelSpacing(Vec3 spacing);
    // Half the sides of the box that every method draws: the volume's extent
    // (sizes times spacing) scaled so that its largest side spans -1 to +1.
    Vec3 BoxHalfExtents() const;

    // Steps of loading, texture building and drawing; public so that tests can
    // check each on its own.
    void SetupLighting();
    // Frees the density grid and the histogram.
    void ReleaseVolumeData();
    void BuildCubeList();
    void LoadShaders();
    // defines are defined in the fragment shader.
    bool LoadShaderProgram(aShaderObject* program, const char* vertexPath, const char* fragmentPath,
                           std::initializer_list<const char*> defines = {});
    void DeleteShaders();
    bool ReadVolumeData(const char* fileName);
    bool ReadDensities(const char* fileName);
    // Opens a .dat file and reads its sizes; nullptr (refused) where it
    // cannot be opened, is shorter than its header or has a side of 0.
    FILE* OpenDataFile(const char* fileName, uint32_t size[3]);
    // Whether the file would load with the current method: its header, its
    // sizes and, where samples is set, the range of its samples. Changes
    // nothing but loadError.
    bool CheckDataFile(const char* fileName, bool samples);
    // Sets loadError to the cause, logs the entry as a warning; false.
    bool Refuse(const std::string& entry, const std::string& cause);
    void ComputeHistogram();
    // The histogram and the largest density from counts of all 65536 values.
    void SetHistogram(const uint32_t* counts);
    // Fills the density texture a slab at a time from plane (which writes
    // plane z, padded, zeros beyond the data), counting the histogram and the
    // bricks' ranges on the way: the grid is never whole in memory, and
    // densities stays null.
    bool StreamDensities(const std::function<void(uint32_t z, uint16_t* plane)>& plane);
    // Whether the current method draws a grid of this size straight from a
    // streamed density texture.
    bool Streams(uint32_t x, uint32_t y, uint32_t z);
    // Planes per slab of that (rounded down to a multiple of 4, at least 4);
    // 0, the default, for slabs of about slabBytes.
    uint32_t streamSlabPlanes = 0;
    // Reads a grid that only the density texture holds back from it, where a
    // method or colour map needs it; whether there is a grid.
    bool RestoreDensities();
    // A copy of the density grid, padded as the textures are, from memory or
    // read back from the texture that holds it; false where there is none or
    // no memory for it.
    bool CopyDensities(std::vector<uint16_t>& grid) const;
    // The gradient vectors of a whole padded grid as floats, on all
    // cores; null where they cannot be allocated. The load itself never holds
    // them all: see ComputeGradientSlabs.
    static float* ComputeGradients(const uint16_t* densities, float divisor, uint32_t texDimX, uint32_t texDimY,
                                   uint32_t texDimZ);
    // The gradient vectors of the loaded grid (divisor maxDensity) as half
    // floats, three per voxel, in slabs of slabPlanes planes (0: slabs of about
    // slabBytes): take(z0, planes, halves) gets each slab in order on the
    // calling thread while the worker threads compute the next one.
    void ComputeGradientSlabs(
        uint32_t slabPlanes,
        const std::function<void(uint32_t z0, uint32_t planes, const uint16_t* halves)>& take) const;
    // Allocates the GL_RGB16F gradient texture once and fills it slab by slab.
    void BuildGradientTexture(uint32_t slabPlanes = 0);
    void DeleteGradientTexture();
    // Whether a load builds the gradient texture: where it fits the budget
    // below, the driver and the memory, or where the gradient colour map
    // needs it. Without
    // it the ray caster takes its gradients from the density texture, slower
    // but alike.
    bool UsesGradientTexture() const;
    // The most that the gradient texture and its slabs may take: four times
    // the densities of a 256^3 volume. Beyond it, a volume is drawn in less
    // than half the memory, at some cost in frame time where it is lit.
    static constexpr uint64_t gradientTextureBudget = uint64_t(160) << 20;
    // What turns differences of normalised densities between the voxels either
    // side into the gradient texture's components, per axis.
    Vec3 GradientScale() const;
    // Planes per slab of a work buffer, for planes of the given size.
    uint32_t SlabPlanes(uint64_t bytesPerPlane) const;
    static constexpr uint64_t slabBytes = uint64_t(8) << 20;
    // What a load of the open file will hold at its peak with the current
    // method and classification: the grid, the gradient texture, the method's
    // textures (a software rasteriser keeps them in system memory) and the
    // work slabs. The load refuses a file that needs more than the memory limit.
    uint64_t LoadPeakBytes() const;
    // The same, counting the gradient texture or not.
    uint64_t LoadPeakBytes(bool withGradients) const;
    // Stands in for the machine's physical memory in that check; 0, the
    // default, means the physical memory. For tests.
    static void SetMemoryLimit(uint64_t bytes);
    // That limit, or the physical memory.
    static uint64_t MemoryLimit();
    // Sets the sizes of a grid of x by y by z samples and of its padded textures.
    void SizeGrid(uint32_t x, uint32_t y, uint32_t z);
    // Why a grid of these sizes cannot be loaded with the current method and
    // classification (the driver's texture limits, the memory), or empty.
    // Changes nothing.
    std::string GridRefusal(uint32_t x, uint32_t y, uint32_t z);
    // The same, and the sizes the grid is drawn at: halved along its largest
    // side until the driver can hold the current method's textures of it.
    std::string PlanGrid(uint32_t x, uint32_t y, uint32_t z, uint32_t drawn[3]);
    // Whether the driver can hold the current method's textures of a grid of
    // the current padded sizes.
    bool DriverHoldsTextures() const;
    // Replaces the loaded grid by one of x by y by z samples, each the mean of
    // a block of the loaded ones, with voxels as much larger; says so in the
    // log and in reducedResolution.
    bool ReduceGrid(uint32_t x, uint32_t y, uint32_t z);
    bool ReduceGridForDriver();
    // Loads samples already read (a scan, x fastest, densities 0..4095) with
    // their voxel spacing, through the same steps as a file; name stands for
    // the file in log entries. The caller checks GridRefusal first. consumed,
    // where given, is told of each range of samples [first, end) once it is
    // copied and no longer read, so that its memory can go; it may be called
    // from several threads at once.
    bool LoadGrid(const char* name, uint32_t x, uint32_t y, uint32_t z, const uint16_t* samples, Vec3 spacing,
                  const std::function<void(uint64_t first, uint64_t end)>& consumed = {});
    // The steps of a load after the grid and its histogram: the gradient and
    // transfer textures, the shaders and the method's textures.
    void BuildLoadedTextures();
    void BuildTransferTexture();
    // Whether the slicing methods composite premultiplied colours: under
    // "Default", whose blend function takes them so.
    bool PremultipliedColors() const { return blendMode == DefaultBlend; }
    // The lookup of the densities themselves, for the slicing methods without
    // classification: grey levels with 4096 white, and an opacity that grows
    // with the density, for a stack of `slices` planes across `depth` of the
    // box's largest side, so that the stack shows as a cloud whatever its
    // plane count. Built again where these change.
    GLuint DensityLookup(uint32_t slices, float depth);
    // The box's side along an axis, with its largest side 1.
    float BoxDepth(int axis) const;
    void DeleteSliceTextures();
    void BuildSliceTextures(const uint16_t* grid);
    // Classifies the 16-bit grid a block of planes at a time.
    void BuildClassifiedSliceTextures(const uint16_t* grid);
    void BuildVolumeTexture(const void* data, GLint internalFormat, GLenum format, GLenum type);
    void RebuildSliceStacks();
    void RebuildVolumeTexture();
    void RebuildRayCastingTextures();
    void RebuildTextures();
    void RenderSlices();
    void RenderVolumeTexture();
    void RenderEntryExit();
    // From the frame's camera and projection: the matrix from the window's
    // normalised device coordinates to the box's [0, 1]^3, and the window
    // rectangle the box covers.
    void FrameRays();
    void DrawCube();
    void RenderRayCasting();
    // Uploads which bricks the ray caster must visit, when the lookup table or
    // the density window changed since the last upload.
    void UpdateOccupancyTexture();
    // Makes the ray caster's lookup texture again where the lookup table or
    // the step changed since.
    void UpdateRayTransferTexture();
    // The slicing methods' cuts: the crop box's sides that lie inside the
    // volume and the plane as clip planes, set in the box's coordinates.
    void BeginCut();
    void EndCut();
    // Whether the frame draws the cut's faces: a face style is chosen, the
    // region cuts, and the blend composites (not maximum or minimum).
    bool DrawsCutFaces() const;
    // The slicing methods' cut faces that face the viewer (front) or away:
    // those facing away lie behind the kept part and are drawn before it,
    // the others after it, over it.
    void RenderCutFaces(bool front);
    // The 3D texture of the densities the faces read: the volume texture
    // where it holds them, else one made for them; none without densities.
    GLuint CutFaceDensities();
    void DeleteCutFaceTexture();

    Display* display;
    const char* basePath;
    // The file of the volume being loaded or loaded, named by the failures of
    // the load's later steps.
    std::string volumeFile;
    // Why the loaded volume is drawn at fewer samples than it has, in words
    // that follow its file's name; empty where it is drawn whole.
    std::string reducedResolution;
    // Counts the loads and the builds of the lookup textures: a picture of
    // the volume made before is stale where it has changed.
    uint64_t generation = 0;
    // Why the last load failed, in words that follow its file's name.
    std::string loadError;
    uint32_t dimX = 0, dimY = 0, dimZ = 0;
    // Size of a voxel along each axis; a .dat file's voxels are cubes of 1.
    Vec3 voxelSpacing{1.0f, 1.0f, 1.0f};
    uint32_t texDimX = 0, texDimY = 0, texDimZ = 0;
    float texCoordMaxX, texCoordMaxY, texCoordMaxZ;
    uint16_t* densities;
    // Each stack keeps the names it was built with; empty means none.
    std::vector<GLuint> sliceTexturesX, sliceTexturesY, sliceTexturesZ;
    GLuint volumeTexture;
    // volumeTexture holds the luminance densities of the loaded grid, so an
    // upload of the same would change nothing.
    bool volumeTextureHoldsDensities = false;
    uint32_t sliceCountX = 0, sliceCountY = 0, sliceCountZ = 0;
    int32_t sliceMode;
    int32_t stackSliceX = 1, stackSliceY = 1, stackSliceZ = 1;
    int32_t volumeSliceX = 1, volumeSliceY = 1, volumeSliceZ = 1;
    uint8_t colorMapType;
    aShaderObject* intensity2dProgram;
    aShaderObject* intensity3dProgram;
    aShaderObject* intensityGradient2dProgram;
    aShaderObject* intensityGradient3dProgram;
    GLuint transferTexture;
    // Whether the lookup and pre-classified textures hold premultiplied colours.
    bool premultipliedTextures = false;
    GLuint densityLookupTexture = none;
    uint32_t densityLookupSlices = 0;
    float densityLookupDepth = 0.0f;
    bool densityLookupPremultiplied = false;
    GLuint gradientTexture;
    // The loaded volume has no gradient texture: the ray caster computes its
    // gradients from the density texture.
    bool gradientsFromDensities = false;
    uint32_t* histogram;
    uint32_t maxDensity = 0;
    uint8_t blendMode;
    int8_t viewStack;
    uint8_t renderMethod;
    uint8_t classification;
    TransferFunction* transferFunction;
    bool adaptiveStepSize;
    bool lighting;
    float stepSize;
    float maxIntensity;
    // What of the volume every method draws, and how its cuts show.
    CutRegion cut;
    GLuint cutFaceTexture = none;
    aShaderObject* cutFaceProgram = nullptr;
    // The ray caster's offset of every ray's first sample, a share of a step
    // from 0 to 1: 0 for a single frame, another for each frame of a view at
    // rest whose frames are averaged.
    float sampleOffset = 0.0f;
    GLuint cubeList;
    GLuint entryTexture;
    GLuint exitTexture;
    // The framebuffer the entry and exit passes draw into (0 until the first
    // frame), and the size their textures were allocated at.
    GLuint entryExitFramebuffer = 0;
    int entryExitSize[2] = {0, 0};
    aShaderObject* rayCastingProgram;
    // Without a gradient texture, the ray caster built to light the 2, 3 or 4
    // samples of a pass with one gradient, at most 0.375 voxel from each
    // (index: samples - 2).
    aShaderObject* rayCastingSharedPrograms[3];
    // How many samples the step lets share a gradient: 1 (none) to 4.
    int SamplesPerGradient() const;
    // The shaders of the programs, which do not own them.
    std::vector<aVertexShader*> vertexShaders;
    std::vector<aFragmentShader*> fragmentShaders;
    // Opacity of each lookup texel, as uploaded, for the occupancy grid.
    std::vector<uint8_t> transferAlpha;
    // The lookup texels as uploaded, and the ray caster's lookup texture made
    // from them with each opacity corrected for the step (half floats, which
    // keep the small opacities of fine steps), with the step it was made for.
    std::vector<uint8_t> transferTexels;
    GLuint rayTransferTexture = none;
    float rayTransferStep = -1.0f;
    // Density range of every brick of the loaded volume.
    BrickGrid brickGrid;
    // The ray caster's brick occupancy with the distances of empty bricks to
    // occupied ones (unit 5), the window it was built for, and whether the
    // lookup table changed since.
    GLuint occupancyTexture;
    GLfloat rayMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    GLint rayScissor[4] = {0, 0, 0, 0};
    float occupancyWindow = -1.0f;
    bool occupancyStale = true;
};
