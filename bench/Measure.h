// The measurements that need a GL context. Each runs in a process of its own
// (the heat buffers can be created only once per process) and writes its
// results to `out` as lines the parent reads back:
//   row NAME SIZE VALUE UNIT
//   info KEY TEXT...
// Returns false, with the reason on standard error, when it cannot measure.
#pragma once

#include <cstdio>

namespace bench {

// How long to spend on one rate: `batches` timed batches, `seconds` in all;
// the median batch counts.
struct Timing {
    double seconds = 1.5;
    int batches = 5;
};

bool measureFrameLoop(int frames, std::FILE* out);
bool measureHeatStep(int gridSize, const Timing& timing, std::FILE* out);
bool measureStamps(const Timing& timing, std::FILE* out);
// From a save of HeatShader.cg (the file closed) to the end of the first
// frame drawn with the new program, over `saves` saves of a copy of
// `shaderPath` in a folder of its own; also the steady frame and the compile
// alone, to say what the wait is made of.
bool measureReload(const char* shaderPath, int saves, std::FILE* out);

}  // namespace bench
