// IR functions through the back end, loaded and run on GL and compared with
// the IR interpreter on every pixel; each row also bounds the instructions
// and temporaries its program may take, which is where a back end that adds
// copies, wastes registers or splits work shows.
#include "cg/arb/backend.h"
#include "cg/ir/eval.h"
#include "tests/cg/arb/ProgramText.h"
#include "tests/cg/support/ArbReference.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <cmath>
#include <cstring>

namespace {

using cgtest::ArbRun;
using cgtest::Rgba;

ArbRun standardRun() {
    ArbRun run;
    run.texcoord[0] = {{0, 0, 0, 1}, {4, 0, 0, 0}, {0, 4, 0, 0}};  // texel centres of the 4 x 4 target
    run.texcoord[1] = {{0.3f, -0.7f, 1.43f, 2}, {1.1f, 0.4f, -0.6f, 0.5f}, {-0.5f, 1.3f, 0.2f, 0.25f}};
    run.texcoord[2] = {{0, 0, 0.25f, 1}, {1, 0, 0.5f, 0}, {0, 1, 0, 0}};  // normalised, texel centres
    run.texcoord[3] = {{0.2f, -0.3f, 0.1f, 1}, {-1.2f, 0.4f, 0.3f, 0}, {0.3f, 1.1f, -0.9f, 0}};
    run.color = {{0.2f, 0.4f, 0.6f, 0.8f}, {0.1f, -0.2f, 0.05f, 0}, {0.05f, 0.1f, -0.1f, 0.1f}};
    run.secondaryColor = {{0.9f, 0.1f, 0.5f, 0}, {-0.2f, 0.3f, 0, 0}, {0, 0, 0.2f, 0}};
    run.fog = 0.375f;
    run.locals = {{1.5f, -2, 0.25f, 3}, {0.5f, 0.5f, 2, -1}, {-0.75f, 4, 1, 0.125f}, {2, 3, 5, 7}};

    cgtest::Texture rect;
    rect.unit = 0;
    rect.target = GL_TEXTURE_RECTANGLE_ARB;
    rect.width = rect.height = 4;
    cgtest::Texture flat = rect;
    flat.unit = 1;
    flat.target = GL_TEXTURE_2D;
    rect.rgba.clear();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            rect.rgba.insert(rect.rgba.end(), {x + 0.1f * y, y - 0.2f * x, 0.5f + 0.25f * x * y, 1 - 0.1f * x});
            flat.rgba.insert(flat.rgba.end(), {(x + 0.5f) / 4, (y + 0.5f) / 4, ((x + y) % 4 + 0.5f) / 4, 0.5f});
        }
    cgtest::Texture line;
    line.unit = 2;
    line.target = GL_TEXTURE_1D;
    line.width = 4;
    for (int x = 0; x < 4; ++x) line.rgba.insert(line.rgba.end(), {0.1f * (x + 1), 0.2f, 0.3f * x, 1});
    cgtest::Texture volume;
    volume.unit = 3;
    volume.target = GL_TEXTURE_3D;
    volume.width = volume.height = volume.depth = 2;
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                volume.rgba.insert(volume.rgba.end(), {x + 0.25f, y + 0.5f, z + 0.75f, (x + y + z) / 3.0f});
    cgtest::Texture cube;
    cube.unit = 4;
    cube.target = GL_TEXTURE_CUBE_MAP;
    for (int face = 0; face < 6; ++face)
        cube.rgba.insert(cube.rgba.end(), {face * 0.1f, 1 - face * 0.1f, 0.5f, float(face)});
    run.textures = {rect, flat, line, volume, cube};
    return run;
}

struct Row {
    const char* behaviour;
    const char* ir;
    int maxInstructions;
    int maxTemporaries;
};

float tolerance(float expected) { return 2e-4f * std::fmax(1.0f, std::fabs(expected)); }

// Emits the row, runs it, and compares every pixel with the interpreter
// (lanes the interpreter leaves undefined, NaN, are not compared).
void expectRunsAsInterpreted(const Row& row, const ArbRun& run = standardRun()) {
    SCOPED_TRACE(row.behaviour);
    cgc::ir::Function f = arbtest::irFunction(row.ir);
    cgc::ArbProgram out;
    try {
        out = cgc::emitArb(f, {"# texture[0] = field (samplerRECT)"}, cgc::Limits{});
    } catch (const cgc::CompileError& e) {
        ADD_FAILURE() << "line " << e.loc.line << ": " << e.what;
        return;
    }
    SCOPED_TRACE(out.text);
    EXPECT_LE(out.stats.instructions, row.maxInstructions);
    EXPECT_LE(out.stats.temporaries, row.maxTemporaries);

    cgtest::ArbResult gl = cgtest::runArb(out.text, run);
    ASSERT_TRUE(gl.loaded) << "GL refused it at " << gl.errorPosition << ": " << gl.error;
    // Mesa's total also counts END, and it reports no indirections and its
    // own parameter figure; these it counts as the extension does.
    EXPECT_EQ(gl.aluInstructions, out.stats.aluInstructions);
    EXPECT_EQ(gl.texInstructions, out.stats.texInstructions);
    EXPECT_EQ(out.stats.aluInstructions + out.stats.texInstructions, out.stats.instructions);
    EXPECT_EQ(gl.temporaries, out.stats.temporaries);

    int mismatches = 0;
    for (int j = 0; j < run.height; ++j)
        for (int i = 0; i < run.width; ++i) {
            cgc::ir::Fragment fragment = cgtest::fragmentAt(run, i, j);
            cgc::ir::Result want = cgc::ir::run(f, fragment);
            Rgba expected = run.clear;
            if (!want.killed) std::copy(want.color.begin(), want.color.end(), expected.begin());
            Rgba got = gl.pixel(i, j);
            for (int c = 0; c < 4; ++c) {
                if (std::isnan(expected[c]) || std::fabs(got[c] - expected[c]) <= tolerance(expected[c])) continue;
                if (++mismatches <= 4)
                    ADD_FAILURE() << "pixel (" << i << ", " << j << ") lane " << c << ": GL " << got[c]
                                  << ", interpreter " << expected[c];
            }
        }
}

using ArbBackendRun = FloatTargetTest;

TEST_F(ArbBackendRun, layoutAddsNothingAHandWrittenProgramWouldNot) {
    const Row rows[] = {
        {"theCopyProgramIsOneLookupIntoTheResult",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 RECT\nOUTPUT color %1\n", 1, 0},
        {"anOutputIsWrittenByItsProducer",
         "%0 = INPUT color0\n%1 = UNIFORM 0\n%2 = MAD %0, %1, %0.w\nOUTPUT color %2\n", 1, 0},
        {"aSwizzledOutputReaimsItsProducer",
         "%0 = INPUT color0\n%1 = UNIFORM 1\n%2 = ADD %0, %1\nOUTPUT color %2.wzyx\n", 1, 0},
        {"aNegatedOutputNegatesItsProducersSources",
         "%0 = INPUT texcoord1\n%1 = UNIFORM 0\n%2 = MUL %0, %1.y\nOUTPUT color -%2\n", 1, 0},
        {"aSwizzledLookupNeedsOneMove",
         "%0 = INPUT texcoord0\n%1 = TEX %0, 0 RECT\nOUTPUT color %1.wzyx\n", 2, 1},
        {"anInputOrConstantOutputIsOneMove", "%0 = INPUT color1\nOUTPUT color %0.zyxx\n", 1, 0},
        {"scalarsShareOneTemporary",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = DP3 %0, %1\n%3 = RCP %0.y\n%4 = RSQ %1.z\n"
         "%5 = EX2 %0.x\n%6 = MUL %2.x, %3.x\n%7 = MAD %4.x, %5.x, %6.x\n%8 = ADD %7.x, %0\nOUTPUT color %8\n",
         7, 1},
        {"perLaneScalarsMoveToFreeComponents",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = ADD %0.x, %1.x\n%3 = MUL %0.yxzw, %1.zwxy\n%4 = SLT %1.wzyx, %0.zwxy\n"
         "%5 = MAD %2.x, %3.x, %4.x\n%6 = MAD %5.x, %0, %3.x\nOUTPUT color %6\n",
         5, 1},
        {"deadRegistersAreReused",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = MUL %0, %1\n%3 = ADD %2, %1\n%4 = MUL %3, %3\n"
         "%5 = ADD %4, %0\n%6 = MUL %5, %1\n%7 = ADD %6, %2\nOUTPUT color %7\n",
         6, 2},
        {"aGatherIsWrittenInPlaceByItsProducers",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = ADD %0, %1\n%3 = MUL %0, %1\n%4 = DP3 %0, %1\n"
         "%5 = MAX %0, %1\n%6 = VEC %3.y, %2.x, %4.x, %5.z\n%7 = MUL %6, %1\nOUTPUT color %7\n",
         5, 1},
        {"aGatheredOutputIsWrittenInPlaceLookupIncluded",
         "%0 = INPUT texcoord2\n%1 = ADD %0, %0.yxwz\n%2 = RCP %0.y\n%3 = TEX %0, 1 2D\n"
         "%4 = VEC %1.y, %2.x, %3.z, _\nOUTPUT color %4\n",
         3, 0},
        {"constantLanesOfAGatherTakeOneMove",
         "%0 = INPUT color0\n%1 = CONST 0.25 1 -3 0\n%2 = ADD %0, %0\n%3 = CONST 7\n"
         "%4 = VEC %2.x, %1.y, %3.x, %0.w\nOUTPUT color %4\n",
         3, 0},
        {"zeroAndOneLanesJoinTheOtherLanesInOneSwizzle",
         "%0 = INPUT texcoord1\n%1 = CONST 0 1 0 -1\n%2 = VEC %0.y, %0.x, %1.y, %1.w\nOUTPUT color %2\n", 1, 0},
        {"lanesOfBothSignsFromOneRegisterTakeOneSwizzle",
         "%0 = INPUT color0\n%1 = VEC %0.x, -%0.y, %0.w, -%0.z\n%2 = ADD %1, %0\nOUTPUT color %2\n", 2, 1},
        {"aReaimedProducerReadsItsConstantsReaimed",
         "%0 = INPUT color0\n%1 = CONST 2 3 4 5\n%2 = MUL %0, %1\n%3 = ADD %0, %1\n"
         "%4 = VEC %2.w, %3.z, %2.x, %3.y\nOUTPUT color %4\n",
         2, 0},
        {"aGatherReadingBothSignsOfAValueCopiesOneSign",
         "%0 = INPUT color0\n%1 = INPUT texcoord1\n%2 = MUL %0, %1\n%3 = VEC %2.x, -%2.y, %0.z, -%2.x\n"
         "%4 = ADD %3, %1\nOUTPUT color %4\n",
         4, 1},
        {"aComponentGatheredTwiceIsComputedInBothLanes",
         "%0 = INPUT color0\n%1 = ADD %0, %0\n%2 = VEC %1.x, %1.x, %1.y, %0.w\n%3 = MUL %2, %0\nOUTPUT color %3\n",
         3, 1},
        {"aReplicatedResultFillsSeveralGatheredLanes",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = DP3 %0, %1\n%3 = VEC %2.x, %2.x, %0.z, %1.w\n"
         "%4 = MUL %3, %0\nOUTPUT color %4\n",
         4, 1},
        {"divisionByAScalarTakesOneReciprocal",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = DIV %0, %1.y\nOUTPUT color %2\n", 2, 1},
        {"divisionByAVectorTakesOneReciprocalPerDistinctComponent",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = DIV %0, %1.xyxy\n%3 = ADD %2, %0\nOUTPUT color %3\n", 4,
         1},
        {"aQuotientsReciprocalsTakeItsOwnLanes",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = ADD %0.x, %1.y\n%3 = DIV %0.zzzw, %1.xxxy\n"
         "%4 = MAD %3.zwzw, %2.x, %0\nOUTPUT color %4\n",
         5, 1},
        {"oneOverAValueIsOneReciprocal", "%0 = INPUT color0\n%1 = CONST 1\n%2 = DIV %1.x, %0.y\nOUTPUT color %2\n", 1, 0},
        {"oneOverAVectorIsOneReciprocalPerComponent",
         "%0 = INPUT texcoord1\n%1 = CONST 1\n%2 = DIV %1, %0\nOUTPUT color %2\n", 4, 0},
        {"plusAndMinusOneOverAValueNegateTheDivisor",
         "%0 = INPUT texcoord1\n%1 = CONST -1 1 -1 1\n%2 = DIV %1, -%0.x\n%3 = ADD %2, %0\nOUTPUT color %3\n", 3, 1},
        {"twoOverAValueIsAReciprocalAndAProduct",
         "%0 = INPUT color0\n%1 = CONST 2\n%2 = DIV %1.x, %0.y\nOUTPUT color %2\n", 2, 1},
        {"divisionByAConstantIsAMultiplication",
         "%0 = INPUT texcoord1\n%1 = CONST 4 0.5 -8 2\n%2 = DIV %0, %1\nOUTPUT color %2\n", 1, 0},
        {"aNegatedQuotientIsWrittenStraightToTheResult",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = DIV %0, %1.z\nOUTPUT color -%2\n", 2, 1},
        {"copiesAndTrivialGathersOfUnoptimisedCodeVanish",
         "%0 = INPUT color0\n%1 = MOV %0\n%2 = MOV %1.wzyx\n%3 = CONST 2\n%4 = CONST 3\n"
         "%5 = VEC %3.x, %4.x, %3.x, %4.x\n%6 = VEC %2.x, %2.y, %2.z, %2.w\n%7 = MUL %6, %5\n%8 = MOV %7\n"
         "OUTPUT color %8\n",
         1, 0},
        {"aDependentLookupAfterTheIndependentOnes",
         "%0 = INPUT texcoord0\n%1 = CONST 1 0 0 0\n%2 = ADD %0, %1\n%3 = TEX %2, 0 RECT\n%4 = TEX %0, 0 RECT\n"
         "%5 = ADD %3, %4\nOUTPUT color %5\n",
         4, 2},
        {"aLookupOfALookup", "%0 = INPUT texcoord2\n%1 = TEX %0, 1 2D\n%2 = TEX %1, 1 2D\nOUTPUT color %2\n", 2, 1},
        {"aDiscardReadsItsOwnLane",
         "%0 = INPUT texcoord1\n%1 = CONST 1\n%2 = ADD %0, -%1\nKIL %2.x\n%4 = INPUT color0\nOUTPUT color %4\n", 3,
         1},
    };
    for (const Row& row : rows) expectRunsAsInterpreted(row);
}

// Each op as ARB computes it, in a small program around it.
TEST_F(ArbBackendRun, everyOpComputesWhatTheInterpreterDoes) {
    const Row rows[] = {
        {"compareSelectAndInterpolate",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = CMP %0, %1, -%1.wzyx\n%3 = LRP %1, %2, %0\nOUTPUT color %3\n",
         2, 1},
        {"setOnLessAndGreaterEqual",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = SLT %0, %1\n%3 = SGE %0.yxwz, %1\n%4 = MAD %2, %3, %2\n"
         "OUTPUT color %4\n",
         3, 2},
        {"minimumMaximumAndSaturation",
         "%0 = INPUT texcoord1\n%1 = UNIFORM 2\n%2 = MIN %0, %1\n%3 = MAX_SAT %2, -%0.w\nOUTPUT color %3\n", 2, 1},
        {"absoluteFloorAndFraction",
         "%0 = INPUT texcoord1\n%1 = ABS %0\n%2 = FLR -%0\n%3 = FRC %0.wzyx\n%4 = MAD %1, %2, %3\nOUTPUT color %4\n",
         4, 3},
        {"exponentLogarithmAndPower",
         "%0 = INPUT color0\n%1 = EX2 %0.x\n%2 = LG2 %0.y\n%3 = POW %0.z, %0.w\n%4 = RSQ -%0.x\n"
         "%5 = VEC %1.x, %2.x, %3.x, %4.x\nOUTPUT color %5\n",
         4, 0},
        {"sineAndCosine",
         "%0 = INPUT texcoord1\n%1 = SIN %0.x\n%2 = COS %0.w\n%3 = VEC %1.x, %2.x, %1.x, %2.x\n%4 = MUL %3, %0\n"
         "OUTPUT color %4\n",
         3, 1},
        {"dotProducts",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = DP4 %0, %1\n%3 = DPH %0, %1\n%4 = DP3 -%0, %1.wzyx\n"
         "%5 = VEC %2.x, %3.x, %4.x, %0.w\nOUTPUT color %5\n",
         4, 0},
        {"crossProductLightAndDistance",
         "%0 = INPUT texcoord1\n%1 = INPUT color0\n%2 = XPD %0, %1\n%3 = LIT %0.zxyw\n%4 = DST %1, %0\n"
         "%5 = ADD %2, %3\n%6 = MUL %5.xyzx, %4\nOUTPUT color %6\n",
         5, 3},
        {"projectiveAndBiasedLookups",
         "%0 = INPUT texcoord0\n%1 = CONST 2 2 1 2\n%2 = MUL %0, %1\n%3 = TXP %2, 0 RECT\n%4 = INPUT texcoord2\n"
         "%5 = TXB %4, 1 2D\n%6 = ADD %3, %5\nOUTPUT color %6\n",
         4, 2},
        {"lookupsOnEveryTarget",
         "%0 = INPUT texcoord2\n%1 = TEX %0, 2 1D\n%2 = TEX %0, 3 3D\n%3 = INPUT texcoord3\n%4 = TEX %3, 4 CUBE\n"
         "%5 = ADD %1, %2\n%6 = ADD %5, %4\nOUTPUT color %6\n",
         5, 3},
        {"secondaryColourPositionAndFog",
         "%0 = INPUT color1\n%1 = INPUT wpos\n%2 = INPUT fog\n%3 = MAD %1, %0.xyzz, %2\nOUTPUT color %3\n", 1, 0},
        {"aSaturatedCopyIsAnInstruction",
         "%0 = INPUT texcoord1\n%1 = MOV_SAT %0\n%2 = ADD %1, %0\nOUTPUT color %2\n", 2, 1},
    };
    for (const Row& row : rows) expectRunsAsInterpreted(row);
}

// The shipped heat step as an optimiser would leave it: the back end's part
// of the hand-written 23 instructions is to add none.
TEST_F(ArbBackendRun, theHeatStepTakesNoMoreInstructionsThanItsOps) {
    const Row heat = {
        "heatStep",
        "%0 = INPUT texcoord0\n"
        "%1 = TEX %0, 0 RECT\n"
        "%2 = CONST -1 0 1 0\n"
        "%3 = ADD %0.xyxy, %2\n"
        "%4 = CONST 0 -1 0 1\n"
        "%5 = ADD %0.xyxy, %4\n"
        "%6 = TEX %3, 0 RECT\n"
        "%7 = TEX %3.zwzw, 0 RECT\n"
        "%8 = TEX %5, 0 RECT\n"
        "%9 = TEX %5.zwzw, 0 RECT\n"
        "%10 = UNIFORM 0\n"
        "%11 = UNIFORM 1\n"
        "%12 = MUL %10, %10\n"
        "%13 = CONST 0.00001 0.5 -2 0\n"
        "%14 = MUL %11.x, %13.x\n"
        "%15 = DIV %14.x, %12.xyxx\n"
        "%16 = ADD %15.x, %15.y\n"
        "%17 = MAX %16.x, %13.y\n"
        "%18 = DIV %13.y, %17.x\n"
        "%19 = MUL %15.xyxx, %18.x\n"
        "%20 = ADD %6, %7\n"
        "%21 = MAD %1, %13.z, %20\n"
        "%22 = ADD %8, %9\n"
        "%23 = MAD %1, %13.z, %22\n"
        "%24 = MAD %19.x, %21, %1\n"
        "%25 = MAD %19.y, %23, %24\n"
        "OUTPUT color %25\n",
        23, 6};
    expectRunsAsInterpreted(heat);
}

TEST_F(ArbBackendRun, aDiscardedFragmentKeepsWhatTheTargetHeld) {
    ArbRun run = standardRun();
    run.clear = {-5, 6, -7, 8};
    expectRunsAsInterpreted({"discardWhereBelowOne",
                             "%0 = INPUT texcoord1\n%1 = CONST 1\n%2 = ADD %0, -%1\nKIL %2.xxxx\n%4 = INPUT color0\n"
                             "OUTPUT color %4\n",
                             3, 1},
                            run);
}

TEST_F(ArbBackendRun, depthIsWrittenByItsProducerIntoZ) {
    cgc::ir::Function f = arbtest::irFunction(
        "%0 = INPUT texcoord2\n%1 = MUL %0, %0\nOUTPUT depth %1.y\n%3 = INPUT color0\nOUTPUT color %3\n");
    cgc::ArbProgram out = cgc::emitArb(f, {}, cgc::Limits{});
    EXPECT_EQ(out.stats.instructions, 2) << out.text;
    ArbRun run = standardRun();
    run.depth = true;
    cgtest::ArbResult gl = cgtest::runArb(out.text, run);
    ASSERT_TRUE(gl.loaded) << gl.error << "\n" << out.text;
    for (int j = 0; j < run.height; ++j)
        for (int i = 0; i < run.width; ++i) {
            cgc::ir::Fragment fragment = cgtest::fragmentAt(run, i, j);
            cgc::ir::Result want = cgc::ir::run(f, fragment);
            ASSERT_TRUE(want.wroteDepth);
            EXPECT_NEAR(gl.depth[std::size_t(j * run.width + i)], want.depth, 1e-6) << i << ", " << j;
        }
}

TEST_F(ArbBackendRun, constantsReachGLBitForBit) {
    const float awkward[][4] = {
        {0.1f, 1.0f / 3, -0.0f, 16777216.0f},
        {1e-30f, 3.4028235e38f, -1.17549435e-38f, 2.5e-7f},
        {123456.789f, -98765.4321f, 0.33333334f, 7.0f},
    };
    for (const auto& k : awkward) {
        cgc::ir::Function f;
        cgc::ir::Inst c;
        c.op = cgc::ir::Op::Const;
        std::copy(k, k + 4, c.imm);
        f.add(c);
        cgc::ir::Inst out;
        out.op = cgc::ir::Op::Output;
        out.nsrc = 1;
        out.src[0].def = 0;
        f.add(out);
        cgc::ArbProgram text = cgc::emitArb(f, {}, cgc::Limits{});
        cgtest::ArbResult gl = cgtest::runArb(text.text, standardRun());
        ASSERT_TRUE(gl.loaded) << gl.error << "\n" << text.text;
        Rgba got = gl.pixel(1, 2);
        for (int lane = 0; lane < 4; ++lane)
            EXPECT_EQ(std::memcmp(&got[lane], &k[lane], sizeof(float)), 0)
                << "lane " << lane << ": " << got[lane] << " for " << k[lane] << "\n" << text.text;
    }
}

}  // namespace
