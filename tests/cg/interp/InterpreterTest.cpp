// The reference interpreter on its own: what each kind of statement,
// expression and built-in gives for one fragment, worked out by hand.
#include "cg/interp/interp.h"
#include "cg/sema/sema.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using cgc::interp::Vec4;

struct Row {
    const char* behaviour;
    const char* body;  // of main(float4 t : TEXCOORD0, float4 c : COLOR0), with the uniforms below
    Vec4 want;
    bool discarded = false;
};

// t = (0.25, 0.5, 2, 1), c = (0.5, -1, 2, 0.25); k = (3, 1.5, -2, 0.5),
// m = rows (1, 2), (3, 4); a lookup reads texel (x, y) of a 4 x 4 field as
// (x, y, 10 x + y, 1).
const char kHead[] =
    "uniform float4 k; uniform float2x2 m; uniform samplerRECT field;\n"
    "struct P { float2 at; float w[2]; };\n"
    "float twice(inout float x) { x *= 2; return x + 1; }\n"
    "void split(float4 v, out float2 lo, out float2 hi) { lo = v.xy; hi = v.zw; }\n"
    "float firstAbove(float4 v, float limit) {\n"
    "    for (int i = 0; i < 4; i++) if (v[i] > limit) return i;\n"
    "    return -1;\n"
    "}\n"
    "float4 main(float4 t : TEXCOORD0, float4 c : COLOR0) : COLOR {\n";

cgc::interp::Result run(const std::string& body, std::vector<std::string>* trace = nullptr) {
    cgc::interp::Program p;
    std::string error;
    const std::string text = std::string(kHead) + body + "\n}\n";
    EXPECT_TRUE(p.load(text, "t.cg", {}, &error)) << error;
    if (!error.empty()) return {};
    cgc::interp::Inputs in;
    in.attributes[std::size_t(cgc::inputAttribute("TEXCOORD0"))] = {0.25, 0.5, 2, 1};
    in.attributes[std::size_t(cgc::inputAttribute("COLOR0"))] = {0.5, -1, 2, 0.25};
    in.locals[0] = {3, 1.5, -2, 0.5};
    in.locals[1] = {1, 2, 0, 0};
    in.locals[2] = {3, 4, 0, 0};
    cgc::interp::Texture field;
    field.kind = cgc::SamplerKind::SamplerRect;
    field.width = field.height = 4;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) field.texels.push_back({double(x), double(y), 10.0 * x + y, 1});
    in.textures[0] = field;
    cgc::interp::Trace t;
    if (trace)
        t = [&](const cgc::Loc& loc, const std::string& target, const std::string& value) {
            trace->push_back(std::to_string(loc.line - 9) + ": " + target + " = " + value);
        };
    return p.run(in, t);
}

TEST(Interpreter, runsEachConstructAsWritten) {
    const Row rows[] = {
        {"anIfTakesOneArm", "float4 r = 0; if (c.x > 0) r.x = 1; else r.y = 1; return r;", {1, 0, 0, 0}},
        {"anElseIfChainStopsAtTheFirstTrueTest",
         "float r; if (c.y > 0) r = 1; else if (c.z > 1) r = 2; else if (c.z > 0) r = 3; else r = 4; return r;",
         {2, 2, 2, 2}},
        {"aForLoopWithContinueAndBreak",
         "float s = 0; for (int i = 0; i < 10; i++) { if (i == 1) continue; if (i == 4) break; s += i; } return s;",
         {5, 5, 5, 5}},
        {"aContinueTakenSkipsALaterBreak",
         "float4 v = 1; for (int i = 0; i < 4; i++) { v *= c; if (t.y > 0) continue; if (t.x > 0) break; } return v;",
         {0.0625, 1, 16, 0.00390625}},
        {"whileAndDoLoopsRunUntilTheirTestFails",
         "float n = 0; float y = 20; while (y > 1) { y *= 0.5; n++; } int i = 0; do { i++; } while (i < 3); return float4(n, y, i, 0);",
         {5, 0.625, 3, 0}},
        {"aReturnInsideALoopLeavesTheFunction", "return float4(firstAbove(c, 1), firstAbove(c, 5), firstAbove(t, 0), 0);",
         {2, -1, 0, 0}},
        {"inoutAndOutParametersWriteBack",
         "float x = 3; float y = twice(x); float2 lo, hi; split(c, lo, hi); return float4(x, y, lo.y, hi.x);",
         {6, 7, -1, 2}},
        {"swizzledReadsAndMaskedWrites", "float4 r = c.wzyx; r.yw = t.xx; r.x += 1; return r;", {1.25, 0.25, -1, 0.25}},
        {"structsAndArraysIndexedByACounter",
         "P p = {t.xy, {2, 3}}; float s = 0; for (int i = 0; i < 2; i++) s += p.w[i] * p.at[i]; p.w[1] = s; return float4(s, p.w[1], p.at);",
         {2, 2, 0.25, 0.5}},
        {"mulTakesAVectorAsAColumnOnTheRightAndARowOnTheLeft", "return float4(mul(m, t.xy), mul(t.xy, m));",
         {1.25, 2.75, 1.75, 2.5}},
        {"matrixRowsElementsAndSwizzles", "float2x2 n = m; n[1][0] = 7; return float4(n[1], n._m01, n._12);", {7, 4, 2, 2}},
        {"intTruncatesTowardZeroAndDividesWhole", "int a = -7.9; int b = a / 2; return float4(a, b, a % 3, (int)2.99);",
         {-7, -3, -1, 2}},
        {"uniformsOfEveryRegisterAndTheirWidth", "return float4(k.x, m[0][1], m._m11, k.w);", {3, 2, 4, 0.5}},
        {"aLookupReadsTheTexelTheCoordinateFallsIn", "return texRECT(field, float2(2.5, 1.5)) + texRECTproj(field, float3(3, 1, 2));",
         {3, 1, 31, 2}},
        {"builtinsComputeTheirDefinitions",
         "return float4(atan2(1, -1), lerp(2, 4, 0.25), smoothstep(0, 2, 1), dot(float3(1, 2, 3), float3(4, 5, 6)));",
         {3 * std::atan(1.0), 2.5, 0.5, 32}},
        {"moreBuiltins", "float e; float f = frexp(12, e); float w; float g = modf(-2.75, w); return float4(f, e, g, w);",
         {0.75, 4, -0.75, -2}},
        {"geometry", "return float4(cross(float3(1, 0, 0), float3(0, 1, 0)).z, length(float2(3, 4)), determinant(m), lit(0.5, 2, 3).z);",
         {1, 5, -2, 8}},
        {"discardEndsTheFragment", "if (c.x > 0) discard; return 1;", {0, 0, 0, 0}, true},
        {"clipDiscardsOnANegativeComponentOnlyWhereReached", "if (c.x < 0) clip(-1); clip(c.xzw); return 2;", {2, 2, 2, 2}},
        {"aConditionPicksPerComponent", "return c > 0 ? t : -t;", {0.25, -0.5, 2, 1}},
        {"logicalOperatorsWorkPerComponent", "return (float4)(c > 0 && t < 1);", {1, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.behaviour);
        const cgc::interp::Result r = run(row.body);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.discarded, row.discarded);
        if (row.discarded) continue;
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(r.color[std::size_t(c)], row.want[std::size_t(c)], 1e-12) << "channel " << c;
    }
}

TEST(Interpreter, tracesEveryAssignmentWithItsLineAndValue) {
    std::vector<std::string> trace;
    const cgc::interp::Result r = run("float s = 0;\nfor (int i = 0; i < 5; i++) {\n  if (i == 2) break;\n  s += c.z;\n}\nreturn s;", &trace);
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<std::string> want = {"1: s = 0", "2: i = 0", "4: s = 2", "2: i = 1", "4: s = 4", "2: i = 2"};
    EXPECT_EQ(trace, want);
}

TEST(Interpreter, aValueOnAJumpIsFlaggedAsRoundingsCall) {
    // c = (0.5, -1, 2, 0.25): the jumps of floor, step and atan2's cut, met
    // exactly, within rounding, and clear of them.
    const struct {
        const char* body;
        bool near;
    } rows[] = {
        {"return atan2(ceil(-c.w), c.y);", true},  // -0 on the cut
        {"return atan2(0, c.y);", true},
        {"return atan2(c.x - 0.5, c.y);", true},
        {"return atan2(1e-9, c.y);", true},
        {"return atan2(0, c.x);", false},
        {"return atan2(c.w, c.y);", false},
        {"return floor(c.z + 1e-9);", true},
        {"return floor(c.z + 0.25);", false},
        {"return step(c.x, 0.5 + 1e-9);", true},
        {"return (float4)(c.w * 4 > 1 + 1e-8);", true},
        {"return (float4)(c.w * 4 > 0.5);", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.body);
        const cgc::interp::Result r = run(row.body);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.nearThreshold, row.near);
    }
}

TEST(Interpreter, runTimeFaultsAreOneLocatedLine) {
    const struct {
        const char* body;
        const char* error;
    } rows[] = {
        {"float w[2] = {1, 2}; int i = 2; return w[i];", "t.cg:10:42: error: index 2 is out of range [0, 2)"},
        {"float y = 1; while (y > 0) y += 1; return y;", "the program runs more than"},
    };
    for (const auto& row : rows) {
        const cgc::interp::Result r = run(row.body);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(row.error), std::string::npos) << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
    }
}

}  // namespace
