// heat2d-cg as a user runs it: a process with files, standard input and
// output, and an exit status.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "tests/support/GLTest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifndef HEAT2D_CG
#error "HEAT2D_CG must name the heat2d-cg executable"
#endif

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ctest runs the cases side by side: each process works in a folder of its own.
std::string scratch() {
    static const std::string dir = [] {
        const std::string d = ::testing::TempDir() + "heat2d-cg-test-" + std::to_string(getpid()) + "/";
        ::mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

std::string writeFile(const std::string& name, const std::string& bytes) {
    const std::string path = scratch() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs heat2d-cg with `args` (shell words), `input` on standard input.
Outcome tool(const std::string& args, const std::string& input = "") {
    const std::string dir = scratch();
    writeFile("tool.in", input);
    // A tool that blocks fails the row instead of hanging the suite.
    const std::string command = "timeout 20 '" HEAT2D_CG "' " + args + " <'" + dir + "tool.in' >'" + dir +
                                "tool.out' 2>'" + dir + "tool.err'";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readFile(dir + "tool.out");
    run.err = readFile(dir + "tool.err");
    return run;
}

bool isProgram(const std::string& text) {
    return text.rfind("!!ARBfp1.0\n", 0) == 0 && text.size() > 4 && text.compare(text.size() - 4, 4, "END\n") == 0;
}

bool isOneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

const char kBadSource[] = "float4 main() : COLOR {\n  return undeclared;\n}\n";
// Compiles, with a warning: r is unassigned where c.x <= 0.
const char kWarnedSource[] = "float4 main(float2 c : TEXCOORD0) : COLOR {\n  float4 r;\n  if (c.x > 0) r = 1;\n  return r;\n}\n";

TEST(CgTool, EachWayOfCallingItGivesItsStatusAndOutput) {
    const std::string good = readFile(HEAT_SHADER_PATH);
    const std::string bad = writeFile("bad.cg", kBadSource);
    const std::string warned = writeFile("warned.cg", kWarnedSource);
    const std::string fifo = scratch() + "tool-fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    enum Out { Program, Nothing, Usage };
    const struct {
        const char* what;
        std::string args, input;
        int status;
        Out out;
        std::string err;  // the start of standard error's one line; "usage" for the usage text
    } cases[] = {
        {"a good file", HEAT_SHADER_PATH, "", 0, Program, ""},
        {"unoptimised", std::string("-O0 ") + HEAT_SHADER_PATH, "", 0, Program, ""},
        {"standard input", "-", good, 0, Program, ""},
        {"a bad file", bad, "", 1, Nothing, bad + ":2:"},
        {"bad standard input", "-", kBadSource, 1, Nothing, "<stdin>:2:"},
        {"a warning", warned, "", 0, Program, warned + ":4:10: warning: 'r' may be used before it is assigned\n"},
        {"a warning from standard input", "-O0 -", kWarnedSource, 0, Program,
         "<stdin>:4:10: warning: 'r' may be used before it is assigned\n"},
        {"a missing file", "missing.cg", "", 1, Nothing, "heat2d-cg: cannot read 'missing.cg': No such file or directory"},
        {"a FIFO", fifo, "", 1, Nothing, "heat2d-cg: cannot read '" + fifo + "': it is not a regular file (a FIFO)"},
        {"help", "--help", "", 0, Usage, ""},
        {"no file", "", "", 2, Nothing, "usage"},
        {"an unknown option", "-x " + bad, "", 2, Nothing, "usage"},
        {"two files", bad + " " + bad, "", 2, Nothing, "usage"},
        {"-o without a name", bad + " -o", "", 2, Nothing, "usage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = tool(c.args, c.input);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.out == Program) {
            EXPECT_TRUE(isProgram(run.out)) << run.out;
        } else if (c.out == Nothing) {
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_EQ(run.out.rfind("usage: heat2d-cg [-O0] [-o OUT] FILE\n", 0), 0u) << run.out;
        }
        if (c.err == "usage") {
            EXPECT_NE(run.err.find("\nusage: heat2d-cg [-O0] [-o OUT] FILE\n"), std::string::npos) << run.err;
        } else if (c.err.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_TRUE(isOneLine(run.err)) << run.err;
            EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
        }
        if (c.status == 1 && c.err.find("heat2d-cg:") != 0) {
            EXPECT_NE(run.err.find(": error: "), std::string::npos) << run.err;
        }
    }
    ::unlink(fifo.c_str());
}

TEST(CgTool, PrintsWhatTheRuntimesCompilerMakes) {
    const std::string source = readFile(HEAT_SHADER_PATH);
    cgc::Options unoptimised;
    unoptimised.optimize = false;
    EXPECT_EQ(tool(HEAT_SHADER_PATH).out, cgc::compile(source, HEAT_SHADER_PATH).text);
    EXPECT_EQ(tool(std::string("-O0 ") + HEAT_SHADER_PATH).out, cgc::compile(source, HEAT_SHADER_PATH, unoptimised).text);
    EXPECT_EQ(tool("-", source).out, cgc::compile(source, "<stdin>").text);
}

TEST(CgTool, OutputGoesToTheNamedFileOnlyWhenItCompiled) {
    const std::string out = scratch() + "tool-output.fp";
    ::unlink(out.c_str());
    const Outcome bad = tool("-o " + out + " " + writeFile("bad.cg", kBadSource));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(::access(out.c_str(), F_OK), 0) << "a failed compile created the output file";

    const Outcome good = tool("-o " + out + " " + HEAT_SHADER_PATH);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "");
    EXPECT_TRUE(isProgram(readFile(out)));

    const Outcome unwritable = tool("-o " + scratch() + "no-such-dir/x.fp " + HEAT_SHADER_PATH);
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(isOneLine(unwritable.err)) << unwritable.err;
    EXPECT_EQ(unwritable.err.rfind("heat2d-cg: cannot write '", 0), 0u) << unwritable.err;
    ::unlink(out.c_str());
}

// Its output is a shading file: loaded as HeatShader.cg, the program finds
// its parameters by name.
class CgToolOutput : public GLTest {};

TEST_F(CgToolOutput, LoadsAsTheShaderWithItsParametersNamed) {
    REQUIRE_GL_EXTENSION("GL_ARB_fragment_program");
    const std::string out = scratch() + "HeatShader.cg";
    ASSERT_EQ(tool("-o " + out + " " + HEAT_SHADER_PATH).status, 0);
    CGcontext context = cgCreateContext();
    CGprogram program = cgCreateProgramFromFile(context, CG_SOURCE, out.c_str(), cgGLGetLatestProfile(CG_GL_FRAGMENT),
                                                nullptr, nullptr);
    cgGLLoadProgram(program);
    for (const char* name : {"heatTexture", "invGridSize", "timestep"})
        EXPECT_NE(cgGetNamedParameter(program, name), nullptr) << name;
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
}

}  // namespace
