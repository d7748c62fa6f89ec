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

int redTotal(const Screenshot& s) {
    int total = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) total += s.at(x, y)[0];
    return total;
}

// What the window shows with a faulty shader.
enum class Field {
    Black,   // no red at all, not even where a click stamped
    Frozen,  // the face stays exactly as stamped; a click's heat stays too
};

struct ShaderCase {
    const char* name;
    AppRun::Shader shader;
    std::string text;
    const char* errorPattern;  // the one "Cg ERROR: " line; null for none
    Field field;
    bool errorEveryFrame;      // "OpenGL ERROR: " lines while it runs
};

// The shipped shader with each `from` replaced by its `to`; each must be there.
std::string variant(const std::vector<std::pair<std::string, std::string>>& edits) {
    std::string text = installedShaderText();
    for (const auto& edit : edits) {
        EXPECT_NE(text.find(edit.first), std::string::npos) << "the shipped shader has no " << edit.first;
        text = replaceAll(text, edit.first, edit.second);
    }
    return text;
}

TEST(BadShader, reportedOnceTheFieldAsDescribedAndTheProgramKeepsRunning) {
    const ShaderCase cases[] = {
        {"missing", AppRun::Shader::Missing, "",
         "Cg ERROR: cannot read 'HeatShader\\.cg' in (/[^/]+)+: No such file or directory", Field::Black, false},
        {"a FIFO, never written", AppRun::Shader::Fifo, "",
         "Cg ERROR: cannot read 'HeatShader\\.cg' in (/[^/]+)+: .*not a regular file.*", Field::Black, false},
        {"empty", AppRun::Shader::Custom, "", "Cg ERROR: .*HeatShader\\.cg.*", Field::Black, false},
        {"syntax error", AppRun::Shader::Custom,
         "void main(float2 c : TEXCOORD0, uniform samplerRECT heatTexture,\n"
         "          out float4 color : COLOR) {\n"
         "  color = f4texRECT(heatTexture, c)\n"
         "}\n",
         "Cg ERROR: HeatShader\\.cg:[34]:[0-9]+: .*", Field::Black, false},
        {"undeclared name", AppRun::Shader::Custom,
         "void main(float2 c : TEXCOORD0, uniform samplerRECT heatTexture,\n"
         "          out float4 color : COLOR) {\n"
         "  color = f4texRECT(heatTextur, c);\n"
         "}\n",
         "Cg ERROR: HeatShader\\.cg:3:.*heatTextur.*", Field::Black, false},
        {"no timestep", AppRun::Shader::Custom, variant({{"timestep", "stepSize"}}),
         "Cg ERROR: .*'timestep'.*heat2d sets this parameter.*'uniform float timestep'", Field::Frozen, false},
        {"no invGridSize", AppRun::Shader::Custom, variant({{"invGridSize", "cellSize"}}),
         "Cg ERROR: .*'invGridSize'.*heat2d sets this parameter.*'uniform float2 invGridSize'", Field::Black, false},
        {"no heatTexture", AppRun::Shader::Custom, variant({{"heatTexture", "field"}}),
         "Cg ERROR: .*'heatTexture'.*heat2d sets this parameter.*'uniform samplerRECT heatTexture'", Field::Black,
         false},
        {"a sampler2D heatTexture", AppRun::Shader::Custom,
         variant({{"samplerRECT heatTexture", "sampler2D heatTexture"}, {"texRECT", "tex2D"}}), nullptr, Field::Black,
         true},
        // Loads without a word: heat2d sets only timestep's first component.
        {"a float4 timestep read as .w", AppRun::Shader::Custom,
         variant({{"float timestep", "float4 timestep"}, {"DIFFUSION * timestep", "DIFFUSION * timestep.w"}}), nullptr,
         Field::Frozen, false},
        // heat2d-cg warns that o may be unassigned; heat2d says nothing.
        {"a value assigned on one path only", AppRun::Shader::Custom,
         variant({{"return c + r.x * (left + right - 2 * c) + r.y * (down + up - 2 * c);",
                   "float4 o;\n    if (timestep >= 0) o = c;\n    return o;"}}),
         nullptr, Field::Frozen, false},
        // 0 / 0 everywhere, and every later stamp adds to NaN.
        {"NaN from an unset uniform", AppRun::Shader::Custom,
         variant({{"uniform float timestep", "uniform float timestep, uniform float unset"},
                  {"return c", "return c / unset * unset"}}),
         nullptr, Field::Black, false},
    };
    for (const ShaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        AppRun::Options options;
        options.shader = c.shader;
        options.shaderText = c.text;
        AppRun app(options);
        ASSERT_NE(app.waitForWindow(), 0u) << app.output();
        sleepSeconds(1.0);
        const Screenshot first = app.screenshot();
        app.click(320, 240);  // a stamp, too, must not fault
        sleepSeconds(0.5);
        const Screenshot second = app.screenshot();
        ASSERT_TRUE(first.width > 0 && second.width == first.width) << "no screenshots";
        EXPECT_TRUE(app.running()) << app.output();
        app.key("Escape");  // never blocked, not even by the FIFO
        ASSERT_EQ(app.waitForExit(10), 0) << "signal " << app.lastSignal() << "\n" << app.output();

        const std::vector<std::string> lines = app.outputLines();
        const std::string all = app.output();
        ASSERT_EQ(linesStartingWith(lines, "Cg ERROR: "), c.errorPattern ? 1 : 0) << all;
        EXPECT_EQ(all.find("warning"), std::string::npos) << all;
        EXPECT_LE(linesStartingWith(lines, "GL ERROR: "), 1) << all;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind("Cg ERROR: ", 0) != 0) continue;
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.errorPattern))) << lines[i];
            if (i > 0 && lines[i - 1].rfind("GL ERROR: ", 0) != 0) {
                EXPECT_EQ(linesStartingWith(lines, "GL ERROR: "), 0) << "a GL ERROR line must come right before";
            }
        }
        const int frameErrors = linesStartingWith(lines, "OpenGL ERROR: ");
        if (c.errorEveryFrame) EXPECT_GT(frameErrors, 10) << all;
        else EXPECT_EQ(frameErrors, 0) << all;

        if (c.field == Field::Black) {
            EXPECT_EQ(redTotal(first), 0);
            EXPECT_EQ(redTotal(second), 0);
        } else {
            // The eye at cell (29, 35), and nothing but the clicked cell changed.
            EXPECT_GT(first.at(295, 213)[0], 100);
            int changed = 0;
            for (int y = 0; y < first.height; ++y)
                for (int x = 0; x < first.width; ++x)
                    changed += (x < 300 || x > 350 || y < 220 || y > 265) && first.at(x, y)[0] != second.at(x, y)[0];
            EXPECT_EQ(changed, 0);
            EXPECT_GT(second.at(325, 244)[0], 100) << "the click's stamp";
        }
    }
}

TEST(FrameErrorLines, setUpLineOnceThenOnePerFrameAllReachingAPipeWhileRunning) {
    // Without float textures neither heat buffer completes, and every pass
    // into one is an invalid framebuffer operation.
    AppRun::Options options;
    options.environment = {"MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_float"};
    AppRun app(options);
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    // Read while the program runs: nothing waits in a buffer for its exit.
    EXPECT_TRUE(waitUntil([&] { return linesStartingWith(app.outputLines(), "OpenGL ERROR: ") >= 5; }, 10))
        << app.output();
    // Whole lines, one write each: what has arrived always ends at a line
    // end, where a block-buffered stream would cut lines at 4 KiB.
    for (int poll = 0; poll < 20; ++poll) {
        const std::string sofar = app.output();
        ASSERT_EQ(sofar.back(), '\n') << "a read ended mid-line after " << sofar.size() << " bytes";
        sleepSeconds(0.02);
    }
    ASSERT_TRUE(app.running()) << app.output();
    const std::vector<std::string> lines = app.outputLines();
    app.key("Escape");
    EXPECT_EQ(app.waitForExit(10), 0) << app.output();

    const std::regex banner("click left mouse button and move to apply heat!");
    const std::regex status("FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT");
    const std::regex setUp("OpenGL ERROR after FBO initialization: [a-z][a-z ]+");
    const std::regex frame("OpenGL ERROR: [a-z][a-z ]+");
    // Banner, one status line per buffer, then the loader's and the set-up's
    // lines, then the frames' lines and nothing else.
    size_t i = 0;
    while (i < lines.size() && !std::regex_match(lines[i], banner)) ++i;
    ASSERT_LT(i, lines.size()) << app.output();
    ++i;
    for (int buffer = 0; buffer < 2; ++buffer, ++i)
        ASSERT_TRUE(i < lines.size() && std::regex_match(lines[i], status)) << "line " << i << "\n" << app.output();
    if (i < lines.size() && lines[i].rfind("GL ERROR: ", 0) == 0) ++i;
    ASSERT_TRUE(i < lines.size() && std::regex_match(lines[i], setUp)) << "line " << i << "\n" << app.output();
    for (++i; i < lines.size(); ++i) ASSERT_TRUE(std::regex_match(lines[i], frame)) << lines[i];
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
