// Painting heat with real pointer events, seen in real screenshots. The
// field diffuses per frame, so how fast it fades depends on the frame rate:
// events go out in one xdotool run and screenshots follow at once, and the
// checks compare against cold places rather than fixed levels where they can.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// Mean red over a 3 x 3 box around a window pixel.
int redAt(const Screenshot& s, int x, int y) {
    int sum = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            sum += s.at(std::clamp(x + dx, 0, s.width - 1), std::clamp(y + dy, 0, s.height - 1))[0];
    return sum / 9;
}

struct RedStatistics {
    double total = 0, centreX = 0, centreY = 0, spread = 0;
    int peak = 0;
};

// Red-weighted centre and radius of gyration of the warm area.
RedStatistics redStatistics(const Screenshot& s) {
    RedStatistics r;
    double sx = 0, sy = 0, sxx = 0, syy = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const int red = s.at(x, y)[0];
            r.peak = std::max(r.peak, red);
            r.total += red;
            sx += red * double(x), sy += red * double(y);
            sxx += red * double(x) * x, syy += red * double(y) * y;
        }
    if (r.total > 0) {
        r.centreX = sx / r.total, r.centreY = sy / r.total;
        r.spread = std::sqrt(std::max(0.0, sxx / r.total - r.centreX * r.centreX + syy / r.total - r.centreY * r.centreY));
    }
    return r;
}

std::vector<std::pair<int, int>> row(int fromX, int toX, int y, int step = 5) {
    std::vector<std::pair<int, int>> path;
    for (int x = fromX; x <= toX; x += step) path.push_back({x, y});
    return path;
}

class Painting : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(app.waitForWindow(), 0u) << app.output(); }
    void TearDown() override {
        EXPECT_TRUE(app.running()) << app.output();
        EXPECT_EQ(app.output().find("OpenGL ERROR"), std::string::npos) << app.output();
        app.key("Escape");
        EXPECT_EQ(app.waitForExit(10), 0) << app.output();
    }
    Screenshot shot() {
        sleepSeconds(0.05);  // the program may still be working through queued events
        Screenshot s = app.screenshot();
        EXPECT_GT(s.width, 0) << "no screenshot";
        return s;
    }
    // Lets the start-up face fade away from the places the tests paint.
    void settle() { sleepSeconds(0.5); }
    AppRun app;
};

TEST_F(Painting, faceIsShownAndSpreads) {
    // The window maps before its first frame is drawn.
    Screenshot early;
    RedStatistics first;
    waitUntil(
        [&] {
            early = shot();
            first = redStatistics(early);
            return first.total > 0;
        },
        5);
    ASSERT_GT(early.width, 0);
    ASSERT_GT(first.total, 0) << "no heat on screen";
    // The face's cells average (32.5, 31.9): pixel (325, 240) of 640 x 480.
    EXPECT_NEAR(first.centreX, 325, 15);
    EXPECT_NEAR(first.centreY, 240, 15);
    for (const auto& corner : {std::pair<int, int>{20, 20}, {620, 20}, {20, 460}, {620, 440}})
        EXPECT_EQ(redAt(early, corner.first, corner.second), 0);
    sleepSeconds(1.0);
    const Screenshot later = shot();
    ASSERT_GT(later.width, 0);
    const RedStatistics second = redStatistics(later);
    EXPECT_GT(second.spread, first.spread * 1.1) << "early " << first.spread << ", later " << second.spread;
    EXPECT_LT(second.peak, first.peak);
    EXPECT_NEAR(second.centreX, 325, 20);
}

TEST_F(Painting, leftClicksHeatTheCellUnderThePointer) {
    settle();
    const Screenshot before = shot();
    app.clicks(85, 60, 12);
    const Screenshot after = shot();
    EXPECT_LT(redAt(before, 85, 60), 5);
    EXPECT_GT(redAt(after, 85, 60), 80);
    EXPECT_LT(redAt(after, 185, 60), 5);  // ten cells to the right
    EXPECT_LT(redAt(after, 85, 160), 5);  // thirteen cells down
}

TEST_F(Painting, dragLeavesHeatAlongItsPath) {
    settle();
    app.drag(row(100, 540, 420));
    const Screenshot s = shot();
    for (int x = 140; x <= 500; x += 60) {
        EXPECT_GT(redAt(s, x, 420), 25) << "x " << x;
        EXPECT_LT(redAt(s, x, 360), 5) << "x " << x;
    }
}

TEST_F(Painting, aFastDragLeavesSpacedDotsNotALine) {
    settle();
    // Five motion events 100 pixels (ten cells) apart: one stamp each, and
    // nothing joins them.
    app.drag(row(120, 520, 420, 100));
    const Screenshot s = shot();
    for (int x = 120; x <= 520; x += 100) {
        // One stamp spreads fast at llvmpipe's frame rates: compare with
        // the midpoints rather than with a fixed level.
        const int dot = redAt(s, x + 5, 420), between = redAt(s, x + 55, 420);
        EXPECT_GT(dot, 10) << "x " << x;
        EXPECT_LT(between * 4, dot) << "between x " << x << " and " << x + 100;
    }
}

TEST_F(Painting, middleAndRightButtonsChangeNothing) {
    settle();
    for (const int button : {2, 3}) {
        app.clicks(85, 60, 12, button);
        app.drag(row(100, 540, 420), button);
    }
    const Screenshot s = shot();
    EXPECT_LT(redAt(s, 85, 60), 5);
    for (int x = 140; x <= 500; x += 60) EXPECT_LT(redAt(s, x, 420), 5) << "x " << x;
}

TEST_F(Painting, afterResizeBottomRightPixelHeatsBottomRightCell) {
    app.resize(1280, 960);
    ASSERT_TRUE(waitUntil([&] { return app.geometry().width == 1280 && app.geometry().height == 960; }, 5));
    settle();
    app.clicks(1279, 959, 12);
    const Screenshot s = shot();
    ASSERT_EQ(s.width, 1280);
    // The bottom-right cell covers 20 x 15 pixels at this size.
    const int corner = redAt(s, 1270, 952);
    EXPECT_GT(corner, 80);
    EXPECT_GT(corner, redAt(s, 1270, 880) + 40);
    EXPECT_GT(corner, redAt(s, 1180, 952) + 40);
}

TEST_F(Painting, pressReleasePressPaintsOnlyWhileHeld) {
    settle();
    const std::string w = " mousemove --window " + std::to_string(app.window()) + " ";
    std::string events = w + "100 100 mousedown 1 mouseup 1";
    for (int x = 105; x <= 540; x += 5) events += w + std::to_string(x) + " 150";  // no button held
    events += w + "100 420 mousedown 1";
    for (int x = 105; x <= 540; x += 5) events += w + std::to_string(x) + " 420";
    app.xdotool(events + " mouseup 1");
    const Screenshot s = shot();
    EXPECT_GT(redAt(s, 100, 100), 8);  // the first press stamped once
    EXPECT_LT(redAt(s, 100, 40), 3);
    for (int x = 160; x <= 460; x += 60) {
        EXPECT_LT(redAt(s, x, 150), 5) << "x " << x;
        EXPECT_GT(redAt(s, x, 420), 25) << "x " << x;
    }
}

TEST_F(Painting, releaseWithoutPressLetsAnyButtonPaint) {
    settle();
    app.sendUnpairedRelease(5, 5);
    sleepSeconds(0.2);
    // The press count is now -1: a middle-button drag paints.
    app.drag(row(100, 540, 420), 2);
    const Screenshot s = shot();
    for (int x = 140; x <= 500; x += 60) EXPECT_GT(redAt(s, x, 420), 25) << "x " << x;
}

}  // namespace
