// What the back end counts, by the extension's rules, and what it does to
// keep the counts down; and that it stays linear on very large functions.
#include "cg/arb/backend.h"
#include "tests/cg/arb/ProgramText.h"

#include <chrono>
#include <string>

namespace {

cgc::Stats statsOf(const char* ir, const cgc::Limits& limits = {}) {
    return cgc::emitArb(arbtest::irFunction(ir), {}, limits).stats;
}

TEST(ArbCounts, indirectionsAreCountedAsTheExtensionDefinesThem) {
    const struct {
        const char* behaviour;
        const char* ir;
        int indirections;
    } rows[] = {
        {"noLookupIsOneIndirection", "%0 = INPUT color0\nOUTPUT color %0\n", 1},
        {"lookupsAtAttributesShareTheFirst",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 2D\n%2 = INPUT texcoord1\n%3 = TEX %2, 1 2D\n%4 = MUL %1, %3\n"
         "OUTPUT color %4\n",
         1},
        {"aComputedCoordinateStartsASecond",
         "%0 = INPUT texcoord0\n%1 = INPUT texcoord1\n%2 = MUL %0, %1\n%3 = TEX %2, 0 2D\nOUTPUT color %3\n", 2},
        {"aChainOfThree",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 2D\n%2 = MUL %1, %1\n%3 = TEX %2, 2 2D\n%4 = TEX %3, 3 2D\n"
         "OUTPUT color %4\n",
         3},
        {"interleavedDependentLookupsAreGroupedIntoOne",
         "%0 = INPUT texcoord0\n%1 = CONST 1 0 0 0\n%2 = ADD %0, %1\n%3 = TEX %2, 0 RECT\n%4 = ADD %0, -%1\n"
         "%5 = TEX %4, 0 RECT\n%6 = ADD %0, %1.yxzw\n%7 = TEX %6, 0 RECT\n%8 = ADD %3, %5\n%9 = ADD %8, %7\n"
         "OUTPUT color %9\n",
         2},
        {"aDiscardOfAComputedValueStartsOne",
         "%0 = INPUT texcoord0\n%1 = INPUT color0\n%2 = ADD %0, -%1\nKIL %2\nOUTPUT color %1\n", 2},
    };
    for (const auto& row : rows) EXPECT_EQ(statsOf(row.ir).texIndirections, row.indirections) << row.behaviour;
}

TEST(ArbCounts, parametersCountDistinctConstantsAndLocals) {
    const struct {
        const char* behaviour;
        const char* ir;
        int parameters;
    } rows[] = {
        {"oneConstantReadTwiceIsOne",
         "%0 = INPUT color0\n%1 = CONST 2 3 4 5\n%2 = MUL %0, %1\n%3 = CONST 2 3 4 5\n%4 = ADD %2, %3.wzyx\n"
         "OUTPUT color %4\n",
         1},
        {"aLocalReadTwiceIsOne",
         "%0 = INPUT color0\n%1 = UNIFORM 3\n%2 = MUL %0, %1\n%3 = UNIFORM 3\n%4 = ADD %2, %3\nOUTPUT color %4\n", 1},
        {"constantsAndLocalsTogether",
         "%0 = INPUT color0\n%1 = UNIFORM 0\n%2 = CONST 0.5\n%3 = MAD %0, %1, %2\n%4 = UNIFORM 1\n"
         "%5 = MUL %3, %4\nOUTPUT color %5\n",
         3},
        {"aQuotientByAConstantTakesItsReciprocalsOnly",
         "%0 = INPUT color0\n%1 = CONST 4 8 2 0.5\n%2 = DIV %0, %1\nOUTPUT color %2\n", 1},
    };
    for (const auto& row : rows) EXPECT_EQ(statsOf(row.ir).parameters, row.parameters) << row.behaviour;
}

// Grouping lookups by indirection keeps their results live longer; where
// that needs more temporaries than the target has, the IR's own order,
// which reuses them, is what comes out.
TEST(ArbCounts, shortOfTemporariesTheLookupsKeepTheirOrder) {
    const char* ir =
        "%0 = INPUT texcoord0\n%1 = TEX %0, 0 2D\n%2 = UNIFORM 0\n%3 = MUL %1, %2\n%4 = INPUT texcoord1\n"
        "%5 = TEX %4, 0 2D\n%6 = MAD %5, %2, %3\n%7 = INPUT texcoord2\n%8 = TEX %7, 0 2D\n%9 = MAD %8, %2, %6\n"
        "%10 = INPUT texcoord3\n%11 = TEX %10, 0 2D\n%12 = MAD %11, %2, %9\nOUTPUT color %12\n";
    cgc::Stats grouped = statsOf(ir);
    EXPECT_EQ(grouped.texIndirections, 1);
    EXPECT_GT(grouped.temporaries, 2);
    cgc::Limits two;
    two.temporaries = 2;
    cgc::Stats ordered = statsOf(ir, two);
    EXPECT_LE(ordered.temporaries, 2);
    EXPECT_EQ(ordered.instructions, grouped.instructions);
}

TEST(ArbCounts, headerCommentsComeFirstOneALine) {
    cgc::ir::Function f = arbtest::irFunction("%0 = INPUT color0\n%1 = CONST 2\n%2 = MUL %0, %1\nOUTPUT color %2\n");
    std::string text = cgc::emitArb(f, {"# texture[0] = heat (samplerRECT)", "# program.local[0..2] = m (float3x3)"},
                                    cgc::Limits{})
                           .text;
    EXPECT_EQ(text.rfind("!!ARBfp1.0\n# texture[0] = heat (samplerRECT)\n# program.local[0..2] = m (float3x3)\n", 0),
              0u)
        << text;
}

// A generated function of 300,000 instructions in every shape the back end
// handles; what matters is the time, and that the limit error still comes.
cgc::ir::Function hugeFunction(int size) {
    std::string text = "%0 = INPUT texcoord0\n%1 = INPUT color0\n%2 = UNIFORM 0\n%3 = CONST 0.5 2 -1 3\n";
    int n = 4;
    auto v = [&](int back) { return "%" + std::to_string(n - back); };
    while (n < size) {
        std::string line = "%" + std::to_string(n) + " = ";
        switch (n % 8) {
            case 0: line += "ADD " + v(1) + ", " + v(3) + ".yzwx"; break;
            case 1: line += "MUL " + v(1) + ", %2"; break;
            case 2: line += "MAD " + v(1) + ", " + v(2) + ".x, -" + v(5); break;
            case 3: line += "DP3 " + v(1) + ", %3"; break;
            case 4: line += "VEC " + v(1) + ".x, " + v(2) + ".x, " + v(3) + ".z, %1.w"; break;
            case 5: line += "DIV " + v(1) + ", " + v(2) + ".y"; break;
            case 6: line += "TEX " + v(1) + ", 0 RECT"; break;
            default: line += "RCP " + v(7) + ".w"; break;
        }
        text += line + "\n";
        ++n;
    }
    text += "OUTPUT color %" + std::to_string(n - 1) + "\n";
    return arbtest::irFunction(text);
}

TEST(ArbCounts, aVeryLargeFunctionIsEmittedInAboutASecond) {
    cgc::ir::Function f = hugeFunction(300000);
    cgc::Limits roomy;
    roomy.instructions = roomy.aluInstructions = roomy.texInstructions = roomy.texIndirections = 1 << 22;
    roomy.temporaries = roomy.parameters = 1 << 20;
    auto start = std::chrono::steady_clock::now();
    cgc::ArbProgram out = cgc::emitArb(f, {}, roomy);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(out.stats.instructions, 250000);
    EXPECT_LT(out.stats.temporaries, 64);
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
    const double allowed = 10;  // instrumented or unoptimised builds
#else
    const double allowed = 2;
#endif
    EXPECT_LT(seconds, allowed) << "took " << seconds << " s";

    start = std::chrono::steady_clock::now();
    int line = 0;
    try {
        cgc::emitArb(f, {}, cgc::Limits{});
        ADD_FAILURE() << "no limit error";
    } catch (const cgc::CompileError& e) {
        line = e.loc.line;
        EXPECT_EQ(e.what.rfind("program needs ", 0), 0u) << e.what;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(line, 0);
    EXPECT_LT(seconds, allowed) << "took " << seconds << " s";
}

}  // namespace
