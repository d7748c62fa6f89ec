// The order of GL calls in one frame, one stamp and the way out, recorded
// from the real program with apitrace.
#include "tests/support/ApiTrace.h"
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Finds `expected` as an ordered subsequence of calls[from, to): each entry is
// a prefix of a call's text. Returns where the match ended, or npos with the
// first entry that could not be found in *missing.
size_t matchInOrder(const std::vector<std::string>& calls, size_t from, size_t to,
                    const std::vector<std::string>& expected, std::string* missing) {
    size_t at = from;
    for (const std::string& want : expected) {
        while (at < to && calls[at].compare(0, want.size(), want) != 0) ++at;
        if (at == to) {
            *missing = want;
            return std::string::npos;
        }
        ++at;
    }
    return at;
}

std::string around(const std::vector<std::string>& calls, size_t from, size_t to) {
    std::string text;
    for (size_t i = from; i < to && i < calls.size(); ++i) text += "  " + calls[i] + "\n";
    return text;
}

bool apitraceInstalled() {
    int status = 0;
    runCommand("command -v apitrace", &status);
    return status == 0;
}

enum class WayOut { Escape, CloseRequest };

// Records the program under apitrace: the window, a second of frames, one
// click at pixel (320, 240) when asked, then the way out. Empty on failure,
// with the reason in *why.
std::vector<std::string> recordRun(bool click, WayOut wayOut, std::string* why) {
    AppRun::Options options;
    options.wrapper = {"apitrace", "trace", "--api", "gl", "--output", "heat2d.trace"};
    AppRun app(options);
    if (app.waitForWindow(30) == 0) {
        *why = "no window\n" + app.output();
        return {};
    }
    sleepSeconds(1.0);
    if (click) {
        app.click(320, 240);  // one stamp, at cell (32, 31)
        sleepSeconds(0.5);
    }
    if (wayOut == WayOut::Escape) app.key("Escape");
    else app.requestClose();
    const int status = app.waitForExit(20);
    if (status != 0) {
        *why = "exit status " + std::to_string(status) + "\n" + app.output();
        return {};
    }
    std::string error;
    std::vector<std::string> calls = apitraceCalls(app.workDir() + "/heat2d.trace", &error);
    if (calls.size() <= 100u) *why = "a trace of " + std::to_string(calls.size()) + " calls\n" + error + app.output();
    return calls;
}

class Trace : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(apitraceInstalled()) << "apitrace is not installed (scripts/test.sh installs it)";
        std::string why;
        calls = recordRun(true, WayOut::Escape, &why);
        ASSERT_GT(calls.size(), 100u) << why;
    }
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

Calls concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Projection then modelview pushed and set to the unit square.
const Calls unitSquarePushed = {
    "glMatrixMode(mode = GL_PROJECTION)",
    "glPushMatrix()",
    "glLoadIdentity()",
    "glOrtho(left = 0, right = 1, bottom = 0, top = 1",
    "glMatrixMode(mode = GL_MODELVIEW)",
    "glPushMatrix()",
    "glLoadIdentity()",
};

// The quad over a 64 x 64 grid with texel-unit texture coordinates.
const Calls gridQuad = {
    "glBegin(mode = GL_QUADS)",
    "glTexCoord2f(s = 0, t = 0)",
    "glVertex2f(x = 0, y = 0)",
    "glTexCoord2f(s = 64, t = 0)",
    "glVertex2f(x = 1, y = 0)",
    "glTexCoord2f(s = 64, t = 64)",
    "glVertex2f(x = 1, y = 1)",
    "glTexCoord2f(s = 0, t = 64)",
    "glVertex2f(x = 0, y = 1)",
    "glEnd()",
};

const Calls matricesPopped = {
    "glPopMatrix()",
    "glMatrixMode(mode = GL_PROJECTION)",
    "glPopMatrix()",
};

const Calls heatStepCalls = concat({
    {
        "glPushAttrib(mask = GL_ALL_ATTRIB_BITS)",
        "glGetIntegerv(pname = GL_VIEWPORT",
        "glViewport(x = 0, y = 0, width = 64, height = 64)",
        "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = ",
        "glDisable(cap = GL_TEXTURE_2D)",
        "glDisable(cap = GL_TEXTURE_RECTANGLE",
    },
    unitSquarePushed,
    {
        "glEnable(cap = GL_FRAGMENT_PROGRAM_ARB)",
        "glBindProgramARB(target = GL_FRAGMENT_PROGRAM_ARB",
        "glBindTexture(target = GL_TEXTURE_RECTANGLE",
        "glNamedProgramLocalParameter4fEXT(program = ",  // the runtime sets values by program name
    },
    gridQuad,
    matricesPopped,
    {
        "glViewport(x = 0, y = 0, width = 640, height = 480)",
        "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 0)",
        "glPopAttrib()",
    },
});

const Calls presentCalls = concat({
    {"glClear(mask = GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT)"},
    unitSquarePushed,
    {
        "glEnable(cap = GL_TEXTURE_RECTANGLE",
        "glBindTexture(target = GL_TEXTURE_RECTANGLE",
        "glTexParameteri(target = GL_TEXTURE_RECTANGLE, pname = GL_TEXTURE_WRAP_S, param = GL_CLAMP_TO_EDGE)",
        "glTexParameteri(target = GL_TEXTURE_RECTANGLE, pname = GL_TEXTURE_WRAP_T, param = GL_CLAMP_TO_EDGE)",
        "glTexParameteri(target = GL_TEXTURE_RECTANGLE, pname = GL_TEXTURE_MIN_FILTER, param = GL_LINEAR)",
        "glTexParameteri(target = GL_TEXTURE_RECTANGLE, pname = GL_TEXTURE_MAG_FILTER, param = GL_LINEAR)",
        "glTexEnvf(target = GL_TEXTURE_ENV, pname = GL_TEXTURE_ENV_MODE, param = GL_REPLACE)",
    },
    gridQuad,
    matricesPopped,
    {
        // the frame-rate readout
        "glDisable(cap = GL_LIGHTING)",
        "glDisable(cap = GL_TEXTURE_2D)",
        "glDisable(cap = GL_TEXTURE_RECTANGLE",
        "glColor3f(red = 0, green = 1, blue = 0)",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPushMatrix()",
        "glLoadIdentity()",
        "glOrtho(left = 0, right = 200, bottom = 0, top = 200",
        "glMatrixMode(mode = GL_MODELVIEW)",
        "glPushMatrix()",
        "glLoadIdentity()",
        "glRasterPos3f(x = 180, y = 5, z = 0)",
        "glBitmap(",
        "glPopMatrix()",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPopMatrix()",
        "glMatrixMode(mode = GL_MODELVIEW)",
        // (apitrace leaves glGetError out of its recordings)
        "glXSwapBuffers(",
    },
});

TEST_F(Trace, aFrameStepsPresentsReadsOutChecksAndSwapsInOrder) {
    // A frame from the middle of the run: between two swaps.
    std::vector<size_t> swaps;
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].rfind("glXSwapBuffers(", 0) == 0) swaps.push_back(i);
    ASSERT_GT(swaps.size(), 5u);
    const size_t from = swaps[swaps.size() / 2], to = swaps[swaps.size() / 2 + 1] + 1;
    const Calls frame = concat({heatStepCalls, presentCalls});
    std::string missing;
    EXPECT_NE(matchInOrder(calls, from + 1, to, frame, &missing), std::string::npos)
        << "missing or out of order: " << missing << "\nthe frame:\n" << around(calls, from, to);
}

TEST_F(Trace, aSteadyFrameMakesTheseCallsAndNoOther) {
    // A frame's calls but the readout's characters (each its own run from
    // glPushClientAttrib to glPopClientAttrib) and freeglut's context calls;
    // both uniforms are set every frame, and freeglut flushes before the swap.
    Calls expected = concat({heatStepCalls, presentCalls});
    expected.insert(expected.end() - 1, "glFlush()");
    expected.erase(std::find(expected.begin(), expected.end(), "glBitmap("));
    const auto uniform = std::find(expected.begin(), expected.end(), "glNamedProgramLocalParameter4fEXT(program = ");
    expected.insert(uniform, *uniform);
    std::vector<Calls> frames(1);
    bool inCharacter = false;
    for (const std::string& call : calls) {
        if (call.rfind("glPushClientAttrib(", 0) == 0) inCharacter = true;
        if (!inCharacter && (call.rfind("glX", 0) != 0 || call.rfind("glXSwapBuffers(", 0) == 0))
            frames.back().push_back(call);
        if (call.rfind("glPopClientAttrib(", 0) == 0) inCharacter = false;
        if (call.rfind("glXSwapBuffers(", 0) == 0) frames.emplace_back();
    }
    int steady = 0;
    for (size_t f = 1; f + 1 < frames.size(); ++f) {
        const Calls& frame = frames[f];
        const auto binds = std::count_if(frame.begin(), frame.end(), [](const std::string& call) {
            return call.rfind("glBindFramebufferEXT", 0) == 0 && call.find("framebuffer = 0)") == std::string::npos;
        });
        if (binds != 1) continue;  // the click's frame
        ++steady;
        bool same = frame.size() == expected.size();
        for (size_t i = 0; same && i < frame.size(); ++i) same = frame[i].rfind(expected[i], 0) == 0;
        EXPECT_TRUE(same) << "frame " << f << ":\n" << around(frame, 0, frame.size());
    }
    EXPECT_GT(steady, 3);
}

TEST_F(Trace, aStampCopiesThenAddsTheCellThenFlips) {
    // The click's stamp is the one quad at cell (32, 31) after the first frame.
    size_t cell = std::string::npos;
    for (size_t i = 0; i + 1 < calls.size(); ++i)
        if (calls[i] == "glVertex2f(x = 32, y = 31)" && calls[i + 1] == "glVertex2f(x = 33, y = 31)") cell = i;
    ASSERT_NE(cell, std::string::npos) << "no stamp at cell (32, 31) in the trace";
    size_t start = cell;
    while (start > 0 && calls[start].rfind("glPushAttrib(mask = GL_ALL_ATTRIB_BITS)", 0) != 0) --start;
    const std::vector<std::string> stamp = {
        "glPushAttrib(mask = GL_ALL_ATTRIB_BITS)",
        "glGetIntegerv(pname = GL_VIEWPORT",
        "glViewport(x = 0, y = 0, width = 64, height = 64)",
        "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = ",
        "glBindProgramARB(target = GL_FRAGMENT_PROGRAM_ARB",
        "glEnable(cap = GL_FRAGMENT_PROGRAM_ARB)",
        "glClearColor(red = 0, green = 0, blue = 0, alpha = 1)",
        "glClear(mask = GL_COLOR_BUFFER_BIT)",
        "glDisable(cap = GL_DEPTH_TEST)",
        "glDisable(cap = GL_TEXTURE_2D)",
        "glMatrixMode(mode = GL_MODELVIEW)",
        "glPushMatrix()",
        "glLoadIdentity()",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPushMatrix()",
        "glLoadIdentity()",
        "glOrtho(left = 0, right = 1, bottom = 0, top = 1",
        "glEnable(cap = GL_FRAGMENT_PROGRAM_ARB)",
        "glBindProgramARB(target = GL_FRAGMENT_PROGRAM_ARB",
        "glEnable(cap = GL_TEXTURE_RECTANGLE",
        "glBindTexture(target = GL_TEXTURE_RECTANGLE",
        "glTexEnvf(target = GL_TEXTURE_ENV, pname = GL_TEXTURE_ENV_MODE, param = GL_REPLACE)",
        "glBegin(mode = GL_QUADS)",
        "glTexCoord2f(s = 64, t = 64)",
        "glEnd()",
        "glDisable(cap = GL_FRAGMENT_PROGRAM_ARB)",
        "glEnable(cap = GL_BLEND)",
        "glBlendFunc(sfactor = GL_ONE, dfactor = GL_ONE)",
        "glDisable(cap = GL_TEXTURE_RECTANGLE",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glLoadIdentity()",
        "glOrtho(left = 0, right = 64, bottom = 0, top = 64",
        "glColor3f(red = 1, green = 0, blue = 0)",
        "glBegin(mode = GL_QUADS)",
        "glVertex2f(x = 32, y = 31)",
        "glVertex2f(x = 33, y = 31)",
        "glVertex2f(x = 33, y = 32)",
        "glVertex2f(x = 32, y = 32)",
        "glEnd()",
        "glMatrixMode(mode = GL_PROJECTION)",
        "glPopMatrix()",
        "glMatrixMode(mode = GL_MODELVIEW)",
        "glPopMatrix()",
        "glViewport(x = 0, y = 0, width = 640, height = 480)",
        "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 0)",
        "glDisable(cap = GL_FRAGMENT_PROGRAM_ARB)",
        "glPopAttrib()",
    };
    std::string missing;
    const size_t end = matchInOrder(calls, start, std::min(calls.size(), cell + 40), stamp, &missing);
    EXPECT_NE(end, std::string::npos) << "missing or out of order: " << missing << "\nthe stamp:\n"
                                      << around(calls, start, cell + 40);
}

TEST(Teardown, everyWayOutReleasesBufferOneThenBufferZeroWhileTheContextLives) {
    ASSERT_TRUE(apitraceInstalled()) << "apitrace is not installed (scripts/test.sh installs it)";
    for (const WayOut wayOut : {WayOut::Escape, WayOut::CloseRequest}) {
        SCOPED_TRACE(wayOut == WayOut::Escape ? "Escape" : "close request");
        std::string why;
        const std::vector<std::string> calls = recordRun(false, wayOut, &why);
        ASSERT_GT(calls.size(), 100u) << why;
        // Each buffer's texture, framebuffer and pass-through program, once:
        // the destructors that run later must find nothing left to delete.
        std::vector<std::string> deletes;
        size_t lastDelete = 0, contextGone = calls.size();
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].rfind("glDelete", 0) == 0) deletes.push_back(calls[i]), lastDelete = i;
            if (calls[i].rfind("glXDestroyContext(", 0) == 0 && contextGone == calls.size()) contextGone = i;
        }
        ASSERT_EQ(deletes.size(), 6u) << around(deletes, 0, deletes.size());
        ASSERT_LT(contextGone, calls.size()) << "the trace never shows the context destroyed";
        EXPECT_LT(lastDelete, contextGone) << around(calls, contextGone >= 8 ? contextGone - 8 : 0, contextGone + 1);
        for (size_t k : {0u, 3u}) {
            EXPECT_EQ(deletes[k].rfind("glDeleteTextures(", 0), 0u) << deletes[k];
            EXPECT_EQ(deletes[k + 1].rfind("glDeleteFramebuffersEXT(", 0), 0u) << deletes[k + 1];
            EXPECT_EQ(deletes[k + 2].rfind("glDeleteProgramsARB(", 0), 0u) << deletes[k + 2];
        }
        // buffer 1 was created second, so its names are the larger ones
        auto name = [](const std::string& call) { return std::atoi(call.c_str() + call.find_last_of("&{") + 1); };
        for (int k = 0; k < 3; ++k) EXPECT_GT(name(deletes[k]), name(deletes[k + 3])) << deletes[k];
    }
}

}  // namespace

namespace {

TEST_F(Trace, heatStepUploadsInvGridSizeThenTimeStepZeroOnTheFirstFrame) {
    // The uniforms a frame's heat step sets, in order: invGridSize, then timestep.
    std::vector<std::vector<std::string>> frames(1);
    for (const std::string& call : calls) {
        if (call.rfind("glXSwapBuffers(", 0) == 0) frames.emplace_back();
        if (call.rfind("glProgramLocalParameter4fARB(", 0) == 0 || call.rfind("glNamedProgramLocalParameter4fEXT(", 0) == 0)
            frames.back().push_back(call);
    }
    ASSERT_GT(frames.size(), 3u);
    const std::vector<std::string>& first = frames[0];
    ASSERT_GE(first.size(), 2u);
    EXPECT_NE(first[first.size() - 2].find("x = 0.015625, y = 0.015625"), std::string::npos) << first[first.size() - 2];
    EXPECT_NE(first.back().find("x = 0, "), std::string::npos) << first.back();
    for (size_t f = 1; f + 1 < frames.size(); ++f) {
        ASSERT_EQ(frames[f].size() % 2, 0u) << "frame " << f;
        EXPECT_NE(frames[f][frames[f].size() - 2].find("x = 0.015625, y = 0.015625"), std::string::npos) << "frame " << f;
    }
}

}  // namespace
