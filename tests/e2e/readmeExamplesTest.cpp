// The README's examples under "Editing HeatShader.cg", taken from the README
// itself, each run as HeatShader.cg in the real program: no error line, and
// the window shows a field. A uniform's initial value colours it, whether
// the program is given as source or as heat2d-cg's assembly of it.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> readmeExamples() {
    std::ifstream in(HEAT2D_SOURCE_DIR "/README.md");
    std::vector<std::string> examples;
    bool inSection = false, inExample = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## Editing HeatShader.cg";
        if (!inSection) continue;
        if (inExample && line == "```") {
            inExample = false;
        } else if (inExample) {
            examples.back() += line + "\n";
        } else if (line == "```c") {
            inExample = true;
            examples.emplace_back();
        }
    }
    return examples;
}

bool errorLine(const std::string& line) { return line.find("ERROR") != std::string::npos; }

// Pixels of heat: red, as the field shows it; the frame-rate text is green.
int heatPixels(const Screenshot& s) {
    int n = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) n += s.at(x, y)[0] > 30;
    return n;
}

// The first moments show the face before a blur spreads it thin: looks
// until a field shows, or a second has passed.
int heatShown(AppRun& app) {
    int most = 0;
    for (int look = 0; look < 10 && most < 200; ++look) most = std::max(most, heatPixels(app.screenshot()));
    return most;
}

TEST(ReadmeExamples, eachIsACompleteHeatShaderThatShowsAField) {
    const std::vector<std::string> examples = readmeExamples();
    ASSERT_GE(examples.size(), 5u) << "the README's examples were not found";
    for (const std::string& example : examples) {
        SCOPED_TRACE(example);
        for (const char* parameter : {"samplerRECT heatTexture", "float2 invGridSize", "float timestep"})
            EXPECT_NE(example.find(parameter), std::string::npos) << "does not declare " << parameter;
        AppRun::Options options;
        options.shader = AppRun::Shader::Custom;
        options.shaderText = example;
        AppRun app(options);
        ASSERT_NE(app.waitForWindow(), 0u) << app.output();
        EXPECT_GT(heatShown(app), 200) << "no field shows";
        app.key("Escape");
        ASSERT_EQ(app.waitForExit(10), 0) << app.output();
        for (const std::string& line : app.outputLines()) EXPECT_FALSE(errorLine(line)) << line;
    }
}

const char kTinted[] =
    "uniform float3 tint = float3(1, 0.5, 0);\n"
    "float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture,\n"
    "            uniform float2 invGridSize, uniform float timestep) : COLOR\n"
    "{\n"
    "    return float4(texRECT(heatTexture, coords).r * tint, 1);\n"
    "}\n";

TEST(UniformInitialValue, tintsTheFieldFromSourceAndFromItsAssembly) {
    const std::string source = ::testing::TempDir() + "tinted-" + std::to_string(getpid()) + ".cg";
    std::ofstream(source) << kTinted;
    int status = -1;
    const std::string assembly = runCommand("'" HEAT2D_CG "' '" + source + "'", &status);
    ASSERT_EQ(status, 0) << assembly;
    ASSERT_NE(assembly.find("= tint (float3) = 1, 0.5, 0\n"), std::string::npos) << assembly;
    for (const std::string& text : {std::string(kTinted), assembly}) {
        SCOPED_TRACE(text);
        AppRun::Options options;
        options.shader = AppRun::Shader::Custom;
        options.shaderText = text;
        AppRun app(options);
        ASSERT_NE(app.waitForWindow(), 0u) << app.output();
        sleepSeconds(0.5);
        const Screenshot shot = app.screenshot();
        app.key("Escape");
        ASSERT_EQ(app.waitForExit(10), 0) << app.output();
        ASSERT_GT(shot.width, 300);
        // The face's left eye, cell (29, 35) in a 640 x 480 window: orange.
        const unsigned char* eye = shot.at(295, 213);
        EXPECT_GT(eye[0], 200);
        EXPECT_NEAR(eye[1], eye[0] / 2, 12);
        EXPECT_EQ(eye[2], 0);
        for (const std::string& line : app.outputLines()) EXPECT_FALSE(errorLine(line)) << line;
    }
    std::remove(source.c_str());
}

}  // namespace
