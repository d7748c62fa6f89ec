// ARB fragment program text given as the program: its parameters come from
// the header comments the compiler writes,
//   # texture[N] = NAME (TYPE)
//   # program.local[N] = NAME (TYPE)
//   # program.local[N..M] = NAME (TYPE)
#pragma once

#include "cg/options.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cgrt {

bool isAssembly(const char* text, std::size_t length);

// The parameters the text's whole-line comments of the forms above name; a
// comment that starts like one of them must be one. On a malformed comment,
// false and "name:line:col: error: what" in *error.
bool assemblyParameters(const char* text, std::size_t length, const std::string& sourceName,
                        const cgc::Limits& limits, std::vector<cgc::ParameterInfo>* out, std::string* error);

}  // namespace cgrt
