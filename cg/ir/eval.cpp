#include "cg/ir/eval.h"

#include <cmath>
#include <limits>

namespace cgc::ir {

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

float saturate(float x) { return std::fmin(std::fmax(x, 0.0f), 1.0f); }

Vec4 splat(float x) { return Vec4{x, x, x, x}; }

}  // namespace

Vec4 read(const Src& src, const Vec4& defined) {
    Vec4 v;
    for (int c = 0; c < 4; ++c) v[c] = src.neg ? -defined[src.swz[c]] : defined[src.swz[c]];
    return v;
}

bool evaluate(const Inst& inst, const Vec4* s, Vec4* out) {
    Vec4 r{};
    const Vec4& a = s[0];
    const Vec4& b = s[1];
    const Vec4& c = s[2];
    auto each = [&](auto f) {
        for (int i = 0; i < 4; ++i) r[i] = f(i);
    };
    switch (inst.op) {
        case Op::Const: r = Vec4{inst.imm[0], inst.imm[1], inst.imm[2], inst.imm[3]}; break;
        case Op::Mov: r = a; break;
        case Op::Add: each([&](int i) { return a[i] + b[i]; }); break;
        case Op::Mul: each([&](int i) { return a[i] * b[i]; }); break;
        case Op::Mad: each([&](int i) { return a[i] * b[i] + c[i]; }); break;
        case Op::Div: each([&](int i) { return a[i] / b[i]; }); break;
        case Op::Min: each([&](int i) { return std::fmin(a[i], b[i]); }); break;
        case Op::Max: each([&](int i) { return std::fmax(a[i], b[i]); }); break;
        case Op::Slt: each([&](int i) { return a[i] < b[i] ? 1.0f : 0.0f; }); break;
        case Op::Sge: each([&](int i) { return a[i] >= b[i] ? 1.0f : 0.0f; }); break;
        case Op::Cmp: each([&](int i) { return a[i] < 0 ? b[i] : c[i]; }); break;
        case Op::Lrp: each([&](int i) { return a[i] * b[i] + (1 - a[i]) * c[i]; }); break;
        case Op::Abs: each([&](int i) { return std::fabs(a[i]); }); break;
        case Op::Flr: each([&](int i) { return std::floor(a[i]); }); break;
        case Op::Frc: each([&](int i) { return a[i] - std::floor(a[i]); }); break;
        case Op::Rcp: r = splat(1.0f / a[0]); break;
        case Op::Rsq: r = splat(1.0f / std::sqrt(std::fabs(a[0]))); break;
        case Op::Ex2: r = splat(std::exp2(a[0])); break;
        case Op::Lg2: r = splat(std::log2(a[0])); break;
        case Op::Pow: r = splat(std::pow(a[0], b[0])); break;
        case Op::Sin: r = splat(std::sin(a[0])); break;
        case Op::Cos: r = splat(std::cos(a[0])); break;
        case Op::Dp3: r = splat(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]); break;
        case Op::Dp4: r = splat(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]); break;
        case Op::Dph: r = splat(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + b[3]); break;
        case Op::Xpd:
            r = Vec4{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0], kNaN};
            break;
        case Op::Lit: {
            const float limit = 128.0f - 1.0f / 256;
            float x = std::fmax(a[0], 0.0f), y = std::fmax(a[1], 0.0f);
            float w = std::fmin(std::fmax(a[3], -limit), limit);
            r = Vec4{1.0f, x, x > 0 ? std::pow(y, w) : 0.0f, 1.0f};
            break;
        }
        case Op::Dst: r = Vec4{1.0f, a[1] * b[1], a[2], b[3]}; break;
        case Op::Vec:
            for (int i = 0; i < 4; ++i) r[i] = inst.src[i].def == kNone ? kNaN : s[i][i];
            break;
        default: return false;
    }
    if (inst.sat)
        for (float& x : r) x = saturate(x);
    *out = r;
    return true;
}

Result run(const Function& f, const Fragment& fragment) {
    Result result;
    std::vector<Vec4> values(f.insts.size(), splat(kNaN));
    for (std::size_t n = 0; n < f.insts.size(); ++n) {
        const Inst& inst = f.insts[n];
        Vec4 sources[4];
        for (int i = 0; i < inst.nsrc; ++i)
            sources[i] = inst.src[i].def == kNone ? splat(kNaN) : read(inst.src[i], values[inst.src[i].def]);
        Vec4& v = values[n];
        switch (inst.op) {
            case Op::Input: v = inst.index < 12 ? fragment.inputs[inst.index] : splat(kNaN); break;
            case Op::Uniform:
                v = inst.index < fragment.uniforms.size() ? fragment.uniforms[inst.index] : splat(0.0f);
                break;
            case Op::Undef: break;
            case Op::Tex: case Op::Txp: case Op::Txb:
                v = fragment.sample ? fragment.sample(inst.op, inst.index, TexTarget(inst.target), sources[0])
                                    : splat(kNaN);
                if (inst.sat)
                    for (float& x : v) x = saturate(x);
                break;
            case Op::Kil:
                for (float x : sources[0]) result.killed = result.killed || x < 0;
                break;
            case Op::Output:
                if (inst.index == OutDepth) {
                    result.depth = sources[0][0];
                    result.wroteDepth = true;
                } else {
                    result.color = sources[0];
                    result.wroteColor = true;
                }
                break;
            default: evaluate(inst, sources, &v); break;
        }
    }
    return result;
}

}  // namespace cgc::ir
