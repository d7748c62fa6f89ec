// The compiler as one call, independent of OpenGL: source text in, ARB
// fragment program text (or one error line) out.
#pragma once

#include "cg/arb/limits.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cgc {

struct Options {
    std::string entry = "main";  // the entry function's name
    bool optimize = true;        // off: lowering's code as it is (heat2d-cg -O0, the fuzzer's cross-check)
    Limits limits;
    // Reads an #include'd file, by the path the preprocessor resolved (beside
    // the including file). Returns false and says why in *error. Unset: the
    // file system, regular files only, with the runtime's size limit.
    std::function<bool(const std::string& path, std::string* text, std::string* error)> readFile;
};

struct ParameterInfo {
    enum Kind { Numeric, Sampler };
    std::string name;      // as cgGetNamedParameter finds it: "timestep", "light.color", "weights[2]"
    std::string typeName;  // as the header comment says it: "float2", "samplerRECT", "float3x3"
    Kind kind = Numeric;
    int target = 0;        // Sampler: ir::TexTarget
    int components = 1;    // Numeric: 1..4 in each program.local register
    int slot = 0;          // texture unit, or the first program.local index
    int slots = 1;         // Numeric: consecutive program.local registers (matrix rows, array elements)
};

struct Stats {
    int instructions = 0, aluInstructions = 0, texInstructions = 0, texIndirections = 0;
    int temporaries = 0, parameters = 0;
};

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
