// Editing HeatShader.cg while the real program runs: saves made by real
// tools through the build/ link, judged by the program's lines and by what
// its window shows. Each run has its own copy of the shader and its own link.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

int linesMatching(AppRun& app, const std::string& pattern) {
    int n = 0;
    for (const std::string& line : app.outputLines()) n += std::regex_match(line, std::regex(pattern));
    return n;
}

const char kReloaded[] = "HeatShader\\.cg reloaded.*";

// The field as it was, green set to LEVEL and blue to 1: plain on screen,
// and the red the face was stamped with stays exactly as it is.
std::string holdShader(double level) {
    return "#define LEVEL " + std::to_string(level) + "\n" + R"(
float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture,
            uniform float2 invGridSize, uniform float timestep) : COLOR
{
    float4 c = texRECT(heatTexture, coords);
    return float4(c.r, LEVEL, 1, c.a);
}
)";
}

// Green climbs a step every frame and wraps: a program that runs changes
// the picture all the time.
const std::string kGreenRising = R"(
float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture,
            uniform float2 invGridSize, uniform float timestep) : COLOR
{
    float4 c = texRECT(heatTexture, coords);
    return float4(c.r, frac(c.g + 0.013), 0, c.a);
}
)";

// Window pixels (640 x 480): a cell far from the face and the texts, and
// the face's left eye.
const int kBackground[2] = {100, 100};
const int kEye[2] = {295, 213};
const int kStroke[2] = {320, 400};

int channel(const Screenshot& s, const int* at, int c) {
    return s.width > at[0] && s.height > at[1] ? s.at(at[0], at[1])[c] : -1;
}

// Pixels of the error text: it is cyan, over a field the shaders here leave
// without blue, in the lower-left quarter clear of the frame-rate readout.
int errorTextPixels(const Screenshot& s) {
    int n = 0;
    for (int y = s.height - 50; y >= 0 && y < s.height; ++y)
        for (int x = 0; x < s.width / 2; ++x) n += s.at(x, y)[2] > 150 && s.at(x, y)[0] < 60;
    return n;
}

bool changesWhileWatched(AppRun& app) {
    const Screenshot first = app.screenshot();
    return waitUntil([&] { return channel(app.screenshot(), kBackground, 1) != channel(first, kBackground, 1); }, 2);
}

class LiveEdit : public ::testing::Test {
protected:
    void start(const std::string& shader) {
        AppRun::Options options;
        options.shader = AppRun::Shader::Linked;
        options.shaderText = shader;
        app = std::make_unique<AppRun>(options);
        ASSERT_NE(app->waitForWindow(), 0u) << app->output();
        ASSERT_TRUE(waitUntil([&] { return app->screenshot().width == 640; }, 10));
    }
    void TearDown() override {
        if (!app) return;
        EXPECT_TRUE(app->running()) << app->output();
        EXPECT_EQ(linesMatching(*app, "OpenGL ERROR.*"), 0) << app->output();
        app->key("Escape");
        EXPECT_EQ(app->waitForExit(10), 0) << app->output();
    }
    // Runs a shell command in the folder that holds build/ and shaders/.
    void shell(const std::string& command) {
        int status = 0;
        const std::string out = runCommand("cd '" + app->workDir() + "/..' && (" + command + ") 2>&1", &status);
        ASSERT_EQ(status, 0) << command << "\n" << out;
    }
    void writeNew(const std::string& text) { std::ofstream(app->workDir() + "/../new.cg") << text; }
    std::unique_ptr<AppRun> app;
};

TEST_F(LiveEdit, everyWayOfSavingReloadsOnceAndShowsWithinTwoSeconds) {
    ASSERT_NO_FATAL_FAILURE(start(holdShader(0)));
    const char* sub = "'s/^#define LEVEL .*/#define LEVEL NEW/'";
    struct Save {
        const char* how;
        std::string command;  // NEW is the level; new.cg holds the shader at it
    };
    const Save saves[] = {
        {"written in place", "cat new.cg > shaders/HeatShader.cg"},
        {"written in place through the link", "cat new.cg > build/HeatShader.cg"},
        {"written in place in two writes", "(head -c 60 new.cg; sleep 0.1; tail -c +61 new.cg) > shaders/HeatShader.cg"},
        {"renamed over", "cp new.cg shaders/.tmp && mv shaders/.tmp shaders/HeatShader.cg"},
        {"sed -i", std::string("sed -i ") + sub + " shaders/HeatShader.cg"},
        {"sed -i through the link", std::string("sed -i --follow-symlinks ") + sub + " build/HeatShader.cg"},
        {"vim through the link", std::string("vim -u NONE -i NONE -N -es -c ") + "'%s/^#define LEVEL .*/#define LEVEL NEW/'" +
                                     " -c wq build/HeatShader.cg"},
        {"vim renaming a new file into place",
         "vim -u NONE -i NONE -N -es -c 'set backup backupcopy=no' -c '%s/^#define LEVEL .*/#define LEVEL NEW/' -c wq "
         "shaders/HeatShader.cg && rm -f shaders/HeatShader.cg~"},
        {"deleted and created", "rm shaders/HeatShader.cg && cat new.cg > shaders/HeatShader.cg"},
        // Last: the name in build/ is a file of its own from then on.
        {"sed -i on the link, which replaces it", std::string("sed -i ") + sub + " build/HeatShader.cg"},
    };
    for (size_t i = 0; i < std::size(saves); ++i) {
        SCOPED_TRACE(saves[i].how);
        const double level = 0.1 + 0.08 * double(i);
        const int before = linesMatching(*app, kReloaded);
        writeNew(holdShader(level));
        shell(replaceAll(saves[i].command, "NEW", std::to_string(level)));
        EXPECT_TRUE(waitUntil(
            [&] { return std::abs(channel(app->screenshot(), kBackground, 1) - int(level * 255 + 0.5)) <= 3; }, 2))
            << "green at " << channel(app->screenshot(), kBackground, 1) << "\n" << app->output();
        sleepSeconds(0.4);  // past the watch's quiet time: a second reload would be in
        EXPECT_EQ(linesMatching(*app, kReloaded), before + 1) << app->output();
    }
    const Screenshot last = app->screenshot();
    EXPECT_GT(channel(last, kEye, 0), 200) << "the face, kept through every reload";
    EXPECT_EQ(channel(last, kBackground, 2), 255);
    EXPECT_EQ(linesMatching(*app, ".*ERROR.*"), 0) << app->output();
}

TEST_F(LiveEdit, aBadSaveIsOneLineAndTextInTheWindowWhileTheLastProgramRunsOn) {
    ASSERT_NO_FATAL_FAILURE(start(kGreenRising));
    ASSERT_TRUE(changesWhileWatched(*app));
    EXPECT_EQ(errorTextPixels(app->screenshot()), 0);
    struct Bad {
        const char* what;
        std::string command;
        const char* line;
    };
    const std::string shader = "shaders/HeatShader.cg";
    const Bad bads[] = {
        {"a syntax error", "sed -i 's/c.a);/c.a)/' " + shader, "Cg ERROR: HeatShader\\.cg:[0-9]+:[0-9]+: error: .*';'.*"},
        {"a parameter heat2d sets, renamed", "sed -i 's/timestep/stepSize/' " + shader,
         "Cg ERROR: HeatShader\\.cg: error: .*'timestep'; heat2d sets this parameter: 'uniform float timestep'"},
        {"the file deleted", "rm " + shader,
         "Cg ERROR: cannot read 'HeatShader\\.cg' in /.*: No such file or directory"},
    };
    for (const Bad& bad : bads) {
        SCOPED_TRACE(bad.what);
        shell(bad.command);
        EXPECT_TRUE(waitUntil([&] { return linesMatching(*app, bad.line) == 1; }, 2)) << app->output();
        EXPECT_TRUE(waitUntil([&] { return errorTextPixels(app->screenshot()) > 30; }, 2));
        EXPECT_TRUE(changesWhileWatched(*app)) << "the last good program stopped";
        sleepSeconds(0.4);
        EXPECT_EQ(linesMatching(*app, "Cg ERROR: .*"), int(&bad - bads) + 1) << app->output();

        // Put right: the text goes with the next good save.
        std::ofstream(app->linkedShaderPath()) << kGreenRising;
        EXPECT_TRUE(waitUntil([&] { return linesMatching(*app, kReloaded) == int(&bad - bads) + 1; }, 2))
            << app->output();
        EXPECT_TRUE(waitUntil([&] { return errorTextPixels(app->screenshot()) == 0; }, 2));
    }
}

TEST_F(LiveEdit, theFirstGoodSaveAfterABadStartBringsTheFaceAndTheStepToLife) {
    ASSERT_NO_FATAL_FAILURE(start(replaceAll(installedShaderText(), "float4 c ", "float4 c; ")));
    ASSERT_TRUE(app->waitForOutput("Cg ERROR: HeatShader.cg:", 5)) << app->output();
    EXPECT_TRUE(waitUntil([&] { return errorTextPixels(app->screenshot()) > 30; }, 2));
    EXPECT_EQ(channel(app->screenshot(), kEye, 0), 0);

    std::ofstream(app->linkedShaderPath()) << kGreenRising;
    EXPECT_TRUE(waitUntil([&] { return linesMatching(*app, kReloaded) == 1; }, 2)) << app->output();
    EXPECT_TRUE(waitUntil([&] { return channel(app->screenshot(), kEye, 0) > 200; }, 2)) << "the face";
    EXPECT_TRUE(changesWhileWatched(*app)) << "the heat step runs";
    EXPECT_EQ(errorTextPixels(app->screenshot()), 0);
}

TEST_F(LiveEdit, rBringsTheFaceBackAndClearsWhatWasPainted) {
    // A field held at zero, then held as it is: the face gone, then a stroke
    // that stays exactly as painted.
    ASSERT_NO_FATAL_FAILURE(start(replaceAll(holdShader(0), "return float4(c.r,", "return float4(0,")));
    ASSERT_TRUE(waitUntil([&] { return channel(app->screenshot(), kEye, 0) == 0; }, 2));
    std::ofstream(app->linkedShaderPath()) << holdShader(0);
    ASSERT_TRUE(waitUntil([&] { return linesMatching(*app, kReloaded) == 1; }, 2)) << app->output();
    std::vector<std::pair<int, int>> stroke;
    for (int x = 100; x <= 540; x += 4) stroke.push_back({x, 400});
    app->drag(stroke);
    ASSERT_TRUE(waitUntil([&] { return channel(app->screenshot(), kStroke, 0) > 200; }, 2));
    EXPECT_EQ(channel(app->screenshot(), kEye, 0), 0);

    app->key("r");
    EXPECT_TRUE(waitUntil(
        [&] {
            const Screenshot s = app->screenshot();
            return channel(s, kEye, 0) > 200 && channel(s, kStroke, 0) == 0;
        },
        0.5))
        << "eye " << channel(app->screenshot(), kEye, 0);
}

TEST_F(LiveEdit, fiftySavesInFiveSecondsKeepMemoryAndEndOnTheLastSave) {
    ASSERT_NO_FATAL_FAILURE(start(holdShader(0)));
    auto residentKiB = [&] {
        std::ifstream in("/proc/" + std::to_string(app->pid()) + "/status");
        for (std::string key; in >> key;)
            if (key == "VmRSS:") {
                long kib = 0;
                in >> kib;
                return kib;
            }
        return -1L;
    };
    sleepSeconds(0.5);
    const long startKiB = residentKiB();
    for (int i = 1; i <= 50; ++i) {
        // Alternately in place and renamed over.
        const std::string text = holdShader(i % 2 ? 0.2 : 0.6);
        if (i % 2) {
            std::ofstream(app->linkedShaderPath()) << text;
        } else {
            std::ofstream(app->linkedShaderPath() + ".new") << text;
            std::rename((app->linkedShaderPath() + ".new").c_str(), app->linkedShaderPath().c_str());
        }
        sleepSeconds(0.1);
    }
    EXPECT_TRUE(waitUntil([&] { return std::abs(channel(app->screenshot(), kBackground, 1) - 153) <= 3; }, 2))
        << "green at " << channel(app->screenshot(), kBackground, 1);
    sleepSeconds(0.4);
    const int reloads = linesMatching(*app, kReloaded);
    EXPECT_GE(reloads, 10);
    EXPECT_LE(reloads, 50);
    EXPECT_LT(residentKiB() - startKiB, 20 * 1024) << "from " << startKiB << " KiB";
    EXPECT_EQ(linesMatching(*app, ".*ERROR.*"), 0) << app->output();
    std::printf("50 saves: %d reloads; resident %ld KiB before, %ld KiB after\n", reloads, startKiB, residentKiB());
}

}  // namespace
