// Scheduling, before instruction selection: copies become views of what
// they copy, and the live instructions are put in the order the back end
// builds them, which decides how many texture indirections the program
// takes and how long values live.
#pragma once

#include "cg/ir/ir.h"

#include <cstdint>
#include <vector>

namespace cgc::arb {

struct Arrangement {
    ir::Function function;               // copies resolved into their readers
    std::vector<std::uint8_t> used;      // per instruction: components some reader uses
    std::vector<std::uint32_t> readers;  // per instruction: live instructions reading it
    std::uint32_t outputs[2] = {0, 0};   // live OUTPUTs of color and of depth
    std::vector<std::uint32_t> order;    // the live instructions, in the order to build them
};

// `schedule` orders texture lookups so that dependent lookups form as few
// indirections as the data allows; without it the IR's order is kept.
Arrangement arrange(const ir::Function& f, bool schedule);

}  // namespace cgc::arb
