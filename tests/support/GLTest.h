// A real OpenGL context for tests: one GLUT window per test process on the X
// server named by DISPLAY (Xvfb with Mesa in CI), GLEW initialised.
#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testgl {

// Creates the process's window and context on first use. False, with the
// reason in *why, when no X server or no usable context is there.
bool ensureContext(std::string* why);

// True when the current context advertises the extension (GLEW's view).
bool hasExtension(const char* name);

// Pops every pending GL error, returning them in order.
std::vector<GLenum> drainErrors();

}  // namespace testgl

// Base fixture for tests that need GL: fails the test when there is no
// context, and starts every test with no pending GL error.
class GLTest : public ::testing::Test {
protected:
    void SetUp() override;
};

// For tests of float rectangle render targets and the fragment programs that
// run on them: skips unless the context has what they need. Derived SetUps
// go on only when !IsSkipped() && !HasFatalFailure().
class FloatTargetTest : public GLTest {
protected:
    void SetUp() override;
};

#define REQUIRE_GL_EXTENSION(name)                                                    \
    do {                                                                              \
        if (!testgl::hasExtension(name))                                              \
            GTEST_SKIP() << "needs " name ", which this OpenGL context does not offer"; \
    } while (0)
