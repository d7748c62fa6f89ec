// A lookup at a quotient by one component, tex(s, p.xy / p.w), is the
// projective lookup TXP at p: the unit divides the coordinate by its w.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

bool formProjectiveLookups(Function& f) {
    bool changed = false;
    for (Inst& tex : f.insts) {
        // A cube map's direction would flip with a negative w.
        if (tex.op != Op::Tex || tex.target == TexCube) continue;
        const Src& s = tex.src[0];
        if (s.def == kNone || s.neg || f.insts[s.def].op != Op::Div || f.insts[s.def].sat) continue;
        const Inst& div = f.insts[s.def];
        const Src a = through(s, div.src[0]), b = through(s, div.src[1]);
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
