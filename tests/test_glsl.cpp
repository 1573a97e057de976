#include <GL/glew.h>

#include "TestSupport.h"
#include "glsl.h"

#include <GL/glu.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

// Last, since Xlib's macros would break the headers above; its Display type
// takes the name Display.h gives it.
#define Display QtXlibDisplay
#include <GL/glx.h>
#undef Display

namespace {
const char* const vertexText =
    "void main()\n"
    "{\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "    gl_Position = ftransform();\n"
    "}\n";

// "unused" is declared but never read, so the compiler drops it.
const char* const fragmentText =
    "uniform sampler2D density_tex;\n"
    "uniform float scale;\n"
    "uniform float unused;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = texture2D(density_tex, gl_TexCoord[0].st) * scale;\n"
    "}\n";

const char* const brokenText = "void main()\n{\n    gl_FragColor = no_such_value;\n}\n";

// Compiles on its own; linking fails since shade() is defined nowhere.
const char* const unresolvedText = "vec4 shade();\nvoid main()\n{\n    gl_FragColor = shade();\n}\n";

const std::vector<std::string> entryPointOrder = {
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

std::vector<std::string> lookedUp;

glslProc ContextLookup(const char* name)
{
    lookedUp.push_back(name);
    return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name));
}

glslProc LookupWithoutShaderSource(const char* name)
{
    const glslProc found = ContextLookup(name);
    return std::strcmp(name, "glGetShaderSourceARB") == 0 ? nullptr : found;
}

// Mesa keeps one error flag; raising a second real error once the first has
// been taken gives the queue of a driver that keeps several.
bool secondErrorRaised = false;
GLenum QueryRaisingASecondError()
{
    const GLenum e = glGetError();
    if (e != GL_NO_ERROR && !secondErrorRaised) {
        secondErrorRaised = true;
        glLineWidth(-1.0f);
    }
    return e;
}

// Everything the action writes to standard output, byte for byte.
std::string Captured(const std::function<void()>& action)
{
    std::fflush(stdout);
    char path[] = "/tmp/volren-stdout-XXXXXX";
    const int file = mkstemp(path);
    const int saved = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    action();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(file);
    const std::string text = ReadFile(path);
    unlink(path);
    return text;
}

// The warnings program construction writes for this context's extension string.
std::string ExtensionWarnings()
{
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    std::string warnings;
    for (const char* name :
         {"GL_ARB_shader_objects", "GL_ARB_vertex_shader", "GL_ARB_fragment_shader", "GL_ARB_shading_language_100"}) {
        if (!std::strstr(extensions, name)) {
            warnings += std::string("**warning** ") + name + " not defined!!\n";
        }
    }
    return warnings;
}

std::string ErrorLine(GLenum e, const std::string& file, int line)
{
    return "GL Error #" + std::to_string(e) + "(" + reinterpret_cast<const char*>(gluErrorString(e)) + ")  in File " +
           file + " at line: " + std::to_string(line) + "\n";
}

GLint CurrentProgram()
{
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    return program;
}

std::vector<GLuint> AttachedShaders(GLhandleARB program)
{
    GLuint shaders[8] = {};
    GLsizei count = 0;
    glGetAttachedShaders(program, 8, &count, shaders);
    return std::vector<GLuint>(shaders, shaders + count);
}

std::string DriverShaderLog(GLuint shader)
{
    char log[4096] = {};
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    return log;
}

std::string DriverProgramLog(GLuint program)
{
    char log[4096] = {};
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    return log;
}

// A linked program made with the core entry points, without the toolkit.
GLuint MakeCoreProgram()
{
    const GLuint vertex = glCreateShader(GL_VERTEX_SHADER);
    const GLuint fragment = glCreateShader(GL_FRAGMENT_SHADER);
    const char* texts[2] = {vertexText, "void main() { gl_FragColor = vec4(1.0); }\n"};
    glShaderSource(vertex, 1, &texts[0], nullptr);
    glShaderSource(fragment, 1, &texts[1], nullptr);
    glCompileShader(vertex);
    glCompileShader(fragment);
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    return program;
}

class Glsl : public testing::Test {
protected:
    Glsl() { lookedUp.clear(); }
    ~Glsl() override
    {
        setShaderLookup(nullptr);
        setErrorQuery(nullptr);
    }

    template <typename Shader>
    std::unique_ptr<Shader> Loaded(const std::string& name, const char* text)
    {
        WriteFile(name, text);
        auto shader = std::make_unique<Shader>();
        EXPECT_EQ(shader->loadSourceFile(name.c_str()), 0) << name;
        return shader;
    }

    // A program holding a compiled vertex and fragment shader, not yet linked.
    std::unique_ptr<aShaderObject> Program(aShaderProgram& vertex, aShaderProgram& fragment)
    {
        auto program = std::make_unique<aShaderObject>();
        EXPECT_TRUE(vertex.compile()) << vertex.compilerLog();
        EXPECT_TRUE(fragment.compile()) << fragment.compilerLog();
        program->attachShader(&vertex);
        program->attachShader(&fragment);
        return program;
    }

    ScratchFolder scratch;
    GLWindow window;
};

// These two come first: the toolkit's readiness is process-wide and never
// goes back, and ctest gives every test a process of its own.
TEST_F(Glsl, OneMissingEntryPointDisablesShadersAsAWhole)
{
    if (glslIsReady()) {
        GTEST_SKIP() << "needs a process in which the toolkit is not ready yet";
    }
    setShaderLookup(LookupWithoutShaderSource);
    EXPECT_FALSE(initShaderSupport());
    EXPECT_EQ(lookedUp, entryPointOrder) << "a gap must not stop the lookups";
    lookedUp.clear();
    EXPECT_FALSE(initShaderSupport());
    EXPECT_EQ(lookedUp.size(), 42u) << "a failed attempt is repeated in full";
    EXPECT_FALSE(glslIsReady());

    const std::string expectedConstruction =
        "Error initializing OpenGL Shading Language function pointers\n" + ExtensionWarnings();
    std::unique_ptr<aShaderObject> program;
    EXPECT_EQ(Captured([&] { program = std::make_unique<aShaderObject>(); }), expectedConstruction);
    EXPECT_EQ(Captured([] { aShaderObject another; }), expectedConstruction);
    EXPECT_EQ(program->handle(), 0u);

    const GLuint current = MakeCoreProgram();
    glUseProgram(current);
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    EXPECT_EQ(vertex->handle(), 0u);
    EXPECT_STREQ(vertex->source(), vertexText);

    bool compiled = true, linked = true, setFloat = true, setInt = true;
    GLint location = 0;
    std::string compilerLog, linkerLog;
    const std::string output = Captured([&] {
        compiled = vertex->compile();
        compilerLog = vertex->compilerLog();
        program->attachShader(vertex.get());
        linked = program->link();
        linkerLog = program->linkerLog();
        program->bind();
        program->unbind();
        setFloat = program->setUniform1f("scale", 1.0f);
        setInt = program->setUniform1i("density_tex", 0);
        location = program->uniformLocation("scale");
    });
    EXPECT_EQ(output, "");
    EXPECT_FALSE(compiled);
    EXPECT_FALSE(vertex->isCompiled());
    EXPECT_EQ(compilerLog, "(e0000) GLSL not enabled");
    EXPECT_TRUE(program->shaders().empty());
    EXPECT_FALSE(linked);
    EXPECT_FALSE(program->isLinked());
    EXPECT_EQ(linkerLog, "(e0000) GLSL not enabled");
    EXPECT_EQ(CurrentProgram(), GLint(current)) << "neither bind nor unbind may touch GL";
    EXPECT_FALSE(setFloat);
    EXPECT_FALSE(setInt);
    EXPECT_EQ(location, -1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glUseProgram(0);
    glDeleteProgram(current);
}

TEST_F(Glsl, AllEntryPointsAreLookedUpOnceInTheirOrder)
{
    if (glslIsReady()) {
        GTEST_SKIP() << "needs a process in which the toolkit is not ready yet";
    }
    setShaderLookup(ContextLookup);
    EXPECT_TRUE(initShaderSupport());
    EXPECT_TRUE(glslIsReady());
    EXPECT_EQ(lookedUp, entryPointOrder);

    lookedUp.clear();
    EXPECT_TRUE(initShaderSupport());
    aVertexShader vertex;
    aFragmentShader fragment;
    const std::string output = Captured([] { aShaderObject program; });
    EXPECT_TRUE(lookedUp.empty());
    EXPECT_EQ(output, ExtensionWarnings());
    EXPECT_NE(vertex.handle(), 0u);
    EXPECT_NE(fragment.handle(), 0u);
    EXPECT_EQ(vertex.kind(), 1);
    EXPECT_EQ(fragment.kind(), 2);
}

TEST_F(Glsl, ErrorReportWritesNothingWithoutPendingErrors)
{
    bool reported = true;
    EXPECT_EQ(Captured([&] { reported = reportGlErrors("Volume.cpp", 12); }), "");
    EXPECT_FALSE(reported);
}

TEST_F(Glsl, ErrorReportWritesOneLinePerErrorAndConsumesThem)
{
    glEnable(0xFFFF);
    bool reported = false;
    EXPECT_EQ(Captured([&] { reported = reportGlErrors("Volume.cpp", 12); }),
              ErrorLine(GL_INVALID_ENUM, "Volume.cpp", 12));
    EXPECT_TRUE(reported);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    setErrorQuery(QueryRaisingASecondError);
    glEnable(0xFFFF);
    EXPECT_EQ(
        Captured([&] { reported = reportGlErrors("VolumeRender.cpp", 301); }),
        ErrorLine(GL_INVALID_ENUM, "VolumeRender.cpp", 301) + ErrorLine(GL_INVALID_VALUE, "VolumeRender.cpp", 301));
    EXPECT_TRUE(reported);
    EXPECT_EQ(ErrorLine(GL_INVALID_ENUM, "X", 7), "GL Error #1280(invalid enumerant)  in File X at line: 7\n");
    EXPECT_EQ(Captured([&] { reported = reportGlErrors("VolumeRender.cpp", 302); }), "");
    EXPECT_FALSE(reported);
}

TEST_F(Glsl, ErrorPendingAtAToolkitCallIsReportedThereAndChangesNoResult)
{
    auto shader = Loaded<aVertexShader>("plain.vert", vertexText);
    glEnable(0xFFFF);
    bool compiled = false;
    const std::string output = Captured([&] { compiled = shader->compile(); });
    const std::regex reported("GL Error #1280\\(" + std::string(reinterpret_cast<const char*>(gluErrorString(1280))) +
                              "\\)  in File Include/glsl\\.cpp at line: [0-9]+\n");
    EXPECT_TRUE(std::regex_match(output, reported)) << output;
    EXPECT_TRUE(compiled);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Glsl, LoadSourceFileReturnCodesAndLineEnds)
{
    aFragmentShader shader;
    const std::string output = Captured([&] {
        EXPECT_EQ(shader.loadSourceFile("missing.frag"), -1);
        EXPECT_EQ(shader.source(), nullptr);
        EXPECT_EQ(shader.loadSourceFile(scratch.path().c_str()), -1) << "a folder is no source file";
        WriteFile("empty.frag", "");
        EXPECT_EQ(shader.loadSourceFile("empty.frag"), -2);
        EXPECT_EQ(shader.source(), nullptr);

        WriteFile("lf.frag", "\n");
        EXPECT_EQ(shader.loadSourceFile("lf.frag"), 0);
        EXPECT_STREQ(shader.source(), "\n");
        WriteFile("crlf.frag", "\r\n");
        EXPECT_EQ(shader.loadSourceFile("crlf.frag"), 0);
        EXPECT_STREQ(shader.source(), "\n");
        WriteFile("mixed.frag", "a\r\nb\rc\r\n\r");
        EXPECT_EQ(shader.loadSourceFile("mixed.frag"), 0);
        EXPECT_STREQ(shader.source(), "a\nb\rc\n\r") << "only CR LF pairs are translated";

        WriteFile("plain.frag", fragmentText);
        EXPECT_EQ(shader.loadSourceFile("plain.frag"), 0);
        EXPECT_STREQ(shader.source(), fragmentText);
        EXPECT_EQ(shader.loadSourceFile("missing.frag"), -1);
        EXPECT_EQ(shader.loadSourceFile("empty.frag"), -2);
        EXPECT_STREQ(shader.source(), fragmentText) << "a failed load keeps the text";
    });
    EXPECT_EQ(output, "");
    EXPECT_FALSE(shader.isCompiled());
    EXPECT_TRUE(shader.compile());
}

TEST_F(Glsl, CompileWithoutSourceFails)
{
    aVertexShader shader;
    EXPECT_FALSE(shader.compile());
    EXPECT_FALSE(shader.isCompiled());
    EXPECT_STREQ(shader.compilerLog(), "(e0004) unknown compiler error");
}

TEST_F(Glsl, CompilerLogGivesTheDriversLogAndKeepsIt)
{
    auto shader = Loaded<aFragmentShader>("broken.frag", brokenText);
    std::string first;
    const std::string output = Captured([&] {
        EXPECT_FALSE(shader->compile());
        first = shader->compilerLog();
    });
    EXPECT_EQ(output, "");
    EXPECT_FALSE(shader->isCompiled());
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, DriverShaderLog(shader->handle()));

    // Mesa skips compiling a text it has cached, and then keeps the old log;
    // a text of its own makes it compile and report an empty log.
    const std::string fresh =
        fragmentText + ("// " + std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + "\n");
    WriteFile("fresh.frag", fresh);
    ASSERT_EQ(shader->loadSourceFile("fresh.frag"), 0);
    EXPECT_TRUE(shader->compile());
    GLint length = 0;
    glGetShaderiv(shader->handle(), GL_INFO_LOG_LENGTH, &length);
    ASSERT_LE(length, 1) << "the driver should report no log for a clean shader";
    EXPECT_EQ(shader->compilerLog(), first);

    auto clean = Loaded<aFragmentShader>("plain.frag", fragmentText);
    EXPECT_TRUE(clean->compile());
    EXPECT_STREQ(clean->compilerLog(), "(e0004) unknown compiler error");
}

TEST_F(Glsl, LinkFailureWritesLinkerErrorAndGivesTheDriversLog)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto fragment = Loaded<aFragmentShader>("unresolved.frag", unresolvedText);
    auto program = Program(*vertex, *fragment);
    EXPECT_STREQ(program->linkerLog(), "(e0004) unknown compiler error");
    bool linked = true;
    EXPECT_EQ(Captured([&] { linked = program->link(); }), "**linker error**\n");
    EXPECT_FALSE(linked);
    EXPECT_FALSE(program->isLinked());
    const std::string log = program->linkerLog();
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(log, DriverProgramLog(program->handle()));
}

TEST_F(Glsl, AttachShaderCompilesWhatIsNotCompiledYet)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto broken = Loaded<aFragmentShader>("broken.frag", brokenText);
    auto fragment = Loaded<aFragmentShader>("plain.frag", fragmentText);
    aShaderObject program;
    const std::string warning = "**warning** please compile program before adding object! trying to compile now...\n";

    EXPECT_EQ(Captured([&] { program.attachShader(vertex.get()); }), warning + "...ok!\n");
    EXPECT_TRUE(vertex->isCompiled());
    EXPECT_EQ(Captured([&] { program.attachShader(broken.get()); }), warning + "...compile ERROR!\n");
    EXPECT_EQ(program.shaders(), std::vector<aShaderProgram*>{vertex.get()});

    ASSERT_TRUE(fragment->compile());
    EXPECT_EQ(Captured([&] { program.attachShader(fragment.get()); }), "");
    EXPECT_EQ(Captured([&] { program.attachShader(nullptr); }), "");
    const std::vector<aShaderProgram*> listed{vertex.get(), fragment.get()};
    EXPECT_EQ(program.shaders(), listed);
    EXPECT_TRUE(AttachedShaders(program.handle()).empty()) << "GL attachment waits for link";

    EXPECT_TRUE(program.link());
    const std::vector<GLuint> attached{vertex->handle(), fragment->handle()};
    EXPECT_EQ(AttachedShaders(program.handle()), attached);
}

TEST_F(Glsl, SecondLinkWarnsOnceAndAttachesEachShaderAgain)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto fragment = Loaded<aFragmentShader>("plain.frag", fragmentText);
    auto program = Program(*vertex, *fragment);
    bool linked = false;
    EXPECT_EQ(Captured([&] { linked = program->link(); }), "");
    EXPECT_TRUE(linked);

    // Attaching a shader that is still attached is a GL error, which would
    // show here as a "GL Error #" line.
    const std::string warning = "**warning** Object is already linked, trying to link again\n";
    EXPECT_EQ(Captured([&] { linked = program->link(); }), warning);
    EXPECT_TRUE(linked);
    const std::vector<GLuint> attached{vertex->handle(), fragment->handle()};
    EXPECT_EQ(AttachedShaders(program->handle()), attached);
    EXPECT_EQ(Captured([&] { linked = program->link(); }), warning);
    EXPECT_EQ(AttachedShaders(program->handle()), attached);
}

TEST_F(Glsl, FailedRelinkKeepsTheProgramMarkedLinked)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto fragment = Loaded<aFragmentShader>("plain.frag", fragmentText);
    auto program = Program(*vertex, *fragment);
    ASSERT_TRUE(program->link());
    program->bind();
    ASSERT_EQ(CurrentProgram(), GLint(program->handle()));

    WriteFile("unresolved.frag", unresolvedText);
    ASSERT_EQ(fragment->loadSourceFile("unresolved.frag"), 0);
    ASSERT_TRUE(fragment->compile());
    bool linked = true;
    EXPECT_EQ(Captured([&] { linked = program->link(); }),
              "**warning** Object is already linked, trying to link again\n**linker error**\n");
    EXPECT_FALSE(linked);
    EXPECT_TRUE(program->isLinked());
    EXPECT_EQ(CurrentProgram(), GLint(program->handle())) << "GL keeps the executable in use";

    // bind still asks GL; GL refuses a program whose last link failed, and
    // the toolkit reports that.
    program->unbind();
    const std::string output = Captured([&] { program->bind(); });
    const std::regex refused("GL Error #1282\\(" + std::string(reinterpret_cast<const char*>(gluErrorString(1282))) +
                             "\\)  in File Include/glsl\\.cpp at line: [0-9]+\n");
    EXPECT_TRUE(std::regex_match(output, refused)) << output;
}

TEST_F(Glsl, BindOfAProgramThatNeverLinkedKeepsTheCurrentOne)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto fragment = Loaded<aFragmentShader>("plain.frag", fragmentText);
    auto linked = Program(*vertex, *fragment);
    auto unlinked = Program(*vertex, *fragment);
    ASSERT_TRUE(linked->link());
    linked->bind();
    EXPECT_EQ(CurrentProgram(), GLint(linked->handle()));

    EXPECT_EQ(Captured([&] { unlinked->bind(); }), "");
    EXPECT_EQ(CurrentProgram(), GLint(linked->handle()));
    unlinked->unbind();
    EXPECT_EQ(CurrentProgram(), 0);
    unlinked->bind();
    EXPECT_EQ(CurrentProgram(), 0);
}

TEST_F(Glsl, UniformsAreSetByNameOnTheBoundProgram)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto fragment = Loaded<aFragmentShader>("plain.frag", fragmentText);
    auto program = Program(*vertex, *fragment);
    ASSERT_TRUE(program->link());
    program->bind();

    bool set = true;
    const std::string missing = "Error: can't find uniform variable \"unused\"\n";
    EXPECT_EQ(Captured([&] { set = program->setUniform1f("unused", 1.0f); }), missing);
    EXPECT_FALSE(set);
    EXPECT_EQ(Captured([&] { set = program->setUniform1i("unused", 1); }), missing);
    EXPECT_FALSE(set);
    GLint location = 0;
    EXPECT_EQ(Captured([&] { location = program->uniformLocation("unused"); }), missing);
    EXPECT_EQ(location, -1);

    const GLint sampler = glGetUniformLocation(program->handle(), "density_tex");
    const GLint scale = glGetUniformLocation(program->handle(), "scale");
    ASSERT_NE(sampler, -1);
    ASSERT_NE(scale, -1);
    EXPECT_EQ(Captured([&] { set = program->setUniform1i("density_tex", 3); }), "");
    EXPECT_TRUE(set);
    GLint unit = -1;
    glGetUniformiv(program->handle(), sampler, &unit);
    EXPECT_EQ(unit, 3);
    EXPECT_EQ(Captured([&] { set = program->setUniform1i("density_tex", 0); }), "");
    EXPECT_TRUE(set);
    glGetUniformiv(program->handle(), sampler, &unit);
    EXPECT_EQ(unit, 0);

    EXPECT_EQ(Captured([&] { set = program->setUniform1f("scale", 0.25f); }), "");
    EXPECT_TRUE(set);
    GLfloat value = 0.0f;
    glGetUniformfv(program->handle(), scale, &value);
    EXPECT_EQ(value, 0.25f);
    EXPECT_EQ(program->uniformLocation("scale"), scale);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Glsl, DestroyingAProgramLeavesItsShaders)
{
    auto vertex = Loaded<aVertexShader>("plain.vert", vertexText);
    auto fragment = Loaded<aFragmentShader>("plain.frag", fragmentText);
    auto program = Program(*vertex, *fragment);
    ASSERT_TRUE(program->link());
    const GLhandleARB programHandle = program->handle();
    EXPECT_EQ(Captured([&] { program.reset(); }), "");
    EXPECT_FALSE(glIsProgram(programHandle));

    const std::vector<const aShaderProgram*> shaders{vertex.get(), fragment.get()};
    for (const aShaderProgram* shader : shaders) {
        EXPECT_TRUE(glIsShader(shader->handle()));
        GLint flagged = GL_TRUE;
        glGetObjectParameterivARB(shader->handle(), GL_OBJECT_DELETE_STATUS_ARB, &flagged);
        EXPECT_EQ(flagged, GL_FALSE);
        EXPECT_TRUE(shader->isCompiled());
    }
    aShaderObject again;
    again.attachShader(vertex.get());
    again.attachShader(fragment.get());
    EXPECT_TRUE(again.link());
}

TEST_F(Glsl, DestroyingAShaderDeletesItsObjectOnlyOnceCompiled)
{
    auto compiled = Loaded<aVertexShader>("plain.vert", vertexText);
    auto broken = Loaded<aFragmentShader>("broken.frag", brokenText);
    ASSERT_TRUE(compiled->compile());
    ASSERT_FALSE(broken->compile());
    const GLhandleARB compiledHandle = compiled->handle();
    const GLhandleARB brokenHandle = broken->handle();
    EXPECT_EQ(Captured([&] {
                  compiled.reset();
                  broken.reset();
              }),
              "");
    EXPECT_FALSE(glIsShader(compiledHandle));
    EXPECT_TRUE(glIsShader(brokenHandle));
    glDeleteShader(brokenHandle);
}
}  // namespace
