// Lowering: the analysed tree to one straight-line SSA function. Functions
// are inlined, loops unrolled, branches predicated: the target has no jumps.
#pragma once

#include "cg/compiler.h"
#include "cg/front/ast.h"
#include "cg/ir/ir.h"
#include "cg/sema/sema.h"
#include "cg/sema/types.h"

#include <string>
#include <vector>

namespace cgc {

struct Warning {
    Loc loc;
    std::string what;
};

struct Lowered {
    ir::Function function;
    std::vector<ParameterInfo> parameters;
    std::vector<Warning> warnings;  // in the order found, each place and text once
};

// Throws CompileError at the first fault: a value read before it is
// assigned, a loop whose count is unknown or too large, an index that is not
// a constant, a program past the size lowering will build.
Lowered lower(const ast::Tree& tree, const Analysis& analysis, TypeTable& types, const Options& options);

// Loop iterations unrolled in one compilation, all loops together.
constexpr int kMaxUnrolledIterations = 1024;

}  // namespace cgc
