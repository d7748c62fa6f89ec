#include "tests/support/GLTest.h"

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace testgl {

bool ensureContext(std::string* why) {
    static int state = 0;  // 0 untried, 1 ready, -1 failed
    static std::string failure;
    if (state == 0) {
        // glutInit ends the process when it cannot open the display: look first.
        const char* display = std::getenv("DISPLAY");
        Display* probe = XOpenDisplay(display);
        if (!probe) {
            failure = std::string("cannot open X display '") + (display ? display : "") + "'";
            state = -1;
        } else {
            XCloseDisplay(probe);
            int argc = 1;
            char name[] = "gltest";
            char* argv[] = {name, nullptr};
            glutInit(&argc, argv);
            glutInitWindowSize(640, 480);
            // Beyond the screen's right edge: never over the real program's
            // window, which end-to-end tests point and type at.
            glutInitWindowPosition(4000, 0);
            glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
            glutCreateWindow("gltest");
            GLenum err = glewInit();
            if (err != GLEW_OK) {
                failure = std::string("glewInit failed: ") +
                          reinterpret_cast<const char*>(glewGetErrorString(err));
                state = -1;
            } else {
                state = 1;
            }
        }
    }
    if (state < 0 && why) *why = failure;
    return state > 0;
}

bool hasExtension(const char* name) { return glewIsSupported(name) == GL_TRUE; }

std::vector<GLenum> drainErrors() {
    std::vector<GLenum> errors;
    for (GLenum e; (e = glGetError()) != GL_NO_ERROR && errors.size() < 64;) errors.push_back(e);
    return errors;
}

}  // namespace testgl

void GLTest::SetUp() {
    std::string why;
    ASSERT_TRUE(testgl::ensureContext(&why)) << "no OpenGL context: " << why;
    testgl::drainErrors();
}

void FloatTargetTest::SetUp() {
    GLTest::SetUp();
    if (HasFatalFailure()) return;
    REQUIRE_GL_EXTENSION("GL_EXT_framebuffer_object");
    REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");
    REQUIRE_GL_EXTENSION("GL_ARB_texture_rectangle");
    REQUIRE_GL_EXTENSION("GL_ARB_texture_float");
}
