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

// Full screen is the screen's size; where freeglut puts the window's origin
// without a window manager is its own affair.
bool fillsScreen(AppRun& app) {
    int w = 0, h = 0;
    sscanf(runCommand("xdpyinfo | grep dimensions").c_str(), " dimensions: %dx%d", &w, &h);
    return waitUntil(
        [&] {
            const WindowGeometry g = app.geometry();
            return w > 0 && g.width == w && g.height == h;
        },
        5);
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
