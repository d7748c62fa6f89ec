// Every construct of the language compiled by the whole pipeline and run by
// Mesa on a small float target; each pixel is compared with what the
// construct means, computed in C++ from the same pixel's inputs.
#include "cg/ir/eval.h"
#include "tests/cg/lang/ConstructPipeline.h"
#include "tests/cg/support/ArbReference.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <array>
#include <cmath>
#include <functional>
#include <string>

namespace {

using constructtest::compileProgram;
using constructtest::Program;
using V = std::array<float, 4>;
using Fragment = cgc::ir::Fragment;

// Every program sees u (program.local[0]), k (program.local[1]) and src, a
// 4 x 2 rectangle texture on unit 0; t is the texture coordinate, which
// ramps across the target so the pixels take both sides of each branch.
const std::string kTop = "uniform float4 u;\nuniform float k;\nuniform samplerRECT src;\n";
const std::string kHead = kTop + "float4 main(float4 t : TEXCOORD0) : COLOR {\n";
const V kU = {0.5f, -1.25f, 2.0f, 3.0f};
const float kK = -0.75f;
const V kClear = {9, 8, 7, 6};

cgtest::ArbRun baseRun() {
    cgtest::ArbRun run;
    run.width = 4;
    run.height = 2;
    run.texcoord[0] = {{-1.0f, -0.5f, 0.2f, 1.0f}, {2.0f, 0, 0.6f, -2.0f}, {0, 1.0f, 0.2f, 0}};
    run.secondaryColor = {{0.25f, 0.5f, 0.125f, 0}, {0.5f, 0, 0, 0}, {0, 0.25f, 0, 0}};
    run.fog = 0.375f;
    run.locals = {{kU[0], kU[1], kU[2], kU[3]}, {kK, 0, 0, 0}};
    cgtest::Texture src;
    src.unit = 0;
    src.target = GL_TEXTURE_RECTANGLE_ARB;
    src.width = 4;
    src.height = 2;
    for (int n = 0; n < 8; ++n)
        src.rgba.insert(src.rgba.end(), {float(n), float(n * n) * 0.125f, 1.0f - float(n) * 0.25f, float(n % 3)});
    run.textures = {src};
    run.clear = {kClear[0], kClear[1], kClear[2], kClear[3]};
    return run;
}

struct Out {
    V color{};
    bool killed = false;
    bool hasDepth = false;
    float depth = 0;
};

Out color(V v) {
    Out o;
    o.color = v;
    return o;
}
Out splat(float x) { return color({x, x, x, x}); }

V T(const Fragment& f) { return f.inputs[cgc::ir::AttrTexCoord0]; }
V texel(const Fragment& f, float x, float y) { return f.sample(cgc::ir::Op::Tex, 0, cgc::ir::TexRect, {x, y, 0, 1}); }
float trunc0(float x) { return x < 0 ? -std::floor(-x) : std::floor(x); }
float fmodC(float a, float b) { return a - b * trunc0(a / b); }

struct Case {
    const char* what;
    std::string source;
    std::function<Out(const Fragment&)> expected;
    bool depth = false;  // the run has a depth buffer
};

const Case kCases[] = {
    {"?: of a bool vector picks per component", kHead + "return t > 0 ? u : -u; }",
     [](const Fragment& f) {
         V r;
         for (int c = 0; c < 4; ++c) r[c] = T(f)[c] > 0 ? kU[c] : -kU[c];
         return color(r);
     }},
    {"if/else by predication, with write masks",
     kHead + "float4 r = t;\n if (t.x > 0) { r.xy = u.zw; } else if (t.y > 0) r = k; else r.w = -1;\n return r; }",
     [](const Fragment& f) {
         V r = T(f);
         if (r[0] > 0) {
             r[0] = kU[2];
             r[1] = kU[3];
         } else if (r[1] > 0) {
             r = {kK, kK, kK, kK};
         } else {
             r[3] = -1;
         }
         return color(r);
     }},
    {"an unrolled loop whose counter is used in the body",
     kHead + "float4 r = 0;\n for (int i = 0; i < 4; i++) r[i] = t[i] * i + i * 0.5;\n return r; }",
     [](const Fragment& f) {
         V r;
         for (int i = 0; i < 4; ++i) r[i] = T(f)[i] * float(i) + float(i) * 0.5f;
         return color(r);
     }},
    {"a loop that breaks where the data says",
     kHead + "float s = 0; int n = 0;\n for (int i = 0; i < 4; i++) { if (texRECT(src, float2(i, 0) + 0.5).w > 1.5) break;"
             " s += t[i]; n++; }\n return float4(s, n, 0, 0); }",
     [](const Fragment& f) {
         float s = 0;
         int n = 0;
         for (int i = 0; i < 4; i++) {
             if (texel(f, float(i) + 0.5f, 0.5f)[3] > 1.5f) break;
             s += T(f)[i];
             n++;
         }
         return color({s, float(n), 0, 0});
     }},
    {"while, do/while and continue",
     kHead + "int i = 0; float s = 0;\n while (i < 4) { i++; if (t[i - 1] < 0) continue; s += t[i - 1]; }\n"
             " do { s *= 2; i -= 2; } while (i > 0);\n return s; }",
     [](const Fragment& f) {
         float s = 0;
         for (int i = 0; i < 4; ++i)
             if (T(f)[i] >= 0) s += T(f)[i];
         return splat(s * 4);
     }},
    {"a nine-point stencil from a weight array in nested loops",
     kTop + "static const float w[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};\n"
            "float4 main(float2 c : TEXCOORD1) : COLOR {\n float4 s = 0;\n"
            " for (int y = -1; y <= 1; y++)\n  for (int x = -1; x <= 1; x++) s += w[y + 1][x + 1] * texRECT(src, c + float2(x, y));\n"
            " return s / 16; }",
     [](const Fragment& f) {
         const float w[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
         V c = f.inputs[cgc::ir::AttrTexCoord0 + 1], s{};
         for (int y = -1; y <= 1; y++)
             for (int x = -1; x <= 1; x++) {
                 V v = texel(f, c[0] + float(x), c[1] + float(y));
                 for (int n = 0; n < 4; ++n) s[n] += w[y + 1][x + 1] * v[n];
             }
         for (float& x : s) x /= 16;
         return color(s);
     }},
    {"functions: overloads, return in a branch, out and inout parameters",
     kTop + "float pick(float x) { if (x > 0) return x * 2; return -x; }\nfloat2 pick(float2 v) { return v.yx; }\n"
            "void split(inout float4 a, out float b) { b = a.x; a.x = 0; }\n"
            "float4 main(float4 t : TEXCOORD0) : COLOR {\n float4 r = t; float b;\n split(r, b);\n"
            " return float4(pick(b), pick(r.zw), r.x); }",
     [](const Fragment& f) {
         V t = T(f);
         return color({t[0] > 0 ? t[0] * 2 : -t[0], t[3], t[2], 0});
     }},
    {"discard keeps the target's old value", kHead + "if (t.x > 0) discard;\n return u; }",
     [](const Fragment& f) {
         Out o = color(kU);
         o.killed = T(f)[0] > 0;
         return o;
     }},
    {"discard from inside a function and a loop",
     kTop + "void check(float x) { if (x < -0.2) discard; }\n"
            "float4 main(float4 t : TEXCOORD0) : COLOR {\n for (int i = 0; i < 2; i++) check(t[i]);\n return t; }",
     [](const Fragment& f) {
         Out o = color(T(f));
         o.killed = T(f)[0] < -0.2f || T(f)[1] < -0.2f;
         return o;
     }},
    {"DEPTH written from an out parameter",
     kTop + "void main(float4 t : TEXCOORD0, out float4 c : COLOR, out float d : DEPTH) { c = t; d = t.x * 0.25 + 0.5; }",
     [](const Fragment& f) {
         Out o = color(T(f));
         o.hasDepth = true;
         o.depth = T(f)[0] * 0.25f + 0.5f;
         return o;
     },
     true},
    {"colour and DEPTH from a returned struct",
     kTop + "struct Result { float4 colour : COLOR; float depth : DEPTH; };\n"
            "Result main(float4 t : TEXCOORD0) { Result r; r.colour = t.wzyx; r.depth = t.y + 0.5; return r; }",
     [](const Fragment& f) {
         V t = T(f);
         Out o = color({t[3], t[2], t[1], t[0]});
         o.hasDepth = true;
         o.depth = t[1] + 0.5f;
         return o;
     },
     true},
    {"WPOS at pixel centres", kTop + "float4 main(float4 p : WPOS) : COLOR { return float4(p.xy, 0, 1); }",
     [](const Fragment& f) {
         V p = f.inputs[cgc::ir::AttrPosition];
         return color({p[0], p[1], 0, 1});
     }},
    {"FOG, COLOR1 and an input struct",
     kTop + "struct In { float2 uv : TEXCOORD0; float3 tint : COLOR1; float fog : FOG; };\n"
            "float4 main(In i) : COLOR { return float4(i.uv * i.tint.xy, i.fog, i.tint.z); }",
     [](const Fragment& f) {
         V t = T(f), c = f.inputs[cgc::ir::AttrColor1];
         return color({t[0] * c[0], t[1] * c[1], f.inputs[cgc::ir::AttrFog][0], c[2]});
     }},
    {"matrix order in mul, rows, elements and swizzles",
     kHead + "float2x2 m = float2x2(1, 2, 3, 4);\n m[1][1] = k;\n"
             " return float4(mul(m, t.xy) + m._m10, mul(t.xy, m) + m[0].y); }",
     [](const Fragment& f) {
         float m[2][2] = {{1, 2}, {3, kK}};
         V t = T(f);
         return color({m[0][0] * t[0] + m[0][1] * t[1] + 3, m[1][0] * t[0] + m[1][1] * t[1] + 3,
                       t[0] * m[0][0] + t[1] * m[1][0] + 2, t[0] * m[0][1] + t[1] * m[1][1] + 2});
     }},
    {"a matrix times a scalar, component by component, and its transpose by swizzle",
     kHead + "float3x3 m = float3x3(t.xyz, t.yzw, u.xyz) * 2;\n return float4(m._11_21_31, m[2].z); }",
     [](const Fragment& f) {
         V t = T(f);
         return color({2 * t[0], 2 * t[1], 2 * kU[0], 2 * kU[2]});
     }},
    {"structs as locals, parameters and results",
     kTop + "struct Light { float3 colour; float power; };\n"
            "Light dim(Light l, float by) { l.power *= by; return l; }\n"
            "float4 main(float4 t : TEXCOORD0) : COLOR {\n Light a; a.colour = t.xyz; a.power = 2;\n"
            " Light b = dim(a, t.w);\n return float4(b.colour * b.power, a.power); }",
     [](const Fragment& f) {
         V t = T(f);
         float p = 2 * t[3];
         return color({t[0] * p, t[1] * p, t[2] * p, 2});
     }},
    {"arrays: constant, written per element, in a loop",
     kHead + "static const float4 w[2] = {float4(1, 2, 3, 4), float4(-1, 0, 1, 2)};\n float4 a[3];\n"
             " for (int i = 0; i < 3; i++) a[i] = t * i;\n a[1].y = 10;\n return a[2] + a[1] * w[1] + w[0]; }",
     [](const Fragment& f) {
         V t = T(f), w0 = {1, 2, 3, 4}, w1 = {-1, 0, 1, 2}, a1 = {t[0], 10, t[2], t[3]}, r;
         for (int c = 0; c < 4; ++c) r[c] = 2 * t[c] + a1[c] * w1[c] + w0[c];
         return color(r);
     }},
    {"int arithmetic truncates, % follows the dividend's sign",
     kHead + "int a = (int)(t.x * 7);\n int b = 2;\n return float4(a / b, a % b, -7 % 3, (t.z * 5) % -2); }",
     [](const Fragment& f) {
         float a = trunc0(T(f)[0] * 7);
         return color({trunc0(a / 2), fmodC(a, 2), -1, fmodC(T(f)[2] * 5, -2)});
     }},
    {"comparisons and logic per component",
     kHead + "bool4 p = t > 0, q = t.yxwz <= 0.5;\n return (p && q) + 2 * (p || !q) + 4 * (t == t.x) + 8 * (t != t.y); }",
     [](const Fragment& f) {
         V t = T(f), r;
         V s = {t[1], t[0], t[3], t[2]};
         for (int c = 0; c < 4; ++c) {
             bool p = t[c] > 0, q = s[c] <= 0.5f;
             r[c] = float(p && q) + 2 * float(p || !q) + 4 * float(t[c] == t[0]) + 8 * float(t[c] != t[1]);
         }
         return color(r);
     }},
    {"increments and every compound assignment",
     kHead + "float4 r = t;\n float i = 1;\n r.x += i++;\n r.y -= ++i;\n r.z *= i--;\n r.w /= --i + 1;\n r.zw %= 0.25;\n return r; }",
     [](const Fragment& f) {
         V r = T(f);
         r[0] += 1;
         r[1] -= 3;
         r[2] *= 3;
         r[3] /= 2;
         r[2] = fmodC(r[2], 0.25f);
         r[3] = fmodC(r[3], 0.25f);
         return color(r);
     }},
    {"half, fixed, int and bool types, casts and constructors",
     kHead + "half2 h = t.xy;\n fixed f = 0.5;\n int3 n = int3(t.xyz * 4);\n bool b = t.x > 0;\n"
             " return float4(h * f, n.x + n.z, (float)b) + (float4)0 + float4((float2)u, 0, 0); }",
     [](const Fragment& f) {
         V t = T(f);
         return color({t[0] * 0.5f + kU[0], t[1] * 0.5f + kU[1], trunc0(t[0] * 4) + trunc0(t[2] * 4), t[0] > 0 ? 1.0f : 0.0f});
     }},
    {"static globals set before the entry, changed by a function",
     kTop + "static float total = 1;\nstatic const float3 scale = float3(1, 2, 3);\nvoid add(float x) { total += x; }\n"
            "float4 main(float4 t : TEXCOORD0) : COLOR {\n add(t.x);\n if (t.y > 0) add(10);\n return float4(scale * total, total); }",
     [](const Fragment& f) {
         float total = 1 + T(f)[0] + (T(f)[1] > 0 ? 10.0f : 0.0f);
         return color({total, 2 * total, 3 * total, total});
     }},
};

class Construct : public FloatTargetTest {};

TEST_F(Construct, EachComputesWhatItMeansOnGL) {
    if (IsSkipped() || HasFatalFailure()) return;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        Program p = compileProgram(c.source);
        ASSERT_EQ(p.error, "") << c.source;
        cgtest::ArbRun run = baseRun();
        run.depth = c.depth;
        cgtest::ArbResult r = cgtest::runArb(p.text, run);
        ASSERT_TRUE(r.loaded) << r.error << "\n" << p.text;
        for (int j = 0; j < run.height; ++j)
            for (int i = 0; i < run.width; ++i) {
                Fragment f = cgtest::fragmentAt(run, i, j);
                Out want = c.expected(f);
                cgtest::Rgba got = r.pixel(i, j);
                V expect = want.killed ? kClear : want.color;
                for (int k = 0; k < 4; ++k)
                    EXPECT_NEAR(got[std::size_t(k)], expect[k], 1e-4 * (1 + std::fabs(expect[k])))
                        << "pixel (" << i << ", " << j << ") component " << k << "\n" << p.text;
                if (want.hasDepth) {
                    float d = std::fmin(std::fmax(want.depth, 0.0f), 1.0f);
                    EXPECT_NEAR(r.depth[std::size_t(j * run.width + i)], d, 1e-5) << "depth at (" << i << ", " << j << ")";
                }
            }
    }
}

}  // namespace
