// Past each of the target's limits the back end gives one error, located at
// the instruction that passes it and naming the limit and both numbers; at
// the limit it gives none.
#include "cg/arb/backend.h"
#include "tests/cg/arb/ProgramText.h"

#include <functional>
#include <limits>

namespace {

struct LimitRow {
    const char* behaviour;
    const char* ir;
    std::function<void(cgc::Limits&)> limit;
    const char* message;
    int line;  // the IR instruction (1-based) the error is at
};

const char* const kFiveAlu =
    "%0 = INPUT color0\n%1 = ADD %0, %0\n%2 = MUL %1, %0\n%3 = ADD %2, %1\n%4 = MUL %3, %2\n%5 = ADD %4, %0\n"
    "OUTPUT color %5\n";
const char* const kThreeLookups =
    "%0 = INPUT texcoord0\n%1 = TEX %0, 0 RECT\n%2 = INPUT texcoord1\n%3 = TEX %2, 0 RECT\n%4 = INPUT texcoord2\n"
    "%5 = TEX %4, 0 RECT\n%6 = ADD %1, %3\n%7 = ADD %6, %5\nOUTPUT color %7\n";
const char* const kThreeLiveVectors =
    "%0 = INPUT color0\n%1 = INPUT texcoord1\n%2 = ADD %0, %1\n%3 = MUL %0, %1\n%4 = SLT %0, %1\n"
    "%5 = MAD %2, %3, %4\nOUTPUT color %5\n";
const char* const kFourBindings =
    "%0 = INPUT color0\n%1 = CONST 1 2 3 4\n%2 = MUL %0, %1\n%3 = UNIFORM 0\n%4 = ADD %2, %3\n%5 = CONST 5 6 7 8\n"
    "%6 = MUL %4, %5\n%7 = CONST 0.5\n%8 = ADD %6, %7\nOUTPUT color %8\n";
const char* const kFourAttributes =
    "%0 = INPUT color0\n%1 = INPUT texcoord1\n%2 = ADD %0, %1\n%3 = INPUT fog\n%4 = INPUT wpos\n"
    "%5 = MAD %2, %3, %4\nOUTPUT color %5\n";
const char* const kLookupChain =
    "%0 = INPUT texcoord2\n%1 = TEX %0, 1 2D\n%2 = TEX %1, 1 2D\n%3 = TEX %2, 1 2D\nOUTPUT color %3\n";

// The one line the driver would print for the back end's error.
std::string errorOf(const char* ir, const cgc::Limits& limits, int* line) {
    cgc::ir::Function f = arbtest::irFunction(ir);
    try {
        cgc::emitArb(f, {}, limits);
    } catch (const cgc::CompileError& e) {
        *line = e.loc.line;
        cgc::Sources sources;
        sources.addFile("shader.cg");
        return sources.format(e.loc, e.what);
    }
    *line = 0;
    return "";
}

std::string located(int line, const std::string& what) {
    return "shader.cg:" + std::to_string(line) + ":1: error: " + what;
}

TEST(ArbLimits, eachLimitPassedGivesOneLocatedErrorWithBothNumbers) {
    const LimitRow rows[] = {
        {"instructions", kFiveAlu, [](cgc::Limits& l) { l.instructions = 3; },
         "program needs 5 instructions; this target allows 3", 5},
        {"aluInstructions", kFiveAlu, [](cgc::Limits& l) { l.aluInstructions = 4; },
         "program needs 5 ALU instructions; this target allows 4", 6},
        {"textureInstructions", kThreeLookups, [](cgc::Limits& l) { l.texInstructions = 2; },
         "program needs 3 texture instructions; this target allows 2", 6},
        {"aDiscardIsATextureInstruction",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 RECT\n%2 = TEX %1, 0 RECT\nKIL %2\nOUTPUT color %1\n",
         [](cgc::Limits& l) { l.texInstructions = 2; }, "program needs 3 texture instructions; this target allows 2",
         4},
        {"temporaries", kThreeLiveVectors, [](cgc::Limits& l) { l.temporaries = 2; },
         "program needs 3 temporaries; this target allows 2", 5},
        {"parameters", kFourBindings, [](cgc::Limits& l) { l.parameters = 3; },
         "program needs 4 parameters; this target allows 3", 9},
        {"localParameters", "%0 = INPUT color0\n%1 = UNIFORM 9\n%2 = ADD %0, %1\nOUTPUT color %2\n",
         [](cgc::Limits& l) { l.localParameters = 8; }, "program needs 10 local parameters; this target allows 8", 3},
        {"attributes", kFourAttributes, [](cgc::Limits& l) { l.attributes = 3; },
         "program needs 4 attributes; this target allows 3", 6},
        {"textureUnits", "%0 = INPUT texcoord0\n%1 = TEX %0, 5 2D\nOUTPUT color %1\n",
         [](cgc::Limits& l) { l.textureUnits = 4; }, "program needs 6 texture units; this target allows 4", 2},
        {"textureIndirections", kLookupChain, [](cgc::Limits& l) { l.texIndirections = 2; },
         "program needs 3 texture indirections; this target allows 2", 4},
        {"theFirstLimitPassedInProgramOrder", kThreeLiveVectors,
         [](cgc::Limits& l) {
             l.temporaries = 2;
             l.instructions = 3;
         },
         "program needs 3 temporaries; this target allows 2", 5},
        {"aUnitSampledOnTwoTargets",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 RECT\n%2 = TEX %0, 0 2D\n%3 = ADD %1, %2\nOUTPUT color %3\n",
         [](cgc::Limits&) {}, "texture unit 0 is sampled as RECT and as 2D; a unit takes one target", 3},
    };
    for (const LimitRow& row : rows) {
        cgc::Limits limits;
        row.limit(limits);
        int line = -1;
        EXPECT_EQ(errorOf(row.ir, limits, &line), located(row.line, row.message)) << row.behaviour;
    }
}

TEST(ArbLimits, aProgramAtEveryLimitIsAccepted) {
    const char* programs[] = {kFiveAlu, kThreeLookups, kThreeLiveVectors, kFourBindings, kFourAttributes,
                              kLookupChain};
    for (const char* ir : programs) {
        cgc::ArbProgram out = cgc::emitArb(arbtest::irFunction(ir), {}, cgc::Limits{});
        cgc::Limits tight;
        tight.instructions = out.stats.instructions;
        tight.aluInstructions = out.stats.aluInstructions;
        tight.texInstructions = out.stats.texInstructions;
        tight.texIndirections = out.stats.texIndirections;
        tight.temporaries = out.stats.temporaries;
        tight.parameters = out.stats.parameters;
        int line = 0;
        EXPECT_EQ(errorOf(ir, tight, &line), "") << ir;
    }
}

// ARB cannot spell an infinity: a stage that lets one through is at fault,
// and the error says so at the constant.
TEST(ArbLimits, aNonFiniteConstantIsAnInternalErrorAtItsInstruction) {
    cgc::ir::Function f =
        arbtest::irFunction("%0 = INPUT color0\n%1 = CONST 1 2 3 4\n%2 = MUL %0, %1\nOUTPUT color %2\n");
    f.insts[1].imm[2] = std::numeric_limits<float>::infinity();
    try {
        cgc::emitArb(f, {}, cgc::Limits{});
        ADD_FAILURE() << "accepted";
    } catch (const cgc::CompileError& e) {
        EXPECT_EQ(e.what.rfind("internal error: ", 0), 0u) << e.what;
        EXPECT_EQ(e.loc.line, 2);
    }
}

}  // namespace
