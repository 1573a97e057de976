// The shader set: the programs built from the files in Shaders/.
#include "VolumeRenderer.h"

#include <string>

#include "Log.h"
#include "glsl.h"

namespace {
void DeleteProgram(aShaderObject*& program)
{
    delete program;
    program = nullptr;
}
}  // namespace

void VolumeRenderer::DeleteShaders()
{
    DeleteProgram(intensity2dProgram);
    DeleteProgram(intensity3dProgram);
    DeleteProgram(intensityGradient2dProgram);
    DeleteProgram(intensityGradient3dProgram);
    DeleteProgram(rayCastingProgram);
    DeleteProgram(cutFaceProgram);
    for (aShaderObject*& program : rayCastingSharedPrograms) {
        DeleteProgram(program);
    }
    for (aVertexShader* shader : vertexShaders) {
        delete shader;
    }
    vertexShaders.clear();
    for (aFragmentShader* shader : fragmentShaders) {
        delete shader;
    }
    fragmentShaders.clear();
}

namespace {
const char* const programNames[5] = {
    "ColorMap_Intensity_2d",
    "ColorMap_Intensity_3d",
    "ColorMap_IntensityGradient_2d",
    "ColorMap_IntensityGradient_3d",
    "RayCasting",
};
}  // namespace

void VolumeRenderer::LoadShaders()
{
    DeleteShaders();
    intensity2dProgram = new aShaderObject();
    intensity3dProgram = new aShaderObject();
    intensityGradient2dProgram = new aShaderObject();
    intensityGradient3dProgram = new aShaderObject();
    rayCastingProgram = new aShaderObject();
    cutFaceProgram = new aShaderObject();
    const std::string cutFace = std::string(basePath ? basePath : "") + "Shaders/CutFace";
    LoadShaderProgram(cutFaceProgram, (cutFace + ".vert").c_str(), (cutFace + ".frag").c_str());

    aShaderObject* const programs[5] = {intensity2dProgram, intensity3dProgram, intensityGradient2dProgram,
                                        intensityGradient3dProgram, rayCastingProgram};
    for (int i = 0; i < 5; ++i) {
        const std::string base = std::string(basePath ? basePath : "") + "Shaders/" + programNames[i];
        const std::string fragmentPath = base + ".frag";
        const std::string vertexPath = base + ".vert";
        // A volume without a gradient texture gets the ray caster that takes
        // its gradients from the densities, chosen when the shader is built:
        // a software rasteriser runs both sides of a branch on a uniform.
        if (programs[i] != rayCastingProgram) {
            LoadShaderProgram(programs[i], vertexPath.c_str(), fragmentPath.c_str());
            continue;
        }
        // Without a gradient texture, gradients cost six fetches each: builds
        // whose passes of 2, 3 or 4 samples share one, for fine steps.
        if (!gradientsFromDensities) {
            LoadShaderProgram(programs[i], vertexPath.c_str(), fragmentPath.c_str());
            continue;
        }
        LoadShaderProgram(programs[i], vertexPath.c_str(), fragmentPath.c_str(), {"GRADIENTS_FROM_DENSITIES"});
        const char* const samples[3] = {"SAMPLES_PER_PASS 2", "SAMPLES_PER_PASS 3", "SAMPLES_PER_PASS 4"};
        for (int shared = 0; shared < 3; ++shared) {
            rayCastingSharedPrograms[shared] = new aShaderObject();
            LoadShaderProgram(rayCastingSharedPrograms[shared], vertexPath.c_str(), fragmentPath.c_str(),
                              {"GRADIENTS_FROM_DENSITIES", "SHARED_GRADIENTS", samples[shared]});
        }
    }
}

bool VolumeRenderer::LoadShaderProgram(aShaderObject* program, const char* vertexPath, const char* fragmentPath,
                                       std::initializer_list<const char*> defines)
{
    // Programs do not own their shaders: the renderer frees them after the programs.
    aVertexShader* vertexShader = new aVertexShader();
    aFragmentShader* fragmentShader = new aFragmentShader();
    vertexShaders.push_back(vertexShader);
    fragmentShaders.push_back(fragmentShader);
    if (vertexShader->loadSourceFile(vertexPath) != 0) {
        LogFailed("Unable to load vertex shader!");
    }
    if (fragmentShader->loadSourceFile(fragmentPath) != 0) {
        LogFailed("Unable to load fragment shader!");
    }
    for (const char* define : defines) {
        fragmentShader->defineAfterVersion(define);
    }
    if (!vertexShader->compile()) {
        LogFailed(vertexShader->compilerLog());
    }
    if (!fragmentShader->compile()) {
        LogFailed(fragmentShader->compilerLog());
    }
    program->attachShader(vertexShader);
    program->attachShader(fragmentShader);
    if (!program->link()) {
        LogFailed(program->linkerLog());
    }
    return true;
}
