// The cross-check's field on GL: one point a pixel on a small float target,
// each with its own attributes (so no interpolation blurs them), the
// uniforms and a texture of the right target on every unit a program
// samples. A stencil bit marks the pixels the program did not discard.
// What the fragments really receive is read back once, so the CPU side
// judges each pixel on the inputs GL gave it.
#pragma once

#include "fuzz/cross_check.h"

#include <GL/glew.h>

#include <map>
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
        glGenTextures(1, &colour_);
        glBindTexture(GL_TEXTURE_2D, colour_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, kWidth, kHeight, 0, GL_RGBA, GL_FLOAT, nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        glGenRenderbuffers(1, &depth_);
        glBindRenderbuffer(GL_RENDERBUFFER, depth_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH32F_STENCIL8, kWidth, kHeight);
        glGenFramebuffers(1, &framebuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return "no float target";

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

    // ARB text loaded into a program object of its own, deleted with it:
    // drawing with an object whose text was replaced crashed in llvmpipe.
    struct Program {
        GLuint name = 0;
        std::string error;  // "" or GL's complaint
        explicit Program(const std::string& text) {
            while (glGetError() != GL_NO_ERROR) {
            }
            glGenProgramsARB(1, &name);
            glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, name);
            glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(text.size()), text.data());
            GLint position = 0;
            glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
            const GLenum code = glGetError();
            if (position == -1 && code == GL_NO_ERROR) return;
            const GLubyte* message = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
            error = "GL error " + std::to_string(code) + " at position " + std::to_string(position) + ": " +
                    (message ? reinterpret_cast<const char*>(message) : "");
        }
        ~Program() {
            glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, 0);
            glDeleteProgramsARB(1, &name);
        }
        Program(const Program&) = delete;
        Program& operator=(const Program&) = delete;
    };

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
        out.rgba.resize(std::size_t(kPixels) * 4);
        out.depth.resize(std::size_t(kPixels));
        out.stencil.resize(std::size_t(kPixels));
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_FLOAT, out.rgba.data());
        glReadPixels(0, 0, kWidth, kHeight, GL_DEPTH_COMPONENT, GL_FLOAT, out.depth.data());
        glReadPixels(0, 0, kWidth, kHeight, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, out.stencil.data());
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
        const GLenum t = glTarget(target);
        glGenTextures(1, &name);
        glBindTexture(t, name);
        glTexParameteri(t, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(t, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(t, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(t, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(t, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
        glTexParameteri(t, GL_TEXTURE_MAX_LEVEL, 0);
        for (int face = 0; face < s.faces; ++face) {
            std::vector<float> rgba;
            for (int z = 0; z < s.depth; ++z)
                for (int y = 0; y < s.height; ++y)
                    for (int x = 0; x < s.width; ++x) {
                        const cgc::ir::Vec4 v = crosscheck::texel(unit, target, x, y, z, face);
                        rgba.insert(rgba.end(), v.begin(), v.end());
                    }
            switch (target) {
                case cgc::ir::Tex1D: glTexImage1D(t, 0, GL_RGBA32F, s.width, 0, GL_RGBA, GL_FLOAT, rgba.data()); break;
                case cgc::ir::Tex3D:
                    glTexImage3D(t, 0, GL_RGBA32F, s.width, s.height, s.depth, 0, GL_RGBA, GL_FLOAT, rgba.data());
                    break;
                case cgc::ir::TexCube:
                    glTexImage2D(GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face), 0, GL_RGBA32F, s.width, s.height, 0,
                                 GL_RGBA, GL_FLOAT, rgba.data());
                    break;
                default: glTexImage2D(t, 0, GL_RGBA32F, s.width, s.height, 0, GL_RGBA, GL_FLOAT, rgba.data()); break;
            }
        }
        glBindTexture(t, 0);
        return name;
    }

    GLuint colour_ = 0, depth_ = 0, framebuffer_ = 0;
    std::map<std::pair<int, int>, GLuint> textures_;
    std::vector<cgc::ir::Fragment> fragments_;
};

}  // namespace glfield
