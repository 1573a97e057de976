#include <GL/glew.h>

#include <gtest/gtest.h>

#include <cmath>
#include <malloc.h>
#include <set>
#include <string_view>
#include <vector>

#include "Display.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "VolumeRenderer.h"

namespace {
// Bytes the allocator has handed out and not had back, in every arena and in
// blocks of their own. The resident size moves by megabytes as freed blocks
// fragment the heap, without a leak.
long AllocatedKilobytes()
{
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

// Texture names that are alive now, among all names ever seen.
std::set<GLuint> LiveTextures(GLuint highest)
{
    std::set<GLuint> live;
    for (GLuint name = 1; name <= highest; ++name) {
        if (glIsTexture(name)) {
            live.insert(name);
        }
    }
    return live;
}
}  // namespace

// Every method, classification, colour map, blend mode and view stack in turn,
// with transfer-function changes between them, frame after frame as the
// program's frame loop draws them. Any OpenGL error ends the process through
// the renderer's own check, which fails the test.
TEST(LongRun, CyclesEveryModeWithoutLeaks)
{
    ScratchFolder scratch;
    GLWindow gl(96, 96);
    WriteVolume(scratch.Path("ball.dat"), 24, 20, 12, [](uint32_t x, uint32_t y, uint32_t z) {
        const float r = std::hypot(float(x) - 12.0f, float(y) - 10.0f, (float(z) - 6.0f) * 1.5f);
        return uint16_t(r < 9.0f ? 3000 - uint32_t(r * 250.0f) : 0);
    });
    const std::string base = ProgramFolder();
    TransferFunction tf;
    tf.AddSample(0, 255, 0);
    tf.AddSample(1, 128, 0);
    tf.AddSample(2, 64, 0);
    tf.AddSample(3, 0, 0);
    tf.AddSample(3, 200, 3000);
    VolumeRenderer renderer(&gl.display, base.c_str(), &tf);
    renderer.Load(scratch.Path("ball.dat").c_str());

    const int cycles = 24;
    long allocatedAfterWarmUp = 0;
    std::set<GLuint> texturesAfterFirst;
    GLuint highestName = 0;
    // Each frame's picture in the first cycle, by its place in the cycle; every
    // later cycle must draw the same ones.
    std::vector<size_t> firstPictures;
    int changed = 0;
    size_t frames = 0;
    std::vector<uint8_t> pixels(96 * 96 * 4);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (uint8_t method = 0; method < 3; ++method) {
            renderer.SetRenderMethod(method);
            for (uint8_t classification = 0; classification < 3; ++classification) {
                renderer.SetClassification(classification);
                for (uint8_t colorMap = 0; colorMap < 2; ++colorMap) {
                    renderer.SetColorMapType(colorMap);
                    // A changed function, as after the editor closes.
                    tf.Channel(3).back().value = uint8_t(150 + 20 * colorMap + classification);
                    renderer.UpdateTransferFunction();
                    for (uint8_t blend = 0; blend < 4; ++blend) {
                        renderer.SetBlendMode(blend);
                        for (int8_t stack = 0; stack < 6; ++stack) {
                            renderer.SetViewStack(stack);
                            gl.display.Clear();
                            glTranslatef(0.0f, 0.0f, -60.0f);
                            renderer.Render();
                            glReadPixels(0, 0, 96, 96, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
                            const size_t picture = std::hash<std::string_view>()(
                                std::string_view(reinterpret_cast<const char*>(pixels.data()), pixels.size()));
                            const size_t frame = frames++ % 432;
                            if (cycle == 0) {
                                firstPictures.push_back(picture);
                            } else {
                                changed += picture != firstPictures[frame];
                            }
                            gl.display.Swap();
                        }
                    }
                }
            }
        }
        highestName = std::max({highestName, renderer.volumeTexture, renderer.transferTexture, renderer.gradientTexture,
                                renderer.entryTexture, renderer.exitTexture});
        for (GLuint name : renderer.sliceTexturesX) {
            highestName = std::max(highestName, name);
        }
        // Mesa compiles and caches its own state variants during the first
        // two cycles, and its caches fill for some more; in the second half
        // nothing may grow.
        if (cycle == 1) {
            texturesAfterFirst = LiveTextures(highestName + 64);
        } else if (cycle > 1) {
            EXPECT_EQ(LiveTextures(highestName + 64).size(), texturesAfterFirst.size()) << "after cycle " << cycle;
        }
        if (cycle == cycles / 2 - 1) {
            allocatedAfterWarmUp = AllocatedKilobytes();
        }
    }
    ASSERT_EQ(firstPictures.size(), 432u);
    EXPECT_EQ(changed, 0) << "frames drawn otherwise than in the first cycle";
    // The settings change the picture, so a frame drawn wrong would show.
    EXPECT_GT(std::set<size_t>(firstPictures.begin(), firstPictures.end()).size(), 30u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // A leak of 200 bytes a frame over the 5184 frames of the second half
    // exceeds a megabyte.
    const long growth = AllocatedKilobytes() - allocatedAfterWarmUp;
    EXPECT_TRUE(underAddressSanitizer || growth < 1024)
        << "allocated memory grew by " << growth << " KiB after the warm-up";
}
