// Constant folding and the exact algebraic identities.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

#include <cmath>

namespace cgc::opt {

using namespace ir;

namespace {

Src negated(Src s) {
    s.neg = !s.neg;
    return s;
}

void become(Inst& inst, Op op, const Src& a, const Src& b = {}, const Src& c = {}) {
    inst.op = op;
    inst.nsrc = std::uint8_t(sourceCount(op));
    const Src* given[3] = {&a, &b, &c};
    for (int s = 0; s < 4; ++s) inst.src[s] = s < inst.nsrc && s < 3 ? *given[s] : Src{};
}

// Values every lane of which lies in [0, 1].
bool inUnitRange(const Function& f, const Src& s) {
    if (s.neg || s.def == kNone) return false;
    const Inst& def = f.insts[s.def];
    return def.sat || def.op == Op::Slt || def.op == Op::Sge;
}

// A CMP on -SLT(p, 0) picks its first side where p < 0, as a CMP on p
// does; on -SLT(0, p) where -p < 0. Both give the second side for a NaN.
// Sets *sign to that p or -p, read as the CMP read the comparison.
bool comparedWithZero(const Function& f, const Src& s, std::uint8_t lanes, Src* sign) {
    if (!s.neg || s.def == kNone) return false;
    const Inst& slt = f.insts[s.def];
    if (slt.op != Op::Slt || slt.sat) return false;
    Src positive = s;
    positive.neg = false;
    for (int k = 0; k < 2; ++k) {
        Vec4 zero;
        if (!constantRead(f, composeRead(positive, slt.src[1 - k]), &zero) || !allLanesEqual(zero, lanes, 0.0f)) continue;
        *sign = composeRead(positive, slt.src[k]);
        if (k == 1) sign->neg = !sign->neg;
        return sign->def != kNone && f.insts[sign->def].op != Op::Const;
    }
    return false;
}

// Folds an instruction whose read lanes all come from constants. Unused
// lanes of the result are don't-care and become 0.
bool foldAll(Inst& inst, const Vec4* values, std::uint8_t used) {
    Vec4 out;
    if (!evaluate(inst, values, &out)) return false;
    for (int c = 0; c < 4; ++c) {
        if (!(used >> c & 1)) out[c] = 0;
        else if (!std::isfinite(out[c])) return false;
    }
    inst.op = Op::Const;
    inst.sat = false;
    inst.nsrc = 0;
    for (int c = 0; c < 4; ++c) inst.imm[c] = out[c];
    for (Src& s : inst.src) s = Src{};
    return true;
}

}  // namespace

bool foldConstants(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    NewConstants added(f);
    bool changed = false;
    for (std::size_t i = 0; i < used.size(); ++i) {
        Inst& inst = f.insts[i];
        if (isLeaf(inst.op) || isTexture(inst.op) || inst.op == Op::Output) continue;
        if (inst.op != Op::Kil && !used[i]) continue;  // dead code's business

        Vec4 values[4] = {};
        bool constant[4] = {false, false, false, false};
        std::uint8_t lanes[4] = {0, 0, 0, 0};
        bool allConstant = true;
        for (int s = 0; s < inst.nsrc; ++s) {
            lanes[s] = lanesRead(inst, s, used[i]);
            constant[s] = !lanes[s] || constantRead(f, inst.src[s], &values[s]);
            allConstant = allConstant && constant[s];
        }

        if (inst.op == Op::Kil) {
            // A discard that can never fire goes (becoming an unused value).
            if (allConstant && values[0][0] >= 0 && values[0][1] >= 0 && values[0][2] >= 0 && values[0][3] >= 0) {
                become(inst, Op::Undef, {});
                changed = true;
            }
            continue;
        }
        // A plain MOV is propagation's: folding it would only copy a constant.
        if (allConstant && !(inst.op == Op::Mov && !inst.sat) && foldAll(inst, values, used[i])) {
            changed = true;
            continue;
        }

        const std::uint8_t u = used[i];
        bool rewritten = true;
        switch (inst.op) {
            case Op::Mul: {
                int k = constant[1] ? 1 : 0;
                const Src x = inst.src[1 - k];
                if (constant[k] && allLanesEqual(values[k], lanes[k], 1.0f)) become(inst, Op::Mov, x);
                else if (constant[k] && allLanesEqual(values[k], lanes[k], -1.0f)) become(inst, Op::Mov, negated(x));
                else rewritten = false;
                break;
            }
            case Op::Add: {
                int k = constant[1] ? 1 : 0;
                if (constant[k] && allLanesEqual(values[k], lanes[k], 0.0f)) become(inst, Op::Mov, inst.src[1 - k]);
                else rewritten = false;
                break;
            }
            case Op::Div: {
                if (!constant[1]) {
                    rewritten = false;
                    break;
                }
                // The back end divides by RCP and MUL, so a constant's
                // reciprocal gives the same rounding, one instruction less.
                Vec4 reciprocal = {0, 0, 0, 0};
                bool normal = true;
                for (int c = 0; c < 4; ++c) {
                    if (!(lanes[1] >> c & 1)) continue;
                    reciprocal[c] = 1.0f / values[1][c];
                    normal = normal && std::isnormal(reciprocal[c]);
                }
                if (allLanesEqual(values[1], lanes[1], 1.0f)) become(inst, Op::Mov, inst.src[0]);
                else if (allLanesEqual(values[1], lanes[1], -1.0f)) become(inst, Op::Mov, negated(inst.src[0]));
                else if (normal) become(inst, Op::Mul, inst.src[0], added.add(reciprocal, inst.origin));
                else rewritten = false;
                break;
            }
            case Op::Mad: {
                if (constant[0] && constant[1]) {
                    // Our MAD rounds the product, so a constant product is exact.
                    Vec4 product = {0, 0, 0, 0};
                    bool finite = true;
                    for (int c = 0; c < 4; ++c) {
                        if (!(u >> c & 1)) continue;
                        product[c] = values[0][c] * values[1][c];
                        finite = finite && std::isfinite(product[c]);
                    }
                    if (finite) {
                        become(inst, Op::Add, added.add(product, inst.origin), inst.src[2]);
                        break;
                    }
                }
                int k = constant[1] ? 1 : 0;
                if (constant[k] && allLanesEqual(values[k], lanes[k], 1.0f))
                    become(inst, Op::Add, inst.src[1 - k], inst.src[2]);
                else if (constant[k] && allLanesEqual(values[k], lanes[k], -1.0f))
                    become(inst, Op::Add, negated(inst.src[1 - k]), inst.src[2]);
                else if (constant[2] && allLanesEqual(values[2], lanes[2], 0.0f))
                    become(inst, Op::Mul, inst.src[0], inst.src[1]);
                else rewritten = false;
                break;
            }
            case Op::Min: case Op::Max:
                if (sameRead(inst.src[0], inst.src[1], u)) become(inst, Op::Mov, inst.src[0]);
                else rewritten = false;
                break;
            case Op::Cmp: {
                if (sameRead(inst.src[1], inst.src[2], u)) {
                    become(inst, Op::Mov, inst.src[1]);
                    break;
                }
                if (!constant[0]) {
                    Src sign;
                    if ((rewritten = comparedWithZero(f, inst.src[0], u, &sign))) inst.src[0] = sign;
                    break;
                }
                std::uint8_t first = 0;  // lanes that take the second source
                for (int c = 0; c < 4; ++c)
                    if ((u >> c & 1) && values[0][c] < 0) first |= std::uint8_t(1u << c);
                // Lanes from both sides would make a VEC, which costs the
                // back end more moves than the one CMP.
                if (first == u) become(inst, Op::Mov, inst.src[1]);
                else if (first == 0) become(inst, Op::Mov, inst.src[2]);
                else rewritten = false;
                break;
            }
            case Op::Vec: {
                // Lanes from one value with one sign: a swizzled MOV.
                Src one;
                bool single = true;
                for (int c = 0; c < 4 && single; ++c) {
                    if (!(u >> c & 1)) continue;
                    const Src& s = inst.src[c];
                    if (one.def == kNone) one = s;
                    single = s.def != kNone && s.def == one.def && s.neg == one.neg;
                    one.swz[c] = s.swz[c];
                }
                if (single && one.def != kNone) {
                    canonicalSwizzle(one, u);
                    become(inst, Op::Mov, one);
                } else {
                    rewritten = false;
                }
                break;
            }
            case Op::Rcp: {
                // An RSQ's value is 0, infinite or between 2^-64 and 2^75, where
                // two reciprocals give it back within rounding.
                const Src& r = inst.src[0];
                const Inst& inner = f.insts[r.def];
                rewritten = inner.op == Op::Rcp && !inner.sat && f.insts[inner.src[0].def].op == Op::Rsq &&
                            !f.insts[inner.src[0].def].sat;
                if (rewritten) {
                    Src x = inner.src[0];
                    x.neg = x.neg != r.neg;
                    become(inst, Op::Mov, x);
                }
                break;
            }
            case Op::Abs:
                if (inst.src[0].neg) inst.src[0].neg = false;
                else if (inUnitRange(f, inst.src[0])) become(inst, Op::Mov, inst.src[0]);
                else rewritten = false;
                break;
            case Op::Mov: case Op::Slt: case Op::Sge:
                // Already within [0, 1]: the saturate does nothing.
                rewritten = inst.sat && (inst.op != Op::Mov || inUnitRange(f, inst.src[0]));
                if (rewritten) inst.sat = false;
                break;
            default: rewritten = false; break;
        }
        changed = changed || rewritten;
    }
    changed = changed || !added.empty();
    added.commit();
    return changed;
}

}  // namespace cgc::opt
