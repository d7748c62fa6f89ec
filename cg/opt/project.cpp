// A lookup at a quotient by one component, tex(s, p.xy / p.w), is the
// projective lookup TXP at p: the unit divides the coordinate by its w, as
// the back end would divide, by a reciprocal.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

namespace {

// The quotient a coordinate reads, as the numerator read through it and the
// divisor's value, component and sign: a DIV, or a MUL by an RCP (what
// division becomes).
bool quotient(const Function& f, const Src& s, Src* a, Src* divisor) {
    if (s.def == kNone || s.neg) return false;
    const Inst& q = f.insts[s.def];
    if (q.sat) return false;
    if (q.op == Op::Div) {
        *a = composeRead(s, q.src[0]);
        *divisor = composeRead(s, q.src[1]);
        return true;
    }
    if (q.op != Op::Mul) return false;
    for (int k = 0; k < 2; ++k) {
        const Src r = composeRead(s, q.src[k]);
        const Inst& rcp = f.insts[r.def];
        if (rcp.op != Op::Rcp || rcp.sat) continue;
        *a = composeRead(s, q.src[1 - k]);
        *divisor = rcp.src[0];
        for (auto& c : divisor->swz) c = rcp.src[0].swz[0];
        divisor->neg = divisor->neg != r.neg;
        return true;
    }
    return false;
}

}  // namespace

bool formProjectiveLookups(Function& f) {
    bool changed = false;
    for (Inst& tex : f.insts) {
        // A cube map's direction would flip with a negative w.
        if (tex.op != Op::Tex || tex.target == TexCube) continue;
        Src a, b;
        if (!quotient(f, tex.src[0], &a, &b)) continue;
        if (a.def != b.def || a.neg != b.neg || a.def == kNone || f.insts[a.def].op == Op::Const) continue;
        const std::uint8_t lanes = lanesRead(tex, 0, 0xf);
        Src p = a;
        int w = -1;
        bool one = true;
        for (int c = 0; c < 4; ++c) {
            if (!(lanes >> c & 1)) continue;
            one = one && (w < 0 || b.swz[c] == w);
            w = b.swz[c];
        }
        if (!one || w < 0) continue;
        p.swz[3] = std::uint8_t(w);
        if (!(lanes >> 2 & 1)) p.swz[2] = 2;
        tex.op = Op::Txp;
        tex.src[0] = p;
        changed = true;
    }
    return changed;
}

}  // namespace cgc::opt
