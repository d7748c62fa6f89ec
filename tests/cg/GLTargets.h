// Small float render targets made with raw GL, and a pass drawn the way the
// program draws its passes, for running compiled programs and reading back.
#pragma once

#include "cg/cgGL.h"
#include "heat/heat.h"

#include <GL/glew.h>

#include <vector>

namespace cgtest {

// The copy program exactly as the program embeds it.
inline const char* const kCopyProgram = copyProgramSource;

// A rectangle texture with four float channels and a framebuffer on it.
class FloatTarget {
public:
    FloatTarget(int width, int height, GLenum internalFormat, const std::vector<float>& rgba = {});
    ~FloatTarget();
    FloatTarget(const FloatTarget&) = delete;
    FloatTarget& operator=(const FloatTarget&) = delete;

    bool complete() const { return complete_; }
    GLuint texture() const { return texture_; }
    GLuint framebuffer() const { return framebuffer_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::vector<float> read() const;

private:
    int width_, height_;
    GLuint texture_ = 0, framebuffer_ = 0;
    bool complete_ = false;
};

// One pass into target: the profile enabled, the program bound, the sampler
// (if any) set to source, a GL_QUADS quad over the unit square with texel
// texture coordinates (0,0)..(W,H). Attributes and matrices are restored.
void drawPass(const FloatTarget& target, CGprogram program, CGparameter sampler = nullptr,
              const FloatTarget* source = nullptr);

// Skips the calling test unless the context can run these passes.
#define REQUIRE_FLOAT_TARGETS()                               \
    do {                                                      \
        REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");      \
        REQUIRE_GL_EXTENSION("GL_ARB_texture_rectangle");     \
        REQUIRE_GL_EXTENSION("GL_ARB_texture_float");         \
        REQUIRE_GL_EXTENSION("GL_ARB_framebuffer_object");    \
    } while (0)

}  // namespace cgtest
