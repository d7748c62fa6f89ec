// How long llvmpipe takes to load the slowest programs within the limits
// heat2d holds shaders to: CPU time from handing the text to the driver to
// the first frame drawn with it, one row per shape ("load_*", cpu_ms). Runs
// in a process of its own, with Mesa's shader cache off, and writes rows as
// Measure.h describes. The shipped heat program is the baseline;
// --quick measures it and only the slowest shape.
#pragma once

#include <cstdio>

namespace bench {

bool measureProgramLoads(bool quick, std::FILE* out);

}  // namespace bench
