// The runtime on a context without GL_ARB_fragment_program (hidden by
// MESA_EXTENSION_OVERRIDE in this test's environment): errors, no crash,
// no call into the missing extension.
#include "cg/cgGL.h"
#include "heat/heat.h"
#include "tests/support/GLTest.h"

#include <cstdlib>
#include <string>

namespace {

const char* const kCopyProgram = copyProgramSource;

class CgNoFragmentProgram : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        const char* override = std::getenv("MESA_EXTENSION_OVERRIDE");
        ASSERT_TRUE(override && std::string(override).find("-GL_ARB_fragment_program") != std::string::npos)
            << "run through ctest, which hides the extension";
        if (testgl::hasExtension("GL_ARB_fragment_program"))
            GTEST_SKIP() << "this driver ignores MESA_EXTENSION_OVERRIDE";
    }
};

TEST_F(CgNoFragmentProgram, StartUpAsTheProgramDoesItGivesOneErrorNamingTheCause) {
    CGprofile profile = cgGLGetLatestProfile(CG_GL_FRAGMENT);
    EXPECT_EQ(profile, CG_PROFILE_UNKNOWN);
    CGcontext context = cgCreateContext();
    CGprogram heat = cgCreateProgramFromFile(context, CG_SOURCE, HEAT_SHADER_PATH, profile, nullptr, nullptr);
    cgGLLoadProgram(heat);
    EXPECT_EQ(cgGetNamedParameter(heat, "timestep"), nullptr);
    CGprogram copy = cgCreateProgram(context, CG_SOURCE, kCopyProgram, profile, nullptr, nullptr);
    cgGLLoadProgram(copy);
    EXPECT_EQ(heat, nullptr);
    EXPECT_EQ(copy, nullptr);

    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_INVALID_PROFILE_ERROR);
    EXPECT_EQ(std::string(cgGetErrorString(error)),
              std::string(HEAT_SHADER_PATH) +
                  ": error: no fragment profile to compile for (this OpenGL context lacks GL_ARB_fragment_program)");
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgNoFragmentProgram, EveryGLCallIsRefusedWithoutTouchingGL) {
    CGcontext context = cgCreateContext();
    // Compiling needs no GL, so a forced profile compiles; loading cannot.
    CGprogram copy = cgCreateProgram(context, CG_SOURCE, kCopyProgram, CG_PROFILE_ARBFP1, nullptr, nullptr);
    ASSERT_NE(copy, nullptr);
    CGparameter texture = cgGetNamedParameter(copy, "texture");
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);

    struct Step {
        const char* what;
        void (*call)(CGprogram, CGparameter);
        CGerror code;
    } steps[] = {
        {"load", [](CGprogram p, CGparameter) { cgGLLoadProgram(p); }, CG_PROGRAM_LOAD_ERROR},
        {"bind", [](CGprogram p, CGparameter) { cgGLBindProgram(p); }, CG_PROGRAM_NOT_LOADED_ERROR},
        {"enable", [](CGprogram, CGparameter) { cgGLEnableProfile(CG_PROFILE_ARBFP1); }, CG_INVALID_PROFILE_ERROR},
        {"disable", [](CGprogram, CGparameter) { cgGLDisableProfile(CG_PROFILE_ARBFP1); }, CG_INVALID_PROFILE_ERROR},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.call(copy, texture);
        CGerror error = cgGetError();
        EXPECT_EQ(error, s.code);
        std::string text = cgGetErrorString(error);
        EXPECT_EQ(text.find('\n'), std::string::npos);
        if (s.code != CG_PROGRAM_NOT_LOADED_ERROR) {
            EXPECT_NE(text.find("GL_ARB_fragment_program"), std::string::npos) << text;
        }
    }
    // Texture parameters need no fragment-program entry point; they still work.
    cgGLSetTextureParameter(texture, 0);
    cgGLEnableTextureParameter(texture);
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

}  // namespace
