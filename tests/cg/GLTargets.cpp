#include "tests/cg/GLTargets.h"

namespace cgtest {

FloatTarget::FloatTarget(int width, int height, GLenum internalFormat, const std::vector<float>& rgba)
    : width_(width), height_(height) {
    glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture_);
    // As the heat buffers: linear, clamped to the edge.
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GLint(internalFormat), width, height, 0, GL_RGBA, GL_FLOAT,
                 rgba.empty() ? nullptr : rgba.data());
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_RECTANGLE_ARB, texture_, 0);
    complete_ = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

FloatTarget::~FloatTarget() {
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteTextures(1, &texture_);
}

std::vector<float> FloatTarget::read() const {
    std::vector<float> out(std::size_t(width_) * std::size_t(height_) * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_FLOAT, out.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return out;
}

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
