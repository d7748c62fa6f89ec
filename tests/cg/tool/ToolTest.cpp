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
    const std::string badAssembly = writeFile("bad.fp", "!!ARBfp1.0\nTEMP r;\nMAX r, r, r, r;\nEND\n");
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
        {"bad assembly", badAssembly, "", 1, Nothing, badAssembly + ":3:14: error: 'MAX' takes 2 source operands, got 3\n"},
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
    // Assembly is checked and printed as it is: the output reads back as itself.
    const std::string assembly = tool(HEAT_SHADER_PATH).out;
    EXPECT_EQ(tool(writeFile("own.fp", assembly)).out, assembly);
    EXPECT_EQ(tool("-", assembly).out, assembly);
}

TEST(CgTool, PrintsTheIRAfterLoweringAndAfterANamedPass) {
    // MUL then ADD: the mad pass fuses them, the lerp pass finds nothing.
    const std::string file = writeFile("mad.cg", "float4 main(float4 t : TEXCOORD0, uniform float4 a) : COLOR {\n"
                                                 "  return t * a + a;\n}\n");
    const std::string program = tool(file).out;
    const struct {
        const char* what;
        std::string args;
        int status;
        std::string errStart;  // standard error's start
        const char* has;       // a text standard error holds, or null
        const char* lacks;     // a text it must not hold, or null
    } cases[] = {
        {"the IR before the passes", "--print-ir", 0, "# IR after lowering\n", " = MUL ", " = MAD "},
        {"a pass that fires", "--print-after=mad", 0, "# IR after mad, round 1\n", " = MAD ", " = ADD "},
        {"a pass that does not fire", "--print-after=lerp", 0, "# lerp changed nothing\n", nullptr, "%"},
        {"no passes at -O0", "-O0 --print-after=mad", 0, "# mad did not run (-O0)\n", nullptr, "%"},
        {"an unknown pass", "--print-after=madd", 2, "heat2d-cg: unknown pass 'madd' (passes: fold divide", nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = tool(c.args + " " + file);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err.rfind(c.errStart, 0), 0u) << run.err;
        if (c.has) {
            EXPECT_NE(run.err.find(c.has), std::string::npos) << run.err;
        }
        if (c.lacks) {
            EXPECT_EQ(run.err.find(c.lacks), std::string::npos) << run.err;
        }
        if (c.status == 0 && c.args.find("-O0") == std::string::npos) {
            EXPECT_EQ(run.out, program) << "the program is what it is without the dump";
        }
    }
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

// Runs `command` (a shell line, heat2d-cg as $CG) in the scratch folder;
// what it prints is left in tool.out and tool.err unless it sends it elsewhere.
Outcome shell(const std::string& command) {
    const std::string dir = scratch();
    writeFile("tool.sh", "cd '" + dir + "' || exit 99\nCG='" HEAT2D_CG "'\n{ " + command +
                             "\n} </dev/null >tool.out 2>tool.err\n");
    const int raw = std::system(("timeout 20 bash '" + dir + "tool.sh'").c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readFile(dir + "tool.out");
    run.err = readFile(dir + "tool.err");
    return run;
}

bool isLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Nothing the user has is lost: an output that is the input is refused, a
// link stays a link, a failed write leaves the old file and no temporary,
// and every failure to write is one line and a non-zero status.
TEST(CgTool, OutputNeverCostsTheUserAFile) {
    const std::string source = readFile(HEAT_SHADER_PATH);
    enum Leaves { SourceAsItWas, ProgramInTarget, OldTarget };
    const struct {
        const char* what;
        std::string setUp;    // shell commands, in the scratch folder with s.cg holding the source
        std::string command;  // as run by the shell
        int status;
        std::string err;      // the start of the one line on standard error; "" for none
        Leaves leaves;
    } cases[] = {
        {"output over its input", "", "$CG -o s.cg s.cg", 1, "heat2d-cg: refusing to write over the input 's.cg'",
         SourceAsItWas},
        {"output through a link to the input", "ln -s s.cg link.cg", "$CG -o link.cg s.cg", 1,
         "heat2d-cg: refusing to write over the input 'link.cg'", SourceAsItWas},
        {"input through a link to the output", "ln -s s.cg link.cg", "$CG -o s.cg link.cg", 1,
         "heat2d-cg: refusing", SourceAsItWas},
        {"output a hard link to the input", "ln s.cg hard.cg", "$CG -o hard.cg s.cg", 1, "heat2d-cg: refusing",
         SourceAsItWas},
        {"output over standard input's file", "", "$CG -o s.cg - <s.cg", 1, "heat2d-cg: refusing", SourceAsItWas},
        {"output through a link", "echo old >t.fp && ln -s t.fp link.fp", "$CG -o link.fp s.cg", 0, "",
         ProgramInTarget},
        {"output through a link that names nothing yet", "ln -s t.fp link.fp", "$CG -o link.fp s.cg", 0, "",
         ProgramInTarget},
        {"output to /dev/full", "echo old >t.fp", "$CG -o /dev/full s.cg", 1,
         "heat2d-cg: cannot write '/dev/full': No space left on device", OldTarget},
        {"standard output on /dev/full", "echo old >t.fp", "$CG s.cg >/dev/full", 1,
         "heat2d-cg: cannot write to standard output: No space left on device", OldTarget},
        {"help on /dev/full", "echo old >t.fp", "$CG --help >/dev/full", 1,
         "heat2d-cg: cannot write to standard output: No space left on device", OldTarget},
        {"standard output closed", "echo old >t.fp", "$CG --help >&-", 1,
         "heat2d-cg: cannot write to standard output: Bad file descriptor", OldTarget},
        // The limit stops the write part way; the message goes through a pipe, which it does not limit.
        // The limit stops the write; the message goes through a pipe, which it does not limit.
        {"a write the file size limit stops", "echo old >t.fp",
         "(trap '' XFSZ; ulimit -f 0; exec $CG -o t.fp s.cg) 2>&1 | cat >&2; exit ${PIPESTATUS[0]}", 1,
         "heat2d-cg: cannot write 't.fp': File too large", OldTarget},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        shell("rm -rf -- s.cg t.fp link.cg link.fp hard.cg .[!.]*");
        writeFile("s.cg", source);
        if (!c.setUp.empty()) {
            ASSERT_EQ(shell(c.setUp).status, 0);
        }
        const Outcome run = shell(c.command);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.err.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_TRUE(isOneLine(run.err)) << run.err;
            EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
        }
        EXPECT_EQ(readFile(scratch() + "s.cg"), source);
        if (c.leaves == ProgramInTarget) {
            EXPECT_TRUE(isProgram(readFile(scratch() + "t.fp")));
            EXPECT_TRUE(isLink(scratch() + "link.fp")) << "the link was replaced";
        } else if (c.leaves == OldTarget) {
            EXPECT_EQ(readFile(scratch() + "t.fp"), "old\n");
        }
        // No temporary is left behind, whatever happened.
        EXPECT_EQ(shell("ls -A | grep '^[.]'").out, "");
    }
}

}  // namespace
