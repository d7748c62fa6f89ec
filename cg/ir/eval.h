// What each op computes, on the CPU, in single precision. The constant
// folder and the lowering's builder fold with it; the interpreter runs whole
// functions with it, so tests can compare programs before and after a pass.
#pragma once

#include "cg/ir/ir.h"

#include <array>
#include <functional>
#include <vector>

namespace cgc::ir {

using Vec4 = std::array<float, 4>;

// A source's value: the defining value through its swizzle and negation.
Vec4 read(const Src& src, const Vec4& defined);

// One instruction on its sources' values (already read through their
// swizzles). Returns false for ops that have no value of their own to
// compute here: leaves, lookups, Kil and Output. Applies `sat`.
bool evaluate(const Inst& inst, const Vec4* sources, Vec4* out);

// Everything a fragment sees, for the interpreter.
struct Fragment {
    Vec4 inputs[12] = {};                // by Attr
    std::vector<Vec4> uniforms;          // program.local[n]; missing ones read 0
    // A lookup: op Tex, Txp or Txb, the unit, the target and the coordinate as
    // the instruction reads it (the interpreter does not divide by w).
    std::function<Vec4(Op op, int unit, TexTarget target, const Vec4& coordinate)> sample;
};

struct Result {
    bool killed = false;
    bool wroteColor = false, wroteDepth = false;
    Vec4 color = {};
    float depth = 0;
};

// Runs f on one fragment. Undef reads as NaN, so a program that depends on
// an undefined lane shows it.
Result run(const Function& f, const Fragment& fragment);

}  // namespace cgc::ir
