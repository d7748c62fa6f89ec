// Type checker: resolves names, gives every expression its type, folds
// constant expressions and lays out the program's parameters.
#pragma once

#include "cg/ast.h"

#include <memory>
#include <string>
#include <vector>

namespace cgc {

struct Symbol {
    enum Kind { Uniform, Sampler, Input, Output, Local, Constant } kind = Local;
    std::string name;
    Type type;
    Loc loc;
    bool readOnly = false;
    bool hasValue = false;  // a constant whose value is known
    float value[4] = {0, 0, 0, 0};
    int slot = 0;           // Uniform: program.local index; Sampler: texture unit
    std::string input;      // Input: the fragment attribute it reads
    bool written = false;   // Output
};

struct Checked {
    std::vector<std::unique_ptr<Symbol>> symbols;
    std::vector<Symbol*> parameters;  // uniforms and samplers, in declaration order
    Symbol* output = nullptr;         // the out parameter, when main returns void
};

// Throws CompileError naming the place in `sourceName`.
Checked check(Program& program, const std::string& sourceName);

}  // namespace cgc
