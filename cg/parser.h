// Parser: tokens to syntax tree. Rejects, with the place, every construct
// of the full language that this compiler does not take.
#pragma once

#include "cg/ast.h"
#include "cg/lexer.h"

namespace cgc {

// Throws CompileError.
Program parse(Lexer& lexer);

// The type a type name stands for (float3, half, samplerRECT, ...), or false.
bool typeFromName(const std::string& name, Type* type);

}  // namespace cgc
