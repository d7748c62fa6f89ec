#include "cg/arb/backend.h"

#include "cg/arb/machine.h"

#include <cstdlib>

namespace cgc {

ArbProgram emitArb(const ir::Function& f, const std::vector<std::string>& headerComments, const Limits& limits) {
    std::string broken = ir::validate(f);
    if (!broken.empty()) {
        // The check names the instruction first, "%n (OP): ...".
        std::size_t n = broken[0] == '%' ? std::size_t(std::strtoul(broken.c_str() + 1, nullptr, 10)) : 0;
        fail(n < f.insts.size() ? f.insts[n].origin : Loc{}, "internal error: " + broken);
    }

    // Lookups ordered for the fewest indirections first; that ordering keeps
    // more values live, so where it runs out of temporaries the IR's own
    // order gets its chance.
    arb::Program program = arb::select(f, true);
    arb::Placement placement;
    arb::Fault fault = arb::allocate(program, limits, &placement);
    if (fault.kind == arb::Fault::Temporaries) {
        arb::Program plain = arb::select(f, false);
        arb::Placement plainPlacement;
        if (arb::allocate(plain, limits, &plainPlacement).kind == arb::Fault::None) {
            program = std::move(plain);
            placement = std::move(plainPlacement);
            fault = arb::Fault{};
        }
    }
    if (fault.kind != arb::Fault::None) fail(fault.loc, fault.what);
    return ArbProgram{arb::emit(program, placement, headerComments), placement.stats};
}

}  // namespace cgc
