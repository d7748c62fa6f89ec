// Heat steps as people write them, each a whole program run on GL over a
// small field: the shipped file, and variants with a helper function, a
// loop over the neighbours, a boundary written with `if` and a nine-point
// stencil from a weight array in nested loops. Each is compared with the
// CPU reference solver or the same stencil in C++.
#include "heat/referenceSolver.h"
#include "tests/cg/lang/ConstructPipeline.h"
#include "tests/cg/support/ArbRunner.h"
#include "tests/support/GLTest.h"

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace {

using constructtest::compileProgram;
using constructtest::Program;

const int kWidth = 16, kHeight = 12;
const float kTimestep = 100;

std::string shippedShader() {
    std::ifstream in(HEAT_SHADER_PATH);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string kSignature =
    "float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture, uniform float2 invGridSize,\n"
    "            uniform float timestep) : COLOR {\n"
    "  float2 r = 1e-5 * timestep / (invGridSize * invGridSize);\n"
    "  r *= 0.5 / max(r.x + r.y, 0.5);\n";

heatref::Grid field() {
    heatref::Grid g(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 4; ++c) g.at(x, y, c) = std::fmod(float(x * 7 + y * 13 + c * 5) * 0.37f, 1.0f);
    return g;
}

// Cold edges: a neighbour beyond the field reads 0.
heatref::Grid coldStep(const heatref::Grid& in) {
    heatref::Coefficients r = heatref::coefficients(kTimestep, 1.0f / kWidth, 1.0f / kHeight);
    heatref::Grid out(in.width, in.height);
    auto at = [&](int x, int y, int c) { return x < 0 || y < 0 || x >= kWidth || y >= kHeight ? 0.0f : in.at(x, y, c); };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 4; ++c) {
                float centre = in.at(x, y, c);
                out.at(x, y, c) = centre + r.rx * (at(x - 1, y, c) + at(x + 1, y, c) - 2 * centre) +
                                  r.ry * (at(x, y - 1, c) + at(x, y + 1, c) - 2 * centre);
            }
    return out;
}

heatref::Grid ninePointStep(const heatref::Grid& in) {
    const float w[3][3] = {{1, 4, 1}, {4, -20, 4}, {1, 4, 1}};
    heatref::Grid out(in.width, in.height);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 4; ++c) {
                float sum = 0;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i) sum += w[j + 1][i + 1] * in.clamped(x + i, y + j, c);
                out.at(x, y, c) = in.at(x, y, c) + 0.02f * sum;
            }
    return out;
}

struct Variant {
    const char* what;
    std::string source;
    std::function<heatref::Grid(const heatref::Grid&)> reference;
    int handWritten;  // instructions an ARB programmer writes for the same work
};

heatref::Grid referenceStep(const heatref::Grid& in) { return heatref::step(in, kTimestep, 1.0f / kWidth, 1.0f / kHeight); }

const Variant kVariants[] = {
    {"the shipped HeatShader.cg", shippedShader(), referenceStep, 23},
    {"a helper function",
     "float4 diffuse(samplerRECT s, float2 at, float2 axis) {\n"
     "  return texRECT(s, at - axis) + texRECT(s, at + axis) - 2 * texRECT(s, at);\n}\n" +
         kSignature + "  return texRECT(heatTexture, coords) + r.x * diffuse(heatTexture, coords, float2(1, 0))\n"
                      "       + r.y * diffuse(heatTexture, coords, float2(0, 1));\n}\n",
     referenceStep, 23},
    {"a loop over the neighbours from an offset array",
     "static const float2 offsets[4] = {float2(-1, 0), float2(1, 0), float2(0, -1), float2(0, 1)};\n" + kSignature +
         "  float4 c = texRECT(heatTexture, coords);\n  float4 sum = c;\n"
         "  for (int i = 0; i < 4; i++) {\n"
         "    float w = i < 2 ? r.x : r.y;\n"
         "    sum += w * (texRECT(heatTexture, coords + offsets[i]) - c);\n  }\n  return sum;\n}\n",
     referenceStep, 27},
    {"a cold boundary written with if",
     kSignature + "  float4 c = texRECT(heatTexture, coords);\n"
                  "  float4 left = texRECT(heatTexture, coords - float2(1, 0));\n"
                  "  float4 right = texRECT(heatTexture, coords + float2(1, 0));\n"
                  "  float4 down = texRECT(heatTexture, coords - float2(0, 1));\n"
                  "  float4 up = texRECT(heatTexture, coords + float2(0, 1));\n"
                  "  float2 size = 1 / invGridSize;\n"
                  "  if (coords.x < 1) left = 0;\n  if (coords.x > size.x - 1) right = 0;\n"
                  "  if (coords.y < 1) down = 0;\n  if (coords.y > size.y - 1) up = 0;\n"
                  "  return c + r.x * (left + right - 2 * c) + r.y * (down + up - 2 * c);\n}\n",
     coldStep, 37},
    {"a nine-point stencil from a weight array in nested loops",
     "static const float weights[3][3] = {{1, 4, 1}, {4, -20, 4}, {1, 4, 1}};\n"
     "float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture, uniform float2 invGridSize,\n"
     "            uniform float timestep) : COLOR {\n"
     "  float4 sum = 0;\n"
     "  for (int y = -1; y <= 1; y++)\n"
     "    for (int x = -1; x <= 1; x++)\n"
     "      sum += weights[y + 1][x + 1] * texRECT(heatTexture, coords + float2(x, y));\n"
     "  return texRECT(heatTexture, coords) + 0.02 * sum;\n}\n",
     ninePointStep, 27},
};

class ConstructHeatVariants : public FloatTargetTest {};

TEST_F(ConstructHeatVariants, EachStepMatchesItsReference) {
    if (IsSkipped() || HasFatalFailure()) return;
    heatref::Grid in = field();
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.what);
        Program p = compileProgram(v.source);
        ASSERT_EQ(p.error, "") << v.source;
        EXPECT_LE(p.stats.instructions, v.handWritten * 11 / 10) << p.text;
        cgtest::ArbRun run;
        run.width = kWidth;
        run.height = kHeight;
        run.texcoord[0] = {{0, 0, 0, 1}, {float(kWidth), 0, 0, 0}, {0, float(kHeight), 0, 0}};
        for (const cgc::ParameterInfo& param : p.parameters) {
            if (param.kind == cgc::ParameterInfo::Sampler) {
                cgtest::Texture t;
                t.unit = param.slot;
                t.target = GL_TEXTURE_RECTANGLE_ARB;
                t.width = kWidth;
                t.height = kHeight;
                t.rgba = in.rgba;
                run.textures.push_back(t);
                continue;
            }
            if (run.locals.size() <= std::size_t(param.slot)) run.locals.resize(std::size_t(param.slot) + 1);
            if (param.name == "invGridSize") run.locals[std::size_t(param.slot)] = {1.0f / kWidth, 1.0f / kHeight, 0, 0};
            if (param.name == "timestep") run.locals[std::size_t(param.slot)] = {kTimestep, 0, 0, 0};
        }
        cgtest::ArbResult r = cgtest::runArb(p.text, run);
        ASSERT_TRUE(r.loaded) << r.error << "\n" << p.text;
        heatref::Grid want = v.reference(in);
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 4; ++c) {
                    float got = r.pixel(x, y)[std::size_t(c)], expected = want.at(x, y, c);
                    if (std::fabs(got - expected) > 1e-5f * (1 + std::fabs(expected)) && wrong++ < 5)
                        ADD_FAILURE() << "cell (" << x << ", " << y << ") channel " << c << ": " << got << ", expected "
                                      << expected;
                }
        EXPECT_EQ(wrong, 0);
    }
}

}  // namespace
