// The compiler as one call, independent of OpenGL: source text in, ARB
// fragment program text (or one error line) out.
#pragma once

#include "cg/options.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cgc {

struct Compiled {
    bool ok = false;
    std::string text;   // "!!ARBfp1.0 ... END"
    std::string error;  // "name:line:col: error: what", one line
    std::vector<ParameterInfo> parameters;  // in declaration order
    Stats stats;
    std::vector<std::string> warnings;  // "name:line:col: warning: what", one line each; heat2d shows none
};

// Never throws. sourceName names the place in error messages and is where
// #include looks beside.
Compiled compile(const char* source, std::size_t length, const std::string& sourceName, const Options& options = {});
Compiled compile(const std::string& source, const std::string& sourceName, const Options& options = {});

}  // namespace cgc
