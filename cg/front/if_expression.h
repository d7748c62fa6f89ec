// The preprocessor's #if and #elif expressions, on a line already expanded
// (`defined` done, macros replaced).
#pragma once

#include "cg/front/lexer.h"

#include <string>
#include <string_view>
#include <vector>

namespace cgc {

// The value, in C's integer arithmetic; names left over are 0. Throws
// CompileError at the token that does not fit, naming `directive`.
long long evaluateIfExpression(const std::vector<Token>& tokens, const Token& directive);

// Shared with the other directives: where a token is blamed (in an
// expansion, the use of the macro), and a directive quoted ("'#if'").
Loc placeOf(const Token& t);
std::string directiveName(std::string_view word);

}  // namespace cgc
