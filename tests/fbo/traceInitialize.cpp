// Builds one render target from the mode on the command line at 64 × 64 and
// destroys it, so that a GL tracer sees exactly those calls. glPassThrough
// does nothing outside feedback mode: it marks where each part begins.
#include "fbo/FramebufferObject.h"

#include <GL/freeglut.h>

#include <cstdio>

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutCreateWindow("fbo trace");
    if (glewInit() != GLEW_OK) {
        std::fprintf(stderr, "glewInit failed\n");
        return 2;
    }
    {
        FramebufferObject target(argc > 1 ? argv[1] : "rgba=16t");
        glPassThrough(1.0f);
        const bool result = target.initialize(64, 64);
        glPassThrough(2.0f);
        std::printf("initialize returned %d\n", int(result));
    }
    glPassThrough(3.0f);
    return 0;
}
