// The heat program, loaded from shaders/HeatShader.cg, against the CPU
// reference: one step on known fields, bounded for any time step, heat kept.
#include "cg/cgGL.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"
#include "heat/referenceSolver.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

using cgtest::FloatTarget;
using heatref::Grid;

namespace {

class CgHeatProgram : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        REQUIRE_FLOAT_TARGETS();
        CGcontext context = cgCreateContext();
        program = cgCreateProgramFromFile(context, CG_SOURCE, HEAT_SHADER_PATH,
                                          cgGLGetLatestProfile(CG_GL_FRAGMENT), nullptr, nullptr);
        cgGLLoadProgram(program);
        heatTexture = cgGetNamedParameter(program, "heatTexture");
        invGridSize = cgGetNamedParameter(program, "invGridSize");
        timestep = cgGetNamedParameter(program, "timestep");
        CGerror error = cgGetError();
        ASSERT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
        ASSERT_TRUE(program && heatTexture && invGridSize && timestep);
    }

    // One step on the GPU through 16-bit float targets, as the program runs it.
    Grid gpuStep(const Grid& field, float dt) {
        FloatTarget source(field.width, field.height, GL_RGBA16F_ARB, field.rgba);
        FloatTarget target(field.width, field.height, GL_RGBA16F_ARB);
        EXPECT_TRUE(source.complete() && target.complete());
        cgGLSetParameter2f(invGridSize, float(1.0 / field.width), float(1.0 / field.height));
        cgGLSetParameter1f(timestep, dt);
        cgtest::drawPass(target, program, heatTexture, &source);
        Grid out(field.width, field.height);
        out.rgba = target.read();
        EXPECT_TRUE(testgl::drainErrors().empty());
        return out;
    }

    CGprogram program = nullptr;
    CGparameter heatTexture = nullptr, invGridSize = nullptr, timestep = nullptr;
};

// Fields as the heat buffers hold them: every value a half float.
Grid field(int w, int h, const std::function<float(int x, int y, int c)>& f) {
    Grid g(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) g.at(x, y, c) = heatref::roundToHalf(f(x, y, c));
    return g;
}

Grid hotCell(int w, int h, int cx, int cy) {
    return field(w, h, [=](int x, int y, int c) { return x == cx && y == cy && c != 1 ? 1.0f : c == 3 ? 1.0f : 0.0f; });
}

TEST_F(CgHeatProgram, OneStepMatchesTheReference) {
    struct Case {
        const char* name;
        Grid start;
        float dt;
    } cases[] = {
        {"hot cell at the centre", hotCell(64, 64, 32, 32), 0.25f},
        {"hot cell on the left edge", hotCell(64, 64, 0, 20), 0.5f},
        {"hot cell in the top-right corner", hotCell(64, 64, 63, 63), 0.25f},
        {"hot cell, non-square grid", hotCell(16, 8, 5, 3), 0.5f},
        {"smooth field in all channels", field(64, 64, [](int x, int y, int c) {
             return 0.5f + 0.4f * std::sin(0.3f * float(x) + float(c)) * std::cos(0.2f * float(y) - float(c));
         }), 0.4f},
        {"clamped step", hotCell(64, 64, 10, 50), 1000.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Grid expected = heatref::step(c.start, c.dt, 1.0f / float(c.start.width), 1.0f / float(c.start.height));
        Grid got = gpuStep(c.start, c.dt);
        int wrong = 0;
        for (std::size_t i = 0; i < got.rgba.size() && wrong < 5; ++i) {
            float want = expected.rgba[i];
            if (std::fabs(got.rgba[i] - heatref::roundToHalf(want)) > heatref::halfSpacing(want)) {
                ADD_FAILURE() << "value " << i / 4 << "." << i % 4 << ": got " << got.rgba[i] << ", want " << want;
                ++wrong;
            }
        }
        // The step did something: the hot cell lost heat to its neighbours.
        EXPECT_NE(got.rgba, c.start.rgba);
    }
}

TEST_F(CgHeatProgram, ZeroTimeStepLeavesTheFieldAlone) {
    Grid start = field(8, 8, [](int x, int y, int c) { return float(x * 8 + y) * 0.125f - float(c); });
    EXPECT_EQ(gpuStep(start, 0.0f).rgba, start.rgba);
}

TEST_F(CgHeatProgram, HugeTimeStepsStayWithinTheFieldsRange) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-3.0f, 5.0f);
    Grid start = field(32, 32, [&](int, int, int) { return value(random); });
    for (float dt : {10.0f, 1e4f, 1e9f}) {
        SCOPED_TRACE(dt);
        Grid got = gpuStep(start, dt);
        for (int c = 0; c < 4; ++c) {
            float lo = INFINITY, hi = -INFINITY, gotLo = INFINITY, gotHi = -INFINITY;
            for (std::size_t i = std::size_t(c); i < start.rgba.size(); i += 4) {
                lo = std::min(lo, start.rgba[i]);
                hi = std::max(hi, start.rgba[i]);
                gotLo = std::min(gotLo, got.rgba[i]);
                gotHi = std::max(gotHi, got.rgba[i]);
            }
            EXPECT_GE(gotLo, lo) << "channel " << c;
            EXPECT_LE(gotHi, hi) << "channel " << c;
        }
    }
}

TEST_F(CgHeatProgram, InsulatedGridKeepsItsHeat) {
    // The initial pattern's scale: a few hot cells on a cold grid, and a
    // lumpy field; edges included so heat would leak if the border did.
    Grid lumps = field(64, 64, [](int x, int y, int c) {
        return c == 0 ? float((x * 7 + y * 13) % 11) * 0.25f : 0.0f;
    });
    Grid cells = hotCell(64, 64, 0, 0);
    cells.at(63, 31, 0) = 1.0f;
    cells.at(32, 32, 0) = 1.0f;
    for (const Grid* start : {&lumps, &cells}) {
        for (float dt : {0.25f, 0.5f, 100.0f}) {
            Grid got = gpuStep(*start, dt);
            // A full spacing a cell: llvmpipe truncates when it stores halves,
            // so the rounding errors all lean one way instead of cancelling.
            double tolerance = 0;
            for (std::size_t i = 0; i < got.rgba.size(); i += 4) tolerance += heatref::halfSpacing(got.rgba[i]);
            EXPECT_NEAR(heatref::total(got, 0), heatref::total(*start, 0), tolerance) << "dt " << dt;
        }
    }
}

}  // namespace
