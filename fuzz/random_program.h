// Random programs in the shading language that are well-typed and
// well-defined on the oracle's field: branches and loops of every kind with
// break, continue, return and discard inside, functions with in, out and
// inout parameters, swizzles and masked writes, structs, arrays indexed by
// loop counters, matrices with mul both ways, every built-in, lookups of
// every sampler kind, and uniforms of every width. Arguments stay in their
// domains (sqrt(abs(x)), log(abs(x) + 0.5), x / (abs(y) + 0.5)); whether
// a pixel hinges on a threshold is the oracle's call, by nudged runs.
#pragma once

#include <cstdint>
#include <string>

namespace randprog {

struct Settings {
    int statements = 10;       // in main, before its return
    int functions = 2;         // helpers before main, at most
    int depth = 3;             // of nested statements
    bool whileLoops = true;     // while and do loops with the counter in the body
    bool continueAndBreak = true;   // both in one loop
    bool stepLast = true;           // while loops that step their counter after the body's breaks
};

// The program for a seed: TEXCOORD0..3 and COLOR0 are float4 inputs,
// uniforms of every width and samplers of every kind are declared; main
// returns a float4 COLOR.
std::string generate(std::uint64_t seed, const Settings& settings = {});

}  // namespace randprog
