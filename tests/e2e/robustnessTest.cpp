// The program keeps running, and says what went wrong, when its shader or a
// driver feature is missing.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

int linesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0;
    return n;
}

// Runs the program for a while, then ends it with Escape; returns its lines.
std::vector<std::string> runBriefly(AppRun& app) {
    EXPECT_NE(app.waitForWindow(), 0u) << app.output();
    sleepSeconds(1.5);
    EXPECT_TRUE(app.running()) << app.output();
    app.click(320, 240);  // a stamp, too, must not fault
    sleepSeconds(0.3);
    app.key("Escape");
    EXPECT_EQ(app.waitForExit(10), 0) << "signal " << app.lastSignal() << "\n" << app.output();
    return app.outputLines();
}

struct ShaderCase {
    const char* name;
    AppRun::Shader shader;
    const char* text;
    const char* errorPattern;  // the one "Cg ERROR: " line
};

TEST(BadShader, reportedOnceAndTheProgramKeepsRunning) {
    const ShaderCase cases[] = {
        {"missing", AppRun::Shader::Missing, "", "Cg ERROR: .*HeatShader\\.cg.*"},
        {"empty", AppRun::Shader::Custom, "", "Cg ERROR: .*HeatShader\\.cg.*"},
        {"syntax error", AppRun::Shader::Custom,
         "void main(float2 c : TEXCOORD0, uniform samplerRECT heatTexture,\n"
         "          out float4 color : COLOR) {\n"
         "  color = f4texRECT(heatTexture, c)\n"
         "}\n",
         "Cg ERROR: HeatShader\\.cg:4:1: .*"},
        {"undeclared name", AppRun::Shader::Custom,
         "void main(float2 c : TEXCOORD0, uniform samplerRECT heatTexture,\n"
         "          out float4 color : COLOR) {\n"
         "  color = f4texRECT(heatTextur, c);\n"
         "}\n",
         "Cg ERROR: HeatShader\\.cg:3:.*heatTextur.*"},
    };
    for (const ShaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        AppRun::Options options;
        options.shader = c.shader;
        options.shaderText = c.text;
        AppRun app(options);
        const std::vector<std::string> lines = runBriefly(app);
        const std::string all = app.output();
        ASSERT_EQ(linesStartingWith(lines, "Cg ERROR: "), 1) << all;
        EXPECT_LE(linesStartingWith(lines, "GL ERROR: "), 1) << all;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind("Cg ERROR: ", 0) != 0) continue;
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.errorPattern))) << lines[i];
            if (i > 0 && lines[i - 1].rfind("GL ERROR: ", 0) != 0) {
                EXPECT_EQ(linesStartingWith(lines, "GL ERROR: "), 0) << "a GL ERROR line must come right before";
            }
        }
    }
}

struct DriverCase {
    const char* hidden;
    std::vector<std::string> expectLines;  // each must be printed once per heat buffer
};

TEST(MissingDriverFeature, reportedAndTheProgramKeepsRunning) {
    const DriverCase cases[] = {
        {"GL_EXT_framebuffer_object", {"ERROR: FramebufferObject - GL_EXT_framebuffer_object not supported!"}},
        {"GL_EXT_packed_depth_stencil", {"ERROR: FramebufferObject - GL_EXT_packed_depth_stencil not supported!"}},
        {"GL_EXT_multi_draw_arrays", {"ERROR: FramebufferObject - GLEW_EXT_multi_draw_arrays not supported!"}},
        {"GL_ARB_fragment_program", {}},
    };
    for (const DriverCase& c : cases) {
        SCOPED_TRACE(c.hidden);
        AppRun::Options options;
        options.environment = {std::string("MESA_EXTENSION_OVERRIDE=-") + c.hidden};
        AppRun app(options);
        const std::vector<std::string> lines = runBriefly(app);
        for (const std::string& line : c.expectLines) {
            int n = 0;
            for (const std::string& l : lines) n += l == line;
            EXPECT_EQ(n, 2) << line << "\n" << app.output();
        }
    }
}

}  // namespace
