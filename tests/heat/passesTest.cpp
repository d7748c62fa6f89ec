// The heat step, the stamp and the first frame on real render targets.
#include "app/app.h"
#include "app/globals.h"
#include "heat/heat.h"
#include "tests/heat/Field.h"
#include "tests/support/GLTest.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <set>
#include <utility>

namespace {

class HeatPasses : public FloatTargetTest {
protected:
    void SetUp() override {
        FloatTargetTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        testing::internal::CaptureStdout();
        setUpFirstFrame();
        setUpOutput = testing::internal::GetCapturedStdout();
        testgl::drainErrors();
    }
    Field newest() const { return readField(heatBuffers[1 - currentBuffer]); }
    std::string setUpOutput;
};

const std::set<std::pair<int, int>> faceCells(int cx, int cy) {
    std::set<std::pair<int, int>> cells;
    for (const CellOffset& o : initialPattern) cells.insert({cx + o.dx, cy + o.dy});
    return cells;
}

TEST_F(HeatPasses, firstFrameSetUpLeavesTheFaceInBufferOne) {
    EXPECT_EQ(setUpOutput, "");
    EXPECT_EQ(currentBuffer, 0);
    const std::set<std::pair<int, int>> face = faceCells(32, 32);
    ASSERT_EQ(face.size(), 17u);  // no cell twice
    for (const auto& cell : {std::pair<int, int>{30, 35}, {29, 34}, {35, 35}, {34, 34}, {28, 31}, {32, 28}, {36, 31}})
        EXPECT_TRUE(face.count(cell)) << cell.first << ", " << cell.second;

    const Field f = readField(heatBuffers[1]);
    for (int y = 0; y < gridHeight; ++y)
        for (int x = 0; x < gridWidth; ++x) {
            const Texel want = face.count({x, y}) ? Texel{1, 0, 0, 2} : Texel{0, 0, 0, 1};
            ASSERT_EQ(f.at(x, y), want) << "cell " << x << ", " << y;
        }
}

TEST_F(HeatPasses, stampAddsOneToRedAndAlphaOfItsCellAndCopiesTheRest) {
    const Field before = patternedField(gridWidth, gridHeight, 7);
    writeField(heatBuffers[1 - currentBuffer], before);
    const struct {
        int x, y;
    } cells[] = {{5, 7}, {0, 0}, {63, 63}, {0, 63}, {63, 0}, {5, 7}};
    Field expect = before;
    for (const auto& c : cells) {
        const int entry = currentBuffer;
        applyHeat(c.x, c.y);
        EXPECT_EQ(currentBuffer, 1 - entry);
        expect.at(c.x, c.y).r += 1;
        expect.at(c.x, c.y).a += 1;
        const Field after = newest();
        for (int i = 0; i < gridWidth * gridHeight; ++i)
            ASSERT_EQ(after.texels[i], expect.texels[i]) << "cell " << i % gridWidth << ", " << i / gridWidth
                                                        << " after stamping " << c.x << ", " << c.y;
    }
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(HeatPasses, stampOutsideGridFlipsBuffersOnly) {
    const Field before = patternedField(gridWidth, gridHeight, 11);
    writeField(heatBuffers[1 - currentBuffer], before);
    const std::pair<int, int> outside[] = {{-1, 0}, {64, 0}, {0, -1}, {0, 64}, {-1, -1}, {64, 64}, {100000, -100000}};
    for (const auto& cell : outside) {
        SCOPED_TRACE(std::to_string(cell.first) + ", " + std::to_string(cell.second));
        const int entry = currentBuffer;
        applyHeat(cell.first, cell.second);
        EXPECT_EQ(currentBuffer, 1 - entry);
        EXPECT_TRUE(newest().texels == before.texels);
    }
}

struct PassState {
    GLint viewport[4], matrixMode, projectionDepth, modelviewDepth, framebuffer, program, activeTexture;
    std::vector<GLboolean> enables;
    bool operator==(const PassState& o) const {
        return std::equal(viewport, viewport + 4, o.viewport) && matrixMode == o.matrixMode &&
               projectionDepth == o.projectionDepth && modelviewDepth == o.modelviewDepth &&
               framebuffer == o.framebuffer && activeTexture == o.activeTexture && enables == o.enables;
    }
};

PassState passState() {
    PassState s;
    glGetIntegerv(GL_VIEWPORT, s.viewport);
    glGetIntegerv(GL_MATRIX_MODE, &s.matrixMode);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &s.projectionDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &s.modelviewDepth);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &s.framebuffer);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &s.activeTexture);
    for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_TEXTURE_2D, GL_TEXTURE_RECTANGLE_ARB, GL_FRAGMENT_PROGRAM_ARB,
                       GL_LIGHTING, GL_STENCIL_TEST, GL_SCISSOR_TEST})
        s.enables.push_back(glIsEnabled(cap));
    return s;
}

TEST_F(HeatPasses, passesLeaveViewportMatricesAndEnablesAsFound) {
    // Two different starting states, so a pass that sets rather than restores shows.
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        glViewport(3, 4, 300 + variant * 17, 200);
        glMatrixMode(variant ? GL_MODELVIEW : GL_PROJECTION);
        if (variant) {
            glEnable(GL_TEXTURE_RECTANGLE_ARB);
            glEnable(GL_BLEND);
            glEnable(GL_DEPTH_TEST);
        } else {
            glDisable(GL_TEXTURE_RECTANGLE_ARB);
            glDisable(GL_BLEND);
            glEnable(GL_TEXTURE_2D);
        }
        const PassState before = passState();
        const int buffer = currentBuffer;
        heatStep();
        EXPECT_TRUE(passState() == before) << "heatStep";
        EXPECT_EQ(currentBuffer, buffer);
        applyHeat(1, 1);
        EXPECT_TRUE(passState() == before) << "applyHeat";
        EXPECT_TRUE(testgl::drainErrors().empty());
    }
}

TEST_F(HeatPasses, heatStepWithTheSameInputsWritesTheSameResult) {
    frameSeconds = 0.03f;
    heatStep();
    const Field first = readField(heatBuffers[currentBuffer]);
    heatStep();
    const Field second = readField(heatBuffers[currentBuffer]);
    EXPECT_TRUE(first.texels == second.texels);
    // and it did compute something: the face spread into its neighbourhood
    EXPECT_GT(first.at(31, 35).r, 0.0f);
    EXPECT_LT(first.at(30, 35).r, 1.0f);
}

TEST_F(HeatPasses, zeroTimeStepLeavesTheFieldAsItWas) {
    frameSeconds = 0;
    heatStep();
    EXPECT_TRUE(readField(heatBuffers[currentBuffer]).texels == newest().texels);
}

TEST_F(HeatPasses, framesShowTheBufferTheirOwnHeatStepWrote) {
    // Stamps between frames, in every count, odd and even.
    const int stampsBefore[] = {0, 0, 1, 2, 3, 0, 5, 1};
    for (int frame = 0; frame < 8; ++frame) {
        for (int s = 0; s < stampsBefore[frame]; ++s) applyHeat(10 + s, 20);
        const int written = currentBuffer;
        const Field source = newest();
        frameSeconds = 0;  // a copy, so the written buffer must equal the newest field
        display();
        EXPECT_EQ(currentBuffer, 1 - written) << "frame " << frame;
        GLint shownTexture = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_RECTANGLE_ARB, &shownTexture);
        EXPECT_EQ(static_cast<GLuint>(shownTexture), heatBuffers[written].getColorAttachmentID(0)) << "frame " << frame;
        EXPECT_TRUE(readField(heatBuffers[written]).texels == source.texels) << "frame " << frame;
    }
}

TEST_F(HeatPasses, framesWithoutInputAlternateTheBuffersFromZero) {
    std::vector<int> shown;
    for (int frame = 0; frame < 6; ++frame) {
        GLint texture = 0;
        display();
        glGetIntegerv(GL_TEXTURE_BINDING_RECTANGLE_ARB, &texture);
        shown.push_back(static_cast<GLuint>(texture) == heatBuffers[0].getColorAttachmentID(0) ? 0 : 1);
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(currentBuffer, 0);
}

TEST_F(HeatPasses, windowShowsCellZeroZeroAtTheLowerLeft) {
    frameSeconds = 0;
    applyHeat(0, 0);
    applyHeat(63, 63);
    applyHeat(63, 63);
    display();
    glReadBuffer(GL_BACK);  // the window may not be exposed yet; the back buffer is ours
    // Centres of the corner cells in a 640 x 480 window: 10 by 7.5 pixels each.
    auto red = [](int x, int y) {
        GLubyte px[4];
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
        return px[0];
    };
    EXPECT_GT(red(5, 3), 200);
    EXPECT_GT(red(635, 476), 200);
    EXPECT_LT(red(635, 3), 50);
    EXPECT_LT(red(5, 476), 50);
    EXPECT_LT(red(320, 240), 50);  // between the face's eyes and mouth
}

}  // namespace

// Odd grid sizes round the centre down; needs its own process for its own globals.
TEST(OddGrid, faceCentreRoundsDown) {
    std::string why;
    ASSERT_TRUE(testgl::ensureContext(&why)) << why;
    gridWidth = 65;
    gridHeight = 63;
    setUpFirstFrame();
    const Field f = readField(heatBuffers[1]);
    ASSERT_EQ(f.width, 65);
    const std::set<std::pair<int, int>> face = faceCells(32, 31);
    int hot = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            // Copies on a grid that is not a power of two blur a little:
            // interpolated coordinates miss the texel centres by rounding.
            if (f.at(x, y).r > 0.5f) {
                ++hot;
                EXPECT_TRUE(face.count({x, y})) << x << ", " << y;
            }
    EXPECT_EQ(hot, 17);
}
