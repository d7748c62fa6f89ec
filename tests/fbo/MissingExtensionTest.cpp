// Built once per hidden extension; ctest runs each with MESA_EXTENSION_OVERRIDE
// set so that Mesa does not offer it. GLEW then leaves that extension's entry
// points null, so any call through one would crash the test.
#include "tests/fbo/FramebufferObjectFields.h"
#include "tests/support/GLTest.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(HIDE_FRAMEBUFFER_OBJECT)
#define SUITE FramebufferObjectWithoutFramebufferObjects
#define HIDDEN_EXTENSION "GL_EXT_framebuffer_object"
#elif defined(HIDE_FRAGMENT_PROGRAM)
#define SUITE FramebufferObjectWithoutFragmentPrograms
#define HIDDEN_EXTENSION "GL_ARB_fragment_program"
#else
#error "define HIDE_FRAMEBUFFER_OBJECT or HIDE_FRAGMENT_PROGRAM"
#endif

namespace {

using I = FramebufferObjectInspector;

class SUITE : public GLTest {
protected:
    void SetUp() override {
        const char* override = std::getenv("MESA_EXTENSION_OVERRIDE");
        if (!override || !std::strstr(override, "-" HIDDEN_EXTENSION))
            GTEST_SKIP() << "run through ctest, which sets MESA_EXTENSION_OVERRIDE=-" HIDDEN_EXTENSION;
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_FALSE(testgl::hasExtension(HIDDEN_EXTENSION))
            << "MESA_EXTENSION_OVERRIDE=" << override << " did not hide " HIDDEN_EXTENSION;
    }

    // The lines initialize owes this context: one per missing extension it
    // checks, in its order. Mesa hides more than the one asked for when
    // that one is among those it always offers.
    static std::string expectedLines() {
        std::string lines;
        if (!testgl::hasExtension("GL_EXT_framebuffer_object"))
            lines += "ERROR: FramebufferObject - GL_EXT_framebuffer_object not supported!\n";
        if (!testgl::hasExtension("GL_EXT_packed_depth_stencil"))
            lines += "ERROR: FramebufferObject - GL_EXT_packed_depth_stencil not supported!\n";
        if (!testgl::hasExtension("GL_EXT_multi_draw_arrays"))
            lines += "ERROR: FramebufferObject - GLEW_EXT_multi_draw_arrays not supported!\n";
        return lines;
    }
};

TEST_F(SUITE, initializeReportsAndReturnsFalseLeavingNothingBuilt) {
#if defined(HIDE_FRAMEBUFFER_OBJECT)
    EXPECT_TRUE(expectedLines().find("GL_EXT_framebuffer_object") != std::string::npos);
#endif
    for (const char* mode : {"rgba=16t", "rgba=t depth=24t stencil", "rgba"}) {
        SCOPED_TRACE(std::string("mode \"") + mode + "\"");
        {
            FramebufferObject f(mode);
            testing::internal::CaptureStdout();
            const bool first = f.initialize(32, 16);
            const bool again = f.reinitialize(8, 8, "rgb=32t");
            EXPECT_EQ(testing::internal::GetCapturedStdout(), expectedLines() + expectedLines());
            EXPECT_FALSE(first);
            EXPECT_FALSE(again);
            EXPECT_FALSE(I::initialized(f));
            EXPECT_FALSE(I::everInitialized(f));
            EXPECT_FALSE(I::passThroughProgramCreated(f));
            EXPECT_EQ(I::passThroughProgramID(f), 0u);
            EXPECT_EQ(I::framebufferID(f), 0u);
            EXPECT_EQ(f.getColorAttachmentID(0), 0u);
            EXPECT_EQ(I::depthAttachmentID(f), 0u);
            // reinitialize on an unbuilt object does not apply its mode.
            EXPECT_NE(I::colorMode(f), FramebufferObject::RGB32F);
            EXPECT_EQ(f.getWidth(), 8u);
        }
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

TEST_F(SUITE, bindAndUnbindStillSetAndRestoreTheViewport) {
    using Viewport = std::array<GLint, 4>;
    const auto viewport = [] {
        Viewport v{};
        glGetIntegerv(GL_VIEWPORT, v.data());
        return v;
    };
    for (const bool usePassThrough : {true, false}) {
        SCOPED_TRACE(usePassThrough ? "bind(true)" : "bind(false)");
        FramebufferObject f("rgba=16t");
        testing::internal::CaptureStdout();
        EXPECT_FALSE(f.initialize(64, 32));
        testing::internal::GetCapturedStdout();
        glViewport(3, 4, 100, 50);
        f.bind(usePassThrough);
        EXPECT_EQ(viewport(), (Viewport{0, 0, 64, 32}));
        if (testgl::hasExtension("GL_ARB_fragment_program")) {
            EXPECT_FALSE(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
        }
        f.unbind(usePassThrough);
        EXPECT_EQ(viewport(), (Viewport{3, 4, 100, 50}));
        // Switching a program this context lacks would leave GL_INVALID_ENUM.
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

}  // namespace
