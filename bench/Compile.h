// Rows from the shading compiler, measured without GL: the instruction and
// temporary counts of the two shipped programs, and the time to compile
// HeatShader.cg.
#pragma once

#include "bench/Measure.h"
#include "bench/Report.h"

#include <string>

namespace bench {

// False, with the reason on standard error, when a shipped program does not compile.
bool measureCompiler(const std::string& heatShaderPath, const Timing& timing, Report* report);

}  // namespace bench
