#include "tests/cg/GLTargets.h"

namespace cgtest {

void drawPass(const FloatTarget& target, CGprogram program, CGparameter sampler, const FloatTarget* source) {
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glViewport(0, 0, target.width(), target.height());
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    cgGLEnableProfile(CG_PROFILE_ARBFP1);
    cgGLBindProgram(program);
    if (sampler && source) {
        cgGLSetTextureParameter(sampler, source->texture());
        cgGLEnableTextureParameter(sampler);
    }
    const float w = float(target.width()), h = float(target.height());
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, 0);
    glTexCoord2f(w, 0);
    glVertex2f(1, 0);
    glTexCoord2f(w, h);
    glVertex2f(1, 1);
    glTexCoord2f(0, h);
    glVertex2f(0, 1);
    glEnd();

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glPopAttrib();
}

}  // namespace cgtest
