// Window pixels to grid cells, and which mouse events stamp.
#include "app/app.h"
#include "app/globals.h"
#include "heat/heat.h"
#include "tests/support/GLTest.h"

#include <GL/freeglut.h>

#include <climits>

namespace {

struct Mapping {
    int windowWidth, windowHeight;
    int x, y;
    int cellX, cellY;
};

TEST(PixelToCell, mapsThroughTheCurrentWindowSize) {
    const Mapping table[] = {
        // corners and centre
        {640, 480, 0, 0, 0, 63},
        {640, 480, 639, 479, 63, 0},
        {640, 480, 320, 240, 32, 31},
        {640, 480, 639, 0, 63, 63},
        {640, 480, 0, 479, 0, 0},
        {1280, 960, 0, 0, 0, 63},
        {1280, 960, 1279, 959, 63, 0},
        {1280, 960, 640, 480, 32, 31},
        // cell edges: 10 pixels across, 7.5 down
        {640, 480, 9, 472, 0, 0},
        {640, 480, 10, 471, 1, 1},
        // outside the window: rounded down, no clamping, so even a pixel
        // less than a cell beyond the left or bottom edge is off the grid
        {640, 480, -1, 479, -1, 0},
        {640, 480, -8, 479, -1, 0},
        {640, 480, -10, 479, -1, 0},
        {640, 480, -11, 479, -2, 0},
        {640, 480, 0, 480, 0, -1},
        {640, 480, 0, 487, 0, -2},
        {640, 480, 640, 0, 64, 63},
        {640, 480, 0, -1, 0, 64},
        {640, 480, -700, -100, -70, 77},
        // windows smaller than the grid
        {32, 32, 31, 0, 62, 62},
        {1, 1, 0, 0, 0, 0},
        // far beyond int's reach saturates rather than wrapping
        {1, 1, INT_MAX, INT_MIN, INT_MAX, INT_MAX},
        {1, 1, INT_MIN, INT_MAX, INT_MIN, INT_MIN},
    };
    for (const Mapping& m : table) {
        SCOPED_TRACE(testing::Message() << m.windowWidth << "x" << m.windowHeight << " pixel (" << m.x << ", "
                                        << m.y << ")");
        windowWidth = m.windowWidth;
        windowHeight = m.windowHeight;
        int cellX = 12345, cellY = 12345;
        ASSERT_TRUE(cellForPixel(m.x, m.y, &cellX, &cellY));
        EXPECT_EQ(cellX, m.cellX);
        EXPECT_EQ(cellY, m.cellY);
    }
}

TEST(PixelToCell, pixelsInsideTheWindowMapInsideTheGridAndNoOthers) {
    const std::pair<int, int> sizes[] = {{640, 480}, {1280, 960}, {32, 32}, {100, 37}, {1, 1}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        const int w = windowWidth = size.first;
        const int h = windowHeight = size.second;
        const auto check = [&](int x, int y) {
            int cellX = 0, cellY = 0;
            ASSERT_TRUE(cellForPixel(x, y, &cellX, &cellY));
            const bool onGrid = cellX >= 0 && cellX < gridWidth && cellY >= 0 && cellY < gridHeight;
            EXPECT_EQ(onGrid, x >= 0 && x < w && y >= 0 && y < h) << "pixel (" << x << ", " << y << ")";
        };
        // Every column along rows across and beside the window, and every
        // row along columns across and beside it.
        for (int x = -12; x < w + 12; ++x)
            for (int y : {-12, -1, 0, h / 2, h - 1, h, h + 11}) check(x, y);
        for (int y = -12; y < h + 12; ++y)
            for (int x : {-12, -1, 0, w / 2, w - 1, w, w + 11}) check(x, y);
    }
}

TEST(PixelToCell, windowWithoutAreaNamesNoCell) {
    for (const auto& size : {std::pair<int, int>{640, 0}, {0, 480}, {0, 0}}) {
        windowWidth = size.first;
        windowHeight = size.second;
        int cellX = 7, cellY = 7;
        EXPECT_FALSE(cellForPixel(10, 10, &cellX, &cellY));
        EXPECT_EQ(cellX, 7);
    }
}

// The buffers stay uncreated here, so a stamp is only its flip of
// currentBuffer: that is what counts stamps. The first frame's set-up is
// taken as done unless a test says otherwise.
class MouseEvents : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        buffersInitialized = true;
    }
};

struct Event {
    enum Kind { Press, Release, Move } kind;
    int button;
};

struct MouseCase {
    const char* name;
    std::vector<Event> events;
    int counterAfter;
    int stamps;
};

TEST_F(MouseEvents, stampAndCountAsTheButtonsSay) {
    const int L = GLUT_LEFT_BUTTON, M = GLUT_MIDDLE_BUTTON, R = GLUT_RIGHT_BUTTON;
    const MouseCase cases[] = {
        {"a press stamps once", {{Event::Press, L}}, 1, 1},
        {"a release paints nothing", {{Event::Press, L}, {Event::Release, L}}, 0, 1},
        {"a drag stamps every motion", {{Event::Press, L}, {Event::Move, 0}, {Event::Move, 0}, {Event::Release, L}}, 0, 3},
        {"motion without a press paints nothing", {{Event::Move, 0}, {Event::Move, 0}}, 0, 0},
        {"middle and right buttons are ignored",
         {{Event::Press, M}, {Event::Release, M}, {Event::Press, R}, {Event::Move, 0}, {Event::Release, R}}, 0, 0},
        {"press, release, press", {{Event::Press, L}, {Event::Release, L}, {Event::Press, L}, {Event::Move, 0}}, 1, 3},
        {"a release without a press leaves -1 and motion paints",
         {{Event::Release, L}, {Event::Move, 0}, {Event::Move, 0}}, -1, 2},
        {"a later press brings the counter back to 0 and stops painting",
         {{Event::Release, L}, {Event::Press, L}, {Event::Move, 0}}, 0, 1},
    };
    for (const MouseCase& c : cases) {
        SCOPED_TRACE(c.name);
        windowWidth = 640;
        windowHeight = 480;
        mouseButtonsDown = 0;
        currentBuffer = 0;
        int flips = 0;
        for (const Event& e : c.events) {
            const int before = currentBuffer;
            if (e.kind == Event::Press) mouse(e.button, GLUT_DOWN, 320, 240);
            if (e.kind == Event::Release) mouse(e.button, GLUT_UP, 320, 240);
            if (e.kind == Event::Move) motion(330, 250);
            ASSERT_TRUE(currentBuffer == before || currentBuffer == 1 - before);
            flips += currentBuffer != before;
        }
        EXPECT_EQ(mouseButtonsDown, c.counterAfter);
        EXPECT_EQ(flips, c.stamps);
    }
}

TEST_F(MouseEvents, beforeTheFirstFrameCountButStampNothingAndCallNoRuntime) {
    buffersInitialized = false;
    windowWidth = 640;
    windowHeight = 480;
    mouseButtonsDown = 0;
    currentBuffer = 0;
    cgGetError();  // whatever earlier tests left pending
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 320, 240);
    motion(330, 250);
    EXPECT_EQ(mouseButtonsDown, 1);
    mouse(GLUT_LEFT_BUTTON, GLUT_UP, 330, 250);
    EXPECT_EQ(mouseButtonsDown, 0);
    EXPECT_EQ(currentBuffer, 0);
    // A stamp now would enable the still unknown profile: an error the
    // runtime keeps in place of the real one from loading the shader.
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);

    // Once the first frame has run, the same events stamp.
    buffersInitialized = true;
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 320, 240);
    EXPECT_EQ(currentBuffer, 1);
}

TEST_F(MouseEvents, windowWithoutAreaCountsButStampsNothing) {
    windowWidth = 640;
    windowHeight = 0;
    mouseButtonsDown = 0;
    currentBuffer = 0;
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    motion(20, 20);
    EXPECT_EQ(mouseButtonsDown, 1);
    EXPECT_EQ(currentBuffer, 0);
    mouse(GLUT_LEFT_BUTTON, GLUT_UP, 10, 10);
    EXPECT_EQ(mouseButtonsDown, 0);
}

}  // namespace
