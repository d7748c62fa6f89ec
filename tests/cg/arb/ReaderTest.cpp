// ARB fragment program text as the compiler's input: programs written by hand
// read and load on Mesa, each kind of fault is one located line (and Mesa
// refuses the grammar's faults too), and the compiler's output, initial
// values included, reads back as itself.
#include "cg/compiler.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>

namespace {

struct Valid {
    const char* behaviour;
    const char* text;
    int instructions, texInstructions;
};

const Valid kValid[] = {
    {"everyAluInstructionWithMasksSwizzlesAndSat",
     "!!ARBfp1.0\n"
     "OPTION ARB_precision_hint_fastest;\n"
     "ATTRIB tc = fragment.texcoord[1];  # trailing comment\n"
     "ATTRIB col = fragment.color.primary;\n"
     "PARAM k = {1, -2.5, .5, 3e-1};\n"
     "PARAM s = -2;\n"
     "TEMP a, b;\n"
     "ABS a, -tc;\nFLR b.xy, a;\nFRC_SAT b.zw, a.wzyx;\nLIT a, b;\nMOV a.rgb, col.bgra;\n"
     "COS b.x, a.x;\nEX2 b.y, a.y;\nLG2 b.z, a.z;\nRCP b.w, a.w;\nRSQ_SAT b.x, -a.x;\nSIN b.y, a.r;\n"
     "SCS b.xy, a.x;\nPOW a.x, b.x, b.y;\n"
     "ADD a, a, k;\nDP3 a.x, a, b;\nDP4 a.y, a, b;\nDPH a.z, a, b;\nDST a, a, b;\nMAX a, a, b;\nMIN a, a, b;\n"
     "MUL a, a, s;\nSGE a, a, b;\nSLT a, a, b;\nSUB a, a, 0.5;\nXPD a.xyz, a, b;\n"
     "CMP a, a, b, k;\nLRP a, a.x, b, k;\nMAD_SAT a, a, 0.5, {1, 2};\nSWZ b, a, -x, 1, 0, +w;\n"
     "MOV result.color, a;\nEND\n",
     30, 0},
    {"parameterArraysRangesStateAndAliases",
     "!!ARBfp1.0\n"
     "PARAM locals[] = {program.local[0..2], program.env[1], {4, 3, 2, 1}, 7};\n"
     "PARAM mvp[4] = {state.matrix.mvp};\n"
     "PARAM rows[2] = {state.matrix.modelview.inverse.row[1..2]};\n"
     "PARAM fog = state.fog.color;\n"
     "TEMP t;\nALIAS u = t;\nOUTPUT out = result.color;\n"
     "DP4 t.x, mvp[3], locals[5];\nMAD t, rows[1], state.depth.range, program.local[7];\n"
     "ADD u, t, fog;\nMUL out, u, state.light[1].spot.direction;\nEND\n",
     4, 0},
    {"lookupsOnEveryTargetKillAndDepth",
     "!!ARBfp1.0\r\nATTRIB p = fragment.position;\r\nTEMP a, b;\r"
     "TEX a, fragment.texcoord, texture, 2D;\nTXP b, fragment.texcoord[2], texture[1], 3D;\n"
     "TXB a, b, texture[2], CUBE;\nTEX b, p, texture[3], RECT;\nTEX a.x, a, texture[4], 1D;\n"
     "KIL -a.xyzw;\nMUL result.color, a, fragment.fogcoord.x;\nMOV result.depth.z, b.x;\nEND\n",
     8, 6},
    {"shadowTargetsUnderTheirOption",
     "!!ARBfp1.0\nOPTION ARB_fragment_program_shadow;\nTEX result.color, fragment.texcoord[0], texture[0], SHADOW2D;\n"
     "END\n",
     1, 1},
    {"spacesWhereMesaTakesThem",
     "!!ARBfp1.0\nTEMP r;\nMOV r .x, fragment . texcoord [ 0 ] .y;\nMOV result. color, program . local\n[0];\nEND\n", 2, 0},
    {"commentsAfterEnd", "!!ARBfp1.0\nMOV result.color, {0.5}.x;\nEND\n# a note\n\n", 1, 0},
};

struct Fault {
    const char* behaviour;
    const char* text;
    const char* error;    // what compile() says, without "t.fp:"
    bool driverRefuses;   // Mesa refuses it too (the grammar's faults; not limits or comments)
};

#define HEAD "!!ARBfp1.0\nTEMP r;\n"

const Fault kFaults[] = {
    {"tooManySources", HEAD "MAX r, r, r, r;\nEND\n", "3:14: error: 'MAX' takes 2 source operands, got 3", true},
    {"tooFewSources", HEAD "MAD r, r, r;\nEND\n", "3:1: error: 'MAD' takes 3 source operands, got 2", true},
    {"undeclaredName", HEAD "MOV r, rr;\nEND\n", "3:8: error: 'rr' is not declared; did you mean 'r'?", true},
    {"declaredTwice", "!!ARBfp1.0\nTEMP a;\nTEMP b, a;\nEND\n", "3:9: error: 'a' is declared twice (first at line 2)", true},
    {"reservedWordDeclared", "!!ARBfp1.0\nTEMP texture;\nEND\n",
     "2:6: error: 'texture' is a reserved word and cannot be declared", true},
    {"unknownInstruction", HEAD "MUV r, r;\nEND\n", "3:1: error: unknown instruction 'MUV'; did you mean 'MOV'?", true},
    {"maskOutOfOrder", HEAD "MOV r.yx, r;\nEND\n",
     "3:7: error: write mask 'yx' must name components once each, in order", true},
    {"swizzleMixesSets", HEAD "MOV r, r.xgba;\nEND\n", "3:10: error: swizzle 'xgba' mixes xyzw and rgba", true},
    {"twoComponentSwizzle", HEAD "MOV r, r.xy;\nEND\n", "3:8: error: a source swizzle has 1 or 4 components, got 2",
     true},
    {"scalarOperandWithoutComponent", HEAD "RCP r.x, r;\nEND\n",
     "3:10: error: 'RCP' takes a scalar operand: one component, as in 'r0.x'", true},
    {"writeToAttribute", "!!ARBfp1.0\nATTRIB c = fragment.color;\nMOV c, c;\nEND\n",
     "3:5: error: cannot write to 'c': it is an attribute; only TEMP and OUTPUT names and result.* take results", true},
    {"readResult", HEAD "MOV r, result.color;\nEND\n", "3:8: error: result registers cannot be read", true},
    {"kilWithSat", HEAD "KIL_SAT r;\nEND\n", "3:1: error: 'KIL' has no '_SAT' form", true},
    {"missingSemicolon", HEAD "MOV r, r\nEND\n", "3:9: error: expected ';' after the statement", true},
    {"missingEnd", HEAD "MOV r, r;\n", "4:1: error: 'END' expected at the end of the program", true},
    {"unknownOption", "!!ARBfp1.0\nOPTION ARB_fog_expp;\nEND\n",
     "2:1: error: unknown option 'ARB_fog_expp'; did you mean 'ARB_fog_exp'?", true},
    {"optionAfterAStatement", HEAD "OPTION ARB_fog_exp;\nEND\n",
     "3:1: error: OPTION must come before the first declaration or instruction", true},
    {"unknownTarget", HEAD "TEX r, r, texture[0], 4D;\nEND\n",
     "3:23: error: unknown texture target '4D'; the targets are 1D, 2D, 3D, CUBE and RECT", true},
    {"twoTargetsOnOneUnit", HEAD "TEX r, r, texture[1], 2D;\nTEX r, r, texture[1], RECT;\nEND\n",
     "4:23: error: texture[1] is sampled as RECT here and as 2D at line 3", true},
    {"shadowWithoutOption", HEAD "TEX r, r, texture[0], SHADOW2D;\nEND\n",
     "3:23: error: 'SHADOW2D' needs 'OPTION ARB_fragment_program_shadow;'", true},
    {"arrayIndexPastTheEnd", "!!ARBfp1.0\nPARAM a[2] = {1, 2};\nMOV result.color, a[2];\nEND\n",
     "3:21: error: index 2 is past the end of 'a' (2 elements)", true},
    {"arrayWithoutIndex", "!!ARBfp1.0\nPARAM a[] = {1, 2};\nMOV result.color, a;\nEND\n",
     "3:19: error: 'a' is an array; name an element, as in 'a[0]'", true},
    {"arraySizeAndBindingsDisagree", "!!ARBfp1.0\nPARAM a[3] = {1, 2};\nEND\n",
     "2:7: error: 'a' has 3 elements but 2 are bound", true},
    {"swzWithThreeComponents", HEAD "SWZ r, r, x, y, z;\nEND\n", "3:18: error: 'SWZ' takes 4 swizzle components, got 3",
     true},
    {"textAfterEnd", HEAD "END\nMOV r, r;\n", "4:1: error: nothing but comments may follow 'END' near 'MOV'", true},
    {"unknownAttribute", HEAD "MOV r, fragment.normal;\nEND\n",
     "3:17: error: unknown fragment attribute 'normal'; the attributes are color, texcoord, fogcoord and position", true},
    {"matrixWithoutRow", "!!ARBfp1.0\nPARAM m = state.matrix.mvp;\nEND\n",
     "2:24: error: a single parameter is one matrix row, as in 'state.matrix.mvp.row[0]'", true},
    {"constantOfFiveComponents", HEAD "MOV r, {1, 2, 3, 4, 5};\nEND\n",
     "3:21: error: a constant vector has at most 4 components", true},
    {"strayCharacter", HEAD "MOV r, r @;\nEND\n", "3:10: error: unexpected character '@'", true},
    {"anEarlierFaultBeforeALaterStrayCharacter", HEAD "MOV r r;\nMOV r, r @;\nEND\n", "3:7: error: ',' expected near 'r'",
     true},
    {"malformedNumber", HEAD "MOV r, 1.5x;\nEND\n", "3:8: error: malformed number '1.5x'", true},
    {"spaceInASwizzle", HEAD "MOV r, r. x;\nEND\n", "3:11: error: a swizzle follows its '.' without a space", true},
    {"dotAtALinesEnd", HEAD "MOV r, fragment.\ncolor;\nEND\n", "3:16: error: a '.' and the name after it must be on one line",
     true},
    {"aliasOfNothing", "!!ARBfp1.0\nALIAS a = b;\nEND\n", "2:11: error: 'b' is not declared", true},
    {"localPastTheLast", HEAD "MOV r, program.local[256];\nEND\n",
     "3:22: error: program.local[256] is past the last local parameter (at most 256)", false},
    {"instructionsPastTheLimit", HEAD "MOV r, r;\nMOV r, r;\nMOV r, r;\nMOV r, r;\nMOV r, r;\nEND\n",
     "7:1: error: program needs 5 instructions; this target allows 4", false},
    {"temporariesPastTheLimit", "!!ARBfp1.0\nTEMP a, b, c;\nTEMP d, e;\nEND\n",
     "3:9: error: program needs 5 temporaries; this target allows 4", false},
    {"headerCommentOfAnUnknownType", "!!ARBfp1.0\n# texture[0] = heat (sampler9D)\nEND\n",
     "2:1: error: unknown type 'sampler9D' for parameter 'heat'", false},
    {"headerCommentWithTooFewInitialValues", "!!ARBfp1.0\n# program.local[0] = gain (float2) = 1\nEND\n",
     "2:37: error: 'gain' (float2) takes 2 initial values, got 1", false},
};

cgc::Options smallTarget() {
    cgc::Options options;
    options.limits.instructions = options.limits.aluInstructions = 4;
    options.limits.temporaries = 4;
    return options;
}

TEST(ArbReader, handWrittenProgramsReadAndAreCounted) {
    for (const Valid& v : kValid) {
        SCOPED_TRACE(v.behaviour);
        const cgc::Compiled c = cgc::compile(v.text, "t.fp");
        ASSERT_TRUE(c.ok) << c.error;
        EXPECT_EQ(c.text, v.text) << "assembly is kept as written";
        EXPECT_EQ(c.stats.instructions, v.instructions);
        EXPECT_EQ(c.stats.texInstructions, v.texInstructions);
    }
}

TEST(ArbReader, eachFaultIsOneLocatedLine) {
    for (const Fault& f : kFaults) {
        SCOPED_TRACE(f.behaviour);
        const cgc::Compiled c = cgc::compile(f.text, "t.fp", smallTarget());
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.error, std::string("t.fp:") + f.error);
    }
}

// Initial values, a matrix's rows, an array's elements and struct leaves
// survive the trip through the header comments.
TEST(ArbReader, compiledOutputReadsBackAsItselfWithItsParameters) {
    const char* const sources[] = {
        "uniform float gain = 2.0;\nuniform float3x3 m = {1, 0, 0, 0, 1, 0, 0, 0.5, 1};\n"
        "float4 main(float2 t : TEXCOORD0, uniform samplerRECT heat, uniform float4 tint = float4(1, 0.5, 0, 1)) : COLOR {\n"
        "  float4 c = texRECT(heat, t);\n  return float4(mul(m, c.rgb) * gain, 1) * tint;\n}\n",
        "struct Light { float3 color; float power; };\nuniform Light light = { {1, 0.25, 0}, 3 };\n"
        "uniform float w[3] = {1, 2, -3.5};\nstatic const float k = 4;\nuniform int n = k / 3;\n"
        "float4 main() : COLOR { return float4(light.color * light.power + w[1] + n, 1); }\n",
    };
    for (const char* source : sources) {
        const cgc::Compiled first = cgc::compile(source, "t.cg");
        ASSERT_TRUE(first.ok) << first.error;
        const cgc::Compiled again = cgc::compile(first.text, "t.fp");
        ASSERT_TRUE(again.ok) << again.error << "\n" << first.text;
        EXPECT_EQ(again.text, first.text);
        ASSERT_EQ(again.parameters.size(), first.parameters.size());
        for (std::size_t i = 0; i < first.parameters.size(); ++i) {
            EXPECT_EQ(again.parameters[i].name, first.parameters[i].name);
            EXPECT_EQ(again.parameters[i].slot, first.parameters[i].slot);
            EXPECT_EQ(again.parameters[i].initial, first.parameters[i].initial) << first.parameters[i].name;
        }
        EXPECT_EQ(again.stats.instructions, first.stats.instructions);
        EXPECT_EQ(again.stats.temporaries, first.stats.temporaries);
        EXPECT_EQ(again.stats.texIndirections, first.stats.texIndirections);
    }
}

TEST(ArbReader, initialValuesAreWhatTheDeclarationsSay) {
    const cgc::Compiled c = cgc::compile(
        "static const float2 h2 = float2(0.5, 0.25);\nuniform float3x3 m = float3x3(1, 2, 3, 4, 5, 6, 7, 8, 9);\n"
        "uniform float4 v = h2.xyxy * 2;\nuniform float s = -(1 + 2) / 4.0;\nuniform int i = 7 / 2;\nuniform bool b = 3;\n"
        "uniform float4 spread = 2;\nfloat4 main() : COLOR { return float4(m[2], 1) + v + s + i + b + spread; }\n",
        "t.cg");
    ASSERT_TRUE(c.ok) << c.error;
    const std::vector<std::vector<float>> want = {
        {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}, {1, 0.5f, 1, 0.5f}, {-0.75f, 0, 0, 0}, {3, 0, 0, 0}, {1, 0, 0, 0},
        {2, 2, 2, 2}};
    ASSERT_EQ(c.parameters.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(c.parameters[k].initial, want[k]) << c.parameters[k].name;
    EXPECT_NE(c.text.find("# program.local[0..2] = m (float3x3) = 1, 2, 3, 4, 5, 6, 7, 8, 9\n"), std::string::npos)
        << c.text;
}

TEST(ArbReader, initialValuesThatAreNotConstantAreLocatedErrors) {
    const struct {
        const char* source;
        const char* error;
    } rows[] = {
        {"uniform float a;\nuniform float b = a * 2;\nfloat4 main() : COLOR { return b; }\n",
         "t.cg:2:19: error: the initial value of uniform 'b' must be known when compiling: literals, arithmetic, "
         "constructors and const values"},
        {"uniform float b = sin(1);\nfloat4 main() : COLOR { return b; }\n",
         "t.cg:1:19: error: the initial value of uniform 'b' must be known when compiling: literals, arithmetic, "
         "constructors and const values"},
        {"float4 main(uniform samplerRECT s = 0) : COLOR { return 0; }\n",
         "t.cg:1:37: error: cannot convert 'int' to 'samplerRECT' in the initialisation of 's'"},
        {"float f(float x = 1) { return x; }\nfloat4 main() : COLOR { return f(2); }\n",
         "t.cg:1:19: error: parameter 'x' cannot have a default value"},
    };
    for (const auto& row : rows) {
        const cgc::Compiled c = cgc::compile(row.source, "t.cg");
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.error, row.error);
    }
}

// Up to the runtime's 16 MiB file limit, an ARB program is read, or fails
// with its one line, within seconds of processor time.
TEST(ArbReader, sixteenMegabytesOfInstructionsFailWithinSeconds) {
#ifdef __SANITIZE_ADDRESS__
    const double kSeconds = 20;  // the sanitizers' build checks every access
#else
    const double kSeconds = 5;
#endif
    const struct {
        const char* instruction;
        const char* needs;
    } rows[] = {{"MAD r, r, {1.5, 2, 3, 4}, fragment.texcoord[0].xyzw;\n", "program needs 316550 instructions"},
                {"MOV r, r;\n", "program needs 1677717 instructions"}};
    for (const auto& row : rows) {
        std::string text = "!!ARBfp1.0\nTEMP r;\n";
        const std::size_t n = ((16u << 20) - 40) / std::strlen(row.instruction);
        text.reserve(text.size() + n * std::strlen(row.instruction) + 4);
        for (std::size_t i = 0; i < n; ++i) text += row.instruction;
        text += "END\n";
        timespec before{}, after{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
        const cgc::Compiled c = cgc::compile(text, "big.fp");
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
        const double seconds = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) * 1e-9;
        // Counted to the end, named at the first instruction past the limit.
        const std::string at = "big.fp:" + std::to_string(cgc::Limits().instructions + 3) + ":1: error: ";
        EXPECT_EQ(c.error.find(at + row.needs), 0u) << c.error;
        EXPECT_LT(seconds, kSeconds);
    }
}

class ArbReaderOnMesa : public FloatTargetTest {};

// The reader is no stricter than the driver on what it accepts, and refuses
// nothing in the grammar that the driver would load.
TEST_F(ArbReaderOnMesa, acceptsWhatMesaLoadsAndRefusesWhatItRefuses) {
    if (IsSkipped() || HasFatalFailure()) return;
    cgtest::ArbRun run;
    for (const Valid& v : kValid) {
        const cgtest::ArbResult r = cgtest::runArb(v.text, run);
        EXPECT_TRUE(r.loaded) << v.behaviour << ": " << r.error << " at " << r.errorPosition;
    }
    for (const Fault& f : kFaults) {
        if (!f.driverRefuses) continue;
        EXPECT_FALSE(cgtest::runArb(f.text, run).loaded) << f.behaviour << ": Mesa loads it";
    }
}

// Small edits of the valid programs: whatever the reader still accepts,
// Mesa loads.
TEST_F(ArbReaderOnMesa, editedProgramsTheReaderAcceptsMesaLoads) {
    if (IsSkipped() || HasFatalFailure()) return;
    const char* const pieces[] = {"[", "]", "{", "}", ",", ";", ".", "..", "-", "=", "#", "\n", "0", "1.5e3", "x",
                                  "xyzw", "a", "texture", "fragment", "program", "state", "result", "END", "TEMP",
                                  "PARAM", "ALIAS", "MOV", "TEX", "SWZ", "KIL", "2D", "RECT", "row", "local", "_SAT"};
    std::mt19937 random(16);
    cgtest::ArbRun run;
    int accepted = 0;
    for (int i = 0; i < 6000; ++i) {
        std::string text = kValid[std::size_t(i) % (sizeof kValid / sizeof kValid[0])].text;
        for (int edits = 1 + int(random() % 3); edits > 0; --edits) {
            const std::size_t at = 11 + random() % (text.size() - 11);  // past the header
            switch (random() % 3) {
                case 0: text.insert(at, pieces[random() % (sizeof pieces / sizeof pieces[0])]); break;
                case 1: text.erase(at, 1 + random() % 8); break;
                default: text.insert(at, text.substr(random() % text.size(), 1 + random() % 20)); break;
            }
        }
        if (!cgc::compile(text, "t.fp").ok) continue;
        ++accepted;
        const cgtest::ArbResult r = cgtest::runArb(text, run);
        EXPECT_TRUE(r.loaded) << r.error << " at " << r.errorPosition << "\n" << text;
    }
    EXPECT_GT(accepted, 100);
}

}  // namespace
