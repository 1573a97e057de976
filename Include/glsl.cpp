#include "glsl.h"

#include <GL/glu.h>
#include <GL/glx.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

namespace {
glslProc defaultLookup(const char* name) { return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)); }

glslLookup lookupFunction = defaultLookup;
glslErrorQuery errorQuery = glGetError;
bool glslReady = false;

// The 42 entry points, in lookup order.
const char* const entryPointNames[42] = {
    "glBindAttribLocationARB",
    "glGetActiveAttribARB",
    "glGetAttribLocationARB",
    "glDeleteObjectARB",
    "glGetHandleARB",
    "glDetachObjectARB",
    "glCreateShaderObjectARB",
    "glShaderSourceARB",
    "glCompileShaderARB",
    "glCreateProgramObjectARB",
    "glAttachObjectARB",
    "glLinkProgramARB",
    "glUseProgramObjectARB",
    "glValidateProgramARB",
    "glGetObjectParameterfvARB",
    "glGetObjectParameterivARB",
    "glGetInfoLogARB",
    "glGetAttachedObjectsARB",
    "glGetUniformLocationARB",
    "glGetActiveUniformARB",
    "glGetUniformfvARB",
    "glGetUniformivARB",
    "glGetShaderSourceARB",
    "glUniform1fARB",
    "glUniform2fARB",
    "glUniform3fARB",
    "glUniform4fARB",
    "glUniform1iARB",
    "glUniform2iARB",
    "glUniform3iARB",
    "glUniform4iARB",
    "glUniform1fvARB",
    "glUniform2fvARB",
    "glUniform3fvARB",
    "glUniform4fvARB",
    "glUniform1ivARB",
    "glUniform2ivARB",
    "glUniform3ivARB",
    "glUniform4ivARB",
    "glUniformMatrix2fvARB",
    "glUniformMatrix3fvARB",
    "glUniformMatrix4fvARB",
};

glslProc entryPoints[42] = {};

enum EntryPoint {
    DeleteObject = 3,
    DetachObject = 5,
    CreateShaderObject = 6,
    ShaderSource = 7,
    CompileShader = 8,
    CreateProgramObject = 9,
    AttachObject = 10,
    LinkProgram = 11,
    UseProgramObject = 12,
    GetObjectParameteriv = 15,
    GetInfoLog = 16,
    GetUniformLocation = 18,
    Uniform1f = 23,
    Uniform1i = 27,
};

template <typename Function>
Function call(EntryPoint e)
{
    return reinterpret_cast<Function>(entryPoints[e]);
}

#define GLSL_CHECK() reportGlErrors(__FILE__, __LINE__)

const char* const errorTexts[5] = {
    "(e0000) GLSL not enabled", "(e0001) not a valid program object", "(e0002) not a valid object",
    "(e0003) out of memory",    "(e0004) unknown compiler error",
};

void writeLine(const char* text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Fetches the info log of a shader or program into its log buffer; the
// buffer stays owned by the object.
const char* fetchLog(GLhandleARB handle, char*& buffer, const char* invalidText)
{
    if (!glslReady) {
        return errorTexts[0];
    }
    if (handle == 0) {
        return invalidText;
    }
    GLint length = 0;
    call<PFNGLGETOBJECTPARAMETERIVARBPROC>(GetObjectParameteriv)(handle, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    GLSL_CHECK();
    if (length > 1) {
        delete[] buffer;
        // Zeroed, so that the text ends even if GL writes nothing into it.
        buffer = new (std::nothrow) char[length]();
        if (!buffer) {
            std::fputs("ERROR: Could not allocate compiler_log buffer\n", stdout);
            return errorTexts[3];
        }
        GLsizei written = 0;
        call<PFNGLGETINFOLOGARBPROC>(GetInfoLog)(handle, length, &written, buffer);
        GLSL_CHECK();
    }
    return buffer ? buffer : errorTexts[4];
}
}  // namespace

void setShaderLookup(glslLookup lookup) { lookupFunction = lookup ? lookup : defaultLookup; }

void setErrorQuery(glslErrorQuery query) { errorQuery = query ? query : glGetError; }

bool initShaderSupport()
{
    if (glslReady) {
        return true;
    }
    bool all = true;
    for (int i = 0; i < 42; ++i) {
        entryPoints[i] = lookupFunction(entryPointNames[i]);
        all = all && entryPoints[i] != nullptr;
    }
    glslReady = all;
    return glslReady;
}

bool glslIsReady() { return glslReady; }

bool hasExtension(const char* name)
{
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    return extensions && std::strstr(extensions, name) != nullptr;
}

bool reportGlErrors(const char* file, int line)
{
    bool result = false;
    for (GLenum e = errorQuery(); e != GL_NO_ERROR; e = errorQuery()) {
        // GLU has no text for some codes (it returns null for them).
        const GLubyte* text = gluErrorString(e);
        std::printf("GL Error #%u(%s)  in File %s at line: %d\n", e, text ? reinterpret_cast<const char*>(text) : "",
                    file, line);
        std::fflush(stdout);
        result = true;
    }
    return result;
}

aShaderProgram::aShaderProgram(int kind)
{
    initShaderSupport();
    shaderKind = kind;
    if (glslReady) {
        const GLenum type = kind == 1 ? GL_VERTEX_SHADER_ARB : GL_FRAGMENT_SHADER_ARB;
        shaderObject = call<PFNGLCREATESHADEROBJECTARBPROC>(CreateShaderObject)(type);
        GLSL_CHECK();
    }
}

aVertexShader::aVertexShader() : aShaderProgram(1) {}

aFragmentShader::aFragmentShader() : aShaderProgram(2) {}

aShaderProgram::~aShaderProgram()
{
    delete[] compiler_log;
    if (sourceOwned) {
        delete[] shaderSource;
    }
    if (compiled) {
        call<PFNGLDELETEOBJECTARBPROC>(DeleteObject)(shaderObject);
        GLSL_CHECK();
    }
}

int aShaderProgram::loadSourceFile(const char* path)
{
    // A folder opens as a stream here but has no text to read.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return -1;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return -1;
    }
    std::streamoff length = 0;
    if (file.good()) {
        file.seekg(0, std::ios::end);
        length = file.tellg();
        file.seekg(0, std::ios::beg);
    }
    if (length <= 0) {
        return -2;
    }
    if (sourceOwned) {
        delete[] shaderSource;
        shaderSource = nullptr;
        sourceOwned = false;
    }
    shaderSource = new (std::nothrow) char[size_t(length) + 1];
    if (!shaderSource) {
        return -3;
    }
    sourceOwned = true;
    shaderSource[length] = 0;

    // Read as text on every platform: a CR LF pair becomes one LF, so the
    // count read can stay below the length; it never goes past it.
    std::streamoff i = 0;
    char c;
    while (i < length && file.get(c)) {
        if (c == '\r' && file.peek() == '\n') {
            continue;
        }
        shaderSource[i++] = c;
    }
    shaderSource[i] = 0;
    return 0;
}

void aShaderProgram::defineAfterVersion(const char* name)
{
    const std::string text = shaderSource ? shaderSource : "";
    const size_t lineEnd = text.find('\n');
    const size_t split = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
    const std::string defined = text.substr(0, split) + (lineEnd == std::string::npos ? "\n" : "") + "#define " + name +
                                "\n" + text.substr(split);
    if (sourceOwned) {
        delete[] shaderSource;
    }
    shaderSource = new char[defined.size() + 1];
    std::memcpy(shaderSource, defined.c_str(), defined.size() + 1);
    sourceOwned = true;
}

bool aShaderProgram::compile()
{
    if (!glslReady) {
        return false;
    }
    compiled = false;
    if (!shaderSource) {
        return false;
    }
    const GLcharARB* text = shaderSource;
    const GLint length = static_cast<GLint>(std::strlen(shaderSource));
    call<PFNGLSHADERSOURCEARBPROC>(ShaderSource)(shaderObject, 1, &text, &length);
    GLSL_CHECK();
    call<PFNGLCOMPILESHADERARBPROC>(CompileShader)(shaderObject);
    GLSL_CHECK();
    GLint status = 0;
    call<PFNGLGETOBJECTPARAMETERIVARBPROC>(GetObjectParameteriv)(shaderObject, GL_OBJECT_COMPILE_STATUS_ARB, &status);
    GLSL_CHECK();
    compiled = status != 0;
    return compiled;
}

const char* aShaderProgram::compilerLog() { return fetchLog(shaderObject, compiler_log, errorTexts[1]); }

aShaderObject::aShaderObject()
{
    if (!initShaderSupport()) {
        writeLine("Error initializing OpenGL Shading Language function pointers");
    }
    if (!hasExtension("GL_ARB_shader_objects")) {
        std::fputs("**warning** GL_ARB_shader_objects not defined!!\n", stdout);
    }
    if (!hasExtension("GL_ARB_vertex_shader")) {
        std::fputs("**warning** GL_ARB_vertex_shader not defined!!\n", stdout);
    }
    if (!hasExtension("GL_ARB_fragment_shader")) {
        std::fputs("**warning** GL_ARB_fragment_shader not defined!!\n", stdout);
    }
    if (!hasExtension("GL_ARB_shading_language_100")) {
        std::fputs("**warning** GL_ARB_shading_language_100 not defined!!\n", stdout);
    }
    if (glslReady) {
        programObject = call<PFNGLCREATEPROGRAMOBJECTARBPROC>(CreateProgramObject)();
    }
    linked = false;
}

aShaderObject::~aShaderObject()
{
    delete[] linker_log;
    if (glslReady) {
        for (aShaderProgram* shader : shaderList) {
            call<PFNGLDETACHOBJECTARBPROC>(DetachObject)(programObject, shader->handle());
            GLSL_CHECK();
        }
        call<PFNGLDELETEOBJECTARBPROC>(DeleteObject)(programObject);
        GLSL_CHECK();
    }
}

void aShaderObject::attachShader(aShaderProgram* shader)
{
    if (!glslReady || !shader) {
        return;
    }
    if (!shader->isCompiled()) {
        std::fputs("**warning** please compile program before adding object! trying to compile now...\n", stdout);
        if (!shader->compile()) {
            std::fputs("...compile ERROR!\n", stdout);
            return;
        }
        std::fputs("...ok!\n", stdout);
    }
    shaderList.push_back(shader);
}

bool aShaderObject::link()
{
    if (!glslReady) {
        return false;
    }
    if (linked) {
        writeLine("**warning** Object is already linked, trying to link again");
        for (aShaderProgram* shader : shaderList) {
            call<PFNGLDETACHOBJECTARBPROC>(DetachObject)(programObject, shader->handle());
            GLSL_CHECK();
        }
    }
    for (aShaderProgram* shader : shaderList) {
        call<PFNGLATTACHOBJECTARBPROC>(AttachObject)(programObject, shader->handle());
        GLSL_CHECK();
    }
    call<PFNGLLINKPROGRAMARBPROC>(LinkProgram)(programObject);
    GLSL_CHECK();
    GLint status = 0;
    call<PFNGLGETOBJECTPARAMETERIVARBPROC>(GetObjectParameteriv)(programObject, GL_OBJECT_LINK_STATUS_ARB, &status);
    GLSL_CHECK();
    if (status != 0) {
        linked = true;
        return true;
    }
    std::fputs("**linker error**\n", stdout);
    return false;
}

const char* aShaderObject::linkerLog() { return fetchLog(programObject, linker_log, errorTexts[2]); }

void aShaderObject::bind()
{
    if (glslReady && programObject != 0 && linked) {
        call<PFNGLUSEPROGRAMOBJECTARBPROC>(UseProgramObject)(programObject);
        GLSL_CHECK();
    }
}

void aShaderObject::unbind()
{
    if (glslReady) {
        call<PFNGLUSEPROGRAMOBJECTARBPROC>(UseProgramObject)(0);
        GLSL_CHECK();
    }
}

GLint aShaderObject::uniformLocation(const char* name)
{
    if (!glslReady) {
        return -1;
    }
    const GLint location = call<PFNGLGETUNIFORMLOCATIONARBPROC>(GetUniformLocation)(programObject, name);
    if (location == -1) {
        std::printf("Error: can't find uniform variable \"%s\"\n", name);
        std::fflush(stdout);
    }
    GLSL_CHECK();
    return location;
}

bool aShaderObject::setUniform1f(const char* name, GLfloat value)
{
    if (!glslReady) {
        return false;
    }
    const GLint location = uniformLocation(name);
    if (location == -1) {
        return false;
    }
    call<PFNGLUNIFORM1FARBPROC>(Uniform1f)(location, value);
    return true;
}

bool aShaderObject::setUniform1i(const char* name, GLint value)
{
    if (!glslReady) {
        return false;
    }
    const GLint location = uniformLocation(name);
    if (location == -1) {
        return false;
    }
    call<PFNGLUNIFORM1IARBPROC>(Uniform1i)(location, value);
    return true;
}
