#include "bench/Compile.h"

#include "cg/compiler.h"
#include "cg/front/files.h"
#include "heat/heat.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

void addCounts(const char* program, const char* size, const cgc::Stats& stats, Report* report) {
    report->rows.push_back({std::string(program) + "_instructions", size, double(stats.instructions), "instructions"});
    report->rows.push_back({std::string(program) + "_temporaries", size, double(stats.temporaries), "temporaries"});
}

}  // namespace

bool measureCompiler(const std::string& heatShaderPath, const Timing& timing, Report* report) {
    std::string source, why;
    if (!cgc::readSourceFile(heatShaderPath, &source, &why)) {
        std::fprintf(stderr, "heat2d-bench: cannot read '%s': %s\n", heatShaderPath.c_str(), why.c_str());
        return false;
    }
    const cgc::Compiled heat = cgc::compile(source, heatShaderPath);
    const cgc::Compiled copy = cgc::compile(copyProgramSource, "copy program");
    for (const cgc::Compiled* c : {&heat, &copy}) {
        if (!c->ok) {
            std::fprintf(stderr, "heat2d-bench: %s\n", c->error.c_str());
            return false;
        }
    }
    // A compiler that counts nothing (the direct emitter) would show zeros
    // that mean nothing.
    if (heat.stats.instructions > 0) {
        addCounts("heat_program", "HeatShader.cg", heat.stats, report);
        addCounts("copy_program", "copy", copy.stats, report);
    } else {
        std::fprintf(stderr, "heat2d-bench: this compiler counts no instructions; those rows are left out\n");
    }

    // Batches of whole compiles, each about its share of the time; the
    // median batch gives the time of one.
    std::vector<double> perCompileMs;
    const double batchSeconds = timing.seconds / timing.batches;
    for (int b = 0; b < timing.batches; ++b) {
        int compiles = 0;
        const Clock::time_point start = Clock::now();
        double elapsed = 0;
        do {
            if (!cgc::compile(source, heatShaderPath).ok) return false;
            ++compiles;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < batchSeconds);
        perCompileMs.push_back(elapsed * 1000 / compiles);
    }
    report->rows.push_back({"compile_heat_program", "HeatShader.cg", median(perCompileMs), "ms"});
    return true;
}

}  // namespace bench
