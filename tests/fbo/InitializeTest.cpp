// Creating a render target on a real context (Mesa under Xvfb in CI).
#include "tests/fbo/FramebufferObjectFields.h"
#include "tests/fbo/GLQueries.h"
#include "tests/support/GLTest.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using I = FramebufferObjectInspector;
using namespace fbotest;

const std::string depthStencilWarning =
    "WARNING: reset internal depth attachment format to 24 Bit [GL_DEPTH_STENCIL_EXT], otherwise stencil "
    "attachment won't work!\n";
const std::string stencilWithoutDepthError =
    "ERROR: FBO stencil attachment is currently only supported in combination with a depth attachment: 24 Bit "
    "depth attachment + 8 Bit stencil attachment. See EXT_packed_depth_stencil specifications for details!\n";

class FramebufferObjectInitialize : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        REQUIRE_GL_EXTENSION("GL_EXT_framebuffer_object");
        REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");
        REQUIRE_GL_EXTENSION("GL_ARB_texture_rectangle");
    }
};

TEST_F(FramebufferObjectInitialize, halfFloatTextureCompletesAtFirstCandidateAndPrintsNothing) {
    REQUIRE_GL_EXTENSION("GL_ARB_texture_float");
    // Texture state of the caller, which initialize must give back.
    GLuint callersTexture = 0;
    glGenTextures(1, &callersTexture);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, callersTexture);
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    FramebufferObject f;
    bool result = false;
    EXPECT_EQ(stdoutOf([&] { result = f.initialize(64, 64); }), "");
    EXPECT_TRUE(result);
    EXPECT_TRUE(I::initialized(f));
    EXPECT_TRUE(I::everInitialized(f));
    EXPECT_EQ(I::colorInternalFormat(f), GLenum(GL_RGBA16F_ARB));
    EXPECT_EQ(I::lastFramebufferStatus(), GLenum(GL_FRAMEBUFFER_COMPLETE_EXT));
    EXPECT_EQ(I::colorAttachmentCount(f), 1);
    EXPECT_EQ(I::maxDrawBuffers(f), integer(GL_MAX_DRAW_BUFFERS_ARB));
    EXPECT_EQ(f.getWidth(), 64u);
    EXPECT_EQ(f.getHeight(), 64u);

    const GLuint texture = f.getColorAttachmentID(0);
    ASSERT_TRUE(glIsTexture(texture));
    EXPECT_EQ(attachmentParameter(I::framebufferID(f), GL_COLOR_ATTACHMENT0_EXT,
                                  GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT),
              GL_TEXTURE);
    EXPECT_EQ(GLuint(attachmentParameter(I::framebufferID(f), GL_COLOR_ATTACHMENT0_EXT,
                                         GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT)),
              texture);
    EXPECT_EQ(rectangleLevel(texture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F_ARB);
    EXPECT_EQ(rectangleLevel(texture, GL_TEXTURE_WIDTH), 64);
    EXPECT_EQ(rectangleLevel(texture, GL_TEXTURE_HEIGHT), 64);
    EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(framebufferStatus(I::framebufferID(f)), GLenum(GL_FRAMEBUFFER_COMPLETE_EXT));

    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING_EXT), 0);
    EXPECT_EQ(GLuint(integer(GL_TEXTURE_BINDING_RECTANGLE_ARB)), callersTexture);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_RECTANGLE_ARB));
    GLint envMode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    EXPECT_EQ(envMode, GL_MODULATE);

    // The pass-through program is made, loads cleanly, stays bound but off.
    EXPECT_TRUE(I::passThroughProgramCreated(f));
    EXPECT_TRUE(glIsProgramARB(I::passThroughProgramID(f)));
    GLint boundProgram = 0;
    glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &boundProgram);
    EXPECT_EQ(GLuint(boundProgram), I::passThroughProgramID(f));
    EXPECT_EQ(integer(GL_PROGRAM_ERROR_POSITION_ARB), -1);
    EXPECT_FALSE(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
    EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});

    glDeleteTextures(1, &callersTexture);
}

struct CreationCase {
    const char* mode;
    std::string output;
    GLenum colorKind;  // GL_TEXTURE, GL_RENDERBUFFER_EXT or GL_NONE
    GLint colorFormat;
    GLenum depthKind;
    GLint depthFormat;
    bool stencilIsDepthObject;
};

TEST_F(FramebufferObjectInitialize, attachmentsFollowTheModeString) {
    REQUIRE_GL_EXTENSION("GL_ARB_texture_float");
    REQUIRE_GL_EXTENSION("GL_EXT_packed_depth_stencil");
    const CreationCase cases[] = {
        {"rgba=t", "", GL_TEXTURE, GL_RGBA8, GL_NONE, 0, false},
        {"rgb=t", "", GL_TEXTURE, GL_RGB8, GL_NONE, 0, false},
        {"rgba", "", GL_RENDERBUFFER_EXT, GL_RGBA, GL_NONE, 0, false},
        {"rgb", "", GL_RENDERBUFFER_EXT, GL_RGB, GL_NONE, 0, false},
        {"rgb=16t", "", GL_TEXTURE, GL_RGB16F_ARB, GL_NONE, 0, false},
        {"rgba=32t", "", GL_TEXTURE, GL_RGBA32F_ARB, GL_NONE, 0, false},
        {"rgba=16", "", GL_RENDERBUFFER_EXT, GL_RGBA16F_ARB, GL_NONE, 0, false},
        {"rgba=t depth=t", "", GL_TEXTURE, GL_RGBA8, GL_TEXTURE, GL_DEPTH_COMPONENT24, false},
        {"rgba=t depth=16", "", GL_TEXTURE, GL_RGBA8, GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT16, false},
        {"rgba=t depth=32", "", GL_TEXTURE, GL_RGBA8, GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT32, false},
        {"rgba=t depth=16 stencil", depthStencilWarning, GL_TEXTURE, GL_RGBA8, GL_RENDERBUFFER_EXT,
         GL_DEPTH_STENCIL_EXT, true},
        {"rgba=t depth=24 stencil", "", GL_TEXTURE, GL_RGBA8, GL_RENDERBUFFER_EXT, GL_DEPTH_STENCIL_EXT, true},
        {"rgba=t depth=32t stencil=t", depthStencilWarning, GL_TEXTURE, GL_RGBA8, GL_TEXTURE, GL_DEPTH_STENCIL_EXT,
         true},
        // A "t" on only one of the two: the depth flag decides.
        {"rgba=t depth stencil=t", "", GL_TEXTURE, GL_RGBA8, GL_RENDERBUFFER_EXT, GL_DEPTH_STENCIL_EXT, true},
        {"rgba=t depth=t stencil", "", GL_TEXTURE, GL_RGBA8, GL_TEXTURE, GL_DEPTH_STENCIL_EXT, true},
        {"rgba=t stencil", stencilWithoutDepthError, GL_TEXTURE, GL_RGBA8, GL_NONE, 0, false},
        {"rgba=t stencil=t", stencilWithoutDepthError, GL_TEXTURE, GL_RGBA8, GL_NONE, 0, false},
        {"   ", "", GL_NONE, 0, GL_NONE, 0, false},
    };
    for (const CreationCase& c : cases) {
        SCOPED_TRACE(std::string("mode \"") + c.mode + "\"");
        FramebufferObject f(c.mode);
        bool result = false;
        EXPECT_EQ(stdoutOf([&] { result = f.initialize(32, 16); }), c.output);
        EXPECT_TRUE(result);
        const GLuint fb = I::framebufferID(f);
        ASSERT_TRUE(glIsFramebufferEXT(fb));

        EXPECT_EQ(GLenum(attachmentParameter(fb, GL_COLOR_ATTACHMENT0_EXT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT)),
                  c.colorKind);
        EXPECT_EQ(attachedInternalFormat(fb, GL_COLOR_ATTACHMENT0_EXT), c.colorFormat);
        if (c.colorKind != GL_NONE) {
            EXPECT_EQ(GLuint(attachmentParameter(fb, GL_COLOR_ATTACHMENT0_EXT,
                                                 GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT)),
                      f.getColorAttachmentID(0));
        }

        EXPECT_EQ(GLenum(attachmentParameter(fb, GL_DEPTH_ATTACHMENT_EXT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT)),
                  c.depthKind);
        EXPECT_EQ(attachedInternalFormat(fb, GL_DEPTH_ATTACHMENT_EXT), c.depthFormat);
        if (c.depthKind != GL_NONE) {
            EXPECT_EQ(GLuint(attachmentParameter(fb, GL_DEPTH_ATTACHMENT_EXT,
                                                 GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT)),
                      I::depthAttachmentID(f));
        }

        EXPECT_EQ(GLenum(attachmentParameter(fb, GL_STENCIL_ATTACHMENT_EXT,
                                             GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT)),
                  c.stencilIsDepthObject ? c.depthKind : GLenum(GL_NONE));
        if (c.stencilIsDepthObject) {
            EXPECT_EQ(GLuint(attachmentParameter(fb, GL_STENCIL_ATTACHMENT_EXT,
                                                 GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT)),
                      I::depthAttachmentID(f));
        }
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

TEST_F(FramebufferObjectInitialize, colorCountAboveTheDrawBufferLimitIsLoweredWithAWarning) {
    REQUIRE_GL_EXTENSION("GL_ARB_texture_float");
    const GLint limit = integer(GL_MAX_DRAW_BUFFERS_ARB);
    ASSERT_GT(limit, 0);
    ASSERT_LT(limit, 16) << "this context draws into 16 buffers: no mode string can exceed its limit";
    const std::string warning = "WARNING: FramebufferObject::initialize - this machine only supports up to " +
                                std::to_string(limit) + " draw buffers. Reset number of color attachments!\n";
    const struct {
        const char* mode;
        int requested;
        bool texture;
        GLint format;
    } cases[] = {
        {"rgba=16t16x", 16, true, GL_RGBA16F_ARB},
        {"rgba=t15x", 15, true, GL_RGBA8},
        {"rgba=16x", 16, false, GL_RGBA16F_ARB},
        {"rgba=32t2x", 2, true, GL_RGBA32F_ARB},
        {"rgba=3x", 3, false, GL_RGBA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("mode \"") + c.mode + "\"");
        FramebufferObject f(c.mode);
        const int expectedCount = std::min<int>(c.requested, limit);
        EXPECT_EQ(stdoutOf([&] { f.initialize(8, 8); }), c.requested > limit ? warning : "");
        ASSERT_EQ(I::colorAttachmentCount(f), expectedCount);
        for (int k = 0; k < expectedCount; ++k) {
            SCOPED_TRACE(k);
            const GLenum point = GL_COLOR_ATTACHMENT0_EXT + k;
            EXPECT_EQ(GLenum(attachmentParameter(I::framebufferID(f), point, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT)),
                      GLenum(c.texture ? GL_TEXTURE : GL_RENDERBUFFER_EXT));
            EXPECT_EQ(GLuint(attachmentParameter(I::framebufferID(f), point, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT)),
                      f.getColorAttachmentID(k));
            EXPECT_EQ(attachedInternalFormat(I::framebufferID(f), point), c.format);
        }
        for (int k = expectedCount; k < 16; ++k) EXPECT_EQ(f.getColorAttachmentID(k), 0u) << "attachment " << k;
        if (expectedCount < integer(GL_MAX_COLOR_ATTACHMENTS_EXT)) {
            EXPECT_EQ(attachmentParameter(I::framebufferID(f), GL_COLOR_ATTACHMENT0_EXT + expectedCount,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT),
                      GL_NONE);
        }
        EXPECT_EQ(framebufferStatus(I::framebufferID(f)), GLenum(GL_FRAMEBUFFER_COMPLETE_EXT));
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

TEST_F(FramebufferObjectInitialize, secondInitializeRebuildsAsRgbHalfFloatWithDepthTextureAtTheNewSize) {
    REQUIRE_GL_EXTENSION("GL_ARB_texture_float");
    FramebufferObject f;
    ASSERT_TRUE(f.initialize(64, 64));
    const GLuint program = I::passThroughProgramID(f);

    bool result = false;
    EXPECT_EQ(stdoutOf([&] { result = f.initialize(32, 16); }), "");
    EXPECT_TRUE(result);
    EXPECT_EQ(f.getWidth(), 32u);
    EXPECT_EQ(f.getHeight(), 16u);
    EXPECT_EQ(I::colorMode(f), FramebufferObject::RGB16F);
    EXPECT_TRUE(I::hasDepth(f));
    EXPECT_TRUE(I::depthIsTexture(f));
    const GLuint fb = I::framebufferID(f);
    EXPECT_EQ(attachedInternalFormat(fb, GL_COLOR_ATTACHMENT0_EXT), GL_RGB16F_ARB);
    EXPECT_EQ(rectangleLevel(f.getColorAttachmentID(0), GL_TEXTURE_WIDTH), 32);
    EXPECT_EQ(rectangleLevel(f.getColorAttachmentID(0), GL_TEXTURE_HEIGHT), 16);
    EXPECT_EQ(attachmentParameter(fb, GL_DEPTH_ATTACHMENT_EXT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT), GL_TEXTURE);
    EXPECT_EQ(attachedInternalFormat(fb, GL_DEPTH_ATTACHMENT_EXT), GL_DEPTH_COMPONENT24);
    EXPECT_EQ(rectangleLevel(I::depthAttachmentID(f), GL_TEXTURE_WIDTH), 32);
    EXPECT_EQ(framebufferStatus(fb), GLenum(GL_FRAMEBUFFER_COMPLETE_EXT));
    // The pass-through program is kept, not made again.
    EXPECT_EQ(I::passThroughProgramID(f), program);
    EXPECT_TRUE(glIsProgramARB(program));
    EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
}

TEST_F(FramebufferObjectInitialize, reinitializeOnAFreshObjectBuildsTheConstructorsModeAndIgnoresItsOwn) {
    FramebufferObject f("rgba=t");
    bool result = false;
    EXPECT_EQ(stdoutOf([&] { result = f.reinitialize(16, 8, "rgb=32t depth"); }), "");
    EXPECT_TRUE(result);
    EXPECT_TRUE(I::initialized(f));
    EXPECT_FALSE(I::hasDepth(f));
    EXPECT_EQ(attachedInternalFormat(I::framebufferID(f), GL_COLOR_ATTACHMENT0_EXT), GL_RGBA8);
    EXPECT_EQ(attachmentParameter(I::framebufferID(f), GL_DEPTH_ATTACHMENT_EXT,
                                  GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT),
              GL_NONE);
    EXPECT_EQ(rectangleLevel(f.getColorAttachmentID(0), GL_TEXTURE_WIDTH), 16);
}

TEST_F(FramebufferObjectInitialize, reinitializeAppliesTheNewModeAtTheNewSize) {
    REQUIRE_GL_EXTENSION("GL_ARB_texture_float");
    FramebufferObject f("rgba=t depth=t");
    ASSERT_TRUE(f.initialize(8, 8));
    const GLuint program = I::passThroughProgramID(f);
    bool result = false;
    EXPECT_EQ(stdoutOf([&] { result = f.reinitialize(4, 2, "rgba=32t depth"); }), "");
    EXPECT_TRUE(result);
    const GLuint fb = I::framebufferID(f);
    EXPECT_EQ(attachedInternalFormat(fb, GL_COLOR_ATTACHMENT0_EXT), GL_RGBA32F_ARB);
    EXPECT_EQ(rectangleLevel(f.getColorAttachmentID(0), GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(rectangleLevel(f.getColorAttachmentID(0), GL_TEXTURE_HEIGHT), 2);
    EXPECT_EQ(attachmentParameter(fb, GL_DEPTH_ATTACHMENT_EXT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT),
              GL_RENDERBUFFER_EXT);
    EXPECT_EQ(renderbufferParameter(I::depthAttachmentID(f), GL_RENDERBUFFER_WIDTH_EXT), 4);
    EXPECT_EQ(I::passThroughProgramID(f), program);
    EXPECT_EQ(framebufferStatus(fb), GLenum(GL_FRAMEBUFFER_COMPLETE_EXT));
}

TEST_F(FramebufferObjectInitialize, incompleteColorStepPrintsItsStatusOnce) {
    // A 0 × 0 attachment cannot complete: every candidate fails alike.
    FramebufferObject f("rgba=16t");
    EXPECT_EQ(stdoutOf([&] { EXPECT_TRUE(f.initialize(0, 0)); }),
              "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n");
    EXPECT_EQ(I::lastFramebufferStatus(), GLenum(GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT));
    // All three candidates were tried: the list ends on the ARB format.
    EXPECT_EQ(I::colorInternalFormat(f), GLenum(GL_RGBA16F_ARB));
    EXPECT_TRUE(I::initialized(f));
    testgl::drainErrors();
}

}  // namespace
