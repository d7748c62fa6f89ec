// MUL followed by ADD into MAD.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

bool fuseMultiplyAdd(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    const std::vector<std::uint32_t> uses = liveUseCounts(f, used);
    auto fusableMul = [&](std::uint32_t def) {
        const Inst& m = f.insts[def];
        return m.op == Op::Mul && !m.sat;
    };
    // The ADDs that can take each MUL: when they are all its uses, the MUL
    // goes.
    std::vector<std::uint32_t> addUses(f.insts.size(), 0);
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        const Inst& inst = f.insts[i];
        if (inst.op != Op::Add || !used[i]) continue;
        const std::uint32_t a = inst.src[0].def, b = inst.src[1].def;
        if (a == b) continue;
        if (fusableMul(a)) ++addUses[a];
        if (fusableMul(b)) ++addUses[b];
    }
    bool changed = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst& inst = f.insts[i];
        if (inst.op != Op::Add || !used[i] || inst.src[0].def == inst.src[1].def) continue;
        // A product that goes entirely is taken first; one read elsewhere too
        // stays, and the ADD still becomes a MAD, which costs no more and no
        // longer waits for the product.
        int take = -1;
        for (int s = 0; s < 2; ++s) {
            const std::uint32_t m = inst.src[s].def;
            if (!fusableMul(m)) continue;
            if (addUses[m] == uses[m]) {
                take = s;
                break;
            }
            if (take < 0) take = s;
        }
        if (take < 0) continue;
        const Inst& mul = f.insts[inst.src[take].def];
        Src product = inst.src[take];
        const Src a = composeRead(product, mul.src[0]);
        product.neg = false;  // the sign goes on one factor
        const Src b = composeRead(product, mul.src[1]);
        const Src c = inst.src[1 - take];
        inst.op = Op::Mad;
        inst.nsrc = 3;
        inst.src[0] = a;
        inst.src[1] = b;
        inst.src[2] = c;
        changed = true;
    }
    return changed;
}

}  // namespace cgc::opt
