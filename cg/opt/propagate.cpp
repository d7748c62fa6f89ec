// Copy and swizzle propagation.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

namespace {

bool same(const Src& a, const Src& b) {
    return a.def == b.def && a.neg == b.neg && a.swz[0] == b.swz[0] && a.swz[1] == b.swz[1] &&
           a.swz[2] == b.swz[2] && a.swz[3] == b.swz[3];
}

// When the lanes a source reads of a VEC all come from one value with one
// sign, the source can read that value itself.
bool throughVec(const Inst& vec, Src& s, std::uint8_t lanes) {
    Src direct;
    for (int c = 0; c < 4; ++c) {
        if (!(lanes >> c & 1)) continue;
        const Src& lane = vec.src[s.swz[c]];
        if (lane.def == kNone) return false;
        if (direct.def == kNone) {
            direct.def = lane.def;
            direct.neg = lane.neg;
        } else if (direct.def != lane.def || direct.neg != lane.neg) {
            return false;
        }
        direct.swz[c] = lane.swz[s.swz[c]];
    }
    if (direct.def == kNone) return false;
    direct.neg = direct.neg != s.neg;
    s = direct;
    return true;
}

}  // namespace

bool propagateCopies(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    // What each plain MOV stands for, already resolved: a MOV's source was
    // rewritten before any reader of the MOV is reached.
    std::vector<Src> copyOf(f.insts.size());
    bool changed = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst& inst = f.insts[i];
        for (int s = 0; s < inst.nsrc; ++s) {
            Src& src = inst.src[s];
            if (src.def == kNone) continue;
            const Src before = src;
            const std::uint8_t lanes = lanesRead(inst, s, used[i]);
            if (copyOf[src.def].def != kNone) src = composeRead(src, copyOf[src.def]);
            const Inst& def = f.insts[src.def];
            if (def.op == Op::Vec && !def.sat && lanes) throughVec(def, src, lanes);
            canonicalSwizzle(src, lanes);
            changed = changed || !same(before, src);
        }
        if (inst.op == Op::Mov && !inst.sat) copyOf[i] = inst.src[0];
    }
    return changed;
}

}  // namespace cgc::opt
