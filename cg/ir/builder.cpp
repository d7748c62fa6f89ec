#include "cg/ir/builder.h"

#include "cg/ir/eval.h"

#include <cmath>

namespace cgc {

using ir::Inst;
using ir::Op;
using ir::Src;

namespace {

Src reading(std::uint32_t def) {
    Src s;
    s.def = def;
    return s;
}

bool finite(const ir::Vec4& v) {
    for (float x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

// Components of one register: a scalar fills one, a vector (or a matrix's row) its width.
int registerWidth(const TypeInfo& info) { return info.kind == TypeKind::Scalar ? 1 : info.cols; }

}  // namespace

Src Builder::emit(Op op, const Src& a, const Src& b, const Src& c, bool sat) {
    Inst inst;
    inst.op = op;
    inst.sat = sat;
    inst.nsrc = std::uint8_t(ir::sourceCount(op));
    const Src* given[3] = {&a, &b, &c};
    for (int i = 0; i < inst.nsrc && i < 3; ++i) inst.src[i] = *given[i];
    inst.origin = loc_;
    if (!ir::isTexture(op) && !ir::isSink(op) && !ir::isLeaf(op)) {
        ir::Vec4 sources[4];
        bool allConstant = true;
        for (int i = 0; i < inst.nsrc && allConstant; ++i) {
            float v[4];
            allConstant = constantOf(inst.src[i], v);
            for (int k = 0; k < 4; ++k) sources[i][k] = v[k];
        }
        ir::Vec4 folded;
        if (allConstant && ir::evaluate(inst, sources, &folded) && finite(folded))
            return constant(folded[0], folded[1], folded[2], folded[3]);
    }
    return reading(f_.add(inst));
}

Src Builder::lookup(Op op, const Src& coordinate, int unit, ir::TexTarget target) {
    Inst inst;
    inst.op = op;
    inst.nsrc = 1;
    inst.src[0] = coordinate;
    inst.index = std::uint16_t(unit);
    inst.target = target;
    inst.origin = loc_;
    return reading(f_.add(inst));
}

Src Builder::constant(float x, float y, float z, float w) {
    Inst inst;
    inst.op = Op::Const;
    inst.imm[0] = x;
    inst.imm[1] = y;
    inst.imm[2] = z;
    inst.imm[3] = w;
    inst.origin = loc_;
    return reading(f_.add(inst));
}

Src Builder::input(ir::Attr attribute) {
    Inst inst;
    inst.op = Op::Input;
    inst.index = attribute;
    inst.origin = loc_;
    return reading(f_.add(inst));
}

Src Builder::uniform(int slot) {
    Inst inst;
    inst.op = Op::Uniform;
    inst.index = std::uint16_t(slot);
    inst.origin = loc_;
    return reading(f_.add(inst));
}

Src Builder::undef() {
    Inst inst;
    inst.op = Op::Undef;
    inst.origin = loc_;
    return reading(f_.add(inst));
}

Src Builder::compose(const Src lanes[4]) {
    // One value read in every defined lane needs no instruction.
    std::uint32_t def = ir::kNone;
    bool single = true, sameSign = true;
    for (int c = 0; c < 4; ++c) {
        if (lanes[c].def == ir::kNone) continue;
        if (def == ir::kNone) def = lanes[c].def;
        single = single && lanes[c].def == def;
    }
    if (def == ir::kNone) return undef();
    bool neg = false, seen = false;
    for (int c = 0; c < 4; ++c) {
        if (lanes[c].def == ir::kNone) continue;
        if (!seen) neg = lanes[c].neg, seen = true;
        sameSign = sameSign && lanes[c].neg == neg;
    }
    if (single && sameSign) {
        Src s = reading(def);
        s.neg = neg;
        // Undefined lanes repeat the first defined one: harmless, and keeps the swizzle short.
        int first = 0;
        while (lanes[first].def == ir::kNone) ++first;
        for (int c = 0; c < 4; ++c)
            s.swz[c] = lanes[c].def == ir::kNone ? lanes[first].swz[first] : lanes[c].swz[c];
        return s;
    }
    // All-constant lanes fold into one constant.
    float v[4];
    bool constants = true;
    for (int c = 0; c < 4 && constants; ++c) {
        float k[4] = {0, 0, 0, 0};
        if (lanes[c].def != ir::kNone) constants = constantOf(lanes[c], k);
        v[c] = k[c];
    }
    if (constants) return constant(v[0], v[1], v[2], v[3]);
    Inst inst;
    inst.op = Op::Vec;
    inst.nsrc = 4;
    for (int c = 0; c < 4; ++c) inst.src[c] = lanes[c];
    inst.origin = loc_;
    return reading(f_.add(inst));
}

void Builder::kill(const Src& s) {
    Inst inst;
    inst.op = Op::Kil;
    inst.nsrc = 1;
    inst.src[0] = s;
    inst.origin = loc_;
    f_.add(inst);
}

void Builder::output(ir::OutputReg reg, const Src& s) {
    Inst inst;
    inst.op = Op::Output;
    inst.nsrc = 1;
    inst.index = reg;
    inst.src[0] = s;
    inst.origin = loc_;
    f_.add(inst);
}

bool Builder::constantOf(const Src& s, float out[4]) const {
    if (s.def == ir::kNone || s.def >= f_.insts.size()) return false;
    const Inst& def = f_.insts[s.def];
    if (def.op != Op::Const) return false;
    for (int c = 0; c < 4; ++c) out[c] = s.neg ? -def.imm[s.swz[c]] : def.imm[s.swz[c]];
    return true;
}

Src Builder::lane(const Src& s, int c) {
    Src r = s;
    for (int i = 0; i < 4; ++i) r.swz[i] = s.swz[c];
    return r;
}

Src Builder::swizzle(const Src& s, const int lanes[4]) {
    Src r = s;
    for (int i = 0; i < 4; ++i) r.swz[i] = s.swz[lanes[i]];
    return r;
}

Src Builder::negate(const Src& s) {
    Src r = s;
    r.neg = !s.neg;
    return r;
}

Value Builder::constantValue(TypeId type, const std::vector<float>& components) {
    Value v;
    v.type = type;
    std::size_t next = 0;
    types_.eachRegister(type, [&](TypeId part) {
        const TypeInfo& info = types_.info(part);
        if (info.kind == TypeKind::Sampler) return;
        float k[4] = {0, 0, 0, 0};
        int width = registerWidth(info);
        for (int c = 0; c < width; ++c) k[c] = next < components.size() ? components[next++] : 0.0f;
        if (info.kind == TypeKind::Scalar) k[1] = k[2] = k[3] = k[0];
        v.regs.push_back(constant(k[0], k[1], k[2], k[3]));
    });
    return v;
}

bool Builder::constantOf(const Value& v, std::vector<float>* components) const {
    components->clear();
    std::size_t reg = 0;
    bool ok = true;
    types_.eachRegister(v.type, [&](TypeId part) {
        const TypeInfo& info = types_.info(part);
        if (!ok || info.kind == TypeKind::Sampler) return;
        float k[4];
        if (reg >= v.regs.size() || !constantOf(v.regs[reg++], k)) {
            ok = false;
            return;
        }
        for (int c = 0; c < registerWidth(info); ++c) components->push_back(k[c]);
    });
    return ok;
}

}  // namespace cgc
