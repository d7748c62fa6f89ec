// The frame-rate readout and the time step it yields.
#include "app/app.h"
#include "app/globals.h"
#include "tests/support/GLTest.h"

#include <GL/freeglut.h>

#include <climits>
#include <cstring>

namespace {

void resetReadout() {
    frameSeconds = 0;
    frameCount = 0;
    timeBase = 0;
    currentTime = 0;
    fpsText[0] = '\0';
}

struct Reading {
    int now;
    const char* fpsText;  // readout after the call
    int frameCount;
    int timeBase;
    float frameSeconds;
};

struct Sequence {
    const char* name;
    int startTimeBase;
    std::vector<Reading> readings;
};

TEST(FrameRate, measurementSequences) {
    const Sequence sequences[] = {
        {"first call measures from zero", 0, {{800, "fps: 1.25", 0, 800, 0.8f}}},
        {"first short call writes nothing", 0, {{30, "", 1, 0, 0.03f}}},
        {"50 ms leaves the readout, 51 rewrites it", 1000,
         {{1050, "", 1, 1000, 0.05f}, {1051, "fps: 39.22", 0, 1051, 0.051f}}},
        {"three calls closing at 51 ms", 1000,
         {{1017, "", 1, 1000, 0.017f}, {1034, "", 2, 1000, 0.034f}, {1051, "fps: 58.82", 0, 1051, 0.051f}}},
        {"one call over 800 ms", 5000, {{5800, "fps: 1.25", 0, 5800, 0.8f}}},
        {"sawtooth at 60 frames per second", 0,
         {{17, "", 1, 0, 0.017f},
          {33, "", 2, 0, 0.033f},
          {50, "", 3, 0, 0.050f},
          {67, "fps: 59.70", 0, 67, 0.067f},
          {84, "fps: 59.70", 1, 67, 0.017f}}},
        {"across the counter's wrap", INT_MAX - 10,
         {{INT_MIN + 39, "", 1, INT_MAX - 10, 0.050f}, {INT_MIN + 40, "fps: 39.22", 0, INT_MIN + 40, 0.051f}}},
        {"a stalled window of seconds", 2000, {{9000, "fps: 0.14", 0, 9000, 7.0f}}},
    };
    for (const Sequence& s : sequences) {
        SCOPED_TRACE(s.name);
        resetReadout();
        timeBase = s.startTimeBase;
        for (const Reading& r : s.readings) {
            SCOPED_TRACE("reading " + std::to_string(r.now));
            measureFrameRate(r.now);
            EXPECT_STREQ(fpsText, r.fpsText);
            EXPECT_EQ(frameCount, r.frameCount);
            EXPECT_EQ(timeBase, r.timeBase);
            EXPECT_EQ(currentTime, r.now);
            EXPECT_FLOAT_EQ(frameSeconds, r.frameSeconds);
        }
    }
}

using FrameRateDrawing = GLTest;

struct RasterState {
    GLfloat position[4];
    GLfloat color[4];
    GLint matrixMode, projectionDepth, modelviewDepth;
    GLboolean lighting, texture2D, textureRect;
};

RasterState rasterState() {
    RasterState s;
    glGetFloatv(GL_CURRENT_RASTER_POSITION, s.position);
    glGetFloatv(GL_CURRENT_RASTER_COLOR, s.color);
    glGetIntegerv(GL_MATRIX_MODE, &s.matrixMode);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &s.projectionDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &s.modelviewDepth);
    s.lighting = glIsEnabled(GL_LIGHTING);
    s.texture2D = glIsEnabled(GL_TEXTURE_2D);
    s.textureRect = glIsEnabled(GL_TEXTURE_RECTANGLE_ARB);
    return s;
}

TEST_F(FrameRateDrawing, textSitsAtNinetyPercentAcrossInGreenAndStateIsLeftAsDescribed) {
    // Run in the window's own viewport sizes; the place follows the size.
    for (const auto& size : {std::pair<int, int>{640, 480}, {320, 200}}) {
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        glViewport(0, 0, size.first, size.second);
        const float expectX = 0.9f * size.first, expectY = 0.025f * size.second;
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_TEXTURE_RECTANGLE_ARB);
        glEnable(GL_LIGHTING);
        glMatrixMode(GL_PROJECTION);

        // Empty readout: the raster position stays where it was set, no glyph advanced it.
        resetReadout();
        timeBase = glutGet(GLUT_ELAPSED_TIME);  // well inside the 50 ms window
        drawFrameRate();
        ASSERT_STREQ(fpsText, "");
        RasterState empty = rasterState();
        EXPECT_NEAR(empty.position[0], expectX, 0.01);
        EXPECT_NEAR(empty.position[1], expectY, 0.01);
        EXPECT_FLOAT_EQ(empty.color[0], 0);
        EXPECT_FLOAT_EQ(empty.color[1], 1);
        EXPECT_FLOAT_EQ(empty.color[2], 0);
        EXPECT_EQ(empty.matrixMode, GL_MODELVIEW);
        EXPECT_EQ(empty.projectionDepth, 1);
        EXPECT_EQ(empty.modelviewDepth, 1);
        EXPECT_FALSE(empty.lighting);
        EXPECT_FALSE(empty.texture2D);
        EXPECT_FALSE(empty.textureRect);

        // With a readout the glyphs advance the raster position to the right.
        timeBase = glutGet(GLUT_ELAPSED_TIME) - 1000;
        drawFrameRate();
        EXPECT_STRNE(fpsText, "");
        EXPECT_GT(rasterState().position[0], expectX + 20);
        EXPECT_TRUE(testgl::drainErrors().empty());
    }
}

}  // namespace
