#include "tests/cg/support/ArbReference.h"

#include <algorithm>
#include <cmath>

namespace cgtest {

using cgc::ir::Vec4;

namespace {

int texel(float coordinate, int size, bool normalised) {
    float x = normalised ? coordinate * float(size) : coordinate;
    return std::clamp(int(std::floor(x)), 0, size - 1);
}

Vec4 fetch(const Texture& t, int x, int y, int z, int face) {
    std::size_t at = ((std::size_t(face) * t.depth + std::size_t(z)) * t.height + std::size_t(y)) * t.width + std::size_t(x);
    at *= 4;
    if (at + 3 >= t.rgba.size()) return Vec4{0, 0, 0, 1};
    return Vec4{t.rgba[at], t.rgba[at + 1], t.rgba[at + 2], t.rgba[at + 3]};
}

}  // namespace

Vec4 sampleTexture(const ArbRun& run, cgc::ir::Op op, int unit, cgc::ir::TexTarget target, const Vec4& coordinate) {
    Vec4 c = coordinate;
    if (op == cgc::ir::Op::Txp)
        for (int k = 0; k < 3; ++k) c[k] /= coordinate[3];
    for (const Texture& t : run.textures) {
        if (t.unit != unit) continue;
        switch (target) {
            case cgc::ir::Tex1D: return fetch(t, texel(c[0], t.width, true), 0, 0, 0);
            case cgc::ir::Tex2D: return fetch(t, texel(c[0], t.width, true), texel(c[1], t.height, true), 0, 0);
            case cgc::ir::TexRect: return fetch(t, texel(c[0], t.width, false), texel(c[1], t.height, false), 0, 0);
            case cgc::ir::Tex3D:
                return fetch(t, texel(c[0], t.width, true), texel(c[1], t.height, true), texel(c[2], t.depth, true), 0);
            case cgc::ir::TexCube: {
                // The face of the major axis; tests use one texel a face.
                int axis = 0;
                for (int k = 1; k < 3; ++k)
                    if (std::fabs(c[k]) > std::fabs(c[axis])) axis = k;
                return fetch(t, 0, 0, 0, axis * 2 + (c[axis] < 0 ? 1 : 0));
            }
        }
    }
    return Vec4{0, 0, 0, 1};
}

cgc::ir::Fragment fragmentAt(const ArbRun& run, int i, int j) {
    cgc::ir::Fragment f;
    for (int n = 0; n < 8; ++n) {
        Rgba t = run.texcoord[n].at(i, j, run.width, run.height);
        f.inputs[cgc::ir::AttrTexCoord0 + n] = Vec4{t[0], t[1], t[2], t[3]};
    }
    Rgba c = run.color.at(i, j, run.width, run.height);
    f.inputs[cgc::ir::AttrColor0] = Vec4{c[0], c[1], c[2], c[3]};
    Rgba s = run.secondaryColor.at(i, j, run.width, run.height);
    f.inputs[cgc::ir::AttrColor1] = Vec4{s[0], s[1], s[2], 0};
    f.inputs[cgc::ir::AttrPosition] = Vec4{float(i) + 0.5f, float(j) + 0.5f, 0.5f, 1};
    f.inputs[cgc::ir::AttrFog] = Vec4{run.fog, 0, 0, 1};
    for (const Rgba& l : run.locals) f.uniforms.push_back(Vec4{l[0], l[1], l[2], l[3]});
    f.sample = [&run](cgc::ir::Op op, int unit, cgc::ir::TexTarget target, const Vec4& coordinate) {
        return sampleTexture(run, op, unit, target, coordinate);
    };
    return f;
}

}  // namespace cgtest
