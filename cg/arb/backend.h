// The ARB back end: an optimised IR function in, `!!ARBfp1.0` text out.
// Legalises the ops ARB lacks, places values on TEMP components, checks the
// target's limits and writes the program.
#pragma once

#include "cg/limits.h"
#include "cg/options.h"
#include "cg/ir/ir.h"

#include <string>
#include <vector>

namespace cgc {

struct ArbProgram {
    std::string text;
    Stats stats;
};

// headerComments go out one a line after the header, as given (a line not
// starting with '#' gets one). Throws CompileError, located at the IR
// instruction's origin, for the first limit the program passes ("program
// needs 5000 instructions; this target allows 4096") or a texture unit
// sampled on two targets.
ArbProgram emitArb(const ir::Function& f, const std::vector<std::string>& headerComments, const Limits& limits);

}  // namespace cgc
