// What the real program asks GL once it runs: recorded with apitrace, a
// frame's only query is the viewport each render-target bind saves (the
// frame's glGetError, the program's own check, apitrace does not record).
#include "tests/support/ApiTrace.h"
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool isQuery(const std::string& call) {
    for (const char* prefix : {"glGet", "glIs", "glCheck", "glAre", "glXQuery", "glXGet"})
        if (startsWith(call, prefix)) return true;
    return false;
}

TEST(HotPath, AFrameAsksGLOnlyForTheViewportEachRenderTargetBindSaves) {
    int status = 0;
    runCommand("command -v apitrace", &status);
    ASSERT_EQ(status, 0) << "apitrace is not installed (scripts/test.sh installs it)";
    AppRun::Options options;
    options.wrapper = {"apitrace", "trace", "--api", "gl", "--output", "heat2d.trace"};
    AppRun app(options);
    ASSERT_NE(app.waitForWindow(30), 0u) << app.output();
    sleepSeconds(1.0);
    app.click(320, 240);  // a stamp: a second render-target bind in its frame
    sleepSeconds(1.0);
    app.key("Escape");
    ASSERT_EQ(app.waitForExit(20), 0) << app.output();
    std::string error;
    const std::vector<std::string> calls = apitraceCalls(app.workDir() + "/heat2d.trace", &error);
    ASSERT_GT(calls.size(), 100u) << error << app.output();

    std::vector<std::vector<std::string>> frames(1);
    for (const std::string& call : calls) {
        frames.back().push_back(call);
        if (startsWith(call, "glXSwapBuffers(")) frames.emplace_back();
    }
    // The first frame compiles and loads (and reads the driver's limits);
    // the last is cut short by the way out.
    ASSERT_GT(frames.size(), 6u);
    int steady = 0, withStamp = 0;
    for (size_t f = 1; f + 1 < frames.size(); ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        int binds = 0;
        std::vector<std::string> queries;
        for (const std::string& call : frames[f]) {
            if (startsWith(call, "glBindFramebuffer") && call.find("framebuffer = 0)") == std::string::npos) ++binds;
            if (isQuery(call)) queries.push_back(call);
            EXPECT_FALSE(startsWith(call, "glActiveTexture(")) << call;
        }
        EXPECT_EQ(int(queries.size()), binds);
        for (const std::string& query : queries) EXPECT_TRUE(startsWith(query, "glGetIntegerv(pname = GL_VIEWPORT")) << query;
        steady += binds == 1;
        withStamp += binds == 2;
    }
    EXPECT_GT(steady, 3);
    EXPECT_EQ(withStamp, 1) << "the click's frame";
}

}  // namespace
