// The real program in a real X server: start-up lines, the window, keys, and
// every way out.
#include "tests/support/AppRun.h"
#include "tests/support/GLTest.h"

#include <GL/glew.h>

namespace {

using WindowTest = GLTest;  // the test's own context tells what the program should print

bool geometryIs(AppRun& app, WindowGeometry want) {
    return waitUntil(
        [&] {
            const WindowGeometry g = app.geometry();
            return g.x == want.x && g.y == want.y && g.width == want.width && g.height == want.height;
        },
        5);
}

std::string describe(const WindowGeometry& g) {
    return std::to_string(g.width) + "x" + std::to_string(g.height) + " at (" + std::to_string(g.x) + ", " +
           std::to_string(g.y) + ")";
}

// Full screen covers the screen exactly, also where no window manager
// places the window.
bool fillsScreen(AppRun& app) {
    int w = 0, h = 0;
    sscanf(runCommand("xdpyinfo | grep dimensions").c_str(), " dimensions: %dx%d", &w, &h);
    return w > 0 && geometryIs(app, {0, 0, w, h});
}

TEST_F(WindowTest, startupPrintsContextStringsThenBannerLineForLine) {
    AppRun app;
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    sleepSeconds(1.0);  // some frames, so per-frame error lines would show
    app.key("Escape");
    ASSERT_EQ(app.waitForExit(10), 0) << app.output();

    auto str = [](GLenum name) { return std::string(reinterpret_cast<const char*>(glGetString(name))); };
    const std::vector<std::string> expected = {
        "OpenGL version: " + str(GL_VERSION),
        "OpenGL vendor: " + str(GL_VENDOR),
        "OpenGL renderer: " + str(GL_RENDERER),
        "",
        "The Heat Equation in 2D on the GPU",
        "discretized using centered finite differences in space and forward Euler in time",
        "The heat2d developers [heat2d-dev@lists.example.org]",
        "",
        "click left mouse button and move to apply heat!",
    };
    EXPECT_EQ(app.outputLines(), expected) << app.output();
}

TEST_F(WindowTest, startupLinesReachAPipeWhileTheProgramRuns) {
    // Standard output is a pipe here and nothing wraps the program, so only
    // its own line buffering gets these out before it ends.
    AppRun app;
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    EXPECT_TRUE(app.waitForOutput("OpenGL version: ", 5)) << app.output();
    EXPECT_TRUE(app.waitForOutput("\nclick left mouse button and move to apply heat!\n", 5)) << app.output();
    EXPECT_TRUE(app.running());
    app.key("Escape");
    EXPECT_EQ(app.waitForExit(10), 0) << app.output();
}

TEST_F(WindowTest, windowIsTitledAndPlacedAtStart) {
    AppRun app;
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    EXPECT_TRUE(geometryIs(app, {200, 100, 640, 480})) << describe(app.geometry());
    EXPECT_NE(runCommand("xwininfo -id " + std::to_string(app.window())).find("\"2D Heat Equation\""),
              std::string::npos);
}

TEST_F(WindowTest, fTogglesFullScreenAndBackTo640x480At100_100) {
    AppRun app;
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    ASSERT_TRUE(geometryIs(app, {200, 100, 640, 480})) << describe(app.geometry());
    app.key("f");
    EXPECT_TRUE(fillsScreen(app)) << describe(app.geometry());
    app.key("f");
    EXPECT_TRUE(geometryIs(app, {100, 100, 640, 480})) << describe(app.geometry());
    app.key("f");
    EXPECT_TRUE(fillsScreen(app)) << describe(app.geometry());
    EXPECT_TRUE(app.running());
}

TEST_F(WindowTest, leavingFullScreenGives640x480At100_100WhateverCameBefore) {
    // xdotool's key delay, in ms, between the presses of one burst: 0 puts
    // several presses into one frame, 40 is a held key's repeat.
    const struct {
        int resizeTo;  // the window's width and height before the first press; 0 leaves it
        int presses;
        int delayMs;
    } cases[] = {
        {0, 2, 400}, {500, 2, 400}, {900, 2, 400}, {0, 2, 0},  {300, 3, 0},  {0, 4, 0},
        {0, 5, 40},  {500, 6, 40},  {0, 7, 15},    {0, 10, 0}, {700, 11, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.presses) + " presses " + std::to_string(c.delayMs) + " ms apart, size " +
                     std::to_string(c.resizeTo));
        AppRun app;
        ASSERT_NE(app.waitForWindow(), 0u) << app.output();
        const std::string w = std::to_string(app.window());
        if (c.resizeTo) {
            runCommand("xdotool windowsize --sync " + w + " " + std::to_string(c.resizeTo) + " " +
                       std::to_string(c.resizeTo * 3 / 4));
            ASSERT_TRUE(geometryIs(app, {200, 100, c.resizeTo, c.resizeTo * 3 / 4})) << describe(app.geometry());
        }
        std::string keys;
        for (int i = 0; i < c.presses; ++i) keys += " f";
        app.key("--delay " + std::to_string(c.delayMs) + keys);
        if (c.presses % 2) EXPECT_TRUE(fillsScreen(app)) << describe(app.geometry());
        else EXPECT_TRUE(geometryIs(app, {100, 100, 640, 480})) << describe(app.geometry());
        // The program's flag and the window still agree: one more press flips it.
        app.key("f");
        if (c.presses % 2) EXPECT_TRUE(geometryIs(app, {100, 100, 640, 480})) << describe(app.geometry());
        else EXPECT_TRUE(fillsScreen(app)) << describe(app.geometry());
        EXPECT_TRUE(app.running());
    }
}

TEST_F(WindowTest, otherKeysChangeNothing) {
    AppRun app;
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    for (const char* key : {"F", "shift+f", "a", "q", "space", "Return", "Up", "Left", "F1", "F11", "Home"})
        app.key(key);
    sleepSeconds(0.5);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(geometryIs(app, {200, 100, 640, 480})) << describe(app.geometry());
    // Had any of them toggled the full-screen flag, this "f" would leave full screen.
    app.key("f");
    EXPECT_TRUE(fillsScreen(app)) << describe(app.geometry());
}

TEST_F(WindowTest, everyWayOutEndsWithStatusZero) {
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "close request");
        AppRun app;
        ASSERT_NE(app.waitForWindow(), 0u) << app.output();
        sleepSeconds(0.5);
        if (escape) app.key("Escape");
        else app.requestClose();
        EXPECT_EQ(app.waitForExit(10), 0) << "signal " << app.lastSignal() << "\n" << app.output();
    }
}

}  // namespace
