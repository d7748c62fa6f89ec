// The compiler as one call, independent of OpenGL: source text in, ARB
// fragment program text (or one error line) out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cgc {

struct ParameterInfo {
    std::string name;
    bool sampler = false;
    bool rect = false;  // sampler: samplerRECT, else sampler2D
    int width = 1;      // float parameters: 1..4
    int slot = 0;       // texture unit, or program.local index
};

struct Compiled {
    bool ok = false;
    std::string text;   // "!!ARBfp1.0 ... END"
    std::string error;  // "name:line:col: error: what", one line
    std::vector<ParameterInfo> parameters;  // in declaration order
};

// Never throws. sourceName only names the place in error messages.
Compiled compile(const char* source, std::size_t length, const std::string& sourceName);
Compiled compile(const std::string& source, const std::string& sourceName);

}  // namespace cgc
