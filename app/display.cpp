#include "app/app.h"
#include "app/globals.h"
#include "fbo/glErrorText.h"
#include "heat/heat.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>

void setUpFirstFrame() {
    // Results ignored on purpose: a failed creation has printed its reason and
    // is not retried.
    heatBuffers[0].initialize(gridWidth, gridHeight);
    heatBuffers[1].initialize(gridWidth, gridHeight);
    buffersInitialized = true;

    for (FramebufferObject& buffer : heatBuffers) {
        buffer.bind(true);
        // Stays current: the window is cleared to the same black every frame.
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        buffer.unbind(true);
    }

    initShaders();

    currentBuffer = 1;
    for (const CellOffset& offset : initialPattern)
        applyHeat(gridWidth / 2 + offset.dx, gridHeight / 2 + offset.dy);

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

void display() {
    if (!buffersInitialized) setUpFirstFrame();

    heatStep();
    presentField();
    drawFrameRate();

    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) std::printf("OpenGL ERROR: %s\n", glErrorText(error));

    glutSwapBuffers();
    currentBuffer = (currentBuffer == 0) ? 1 : 0;
}
