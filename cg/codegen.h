// Code generator: checked syntax tree to ARB fragment program text. The text
// is predictable (R<n> for variables, T<n> for a statement's temporaries,
// c<n> for constants) so that it reads well in tests and in debugging.
#pragma once

#include "cg/ast.h"
#include "cg/checker.h"

#include <string>

namespace cgc {

// Throws CompileError, naming the place in `sourceName`, past the register limit.
std::string generate(const Program& program, const Checked& checked, const std::string& sourceName);

}  // namespace cgc
