// ctest runs this with MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_float: Mesa
// then refuses the float internal formats (and the NV ones it never had),
// so every candidate of a float colour texture fails.
#include "tests/fbo/FramebufferObjectFields.h"
#include "tests/fbo/GLQueries.h"
#include "tests/support/GLTest.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using I = FramebufferObjectInspector;

class FramebufferObjectWithoutFloatTextures : public GLTest {
protected:
    void SetUp() override {
        const char* override = std::getenv("MESA_EXTENSION_OVERRIDE");
        if (!override || !std::strstr(override, "-GL_ARB_texture_float"))
            GTEST_SKIP() << "run through ctest, which sets MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_float";
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        REQUIRE_GL_EXTENSION("GL_EXT_framebuffer_object");
        REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");
        ASSERT_FALSE(testgl::hasExtension("GL_ARB_texture_float"))
            << "MESA_EXTENSION_OVERRIDE=" << override << " did not hide GL_ARB_texture_float";
    }
};

TEST_F(FramebufferObjectWithoutFloatTextures, theContextRefusesEveryFloatCandidate) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    for (const GLenum format : {GL_RGBA16F_ARB, GL_FLOAT_RGBA16_NV, GL_RGB32F_ARB, GL_FLOAT_RGB32_NV}) {
        SCOPED_TRACE(testing::Message() << "internal format 0x" << std::hex << format);
        glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, format, 4, 4, 0, GL_RGBA, GL_FLOAT, nullptr);
        EXPECT_NE(glGetError(), GLenum(GL_NO_ERROR));
    }
    glDeleteTextures(1, &texture);
}

TEST_F(FramebufferObjectWithoutFloatTextures, floatTargetEndsOnTheArbFormatWithOneStatusLine) {
    const struct {
        const char* mode;
        std::string output;
        GLenum internalFormat;
    } cases[] = {
        {"rgba=16t", "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n", GL_RGBA16F_ARB},
        {"rgba=32t", "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n", GL_RGBA32F_ARB},
        {"rgb=16t", "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n", GL_RGB16F_ARB},
        {"rgb=32t", "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n", GL_RGB32F_ARB},
        // The 8-bit list has one entry, which this context still takes.
        {"rgba=t", "", GL_RGBA8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("mode \"") + c.mode + "\"");
        FramebufferObject f(c.mode);
        bool result = false;
        EXPECT_EQ(fbotest::stdoutOf([&] { result = f.initialize(64, 64); }), c.output);
        EXPECT_TRUE(result);
        EXPECT_TRUE(I::initialized(f));
        EXPECT_EQ(I::colorInternalFormat(f), c.internalFormat);
        EXPECT_TRUE(glIsTexture(f.getColorAttachmentID(0)));
        testgl::drainErrors();
    }
}

}  // namespace
