// Editing HeatShader.cg while the real program runs: saves made by real
// tools through the build/ link, judged by the program's lines and by what
// its window shows. Each run has its own copy of the shader and its own link.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

const char kReloaded[] = "HeatShader\\.cg reloaded";

// The field as it is, green set to LEVEL and blue to 1: plain on screen,
// and the face's red stays exactly as stamped.
std::string holdShader(double level) {
    return "#define LEVEL " + std::to_string(level) + R"(
float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture,
            uniform float2 invGridSize, uniform float timestep) : COLOR
{
    float4 c = texRECT(heatTexture, coords);
    return float4(c.r, LEVEL, 1, c.a);
}
)";
}

// Green climbs every frame and wraps: a running program changes the picture.
const std::string kGreenRising = replaceAll(holdShader(0), "LEVEL, 1,", "frac(c.g + 0.013), 0,");

// Window pixels (640 x 480): a cell far from the face and the texts, the
// face's left eye, and a cell of the stroke the tests paint.
const int kBackground[2] = {100, 100}, kEye[2] = {295, 213}, kStroke[2] = {320, 400};

int pixel(const Screenshot& s, const int* at, int channel) {
    return s.width > at[0] && s.height > at[1] ? s.at(at[0], at[1])[channel] : -1;
}

// The error text is cyan, in the lower-left quarter; the fields it is
// looked for on are never green and blue at once.
int errorTextPixels(const Screenshot& s) {
    int n = 0;
    for (int y = std::max(0, s.height - 50); y < s.height; ++y)
        for (int x = 0; x < s.width / 2; ++x) {
            const unsigned char* p = s.at(x, y);
            n += p[0] < 60 && p[1] > 150 && p[2] > 150;
        }
    return n;
}

class LiveEdit : public ::testing::Test {
protected:
    void start(const std::string& shader) {
        app = std::make_unique<AppRun>(AppRun::Options{AppRun::Shader::Linked, shader, {}, {}, {}});
        ASSERT_NE(app->waitForWindow(), 0u) << app->output();
        ASSERT_TRUE(waitUntil([&] { return app->screenshot().width == 640; }, 10));
    }
    void TearDown() override {
        if (!app) return;
        EXPECT_TRUE(app->running()) << app->output();
        EXPECT_EQ(lines("OpenGL ERROR.*"), 0) << app->output();
        app->key("Escape");
        EXPECT_EQ(app->waitForExit(10), 0) << app->output();
    }
    int lines(const std::string& pattern) {
        int n = 0;
        for (const std::string& line : app->outputLines()) n += std::regex_match(line, std::regex(pattern));
        return n;
    }
    // In the folder that holds build/ and shaders/.
    void shell(const std::string& command) {
        int status = 0;
        const std::string out = runCommand("cd '" + app->workDir() + "/..' && (" + command + ") 2>&1", &status);
        ASSERT_EQ(status, 0) << command << "\n" << out;
    }
    bool shows(const int* at, int channel, int value, double seconds = 2) {
        return waitUntil([&] { return std::abs(pixel(app->screenshot(), at, channel) - value) <= 3; }, seconds);
    }
    bool keepsChanging() {
        const int green = pixel(app->screenshot(), kBackground, 1);
        return waitUntil([&] { return pixel(app->screenshot(), kBackground, 1) != green; }, 2);
    }
    std::unique_ptr<AppRun> app;
};

TEST_F(LiveEdit, everyWayOfSavingReloadsOnceAndShowsWithinTwoSeconds) {
    ASSERT_NO_FATAL_FAILURE(start(holdShader(0)));
    // NEW is the save's level; new.cg holds the shader at that level.
    const std::string level = "'s/^#define LEVEL .*/#define LEVEL NEW/' ";
    const std::string vim = "vim -u NONE -i NONE -N -es -c '%s/^#define LEVEL .*/#define LEVEL NEW/' ";
    const struct {
        const char* how;
        std::string command;
    } saves[] = {
        {"in place", "cat new.cg > shaders/HeatShader.cg"},
        {"in place through the link", "cat new.cg > build/HeatShader.cg"},
        // Held open past the quiet time of a delete.
        {"in place in two writes", "(head -c 60 new.cg; sleep 0.5; tail -c +61 new.cg) > shaders/HeatShader.cg"},
        {"renamed over", "cp new.cg shaders/.tmp && mv shaders/.tmp shaders/HeatShader.cg"},
        {"sed -i", "sed -i " + level + "shaders/HeatShader.cg"},
        {"sed -i through the link", "sed -i --follow-symlinks " + level + "build/HeatShader.cg"},
        {"vim through the link", vim + "-c wq build/HeatShader.cg"},
        {"vim renaming a new file in", vim + "-c 'set backupcopy=no' -c wq shaders/HeatShader.cg"},
        {"deleted and created", "rm shaders/HeatShader.cg && cat new.cg > shaders/HeatShader.cg"},
        // Last: from here on build/ holds a file of its own.
        {"sed -i replacing the link", "sed -i " + level + "build/HeatShader.cg"},
    };
    for (const auto& save : saves) {
        SCOPED_TRACE(save.how);
        const double green = 0.1 + 0.08 * double(&save - saves);
        const int before = lines(kReloaded);
        std::ofstream(app->workDir() + "/../new.cg") << holdShader(green);
        shell(replaceAll(save.command, "NEW", std::to_string(green)));
        EXPECT_TRUE(shows(kBackground, 1, int(green * 255 + 0.5))) << app->output();
        sleepSeconds(0.4);  // past the watch's quiet time: a second reload would be in
        EXPECT_EQ(lines(kReloaded), before + 1) << app->output();
    }
    EXPECT_GT(pixel(app->screenshot(), kEye, 0), 200) << "the face, kept through every reload";
    EXPECT_EQ(lines(".*ERROR.*"), 0) << app->output();
}

TEST_F(LiveEdit, aBadSaveIsOneLineAndTextInTheWindowWhileTheLastProgramRunsOn) {
    ASSERT_NO_FATAL_FAILURE(start(kGreenRising));
    ASSERT_TRUE(keepsChanging());
    EXPECT_EQ(errorTextPixels(app->screenshot()), 0);
    const std::string shader = "shaders/HeatShader.cg";
    const struct {
        const char* what;
        std::string command;
        const char* line;
    } bads[] = {
        {"a syntax error", "sed -i 's/c.a);/c.a)/' " + shader, "Cg ERROR: HeatShader\\.cg:[0-9]+:[0-9]+: error: .*';'.*"},
        {"a parameter heat2d sets, renamed", "sed -i 's/timestep/stepSize/' " + shader,
         "Cg ERROR: HeatShader\\.cg: error: .*'timestep'; heat2d sets this parameter: 'uniform float timestep'"},
        {"the file deleted", "rm " + shader, "Cg ERROR: cannot read 'HeatShader\\.cg' in /.*: No such file or directory"},
    };
    for (const auto& bad : bads) {
        SCOPED_TRACE(bad.what);
        const int count = int(&bad - bads);
        shell(bad.command);
        EXPECT_TRUE(waitUntil([&] { return lines(bad.line) == 1; }, 2)) << app->output();
        EXPECT_TRUE(waitUntil([&] { return errorTextPixels(app->screenshot()) > 30; }, 2));
        EXPECT_TRUE(keepsChanging()) << "the last good program stopped";
        sleepSeconds(0.4);
        EXPECT_EQ(lines("Cg ERROR: .*"), count + 1) << app->output();

        // The next good save takes the text away.
        std::ofstream(app->linkedShaderPath()) << kGreenRising;
        EXPECT_TRUE(waitUntil([&] { return lines(kReloaded) == count + 1; }, 2)) << app->output();
        EXPECT_TRUE(waitUntil([&] { return errorTextPixels(app->screenshot()) == 0; }, 2));
    }
}

TEST_F(LiveEdit, aFixAfterABadStartStartsTheFieldAndRStartsItOver) {
    ASSERT_NO_FATAL_FAILURE(start(replaceAll(holdShader(0), "float4 c ", "float4 c; ")));
    ASSERT_TRUE(app->waitForOutput("Cg ERROR: HeatShader.cg:", 5)) << app->output();
    EXPECT_TRUE(waitUntil([&] { return errorTextPixels(app->screenshot()) > 30; }, 2));
    EXPECT_EQ(pixel(app->screenshot(), kEye, 0), 0);

    std::ofstream(app->linkedShaderPath()) << holdShader(0);
    EXPECT_TRUE(shows(kBackground, 2, 255)) << "the step runs\n" << app->output();
    EXPECT_TRUE(waitUntil([&] { return pixel(app->screenshot(), kEye, 0) > 200; }, 2)) << "the face";
    EXPECT_EQ(errorTextPixels(app->screenshot()), 0);

    // The field holds still: the stroke stays until r, which clears it and
    // stamps the face again.
    std::vector<std::pair<int, int>> stroke;
    for (int x = 100; x <= 540; x += 4) stroke.push_back({x, kStroke[1]});
    app->drag(stroke);
    ASSERT_TRUE(waitUntil([&] { return pixel(app->screenshot(), kStroke, 0) > 200; }, 2));
    app->key("r");
    EXPECT_TRUE(waitUntil(
        [&] {
            const Screenshot s = app->screenshot();
            return pixel(s, kEye, 0) > 200 && pixel(s, kStroke, 0) == 0;
        },
        0.5));
}

TEST_F(LiveEdit, fiftySavesInFiveSecondsKeepMemoryAndEndOnTheLastSave) {
    ASSERT_NO_FATAL_FAILURE(start(holdShader(0)));
    auto residentKiB = [&] {
        std::ifstream status("/proc/" + std::to_string(app->pid()) + "/status");
        std::string key;
        long kib = -1;
        while (status >> key && key != "VmRSS:") {}
        status >> kib;
        return kib;
    };
    sleepSeconds(0.5);
    const long before = residentKiB();
    const std::string file = app->linkedShaderPath();
    for (int i = 1; i <= 50; ++i) {
        // Alternately in place and renamed over.
        std::ofstream(i % 2 ? file : file + ".new") << holdShader(i % 2 ? 0.2 : 0.6);
        if (i % 2 == 0) std::rename((file + ".new").c_str(), file.c_str());
        sleepSeconds(0.1);
    }
    EXPECT_TRUE(shows(kBackground, 1, 153));
    sleepSeconds(0.4);
    const int reloads = lines(kReloaded);
    EXPECT_GE(reloads, 10);
    EXPECT_LE(reloads, 50);
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(residentKiB() - before, 20 * 1024) << "from " << before << " KiB";
#endif  // the sanitizers hold freed memory back for a while; their leak check judges this build at exit
    EXPECT_EQ(lines(".*ERROR.*"), 0) << app->output();
}

}  // namespace
