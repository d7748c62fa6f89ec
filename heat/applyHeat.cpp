#include "app/globals.h"
#include "heat/heat.h"

#include <GL/glew.h>

void applyHeat(int x, int y) {
    const int entryBuffer = currentBuffer;
    FramebufferObject& target = heatBuffers[entryBuffer];
    FramebufferObject& source = heatBuffers[1 - entryBuffer];

    glPushAttrib(GL_ALL_ATTRIB_BITS);  // popped last, after the flip
    target.bind(true);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);

    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0, 1, 0, 1);

    // Copy the newest field across.
    cgGLEnableProfile(fragmentProfile);
    cgGLBindProgram(copyProgram);
    cgGLSetTextureParameter(copyTextureParam, source.getColorAttachmentID(0));
    cgGLEnableTextureParameter(copyTextureParam);
    source.bindAsTexture(0);
    drawGridQuad(static_cast<float>(source.getWidth()), static_cast<float>(source.getHeight()));
    cgGLDisableProfile(fragmentProfile);

    // Add (1, 0, 0, 1) to the one cell, untextured, on top of the copy.
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glDisable(target.textureTarget);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, gridWidth, 0, gridHeight);
    glColor3f(1, 0, 0);
    const float left = static_cast<float>(x), bottom = static_cast<float>(y);
    glBegin(GL_QUADS);
    glVertex2f(left, bottom);
    glVertex2f(left + 1, bottom);
    glVertex2f(left + 1, bottom + 1);
    glVertex2f(left, bottom + 1);
    glEnd();

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    target.unbind(true);
    currentBuffer = 1 - entryBuffer;
    glPopAttrib();
}
