// The words every stage of the compiler shares: what the caller asks for,
// what it learns of each parameter, and what the program costs. Below all
// stages, so that none needs the driver's header.
#pragma once

#include "cg/limits.h"

#include <functional>
#include <string>

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
    std::vector<float> initial;  // Numeric: 4 per register, the declared initial value; empty when none
};

struct Stats {
    int instructions = 0, aluInstructions = 0, texInstructions = 0, texIndirections = 0;
    int temporaries = 0, parameters = 0;
};

}  // namespace cgc
