// Dead-code elimination: what no KIL or OUTPUT reads goes.
#include "cg/opt/passes.h"

namespace cgc::opt {

using namespace ir;

bool eliminateDeadCode(Function& f) {
    // usedComponents walks backwards from the sinks, so a value read only by
    // dead instructions has no used component either.
    const std::vector<std::uint8_t> used = usedComponents(f);
    std::vector<bool> keep(f.insts.size());
    bool any = false;
    for (std::size_t i = 0; i < f.insts.size(); ++i) {
        keep[i] = isSink(f.insts[i].op) || used[i];
        any = any || !keep[i];
    }
    if (any) compact(f, keep);
    return any;
}

}  // namespace cgc::opt
