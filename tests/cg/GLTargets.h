// A pass drawn the way the program draws its passes, through the runtime,
// into the shared harness's float targets, for running compiled programs.
#pragma once

#include "cg/cgGL.h"
#include "heat/heat.h"
#include "tests/support/FloatGL.h"

#include <GL/glew.h>

namespace cgtest {

// The copy program exactly as the program embeds it.
inline const char* const kCopyProgram = copyProgramSource;

using glharness::FloatTarget;

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
