// The heat step on the GPU against the CPU reference, over many frames.
#include "app/app.h"
#include "app/globals.h"
#include "heat/heat.h"
#include "tests/heat/Field.h"
#include "tests/support/GLTest.h"
#include "heat/referenceSolver.h"

#include <cmath>

namespace {

// How the driver stores a float result in a half-float channel: hardware
// rounds to nearest, Mesa's llvmpipe rounds toward zero. The reference runs
// both and the GPU must agree with one of them.
enum class Rounding { Nearest, TowardZero };

float storeAsHalf(float v, Rounding rounding) {
    if (rounding == Rounding::Nearest) return heatref::roundToHalf(v);
    const float a = std::fabs(v);
    if (a == 0 || !std::isfinite(a)) return v;
    const float spacing = heatref::halfSpacing(a);
    return std::copysign(std::floor(a / spacing) * spacing, v);
}

heatref::Grid referenceStep(const heatref::Grid& g, float timestep, Rounding rounding) {
    heatref::Grid next = heatref::step(g, timestep, 1.0f / gridWidth, 1.0f / gridHeight);
    for (float& v : next.rgba) v = storeAsHalf(v, rounding);
    return next;
}

// Largest difference beyond the allowed few half-float spacings (an
// absolute 1e-6 floor for values near zero); 0 when every value agrees.
double excess(const heatref::Grid& got, const heatref::Grid& want, float spacings) {
    double worst = 0;
    for (size_t i = 0; i < got.rgba.size(); ++i) {
        const double allowed = std::max(spacings * heatref::halfSpacing(want.rgba[i]), 1e-6f);
        worst = std::max(worst, std::fabs(double(got.rgba[i]) - want.rgba[i]) - allowed);
    }
    return std::max(worst, 0.0);
}

heatref::Grid toGrid(const Field& f) {
    heatref::Grid g(f.width, f.height);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const Texel& t = f.at(x, y);
            const float channels[4] = {t.r, t.g, t.b, t.a};
            for (int c = 0; c < 4; ++c) g.at(x, y, c) = channels[c];
        }
    return g;
}

class HeatSolver : public FloatTargetTest {
protected:
    // One heat step as the frame loop runs it, without presenting.
    void step(float seconds) {
        frameSeconds = seconds;
        heatStep();
        currentBuffer = 1 - currentBuffer;
    }
    Field newest() const { return readField(heatBuffers[1 - currentBuffer]); }
};

TEST_F(HeatSolver, firstFrameStepsWithTimeStepZero) {
    testing::internal::CaptureStdout();
    display();  // the set-up, then the first frame, with frameSeconds still 0
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(currentBuffer, 1);
    EXPECT_TRUE(readField(heatBuffers[0]).texels == readField(heatBuffers[1]).texels);
}

TEST_F(HeatSolver, framesAgreeWithTheReferenceSolver) {
    testing::internal::CaptureStdout();
    setUpFirstFrame();
    const heatref::Grid start = toGrid(newest());
    heatref::Grid nearest = start, towardZero = start;
    // Real frames, with the time steps their own readout produces, and a
    // few stalls in between so the clamp takes part.
    for (int frame = 0; frame < 40; ++frame) {
        if (frame % 13 == 5) frameSeconds = 2.5f;
        const float timestep = frameSeconds * 10.0f;
        display();
        nearest = referenceStep(nearest, timestep, Rounding::Nearest);
        towardZero = referenceStep(towardZero, timestep, Rounding::TowardZero);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const heatref::Grid got = toGrid(newest());
    const double offNearest = excess(got, nearest, 2), offTowardZero = excess(got, towardZero, 2);
    EXPECT_TRUE(offNearest == 0 || offTowardZero == 0)
        << "beyond two half-float spacings: " << offNearest << " (nearest), " << offTowardZero << " (toward zero)";
    // the face did spread: its eye cell lost heat, its neighbour gained
    EXPECT_LT(got.at(30, 35, 0), 0.9f);
    EXPECT_GT(got.at(31, 36, 0), 0.01f);
}

TEST_F(HeatSolver, totalHeatIsKeptOverAThousandStepsUpToStorageRounding) {
    setUpFirstFrame();
    const heatref::Grid start = toGrid(newest());
    ASSERT_DOUBLE_EQ(heatref::total(start, 0), 17.0);
    heatref::Grid exact = start, nearest = start, towardZero = start;
    for (int i = 0; i < 1000; ++i) {
        step(0.025f);
        exact = heatref::step(exact, 0.25f, 1.0f / gridWidth, 1.0f / gridHeight);
        nearest = referenceStep(nearest, 0.25f, Rounding::Nearest);
        towardZero = referenceStep(towardZero, 0.25f, Rounding::TowardZero);
    }
    // The scheme itself, in single precision, loses nothing at the insulated border.
    EXPECT_NEAR(heatref::total(exact, 0), 17.0, 1e-3);
    // What the GPU keeps is what its storage rounding allows, within 0.2 %:
    // about +1 % when it rounds to nearest, about -29 % when it rounds
    // toward zero, as llvmpipe does.
    const heatref::Grid field = toGrid(newest());
    const double got = heatref::total(field, 0);
    const double n = heatref::total(nearest, 0), z = heatref::total(towardZero, 0);
    RecordProperty("totalHeatAfter1000Steps", std::to_string(got));
    EXPECT_TRUE(std::fabs(got - n) < 0.002 * n || std::fabs(got - z) < 0.002 * z)
        << "GPU " << got << ", reference rounding to nearest " << n << ", toward zero " << z;
    float peak = 0;
    for (int i = 0; i < gridWidth * gridHeight; ++i) peak = std::max(peak, field.rgba[4 * i]);
    EXPECT_LT(peak, 0.2f);
}

TEST_F(HeatSolver, framesOfSeveralSecondsStayBoundedAndFinite) {
    setUpFirstFrame();
    const Field start = patternedField(gridWidth, gridHeight, 3);
    writeField(heatBuffers[1 - currentBuffer], start);
    float low[4] = {1e9f, 1e9f, 1e9f, 1e9f}, high[4] = {-1e9f, -1e9f, -1e9f, -1e9f};
    for (const Texel& t : start.texels) {
        const float v[4] = {t.r, t.g, t.b, t.a};
        for (int c = 0; c < 4; ++c) low[c] = std::min(low[c], v[c]), high[c] = std::max(high[c], v[c]);
    }
    for (const float seconds : {3.0f, 5.0f, 60.0f, 3600.0f, 1e6f, 3.0f, 0.5f}) {
        for (int i = 0; i < 5; ++i) step(seconds);
        for (const Texel& t : newest().texels) {
            const float v[4] = {t.r, t.g, t.b, t.a};
            for (int c = 0; c < 4; ++c) {
                ASSERT_TRUE(std::isfinite(v[c])) << seconds << " s";
                ASSERT_GE(v[c], low[c]) << seconds << " s, channel " << c;
                ASSERT_LE(v[c], high[c]) << seconds << " s, channel " << c;
            }
        }
    }
}

}  // namespace
