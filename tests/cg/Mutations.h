// Valid programs to mutate, for fuzzing the compiler; the mutations are the
// fuzz target's own.
#pragma once

#include "fuzz/mutations.h"
#include "heat/heat.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace cgtest {

// Valid programs that between them use every part of the language: the
// shipped heat step and copy program, and one program per group of
// constructs, small enough that a mutation often still compiles.
inline std::vector<std::string> seeds() {
    std::ifstream in(HEAT_SHADER_PATH, std::ios::binary);
    std::stringstream heat;
    heat << in.rdbuf();
    return {
        heat.str(),
        copyProgramSource,
        "#define S 2.0h\nstatic const half3 K = half3(1, .5, 1e-3f);\n"
        "float4 main(float4 c : COLOR0, float2 t : TEXCOORD1, uniform sampler2D s) : COLOR {\n"
        "  const float4 v = tex2D(s, t.yx) * S;\n  float4 r = (float4)0, q;\n"
        "  r.rgb = lerp(v.rgb, K, saturate(dot(c.xyz, K)));\n  r.a = clamp(frac(v.w), 0, abs(floor(-c.w)));\n"
        "  r /= max(min(c, v), 1); r -= c.wzyx; r *= float4(c.xy, 1, K.z); q = r;\n  { return q.xyzw + -r; }\n}\n",
        // functions, overloads, in/out/inout, branches
        "float pick(float x) { if (x > 0) return x * 2; return -x; }\nfloat2 pick(float2 v) { return v.yx; }\n"
        "void split(inout float4 a, out float b, in float k) { b = a.x * k; a.x = 0; }\n"
        "float4 main(float4 t : TEXCOORD0, uniform float4 u) : COLOR {\n  float4 r = t; float b;\n"
        "  split(r, b, 0.5);\n  if (t.y > 0) { r.xy = u.zw; } else if (t.z > 0) r = u.x; else r.w = -1;\n"
        "  return float4(pick(b), pick(r.zw), r.x) + (t > u ? u : -u);\n}\n",
        // loops with break and continue, int, bool, increments, %
        "uniform samplerRECT src;\nfloat4 main(float4 t : TEXCOORD0) : COLOR {\n  float s = 0; int n = 0;\n"
        "  for (int i = 0; i < 4; i++) {\n    if (texRECT(src, float2(i, 0) + 0.5).w > 1.5) break;\n"
        "    if (t[i] < 0) continue;\n    s += t[i]; n++;\n  }\n  int j = 3; bool b = t.x != t.y && !(s >= 1);\n"
        "  while (j > 0) { --j; s *= 0.5; }\n  do { s += j++ % 2; } while (j < 2);\n"
        "  return float4(s, n, (float)b, (int)(t.w * 7) / 2);\n}\n",
        // structs in and out, DEPTH, WPOS, FOG, COLOR1, discard
        "struct In { float2 uv : TEXCOORD0; float3 tint : COLOR1; float fog : FOG; float4 pos : WPOS; };\n"
        "struct Out { float4 colour : COLOR; float depth : DEPTH; };\nstruct Light { float3 colour; float power; };\n"
        "Out main(In i, uniform Light sun) {\n  Out o; Light a = sun;\n  a.colour *= i.tint;\n"
        "  if (i.fog < -1) discard;\n  o.colour = float4(a.colour * a.power + float3(i.uv, 0), i.pos.x);\n"
        "  o.depth = saturate(i.pos.y * 0.1);\n  return o;\n}\n",
        // arrays with initialisers, matrices, mul, typedef, global uniforms
        "typedef float3x3 basis;\nuniform float4x4 world;\nstatic const float w[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};\n"
        "float4 main(float4 t : TEXCOORD0, float3 n : TEXCOORD1) : COLOR {\n"
        "  basis b = basis(n, n.yzx, t.xyz);\n  float2x2 m = float2x2(1, 2, 3, 4); m[1][1] = t.w;\n  float s = 0;\n"
        "  for (int y = 0; y < 3; y++) for (int x = 0; x < 3; x++) s += w[y][x] * b[x][y];\n"
        "  return mul(world, t) + float4(mul(m, t.xy) + m._m10, determinant(b), s) + mul(n, transpose(b)).xyzz;\n}\n",
        // the standard library and every lookup form
        "float4 main(float4 t : TEXCOORD0, float3 d : TEXCOORD1, uniform sampler1D a, uniform sampler3D v,\n"
        "            uniform samplerCUBE e, uniform sampler2D s) : COLOR {\n"
        "  float4 x = saturate(t * 0.25 + 0.5), ip; float si, co;\n  sincos(t.x, si, co);\n"
        "  float4 r = pow(x, 2.5) + exp2(t) + log2(x + 1) + fmod(t, 1.5) + step(0.5, t) + smoothstep(-1, 1, t);\n"
        "  r += sign(t) + round(t) + modf(t, ip) + atan2(t, x) + acos(x) + normalize(d).xyzz + length(d);\n"
        "  r.xyz += reflect(d, normalize(t.xyz)) + cross(d, t.xyz) + lit(t.x, t.y, 8).xyz;\n"
        "  return r + tex1D(a, t.x) + tex3Dproj(v, t) + texCUBE(e, d) + tex2Dbias(s, t) + f4tex2D(s, t.xy) + si;\n}\n",
        // the preprocessor
        "#define SQ(x) ((x) * (x))\n#define CAT(a, b) a##b\n#define LEVEL 2\n#pragma anything\n"
        "#if LEVEL > 3\n#error too high\n#elif defined(LEVEL) && LEVEL == 2\n#define GAIN 0.5\n#else\n#define GAIN 1\n#endif\n"
        "#ifndef OTHER\n#define OTHER 3\n#endif\n#undef LEVEL\n#line 40 \"shader.cg\"\n"
        "float4 main(float4 t : TEXCOORD0, float4 c : COLOR0, uniform float4 k) : COLOR {\n"
        "  float4 CAT(my, Value) = SQ(t) * GAIN;\n  return myValue * k + OTHER + \\\n         SQ(c.x + 1);\n}\n",
    };
}

using mutation::mutate;

}  // namespace cgtest
