// Using a render target: bind/unbind around a pass, sampling it, teardown.
#include "tests/fbo/FramebufferObjectFields.h"
#include "tests/fbo/GLQueries.h"
#include "tests/support/GLTest.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using I = FramebufferObjectInspector;
using namespace fbotest;
using Viewport = std::array<GLint, 4>;

Viewport viewport() {
    Viewport v{};
    glGetIntegerv(GL_VIEWPORT, v.data());
    return v;
}

GLuint boundFragmentProgram() {
    GLint program = 0;
    glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &program);
    return GLuint(program);
}

GLuint makeFragmentProgram() {
    static const char text[] = "!!ARBfp1.0\nMOV result.color, fragment.color.primary;\nEND\n";
    GLuint program = 0;
    glGenProgramsARB(1, &program);
    glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program);
    glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(std::strlen(text)), text);
    return program;
}

using FramebufferObjectUse = FloatTargetTest;

TEST_F(FramebufferObjectUse, bindSwitchesThePassThroughProgramOnlyWhenAskedOnFloatTargets) {
    const struct {
        const char* mode;
        bool usePassThrough;
        bool enabledBefore;
        bool enabledDuring;
        bool enabledAfter;
        bool passThroughBound;
    } cases[] = {
        {"rgba=16t", true, false, true, false, true},
        {"rgba=16t", false, false, false, false, false},
        {"rgba=16t", false, true, true, true, false},
        {"rgba=32t", true, true, true, false, true},
        {"rgb=16t depth", true, false, true, false, true},
        {"rgba=t", true, false, false, false, false},
        {"rgba=t", true, true, true, true, false},
        {"rgba", false, true, true, true, false},
    };
    const GLuint otherProgram = makeFragmentProgram();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode \"" << c.mode << "\", bind(" << c.usePassThrough
                                        << "), fragment programs " << (c.enabledBefore ? "on" : "off") << " before");
        FramebufferObject f(c.mode);
        ASSERT_TRUE(f.initialize(16, 8));
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, otherProgram);
        if (c.enabledBefore) glEnable(GL_FRAGMENT_PROGRAM_ARB);
        glViewport(3, 4, 100, 50);

        f.bind(c.usePassThrough);
        EXPECT_EQ(viewport(), (Viewport{0, 0, 16, 8}));
        EXPECT_EQ(GLuint(integer(GL_FRAMEBUFFER_BINDING_EXT)), I::framebufferID(f));
        EXPECT_EQ(bool(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB)), c.enabledDuring);
        EXPECT_EQ(boundFragmentProgram(), c.passThroughBound ? I::passThroughProgramID(f) : otherProgram);

        f.unbind(c.usePassThrough);
        EXPECT_EQ(viewport(), (Viewport{3, 4, 100, 50}));
        EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING_EXT), 0);
        EXPECT_EQ(bool(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB)), c.enabledAfter);
        // unbind leaves the program binding alone.
        EXPECT_EQ(boundFragmentProgram(), c.passThroughBound ? I::passThroughProgramID(f) : otherProgram);

        glDisable(GL_FRAGMENT_PROGRAM_ARB);
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
    glDeleteProgramsARB(1, &otherProgram);
}

TEST_F(FramebufferObjectUse, passThroughProgramWritesThePrimaryColourIntoAFloatTarget) {
    // With fixed-function fragments this texture would replace the colour;
    // the pass-through program ignores it.
    GLuint red = 0;
    const GLubyte texel[4] = {255, 0, 0, 255};
    glGenTextures(1, &red);
    glBindTexture(GL_TEXTURE_2D, red);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_TEXTURE_2D);

    const struct {
        const char* mode;
        bool usePassThrough;
        std::array<float, 4> expected;
    } cases[] = {
        {"rgba=16t", true, {0.25f, 0.5f, 0.75f, 1.0f}},
        {"rgba=32t", true, {0.25f, 0.5f, 0.75f, 1.0f}},
        {"rgba=16t", false, {1.0f, 0.0f, 0.0f, 1.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode \"" << c.mode << "\", bind(" << c.usePassThrough << ")");
        FramebufferObject f(c.mode);
        ASSERT_TRUE(f.initialize(4, 4));
        f.bind(c.usePassThrough);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(0.25f, 0.5f, 0.75f, 1.0f);
        glBegin(GL_QUADS);
        glTexCoord2f(0.5f, 0.5f);
        glVertex2f(-1, -1);
        glVertex2f(1, -1);
        glVertex2f(1, 1);
        glVertex2f(-1, 1);
        glEnd();
        std::array<float, 4> pixel{};
        glReadPixels(2, 1, 1, 1, GL_RGBA, GL_FLOAT, pixel.data());
        f.unbind(c.usePassThrough);
        EXPECT_EQ(pixel, c.expected);
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
    glDisable(GL_TEXTURE_2D);
    glDeleteTextures(1, &red);
}

TEST_F(FramebufferObjectUse, unbindRestoresTheViewportSavedByBindEvenAfterItChanged) {
    FramebufferObject f("rgba=t");
    ASSERT_TRUE(f.initialize(32, 32));
    glViewport(3, 4, 100, 50);
    f.bind(false);
    // What a window reshape in the middle of a pass would do.
    glViewport(0, 0, 640, 480);
    f.unbind(false);
    EXPECT_EQ(viewport(), (Viewport{3, 4, 100, 50}));
    EXPECT_EQ(I::savedViewport(f)[2], 100);
}

TEST_F(FramebufferObjectUse, bindingAThenBThenUnbindingBGoesBackToTheWindowNotToA) {
    FramebufferObject a("rgba=t"), b("rgba=16t");
    ASSERT_TRUE(a.initialize(16, 8));
    ASSERT_TRUE(b.initialize(4, 2));
    glViewport(1, 2, 300, 200);

    a.bind(false);
    b.bind(false);
    EXPECT_EQ(GLuint(integer(GL_FRAMEBUFFER_BINDING_EXT)), I::framebufferID(b));
    EXPECT_EQ(viewport(), (Viewport{0, 0, 4, 2}));
    b.unbind(false);
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING_EXT), 0);
    EXPECT_EQ(viewport(), (Viewport{0, 0, 16, 8}));
    a.unbind(false);
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING_EXT), 0);
    EXPECT_EQ(viewport(), (Viewport{1, 2, 300, 200}));
}

TEST_F(FramebufferObjectUse, bindOnAnObjectNeverInitialisedOnlyMovesTheViewport) {
    GLuint other = 0;
    glGenFramebuffersEXT(1, &other);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, other);
    glViewport(5, 6, 70, 80);

    FramebufferObject f("rgba=16t");
    f.bind(true);
    EXPECT_EQ(viewport(), (Viewport{0, 0, 512, 512}));
    EXPECT_EQ(GLuint(integer(GL_FRAMEBUFFER_BINDING_EXT)), other);
    // No program of its own yet, so nothing to switch on.
    EXPECT_FALSE(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
    f.unbind(true);
    EXPECT_EQ(viewport(), (Viewport{5, 6, 70, 80}));
    EXPECT_EQ(GLuint(integer(GL_FRAMEBUFFER_BINDING_EXT)), other);
    EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});

    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glDeleteFramebuffersEXT(1, &other);
}

TEST_F(FramebufferObjectUse, bindAsTextureEnablesBindsAndResetsSamplingOfTheAttachment) {
    const struct {
        const char* mode;
        int index;
        GLint filter;
    } cases[] = {
        {"rgba=16t", 0, GL_LINEAR},
        {"rgba=32t2x", 1, GL_NEAREST},
        {"rgba=t3x", 2, GL_LINEAR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode \"" << c.mode << "\", attachment " << c.index);
        FramebufferObject f(c.mode);
        ASSERT_TRUE(f.initialize(8, 8));
        const GLuint texture = f.getColorAttachmentID(c.index);
        // Someone sampled it differently since.
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, c.filter == GL_LINEAR ? GL_NEAREST : GL_LINEAR);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, c.filter == GL_LINEAR ? GL_NEAREST : GL_LINEAR);
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
        glDisable(GL_TEXTURE_RECTANGLE_ARB);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

        f.bindAsTexture(c.index);
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_RECTANGLE_ARB));
        EXPECT_EQ(GLuint(integer(GL_TEXTURE_BINDING_RECTANGLE_ARB)), texture);
        EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
        EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
        EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_MIN_FILTER), c.filter);
        EXPECT_EQ(rectangleParameter(texture, GL_TEXTURE_MAG_FILTER), c.filter);
        GLint envMode = 0;
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
        EXPECT_EQ(envMode, GL_REPLACE);
        glDisable(GL_TEXTURE_RECTANGLE_ARB);
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

TEST_F(FramebufferObjectUse, destructionDeletesEveryObjectInitializeMade) {
    const struct {
        const char* mode;
        bool texture;
        int colorCount;
    } cases[] = {
        {"rgba=t depth=t", true, 1},
        {"rgba depth", false, 1},
        {"rgba=16t2x depth=24t stencil=t", true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("mode \"") + c.mode + "\"");
        auto f = std::make_unique<FramebufferObject>(c.mode);
        ASSERT_TRUE(f->initialize(8, 8));
        std::vector<GLuint> colors;
        for (int k = 0; k < c.colorCount; ++k) colors.push_back(f->getColorAttachmentID(k));
        const GLuint depth = I::depthAttachmentID(*f);
        const GLuint framebuffer = I::framebufferID(*f);
        const GLuint program = I::passThroughProgramID(*f);
        const auto exists = [&](GLuint name) { return c.texture ? glIsTexture(name) : glIsRenderbufferEXT(name); };
        for (GLuint name : colors) ASSERT_TRUE(exists(name));
        ASSERT_TRUE(exists(depth));

        f.reset();
        for (GLuint name : colors) EXPECT_FALSE(exists(name)) << "colour " << name;
        EXPECT_FALSE(exists(depth));
        EXPECT_FALSE(glIsFramebufferEXT(framebuffer));
        EXPECT_FALSE(glIsProgramARB(program));
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

TEST_F(FramebufferObjectUse, releaseDeletesEverythingOnceAndTheDestructorNothingMore) {
    const struct {
        const char* mode;
        bool texture;
    } cases[] = {{"rgba=16t", true}, {"rgba=t depth=t", true}, {"rgba depth", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("mode \"") + c.mode + "\"");
        const bool texture = c.texture;
        auto f = std::make_unique<FramebufferObject>(c.mode);
        ASSERT_TRUE(f->initialize(8, 8));
        const GLuint color = f->getColorAttachmentID(0), framebuffer = I::framebufferID(*f);
        const GLuint program = I::passThroughProgramID(*f);
        f->release();
        EXPECT_FALSE(glIsTexture(color) || glIsRenderbufferEXT(color));
        EXPECT_FALSE(glIsFramebufferEXT(framebuffer));
        EXPECT_FALSE(glIsProgramARB(program));
        f->release();  // a second release, as at exit after a close, is harmless

        // The freed names in use again (a compatibility context makes an
        // object on binding an unused name): a second deletion would take
        // them from their new owner.
        if (texture) glBindTexture(GL_TEXTURE_2D, color);
        else glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, color);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program);
        f.reset();
        EXPECT_TRUE(texture ? glIsTexture(color) : glIsRenderbufferEXT(color));
        EXPECT_TRUE(glIsFramebufferEXT(framebuffer));
        EXPECT_TRUE(glIsProgramARB(program));
        if (texture) glDeleteTextures(1, &color);
        else glDeleteRenderbuffersEXT(1, &color);
        glDeleteFramebuffersEXT(1, &framebuffer);
        glDeleteProgramsARB(1, &program);
        EXPECT_EQ(testgl::drainErrors(), std::vector<GLenum>{});
    }
}

TEST_F(FramebufferObjectUse, destroyingAnObjectNeverInitialisedDeletesNothing) {
    // Live names in every field the destructor could delete through.
    GLuint texture = 0, renderbuffer = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGenRenderbuffersEXT(1, &renderbuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, renderbuffer);
    glGenFramebuffersEXT(1, &framebuffer);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    const GLuint program = makeFragmentProgram();
    {
        FramebufferObject f("rgba=t depth");
        I::colorAttachmentIDs(f)[0] = texture;
        I::depthAttachmentID(f) = renderbuffer;
        I::framebufferID(f) = framebuffer;
        I::passThroughProgramID(f) = program;
    }
    EXPECT_TRUE(glIsTexture(texture));
    EXPECT_TRUE(glIsRenderbufferEXT(renderbuffer));
    EXPECT_TRUE(glIsFramebufferEXT(framebuffer));
    EXPECT_TRUE(glIsProgramARB(program));
    glDeleteTextures(1, &texture);
    glDeleteRenderbuffersEXT(1, &renderbuffer);
    glDeleteFramebuffersEXT(1, &framebuffer);
    glDeleteProgramsARB(1, &program);
}

}  // namespace
