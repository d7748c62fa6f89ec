// The cross-check's field on GL: one point a pixel on a small float target,
// each with its own attributes (so no interpolation blurs them), the
// uniforms and a texture of the right target on every unit a program
// samples. A stencil bit marks the pixels the program did not discard.
// What the fragments really receive is read back once, so the CPU side
// judges each pixel on the inputs GL gave it.
#pragma once

#include "fuzz/cross_check.h"
#include "tests/support/FloatGL.h"

#include <GL/glew.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace glfield {

using crosscheck::kHeight;
using crosscheck::kPixels;
using crosscheck::kWidth;

const float kClear[4] = {-1234.5f, 0.75f, 1e10f, -0.0f};

// What a draw left, pixel by pixel from the bottom row.
struct Picture {
    std::vector<float> rgba, depth;
    std::vector<unsigned char> stencil;

    cgc::ir::Result at(int p) const {
        cgc::ir::Result r;
        r.killed = stencil[std::size_t(p)] == 0;
        for (int c = 0; c < 4; ++c) r.color[std::size_t(c)] = rgba[std::size_t(p) * 4 + std::size_t(c)];
        r.depth = depth[std::size_t(p)];
        r.wroteColor = r.wroteDepth = true;
        return r;
    }
};

inline GLenum glTarget(cgc::ir::TexTarget t) {
    switch (t) {
        case cgc::ir::Tex1D: return GL_TEXTURE_1D;
        case cgc::ir::Tex3D: return GL_TEXTURE_3D;
        case cgc::ir::TexRect: return GL_TEXTURE_RECTANGLE_ARB;
        case cgc::ir::TexCube: return GL_TEXTURE_CUBE_MAP;
        default: return GL_TEXTURE_2D;
    }
}

class Field {
public:
    // Needs a current context with ARB fragment programs and float targets.
    // Returns "" or what is missing.
    std::string start() {
        target_ = std::make_unique<glharness::FloatTarget>(kWidth, kHeight, GL_RGBA32F, std::vector<float>{},
                                                           glharness::FloatTarget::Depth32FStencil8);
        if (!target_->complete()) return "no float target";
        // Left bound: every draw and read of the field is into it.
        glBindFramebuffer(GL_FRAMEBUFFER, target_->framebuffer());

        glViewport(0, 0, kWidth, kHeight);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kWidth, 0, kHeight, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
        glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
        glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
        glFogi(GL_FOG_COORD_SRC, GL_FOG_COORD);
        glDisable(GL_BLEND);
        glDisable(GL_POINT_SMOOTH);
        glPointSize(1);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        glDepthMask(GL_TRUE);
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_ALWAYS, 1, 0xff);
        glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

        // What each attribute really is at each pixel.
        fragments_ = crosscheck::designedField();
        static const char* const kAttributes[12] = {
            "texcoord[0]", "texcoord[1]", "texcoord[2]", "texcoord[3]", "texcoord[4]", "texcoord[5]",
            "texcoord[6]", "texcoord[7]", "color",       "color.secondary", "position", "fogcoord"};
        for (int a = 0; a < 12; ++a) {
            const std::string text = std::string("!!ARBfp1.0\nMOV result.color, fragment.") + kAttributes[a] + ";\nEND\n";
            const Program probe(text);
            if (!probe.error.empty()) return probe.error;
            const Picture seen = draw(probe, {}, 0);
            for (int p = 0; p < kPixels; ++p) {
                if (seen.stencil[std::size_t(p)] != 1) return "a point missed its pixel";
                for (int c = 0; c < 4; ++c)
                    fragments_[std::size_t(p)].inputs[a][std::size_t(c)] = seen.rgba[std::size_t(p) * 4 + std::size_t(c)];
            }
        }
        return glGetError() == GL_NO_ERROR ? "" : "a GL error while setting up";
    }

    // The fragments as GL delivers them, for the CPU side.
    const std::vector<cgc::ir::Fragment>& fragments() const { return fragments_; }

    using Program = glharness::ArbProgram;

    // Runs a loaded program over the field with `lookups` (unit, target)
    // bound and program.local[0 .. locals-1] set.
    Picture draw(const Program& program, const std::vector<std::pair<int, cgc::ir::TexTarget>>& lookups, int locals) {
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program.name);
        for (int n = 0; n < locals; ++n)
            glProgramLocalParameter4fvARB(GL_FRAGMENT_PROGRAM_ARB, GLuint(n), crosscheck::uniform(n).data());
        for (const auto& [unit, target] : lookups) {
            glActiveTexture(GLenum(GL_TEXTURE0 + unit));
            glBindTexture(glTarget(target), texture(unit, target));
        }
        glActiveTexture(GL_TEXTURE0);
        glClearColor(kClear[0], kClear[1], kClear[2], kClear[3]);
        glClearDepth(0.25);
        glClearStencil(0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glBegin(GL_POINTS);
        for (int p = 0; p < kPixels; ++p) {
            using crosscheck::attribute;
            for (int n = 0; n < 8; ++n) glMultiTexCoord4fv(GLenum(GL_TEXTURE0 + n), attribute(p, n).data());
            glColor4fv(attribute(p, cgc::ir::AttrColor0).data());
            glSecondaryColor3fv(attribute(p, cgc::ir::AttrColor1).data());
            glFogCoordf(attribute(p, cgc::ir::AttrFog)[0]);
            // Depth varies across the field, so WPOS.z and an unwritten depth differ by pixel.
            glVertex3f(float(p % kWidth) + 0.5f, float(p / kWidth) + 0.5f, float(p % 7) * 0.25f - 0.75f);
        }
        glEnd();
        Picture out;
        out.rgba = target_->read();
        out.depth = target_->readDepth();
        out.stencil = target_->readStencil();
        for (const auto& [unit, target] : lookups) {
            glActiveTexture(GLenum(GL_TEXTURE0 + unit));
            glBindTexture(glTarget(target), 0);
        }
        glActiveTexture(GL_TEXTURE0);
        return out;
    }

private:
    GLuint texture(int unit, cgc::ir::TexTarget target) {
        GLuint& name = textures_[{unit, target}];
        if (name) return name;
        const crosscheck::Shape s = crosscheck::shapeOf(target);
        std::vector<float> rgba;
        for (int face = 0; face < s.faces; ++face)
            for (int z = 0; z < s.depth; ++z)
                for (int y = 0; y < s.height; ++y)
                    for (int x = 0; x < s.width; ++x) {
                        const cgc::ir::Vec4 v = crosscheck::texel(unit, target, x, y, z, face);
                        rgba.insert(rgba.end(), v.begin(), v.end());
                    }
        name = glharness::makeFloatTexture(glTarget(target), s.width, s.height, s.depth, rgba);
        return name;
    }

    std::unique_ptr<glharness::FloatTarget> target_;
    std::map<std::pair<int, int>, GLuint> textures_;
    std::vector<cgc::ir::Fragment> fragments_;
};

}  // namespace glfield
