// Optimised against unoptimised code of one program, on the CPU: the field
// of fragments both run on (also what the fuzzer draws on GL), the stages
// run one by one so both IR forms are at hand, and the comparison.
//
// The optimizer may change a result only within float rounding (x/c becomes
// x*(1/c); on GL a MUL and an ADD become one MAD, a constant is folded on
// the CPU where the GPU would have approximated), in the sign of a zero and
// in what a NaN turns into at a clamp. Rounding is harmless unless the
// program magnifies it: a floor, a comparison or a texel boundary right at
// the value, a cancellation. So a difference counts only where both forms
// of the program are robust at that fragment: no NaN in a lane they use,
// no product overflowing, and the same result when each computed value is
// nudged by a few ulps of its largest term (and zeros flip their sign).
#pragma once

#include "cg/arb/backend.h"
#include "cg/compiler.h"
#include "cg/ir/eval.h"
#include "cg/ir/ir.h"
#include "cg/pipeline.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace crosscheck {

using cgc::ir::Fragment;
using cgc::ir::Function;
using cgc::ir::Op;
using cgc::ir::TexTarget;
using cgc::ir::Vec4;

constexpr int kWidth = 8, kHeight = 8, kPixels = kWidth * kHeight;
constexpr int kUniforms = 256;  // program.local registers a program may use
constexpr float kNaN = NAN;

// Values where arithmetic is delicate, all finite: signed zeros, exact
// halves, tiny and huge magnitudes (products of them overflow or go
// subnormal), integers and near-integers.
inline float awkward(std::uint64_t key) {
    static const float kValues[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 2.0f, -3.0f, 0.25f, 0.1f,
                                    1e-3f, -1e-4f, 7.25f, 100.0f, -1000.0f, 65504.0f, 1e6f, -1e20f,
                                    1e20f, 3e38f, 1.5e-38f, 16777215.0f, 0.9999999f, -2.5f};
    // splitmix64, so neighbouring keys look unrelated
    std::uint64_t z = key + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    if (z % 8 < 3) return kValues[(z >> 8) % (sizeof kValues / sizeof *kValues)];
    return float(double((z >> 11) % 64001) / 8000.0 - 4.0);  // -4 .. 4 in steps of 1/8000
}

// Fragment attribute `attr` of pixel p as the field asks for it (GL may
// deliver it differently; the fuzzer reads back what it delivered).
inline Vec4 attribute(int p, int attr) {
    Vec4 v;
    for (int c = 0; c < 4; ++c) v[c] = awkward(std::uint64_t(p) * 64 + std::uint64_t(attr) * 4 + std::uint64_t(c));
    if (attr == cgc::ir::AttrPosition) v = Vec4{float(p % kWidth) + 0.5f, float(p / kWidth) + 0.5f, 0.5f, 1};
    if (attr == cgc::ir::AttrFog) v = Vec4{v[0], 0, 0, 1};
    if (attr == cgc::ir::AttrColor1) v[3] = 0;
    return v;
}

inline Vec4 uniform(int slot) {
    Vec4 v;
    for (int c = 0; c < 4; ++c) v[c] = awkward(1000003ull * 7 + std::uint64_t(slot) * 4 + std::uint64_t(c));
    return v;
}

// Every sampler gets a texture of its target on its unit; the texels differ
// by unit and target, so a lookup on the wrong one shows.
struct Shape {
    int width, height, depth, faces;
};

inline Shape shapeOf(TexTarget target) {
    switch (target) {
        case cgc::ir::Tex1D: return {4, 1, 1, 1};
        case cgc::ir::Tex3D: return {2, 2, 2, 1};
        case cgc::ir::TexCube: return {2, 2, 1, 6};
        default: return {4, 4, 1, 1};  // 2D, RECT
    }
}

inline Vec4 texel(int unit, TexTarget target, int x, int y, int z, int face) {
    const Shape s = shapeOf(target);
    const std::uint64_t index = std::uint64_t(((face * s.depth + z) * s.height + y) * s.width + x);
    const std::uint64_t key = 5000011ull * 13 + (std::uint64_t(unit) * 5 + target) * 4096 + index * 4;
    Vec4 v;
    for (int c = 0; c < 4; ++c) v[c] = awkward(key + std::uint64_t(c));
    return v;
}

// Nearest texel, clamped to the edge; never converts a NaN or a huge float.
inline int texelIndex(float coordinate, int size, bool normalised) {
    const float x = normalised ? coordinate * float(size) : coordinate;
    if (!(x >= 0)) return 0;
    if (x >= float(size)) return size - 1;
    return int(x);
}

inline Vec4 sample(Op op, int unit, TexTarget target, const Vec4& coordinate) {
    Vec4 c = coordinate;
    if (op == Op::Txp)
        for (int k = 0; k < 3; ++k) c[k] /= coordinate[3];
    const Shape s = shapeOf(target);
    switch (target) {
        case cgc::ir::Tex1D: return texel(unit, target, texelIndex(c[0], s.width, true), 0, 0, 0);
        case cgc::ir::Tex2D:
            return texel(unit, target, texelIndex(c[0], s.width, true), texelIndex(c[1], s.height, true), 0, 0);
        case cgc::ir::TexRect:
            return texel(unit, target, texelIndex(c[0], s.width, false), texelIndex(c[1], s.height, false), 0, 0);
        case cgc::ir::Tex3D:
            return texel(unit, target, texelIndex(c[0], s.width, true), texelIndex(c[1], s.height, true),
                         texelIndex(c[2], s.depth, true), 0);
        case cgc::ir::TexCube: {
            // The major axis picks the face (+X -X +Y -Y +Z -Z), the other two
            // place the texel, as GL's cube map table has it.
            const float x = c[0], y = c[1], z = c[2];
            float sc, tc, ma;
            int face;
            if (std::fabs(x) >= std::fabs(y) && std::fabs(x) >= std::fabs(z)) {
                face = std::signbit(x) ? 1 : 0, ma = std::fabs(x), sc = std::signbit(x) ? z : -z, tc = -y;
            } else if (std::fabs(y) >= std::fabs(z)) {
                face = std::signbit(y) ? 3 : 2, ma = std::fabs(y), sc = x, tc = std::signbit(y) ? -z : z;
            } else {
                face = std::signbit(z) ? 5 : 4, ma = std::fabs(z), sc = std::signbit(z) ? -x : x, tc = -y;
            }
            return texel(unit, target, texelIndex((sc / ma + 1) * 0.5f, s.width, true),
                         texelIndex((tc / ma + 1) * 0.5f, s.height, true), 0, face);
        }
    }
    return Vec4{0, 0, 0, 1};
}

// The field's fragments, row by row from the bottom, as designed.
inline std::vector<Fragment> designedField() {
    std::vector<Fragment> field(kPixels);
    for (int p = 0; p < kPixels; ++p) {
        for (int a = 0; a < 12; ++a) field[std::size_t(p)].inputs[a] = attribute(p, a);
        for (int u = 0; u < kUniforms; ++u) field[std::size_t(p)].uniforms.push_back(uniform(u));
        field[std::size_t(p)].sample = sample;
    }
    return field;
}

// #include in fuzzed text reads these instead of the file system, so a run
// never depends on the machine's files and errors name known files.
inline bool readIncluded(const std::string& path, std::string* text, std::string* error) {
    if (path == "lib.cg") {
        *text = "#ifndef LIB\n#define LIB\n#define SCALE(x) ((x) * 0.5)\n"
                "float4 tint(float4 c, uniform float4 k) { return SCALE(c) + k; }\n#endif\n";
        return true;
    }
    if (path == "self.cg") {
        *text = "#include \"self.cg\"\n";
        return true;
    }
    *error = "No such file or directory";
    return false;
}

// "NAME:LINE:COL: error: ", where NAME may come from #line and hold
// anything, or nothing.
inline bool located(const std::string& error) {
    for (std::size_t at = error.find(": error: "); at != std::string::npos; at = error.find(": error: ", at + 1)) {
        std::size_t i = at, numbers = 0;
        while (numbers < 2) {
            std::size_t digits = 0;
            while (i > 0 && error[i - 1] >= '0' && error[i - 1] <= '9') --i, ++digits;
            if (!digits || i == 0 || error[i - 1] != ':') break;
            --i, ++numbers;
        }
        if (numbers == 2) return true;
    }
    return false;
}

// The front end, analysis and lowering, then the optimizer on a copy: the
// two IR forms whose ARB texts cgc::compile gives with and without
// Options::optimize.
struct Stages {
    std::string error;  // set when a stage failed
    Function before, after;
    std::vector<cgc::ParameterInfo> parameters;
};

inline Stages runStages(const char* text, std::size_t size, const std::string& name, const cgc::Options& options) {
    Stages out;
    cgc::Pipeline pipeline(text, size, name, options);
    if (!pipeline.run(cgc::Stage::Lower, &out.error)) return out;
    out.before = pipeline.lowered().function;
    if (!pipeline.run(cgc::Stage::Optimise, &out.error)) return out;
    out.after = pipeline.lowered().function;
    out.parameters = pipeline.lowered().parameters;
    return out;
}

// One CPU run of a function on a fragment, with what makes its result
// fragile there.
struct Run {
    cgc::ir::Result result;
    bool nan = false;       // a NaN read or made in a lane that is used
    bool overflow = false;  // a used product overflowed from finite factors (a MAD may not)
};

// How far another evaluation of one lane may land from this one, as a
// magnitude to scale a nudge by. A sum may be off by ulps of its largest
// term even where every step is exact: llvmpipe reassociates, so it may add
// y to x before subtracting x's own floor part (seen: 1e6 - 0.25 * 4e6 +
// -1.6006 gave -1.625). Approximated functions may differ anywhere.
inline double roundingScale(const cgc::ir::Inst& inst, const Vec4* s, const Vec4& v, int c) {
    const double a = s[0][std::size_t(c)], b = s[1][std::size_t(c)], d = s[2][std::size_t(c)];
    const Vec4 &x = s[0], &y = s[1];
    auto largest = [](std::initializer_list<double> terms) {
        double m = 0;
        for (double t : terms) m = std::max(m, std::fabs(t));
        return m;
    };
    switch (inst.op) {
        case Op::Add: return largest({a, b});
        case Op::Mul: return largest({a * b});
        case Op::Mad: return largest({a * b, d});
        case Op::Div: return largest({a / b});
        case Op::Lrp: return largest({a * b, (1 - a) * d, b, d});  // or d + a*(b - d), as a GPU may have it
        case Op::Dp3: return largest({double(x[0]) * y[0], double(x[1]) * y[1], double(x[2]) * y[2]});
        case Op::Dp4:
            return largest({double(x[0]) * y[0], double(x[1]) * y[1], double(x[2]) * y[2], double(x[3]) * y[3]});
        case Op::Dph: return largest({double(x[0]) * y[0], double(x[1]) * y[1], double(x[2]) * y[2], y[3]});
        case Op::Xpd: {
            if (c == 3) return 0;
            const std::size_t i = std::size_t(c + 1) % 3, j = std::size_t(c + 2) % 3;
            return largest({double(x[i]) * y[j], double(x[j]) * y[i]});
        }
        case Op::Dst: return c == 1 ? largest({double(x[1]) * y[1]}) : 0.0;
        case Op::Rcp: case Op::Rsq: case Op::Ex2: case Op::Pow: case Op::Lit: return std::fabs(v[std::size_t(c)]);
        case Op::Lg2: return std::max(1.0, std::fabs(double(v[std::size_t(c)])));
        case Op::Sin: case Op::Cos: return std::max(1.0, std::fabs(double(x[0])));
        default: return 0;  // MOV, ABS, FLR, FRC, MIN, MAX, SLT, SGE, CMP, VEC: no rounding
    }
}

// Nudges each computed lane by about 32 ulps of its rounding scale, and
// zeros to either sign and subnormals to zero or not, as another order of
// rounding or a GPU's arithmetic may have them.
struct Noise {
    std::mt19937 random;
    double relative = 4e-6;
    void apply(const cgc::ir::Inst& inst, const Vec4* sources, Vec4& v) {
        std::uniform_real_distribution<double> nudge(-relative, relative);
        const Vec4 exact = v;
        for (int c = 0; c < 4; ++c) {
            float& x = v[std::size_t(c)];
            if (!std::isfinite(x)) continue;
            if (std::fabs(x) < FLT_MIN) {
                if (random() % 2) x = random() % 2 ? 0.0f : -0.0f;
            } else {
                const double moved = x + nudge(random) * roundingScale(inst, sources, exact, c);
                x = std::fabs(moved) <= FLT_MAX ? float(moved) : moved > 0 ? INFINITY : -INFINITY;
            }
            if (inst.sat) x = std::fmin(std::fmax(x, 0.0f), 1.0f);
        }
    }
};

inline Run run(const Function& f, const std::vector<std::uint8_t>& used, const Fragment& frag, Noise* noise = nullptr) {
    Run out;
    std::vector<Vec4> values(f.insts.size(), Vec4{kNaN, kNaN, kNaN, kNaN});
    for (std::size_t n = 0; n < f.insts.size(); ++n) {
        const cgc::ir::Inst& inst = f.insts[n];
        Vec4 s[4];
        for (int i = 0; i < inst.nsrc; ++i)
            s[i] = inst.src[i].def == cgc::ir::kNone ? Vec4{kNaN, kNaN, kNaN, kNaN}
                                                     : cgc::ir::read(inst.src[i], values[inst.src[i].def]);
        const std::uint8_t mine = cgc::ir::isSink(inst.op) ? 0xf : used[n];
        bool finite = true;
        for (int i = 0; i < inst.nsrc; ++i) {
            const std::uint8_t lanes = cgc::ir::lanesRead(inst, i, mine);
            for (int c = 0; c < 4; ++c)
                if (lanes >> c & 1) {
                    out.nan = out.nan || std::isnan(s[i][c]);
                    finite = finite && std::isfinite(s[i][c]);
                }
        }
        Vec4& v = values[n];
        switch (inst.op) {
            case Op::Input: v = inst.index < 12 ? frag.inputs[inst.index] : Vec4{kNaN, kNaN, kNaN, kNaN}; break;
            case Op::Uniform:
                v = inst.index < frag.uniforms.size() ? frag.uniforms[inst.index] : Vec4{0, 0, 0, 0};
                break;
            case Op::Undef: break;
            case Op::Tex: case Op::Txp: case Op::Txb:
                v = frag.sample(inst.op, inst.index, TexTarget(inst.target), s[0]);
                if (inst.sat)
                    for (float& x : v) x = std::fmin(std::fmax(x, 0.0f), 1.0f);
                break;
            case Op::Kil:
                for (float x : s[0]) out.result.killed = out.result.killed || x < 0;
                break;
            case Op::Output:
                if (inst.index == cgc::ir::OutDepth) {
                    out.result.depth = s[0][0];
                    out.result.wroteDepth = true;
                } else {
                    out.result.color = s[0];
                    out.result.wroteColor = true;
                }
                break;
            default:
                cgc::ir::evaluate(inst, s, &v);
                if (finite && (inst.op == Op::Mul || inst.op == Op::Mad || cgc::ir::isReduction(inst.op)))
                    for (int c = 0; c < 4; ++c) out.overflow = out.overflow || ((mine >> c & 1) && std::isinf(v[c]));
                if (noise) noise->apply(inst, s, v);
                break;
        }
        if (!cgc::ir::isSink(inst.op))
            for (int c = 0; c < 4; ++c) out.nan = out.nan || ((mine >> c & 1) && std::isnan(v[c]));
    }
    return out;
}

// Equal within float rounding: relative, with an absolute floor for values
// near zero; infinities only equal themselves; NaN equals NaN.
inline bool close(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (std::isinf(a) || std::isinf(b)) return a == b;
    return std::fabs(double(a) - double(b)) <= 1e-4 * std::fmax(std::fabs(a), std::fabs(b)) + 1e-6;
}

inline std::string show(float x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(x));
    return text;
}

// "" or how `got` differs from `want`; lanes the program does not write
// are not compared.
inline std::string differs(const cgc::ir::Result& want, const cgc::ir::Result& got) {
    if (want.killed != got.killed) return want.killed ? "killed, then kept" : "kept, then killed";
    if (want.killed) return "";
    for (int c = 0; want.wroteColor && c < 4; ++c)
        if (!close(want.color[std::size_t(c)], got.color[std::size_t(c)]))
            return "colour." + std::string(1, "xyzw"[c]) + " " + show(want.color[std::size_t(c)]) + ", then " +
                   show(got.color[std::size_t(c)]);
    if (want.wroteDepth && !close(want.depth, got.depth))
        return "depth " + show(want.depth) + ", then " + show(got.depth);
    return "";
}

// Whether a difference from `f`'s result on `frag` may come from what the
// optimizer is allowed to change (see the top of this file). Asked of both
// forms: the optimised one may round where the other did not (a blend
// written out as LRP computes b - c, which the written-out form never does).
inline bool fragile(const Function& f, const std::vector<std::uint8_t>& used, const Fragment& frag,
                    bool clampDepth = false) {
    const Run exact = run(f, used, frag);
    if (exact.nan || exact.overflow) return true;
    auto settle = [&](cgc::ir::Result r) {
        if (clampDepth) r.depth = std::fmin(std::fmax(r.depth, 0.0f), 1.0f);
        return r;
    };
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        Noise noise{std::mt19937(seed)};
        if (!differs(settle(exact.result), settle(run(f, used, frag, &noise).result)).empty()) return true;
    }
    return false;
}

// Counts over a whole run, so a report can say how much was compared.
struct Tally {
    long compared = 0, excused = 0;
};

// Runs `before` and `after` on the fragments of the field; "" or the first
// difference that rounding cannot explain, with the pixel. A long program
// runs on fewer fragments, spread over the field, so that no more than
// `budget` instructions are run in all.
inline std::string compareOnCpu(const Function& before, const Function& after, const std::vector<Fragment>& field,
                                Tally* tally = nullptr, std::size_t budget = SIZE_MAX) {
    const std::vector<std::uint8_t> usedBefore = cgc::ir::usedComponents(before),
                                    usedAfter = cgc::ir::usedComponents(after);
    const std::size_t length = before.insts.size() + after.insts.size() + 1;
    const std::size_t runs = std::max<std::size_t>(1, std::min(field.size(), budget / length));
    for (std::size_t p = 0; p < field.size(); p += field.size() / runs) {
        const std::string why =
            differs(run(before, usedBefore, field[p]).result, run(after, usedAfter, field[p]).result);
        const bool excused = !why.empty() && (fragile(before, usedBefore, field[p]) || fragile(after, usedAfter, field[p]));
        if (tally) ++(excused ? tally->excused : tally->compared);
        if (!why.empty() && !excused)
            return "pixel (" + std::to_string(p % kWidth) + ", " + std::to_string(p / kWidth) + "): " + why;
    }
    return "";
}

}  // namespace crosscheck
