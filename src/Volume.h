#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <vector>

#include "BrickGrid.h"
#include "Vec3.h"

class Display;
class TransferFunction;
class aShaderObject;
class aVertexShader;
class aFragmentShader;

// The one renderer: it holds the loaded volume, every OpenGL resource made from
// it, the five shader programs and every rendering parameter. Its operations
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

    bool IsLoaded() const { return densities != nullptr && transferFunction != nullptr; }
    void Load(const char* fileName);
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

    // Steps of loading, texture building and drawing; public so that tests can
    // check each on its own.
    void SetupLighting();
    // Frees the density grid, the histogram and the gradient buffer.
    void ReleaseVolumeData();
    void BuildCubeList();
    void LoadShaders();
    bool LoadShaderProgram(aShaderObject* program, const char* vertexPath, const char* fragmentPath);
    void DeleteShaders();
    void ReadVolumeData(const char* fileName);
    void ReadDensities(const char* fileName);
    void ComputeHistogram();
    static float* ComputeGradients(const uint16_t* densities, float divisor, uint32_t texDimX,
                                   uint32_t texDimY, uint32_t texDimZ);
    void BuildGradientTexture(const float* gradients);
    void BuildTransferTexture();
    void DeleteSliceTextures();
    void BuildSliceTextures(const uint16_t* grid);
    void BuildClassifiedSliceTextures(const uint32_t* grid);
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

    Display* display;
    const char* basePath;
    uint32_t dimX = 0, dimY = 0, dimZ = 0;
    uint32_t texDimX = 0, texDimY = 0, texDimZ = 0;
    float texCoordMaxX, texCoordMaxY, texCoordMaxZ;
    uint16_t* densities;
    // Each stack keeps the names it was built with; empty means none.
    std::vector<GLuint> sliceTexturesX, sliceTexturesY, sliceTexturesZ;
    GLuint volumeTexture;
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
    float* gradients;
    GLuint gradientTexture;
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
    GLuint cubeList;
    GLuint entryTexture;
    GLuint exitTexture;
    aShaderObject* rayCastingProgram;
    // The shaders of the five programs, which do not own them.
    std::vector<aVertexShader*> vertexShaders;
    std::vector<aFragmentShader*> fragmentShaders;
    // Read-back buffer of the entry and exit passes, kept between frames.
    std::vector<uint8_t> readBack;
    // Opacity of each lookup texel, as uploaded, for the occupancy grid.
    std::vector<uint8_t> transferAlpha;
    // Density range of every brick of the loaded volume.
    BrickGrid brickGrid;
    // The ray caster's brick occupancy (unit 5), the window it was built for,
    // and whether the lookup table changed since.
    GLuint occupancyTexture;
    GLfloat rayMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    GLint rayScissor[4] = {0, 0, 0, 0};
    float occupancyWindow = -1.0f;
    bool occupancyStale = true;
};
