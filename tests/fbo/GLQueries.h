// Small GL read-backs shared by the render-target tests. Each puts back the
// binding it had to change.
#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace fbotest {

template <class F>
std::string stdoutOf(F&& f) {
    testing::internal::CaptureStdout();
    std::forward<F>(f)();
    return testing::internal::GetCapturedStdout();
}

inline GLint integer(GLenum pname) {
    GLint value = 0;
    glGetIntegerv(pname, &value);
    return value;
}

// A level-0 parameter of a rectangle texture.
inline GLint rectangleLevel(GLuint texture, GLenum pname) {
    const GLint previous = integer(GL_TEXTURE_BINDING_RECTANGLE_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, pname, &value);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, previous);
    return value;
}

inline GLint rectangleParameter(GLuint texture, GLenum pname) {
    const GLint previous = integer(GL_TEXTURE_BINDING_RECTANGLE_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_RECTANGLE_ARB, pname, &value);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, previous);
    return value;
}

inline GLint renderbufferParameter(GLuint renderbuffer, GLenum pname) {
    const GLint previous = integer(GL_RENDERBUFFER_BINDING_EXT);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, renderbuffer);
    GLint value = 0;
    glGetRenderbufferParameterivEXT(GL_RENDERBUFFER_EXT, pname, &value);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, previous);
    return value;
}

inline GLint attachmentParameter(GLuint framebuffer, GLenum attachment, GLenum pname) {
    const GLint previous = integer(GL_FRAMEBUFFER_BINDING_EXT);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    GLint value = 0;
    glGetFramebufferAttachmentParameterivEXT(GL_FRAMEBUFFER_EXT, attachment, pname, &value);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, previous);
    return value;
}

// The internal format of whatever is attached, texture or renderbuffer; 0 for nothing.
inline GLint attachedInternalFormat(GLuint framebuffer, GLenum attachment) {
    const GLint type = attachmentParameter(framebuffer, attachment, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT);
    const GLuint name = attachmentParameter(framebuffer, attachment, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT);
    if (type == GL_TEXTURE) return rectangleLevel(name, GL_TEXTURE_INTERNAL_FORMAT);
    if (type == GL_RENDERBUFFER_EXT) return renderbufferParameter(name, GL_RENDERBUFFER_INTERNAL_FORMAT_EXT);
    return 0;
}

inline GLenum framebufferStatus(GLuint framebuffer) {
    const GLint previous = integer(GL_FRAMEBUFFER_BINDING_EXT);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    const GLenum status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, previous);
    return status;
}

}  // namespace fbotest
