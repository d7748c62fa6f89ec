// Painting heat with real pointer events, seen in real screenshots.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Mean red over a 3 x 3 box around a window pixel.
int redAt(const Screenshot& s, int x, int y) {
    int sum = 0, n = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int px = std::clamp(x + dx, 0, s.width - 1), py = std::clamp(y + dy, 0, s.height - 1);
            sum += s.at(px, py)[0];
            ++n;
        }
    return sum / n;
}

int pixelsRedderThan(const Screenshot& s, int threshold) {
    int count = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) count += s.at(x, y)[0] > threshold;
    return count;
}

int maxRed(const Screenshot& s) {
    int m = 0;
    for (size_t i = 0; i < s.rgb.size(); i += 3) m = std::max<int>(m, s.rgb[i]);
    return m;
}

class Painting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(app.waitForWindow(), 0u) << app.output();
        sleepSeconds(0.5);
    }
    void TearDown() override {
        EXPECT_TRUE(app.running()) << app.output();
        EXPECT_EQ(app.output().find("OpenGL ERROR"), std::string::npos) << app.output();
        app.key("Escape");
        EXPECT_EQ(app.waitForExit(10), 0) << app.output();
    }
    Screenshot shot() {
        Screenshot s = app.screenshot();
        EXPECT_GT(s.width, 0) << "no screenshot";
        return s;
    }
    AppRun app;
};

TEST_F(Painting, faceIsShownAndSpreads) {
    const Screenshot early = shot();
    ASSERT_GT(early.width, 0);
    // Warm pixels lie around the centre, none near the corners.
    EXPECT_GT(pixelsRedderThan(early, 40), 50);
    for (const auto& corner : {std::pair<int, int>{20, 20}, {620, 20}, {20, 460}, {620, 460}})
        EXPECT_LT(redAt(early, corner.first, corner.second), 5);
    sleepSeconds(3);
    const Screenshot later = shot();
    ASSERT_GT(later.width, 0);
    EXPECT_GT(pixelsRedderThan(later, 5), pixelsRedderThan(early, 5));
    EXPECT_LT(maxRed(later), maxRed(early));
}

TEST_F(Painting, leftClicksHeatTheCellUnderThePointer) {
    const Screenshot before = shot();
    for (int i = 0; i < 12; ++i) app.click(85, 60);
    const Screenshot after = shot();
    EXPECT_LT(redAt(before, 85, 60), 5);
    EXPECT_GT(redAt(after, 85, 60), 120);
    EXPECT_LT(redAt(after, 555, 60), 5);  // the same row, far off
}

TEST_F(Painting, dragLeavesHeatAlongItsPath) {
    app.press(100, 420);
    for (int x = 110; x <= 540; x += 10) app.moveTo(x, 420);
    app.release();
    const Screenshot s = shot();
    for (int x = 100; x <= 540; x += 40) EXPECT_GT(redAt(s, x, 420), 40) << "x " << x;
    EXPECT_LT(redAt(s, 320, 380), 5);
}

TEST_F(Painting, middleAndRightButtonsChangeNothing) {
    for (const int button : {2, 3}) {
        for (int i = 0; i < 8; ++i) app.click(85, 60, button);
        app.press(100, 420, button);
        for (int x = 110; x <= 540; x += 20) app.moveTo(x, 420);
        app.release(button);
    }
    const Screenshot s = shot();
    EXPECT_LT(redAt(s, 85, 60), 5);
    for (int x = 100; x <= 540; x += 40) EXPECT_LT(redAt(s, x, 420), 5) << "x " << x;
}

TEST_F(Painting, afterResizeBottomRightPixelHeatsBottomRightCell) {
    app.resize(1280, 960);
    ASSERT_TRUE(waitUntil([&] { return app.geometry().width == 1280 && app.geometry().height == 960; }, 5));
    sleepSeconds(0.3);
    for (int i = 0; i < 12; ++i) app.click(1279, 959);
    const Screenshot s = shot();
    ASSERT_EQ(s.width, 1280);
    // The bottom-right cell covers 20 x 15 pixels at this size.
    EXPECT_GT(redAt(s, 1270, 952), 120);
    EXPECT_LT(redAt(s, 1270, 900), 60);
    EXPECT_LT(redAt(s, 1200, 952), 60);
}

TEST_F(Painting, pressReleasePressPaintsOnlyWhileHeld) {
    app.press(100, 100);
    app.release();
    for (int x = 110; x <= 540; x += 10) app.moveTo(x, 150);  // no button: nothing
    app.press(100, 420);
    for (int x = 110; x <= 540; x += 10) app.moveTo(x, 420);
    app.release();
    const Screenshot s = shot();
    EXPECT_GT(redAt(s, 100, 100), 30);
    for (int x = 140; x <= 540; x += 80) {
        EXPECT_LT(redAt(s, x, 150), 5) << "x " << x;
        EXPECT_GT(redAt(s, x, 420), 40) << "x " << x;
    }
}

TEST_F(Painting, releaseWithoutPressLetsAnyButtonPaint) {
    app.sendUnpairedRelease(5, 5);
    sleepSeconds(0.2);
    // The counter is now -1: a middle-button drag paints.
    app.press(100, 420, 2);
    for (int x = 110; x <= 540; x += 10) app.moveTo(x, 420);
    app.release(2);
    const Screenshot s = shot();
    for (int x = 140; x <= 540; x += 80) EXPECT_GT(redAt(s, x, 420), 40) << "x " << x;
}

}  // namespace
