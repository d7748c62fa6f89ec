// Division by one component as the back end would make it, RCP then MUL,
// but as IR: the reciprocal becomes a value that common-subexpression
// elimination shares between quotients, and the product one that
// multiply-add fusion can take.
#include "cg/opt/passes.h"
#include "cg/opt/support.h"

namespace cgc::opt {

using namespace ir;

bool splitDivisions(Function& f) {
    const std::vector<std::uint8_t> used = usedComponents(f);
    // The divisor's one component for each DIV that splits, else -1.
    std::vector<int> component(f.insts.size(), -1);
    bool any = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        const Inst& inst = f.insts[i];
        if (inst.op != Op::Div || !used[i]) continue;
        const Src& b = inst.src[1];
        // A constant divisor is folding's, an undefined one nobody's.
        if (b.def == kNone || f.insts[b.def].op == Op::Const || f.insts[b.def].op == Op::Undef) continue;
        int k = -1;
        for (int c = 0; c < 4; ++c) {
            if (!(used[i] >> c & 1)) continue;
            if (k >= 0 && b.swz[c] != k) k = 4;
            if (k < 0) k = b.swz[c];
        }
        const Op op = f.insts[b.def].op;
        if (isScalar(op) || isReduction(op)) k = 0;  // every component holds the value
        if (k < 0 || k > 3) continue;
        component[i] = k;
        any = true;
    }
    if (!any) return false;

    std::vector<Inst> insts;
    insts.reserve(f.insts.size() + f.insts.size() / 8);
    std::vector<std::uint32_t> renumber(f.insts.size(), kNone);
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        Inst inst = f.insts[i];
        for (int s = 0; s < inst.nsrc; ++s)
            if (inst.src[s].def != kNone) inst.src[s].def = renumber[inst.src[s].def];
        if (component[i] >= 0) {
            Inst rcp;
            rcp.op = Op::Rcp;
            rcp.nsrc = 1;
            rcp.src[0] = inst.src[1];
            for (auto& c : rcp.src[0].swz) c = std::uint8_t(component[i]);
            rcp.origin = inst.origin;
            insts.push_back(rcp);
            inst.op = Op::Mul;
            inst.src[1] = Src{};
            inst.src[1].def = std::uint32_t(insts.size() - 1);
            for (auto& c : inst.src[1].swz) c = 0;
        }
        renumber[i] = std::uint32_t(insts.size());
        insts.push_back(inst);
    }
    f.insts = std::move(insts);
    return true;
}

}  // namespace cgc::opt
