#pragma once

// A small layer over the ARB shader-object entry points: lookup of the entry
// points, shaders and linked programs with their logs, and uniform access.
// It depends on the OpenGL headers and the C++ standard library only, and
// writes its messages to standard output.

#include <GL/gl.h>
#include <GL/glext.h>

#include <vector>

// The function that finds an entry point by name; by default the GLX lookup
// of the current context.
typedef void (*glslProc)();
typedef glslProc (*glslLookup)(const char* name);

void setShaderLookup(glslLookup lookup);

// The function that takes the next pending OpenGL error off the queue;
// glGetError by default. A driver that keeps a single error flag never holds
// two errors at once, so tests put a query here that raises the second one.
typedef GLenum (*glslErrorQuery)();
void setErrorQuery(glslErrorQuery query);

bool initShaderSupport();
bool glslIsReady();
bool hasExtension(const char* name);
bool reportGlErrors(const char* file, int line);

class aShaderProgram {
public:
    ~aShaderProgram();
    aShaderProgram(const aShaderProgram&) = delete;
    aShaderProgram& operator=(const aShaderProgram&) = delete;

    int loadSourceFile(const char* path);
    // Adds "#define name" after the source's first line (its #version line).
    void defineAfterVersion(const char* name);
    bool compile();
    const char* compilerLog();

    int kind() const { return shaderKind; }
    GLhandleARB handle() const { return shaderObject; }
    const char* source() const { return shaderSource; }
    bool isCompiled() const { return compiled; }

protected:
    explicit aShaderProgram(int kind);

private:
    int shaderKind = 0;
    GLhandleARB shaderObject = 0;
    char* shaderSource = nullptr;
    char* compiler_log = nullptr;
    bool compiled = false;
    bool sourceOwned = false;
};

class aVertexShader : public aShaderProgram {
public:
    aVertexShader();
};

class aFragmentShader : public aShaderProgram {
public:
    aFragmentShader();
};

class aShaderObject {
public:
    aShaderObject();
    ~aShaderObject();
    aShaderObject(const aShaderObject&) = delete;
    aShaderObject& operator=(const aShaderObject&) = delete;

    void attachShader(aShaderProgram* shader);
    bool link();
    const char* linkerLog();
    void bind();
    void unbind();
    GLint uniformLocation(const char* name);
    bool setUniform1f(const char* name, GLfloat value);
    bool setUniform1i(const char* name, GLint value);

    GLhandleARB handle() const { return programObject; }
    bool isLinked() const { return linked; }
    const std::vector<aShaderProgram*>& shaders() const { return shaderList; }

private:
    GLhandleARB programObject = 0;
    char* linker_log = nullptr;
    bool linked = false;
    std::vector<aShaderProgram*> shaderList;
};
