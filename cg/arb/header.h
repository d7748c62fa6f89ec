// The header comments that name an ARB program's parameters, written by the
// compiler after "!!ARBfp1.0" and read back from assembly given as a program:
//   # texture[N] = NAME (TYPE)
//   # program.local[N] = NAME (TYPE)
//   # program.local[N..M] = NAME (TYPE)
// and, for a uniform with an initial value, its components after another
// '=', register by register, as many as the type has in each register:
//   # program.local[3] = gain (float) = 2
//   # program.local[4..5] = m (float2x2) = 1, 0, 0, 1
#pragma once

#include "cg/options.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cgc {

// The comment for one parameter, without its line end.
std::string headerComment(const ParameterInfo& p);

// The parameters the text's whole-line comments of the forms above name; a
// comment that starts like one of them must be one. On a malformed comment,
// false and "name:line:col: error: what" in *error.
bool headerParameters(const char* text, std::size_t length, const std::string& sourceName, const Limits& limits,
                      std::vector<ParameterInfo>* out, std::string* error);

}  // namespace cgc
