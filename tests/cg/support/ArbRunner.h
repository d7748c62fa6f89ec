// Runs `!!ARBfp1.0` text on the current GL context with raw GL: loads it,
// draws one quad over a small RGBA32F rectangle target with the attributes,
// local parameters and textures given, and reads the target back. Needs a
// context with ARB_fragment_program, float textures and framebuffer objects
// (FloatTargetTest skips without them).
#pragma once

#include <GL/glew.h>

#include <array>
#include <string>
#include <vector>

namespace cgtest {

using Rgba = std::array<float, 4>;

// An attribute across the target: at pixel (i, j)'s centre it is
// base + dx * (i + 0.5) / width + dy * (j + 0.5) / height, which the quad's
// interpolation reproduces (up to rounding).
struct Ramp {
    Rgba base{0, 0, 0, 0};
    Rgba dx{0, 0, 0, 0};
    Rgba dy{0, 0, 0, 0};
    Rgba at(int i, int j, int width, int height) const;
};

struct Texture {
    int unit = 0;
    GLenum target = GL_TEXTURE_2D;  // GL_TEXTURE_1D, _2D, _3D, _RECTANGLE or _CUBE_MAP
    int width = 1, height = 1, depth = 1;
    // width * height * depth texels, row by row from the bottom, layer by
    // layer; a cube map holds its six faces in +X, -X, +Y, -Y, +Z, -Z order.
    std::vector<float> rgba;
    GLenum filter = GL_NEAREST;  // wrapping clamps to the edge
};

struct ArbRun {
    int width = 4, height = 4;
    Ramp texcoord[8];
    Ramp color, secondaryColor;  // not clamped to [0, 1]; the secondary colour has no alpha
    float fog = 0;               // fragment.fogcoord.x, the same everywhere
    std::vector<Rgba> locals;    // program.local[n]
    std::vector<Texture> textures;
    Rgba clear{0, 0, 0, 0};  // the target before the pass, what a killed fragment leaves
    bool depth = false;      // a depth buffer, cleared to clearDepth, that the pass writes
    float clearDepth = 1;
};

struct ArbResult {
    bool loaded = false;
    GLint errorPosition = -1;  // GL_PROGRAM_ERROR_POSITION_ARB
    std::string error;         // GL_PROGRAM_ERROR_STRING_ARB
    // What GL counts in the loaded program (glGetProgramivARB).
    GLint instructions = 0, aluInstructions = 0, texInstructions = 0, texIndirections = 0;
    GLint temporaries = 0, parameters = 0, attributes = 0;
    int width = 0, height = 0;
    std::vector<float> rgba;   // width * height pixels, row by row from the bottom
    std::vector<float> depth;  // when the run asked for depth
    Rgba pixel(int i, int j) const;
};

ArbResult runArb(const std::string& text, const ArbRun& run);

}  // namespace cgtest
