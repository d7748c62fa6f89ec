// Seeded mutations of valid programs, for fuzzing the compiler.
#pragma once

#include "heat/heat.h"

#include <cctype>
#include <fstream>
#include <random>
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

inline const char* const kFragments[] = {
    "(", ")", "{", "}", ";", ",", ".", ".xyzw", ".q", "=", "+=", "/", "*", "-", "float4", "half", "float2(",
    "#define X ", "\n#define Y Y\n", "/*", "*/", "//", "1e", "1.5h", "0", "return", "main", "uniform", "out", ":",
    "COLOR", "TEXCOORD9", "texRECT(", "dot(", "static const", "if", "for", "\\", "\"", "\0", "\xff", "#", "(float3)",
    // the wider language
    "if (t.x > 0) ", "else ", "for (int i = 0; i < 3; i++) ", "while (", "do ", "break;", "continue;", "discard;",
    " ? ", "<=", "==", "!=", "&&", "||", "!", "++", "--", "%", "%=", "int", "bool", "true", "inout", "in ",
    "struct S { float4 a; float b; };", "S", "typedef float4 C;", "[2]", "[1][0]", "{1, 2}", "float3x3", "._m01",
    "._11", "mul(", "transpose(", "pow(", "sincos(", "tex2Dproj(", "texCUBE(", "tex3D(", "tex1Dbias(", "f4tex2D(",
    "DEPTH", "WPOS", "FOG", "COLOR1", "\n#if 1\n", "\n#else\n", "\n#endif\n", "\n#define F(a) (a * 2)\n", "F(",
    "\n#undef F\n", "\n#line 7\n", "\n#include \"lib.cg\"\n", "\n#include \"self.cg\"\n", "\n#error e\n",
};

// Breaking edits (bytes, cuts, fragments) and ones that mostly keep a
// program valid but change what it computes (numbers, operators, swizzles,
// a repeated line), so that both outcomes are common.
inline std::string mutate(std::string text, std::mt19937& random) {
    static const char* const kNumbers[] = {"0", "-0.0", "1", "-1", "0.5", "3", "1e-3", "1e30", "3e38", "1e-39", "7.25"};
    static const char kOperators[] = "+-*/<>";
    static const char kLanes[] = "xyzw";
    int edits = 1 + int(random() % 3);
    for (int e = 0; e < edits; ++e) {
        std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        const unsigned kind = random() % 14;  // the value-changing edits twice as often
        switch (kind < 6 ? kind : 6 + (kind - 6) / 2) {
            case 0:  // delete a run
                text.erase(at, random() % 8);
                break;
            case 1:  // one random byte
                text.insert(at, 1, char(random() % 256));
                break;
            case 2:  // overwrite a byte
                if (at < text.size()) text[at] = char(random() % 256);
                break;
            case 3: {  // a fragment of the language
                const char* f = kFragments[random() % (sizeof kFragments / sizeof *kFragments)];
                text.insert(at, f[0] ? std::string(f) : std::string(1, '\0'));
                break;
            }
            case 4: {  // duplicate a slice
                std::size_t from = text.empty() ? 0 : random() % text.size();
                text.insert(at, text.substr(from, random() % 32));
                break;
            }
            case 5:  // cut the text short
                text.resize(at);
                break;
            case 6: {  // the next number (not the digits of a name like float4) becomes another
                std::size_t begin = at;
                while ((begin = text.find_first_of("0123456789", begin)) != std::string::npos && begin > 0 &&
                       (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_'))
                    begin = text.find_first_not_of("0123456789", begin);
                if (begin == std::string::npos) break;
                std::size_t end = text.find_first_not_of("0123456789.", begin);
                text.replace(begin, (end == std::string::npos ? text.size() : end) - begin,
                             kNumbers[random() % (sizeof kNumbers / sizeof *kNumbers)]);
                break;
            }
            case 7: {  // the next operator becomes another
                std::size_t op = text.find_first_of(kOperators, at);
                if (op != std::string::npos) text[op] = kOperators[random() % 6];
                break;
            }
            case 8: {  // the next swizzle reads another lane
                std::size_t dot = text.find('.', at);
                if (dot != std::string::npos && dot + 1 < text.size() && std::string(kLanes).find(text[dot + 1]) != std::string::npos)
                    text[dot + 1] = kLanes[random() % 4];
                break;
            }
            default: {  // a line again after itself
                std::size_t begin = text.rfind('\n', at == 0 ? 0 : at - 1);
                begin = begin == std::string::npos ? 0 : begin + 1;
                std::size_t end = text.find('\n', begin);
                if (end != std::string::npos) text.insert(end + 1, text.substr(begin, end + 1 - begin));
                break;
            }
        }
    }
    return text;
}

}  // namespace cgtest
