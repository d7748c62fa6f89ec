// The whole compiler for the language tests, as heat2d runs it: the error
// line, or the ARB text with the header comments that name each parameter.
#pragma once

#include "cg/compiler.h"

#include <string>

namespace constructtest {

using Program = cgc::Compiled;

inline Program compileProgram(const std::string& source, const cgc::Options& options = {}) {
    return cgc::compile(source, "test.cg", options);
}

}  // namespace constructtest
