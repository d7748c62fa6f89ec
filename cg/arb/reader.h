// ARB fragment program text as an input: `!!ARBfp1.0` text is checked
// against the extension's grammar and the target's limits before anyone
// hands it to a driver, so a fault is one located line like any other.
#pragma once

#include "cg/limits.h"
#include "cg/options.h"

#include <cstddef>
#include <string_view>

namespace cgc {

// The text starts with the ARB fragment program header, "!!ARBfp1.0".
bool isArbProgram(const char* text, std::size_t length);

// Reads the whole program, header to END: options, declarations, every
// instruction with its operands, names declared before use, and the limits.
// Throws CompileError at the first fault, located in `file` (an index into
// the caller's Sources). Returns what the program uses, counted as the
// compiler counts its own output.
Stats readArbProgram(std::string_view text, int file, const Limits& limits);

}  // namespace cgc
