// The GL calls of initialize and of the destructor, in order, as apitrace
// records them from a small program (traceInitialize.cpp). apitrace leaves
// glGetError out of its traces, so the error check after each additional
// colour texture does not show here.
#include "tests/support/ApiTrace.h"
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

struct Traced {
    std::string output;
    Calls initialize;
    Calls teardown;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the helper under apitrace with an optional environment assignment
// in front, and cuts the dump at the helper's three markers.
void trace(const std::string& mode, const std::string& environment, Traced* traced) {
    ASSERT_EQ(std::system("command -v apitrace >/dev/null 2>&1"), 0)
        << "apitrace is not installed (Debian package apitrace); it records the GL calls checked here";
    char directory[] = "/tmp/fbo_trace_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/calls.trace";
    const std::string errors = std::string(directory) + "/stderr.txt";

    int status = 0;
    traced->output = runCommand(environment + " apitrace trace -o '" + file + "' '" FBO_TRACE_HELPER "' '" + mode +
                                    "' 2>'" + errors + "'",
                                &status);
    ASSERT_EQ(status, 0) << "tracing failed:\n" << readFile(errors);
    std::string error;
    const Calls calls = apitraceCalls(file, &error);
    ASSERT_TRUE(error.empty()) << error;
    std::remove(file.c_str());
    std::remove(errors.c_str());
    rmdir(directory);

    Calls* into = nullptr;
    for (const std::string& line : calls) {
        if (line == "glPassThrough(token = 1)")
            into = &traced->initialize;
        else if (line == "glPassThrough(token = 2)")
            into = &traced->teardown;
        else if (line == "glPassThrough(token = 3)")
            into = nullptr;
        else if (into)
            into->push_back(line);
    }
    ASSERT_FALSE(traced->initialize.empty()) << "no calls between the markers";
}

const Calls passThroughProgram = {
    "glGenProgramsARB(n = 1, programs = &1)",
    "glBindProgramARB(target = GL_FRAGMENT_PROGRAM_ARB, program = 1)",
    "glProgramStringARB(target = GL_FRAGMENT_PROGRAM_ARB, format = GL_PROGRAM_FORMAT_ASCII_ARB, len = 57, "
    "string = \"!!ARBfp1.0\\nMOV result.color, fragment.color.primary;\\nEND\\n\")",
};

Calls specifyTexture(int name, const std::string& internalFormat, const std::string& format, const std::string& type) {
    const std::string target = "target = GL_TEXTURE_RECTANGLE, ";
    return {
        "glBindTexture(" + target + "texture = " + std::to_string(name) + ")",
        "glTexParameteri(" + target + "pname = GL_TEXTURE_WRAP_S, param = GL_CLAMP_TO_EDGE)",
        "glTexParameteri(" + target + "pname = GL_TEXTURE_WRAP_T, param = GL_CLAMP_TO_EDGE)",
        "glTexParameteri(" + target + "pname = GL_TEXTURE_MIN_FILTER, param = GL_LINEAR)",
        "glTexParameteri(" + target + "pname = GL_TEXTURE_MAG_FILTER, param = GL_LINEAR)",
        "glTexEnvf(target = GL_TEXTURE_ENV, pname = GL_TEXTURE_ENV_MODE, param = GL_REPLACE)",
        "glTexImage2D(" + target + "level = 0, internalformat = " + internalFormat +
            ", width = 64, height = 64, border = 0, format = " + format + ", type = " + type + ", pixels = NULL)",
    };
}

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string drawBufferQuery() { return "glGetIntegerv(pname = GL_MAX_DRAW_BUFFERS, params = &"; }

// The draw-buffer limit is the machine's: compare that call by its start.
void expectCalls(const Calls& actual, const Calls& expected) {
    ASSERT_EQ(actual.size(), expected.size()) << testing::PrintToString(actual);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] == drawBufferQuery())
            EXPECT_EQ(actual[i].rfind(expected[i], 0), 0u) << "call " << i << ": " << actual[i];
        else
            EXPECT_EQ(actual[i], expected[i]) << "call " << i;
    }
}

TEST(FramebufferObjectCallOrder, halfFloatTargetIsBuiltWithExactlyTheseCalls) {
    Traced traced;
    ASSERT_NO_FATAL_FAILURE(trace("rgba=16t", "", &traced));
    EXPECT_EQ(traced.output, "initialize returned 1\n");
    expectCalls(traced.initialize,
                passThroughProgram +
                    Calls{
                        drawBufferQuery(),
                        "glPushAttrib(mask = GL_TEXTURE_BIT)",
                        "glGenFramebuffersEXT(n = 1, framebuffers = &1)",
                        "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 1)",
                        "glEnable(cap = GL_TEXTURE_RECTANGLE)",
                        "glGenTextures(n = 1, textures = &1)",
                    } +
                    specifyTexture(1, "GL_RGBA16F", "GL_RGBA", "GL_HALF_FLOAT") +
                    Calls{
                        "glFramebufferTexture2DEXT(target = GL_FRAMEBUFFER, attachment = GL_COLOR_ATTACHMENT0, "
                        "textarget = GL_TEXTURE_RECTANGLE, texture = 1, level = 0)",
                        "glCheckFramebufferStatusEXT(target = GL_FRAMEBUFFER) = GL_FRAMEBUFFER_COMPLETE",
                        "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 0)",
                        "glPopAttrib()",
                    });
    expectCalls(traced.teardown, {
                                     "glDeleteTextures(n = 1, textures = &1)",
                                     "glDeleteFramebuffersEXT(n = 1, framebuffers = &1)",
                                     "glDeleteProgramsARB(n = 1, programs = &1)",
                                 });
}

TEST(FramebufferObjectCallOrder, withoutFloatTexturesAllThreeCandidatesAreTriedAndTheFirstStays) {
    Traced traced;
    ASSERT_NO_FATAL_FAILURE(trace("rgba=16t", "MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_float", &traced));
    EXPECT_EQ(traced.output,
              "FramebufferObject ERROR: GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT\n"
              "initialize returned 1\n");
    Calls attempts;
    for (const char* format : {"GL_RGBA16F", "GL_FLOAT_RGBA16_NV", "GL_RGBA16F"}) {
        attempts = attempts + specifyTexture(1, format, "GL_RGBA", "GL_HALF_FLOAT") +
                   Calls{
                       "glFramebufferTexture2DEXT(target = GL_FRAMEBUFFER, attachment = GL_COLOR_ATTACHMENT0, "
                       "textarget = GL_TEXTURE_RECTANGLE, texture = 1, level = 0)",
                       "glCheckFramebufferStatusEXT(target = GL_FRAMEBUFFER) = GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT",
                   };
    }
    expectCalls(traced.initialize, passThroughProgram +
                                       Calls{
                                           drawBufferQuery(),
                                           "glPushAttrib(mask = GL_TEXTURE_BIT)",
                                           "glGenFramebuffersEXT(n = 1, framebuffers = &1)",
                                           "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 1)",
                                           "glEnable(cap = GL_TEXTURE_RECTANGLE)",
                                           "glGenTextures(n = 1, textures = &1)",
                                       } +
                                       attempts +
                                       Calls{
                                           "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 0)",
                                           "glPopAttrib()",
                                       });
}

TEST(FramebufferObjectCallOrder, depthAndStencilStepsReuseOneRenderbufferAfterTheColourTextures) {
    Traced traced;
    // The stencil's "t" gives way to the depth renderbuffer.
    ASSERT_NO_FATAL_FAILURE(trace("rgba=t2x depth stencil=t", "", &traced));
    EXPECT_EQ(traced.output, "initialize returned 1\n");
    const auto attachColor = [](int k) {
        return "glFramebufferTexture2DEXT(target = GL_FRAMEBUFFER, attachment = GL_COLOR_ATTACHMENT" +
               std::to_string(k) + ", textarget = GL_TEXTURE_RECTANGLE, texture = " + std::to_string(k + 1) +
               ", level = 0)";
    };
    const std::string complete = "glCheckFramebufferStatusEXT(target = GL_FRAMEBUFFER) = GL_FRAMEBUFFER_COMPLETE";
    const Calls respecifyRenderbuffer = {
        "glBindRenderbufferEXT(target = GL_RENDERBUFFER, renderbuffer = 1)",
        "glRenderbufferStorageEXT(target = GL_RENDERBUFFER, internalformat = GL_DEPTH_STENCIL, width = 64, "
        "height = 64)",
    };
    expectCalls(
        traced.initialize,
        passThroughProgram +
            Calls{
                drawBufferQuery(),
                "glPushAttrib(mask = GL_TEXTURE_BIT)",
                "glGenFramebuffersEXT(n = 1, framebuffers = &1)",
                "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 1)",
                "glEnable(cap = GL_TEXTURE_RECTANGLE)",
                "glGenTextures(n = 1, textures = &1)",
            } +
            specifyTexture(1, "GL_RGBA8", "GL_RGBA", "GL_UNSIGNED_BYTE") + Calls{attachColor(0), complete} +
            Calls{"glGenTextures(n = 1, textures = &2)"} +
            specifyTexture(2, "GL_RGBA8", "GL_RGBA", "GL_UNSIGNED_BYTE") + Calls{attachColor(1), complete} +
            Calls{"glGenRenderbuffersEXT(n = 1, renderbuffers = &1)"} + respecifyRenderbuffer +
            Calls{
                "glFramebufferRenderbufferEXT(target = GL_FRAMEBUFFER, attachment = GL_DEPTH_ATTACHMENT, "
                "renderbuffertarget = GL_RENDERBUFFER, renderbuffer = 1)",
                complete,
            } +
            respecifyRenderbuffer +
            Calls{
                "glFramebufferRenderbufferEXT(target = GL_FRAMEBUFFER, attachment = GL_STENCIL_ATTACHMENT, "
                "renderbuffertarget = GL_RENDERBUFFER, renderbuffer = 1)",
                complete,
                "glBindFramebufferEXT(target = GL_FRAMEBUFFER, framebuffer = 0)",
                "glPopAttrib()",
            });
    expectCalls(traced.teardown, {
                                     "glDeleteTextures(n = 1, textures = &1)",
                                     "glDeleteTextures(n = 1, textures = &2)",
                                     "glDeleteRenderbuffersEXT(n = 1, renderbuffers = &1)",
                                     "glDeleteFramebuffersEXT(n = 1, framebuffers = &1)",
                                     "glDeleteProgramsARB(n = 1, programs = &1)",
                                 });
}

}  // namespace
