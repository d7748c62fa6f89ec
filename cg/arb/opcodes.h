// What each IR op becomes in ARB: its opcode, how its result lanes relate
// to its sources', how it can negate its result, which source positions it
// reads.
#pragma once

#include "cg/arb/machine.h"

#include <cstdint>

namespace cgc::arb {

Shape shapeOf(ir::Op op);
Opcode opcodeOf(ir::Op op);  // MOV for ops that have no one opcode (VEC, DIV, leaves)

// The sources to negate so that an op computes the negation of its value,
// as a bit set; 0 where that cannot be done by negating sources.
std::uint8_t negationSources(const ir::Inst& inst);

// Positions of each source an instruction of a fixed or replicated shape
// reads (a per-lane instruction reads the lanes it writes).
std::uint8_t positionsRead(const ir::Inst& inst, int s);

}  // namespace cgc::arb
