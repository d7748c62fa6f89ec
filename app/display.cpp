#include "app/app.h"
#include "app/globals.h"
#include "fbo/glErrorText.h"
#include "heat/heat.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>

namespace {

void clearHeatBuffers() {
    for (FramebufferObject& buffer : heatBuffers) {
        buffer.bind(true);
        // Stays current: the window is cleared to the same black every frame.
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        buffer.unbind(true);
    }
}

void stampInitialPattern() {
    currentBuffer = 1;
    for (const CellOffset& offset : initialPattern)
        applyHeat(gridWidth / 2 + offset.dx, gridHeight / 2 + offset.dy);
}

// The error of the shader on disk, in the frame-rate readout's font, one
// line above it at the left edge; cut at the window's right edge.
void drawShaderError() {
    glPushAttrib(GL_CURRENT_BIT);  // the readout's green and raster position come back
    glColor3f(0, 1, 1);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0, windowWidth, 0, windowHeight);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    const int left = 4, baseline = windowHeight / 40 + 14;
    glRasterPos2i(left, baseline);
    int x = left;
    for (const char c : heatShaderError) {
        x += glutBitmapWidth(GLUT_BITMAP_HELVETICA_10, c);
        if (x > windowWidth) break;
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, c);
    }

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

}  // namespace

void setUpFirstFrame() {
    // Results ignored on purpose: a failed creation has printed its reason and
    // is not retried.
    heatBuffers[0].initialize(gridWidth, gridHeight);
    heatBuffers[1].initialize(gridWidth, gridHeight);
    buffersInitialized = true;

    clearHeatBuffers();
    initShaders();
    stampInitialPattern();

    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        std::printf("OpenGL ERROR after FBO initialization: %s\n", glErrorText(error));
}

void presentField() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    pushUnitSquareMatrices();  // popped after the quad

    FramebufferObject& shown = heatBuffers[currentBuffer];
    shown.bindAsTexture(0);
    drawGridQuad(static_cast<float>(shown.getWidth()), static_cast<float>(shown.getHeight()));

    // Leaves projection selected and rectangle texturing on: drawFrameRate
    // resets both.
    popUnitSquareMatrices();
}

void restartField() {
    if (!buffersInitialized) return;
    clearHeatBuffers();
    stampInitialPattern();
}

void display() {
    if (!buffersInitialized) setUpFirstFrame();
    // Without a heat program the field holds no steps, only what the driver
    // made of the missing one: the first program starts from the face.
    if (reloadHeatShaderIfSaved() == HeatShaderReload::FirstProgram) restartField();

    heatStep();
    presentField();
    drawFrameRate();
    // A window without area has no pixels to show it in, and no projection.
    if (!heatShaderError.empty() && windowWidth > 0 && windowHeight > 0) drawShaderError();

    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) std::printf("OpenGL ERROR: %s\n", glErrorText(error));

    glutSwapBuffers();
    currentBuffer = (currentBuffer == 0) ? 1 : 0;
}
