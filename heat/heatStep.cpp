#include "app/globals.h"
#include "heat/heat.h"

#include <GL/glew.h>

void drawGridQuad(float width, float height) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, 0);
    glTexCoord2f(width, 0);
    glVertex2f(1, 0);
    glTexCoord2f(width, height);
    glVertex2f(1, 1);
    glTexCoord2f(0, height);
    glVertex2f(0, 1);
    glEnd();
}

void pushUnitSquareMatrices() {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0, 1, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void popUnitSquareMatrices() {
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

void heatStep() {
    FramebufferObject& target = heatBuffers[currentBuffer];
    FramebufferObject& source = heatBuffers[1 - currentBuffer];

    // Restored at the end; the restore also switches the profile off again.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    target.bind(false);
    glDisable(GL_TEXTURE_2D);
    glDisable(target.textureTarget);

    pushUnitSquareMatrices();  // popped after the quad

    cgGLEnableProfile(fragmentProfile);
    cgGLBindProgram(heatProgram);
    // Set anew every call: the source alternates between the buffers.
    cgGLSetTextureParameter(heatTextureParam, source.getColorAttachmentID(0));
    cgGLEnableTextureParameter(heatTextureParam);
    cgGLSetParameter2f(invGridSizeParam, static_cast<float>(1.0 / gridWidth),
                       static_cast<float>(1.0 / gridHeight));
    cgGLSetParameter1f(timestepParam, frameSeconds * 10.0f);

    drawGridQuad(static_cast<float>(target.getWidth()), static_cast<float>(target.getHeight()));

    popUnitSquareMatrices();
    target.unbind(false);
    glPopAttrib();
}
