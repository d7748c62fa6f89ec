// The field random programs run on, both on GL (through ArbRunner) and in
// the reference interpreter: an 8 x 8 target with its own attribute ramps,
// program.local values, and a small texture of the right kind on each
// sampler's unit. Values stay within a few units, so well-formed programs
// keep clear of overflow.
#pragma once

#include "cg/compiler.h"
#include "cg/interp/interp.h"
#include "tests/cg/support/ArbReference.h"
#include "tests/cg/support/ArbRunner.h"

#include <cmath>
#include <string>
#include <vector>

namespace oracletest {

inline GLenum glTarget(int target) {
    static const GLenum targets[] = {GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_3D, GL_TEXTURE_RECTANGLE_ARB,
                                     GL_TEXTURE_CUBE_MAP};
    return targets[target];
}

// A value in about [-2, 2) that looks unrelated to its neighbours' keys. No
// value on the field is a short binary fraction, so products and sums of them
// land on whole numbers (texel edges, floor's steps) only by real chance.
inline float spread(unsigned key) {
    unsigned z = key * 2654435761u + 0x9e3779b9u;
    z ^= z >> 15;
    z *= 0x85ebca6bu;
    z ^= z >> 13;
    return float(int(z % 4096u) - 2048) / 1000.0f + 0.000317f;  // not a multiple of a power of two
}

// What a discarded pixel keeps: no colour a program on this field makes.
constexpr cgtest::Rgba kClear{-1234.5f, 0.75f, 1e10f, -3.5f};

inline cgtest::ArbRun field(const std::vector<cgc::ParameterInfo>& parameters) {
    cgtest::ArbRun run;
    run.width = run.height = 8;
    run.texcoord[0] = {{-1.43f, 0.27f, 0.51f, 1.07f}, {2.93f, 0.53f, -1.07f, 0.47f}, {0.57f, -2.41f, 1.53f, 0.29f}};
    run.texcoord[1] = {{0.31f, -0.7f, 1.43f, 2.03f}, {1.1f, 0.41f, -0.63f, 0.51f}, {-0.53f, 1.3f, 0.21f, 0.27f}};
    run.texcoord[2] = {{0.11f, 0.93f, 0, 1}, {0.79f, 0, 0, 0}, {0, -0.83f, 0, 0}};
    run.texcoord[3] = {{0.21f, -0.31f, 0.63f, 1}, {-1.23f, 0.41f, 0.33f, 0}, {0.29f, 1.13f, -0.91f, 0}};
    run.color = {{0.21f, 0.39f, 0.61f, 0.79f}, {0.71f, -0.23f, 0.07f, 0}, {0.03f, 0.61f, -0.43f, 0.13f}};
    run.secondaryColor = {{0.9f, 0.1f, 0.5f, 0}, {-0.2f, 0.3f, 0, 0}, {0, 0, 0.2f, 0}};
    run.fog = 0.375f;
    run.clear = kClear;
    run.locals.resize(32);
    for (unsigned r = 0; r < run.locals.size(); ++r)
        for (unsigned c = 0; c < 4; ++c) run.locals[r][c] = spread(r * 4 + c);
    for (const cgc::ParameterInfo& p : parameters) {
        if (p.kind == cgc::ParameterInfo::Sampler) {
            cgtest::Texture t;
            t.unit = p.slot;
            t.target = glTarget(p.target);
            // One texel a face for cube maps, as the CPU reference samples them.
            if (t.target == GL_TEXTURE_1D) t.width = 4;
            else if (t.target == GL_TEXTURE_3D) t.width = t.height = t.depth = 2;
            else if (t.target != GL_TEXTURE_CUBE_MAP) t.width = t.height = 4;
            int texels = t.width * t.height * t.depth * (t.target == GL_TEXTURE_CUBE_MAP ? 6 : 1);
            for (int k = 0; k < texels * 4; ++k) t.rgba.push_back(spread(unsigned(1000 + p.slot * 97 + k)));
            run.textures.push_back(t);
        } else if (p.typeName.rfind("int", 0) == 0 || p.typeName.rfind("bool", 0) == 0) {
            // Whole numbers where the type is a count or a truth.
            for (int r = p.slot; r < p.slot + p.slots && r < int(run.locals.size()); ++r)
                for (float& x : run.locals[std::size_t(r)]) x = p.typeName[0] == 'b' ? float(x > 0) : std::round(x);
        }
    }
    return run;
}

// Pixel (i, j) of the run as the interpreter takes it: the same floats.
inline cgc::interp::Inputs inputsAt(const cgtest::ArbRun& run, int i, int j) {
    const cgc::ir::Fragment f = cgtest::fragmentAt(run, i, j);
    cgc::interp::Inputs in;
    for (int a = 0; a < 12; ++a)
        for (int c = 0; c < 4; ++c) in.attributes[std::size_t(a)][std::size_t(c)] = f.inputs[a][std::size_t(c)];
    for (std::size_t r = 0; r < run.locals.size(); ++r)
        in.locals[int(r)] = {run.locals[r][0], run.locals[r][1], run.locals[r][2], run.locals[r][3]};
    for (const cgtest::Texture& t : run.textures) {
        static const cgc::SamplerKind kinds[] = {cgc::SamplerKind::Sampler1D, cgc::SamplerKind::Sampler2D,
                                                 cgc::SamplerKind::Sampler3D, cgc::SamplerKind::SamplerRect,
                                                 cgc::SamplerKind::SamplerCube};
        cgc::interp::Texture x;
        for (int k = 0; k < 5; ++k)
            if (glTarget(k) == t.target) x.kind = kinds[k];
        x.width = t.width;
        x.height = t.height;
        x.depth = t.depth;
        for (std::size_t k = 0; k + 3 < t.rgba.size(); k += 4) x.texels.push_back({t.rgba[k], t.rgba[k + 1], t.rgba[k + 2], t.rgba[k + 3]});
        in.textures[t.unit] = x;
    }
    return in;
}

}  // namespace oracletest
