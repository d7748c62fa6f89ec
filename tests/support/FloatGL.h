// The one GL harness for running fragment programs off screen: float
// rectangle targets (optionally with depth or depth and stencil), float
// textures of any target, and `!!ARBfp1.0` text loaded into a program object.
// Header-only and free of GoogleTest, so the fuzz targets use it too. Needs a
// current context with GLEW initialised.
#pragma once

#include <GL/glew.h>

#include <cstddef>
#include <string>
#include <vector>

namespace glharness {

// Owns a rectangle texture of four float channels and a framebuffer on it,
// plus the depth renderbuffer asked for.
class FloatTarget {
public:
    enum Depth { NoDepth, Depth32F, Depth32FStencil8 };

    FloatTarget(int width, int height, GLenum internalFormat = GL_RGBA32F, const std::vector<float>& rgba = {},
                Depth depth = NoDepth)
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
        if (depth != NoDepth) {
            const bool stencil = depth == Depth32FStencil8;
            glGenRenderbuffers(1, &depth_);
            glBindRenderbuffer(GL_RENDERBUFFER, depth_);
            glRenderbufferStorage(GL_RENDERBUFFER, stencil ? GL_DEPTH32F_STENCIL8 : GL_DEPTH_COMPONENT32F, width,
                                  height);
            glBindRenderbuffer(GL_RENDERBUFFER, 0);
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                      GL_RENDERBUFFER, depth_);
        }
        complete_ = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    ~FloatTarget() {
        glDeleteFramebuffers(1, &framebuffer_);
        if (depth_) glDeleteRenderbuffers(1, &depth_);
        glDeleteTextures(1, &texture_);
    }
    FloatTarget(const FloatTarget&) = delete;
    FloatTarget& operator=(const FloatTarget&) = delete;

    bool complete() const { return complete_; }
    GLuint texture() const { return texture_; }
    GLuint framebuffer() const { return framebuffer_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Pixels row by row from the bottom: four floats each, one float of
    // depth, one byte of stencil.
    std::vector<float> read() const { return readAs<float>(GL_RGBA, GL_FLOAT, 4); }
    std::vector<float> readDepth() const { return readAs<float>(GL_DEPTH_COMPONENT, GL_FLOAT, 1); }
    std::vector<unsigned char> readStencil() const {
        return readAs<unsigned char>(GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, 1);
    }

private:
    template <class T>
    std::vector<T> readAs(GLenum format, GLenum type, std::size_t channels) const {
        std::vector<T> out(std::size_t(width_) * std::size_t(height_) * channels);
        GLint framebuffer = 0, alignment = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
        // Rows of one-byte stencil are not padded to four.
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width_, height_, format, type, out.data());
        glPixelStorei(GL_PACK_ALIGNMENT, alignment);
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(framebuffer));
        return out;
    }

    int width_, height_;
    GLuint texture_ = 0, framebuffer_ = 0, depth_ = 0;
    bool complete_ = false;
};

// A float texture with one level, clamped to the edge, left unbound.
// `rgba` holds width * height * depth texels, row by row from the bottom,
// layer by layer; a cube map holds its six faces in +X, -X, +Y, -Y, +Z, -Z
// order. Empty leaves the texels undefined.
inline GLuint makeFloatTexture(GLenum target, int width, int height, int depth, const std::vector<float>& rgba,
                               GLenum filter = GL_NEAREST) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(target, name);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GLint(filter));
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GLint(filter));
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, 0);
    const float* data = rgba.empty() ? nullptr : rgba.data();
    switch (target) {
        case GL_TEXTURE_1D: glTexImage1D(target, 0, GL_RGBA32F, width, 0, GL_RGBA, GL_FLOAT, data); break;
        case GL_TEXTURE_3D:
            glTexImage3D(target, 0, GL_RGBA32F, width, height, depth, 0, GL_RGBA, GL_FLOAT, data);
            break;
        case GL_TEXTURE_CUBE_MAP:
            for (int face = 0; face < 6; ++face) {
                const float* faceData = data ? data + std::size_t(face) * std::size_t(width * height) * 4 : nullptr;
                glTexImage2D(GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face), 0, GL_RGBA32F, width, height, 0, GL_RGBA,
                             GL_FLOAT, faceData);
            }
            break;
        default: glTexImage2D(target, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, data); break;
    }
    glBindTexture(target, 0);
    return name;
}

// ARB text loaded into a program object of its own, deleted with it (drawing
// with an object whose text was replaced crashed in llvmpipe). Left bound.
struct ArbProgram {
    GLuint name = 0;
    GLint position = -1;  // GL_PROGRAM_ERROR_POSITION_ARB
    std::string message;  // GL_PROGRAM_ERROR_STRING_ARB
    std::string error;    // "" or GL's complaint with its place

    explicit ArbProgram(const std::string& text) {
        while (glGetError() != GL_NO_ERROR) {
        }
        glGenProgramsARB(1, &name);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, name);
        glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(text.size()), text.data());
        glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
        const GLenum code = glGetError();
        const GLubyte* said = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
        message = said ? reinterpret_cast<const char*>(said) : "";
        if (position != -1 || code != GL_NO_ERROR)
            error = "GL error " + std::to_string(code) + " at position " + std::to_string(position) + ": " + message;
    }
    ~ArbProgram() {
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, 0);
        glDeleteProgramsARB(1, &name);
    }
    ArbProgram(const ArbProgram&) = delete;
    ArbProgram& operator=(const ArbProgram&) = delete;

    bool loaded() const { return error.empty(); }
};

}  // namespace glharness
