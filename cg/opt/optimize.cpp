#include "cg/opt/passes.h"

namespace cgc::opt {

void optimize(ir::Function& f) {
    // Each pass finishes its own work in one walk, so a round that changes
    // something mostly hands a little to the others; the cap only guards
    // against two passes undoing each other forever.
    const int kMaxRounds = 24;
    for (int round = 0; round < kMaxRounds; ++round) {
        bool changed = false;
        changed |= foldConstants(f);
        changed |= splitDivisions(f);
        changed |= propagateCopies(f);
        changed |= eliminateCommonSubexpressions(f);
        changed |= formSaturate(f);
        changed |= fuseMultiplyAdd(f);
        changed |= formLerp(f);
        changed |= formDots(f);
        changed |= formProjectiveLookups(f);
        changed |= vectorize(f);
        changed |= eliminateDeadCode(f);
        changed |= packConstants(f);
        if (!changed) break;
    }
}

}  // namespace cgc::opt
