// With a context, a program is held to the smaller of this driver's limits and
// heat2d-cg's, so an error names what the driver allows where it allows less.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

class CgLimits : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");
        context = cgCreateContext();
        glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS_ARB, &units);
        glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_MAX_PROGRAM_LOCAL_PARAMETERS_ARB, &locals);
        ASSERT_GT(units, 0);
        ASSERT_GT(locals, 0);
        // heat2d-cg's limits where the driver allows more.
        units = std::min(units, cgc::Limits{}.textureUnits);
        locals = std::min(locals, cgc::Limits{}.localParameters);
    }

    // Created without a loader: the header is checked when the program is made.
    CGerror create(const std::string& text, std::string* message) {
        CGprogram p = cgCreateProgram(context, CG_SOURCE, text.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        CGerror error = cgGetError();
        *message = error ? cgGetErrorString(error) : "";
        EXPECT_EQ(p == nullptr, error != CG_NO_ERROR);
        return error;
    }

    CGcontext context = nullptr;
    GLint units = 0, locals = 0;
};

std::string assembly(const std::string& header) { return "!!ARBfp1.0\n" + header + "\nMOV result.color, 0;\nEND\n"; }

TEST_F(CgLimits, AssemblyHeadersAreHeldToTheDriversUnitsAndRegisters) {
    const std::string lastUnit = std::to_string(units - 1), lastLocal = std::to_string(locals - 1);
    const struct {
        std::string header;
        std::string says;  // "" when accepted
    } cases[] = {
        {"# texture[" + lastUnit + "] = s (sampler2D)", ""},
        {"# texture[" + std::to_string(units) + "] = s (sampler2D)",
         "is past the last texture unit (at most " + std::to_string(units) + ")"},
        {"# program.local[" + lastLocal + "] = k (float4)", ""},
        {"# program.local[" + lastLocal + ".." + std::to_string(locals) + "] = k (float2x4)",
         "is past the last local parameter (at most " + std::to_string(locals) + ")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        std::string message;
        EXPECT_EQ(create(assembly(c.header), &message), c.says.empty() ? CG_NO_ERROR : CG_COMPILER_ERROR);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
}

// main with `count` sampler parameters.
std::string samplers(int count) {
    std::string source = "float4 main(float2 t : TEXCOORD0";
    for (int i = 0; i < count; ++i) source += ", uniform sampler2D s" + std::to_string(i);
    return source + ") : COLOR { return tex2D(s" + std::to_string(count - 1) + ", t); }\n";
}

TEST_F(CgLimits, TheCompilerIsHeldToTheDriversTextureUnits) {
    if (cgc::compile("float4 main() : COLOR { return 1; }", "probe.cg").stats.instructions == 0)
        GTEST_SKIP() << "waits for the new compiler (the direct emitter fills no statistics and has limits of its own)";
    std::string message;
    EXPECT_EQ(create(samplers(units), &message), CG_NO_ERROR) << message;
    EXPECT_EQ(create(samplers(units + 1), &message), CG_COMPILER_ERROR);
    EXPECT_NE(message.find("at most " + std::to_string(units)), std::string::npos) << message;
}

// The shapes that reach each limit first. `n` grows the program by one step.
std::string multiplications(int n) {
    std::string source = "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 a = t;\n";
    for (int i = 0; i < n; ++i) source += "  a *= t;\n";
    return source + "  return a;\n}\n";
}

std::string liveValues(int n) {
    std::string source = "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 v[" + std::to_string(n) + "];\n";
    for (int i = 0; i < n; ++i) source += "  v[" + std::to_string(i) + "] = t * " + std::to_string(i + 2) + ".5;\n";
    source += "  float4 s = 0;\n";
    for (int i = n - 1; i >= 0; --i) source += "  s = s * t + v[" + std::to_string(i) + "];\n";
    return source + "  return s;\n}\n";
}

// heat2d and heat2d-cg hold a program to the same limits: what the compiler
// with no driver accepts, this driver loads, and past a limit both say the
// same line. The limits are the smaller of the driver's and heat2d-cg's.
TEST_F(CgLimits, heat2dAndHeat2dCgAcceptAndRefuseTheSamePrograms) {
    const cgc::Limits standalone;
    const struct {
        const char* limit;
        std::string (*program)(int);
        int allowed;
    } cases[] = {
        {"instructions", multiplications, standalone.instructions},
        {"temporaries", liveValues, standalone.temporaries},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        // The largest program of this shape that heat2d-cg accepts.
        int n = 1;
        while (n < 1000 && cgc::compile(c.program(n + 1), "<string>").ok) ++n;
        const cgc::Compiled within = cgc::compile(c.program(n), "<string>");
        const cgc::Compiled past = cgc::compile(c.program(n + 1), "<string>");
        ASSERT_TRUE(within.ok) << within.error;
        EXPECT_NE(past.error.find(std::string(c.limit) + "; this target allows " + std::to_string(c.allowed)),
                  std::string::npos)
            << past.error;

        std::string message;
        CGprogram program =
            cgCreateProgram(context, CG_SOURCE, c.program(n).c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        cgGLLoadProgram(program);
        CGerror error = cgGetError();
        EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
        EXPECT_EQ(create(c.program(n + 1), &message), CG_COMPILER_ERROR);
        EXPECT_EQ(message, past.error);
    }
}

}  // namespace
