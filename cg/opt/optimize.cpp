#include "cg/opt/passes.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace cgc::opt {

const std::vector<Pass>& passes() {
    static const std::vector<Pass> list = {
        {"fold", foldConstants},
        {"divide", splitDivisions},
        {"propagate", propagateCopies},
        {"cse", eliminateCommonSubexpressions},
        {"saturate", formSaturate},
        {"mad", fuseMultiplyAdd},
        {"lerp", formLerp},
        {"dot", formDots},
        {"projective", formProjectiveLookups},
        {"vectorize", vectorize},
        {"dce", eliminateDeadCode},
        {"pack", packConstants},
    };
    return list;
}

const Pass* findPass(const char* name) {
    for (const Pass& p : passes())
        if (std::strcmp(p.name, name) == 0) return &p;
    return nullptr;
}

bool checksIR() {
#if !defined(NDEBUG) || defined(CGC_CHECK_IR)
    return true;
#else
    return false;
#endif
}

void optimize(ir::Function& f, const PassObserver& observer) {
    // Each pass finishes its own work in one walk, so a round that changes
    // something mostly hands a little to the others; the cap only guards
    // against two passes undoing each other forever.
    const int kMaxRounds = 24;
    const bool check = checksIR();
    for (int round = 1; round <= kMaxRounds; ++round) {
        bool changed = false;
        for (const Pass& pass : passes()) {
            const bool mine = pass.run(f);
            changed |= mine;
            if (check) {
                std::string broken = ir::validate(f);
                if (!broken.empty()) throw std::logic_error(std::string("IR malformed after ") + pass.name + ": " + broken);
            }
            if (observer) observer(pass, round, mine, f);
        }
        if (!changed) break;
    }
}

}  // namespace cgc::opt
