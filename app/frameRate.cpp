#include "app/app.h"
#include "app/globals.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>

void measureFrameRate(int now) {
    currentTime = now;
    ++frameCount;
    // The counter wraps after about 24.8 days; the unsigned difference stays
    // right across the wrap.
    const int elapsed =
        static_cast<int>(static_cast<unsigned>(now) - static_cast<unsigned>(timeBase));
    frameSeconds = static_cast<float>(elapsed * 0.001);
    if (elapsed > 50) {
        std::snprintf(fpsText, sizeof fpsText, "fps: %4.2f", frameCount * 1000.0 / elapsed);
        timeBase = currentTime;
        frameCount = 0;
    }
}

void drawFrameRate() {
    measureFrameRate(glutGet(GLUT_ELAPSED_TIME));

    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    // Before the raster position, which latches the current colour.
    glColor3f(0, 1, 0);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0, 200, 0, 200);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glRasterPos3f(180, 5, 0);
    for (const char* c = fpsText; *c; ++c) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, *c);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
