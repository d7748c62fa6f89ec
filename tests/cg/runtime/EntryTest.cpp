// The entry argument of cgCreateProgram names the function the program runs.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

#include <string>
#include <vector>

namespace {

class CgEntry : public GLTest {};

TEST_F(CgEntry, TheEntryArgumentChoosesTheFunction) {
    REQUIRE_FLOAT_TARGETS();
    if (cgc::compile("float4 main() : COLOR { return 1; }", "probe.cg").stats.instructions == 0)
        GTEST_SKIP() << "waits for the new compiler (the direct emitter knows no function but main)";
    const char source[] =
        "float4 main() : COLOR { return float4(1, 1, 1, 1); }\n"
        "float4 brighter() : COLOR { return float4(2, 2, 2, 2); }\n";
    const struct {
        const char* entry;
        float expected;
    } cases[] = {{nullptr, 1}, {"main", 1}, {"brighter", 2}};
    CGcontext context = cgCreateContext();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry ? c.entry : "null");
        CGprogram program = cgCreateProgram(context, CG_SOURCE, source, CG_PROFILE_ARBFP1, c.entry, nullptr);
        cgGLLoadProgram(program);
        CGerror error = cgGetError();
        ASSERT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
        cgtest::FloatTarget target(1, 1, GL_RGBA32F_ARB);
        cgtest::drawPass(target, program);
        EXPECT_EQ(target.read(), std::vector<float>(4, c.expected));
    }
    EXPECT_EQ(cgCreateProgram(context, CG_SOURCE, source, CG_PROFILE_ARBFP1, "dimmer", nullptr), nullptr);
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_COMPILER_ERROR);
    EXPECT_NE(std::string(cgGetErrorString(error)).find("dimmer"), std::string::npos) << cgGetErrorString(error);
}

}  // namespace
