// heat2d-cg --eval and --trace as a user runs them: a process, its output
// and its exit status.
#include "heat/pattern.h"
#include "heat/referenceSolver.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string scratch(const std::string& name) { return ::testing::TempDir() + "eval-" + std::to_string(getpid()) + "-" + name; }

Outcome tool(const std::string& args, const std::string& source = "") {
    const std::string in = scratch("in.cg"), out = scratch("out"), err = scratch("err");
    std::ofstream(in, std::ios::binary) << source;
    const std::string command = "timeout 20 '" HEAT2D_CG "' " + args + " '" + in + "' >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::stringstream o, e;
    o << std::ifstream(out).rdbuf();
    e << std::ifstream(err).rdbuf();
    r.out = o.str();
    r.err = e.str();
    return r;
}

std::string lastLine(const std::string& text) {
    std::size_t end = text.size() && text.back() == '\n' ? text.size() - 1 : text.size();
    return text.substr(text.rfind('\n', end - 1) + 1, end - text.rfind('\n', end - 1) - 1);
}

std::string shipped() {
    std::stringstream s;
    s << std::ifstream(HEAT_SHADER_PATH).rdbuf();
    return s.str();
}

TEST(EvalTool, theShippedStepAtTheFaceMatchesTheReferenceSolver) {
    heatref::Grid start(kInitialGridSize, kInitialGridSize);
    for (int y = 0; y < start.height; ++y)
        for (int x = 0; x < start.width; ++x)
            for (int c = 0; c < 4; ++c) start.at(x, y, c) = kBackground[c];
    for (const CellOffset& o : initialPattern)
        for (int c = 0; c < 4; ++c) start.at(32 + o.dx, 32 + o.dy, c) += kStamp[c];
    const heatref::Grid next = heatref::step(start, 0.4f, 1.0f / 64, 1.0f / 64);
    // The centre, an eye, a cell beside the mouth, a corner.
    for (auto [x, y] : {std::pair{32, 32}, {30, 35}, {31, 35}, {28, 31}, {0, 0}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        const Outcome r = tool("--eval " + std::to_string(x) + "," + std::to_string(y), shipped());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        float got[4];
        ASSERT_EQ(std::sscanf(lastLine(r.out).c_str(), "%f %f %f %f", got, got + 1, got + 2, got + 3), 4) << r.out;
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[c], next.at(x, y, c), 1e-6) << "channel " << c;
    }
}

TEST(EvalTool, setOverridesAUniformAndTraceShowsALoopUpToItsBreak) {
    const std::string source =
        "float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture, uniform float timestep) : COLOR\n"
        "{\n"
        "    float4 sum = 0;\n"
        "    for (int i = 0; i < 8; i++) {\n"
        "        if (i * timestep > 1) break;\n"
        "        sum += texRECT(heatTexture, coords + float2(i, 0));\n"
        "    }\n"
        "    return sum;\n"
        "}\n";
    const Outcome r = tool("--trace --set timestep=0.5 --eval 28,31", source);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string name = scratch("in.cg");
    // (28, 31) is the mouth's corner, (1, 0, 0, 2); the next cells are background.
    const std::string want = name + ":3: sum = (0, 0, 0, 0)\n" + name + ":4: i = 0\n" + name + ":6: sum = (1, 0, 0, 2)\n" +
                             name + ":4: i = 1\n" + name + ":6: sum = (1, 0, 0, 3)\n" + name + ":4: i = 2\n" + name +
                             ":6: sum = (1, 0, 0, 4)\n" + name + ":4: i = 3\n1 0 0 4\n";
    EXPECT_EQ(r.out, want);
}

TEST(EvalTool, aBoolSetToAnyValueButZeroIsTrueAsInHeat2d) {
    const char* const source =
        "float4 main(float2 c : TEXCOORD0, uniform bool b) : COLOR\n"
        "{ return float4(b ? 1 : 0, !b ? 1 : 0, b == true ? 1 : 0, (float)b); }\n";
    const struct {
        const char* value;
        const char* want;
    } rows[] = {{"0", "0 1 0 0"}, {"1", "1 0 1 1"}, {"2", "1 0 1 1"}, {"-1", "1 0 1 1"}, {"0.25", "1 0 1 1"}};
    for (const auto& row : rows) {
        const Outcome r = tool(std::string("--eval 1,1 --set b=") + row.value, source);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lastLine(r.out), row.want) << "b = " << row.value;
    }
}

TEST(EvalTool, faultsAreOneLineAndAStatus) {
    const char* const loop = "float4 main(float2 c : TEXCOORD0, uniform float k) : COLOR { return k; }";
    const struct {
        const char* args;
        const char* source;
        int status;
        const char* err;  // the start of the one line on standard error
    } rows[] = {
        {"--eval 64,0", "", 2, "heat2d-cg: --eval takes a cell X,Y, each 0 to 63"},
        {"--eval 1", "", 2, "heat2d-cg: --eval takes a cell X,Y"},
        {"--trace", "", 2, "heat2d-cg: --set and --trace need --eval"},
        {"--eval 1,1 --set k", "", 2, "heat2d-cg: --set takes NAME=v[,v...]"},
        {"--eval 1,1 --set nothere=1", loop, 1, "heat2d-cg: "},
        {"--eval 1,1 --set k=1,2", loop, 1, "heat2d-cg: --set k takes 1 value, got 2"},
        {"--eval 1,1", "float4 main() : COLOR { return x; }", 1, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const Outcome r = tool(row.args, row.source);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err.rfind(row.err, 0), 0u) << r.err;
        if (row.status == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
