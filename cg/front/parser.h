// The parser: preprocessed tokens in, the syntax-only tree out, in the
// manner of Lua's lparser.c (recursive descent for statements and
// declarations; expressions by precedence climbing over a table).
#pragma once

#include "cg/options.h"
#include "cg/diag.h"
#include "cg/front/ast.h"

#include <cstddef>
#include <string>

namespace cgc {

// Nesting of statements, parentheses, prefix operators and initialisers the
// parser follows ("nesting is too deep"), and the height of any expression
// tree, long operator chains included ("expression is too complex"), so that
// no stage recursing over the tree runs out of stack.
constexpr int kMaxNesting = 256;
constexpr int kMaxExpressionHeight = 1024;

// Preprocesses and parses the main file. `fileName` names it in messages and
// is where #include "x" looks beside. Files and macro expansions are recorded
// in `sources`. Throws CompileError at the first fault.
ast::Tree parseSource(Sources& sources, const char* text, std::size_t length, const std::string& fileName,
                      const Options& options);

}  // namespace cgc
