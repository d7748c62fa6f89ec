#include "app/app.h"
#include "app/globals.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

void initGLUT(int argc, char** argv) {
    // Before glutInit, so that its -geometry option, when given, wins.
    glutInitWindowSize(windowWidth, windowHeight);
    glutInitWindowPosition(200, 100);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    // freeglut's form of handing GLUT the exit routine: closing the window
    // ends the process through exit(), so the buffers' destructors run.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_EXIT);
    // Registered after glutInit, so it runs before the exit handler freeglut
    // registered there, and long before the buffers' static destructors: the
    // context is still current.
    std::atexit(releaseHeatBuffers);
    windowId = glutCreateWindow("2D Heat Equation");

    if (glewInit() != GLEW_OK) std::cout << "ERROR: could not initialize GLEW!" << std::endl;

    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(special);
    glutMouseFunc(mouse);
    glutMotionFunc(motion);
    glutIdleFunc(idle);
    // A window-manager close destroys the context before exit() is reached;
    // freeglut calls this first, with the context still current.
    glutCloseFunc(releaseHeatBuffers);
}

void releaseHeatBuffers() {
    heatBuffers[1].release();
    heatBuffers[0].release();
}

void printStartupLines() {
    std::printf("OpenGL version: %s\n", glGetString(GL_VERSION));
    std::printf("OpenGL vendor: %s\n", glGetString(GL_VENDOR));
    std::printf("OpenGL renderer: %s\n\n", glGetString(GL_RENDERER));
    std::printf("The Heat Equation in 2D on the GPU\n");
    std::printf("discretized using centered finite differences in space and forward Euler in time\n");
    std::printf("The heat2d developers [heat2d-dev@lists.example.org]\n\n");
    std::printf("click left mouse button and move to apply heat!\n");
}

void reshape(int width, int height) {
    windowWidth = width;
    windowHeight = height;
    glViewport(0, 0, width, height);
}

namespace {

// Set by each press that leaves the window mode windowed, and again when
// freeglut has left full screen but may still owe the window its old size:
// its own restore runs after ours, a pass later.
bool windowedPlacementDue = false;

void placeWindowed() {
    glutSetWindow(windowId);
    glutPositionWindow(100, 100);
    glutReshapeWindow(640, 480);
}

// Window-mode changes are made here, at most one per main-loop pass, never
// from the key callback: freeglut queues them and runs them after the
// callbacks, and without a window manager its full-screen toggle moves the
// window by its own position and leaves a resize to the old size for the
// following pass. Two changes queued in one pass undo each other's sizes and
// leave freeglut's full-screen flag out of step with the window.
void followWindowMode() {
    const bool isFull = glutGet(GLUT_FULL_SCREEN) != 0;
    if (fullscreen && !isFull) {
        windowedPlacementDue = false;
        // Screen-sized at the origin; the size also replaces a restore still
        // queued from leaving full screen a pass ago.
        glutPositionWindow(0, 0);
        glutReshapeWindow(glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT));
        glutFullScreen();
    } else if (!fullscreen && (isFull || windowedPlacementDue)) {
        placeWindowed();  // leaves full screen first where freeglut is in it
        windowedPlacementDue = isFull;
    }
}

}  // namespace

void idle() {
    followWindowMode();
    glutPostRedisplay();
}

void special(int, int, int) {}

void keyboard(unsigned char key, int, int) {
    switch (key) {
    case 27:
        std::exit(0);
    case 'f':
        fullscreen = !fullscreen;  // the next idle pass follows it
        windowedPlacementDue = !fullscreen;
        break;
    case 'r':
        restartField();
        break;
    default:
        break;
    }
}
