// Each construct of the language compiled and run on a 2 x 1 float target:
// the values read back are what the construct means, not just valid text.
#include "cg/cgGL.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

#include <array>
#include <cmath>
#include <functional>
#include <string>

using cgtest::FloatTarget;

namespace {

using V = std::array<float, 4>;

// What every program sees: s is the source texel, t the texture coordinate
// (texel centre), c and c1 the primary and secondary colours; the uniforms
// u and k hold these values.
const V kU = {0.5f, -1.0f, 2.0f, 10.0f};
const float kK = 3.0f;
const V kPrimary = {0.25f, 0.5f, 0.75f, 1.0f};
const V kSecondary = {0.125f, 0.375f, 0.625f, 0.0f};
const std::vector<float> kSource = {1.0f, 2.0f, 3.0f, 4.0f, -5.0f, 6.5f, 0.25f, -8.0f};

const std::string kHead =
    "float4 main(float4 t : TEXCOORD0, uniform samplerRECT src, uniform float4 u, uniform float k) : COLOR {\n"
    "  float4 s = texRECT(src, t.xy);\n";

struct Case {
    const char* what;
    std::string source;
    std::function<V(V s, V t, V c, V c1)> expected;
};

float flr(float x) { return std::floor(x); }
float frc(float x) { return x - std::floor(x); }
float sat(float x) { return std::fmin(std::fmax(x, 0.0f), 1.0f); }

const Case kCases[] = {
    {"swizzle", kHead + "return s.wzyx;}", [](V s, V, V, V) { return V{s[3], s[2], s[1], s[0]}; }},
    {"swizzle with repeats, colour letters", kHead + "return s.ggra;}", [](V s, V, V, V) { return V{s[1], s[1], s[0], s[3]}; }},
    {"scalar returned as a colour", kHead + "return s.b;}", [](V s, V, V, V) { return V{s[2], s[2], s[2], s[2]}; }},
    {"swizzle of a swizzle", kHead + "return s.zyx.yxzz;}", [](V s, V, V, V) { return V{s[1], s[2], s[0], s[0]}; }},
    {"write masks", kHead + "float4 r = u;\n  r.zx = s.xy;\n  r.w = k;\n  return r;}",
     [](V s, V, V, V) { return V{s[1], kU[1], s[0], kK}; }},
    {"broadcast", kHead + "return s * k + 1 - t.x;}",
     [](V s, V t, V, V) { return V{s[0] * kK + 1 - t[0], s[1] * kK + 1 - t[0], s[2] * kK + 1 - t[0], s[3] * kK + 1 - t[0]}; }},
    {"constructors with mixed arguments", kHead + "return float4(float3(t.x, s.w, 2), u.y) + float4(s.zy, k, t.x);}",
     [](V s, V t, V, V) { return V{t[0] + s[2], s[3] + s[1], 2 + kK, kU[1] + t[0]}; }},
    {"casts", kHead + "return float4((float2)s, (float2)u.wz) + (float4)s.y + (float4)0;}",
     [](V s, V, V, V) { return V{s[0] + s[1], s[1] + s[1], kU[3] + s[1], kU[2] + s[1]}; }},
    {"negation and division", kHead + "return -s / float4(2, 4, s.z, k) - t.x;}",
     [](V s, V t, V, V) { return V{-s[0] / 2 - t[0], -s[1] / 4 - t[0], -1 - t[0], -s[3] / kK - t[0]}; }},
    {"compound assignments", kHead + "float4 r = s;\n  r += 1;\n  r.xy *= u.zw;\n  r.w /= k;\n  r.z -= t.x;\n  r /= s.x;\n  return r;}",
     [](V s, V t, V, V) {
         return V{(s[0] + 1) * kU[2] / s[0], (s[1] + 1) * kU[3] / s[0], (s[2] + 1 - t[0]) / s[0], (s[3] + 1) / kK / s[0]};
     }},
    {"min and max", kHead + "return min(s, u) + max(s, k);}",
     [](V s, V, V, V) {
         V r;
         for (int i = 0; i < 4; ++i) r[i] = std::fmin(s[i], kU[i]) + std::fmax(s[i], kK);
         return r;
     }},
    {"clamp and saturate", kHead + "return float4(clamp(s.xy, -1, u.x), saturate(s.zw * 0.5));}",
     [](V s, V, V, V) {
         return V{std::fmin(std::fmax(s[0], -1.0f), kU[0]), std::fmin(std::fmax(s[1], -1.0f), kU[0]), sat(s[2] * 0.5f),
                  sat(s[3] * 0.5f)};
     }},
    {"abs, floor, frac", kHead + "return abs(s) + floor(s * 0.5) * 10 + frac(s * 0.25) * 100;}",
     [](V s, V, V, V) {
         V r;
         for (int i = 0; i < 4; ++i) r[i] = std::fabs(s[i]) + flr(s[i] * 0.5f) * 10 + frc(s[i] * 0.25f) * 100;
         return r;
     }},
    {"lerp", kHead + "return lerp(s, u, 0.25) + lerp(s.x, u.w, t.xxyy);}",
     [](V s, V t, V, V) {
         V w = {t[0], t[0], t[1], t[1]}, r;
         for (int i = 0; i < 4; ++i) r[i] = s[i] + 0.25f * (kU[i] - s[i]) + s[0] + w[i] * (kU[3] - s[0]);
         return r;
     }},
    {"dot of every size", kHead + "return float4(dot(s, u), dot(s.xyz, u.xyz), dot(s.xy, u.zw), dot(s.x, k));}",
     [](V s, V, V, V) {
         return V{s[0] * kU[0] + s[1] * kU[1] + s[2] * kU[2] + s[3] * kU[3], s[0] * kU[0] + s[1] * kU[1] + s[2] * kU[2],
                  s[0] * kU[2] + s[1] * kU[3], s[0] * kK};
     }},
    {"#define and static const",
     "#define TWO 2.0\n#define SCALE (TWO * K.y)\nstatic const float3 K = float3(1, TWO, 3);\nconst float HALF = 0.5;\n" + kHead +
         "return float4(s.xyz * K, SCALE + HALF);}",
     [](V s, V, V, V) { return V{s[0], s[1] * 2, s[2] * 3, 4.5f}; }},
    {"output parameter",
     "void main(float4 t : TEXCOORD0, uniform samplerRECT src, out float4 color : COLOR0) {\n"
     "  color = texRECT(src, t.xy).bgra;\n  color.a = 7;\n  return;\n  color = 0;\n}",
     [](V s, V, V, V) { return V{s[2], s[1], s[0], 7}; }},
    {"half types and suffixes",
     "half4 main(half4 t : TEXCOORD, uniform samplerRECT src) : COLOR {\n"
     "  half4 s = f4texRECT(src, t.xy);\n  half h = 0.5h;\n  half2 p = half2(1.5f, .25);\n"
     "  return s * h + p.x + p.y + 1e1 + 2E-1F;\n}",
     [](V s, V, V, V) {
         V r;
         for (int i = 0; i < 4; ++i) r[i] = s[i] * 0.5f + 1.5f + 0.25f + 10 + 0.2f;
         return r;
     }},
    {"colour inputs", "float4 main(float4 c : COLOR, float3 c1 : COLOR1) : COLOR { return float4(c.bgr, c1.g) + c.a; }",
     [](V, V, V c, V c1) { return V{c[2] + c[3], c[1] + c[3], c[0] + c[3], c1[1] + c[3]}; }},
    {"local constants, declarator lists, scopes", kHead +
         "const float4 a = s * 2;\n  float4 b = u, r;\n  r = a - b;\n  { float4 r = t; r.x = 0; }\n  { return r; }\n}",
     [](V s, V, V, V) { return V{2 * s[0] - kU[0], 2 * s[1] - kU[1], 2 * s[2] - kU[2], 2 * s[3] - kU[3]}; }},
    {"sampling a neighbour", kHead + "return texRECT(src, t.xy + float2(1, 0)) - s;}",
     [](V s, V t, V, V) {
         // texel 0 reads texel 1; texel 1 reads past the edge, which clamps to itself
         V other = t[0] < 1 ? V{-5.0f, 6.5f, 0.25f, -8.0f} : s;
         return V{other[0] - s[0], other[1] - s[1], other[2] - s[2], other[3] - s[3]};
     }},
};

class CgLanguage : public GLTest {};

TEST_F(CgLanguage, EachConstructComputesWhatItMeans) {
    REQUIRE_FLOAT_TARGETS();
    CGcontext context = cgCreateContext();
    FloatTarget source(2, 1, GL_RGBA32F_ARB, kSource);
    FloatTarget target(2, 1, GL_RGBA32F_ARB);
    ASSERT_TRUE(source.complete() && target.complete());
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        CGprogram program = cgCreateProgram(context, CG_SOURCE, c.source.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        cgGLLoadProgram(program);
        CGerror error = cgGetError();
        ASSERT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
        CGparameter src = cgGetNamedParameter(program, "src");
        cgGLSetParameter4f(cgGetNamedParameter(program, "u"), kU[0], kU[1], kU[2], kU[3]);
        cgGLSetParameter1f(cgGetNamedParameter(program, "k"), kK);
        cgGetError();  // not every program declares all three

        glColor4f(kPrimary[0], kPrimary[1], kPrimary[2], kPrimary[3]);
        glSecondaryColor3f(kSecondary[0], kSecondary[1], kSecondary[2]);
        cgtest::drawPass(target, program, src, &source);
        std::vector<float> got = target.read();
        for (int x = 0; x < 2; ++x) {
            V s = {kSource[std::size_t(x) * 4], kSource[std::size_t(x) * 4 + 1], kSource[std::size_t(x) * 4 + 2],
                   kSource[std::size_t(x) * 4 + 3]};
            V want = c.expected(s, V{float(x) + 0.5f, 0.5f, 0.0f, 1.0f}, kPrimary, kSecondary);
            for (int i = 0; i < 4; ++i)
                EXPECT_NEAR(got[std::size_t(x) * 4 + std::size_t(i)], want[std::size_t(i)],
                            1e-4 * (1 + std::fabs(want[std::size_t(i)])))
                    << "texel " << x << " component " << i;
        }
        EXPECT_TRUE(testgl::drainErrors().empty());
    }
}

}  // namespace
