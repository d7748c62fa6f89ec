// With a context, the limits a program is held to are this driver's, so an
// error names what the driver allows rather than a documented default.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

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

// `count` multiplications in a row, none of which an optimizer can drop.
std::string multiplications(int count) {
    std::string source = "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 a = t;\n";
    for (int i = 0; i < count; ++i) source += "  a *= t;\n";
    return source + "  return a;\n}\n";
}

// Loading takes time in proportion to the instructions (seconds per hundred
// thousand on llvmpipe, which allows a million): the runtime's ceiling of
// 16384 keeps start-up short whatever the driver allows.
TEST_F(CgLimits, InstructionsAreHeldToTheDriverUpToTheRuntimesCeiling) {
    if (cgc::compile("float4 main() : COLOR { return 1; }", "probe.cg").stats.instructions == 0)
        GTEST_SKIP() << "waits for the new compiler (the direct emitter fills no statistics and has limits of its own)";
    GLint native = 0;
    glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_MAX_PROGRAM_NATIVE_INSTRUCTIONS_ARB, &native);
    const int allowed = native > 0 && native < 16384 ? native : 16384;
    std::string message;
    EXPECT_EQ(create(multiplications(allowed - 8), &message), CG_NO_ERROR) << message;
    EXPECT_EQ(create(multiplications(allowed + 8), &message), CG_COMPILER_ERROR);
    EXPECT_NE(message.find(std::to_string(allowed)), std::string::npos) << message;
}

}  // namespace
