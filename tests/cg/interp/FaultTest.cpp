// Faults the random programs found, each minimised: the program on GL must
// match the reference interpreter on every pixel that does not hinge on
// rounding. Each row failed before its fix.
#include "cg/compiler.h"
#include "fuzz/oracle_judge.h"
#include "tests/cg/interp/OracleField.h"
#include "tests/support/GLTest.h"

#include <gtest/gtest.h>

namespace {

struct Fault {
    const char* behaviour;
    const char* main;  // body of main(float4 t : TEXCOORD0, float4 c : COLOR0, uniform float4 k)
};

const char kHead[] = "float4 main(float4 t : TEXCOORD0, float4 c : COLOR0, uniform float4 k) : COLOR\n{\n";

using FoundFaults = FloatTargetTest;

TEST_F(FoundFaults, matchTheOracleOnGL) {
    const Fault faults[] = {
        {"clipUnderABranchKillsOnlyWhereTheBranchIsTaken", "if (c.x > 5) clip(-1);\nreturn c;"},
        {"clipAfterABreakKillsOnlyIterationsStillRunning",
         "for (int i = 0; i < 3; i++) {\n  if (t.x > 0) break;\n  clip(t.y - 10);\n}\nreturn c;"},
        {"clipInAFunctionCalledUnderABranch", "if (t.y > 100) { float4 x = c; clip(x - 10); }\nreturn c;"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.behaviour);
        const std::string text = std::string(kHead) + f.main + "\n}\n";
        const cgc::Compiled compiled = cgc::compile(text, "fault.cg");
        ASSERT_TRUE(compiled.ok) << compiled.error;
        cgc::interp::Program oracle;
        std::string error;
        ASSERT_TRUE(oracle.load(text, "fault.cg", {}, &error)) << error;
        const cgtest::ArbRun run = oracletest::field(compiled.parameters);
        const cgtest::ArbResult gl = cgtest::runArb(compiled.text, run);
        ASSERT_TRUE(gl.loaded) << gl.error;
        oracle::Tally tally;
        std::string first;
        for (int j = 0; j < run.height; ++j)
            for (int i = 0; i < run.width; ++i) {
                oracle::Pixel got;
                const cgtest::Rgba p = gl.pixel(i, j);
                std::copy(p.begin(), p.end(), got.rgba);
                got.killed = p == oracletest::kClear;
                const std::string why = oracle::judge(oracle, oracletest::inputsAt(run, i, j), got, &tally);
                if (first.empty() && !why.empty()) first = "pixel (" + std::to_string(i) + ", " + std::to_string(j) + "): " + why;
            }
        EXPECT_EQ(tally.mismatched, 0) << first << "\n" << compiled.text;
        EXPECT_EQ(tally.excused, 0);
    }
}

}  // namespace
