// heat2d-bench: how fast the program's real pieces run on this machine's GL.
// Every GL measurement runs in a forked process of its own, since the heat
// buffers can be created only once per process; this process only collects
// rows, times the real binary's start-up, and prints.
#include "bench/Compile.h"
#include "bench/Loads.h"
#include "bench/Measure.h"
#include "bench/Report.h"
#include "bench/Startup.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef HEAT2D_BINARY
#error "HEAT2D_BINARY must name the heat2d executable"
#endif
#ifndef HEAT2D_BENCH_BUILD_TYPE
#define HEAT2D_BENCH_BUILD_TYPE ""
#endif

namespace {

using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "usage: heat2d-bench [--quick] [--json]\n"
    "  --quick  a few frames, small grids, one start-up run (seconds, for tests)\n"
    "  --json   the same rows as JSON instead of a table\n";

struct Plan {
    int frames;
    std::vector<int> gridSizes;
    bench::Timing timing;
    int startupRuns;
    double childTimeoutSeconds;
    int reloads;
};

const Plan kFull{500, {64, 256, 1024, 2048}, {2.0, 5}, 5, 300, 21};
const Plan kQuick{50, {64, 256}, {0.1, 3}, 1, 60, 3};

class Progress {
public:
    void stage(const std::string& what) {
        std::fprintf(stderr, "heat2d-bench [%6.1f s] %s\n", elapsed(), what.c_str());
    }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    Clock::time_point start_ = Clock::now();
};

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// Reads back what a measuring process wrote (see Measure.h).
void absorb(const std::string& line, bench::Report* report) {
    std::istringstream in(line);
    std::string kind, key;
    in >> kind >> key;
    std::string rest;
    std::getline(in >> std::ws, rest);
    if (kind == "row") {
        bench::Row row{key, "", 0, ""};
        std::istringstream fields(rest);
        fields >> row.size >> row.value >> row.unit;
        report->rows.push_back(row);
    } else if (kind == "info" && key == "renderer") {
        report->renderer = rest;
    } else if (kind == "info" && key == "gl") {
        report->glVersion = rest;
    }
}

bool inChild(const std::function<bool(std::FILE*)>& measure, double timeoutSeconds, bench::Report* report) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // The program's own messages go to standard error, clear of the table.
        dup2(2, 1);
        alarm(static_cast<unsigned>(timeoutSeconds));
        std::FILE* out = fdopen(fds[1], "w");
        const bool ok = out && measure(out);
        std::fflush(nullptr);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    std::FILE* in = fdopen(fds[0], "r");
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        absorb(line, report);
        line.clear();
    }
    std::fclose(in);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        std::fprintf(stderr, "heat2d-bench: measuring process died from signal %d%s\n", WTERMSIG(status),
                     WTERMSIG(status) == SIGALRM ? " (took too long)" : "");
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool measureStartups(int runs, Progress& progress, bench::Report* report) {
    const std::string binary = HEAT2D_BINARY;
    std::vector<double> window, face;
    for (int i = 0; i < runs; ++i) {
        progress.stage("start-up of heat2d, run " + std::to_string(i + 1) + " of " + std::to_string(runs));
        bench::StartupTimes times;
        std::string why;
        if (!bench::measureStartup(binary, folderOf(binary), 30, &times, &why)) {
            std::fprintf(stderr, "heat2d-bench: start-up: %s\n", why.c_str());
            return false;
        }
        window.push_back(times.windowMs);
        face.push_back(times.faceMs);
    }
    report->rows.push_back({"startup_window", "640x480", bench::median(window), "ms"});
    report->rows.push_back({"startup_first_frame", "640x480", bench::median(face), "ms"});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false, quick = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--quick")) {
            quick = true;
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "heat2d-bench: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    const Plan& plan = quick ? kQuick : kFull;

    // glutInit ends the process on a missing display: look first.
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "heat2d-bench: cannot open X display '%s'\n", name ? name : "");
        return 1;
    }
    XCloseDisplay(probe);
    // The programs are read from the working directory, as heat2d reads them.
    const std::string folder = folderOf(HEAT2D_BINARY);
    if (chdir(folder.c_str()) != 0 || access("HeatShader.cg", R_OK) != 0) {
        std::fprintf(stderr, "heat2d-bench: no HeatShader.cg in %s\n", folder.c_str());
        return 1;
    }

    bench::Report report;
    report.buildType = HEAT2D_BENCH_BUILD_TYPE;
    report.cpus = std::thread::hardware_concurrency();
    report.quick = quick;
    Progress progress;
    bool ok = true;

    progress.stage("frame loop at 640x480, " + std::to_string(plan.frames) + " frames, twice");
    ok = ok && inChild([&](std::FILE* out) { return bench::measureFrameLoop(plan.frames, out); },
                       plan.childTimeoutSeconds, &report);
    for (int size : plan.gridSizes) {
        if (!ok) break;
        progress.stage("heat step at " + std::to_string(size) + "x" + std::to_string(size) + ", GL then CPU");
        ok = inChild([&](std::FILE* out) { return bench::measureHeatStep(size, plan.timing, out); },
                     plan.childTimeoutSeconds, &report);
    }
    if (ok) {
        progress.stage("stamps at 64x64");
        ok = inChild([&](std::FILE* out) { return bench::measureStamps(plan.timing, out); },
                     plan.childTimeoutSeconds, &report);
    }
    if (ok) {
        progress.stage("reloading a saved HeatShader.cg, " + std::to_string(plan.reloads) + " saves");
        ok = inChild([&](std::FILE* out) { return bench::measureReload("HeatShader.cg", plan.reloads, out); },
                     plan.childTimeoutSeconds, &report);
    }
    if (ok) {
        progress.stage(std::string("loading the slowest programs within the limits") + (quick ? " (one shape)" : ""));
        ok = inChild([&](std::FILE* out) { return bench::measureProgramLoads(quick, out); }, plan.childTimeoutSeconds,
                     &report);
    }
    ok = ok && measureStartups(plan.startupRuns, progress, &report);
    if (ok) {
        progress.stage("compiling HeatShader.cg");
        ok = bench::measureCompiler("HeatShader.cg", plan.timing, &report);
    }

    for (const bench::Row& row : report.rows) {
        // A program may well need no temporaries; a rate or a time of 0 is a fault.
        const bool count = row.unit == "instructions" || row.unit == "temporaries";
        if (!(std::isfinite(row.value) && (count ? row.value >= 0 : row.value > 0))) {
            std::fprintf(stderr, "heat2d-bench: %s at %s measured %g\n", row.name.c_str(), row.size.c_str(),
                         row.value);
            ok = false;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "heat2d-bench: failed after %.1f s\n", progress.elapsed());
        return 1;
    }
    progress.stage("done");
    std::fputs((json ? bench::formatJson(report) : bench::formatTable(report)).c_str(), stdout);
    return 0;
}
