#include "bench/Measure.h"

#include "app/app.h"
#include "app/globals.h"
#include "fbo/glErrorText.h"
#include "heat/heat.h"
#include "heat/referenceSolver.h"
#include "cg/compiler.h"
#include "cg/front/files.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/Report.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The program's own window and context set-up, as heat2d makes them.
void openProgramWindow() {
    static char name[] = "heat2d-bench";
    static char* argv[] = {name, nullptr};
    initGLUT(1, argv);
}

void emitRow(std::FILE* out, const char* name, int width, int height, double value, const char* unit) {
    std::fprintf(out, "row %s %dx%d %.9g %s\n", name, width, height, value, unit);
}

void emitInfo(std::FILE* out) {
    std::fprintf(out, "info renderer %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::fprintf(out, "info gl %s\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)));
}

bool glClean(const char* what) {
    bool clean = true;
    for (GLenum e; (e = glGetError()) != GL_NO_ERROR; clean = false)
        std::fprintf(stderr, "heat2d-bench: GL error during %s: %s\n", what, glErrorText(e));
    return clean;
}

// A step that silently does nothing would measure fast: refuse to time one
// whose program or buffers did not come up.
bool heatPassReady() {
    const bool ready = shadersLoaded && heatProgram && copyProgram && heatTextureParam && copyTextureParam &&
                       heatBuffers[0].getColorAttachmentID(0) && heatBuffers[1].getColorAttachmentID(0);
    if (!ready) std::fprintf(stderr, "heat2d-bench: heat buffers or programs did not come up\n");
    return ready && glClean("set-up");
}

// Seconds per call of `op`, the median over timed batches. GL work is
// drained before and after each batch, so queued work is charged to it.
double secondsPerCall(const std::function<void()>& op, bool gl, const Timing& timing) {
    auto batch = [&](long calls) {
        if (gl) glFinish();
        const Clock::time_point start = Clock::now();
        for (long i = 0; i < calls; ++i) op();
        if (gl) glFinish();
        return secondsSince(start);
    };
    // The first call pays for compiling the program's machine code.
    batch(1);
    // Doubling until a batch takes a quarter of its share.
    const double perBatch = timing.seconds / timing.batches;
    long calls = 1;
    double seconds = 0;
    while ((seconds = batch(calls)) < perBatch / 4 && calls < 1000000) calls *= 2;
    calls = std::max(1L, static_cast<long>(static_cast<double>(calls) * perBatch / std::max(seconds, 1e-9)));
    std::vector<double> perCall;
    for (int b = 0; b < timing.batches; ++b) perCall.push_back(batch(calls) / static_cast<double>(calls));
    return median(perCall);
}

// The time step of a frame at about 100 frames per second.
constexpr float kFrameSeconds = 0.03f;

void stepOnce() {
    heatStep();
    currentBuffer = 1 - currentBuffer;
}

}  // namespace

bool measureFrameLoop(int frames, std::FILE* out) {
    openProgramWindow();
    emitInfo(out);
    // Until the window is up and freeglut has drawn the first frame.
    const Clock::time_point start = Clock::now();
    while (!buffersInitialized && secondsSince(start) < 10) glutMainLoopEvent();
    if (!buffersInitialized) display();
    if (!heatPassReady()) return false;
    const int width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);

    for (int i = 0; i < 20; ++i) display();
    glFinish();
    Clock::time_point loopStart = Clock::now();
    for (int i = 0; i < frames; ++i) display();
    glFinish();
    const double loopSeconds = secondsSince(loopStart);
    emitRow(out, "frame_rate", width, height, frames / loopSeconds, "frames/s");

    // display()'s parts in its order, each alone in the pipeline.
    double parts[4] = {};
    auto timed = [](double& total, auto&& part) {
        const Clock::time_point t = Clock::now();
        part();
        glFinish();
        total += secondsSince(t);
    };
    glFinish();
    for (int i = 0; i < frames; ++i) {
        timed(parts[0], heatStep);
        timed(parts[1], presentField);
        timed(parts[2], drawFrameRate);
        timed(parts[3], [] {
            glGetError();
            glutSwapBuffers();
        });
        currentBuffer = (currentBuffer == 0) ? 1 : 0;
    }
    const char* names[4] = {"frame_heat_step", "frame_window_quad", "frame_rate_text", "frame_swap"};
    for (int p = 0; p < 4; ++p) emitRow(out, names[p], width, height, parts[p] / frames * 1e6, "us/frame");
    return glClean("the frame loop");
}

bool measureHeatStep(int gridSize, const Timing& timing, std::FILE* out) {
    gridWidth = gridHeight = gridSize;
    openProgramWindow();
    emitInfo(out);
    setUpFirstFrame();
    if (!heatPassReady()) return false;
    frameSeconds = kFrameSeconds;
    const double cells = static_cast<double>(gridSize) * gridSize;

    const double gpuSeconds = secondsPerCall(stepOnce, true, timing);
    if (!glClean("the heat step")) return false;

    // The same field the GPU starts from: the face, stamped as (1, 0, 0, 1).
    heatref::Grid grid(gridSize, gridSize);
    for (const CellOffset& offset : initialPattern) {
        grid.at(gridSize / 2 + offset.dx, gridSize / 2 + offset.dy, 0) += 1;
        grid.at(gridSize / 2 + offset.dx, gridSize / 2 + offset.dy, 3) += 1;
    }
    const float invSize = static_cast<float>(1.0 / gridSize);
    const double cpuSeconds = secondsPerCall(
        [&] { grid = heatref::step(grid, kFrameSeconds * 10.0f, invSize, invSize); }, false, timing);
    // Keeps the steps from being optimised away, and catches a broken one:
    // the borders are insulated, so the heat stays.
    const double heat = heatref::total(grid, 0);
    if (std::fabs(heat - 17.0) > 1e-3 * 17.0) {
        std::fprintf(stderr, "heat2d-bench: reference solver lost heat (%g of 17)\n", heat);
        return false;
    }

    const double gpuRate = cells / gpuSeconds, cpuRate = cells / cpuSeconds;
    emitRow(out, "heat_step_gpu", gridSize, gridSize, gpuRate / 1e6, "Mcells/s");
    emitRow(out, "heat_step_cpu_ref", gridSize, gridSize, cpuRate / 1e6, "Mcells/s");
    emitRow(out, "heat_step_gpu_vs_cpu", gridSize, gridSize, gpuRate / cpuRate, "ratio");
    return true;
}

bool measureStamps(const Timing& timing, std::FILE* out) {
    openProgramWindow();
    emitInfo(out);
    setUpFirstFrame();
    if (!heatPassReady()) return false;
    frameSeconds = kFrameSeconds;

    const double stepSeconds = secondsPerCall(stepOnce, true, timing);
    // Walks the whole grid so no one cell piles up past what a half float holds.
    int n = 0;
    const double stampSeconds = secondsPerCall(
        [&n] {
            ++n;
            applyHeat(n % gridWidth, (n / gridWidth) % gridHeight);
        },
        true, timing);
    if (!glClean("stamping")) return false;
    emitRow(out, "stamp_rate", gridWidth, gridHeight, 1 / stampSeconds, "stamps/s");
    emitRow(out, "stamp_cost_in_steps", gridWidth, gridHeight, stampSeconds / stepSeconds, "ratio");
    return true;
}

bool measureReload(const char* shaderPath, int saves, std::FILE* out) {
    std::string text, why;
    if (!cgc::readSourceFile(shaderPath, &text, &why)) {
        std::fprintf(stderr, "heat2d-bench: cannot read '%s': %s\n", shaderPath, why.c_str());
        return false;
    }
    // The build's layout, in a folder of its own: the shipped file is never
    // touched.
    char folder[] = "/tmp/heat2d-bench-XXXXXX";
    if (!mkdtemp(folder)) return false;
    const std::string root = folder, file = root + "/shaders/HeatShader.cg";
    auto save = [&](int n) {
        // Each save differs, as an edit does; the program stays the same.
        std::ofstream(file, std::ios::binary) << text << "// save " << n << "\n";
    };
    const bool laidOut = mkdir((root + "/shaders").c_str(), 0700) == 0 && mkdir((root + "/build").c_str(), 0700) == 0 &&
                         symlink("../shaders/HeatShader.cg", (root + "/build/HeatShader.cg").c_str()) == 0 &&
                         chdir((root + "/build").c_str()) == 0;
    save(0);

    bool ok = laidOut;
    if (ok) {
        openProgramWindow();
        emitInfo(out);
        setUpFirstFrame();
        ok = heatPassReady();
    }
    std::vector<double> latencies, frames, compiles;
    if (ok) {
        for (int i = 0; i < 20; ++i) display();
        glFinish();
        for (int i = 0; i < 50; ++i) {
            const Clock::time_point start = Clock::now();
            display();
            glFinish();
            frames.push_back(secondsSince(start));
        }
    }
    for (int n = 1; ok && n <= saves; ++n) {
        const int reloads = heatShaderReloads;
        save(n);
        const Clock::time_point saved = Clock::now();
        do {
            display();
            glFinish();
        } while (heatShaderReloads == reloads && secondsSince(saved) < 5);
        ok = heatShaderReloads == reloads + 1 && heatShaderError.empty();
        latencies.push_back(secondsSince(saved));

        const Clock::time_point start = Clock::now();
        ok = ok && cgc::compile(text, "HeatShader.cg").ok;
        compiles.push_back(secondsSince(start));
        // Frames between saves, as between a person's edits.
        for (const Clock::time_point idle = Clock::now(); secondsSince(idle) < 0.05;) display();
    }
    if (std::system(("rm -rf '" + root + "'").c_str()) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "heat2d-bench: a save of HeatShader.cg was not reloaded\n");
        return false;
    }
    const double latency = median(latencies), frame = median(frames), compile = median(compiles);
    const int width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
    emitRow(out, "reload_latency", width, height, latency * 1e3, "ms");
    emitRow(out, "reload_frame", width, height, frame * 1e3, "ms");
    emitRow(out, "reload_beyond_compile", width, height, (latency - compile) / frame, "frames");
    return glClean("reloading");
}

}  // namespace bench
