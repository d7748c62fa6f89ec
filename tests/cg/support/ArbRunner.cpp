#include "tests/cg/support/ArbRunner.h"

#include "tests/support/FloatGL.h"

namespace cgtest {

namespace {

void vertexAttributes(const ArbRun& run, float u, float v) {
    auto at = [&](const Ramp& r) {
        Rgba x;
        for (int c = 0; c < 4; ++c) x[c] = r.base[c] + r.dx[c] * u + r.dy[c] * v;
        return x;
    };
    for (int n = 0; n < 8; ++n) {
        Rgba t = at(run.texcoord[n]);
        glMultiTexCoord4f(GLenum(GL_TEXTURE0 + n), t[0], t[1], t[2], t[3]);
    }
    Rgba s = at(run.secondaryColor);
    glSecondaryColor3f(s[0], s[1], s[2]);
    glFogCoordf(run.fog);
    Rgba c = at(run.color);
    glColor4f(c[0], c[1], c[2], c[3]);
}

}  // namespace

Rgba Ramp::at(int i, int j, int width, int height) const {
    const float u = (float(i) + 0.5f) / float(width), v = (float(j) + 0.5f) / float(height);
    Rgba x;
    for (int c = 0; c < 4; ++c) x[c] = base[c] + dx[c] * u + dy[c] * v;
    return x;
}

Rgba ArbResult::pixel(int i, int j) const {
    std::size_t at = (std::size_t(j) * std::size_t(width) + std::size_t(i)) * 4;
    return Rgba{rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]};
}

ArbResult runArb(const std::string& text, const ArbRun& run) {
    ArbResult result;
    result.width = run.width;
    result.height = run.height;
    const glharness::ArbProgram program(text);
    result.errorPosition = program.position;
    result.error = program.message;
    result.loaded = program.loaded();
    if (!result.loaded) return result;
    const struct {
        GLenum name;
        GLint* into;
    } counts[] = {
        {GL_PROGRAM_INSTRUCTIONS_ARB, &result.instructions},
        {GL_PROGRAM_ALU_INSTRUCTIONS_ARB, &result.aluInstructions},
        {GL_PROGRAM_TEX_INSTRUCTIONS_ARB, &result.texInstructions},
        {GL_PROGRAM_TEX_INDIRECTIONS_ARB, &result.texIndirections},
        {GL_PROGRAM_TEMPORARIES_ARB, &result.temporaries},
        {GL_PROGRAM_PARAMETERS_ARB, &result.parameters},
        {GL_PROGRAM_ATTRIBS_ARB, &result.attributes},
    };
    for (const auto& c : counts) glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, c.name, c.into);
    for (std::size_t n = 0; n < run.locals.size(); ++n) {
        const Rgba& l = run.locals[n];
        glProgramLocalParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, GLuint(n), l[0], l[1], l[2], l[3]);
    }

    const glharness::FloatTarget target(run.width, run.height, GL_RGBA32F, {},
                                        run.depth ? glharness::FloatTarget::Depth32F : glharness::FloatTarget::NoDepth);
    std::vector<GLuint> textures;
    for (const Texture& t : run.textures) {
        textures.push_back(glharness::makeFloatTexture(t.target, t.width, t.height, t.depth, t.rgba, t.filter));
        glActiveTexture(GLenum(GL_TEXTURE0 + t.unit));
        glBindTexture(t.target, textures.back());
    }
    glActiveTexture(GL_TEXTURE0);

    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glViewport(0, 0, run.width, run.height);
    glDisable(GL_BLEND);
    glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glFogi(GL_FOG_COORD_SRC, GL_FOG_COORD);
    glShadeModel(GL_SMOOTH);
    glClearColor(run.clear[0], run.clear[1], run.clear[2], run.clear[3]);
    glClearDepth(run.clearDepth);
    glClear(GL_COLOR_BUFFER_BIT | (run.depth ? GL_DEPTH_BUFFER_BIT : 0));
    if (run.depth) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        glDepthMask(GL_TRUE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glEnable(GL_FRAGMENT_PROGRAM_ARB);
    glBegin(GL_QUADS);
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& c : corners) {
        vertexAttributes(run, c[0], c[1]);
        glVertex2f(c[0], c[1]);
    }
    glEnd();
    glDisable(GL_FRAGMENT_PROGRAM_ARB);

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();

    result.rgba = target.read();
    if (run.depth) result.depth = target.readDepth();

    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    for (std::size_t n = 0; n < textures.size(); ++n) {
        glActiveTexture(GLenum(GL_TEXTURE0 + run.textures[n].unit));
        glBindTexture(run.textures[n].target, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    if (!textures.empty()) glDeleteTextures(GLsizei(textures.size()), textures.data());
    return result;
}

}  // namespace cgtest
