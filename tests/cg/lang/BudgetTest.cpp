// The instruction budget: small fragment programs as people write them, each
// beside the ARB program a careful programmer writes by hand for the same
// work. Both run on Mesa over the same awkward inputs and must agree within
// float rounding, and the compiled one may take at most 1.10 times the
// hand-written instruction count (rounded down). The table states both
// counts; the compiled one is what the compiler makes today, and a change
// that makes it worse fails here.
#include "cg/compiler.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cgtest::Rgba;

struct Row {
    const char* behaviour;
    const char* units;  // texture targets from unit 0: R rectangle, 2 two-dimensional, 1 one-dimensional
    int handWritten, compiled;
    const char* source;  // null: the shipped HeatShader.cg
    const char* arb;
};

#define FIELD "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT field) : COLOR {\n"
#define IMAGE "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image) : COLOR {\n  float4 c = texRECT(image, tc);\n"
#define TWO "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT fg, uniform samplerRECT bg) : COLOR {\n" \
            "  float4 a = texRECT(fg, tc), b = texRECT(bg, tc);\n"
#define ARB_C "!!ARBfp1.0\nTEMP c, t, u, v;\nTEX c, fragment.texcoord[0], texture[0], RECT;\n"
#define ARB_AB "!!ARBfp1.0\nTEMP a, b, t;\nTEX a, fragment.texcoord[0], texture[0], RECT;\n" \
               "TEX b, fragment.texcoord[0], texture[1], RECT;\n"
#define ARB_V "!!ARBfp1.0\nTEMP v, a, b, s;\nTEX v, fragment.texcoord[0], texture[0], RECT;\n"

const Row kRows[] = {
    // Stencils.
    {"theShippedHeatStep", "R", 23, 23, nullptr,
     "!!ARBfp1.0\nPARAM grid = program.local[0];\nPARAM dt = program.local[1];\nTEMP c, t, l, r, d, u, k, s;\n"
     "TEX c, fragment.texcoord[0], texture[0], RECT;\n"
     "ADD t, fragment.texcoord[0].xyxy, {-1, 0, 1, 0};\nTEX l, t, texture[0], RECT;\nTEX r, t.zwzw, texture[0], RECT;\n"
     "ADD t, fragment.texcoord[0].xyxy, {0, -1, 0, 1};\nTEX d, t, texture[0], RECT;\nTEX u, t.zwzw, texture[0], RECT;\n"
     "MUL k.x, dt.x, 1e-5;\nMUL k.yz, grid.xxyy, grid.xxyy;\nRCP k.y, k.y;\nRCP k.z, k.z;\nMUL k.yz, k.x, k;\n"
     "ADD k.w, k.y, k.z;\nMAX k.w, k.w, 0.5;\nRCP k.w, k.w;\nMUL k.w, k.w, 0.5;\nMUL k.yz, k, k.w;\n"
     "ADD s, l, r;\nMAD s, c, -2, s;\nMAD s, k.y, s, c;\nADD t, d, u;\nMAD t, c, -2, t;\nMAD result.color, k.z, t, s;\nEND\n"},
    {"theCopyProgram", "R", 1, 1, FIELD "  return texRECT(field, tc);\n}\n",
     "!!ARBfp1.0\nTEX result.color, fragment.texcoord[0], texture[0], RECT;\nEND\n"},
    {"aThreeTapBoxBlur", "R", 7, 7,
     FIELD "  return (texRECT(field, tc - float2(1, 0)) + texRECT(field, tc) + texRECT(field, tc + float2(1, 0))) / 3;\n}\n",
     ARB_C "ADD t, fragment.texcoord[0].xyxy, {-1, 0, 1, 0};\nTEX u, t, texture[0], RECT;\n"
           "TEX v, t.zwzw, texture[0], RECT;\nADD c, u, c;\nADD c, c, v;\nMUL result.color, c, 0.33333334;\nEND\n"},
    {"aFiveTapBoxBlurFromALoop", "R", 12, 12,
     FIELD "  float4 sum = 0;\n  for (int i = -2; i <= 2; i++) sum += texRECT(field, tc + float2(i, 0));\n"
           "  return sum / 5;\n}\n",
     "!!ARBfp1.0\nTEMP s, t, u, a, b, c, d;\nADD t, fragment.texcoord[0].xyxy, {-2, 0, -1, 0};\n"
     "ADD u, fragment.texcoord[0].xyxy, {1, 0, 2, 0};\nTEX s, t, texture[0], RECT;\nTEX a, t.zwzw, texture[0], RECT;\n"
     "TEX b, fragment.texcoord[0], texture[0], RECT;\nTEX c, u, texture[0], RECT;\nTEX d, u.zwzw, texture[0], RECT;\n"
     "ADD s, s, a;\nADD s, s, b;\nADD s, s, c;\nADD s, s, d;\nMUL result.color, s, 0.2;\nEND\n"},
    {"aThreeByThreeBoxBlur", "R", 22, 22,
     FIELD "  float4 sum = 0;\n  for (int y = -1; y <= 1; y++)\n    for (int x = -1; x <= 1; x++)\n"
           "      sum += texRECT(field, tc + float2(x, y));\n  return sum / 9;\n}\n",
     "!!ARBfp1.0\nTEMP s, p, q, r, w, a, b, c, d, e, f, g, h;\n"
     "ADD p, fragment.texcoord[0].xyxy, {-1, -1, 0, -1};\nADD q, fragment.texcoord[0].xyxy, {1, -1, -1, 0};\n"
     "ADD r, fragment.texcoord[0].xyxy, {1, 0, -1, 1};\nADD w, fragment.texcoord[0].xyxy, {0, 1, 1, 1};\n"
     "TEX s, p, texture[0], RECT;\nTEX a, p.zwzw, texture[0], RECT;\nTEX b, q, texture[0], RECT;\n"
     "TEX c, q.zwzw, texture[0], RECT;\nTEX d, fragment.texcoord[0], texture[0], RECT;\nTEX e, r, texture[0], RECT;\n"
     "TEX f, r.zwzw, texture[0], RECT;\nTEX g, w, texture[0], RECT;\nTEX h, w.zwzw, texture[0], RECT;\n"
     "ADD s, s, a;\nADD s, s, b;\nADD s, s, c;\nADD s, s, d;\nADD s, s, e;\nADD s, s, f;\nADD s, s, g;\nADD s, s, h;\n"
     "MUL result.color, s, 0.11111111;\nEND\n"},
    {"aThreeTapGaussian", "R", 7, 7,
     FIELD "  return 0.25 * texRECT(field, tc - float2(1, 0)) + 0.5 * texRECT(field, tc)\n"
           "       + 0.25 * texRECT(field, tc + float2(1, 0));\n}\n",
     ARB_C "ADD t, fragment.texcoord[0].xyxy, {-1, 0, 1, 0};\nTEX u, t, texture[0], RECT;\n"
           "TEX v, t.zwzw, texture[0], RECT;\nMUL c, c, 0.5;\nMAD c, u, 0.25, c;\nMAD result.color, v, 0.25, c;\nEND\n"},
    {"aFiveTapGaussianFromAWeightArray", "R", 12, 12,
     "static const float weights[5] = {1.0 / 16, 4.0 / 16, 6.0 / 16, 4.0 / 16, 1.0 / 16};\n" FIELD
     "  float4 sum = 0;\n  for (int i = 0; i < 5; i++) sum += weights[i] * texRECT(field, tc + float2(0, i - 2));\n"
     "  return sum;\n}\n",
     "!!ARBfp1.0\nTEMP s, t, u, a, b, c, d;\nADD t, fragment.texcoord[0].xyxy, {0, -2, 0, -1};\n"
     "ADD u, fragment.texcoord[0].xyxy, {0, 1, 0, 2};\nTEX s, t, texture[0], RECT;\nTEX a, t.zwzw, texture[0], RECT;\n"
     "TEX b, fragment.texcoord[0], texture[0], RECT;\nTEX c, u, texture[0], RECT;\nTEX d, u.zwzw, texture[0], RECT;\n"
     "MUL s, s, 0.0625;\nMAD s, a, 0.25, s;\nMAD s, b, 0.375, s;\nMAD s, c, 0.25, s;\nMAD result.color, d, 0.0625, s;\n"
     "END\n"},
    {"aThreeByThreeGaussian", "R", 22, 22,
     "static const float weights[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};\n" FIELD
     "  float4 sum = 0;\n  for (int y = 0; y < 3; y++)\n    for (int x = 0; x < 3; x++)\n"
     "      sum += weights[y][x] / 16 * texRECT(field, tc + float2(x - 1, y - 1));\n  return sum;\n}\n",
     "!!ARBfp1.0\nTEMP s, p, q, r, w, a, b, c, d, e, f, g, h;\n"
     "ADD p, fragment.texcoord[0].xyxy, {-1, -1, 0, -1};\nADD q, fragment.texcoord[0].xyxy, {1, -1, -1, 0};\n"
     "ADD r, fragment.texcoord[0].xyxy, {1, 0, -1, 1};\nADD w, fragment.texcoord[0].xyxy, {0, 1, 1, 1};\n"
     "TEX s, p, texture[0], RECT;\nTEX a, p.zwzw, texture[0], RECT;\nTEX b, q, texture[0], RECT;\n"
     "TEX c, q.zwzw, texture[0], RECT;\nTEX d, fragment.texcoord[0], texture[0], RECT;\nTEX e, r, texture[0], RECT;\n"
     "TEX f, r.zwzw, texture[0], RECT;\nTEX g, w, texture[0], RECT;\nTEX h, w.zwzw, texture[0], RECT;\n"
     "MUL s, s, 0.0625;\nMAD s, a, 0.125, s;\nMAD s, b, 0.0625, s;\nMAD s, c, 0.125, s;\nMAD s, d, 0.25, s;\n"
     "MAD s, e, 0.125, s;\nMAD s, f, 0.0625, s;\nMAD s, g, 0.125, s;\nMAD result.color, h, 0.0625, s;\nEND\n"},
    {"aFivePointLaplacian", "R", 11, 11,
     FIELD "  float4 c = texRECT(field, tc);\n  return texRECT(field, tc - float2(1, 0)) + texRECT(field, tc + float2(1, 0))\n"
           "       + texRECT(field, tc - float2(0, 1)) + texRECT(field, tc + float2(0, 1)) - 4 * c;\n}\n",
     "!!ARBfp1.0\nTEMP c, t, u, a, b, d, e;\nTEX c, fragment.texcoord[0], texture[0], RECT;\n"
     "ADD t, fragment.texcoord[0].xyxy, {-1, 0, 1, 0};\nADD u, fragment.texcoord[0].xyxy, {0, -1, 0, 1};\n"
     "TEX a, t, texture[0], RECT;\nTEX b, t.zwzw, texture[0], RECT;\nTEX d, u, texture[0], RECT;\n"
     "TEX e, u.zwzw, texture[0], RECT;\nADD a, a, b;\nADD a, a, d;\nADD a, a, e;\nMAD result.color, c, -4, a;\nEND\n"},
    {"aHorizontalSobel", "R", 15, 15,
     FIELD "  float4 right = texRECT(field, tc + float2(1, 1)) + 2 * texRECT(field, tc + float2(1, 0))\n"
           "               + texRECT(field, tc + float2(1, -1));\n"
           "  float4 left = texRECT(field, tc + float2(-1, 1)) + 2 * texRECT(field, tc + float2(-1, 0))\n"
           "              + texRECT(field, tc + float2(-1, -1));\n  return abs(right - left);\n}\n",
     "!!ARBfp1.0\nTEMP p, q, r, a, b, c, d, e, f;\nADD p, fragment.texcoord[0].xyxy, {1, 1, 1, 0};\n"
     "ADD q, fragment.texcoord[0].xyxy, {1, -1, -1, 1};\nADD r, fragment.texcoord[0].xyxy, {-1, 0, -1, -1};\n"
     "TEX a, p, texture[0], RECT;\nTEX b, p.zwzw, texture[0], RECT;\nTEX c, q, texture[0], RECT;\n"
     "TEX d, q.zwzw, texture[0], RECT;\nTEX e, r, texture[0], RECT;\nTEX f, r.zwzw, texture[0], RECT;\n"
     "MAD a, b, 2, a;\nADD a, a, c;\nMAD d, e, 2, d;\nADD d, d, f;\nSUB a, a, d;\nABS result.color, a;\nEND\n"},
    {"aSobelMagnitudeOfLuminance", "R", 14, 14,
     FIELD "  const float3 w = float3(0.299, 0.587, 0.114);\n"
           "  float gx = dot(texRECT(field, tc + float2(1, 0)).rgb - texRECT(field, tc - float2(1, 0)).rgb, w);\n"
           "  float gy = dot(texRECT(field, tc + float2(0, 1)).rgb - texRECT(field, tc - float2(0, 1)).rgb, w);\n"
           "  return sqrt(gx * gx + gy * gy);\n}\n",
     "!!ARBfp1.0\nPARAM w = {0.299, 0.587, 0.114, 0};\nTEMP t, u, a, b, c, d, g;\n"
     "ADD t, fragment.texcoord[0].xyxy, {1, 0, -1, 0};\nADD u, fragment.texcoord[0].xyxy, {0, 1, 0, -1};\n"
     "TEX a, t, texture[0], RECT;\nTEX b, t.zwzw, texture[0], RECT;\nTEX c, u, texture[0], RECT;\n"
     "TEX d, u.zwzw, texture[0], RECT;\nSUB a, a, b;\nSUB c, c, d;\nDP3 g.x, a, w;\nDP3 g.y, c, w;\n"
     "MUL g.y, g.y, g.y;\nMAD g.x, g.x, g.x, g.y;\nRSQ g.x, g.x;\nRCP result.color, g.x;\nEND\n"},
    {"anUpwindAdvectionStep", "R", 16, 16,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT f, uniform float2 vel, uniform float dt) : COLOR {\n"
     "  float4 c = texRECT(f, tc);\n"
     "  float4 l = texRECT(f, tc - float2(1, 0)), r = texRECT(f, tc + float2(1, 0));\n"
     "  float4 d = texRECT(f, tc - float2(0, 1)), u = texRECT(f, tc + float2(0, 1));\n"
     "  float4 dx = vel.x > 0 ? c - l : r - c;\n  float4 dy = vel.y > 0 ? c - d : u - c;\n"
     "  return c - dt * (vel.x * dx + vel.y * dy);\n}\n",
     "!!ARBfp1.0\nPARAM vel = program.local[0];\nTEMP c, t, u, l, r, d, w, a, b;\n"
     "TEX c, fragment.texcoord[0], texture[0], RECT;\nADD t, fragment.texcoord[0].xyxy, {-1, 0, 1, 0};\n"
     "ADD u, fragment.texcoord[0].xyxy, {0, -1, 0, 1};\nTEX l, t, texture[0], RECT;\nTEX r, t.zwzw, texture[0], RECT;\n"
     "TEX d, u, texture[0], RECT;\nTEX w, u.zwzw, texture[0], RECT;\nSUB a, c, l;\nSUB b, r, c;\n"
     "CMP a, -vel.x, a, b;\nSUB l, c, d;\nSUB r, w, c;\nCMP l, -vel.y, l, r;\nMUL l, l, vel.y;\n"
     "MAD a, a, vel.x, l;\nMAD result.color, -program.local[1].x, a, c;\nEND\n"},
    {"anUnsharpMask", "R", 12, 12,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform float amount) : COLOR {\n"
     "  float4 c = texRECT(image, tc);\n"
     "  float4 blur = (texRECT(image, tc + float2(1, 0)) + texRECT(image, tc - float2(1, 0))\n"
     "              + texRECT(image, tc + float2(0, 1)) + texRECT(image, tc - float2(0, 1))) * 0.25;\n"
     "  return c + amount * (c - blur);\n}\n",
     "!!ARBfp1.0\nTEMP c, t, u, a, b, d, e;\nTEX c, fragment.texcoord[0], texture[0], RECT;\n"
     "ADD t, fragment.texcoord[0].xyxy, {1, 0, -1, 0};\nADD u, fragment.texcoord[0].xyxy, {0, 1, 0, -1};\n"
     "TEX a, t, texture[0], RECT;\nTEX b, t.zwzw, texture[0], RECT;\nTEX d, u, texture[0], RECT;\n"
     "TEX e, u.zwzw, texture[0], RECT;\nADD a, a, b;\nADD a, a, d;\nADD a, a, e;\nMAD a, a, -0.25, c;\n"
     "MAD result.color, program.local[0].x, a, c;\nEND\n"},
    {"anEmboss", "R", 5, 5, IMAGE "  return texRECT(image, tc + 1) - texRECT(image, tc - 1) + 0.5;\n}\n",
     "!!ARBfp1.0\nTEMP t, a, b;\nADD t, fragment.texcoord[0].xyxy, {1, 1, -1, -1};\nTEX a, t, texture[0], RECT;\n"
     "TEX b, t.zwzw, texture[0], RECT;\nSUB a, a, b;\nADD result.color, a, 0.5;\nEND\n"},

    // Blends of two textures.
    {"aLerpBlend", "RR", 3, 3,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT a, uniform samplerRECT b, uniform float t) : COLOR {\n"
     "  return lerp(texRECT(a, tc), texRECT(b, tc), t);\n}\n",
     ARB_AB "LRP result.color, program.local[0].x, b, a;\nEND\n"},
    {"anAlphaBlendWrittenOut", "RR", 3, 3, TWO "  return a * a.a + b * (1 - a.a);\n}\n",
     ARB_AB "LRP result.color, a.w, a, b;\nEND\n"},
    {"anOverBlend", "RR", 4, 4, TWO "  return float4(lerp(b.rgb, a.rgb, a.a), a.a + b.a * (1 - a.a));\n}\n",
     ARB_AB "LRP result.color.xyz, a.w, a, b;\nLRP result.color.w, a.w, 1, b.w;\nEND\n"},
    {"aPremultipliedOverBlend", "RR", 4, 4, TWO "  return a + b * (1 - a.a);\n}\n",
     ARB_AB "SUB t.x, 1, a.w;\nMAD result.color, b, t.x, a;\nEND\n"},
    {"anAdditiveBlend", "RR", 3, 3, TWO "  return saturate(a + b);\n}\n", ARB_AB "ADD_SAT result.color, a, b;\nEND\n"},
    {"aMultiplyBlend", "RR", 3, 3, TWO "  return a * b;\n}\n", ARB_AB "MUL result.color, a, b;\nEND\n"},
    {"aSelectionByAlpha", "RR", 4, 4, TWO "  return a.a > 0.5 ? a : b;\n}\n",
     ARB_AB "SUB t.x, 0.5, a.w;\nCMP result.color, t.x, a, b;\nEND\n"},

    // Colour operations on one image.
    {"premultipliedAlpha", "R", 3, 3, IMAGE "  return float4(c.rgb * c.a, c.a);\n}\n",
     ARB_C "MUL result.color.xyz, c, c.w;\nMOV result.color.w, c.w;\nEND\n"},
    {"luminanceByDot", "R", 3, 3, IMAGE "  float y = dot(c.rgb, float3(0.2126, 0.7152, 0.0722));\n  return float4(y, y, y, c.a);\n}\n",
     ARB_C "DP3 result.color.xyz, c, {0.2126, 0.7152, 0.0722, 0};\nMOV result.color.w, c.w;\nEND\n"},
    {"sepiaFromLuminance", "R", 4, 4,
     IMAGE "  float y = dot(c.rgb, float3(0.299, 0.587, 0.114));\n  return float4(y * float3(1.07, 0.74, 0.43), c.a);\n}\n",
     ARB_C "DP3 t.x, c, {0.299, 0.587, 0.114, 0};\nMUL result.color.xyz, t.x, {1.07, 0.74, 0.43, 0};\n"
           "MOV result.color.w, c.w;\nEND\n"},
    {"thresholdByStep", "R", 2, 2,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform float edge) : COLOR {\n"
     "  return step(edge, texRECT(image, tc));\n}\n",
     ARB_C "SGE result.color, c, program.local[0].x;\nEND\n"},
    {"alphaTestByStep", "R", 3, 3, IMAGE "  return c * step(0.5, c.a);\n}\n",
     ARB_C "SGE t.x, c.w, 0.5;\nMUL result.color, c, t.x;\nEND\n"},
    {"gammaByPow", "R", 5, 5,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform float gamma) : COLOR {\n"
     "  float4 c = texRECT(image, tc);\n  return float4(pow(c.rgb, gamma), c.a);\n}\n",
     ARB_C "POW result.color.x, c.x, program.local[0].x;\nPOW result.color.y, c.y, program.local[0].x;\n"
           "POW result.color.z, c.z, program.local[0].x;\nMOV result.color.w, c.w;\nEND\n"},
    {"contrastAroundHalf", "R", 4, 4,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform float k) : COLOR {\n"
     "  float4 c = texRECT(image, tc);\n  return float4((c.rgb - 0.5) * k + 0.5, c.a);\n}\n",
     ARB_C "SUB t, c, 0.5;\nMAD result.color.xyz, t, program.local[0].x, 0.5;\nMOV result.color.w, c.w;\nEND\n"},
    {"aTintThatKeepsAlpha", "R", 2, 2, IMAGE "  return float4(c.rgb * float3(1.0, 0.9, 0.7), c.a);\n}\n",
     ARB_C "MUL result.color, c, {1, 0.9, 0.7, 1};\nEND\n"},
    {"anInversionThatKeepsAlpha", "R", 2, 2, IMAGE "  return float4(1 - c.rgb, c.a);\n}\n",
     ARB_C "MAD result.color, c, {-1, -1, -1, 1}, {1, 1, 1, 0};\nEND\n"},
    {"luminanceWrittenAsAWeightedSum", "R", 3, 3,
     IMAGE "  float y = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;\n  return float4(y, y, y, c.a);\n}\n",
     ARB_C "DP3 result.color.xyz, c, {0.299, 0.587, 0.114, 0};\nMOV result.color.w, c.w;\nEND\n"},
    {"twoQuotientsByOneUniform", "RR", 5, 5,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT fg, uniform samplerRECT bg, uniform float s) : COLOR {\n"
     "  return texRECT(fg, tc) / s + texRECT(bg, tc) / s;\n}\n",
     ARB_AB "RCP t.x, program.local[0].x;\nMUL a, a, t.x;\nMAD result.color, b, t.x, a;\nEND\n"},
    {"aDesaturation", "R", 4, 4,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform float amount) : COLOR {\n"
     "  float4 c = texRECT(image, tc);\n  float y = dot(c.rgb, float3(0.299, 0.587, 0.114));\n"
     "  return float4(lerp(c.rgb, y, amount), c.a);\n}\n",
     ARB_C "DP3 t.x, c, {0.299, 0.587, 0.114, 0};\nLRP result.color.xyz, program.local[0].x, t.x, c;\n"
           "MOV result.color.w, c.w;\nEND\n"},
    {"aColourMatrixByMul", "R", 5, 5,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform float3x3 m) : COLOR {\n"
     "  float4 c = texRECT(image, tc);\n  return float4(mul(m, c.rgb), c.a);\n}\n",
     ARB_C "DP3 result.color.x, program.local[0], c;\nDP3 result.color.y, program.local[1], c;\n"
           "DP3 result.color.z, program.local[2], c;\nMOV result.color.w, c.w;\nEND\n"},
    {"fogTowardsAColour", "R", 3, 3,
     "float4 main(float2 tc : TEXCOORD0, float fog : FOG, uniform samplerRECT image, uniform float4 fogColor,\n"
     "            uniform float density) : COLOR {\n"
     "  return lerp(texRECT(image, tc), fogColor, saturate(fog * density));\n}\n",
     ARB_C "MUL_SAT t.x, fragment.fogcoord.x, program.local[1].x;\nLRP result.color, t.x, program.local[0], c;\nEND\n"},
    {"aDiscardBelowAnAlpha", "R", 4, 4, IMAGE "  if (c.a < 0.1) discard;\n  return c;\n}\n",
     ARB_C "SUB t.x, c.w, 0.1;\nKIL t.x;\nMOV result.color, c;\nEND\n"},

    // Colour maps of a scalar field.
    {"aColourMapByIfElse", "R", 7, 7,
     FIELD "  float v = texRECT(field, tc).x;\n  float4 c;\n"
           "  if (v < 0.5) c = float4(0, 2 * v, 1 - 2 * v, 1);\n  else c = float4(2 * v - 1, 2 - 2 * v, 0, 1);\n"
           "  return c;\n}\n",
     ARB_V "MAD a.yz, v.x, {0, 2, -2, 0}, {0, 0, 1, 0};\nMOV a.xw, {0, 0, 0, 1};\n"
           "MAD b.xy, v.x, {2, -2, 0, 0}, {-1, 2, 0, 0};\nMOV b.zw, {0, 0, 0, 1};\nSLT s.x, v.x, 0.5;\n"
           "CMP result.color, -s.x, a, b;\nEND\n"},
    {"aColourMapByAnIfElseChain", "R", 13, 13,
     FIELD "  float v = texRECT(field, tc).x;\n  float4 c;\n"
           "  if (v < 0.25) c = float4(0, 0, 4 * v, 1);\n  else if (v < 0.5) c = float4(0, 4 * v - 1, 1, 1);\n"
           "  else if (v < 0.75) c = float4(4 * v - 2, 1, 3 - 4 * v, 1);\n  else c = float4(1, 4 - 4 * v, 0, 1);\n"
           "  return c;\n}\n",
     "!!ARBfp1.0\nTEMP v, s, a, b, c, d;\nTEX v, fragment.texcoord[0], texture[0], RECT;\n"
     "SLT s.xyz, v.x, {0.25, 0.5, 0.75, 0};\nMUL a.z, v.x, 4;\nMOV a.xyw, {0, 0, 0, 1};\n"
     "MAD b.y, v.x, 4, -1;\nMOV b.xzw, {0, 0, 1, 1};\nMAD c.xz, v.x, {4, 0, -4, 0}, {-2, 0, 3, 0};\n"
     "MOV c.yw, {0, 1, 0, 1};\nMAD d.y, v.x, -4, 4;\nMOV d.xzw, {1, 0, 0, 1};\nCMP c, -s.z, c, d;\n"
     "CMP b, -s.y, b, c;\nCMP result.color, -s.x, a, b;\nEND\n"},
    {"aHotColourMapByATernary", "R", 7, 7,
     FIELD "  float t = texRECT(field, tc).x;\n  return t < 0.5 ? float4(1, 2 * t, 0, 1) : float4(1, 1, 2 * t - 1, 1);\n}\n",
     ARB_V "MUL a.y, v.x, 2;\nMOV a.xzw, {1, 0, 0, 1};\nMAD b.z, v.x, 2, -1;\nMOV b.xyw, {1, 1, 0, 1};\n"
           "SLT s.x, v.x, 0.5;\nCMP result.color, -s.x, a, b;\nEND\n"},
    {"aGradientThroughLerpAndSaturate", "R", 4, 4,
     FIELD "  float v = texRECT(field, tc).r;\n"
           "  return lerp(float4(0, 0, 0.5, 1), float4(1, 0.8, 0, 1), saturate((v - 0.2) / 0.6));\n}\n",
     ARB_V "SUB s.x, v.x, 0.2;\nMUL_SAT s.x, s.x, 1.6666666;\nLRP result.color, s.x, {1, 0.8, 0, 1}, {0, 0, 0.5, 1};\n"
           "END\n"},
    {"aHeatColourMapRedYellowWhite", "R", 3, 3,
     FIELD "  float v = texRECT(field, tc).r;\n  return saturate(float4(3 * v, 3 * v - 1, 3 * v - 2, 1));\n}\n",
     ARB_V "MAD_SAT result.color.xyz, v.x, 3, {0, -1, -2, 0};\nMOV result.color.w, 1;\nEND\n"},
    {"aPaletteLookup", "R1", 2, 2,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT field, uniform sampler1D palette) : COLOR {\n"
     "  return tex1D(palette, texRECT(field, tc).x);\n}\n",
     ARB_V "TEX result.color, v, texture[1], 1D;\nEND\n"},

    // Position-driven patterns and vectors.
    {"aVignette", "2", 6, 6,
     "float4 main(float2 uv : TEXCOORD1, uniform sampler2D image) : COLOR {\n  float4 c = tex2D(image, uv);\n"
     "  float2 d = uv - 0.5;\n  return c * saturate(1 - dot(d, d) * 2);\n}\n",
     "!!ARBfp1.0\nTEMP c, d;\nTEX c, fragment.texcoord[1], texture[0], 2D;\nSUB d.xy, fragment.texcoord[1], 0.5;\n"
     "MUL d.xy, d, d;\nADD d.x, d.x, d.y;\nMAD_SAT d.x, d.x, -2, 1;\nMUL result.color, c, d.x;\nEND\n"},
    {"aCheckerboardFromFracAndStep", "", 6, 6,
     "float4 main(float2 uv : TEXCOORD1) : COLOR {\n  float2 f = frac(uv * 4);\n"
     "  float k = abs(step(0.5, f.x) - step(0.5, f.y));\n"
     "  return lerp(float4(0.1, 0.1, 0.1, 1), float4(0.9, 0.9, 0.9, 1), k);\n}\n",
     "!!ARBfp1.0\nTEMP f;\nMUL f.xy, fragment.texcoord[1], 4;\nFRC f.xy, f;\nSGE f.xy, f, 0.5;\nSUB f.x, f.x, f.y;\n"
     "ABS f.x, f.x;\nLRP result.color, f.x, {0.9, 0.9, 0.9, 1}, {0.1, 0.1, 0.1, 1};\nEND\n"},
    {"aNormalisedVectorAsAColour", "", 5, 5,
     "float4 main(float3 n : TEXCOORD2) : COLOR {\n  return float4(normalize(n) * 0.5 + 0.5, 1);\n}\n",
     "!!ARBfp1.0\nTEMP n;\nDP3 n.w, fragment.texcoord[2], fragment.texcoord[2];\nRSQ n.w, n.w;\n"
     "MUL n.xyz, fragment.texcoord[2], n.w;\nMAD result.color.xyz, n, 0.5, 0.5;\nMOV result.color.w, 1;\nEND\n"},
    {"aVectorDividedByItsLength", "", 4, 4,
     "float4 main(float3 v : TEXCOORD2) : COLOR {\n  return float4(v / length(v), 1);\n}\n",
     "!!ARBfp1.0\nTEMP n;\nDP3 n.w, fragment.texcoord[2], fragment.texcoord[2];\nRSQ n.w, n.w;\n"
     "MUL result.color.xyz, fragment.texcoord[2], n.w;\nMOV result.color.w, 1;\nEND\n"},
    {"aRepeatingRampFromAPeriodAndPhase", "", 3, 3,
     "float4 main(float4 c : COLOR0, uniform float period, uniform float phase) : COLOR {\n"
     "  return frac(c / period + phase);\n}\n",
     "!!ARBfp1.0\nTEMP t;\nRCP t.x, program.local[0].x;\nMAD t, fragment.color, t.x, program.local[1].x;\n"
     "FRC result.color, t;\nEND\n"},
    {"aDistortionByADependentLookup", "RR", 3, 3,
     "float4 main(float2 tc : TEXCOORD0, uniform samplerRECT image, uniform samplerRECT offsets) : COLOR {\n"
     "  return texRECT(image, tc + texRECT(offsets, tc).xy * 2);\n}\n",
     "!!ARBfp1.0\nTEMP t;\nTEX t, fragment.texcoord[0], texture[1], RECT;\nMAD t, t, 2, fragment.texcoord[0];\n"
     "TEX result.color, t, texture[0], RECT;\nEND\n"},
    {"aMirroredLookup", "R", 2, 2, FIELD "  return texRECT(field, float2(8 - tc.x, tc.y));\n}\n",
     "!!ARBfp1.0\nTEMP t;\nMAD t, fragment.texcoord[0], {-1, 1, 0, 0}, {8, 0, 0, 0};\n"
     "TEX result.color, t, texture[0], RECT;\nEND\n"},
    {"aProjectiveLookupWrittenAsADivision", "R", 1, 1,
     "float4 main(float4 p : TEXCOORD2, uniform samplerRECT image) : COLOR {\n  return texRECT(image, p.xy / p.w);\n}\n",
     "!!ARBfp1.0\nTXP result.color, fragment.texcoord[2], texture[0], RECT;\nEND\n"},
};

// Awkward texel values: negative, zero, above 1, halves and thirds.
const float kTexels[] = {0.3f, -0.25f, 0.0f, 1.0f, 0.5f, 2.5f, 0.75f, -1.5f, 0.1f, 0.6f, 1.25f, 0.2f, 0.9f, 0.45f,
                         0.05f, 0.8f, 0.35f};

cgtest::Texture texture(int unit, char kind) {
    cgtest::Texture t;
    t.unit = unit;
    t.target = kind == '1' ? GL_TEXTURE_1D : kind == '2' ? GL_TEXTURE_2D : GL_TEXTURE_RECTANGLE_ARB;
    t.width = 8;
    t.height = kind == '1' ? 1 : 8;
    for (int n = 0; n < t.width * t.height * 4; ++n)
        t.rgba.push_back(kTexels[std::size_t(n * 7 + unit * 5 + n / 4 * 3) % (sizeof kTexels / sizeof kTexels[0])]);
    return t;
}

// Uniforms for every program; the heat step gets a grid and a time step of
// its own, so that its coefficients are neither tiny nor unstable.
std::vector<Rgba> locals(const Row& row) {
    if (row.source == nullptr) return {{0.125f, 0.125f, 0, 0}, {200, 0, 0, 0}};
    return {{0.35f, -0.7f, 1.6f, 0.45f}, {2.5f, 0.125f, -1.25f, 0.8f}, {-0.6f, 1.1f, 0.05f, 3}, {0.9f, 0.2f, -0.35f, 1.7f}};
}

cgtest::ArbRun inputs(const Row& row) {
    cgtest::ArbRun run;
    run.width = run.height = 8;
    run.texcoord[0] = {{0, 0, 0.25f, 1}, {8, 0, 0, 0}, {0, 8, 0, 0}};  // texel centres
    run.texcoord[1] = {{0, 0, -0.3f, 1}, {1, 0, 0.6f, 0}, {0, 1, 0, -0.5f}};
    run.texcoord[2] = {{-1, 0.5f, 2, 2}, {16, 0, -1, 0.5f}, {0, 15, 0.5f, 0}};
    run.color = {{0.2f, -0.4f, 1.3f, 0.6f}, {0.5f, 1.5f, -1, 0.3f}, {-0.3f, 0.2f, 0.4f, 0.5f}};
    run.fog = 0.3f;
    run.locals = locals(row);
    for (int unit = 0; row.units[unit]; ++unit) run.textures.push_back(texture(unit, row.units[unit]));
    return run;
}

// Instructions in ARB text: statements other than declarations and END.
int instructionsIn(const std::string& text) {
    int n = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string op;
        if (!(words >> op) || line.find(';') == std::string::npos) continue;
        static const char* const declarations[] = {"TEMP", "PARAM", "ATTRIB", "OUTPUT", "ALIAS", "OPTION", "ADDRESS"};
        bool declaration = false;
        for (const char* d : declarations) declaration = declaration || op == d;
        n += !declaration;
    }
    return n;
}

bool agree(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-5f * std::fmax(1.0f, std::fmax(std::fabs(a), std::fabs(b)));
}

std::string shippedShader() {
    std::ifstream in(HEAT_SHADER_PATH);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Budget : public FloatTargetTest {};

// Both programs of every row read back as assembly, counted as the back end
// counted the compiled one; the compiled one reads back as itself.
TEST(BudgetAsAssembly, everyProgramReadsBackWithTheBackEndsCounts) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.behaviour);
        const cgc::Compiled compiled = cgc::compile(row.source ? row.source : shippedShader(), "budget.cg");
        ASSERT_TRUE(compiled.ok) << compiled.error;
        const cgc::Compiled again = cgc::compile(compiled.text, "budget.fp"), hand = cgc::compile(row.arb, "hand.fp");
        ASSERT_TRUE(again.ok) << again.error << "\n" << compiled.text;
        ASSERT_TRUE(hand.ok) << hand.error << "\n" << row.arb;
        EXPECT_EQ(again.text, compiled.text);
        const cgc::Stats& a = again.stats;
        const cgc::Stats& b = compiled.stats;
        EXPECT_EQ(std::vector<int>({a.instructions, a.aluInstructions, a.texInstructions, a.texIndirections, a.temporaries}),
                  std::vector<int>({b.instructions, b.aluInstructions, b.texInstructions, b.texIndirections, b.temporaries}));
        EXPECT_EQ(hand.stats.instructions, row.handWritten);
    }
}

TEST_F(Budget, compiledProgramsMatchHandWrittenOnesWithinATenthMoreInstructions) {
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_GE(sizeof kRows / sizeof kRows[0], 30u);
    int compiledTotal = 0, handTotal = 0;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.behaviour);
        const std::string source = row.source ? row.source : shippedShader();
        const cgc::Compiled compiled = cgc::compile(source, "budget.cg");
        ASSERT_TRUE(compiled.ok) << compiled.error;
        const cgtest::ArbRun run = inputs(row);
        const cgtest::ArbResult mine = cgtest::runArb(compiled.text, run), theirs = cgtest::runArb(row.arb, run);
        ASSERT_TRUE(mine.loaded) << mine.error << "\n" << compiled.text;
        ASSERT_TRUE(theirs.loaded) << theirs.error << " at " << theirs.errorPosition << "\n" << row.arb;
        const int mineCount = instructionsIn(compiled.text), theirCount = instructionsIn(row.arb);
        EXPECT_EQ(mineCount, compiled.stats.instructions);
        EXPECT_EQ(mine.instructions - theirs.instructions, mineCount - theirCount) << "GL counts them otherwise";
        EXPECT_EQ(theirCount, row.handWritten) << "the table's hand-written count is wrong";
        EXPECT_LE(mineCount, row.compiled) << compiled.text;
        EXPECT_LE(mineCount, row.handWritten * 11 / 10) << compiled.text;
        std::printf("%-40s compiled %2d, hand-written %2d\n", row.behaviour, mineCount, theirCount);
        compiledTotal += mineCount;
        handTotal += theirCount;

        int wrong = 0, finite = 0;
        for (std::size_t n = 0; n < mine.rgba.size(); ++n) {
            finite += std::isfinite(theirs.rgba[n]);
            if (!agree(mine.rgba[n], theirs.rgba[n]) && wrong++ < 3)
                ADD_FAILURE() << "pixel " << n / 4 % 8 << ", " << n / 32 << " channel " << n % 4 << ": compiled "
                              << mine.rgba[n] << ", hand-written " << theirs.rgba[n] << "\n" << compiled.text;
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(finite, int(mine.rgba.size()) / 2) << "too few finite results to compare";
    }
    std::printf("all %zu programs: compiled %d, hand-written %d instructions\n", sizeof kRows / sizeof kRows[0],
                compiledTotal, handTotal);
}

}  // namespace
