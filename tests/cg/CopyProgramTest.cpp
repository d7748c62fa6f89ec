// The embedded copy program, compiled from its exact text, copies a float
// target texel by texel with all four channels unchanged.
#include "cg/cgGL.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

#include <vector>

using cgtest::FloatTarget;

namespace {

class CgCopyProgram : public GLTest {};

TEST_F(CgCopyProgram, CopiesEveryChannelOfEveryTexel) {
    REQUIRE_FLOAT_TARGETS();
    CGcontext context = cgCreateContext();
    CGprogram copy = cgCreateProgram(context, CG_SOURCE, cgtest::kCopyProgram,
                                     cgGLGetLatestProfile(CG_GL_FRAGMENT), nullptr, nullptr);
    ASSERT_NE(copy, nullptr) << cgGetErrorString(cgGetError());
    cgGLLoadProgram(copy);
    CGparameter texture = cgGetNamedParameter(copy, "texture");
    ASSERT_EQ(cgGetError(), CG_NO_ERROR) << cgGetErrorString(CG_COMPILER_ERROR);
    ASSERT_NE(texture, nullptr);

    // Values that a clamping or channel-dropping copy would change: above 1,
    // below 0, alpha not 1, and distinct per texel (3 x 2, not square).
    struct Case {
        GLenum format;
        std::vector<float> texels;
    } cases[] = {
        {GL_RGBA32F_ARB, {0.0f, 1.0f, -2.5f, 0.25f,  1234.5f, -0.001f, 3.0f, 7.0f,  0.1f, 0.2f, 0.3f, 0.4f,
                          -8.0f, 16.0f, 0.5f, -1.0f,  1e-6f, 65504.0f, 2.0f, 0.0f,  9.0f, 8.0f, 7.0f, 6.0f}},
        // the heat buffers' own format; values exactly representable as halves
        {GL_RGBA16F_ARB, {0.0f, 1.0f, -2.5f, 0.25f,  1234.0f, -0.0009765625f, 3.0f, 7.0f,  0.125f, 0.5f, 0.75f, 0.375f,
                          -8.0f, 16.0f, 0.5f, -1.0f,  2048.0f, 65504.0f, 2.0f, 0.0f,  9.0f, 8.0f, 7.0f, 6.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format == GL_RGBA32F_ARB ? "RGBA32F" : "RGBA16F");
        FloatTarget source(3, 2, c.format, c.texels);
        FloatTarget target(3, 2, c.format);
        ASSERT_TRUE(source.complete() && target.complete());
        cgtest::drawPass(target, copy, texture, &source);
        EXPECT_EQ(target.read(), c.texels);
    }
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

}  // namespace
