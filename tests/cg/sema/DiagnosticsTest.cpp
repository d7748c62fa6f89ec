// Bad programs give exactly one located line, whichever stage finds the
// fault: analysis (names, types, overloads, the entry's interface) or
// lowering (reads before writes, loop counts, indices, size).
#include "cg/front/parser.h"
#include "cg/lower/lower.h"
#include "cg/sema/sema.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace cgc;

std::string firstError(const std::string& source, const Options& options = {}) {
    Sources sources;
    try {
        ast::Tree tree = parseSource(sources, source.data(), source.size(), "test.cg", options);
        TypeTable types;
        Analysis analysis = analyze(tree, types, options);
        lower(tree, analysis, types, options);
    } catch (const CompileError& e) {
        return sources.format(e.loc, e.what);
    }
    return "";
}

// One line per program: the entry takes a texture coordinate c.
std::string entry(const std::string& body, const std::string& before = "") {
    return before + "float4 main(float2 c : TEXCOORD0) : COLOR {\n" + body + "\n}\n";
}

std::string uniforms(const char* type, const char* prefix, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += std::string("uniform ") + type + " " + prefix + std::to_string(i) + ";\n";
    return text;
}

struct Bad {
    const char* what;
    std::string source;
    std::string error;
};

const Bad kBad[] = {
    {"undeclared name, near one in scope",
     entry("  return texRECT(heatTextur, c);", "uniform samplerRECT heatTexture;\n"),
     "test.cg:3:18: error: 'heatTextur' is not declared; did you mean 'heatTexture'?"},
    {"undeclared name, nothing near", entry("  return zzzzzz;"), "test.cg:2:10: error: 'zzzzzz' is not declared"},
    {"unknown function", entry("  return powr(c.x, 2);"),
     "test.cg:2:10: error: unknown function 'powr'; did you mean 'pow'?"},
    {"unknown function near a user function", entry("  return shadw(c);", "float4 shade(float2 x) { return x.xyxy; }\n"),
     "test.cg:3:10: error: unknown function 'shadw'; did you mean 'shade'?"},
    {"built-in the target cannot run", entry("  return ddx(c.x);"),
     "test.cg:2:10: error: 'ddx': derivatives are not available on this target"},
    {"built-in with the wrong arguments", entry("  return pow(c.x);"),
     "test.cg:2:10: error: 'pow' takes 2 arguments, got 1"},
    {"index not constant", entry("  float w[3] = {1, 2, 3};\n  return w[int(c.x)];"),
     "test.cg:3:12: error: array index must be a compile-time constant"},
    {"array size past any integer", entry("  return 0;", "static const float w[1e30] = {1};\n"),
     "test.cg:1:22: error: array size 1e+30 is too large"},
    {"array size past any integer, as an int", entry("  return 0;", "uniform float w[(int)1e30 / 3 + 1];\n"),
     "test.cg:1:31: error: array size 3.33333333333333e+29 is too large"},
    {"array size past the registers", entry("  return 0;", "uniform float w[5000];\n"),
     "test.cg:1:17: error: array size 5000 is too large"},
    {"array size that is no number", entry("  return 0;", "uniform float w[1e38 * 1e38 * 1e38 * 1e38 * 1e38 * 1e38 * 1e38 * 1e38 * 1e38];\n"),
     "test.cg:1:71: error: array size must be a positive integer constant"},
    {"index past the end", entry("  float w[3] = {1, 2, 3};\n  return w[3];"),
     "test.cg:3:12: error: index 3 is out of range for a 'float[3]'"},
    {"index far below the start", entry("  float w[3] = {1, 2, 3};\n  return w[-1e30];"),
     "test.cg:3:12: error: index -1.00000002e+30 is out of range for a 'float[3]'"},
    {"index past the end after unrolling", entry("  float w[3] = {1, 2, 3};\n  float s = 0;\n  for (int i = 0; i <= 3; i++) s += w[i];\n  return s;"),
     "test.cg:4:39: error: index 3 is out of range for a 'float[3]'"},
    {"recursion", entry("  return f(c.x);", "float f(float x) { return x > 0 ? f(x - 1) : 0; }\n"),
     "test.cg:1:35: error: recursive call to 'f': functions are inlined on this target and cannot recurse"},
    {"recursion through another function",
     entry("  return g(c.x);", "float g(float x);\nfloat h(float x) { return g(x); }\nfloat g(float x) { return h(x); }\n"),
     "test.cg:2:27: error: recursive call to 'g': functions are inlined on this target and cannot recurse"},
    {"ambiguous overload", entry("  return f(c.xyxy);", "float f(float2 x) { return 1; }\nfloat f(float3 x) { return 2; }\n"),
     "test.cg:4:10: error: call to 'f' is ambiguous: 'f(float2)' and 'f(float3)' fit equally well"},
    {"no overload fits", entry("  return f(c, c);", "float f(float2 x) { return 1; }\n"),
     "test.cg:3:10: error: no matching function for call to 'f(float2, float2)'"},
    {"out argument that is not a variable", entry("  g(c.x + 1);\n  return 0;", "void g(out float y) { y = 1; }\n"),
     "test.cg:3:9: error: out argument 1 of 'g' is not assignable"},
    {"declared, never defined", entry("  return g(c.x);", "float g(float x);\n"),
     "test.cg:3:10: error: 'g' is declared but never defined"},
    {"loop count unknown", entry("  float s = 0;\n  for (int i = 0; i < c.x; i++) s += 1;\n  return s;"),
     "test.cg:3:21: error: loop count is not known at compile time"},
    {"while loop never ending", entry("  float s = 0;\n  while (true) s += 1;\n  return s;"),
     "test.cg:3:3: error: loop runs more than 1024 iterations"},
    {"loops too long together",
     entry("  float s = 0;\n  for (int i = 0; i < 40; i++)\n    for (int j = 0; j < 40; j++) s += c.x;\n  return s;"),
     "test.cg:4:5: error: loops run more than 1024 iterations in all"},
    {"read before any write", entry("  float4 r;\n  return r;"), "test.cg:3:10: error: 'r' is used before it is assigned"},
    {"read of a lane never written", entry("  float4 r;\n  r.xyz = 1;\n  return r;"),
     "test.cg:4:10: error: 'r' is used before it is assigned"},
    {"read of a struct member never written", entry("  struct S { float a; float b; } s;\n  s.a = 1;\n  return s.b;"),
     "test.cg:4:12: error: 's' is used before it is assigned"},
    {"input semantic unknown", "float4 main(float4 p : POSITION) : COLOR { return p; }\n",
     "test.cg:1:24: error: input semantic 'POSITION' is not supported"},
    {"input struct member with an unknown semantic",
     "struct In { float2 uv : TEXCOORD0; float4 n : NORMAL; };\nfloat4 main(In i) : COLOR { return i.n; }\n",
     "test.cg:1:43: error: input semantic 'NORMAL' is not supported"},
    {"output semantic unknown", "void main(out float4 c : COLOR1) { c = 1; }\n",
     "test.cg:1:26: error: output semantic 'COLOR1' is not supported"},
    {"no colour output", "void main(float4 t : TEXCOORD0) { }\n",
     "test.cg:1:6: error: 'main' has no colour output (a result or 'out' parameter with semantic COLOR)"},
    {"only a depth output", "float main(float4 t : TEXCOORD0) : DEPTH { return t.x; }\n",
     "test.cg:1:7: error: 'main' has no colour output (a result or 'out' parameter with semantic COLOR)"},
    {"result without a semantic", "float4 main(float4 t : TEXCOORD0) { return t; }\n",
     "test.cg:1:8: error: the result of 'main' needs a semantic, such as ': COLOR'"},
    {"entry parameter neither varying nor uniform", "float4 main(float4 t) : COLOR { return t; }\n",
     "test.cg:1:20: error: parameter 't' of 'main' needs a semantic or 'uniform'"},
    {"depth that is not a scalar", "void main(out float4 c : COLOR, out float2 d : DEPTH) { c = 0; d = 0; }\n",
     "test.cg:1:48: error: a DEPTH output must be a scalar, got 'float2'"},
    {"too many uniforms", uniforms("float", "u", 257) + entry("  return u0;"),
     "test.cg:257:15: error: too many uniforms ('u256'): at most 256"},
    {"too many samplers", uniforms("sampler2D", "s", 17) + entry("  return 0;"),
     "test.cg:17:19: error: too many samplers ('s16'): at most 16"},
    {"uniform with a value", entry("  return k;", "float k = 2;\n"),
     "test.cg:1:7: error: uniform 'k' cannot have an initial value; declare it 'static const' for a constant"},
    {"parameter with a default value", "float4 main(float4 t : TEXCOORD0, uniform float k = 2) : COLOR { return t * k; }\n",
     "test.cg:1:53: error: parameter 'k' cannot have a default value"},
    {"global with a semantic", "float4 g : TEXCOORD1;\n" + entry("  return g;"),
     "test.cg:1:12: error: global 'g' cannot take a semantic; inputs are parameters of 'main'"},
    {"bitwise operator", entry("  return int(c.x) & 1;"), "test.cg:2:19: error: operator '&' is not available on this target"},
    {"bitwise compound assignment", entry("  int i = 1;\n  i <<= 2;\n  return i;"),
     "test.cg:3:5: error: operator '<<=' is not available on this target"},
    {"bitwise complement", entry("  return ~int(c.x);"), "test.cg:2:10: error: operator '~' is not available on this target"},
    {"no entry", "float4 shade(float4 t : TEXCOORD0) : COLOR { return t; }\n", "test.cg:2:1: error: no 'main' function"},
    {"break outside a loop", entry("  break;\n  return 0;"), "test.cg:2:3: error: 'break' outside a loop"},
    {"no conversion", entry("  float3x3 m = c;\n  return 0;"), "test.cg:2:16: error: cannot convert 'float2' to 'float3x3' in the initialisation of 'm'"},
    {"operands that do not combine", entry("  return m + c.xyx;", "uniform float2x2 m;\n"),
     "test.cg:3:12: error: invalid operands to '+': 'float2x2' and 'float3'"},
    {"constructor short of components", entry("  return float4(c, 1);"),
     "test.cg:2:10: error: 'float4' needs 4 components, got 3"},
    {"assignment to a const", entry("  const float k = 1;\n  k = 2;\n  return k;"),
     "test.cg:3:3: error: left side of '=' is not assignable ('k' is const)"},
    {"repeated component on the left", entry("  float4 r = 0;\n  r.xx = c;\n  return r;"),
     "test.cg:3:5: error: left side of '=' is not assignable (swizzle 'xx' repeats a component)"},
    {"swizzle past the vector", entry("  return c.z;"), "test.cg:2:12: error: invalid swizzle 'z' of a 'float2'"},
    {"struct member misspelt", entry("  Light l;\n  l.color = 1;\n  return l.colr;", "struct Light { float3 color; };\n"),
     "test.cg:5:12: error: 'struct Light' has no member 'colr'; did you mean 'color'?"},
    {"function falling off its end", entry("  return f(c.x);", "float f(float x) { x += 1; }\n"),
     "test.cg:1:28: error: 'f' ends without returning a value"},
    {"sampler picked at run time", entry("  return texRECT(c.x > 0 ? a : b, c);", "uniform samplerRECT a, b;\n"),
     "test.cg:3:26: error: a sampler chosen at run time is not available on this target"},
    {"value returned from a void function", entry("  g();\n  return 0;", "void g() { return 1; }\n"),
     "test.cg:1:19: error: 'g' returns void; 'return' takes no value here"},
};

TEST(Diagnostics, EachFaultGivesItsOneLocatedLine) {
    for (const Bad& bad : kBad) {
        SCOPED_TRACE(bad.what);
        EXPECT_EQ(firstError(bad.source), bad.error) << bad.source;
    }
}

TEST(Diagnostics, OversizedProgramsStopAtTheStatementThatPassesTheBound) {
    // 1000 unrolled iterations of a body far bigger than any target runs.
    std::string body = "  float4 r = c.xyxy;\n  for (int i = 0; i < 1000; i++) {\n";
    for (int k = 0; k < 20; ++k) body += "    r = r * r + sin(r) * " + std::to_string(k) + ";\n";
    body += "  }\n  return r;";
    std::string error = firstError(entry(body));
    EXPECT_NE(error.find("error: the program is too large for this target (over 32768 instructions"), std::string::npos)
        << error;
    EXPECT_EQ(error.rfind("test.cg:", 0), 0u) << error;
    // A smaller target gives a smaller bound.
    Options small;
    small.limits.instructions = 64;
    EXPECT_NE(firstError(entry("  float4 r = c.xyxy;\n" + std::string(200, ' ') + "r = sin(r); r = sin(r); r = sin(r);\n  "
                               "for (int i = 0; i < 100; i++) r = sin(r);\n  return r;"),
                         small)
                  .find("over 512 instructions"),
              std::string::npos);
}

}  // namespace
