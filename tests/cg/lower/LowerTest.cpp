// Lowered programs run by the IR interpreter against what each construct
// means in C++, over inputs that take every branch both ways.
#include "cg/ir/eval.h"
#include "cg/pipeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>

namespace {

using namespace cgc;
using V = std::array<float, 4>;

struct In {
    V t;   // TEXCOORD0
    V u;   // uniform float4 u, program.local[0]
    V c1;  // COLOR1
    V wpos;
    float fog;
};

struct Out {
    V color{};
    bool killed = false;
    float depth = 0;
    bool wroteDepth = false;
};

const In kInputs[] = {
    {{0.25f, 0.75f, -1.5f, 2.0f}, {0.5f, -1.0f, 3.0f, 0.0f}, {0.1f, 0.2f, 0.3f, 0.0f}, {10.5f, 20.5f, 0.5f, 1.0f}, 0.25f},
    {{0.75f, 0.25f, 0.6f, -0.5f}, {-2.0f, 4.0f, 0.25f, 1.0f}, {0.4f, 0.5f, 0.6f, 0.0f}, {0.5f, 1.5f, 0.5f, 1.0f}, 0.5f},
    {{0.9f, 0.8f, 0.7f, 0.95f}, {1.0f, 1.0f, -7.0f, 2.5f}, {0.7f, 0.8f, 0.9f, 0.0f}, {3.5f, 0.5f, 0.5f, 1.0f}, 1.0f},
    {{0.1f, 0.2f, 0.3f, 0.4f}, {-0.5f, 0.0f, 5.0f, -3.0f}, {0.0f, 0.0f, 0.0f, 0.0f}, {7.5f, 7.5f, 0.5f, 1.0f}, -2.0f},
};

// What texture lookups return: the coordinate, marked with the unit and target.
V sampled(ir::Op op, int unit, ir::TexTarget target, const ir::Vec4& coordinate) {
    float w = op == ir::Op::Txp ? coordinate[3] : 1.0f;
    return V{coordinate[0] / w * 10, coordinate[1] / w, float(unit), float(target) + (op == ir::Op::Txb ? 100.0f : 0.0f)};
}

struct Lowering {
    Lowered lowered;
    std::string error;
};

Lowering lowerSource(const std::string& source) {
    Pipeline pipeline(source.data(), source.size(), "test.cg", Options{});
    Lowering out;
    if (pipeline.run(Stage::Lower, &out.error)) out.lowered = pipeline.lowered();
    return out;
}

Out runOn(const ir::Function& f, const In& in) {
    ir::Fragment fragment;
    fragment.inputs[ir::AttrTexCoord0] = in.t;
    fragment.inputs[ir::AttrColor1] = in.c1;
    fragment.inputs[ir::AttrPosition] = in.wpos;
    fragment.inputs[ir::AttrFog] = ir::Vec4{in.fog, 0, 0, 1};
    fragment.uniforms = {in.u, {2.0f, 0, 0, 0}, {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
    fragment.sample = sampled;
    ir::Result r = ir::run(f, fragment);
    Out out;
    out.color = r.color;
    out.killed = r.killed;
    out.depth = r.depth;
    out.wroteDepth = r.wroteDepth;
    return out;
}

const std::string kHead = "float4 main(float4 t : TEXCOORD0, uniform float4 u) : COLOR {\n";

struct Case {
    const char* what;
    std::string source;
    std::function<Out(const In&)> expected;
};

Out color(V v) {
    Out o;
    o.color = v;
    return o;
}
Out splat(float x) { return color({x, x, x, x}); }
float trunc0(float x) { return x < 0 ? -std::floor(-x) : std::floor(x); }
float fmodC(float a, float b) { return a - b * trunc0(a / b); }

const Case kCases[] = {
    // ---- predication ----
    {"if and else select by the condition",
     kHead + "float4 r = 0;\n if (t.x > 0.5) r = t.yyyy; else r.xy = t.zw;\n return r; }",
     [](const In& i) { return i.t[0] > 0.5f ? splat(i.t[1]) : color({i.t[2], i.t[3], 0, 0}); }},
    {"nested ifs, the inner without else",
     kHead + "float r = 1;\n if (t.x > 0.5) { r = 2; if (t.y > 0.5) r = 3; } else if (t.z > 0.5) r = 4;\n return r; }",
     [](const In& i) {
         float r = 1;
         if (i.t[0] > 0.5f) {
             r = 2;
             if (i.t[1] > 0.5f) r = 3;
         } else if (i.t[2] > 0.5f) {
             r = 4;
         }
         return splat(r);
     }},
    {"a negated and a compound condition",
     kHead + "float r = 0;\n if (!(t.x > 0.5) && (t.y > 0.5 || t.z > 0.5)) r = 1;\n return r; }",
     [](const In& i) { return splat(!(i.t[0] > 0.5f) && (i.t[1] > 0.5f || i.t[2] > 0.5f) ? 1.0f : 0.0f); }},
    {"a variable first written in both arms counts as written",
     kHead + "float4 r;\n if (t.x > 0.5) r = 1; else r = 2;\n return r; }",
     [](const In& i) { return splat(i.t[0] > 0.5f ? 1.0f : 2.0f); }},
    {"?: with a bool vector picks per component",
     kHead + "return t > 0.5 ? u : -u; }",
     [](const In& i) {
         V r;
         for (int k = 0; k < 4; ++k) r[k] = i.t[k] > 0.5f ? i.u[k] : -i.u[k];
         return color(r);
     }},
    {"?: with a scalar condition", kHead + "return t.x > t.y ? t : u; }",
     [](const In& i) { return color(i.t[0] > i.t[1] ? i.t : i.u); }},
    // ---- loops ----
    {"for loop whose counter is used in the body",
     kHead + "float4 r = 0;\n for (int i = 0; i < 4; i++) r[i] = t[i] * i + i;\n return r; }",
     [](const In& i) { return color({0 * i.t[0], i.t[1] + 1, 2 * i.t[2] + 2, 3 * i.t[3] + 3}); }},
    {"while and do/while", kHead + "int i = 0; float s = 0;\n while (i < 3) { s += t[i]; i++; }\n do { s *= 2; i--; } while (i > 1);\n return s; }",
     [](const In& i) { return splat((i.t[0] + i.t[1] + i.t[2]) * 4); }},
    {"a break that depends on the data",
     kHead + "float s = 0;\n for (int i = 0; i < 4; i++) { if (t[i] > 0.7) break; s += t[i]; }\n return s; }",
     [](const In& i) {
         float s = 0;
         for (int k = 0; k < 4; ++k) {
             if (i.t[k] > 0.7f) break;
             s += i.t[k];
         }
         return splat(s);
     }},
    {"a continue that depends on the data",
     kHead + "float s = 0;\n for (int i = 0; i < 4; i++) { if (t[i] < 0.5) continue; s += t[i] * (i + 1); }\n return s; }",
     [](const In& i) {
         float s = 0;
         for (int k = 0; k < 4; ++k) {
             if (i.t[k] < 0.5f) continue;
             s += i.t[k] * float(k + 1);
         }
         return splat(s);
     }},
    {"a counter declared outside keeps its value at the break",
     kHead + "int i;\n for (i = 0; i < 4; i++) if (t[i] < 0) break;\n return i; }",
     [](const In& i) {
         int k;
         for (k = 0; k < 4; k++)
             if (i.t[k] < 0) break;
         return splat(float(k));
     }},
    {"nested loops, the inner one breaking",
     kHead + "float s = 0;\n for (int a = 0; a < 3; a++)\n  for (int b = 0; b < 3; b++) { if (b > a) break; s += t[a] * t[b]; }\n return s; }",
     [](const In& i) {
         float s = 0;
         for (int a = 0; a < 3; a++)
             for (int b = 0; b < 3; b++) {
                 if (b > a) break;
                 s += i.t[a] * i.t[b];
             }
         return splat(s);
     }},
    {"a nine-point stencil from a weight array in nested loops",
     "uniform samplerRECT src;\nstatic const float w[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};\n"
     "float4 main(float2 c : TEXCOORD0) : COLOR {\n float4 s = 0;\n"
     " for (int y = -1; y <= 1; y++) for (int x = -1; x <= 1; x++) s += w[y + 1][x + 1] * texRECT(src, c + float2(x, y));\n"
     " return s / 16; }",
     [](const In& i) {
         const float w[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
         V s{};
         for (int y = -1; y <= 1; y++)
             for (int x = -1; x <= 1; x++) {
                 V v = sampled(ir::Op::Tex, 0, ir::TexRect, {i.t[0] + float(x), i.t[1] + float(y), 0, 0});
                 for (int k = 0; k < 4; ++k) s[std::size_t(k)] += w[y + 1][x + 1] * v[std::size_t(k)];
             }
         for (float& x : s) x /= 16;
         return color(s);
     }},
    // ---- functions ----
    {"return in a branch of a function",
     "float f(float x) { if (x > 0.5) return x * 2; return -x; }\n" + kHead + "return float4(f(t.x), f(t.y), f(t.z), f(t.w)); }",
     [](const In& i) {
         V r;
         for (int k = 0; k < 4; ++k) r[k] = i.t[k] > 0.5f ? i.t[k] * 2 : -i.t[k];
         return color(r);
     }},
    {"return in a branch of the entry", kHead + "if (t.x > 0.5) return u;\n return t; }",
     [](const In& i) { return color(i.t[0] > 0.5f ? i.u : i.t); }},
    {"return from inside a loop",
     kHead + "for (int i = 0; i < 4; i++) if (t[i] > 0.7) return i;\n return -1; }",
     [](const In& i) {
         for (int k = 0; k < 4; ++k)
             if (i.t[k] > 0.7f) return splat(float(k));
         return splat(-1);
     }},
    {"out and inout parameters",
     "void g(inout float4 a, out float b) { a *= 2; b = a.x + 1; }\n" + kHead + "float4 r = t; float b;\n g(r, b);\n return r + b; }",
     [](const In& i) {
         V r;
         for (int k = 0; k < 4; ++k) r[k] = 2 * i.t[k] + 2 * i.t[0] + 1;
         return color(r);
     }},
    {"an out parameter keeps its value on the path that returned",
     "void g(float x, out float y) { y = 1; if (x > 0.5) return; y = 2; }\n" + kHead + "float y;\n g(t.x, y);\n return y; }",
     [](const In& i) { return splat(i.t[0] > 0.5f ? 1.0f : 2.0f); }},
    {"an out argument converted back to an int",
     "void g(out float y) { y = -2.75; }\n" + kHead + "int k;\n g(k);\n return k; }", [](const In&) { return splat(-2); }},
    {"overloads and a user function calling another",
     "float sq(float x) { return x * x; }\nfloat4 sq(float4 x) { return x * x; }\nfloat len2(float4 v) { return dot(sq(v), 1); }\n" +
         kHead + "return len2(t) + sq(t.x); }",
     [](const In& i) {
         float s = 0;
         for (float x : i.t) s += x * x;
         return splat(s + i.t[0] * i.t[0]);
     }},
    {"a static global changed by a function",
     "static float count = 1;\nvoid bump(float by) { count += by; }\n" + kHead + "bump(t.x);\n if (t.y > 0.5) bump(10);\n return count; }",
     [](const In& i) { return splat(1 + i.t[0] + (i.t[1] > 0.5f ? 10.0f : 0.0f)); }},
    // ---- discard ----
    {"discard under a condition keeps the rest",
     kHead + "if (t.x > 0.5) discard;\n return t; }",
     [](const In& i) {
         Out o = color(i.t);
         o.killed = i.t[0] > 0.5f;
         return o;
     }},
    {"discard inside a loop after a break does nothing",
     kHead + "for (int i = 0; i < 4; i++) { if (t[i] > 0.5) break; if (t[i] < 0) discard; }\n return t; }",
     [](const In& i) {
         Out o = color(i.t);
         for (int k = 0; k < 4; ++k) {
             if (i.t[k] > 0.5f) break;
             if (i.t[k] < 0) o.killed = true;
         }
         return o;
     }},
    {"unconditional discard", kHead + "discard;\n return t; }",
     [](const In& i) {
         Out o = color(i.t);
         o.killed = true;
         return o;
     }},
    // ---- structs, matrices, arrays ----
    {"struct locals, members, assignment, parameter and result",
     "struct P { float3 c; float w; };\nP make(float3 c, float w) { P p; p.c = c; p.w = w; return p; }\n"
     "float total(P p) { return p.c.x + p.c.y + p.c.z + p.w; }\n" +
         kHead + "P a = make(t.xyz, t.w);\n P b = a;\n b.c.y = 10;\n return float4(total(a), total(b), b.c.y, a.w); }",
     [](const In& i) {
         float a = i.t[0] + i.t[1] + i.t[2] + i.t[3];
         return color({a, a - i.t[1] + 10, 10, i.t[3]});
     }},
    {"matrix rows, elements, swizzles and constructors",
     kHead + "float2x2 m = float2x2(t.xy, t.zw);\n m[1][0] = 5;\n m._m01 = u.x;\n float2x2 n = float2x2(1, 2, 3, 4) * m;\n"
             " return float4(n[0], m._11_22); }",
     [](const In& i) {
         float m[2][2] = {{i.t[0], i.u[0]}, {5, i.t[3]}};
         return color({1 * m[0][0], 2 * m[0][1], m[0][0], m[1][1]});
     }},
    {"uniform matrix rows in consecutive registers",
     "uniform float3x4 m;\nfloat4 main(float4 t : TEXCOORD0) : COLOR { return m[0] + m[2] + m._m10; }",
     [](const In& i) {
         // locals 0..2 hold u, (2,0,0,0), (1,2,3,4)
         return color({i.u[0] + 1 + 2, i.u[1] + 2 + 2, i.u[2] + 3 + 2, i.u[3] + 4 + 2});
     }},
    {"arrays: initialised, written per element, indexed by a counter",
     kHead + "float4 a[3];\n for (int k = 0; k < 3; k++) a[k] = t * k;\n a[1].w = 7;\n float b[] = {1, 2, 3};\n"
             " return a[2] + a[1] + b[2]; }",
     [](const In& i) { return color({3 * i.t[0] + 3, 3 * i.t[1] + 3, 3 * i.t[2] + 3, 2 * i.t[3] + 7 + 3}); }},
    {"a local sampler and a struct holding one, passed to a function",
     "struct S { float4 c; sampler2D t; };\nuniform S s;\nuniform sampler2D a;\n"
     "float4 look(S x, float2 uv) { sampler2D other = a; return tex2D(x.t, uv) * x.c + tex2D(other, uv); }\n"
     "float4 main(float4 t : TEXCOORD0) : COLOR { return look(s, t.xy); }",
     [](const In& i) {
         // s.c is program.local[0]; s.t is unit 0, a unit 1
         V x = sampled(ir::Op::Tex, 0, ir::Tex2D, {i.t[0], i.t[1], 0, 0});
         V y = sampled(ir::Op::Tex, 1, ir::Tex2D, {i.t[0], i.t[1], 0, 0});
         V r;
         for (int k = 0; k < 4; ++k) r[k] = x[k] * i.u[k] + y[k];
         return color(r);
     }},
    {"a struct constructor, nested initialiser lists and an array parameter",
     "struct P { float a; float2 b; };\nfloat sum(float a[3]) { return a[0] + a[1] + a[2]; }\n" + kHead +
         "P p = P(t.x, t.yz);\n P q = {1, {2, 3}};\n float w[3] = {t.x, t.y, q.b.x};\n return float4(p.a, p.b.y, q.b.y, sum(w)); }",
     [](const In& i) { return color({i.t[0], i.t[2], 3, i.t[0] + i.t[1] + 2}); }},
    {"float1 acts as a scalar", kHead + "float1 a = t.y;\n float4 b = a;\n float c = a;\n return b + c + a; }",
     [](const In& i) { return splat(3 * i.t[1]); }},
    {"matrix swizzles written, and a float counter",
     kHead + "float3x3 m = 0;\n m._m00_m11_m22 = t.xyz;\n m[0].z = u.x;\n float k = 0;\n"
             " for (float x = 0; x < 1; x += 0.25) k += x;\n return float4(m[0].xz, m._33, k); }",
     [](const In& i) { return color({i.t[0], i.u[0], i.t[2], 1.5f}); }},
    {"assignments as values, swizzled both sides",
     kHead + "float4 v = t;\n v.x = (v.y = 2) + 1;\n v.wz = v.xy;\n return v; }", [](const In&) { return color({3, 2, 2, 3}); }},
    {"matrix comparison per element", kHead + "float2x2 m = float2x2(t);\n bool2x2 e = m > 0.5;\n return float4(e[0], e[1]); }",
     [](const In& i) {
         V r;
         for (int k = 0; k < 4; ++k) r[k] = i.t[k] > 0.5f ? 1.0f : 0.0f;
         return color(r);
     }},
    // ---- operators ----
    {"int division and conversion truncate toward zero",
     kHead + "int a = -7, b = 2;\n int c = (int)(t.z * 2);\n return float4(a / b, 7 / 2, c, (int)-2.5); }",
     [](const In& i) { return color({-3, 3, trunc0(i.t[2] * 2), -2}); }},
    {"% with negative operands, float and int",
     kHead + "int a = -7;\n return float4(a % 3, 7 % -3, -7.5 % 2, t.z % 0.5); }",
     [](const In& i) { return color({-1, 1, -1.5f, fmodC(i.t[2], 0.5f)}); }},
    {"comparisons give 0 or 1 per component",
     kHead + "float4 a = t == t.x;\n float4 b = t != 0.25;\n return a + 2 * b + 4 * (t <= 0.3) + 8 * (t >= 0.75); }",
     [](const In& i) {
         V r;
         for (int k = 0; k < 4; ++k)
             r[k] = float(i.t[k] == i.t[0]) + 2 * float(i.t[k] != 0.25f) + 4 * float(i.t[k] <= 0.3f) +
                    8 * float(i.t[k] >= 0.75f);
         return color(r);
     }},
    {"logic per component", kHead + "bool4 a = t > 0.5, b = u > 0;\n return (a && b) + 2 * (a || b) + 4 * !a; }",
     [](const In& i) {
         V r;
         for (int k = 0; k < 4; ++k) {
             bool a = i.t[k] > 0.5f, b = i.u[k] > 0;
             r[k] = float(a && b) + 2 * float(a || b) + 4 * float(!a);
         }
         return color(r);
     }},
    {"prefix and postfix increments", kHead + "float a = t.x;\n float b = a++;\n float c = ++a;\n float d = a--;\n return float4(a, b, c, --d); }",
     [](const In& i) { return color({i.t[0] + 1, i.t[0], i.t[0] + 2, i.t[0] + 1}); }},
    {"every compound assignment through write masks",
     kHead + "float4 r = t;\n r.xy += 1;\n r.zw -= u.xy;\n r.x *= 3;\n r.y /= 2;\n r.zx %= 0.5;\n return r; }",
     [](const In& i) {
         V r = i.t;
         r[0] += 1;
         r[1] += 1;
         r[2] -= i.u[0];
         r[3] -= i.u[1];
         r[0] *= 3;
         r[1] /= 2;
         r[2] = fmodC(r[2], 0.5f);
         r[0] = fmodC(r[0], 0.5f);
         return color(r);
     }},
    {"casts and constructors", kHead + "float4 r = (float4)0 + float4(t.xy, (float2)u);\n return r + (int)t.w; }",
     [](const In& i) {
         float w = trunc0(i.t[3]);
         return color({i.t[0] + w, i.t[1] + w, i.u[0] + w, i.u[1] + w});
     }},
    // ---- inputs and outputs ----
    {"window position, fog and secondary colour inputs",
     "float4 main(float4 p : WPOS, float f : FOG, float3 c : COLOR1) : COLOR { return float4(p.xy, f, c.z); }",
     [](const In& i) { return color({i.wpos[0], i.wpos[1], i.fog, i.c1[2]}); }},
    {"an input struct", "struct In { float2 uv : TEXCOORD0; float4 c : COLOR1; };\n"
                        "float4 main(In i) : COLOR { return float4(i.uv, i.c.xy); }",
     [](const In& i) { return color({i.t[0], i.t[1], i.c1[0], i.c1[1]}); }},
    {"a scalar colour spreads, a float3 colour is opaque",
     "float3 main(float4 t : TEXCOORD0) : COLOR { return t.zyx; }", [](const In& i) { return color({i.t[2], i.t[1], i.t[0], 1}); }},
    {"colour and depth from a returned struct",
     "struct O { float4 c : COLOR; float d : DEPTH; };\nO main(float4 t : TEXCOORD0) { O o; o.c = t.x; o.d = t.y * 0.5; return o; }",
     [](const In& i) {
         Out o = splat(i.t[0]);
         o.depth = i.t[1] * 0.5f;
         o.wroteDepth = true;
         return o;
     }},
    {"an out colour written by lanes, depth by a parameter",
     "void main(float4 t : TEXCOORD0, out float4 c : COLOR, out float d : DEPTH) { c.rg = t.xy; c.ba = t.wz; d = 0.25; }",
     [](const In& i) {
         Out o = color({i.t[0], i.t[1], i.t[3], i.t[2]});
         o.depth = 0.25f;
         o.wroteDepth = true;
         return o;
     }},
    {"texture lookups on their units and targets",
     "uniform sampler2D a;\nuniform samplerCUBE b;\nfloat4 main(float4 t : TEXCOORD0) : COLOR { return tex2D(a, t.xy) + texCUBE(b, t.xyz); }",
     [](const In& i) {
         V x = sampled(ir::Op::Tex, 0, ir::Tex2D, {i.t[0], i.t[1], 0, 0});
         V y = sampled(ir::Op::Tex, 1, ir::TexCube, {i.t[0], i.t[1], i.t[2], 0});
         return color({x[0] + y[0], x[1] + y[1], x[2] + y[2], x[3] + y[3]});
     }},
};

TEST(Lowering, EachConstructComputesWhatItMeans) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        Lowering l = lowerSource(c.source);
        ASSERT_EQ(l.error, "") << c.source;
        ASSERT_EQ(ir::validate(l.lowered.function), "");
        for (const In& in : kInputs) {
            Out got = runOn(l.lowered.function, in);
            Out want = c.expected(in);
            EXPECT_EQ(got.killed, want.killed) << "t = " << in.t[0] << " " << in.t[1] << " " << in.t[2] << " " << in.t[3];
            EXPECT_EQ(got.wroteDepth, want.wroteDepth);
            if (want.wroteDepth) {
                EXPECT_NEAR(got.depth, want.depth, 1e-6);
            }
            if (want.killed) continue;
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(got.color[k], want.color[k], 1e-5 * (1 + std::fabs(want.color[k])))
                    << "component " << k << " with t = " << in.t[0] << " " << in.t[1] << " " << in.t[2] << " " << in.t[3]
                    << ", u = " << in.u[0] << " " << in.u[1] << " " << in.u[2] << " " << in.u[3];
        }
    }
}

// Lowering leaves no work a pass could not remove: branches select only what
// differs, constant loops fold, and a write of every lane needs no merge.
TEST(Lowering, EmitsNoSelectOrCompositionItDoesNotNeed) {
    struct Count {
        const char* what;
        std::string source;
        ir::Op op;
        int most;
    };
    const Count counts[] = {
        {"an arm that changes nothing selects nothing", kHead + "float4 r = t;\n if (t.x > 0.5) r = r;\n return r; }", ir::Op::Cmp, 0},
        {"one select for one variable changed in both arms",
         kHead + "float4 r = t, s = u;\n if (t.x > 0.5) r = 1; else r = 2;\n return r + s; }", ir::Op::Cmp, 1},
        {"a loop with a constant count selects nothing", kHead + "float4 r = 0;\n for (int i = 0; i < 8; i++) r += t * i;\n return r; }",
         ir::Op::Cmp, 0},
        {"a whole write by swizzle composes nothing",
         "void main(float4 t : TEXCOORD0, out float4 c : COLOR) { c.rgba = t.abgr; }", ir::Op::Vec, 0},
        {"the copy program is a lookup and its output",
         "void main(float4 texcoord : TEXCOORD, uniform samplerRECT texture, out float4 color: COLOR) {\n"
         " color.rgba = f4texRECT(texture, texcoord.xy).rgba; }",
         ir::Op::Vec, 0},
        {"an if known at compile time lowers one arm", kHead + "float4 r = t;\n if (1 > 2) r = u; else r *= 2;\n return r; }",
         ir::Op::Cmp, 0},
    };
    for (const Count& c : counts) {
        SCOPED_TRACE(c.what);
        Lowering l = lowerSource(c.source);
        ASSERT_EQ(l.error, "");
        int n = 0;
        for (const ir::Inst& inst : l.lowered.function.insts) n += inst.op == c.op;
        EXPECT_LE(n, c.most) << ir::print(l.lowered.function);
    }
}

TEST(Lowering, ParametersAreTheAnalysisParameters) {
    Lowering l = lowerSource("uniform float2 a;\nfloat4 main(float4 t : TEXCOORD0, uniform samplerRECT s) : COLOR { return t; }");
    ASSERT_EQ(l.error, "");
    ASSERT_EQ(l.lowered.parameters.size(), 2u);
    EXPECT_EQ(l.lowered.parameters[0].name, "a");
    EXPECT_EQ(l.lowered.parameters[1].name, "s");
    EXPECT_EQ(l.lowered.parameters[1].kind, ParameterInfo::Sampler);
}

}  // namespace
