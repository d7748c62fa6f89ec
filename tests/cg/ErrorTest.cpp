// Bad programs through the runtime API: each leaves exactly one pending
// error, one line naming the place, and a null program. No GL is needed.
#include "cg/cg.h"
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "cg/front/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Names of this process's own in /tmp: other suites run beside this one.
std::string uniqueTemp() { return ::testing::TempDir() + "cgrt-" + std::to_string(getpid()) + "-"; }

std::string writeFile(const std::string& name, const std::string& bytes) {
    std::string path = uniqueTemp() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

cgc::Compiled compileFile(const std::string& path) {
    std::string text, why;
    if (!cgc::readSourceFile(path, &text, &why)) return {false, "", why, {}, {}, {}};
    return cgc::compile(text, path);
}

const char kHeader[] = "float4 main(float4 t : TEXCOORD0, uniform samplerRECT heat) : COLOR {\n";

// The compiler's wording belongs to its own tests; the runtime must carry
// its one line as the one pending error, and add nothing after it.
TEST(CgErrors, EachBadProgramLeavesTheCompilersOneLine) {
    const std::string empty = writeFile("empty.cg", "");
    const std::string garbage = writeFile("garbage.cg", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe", 13));
    struct Case {
        const char* what;
        std::string file;    // read from this file when set
        std::string source;  // else compiled from this text
    } cases[] = {
        {"empty file", empty, ""},
        {"binary garbage", garbage, ""},
        {"syntax error", "", std::string(kHeader) + "  float4 a = t\n  return a;\n}\n"},
        {"undeclared name", "", std::string(kHeader) + "  return texRECT(heatTextur, t.xy);\n}\n"},
        {"second main", "", std::string(kHeader) + "  return t;\n}\nfloat4 main(float4 t : TEXCOORD0, uniform samplerRECT heat) : COLOR { return t; }\n"},
        {"missing main", "", "static const float k = 1;\n"},
        {"truncated comment", "", std::string(kHeader) + "  return t;\n} /* the end"},
        {"missing brace", "", std::string(kHeader) + "  return t;\n"},
        {"malformed number", "", "float4 main() : COLOR { return 1.5e; }\n"},
        {"wrong sampler kind", "", "float4 main(float2 t : TEXCOORD0, uniform sampler2D s) : COLOR { return texRECT(s, t); }\n"},
    };
    CGcontext context = cgCreateContext();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = c.file.empty() ? "<string>" : c.file;
        const cgc::Compiled direct = c.file.empty() ? cgc::compile(c.source, name) : compileFile(c.file);
        ASSERT_FALSE(direct.ok) << "the compiler accepts this program";
        ASSERT_EQ(direct.error.rfind(name + ":", 0), 0u) << direct.error;
        EXPECT_NE(direct.error.find(": error: "), std::string::npos) << direct.error;
        EXPECT_EQ(direct.error.find('\n'), std::string::npos) << direct.error;

        CGprogram program = c.file.empty()
            ? cgCreateProgram(context, CG_SOURCE, c.source.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr)
            : cgCreateProgramFromFile(context, CG_SOURCE, c.file.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        EXPECT_EQ(program, nullptr);
        // What the program does next with the null handle must not replace the cause.
        cgGLLoadProgram(program);
        EXPECT_EQ(cgGetNamedParameter(program, "heatTexture"), nullptr);
        CGerror error = cgGetError();
        EXPECT_EQ(error, CG_COMPILER_ERROR);
        EXPECT_EQ(std::string(cgGetErrorString(error)), direct.error);
        EXPECT_EQ(cgGetError(), CG_NO_ERROR) << "more than one error was pending";
    }
}

// Files the runtime cannot read: one line that says which file, where it
// looked for a relative name, and why; and never a wait on a FIFO.
TEST(CgErrors, AnUnreadableFileSaysWhereTheRuntimeLooked) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string fifo = uniqueTemp() + "fifo.cg";
    ::unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = uniqueTemp() + "no-such-dir/HeatShader.cg";
    const struct {
        const char* what;
        std::string path;
        std::string message;
    } cases[] = {
        {"relative name", "no-such-HeatShader.cg",
         "cannot read 'no-such-HeatShader.cg' in " + std::string(cwd) + ": No such file or directory"},
        {"absolute name", missing, "cannot read '" + missing + "': No such file or directory"},
        {"FIFO", fifo, "cannot read '" + fifo + "': it is not a regular file (a FIFO)"},
    };
    CGcontext context = cgCreateContext();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cgCreateProgramFromFile(context, CG_SOURCE, c.path.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr),
                  nullptr);
        CGerror error = cgGetError();
        EXPECT_EQ(error, CG_FILE_READ_ERROR);
        EXPECT_EQ(std::string(cgGetErrorString(error)), c.message);
    }
    ::unlink(fifo.c_str());
}

TEST(CgErrors, BadArgumentsToCreateAreErrorsNotCrashes) {
    CGcontext context = cgCreateContext();
    struct Case {
        const char* what;
        CGcontext context;
        CGenum type;
        const char* source;
        CGprofile profile;
        const char* entry;
        CGerror code;
    } cases[] = {
        {"null context", nullptr, CG_SOURCE, "void main() {}", CG_PROFILE_ARBFP1, nullptr, CG_INVALID_CONTEXT_HANDLE_ERROR},
        {"foreign context", reinterpret_cast<CGcontext>(&context), CG_SOURCE, "x", CG_PROFILE_ARBFP1, nullptr,
         CG_INVALID_CONTEXT_HANDLE_ERROR},
        {"object code", context, 4113, "x", CG_PROFILE_ARBFP1, nullptr, CG_INVALID_ENUMERANT_ERROR},
        {"null text", context, CG_SOURCE, nullptr, CG_PROFILE_ARBFP1, nullptr, CG_INVALID_PARAMETER_ERROR},
        {"unknown profile", context, CG_SOURCE, "x", CG_PROFILE_UNKNOWN, nullptr, CG_INVALID_PROFILE_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cgCreateProgram(c.context, c.type, c.source, c.profile, c.entry, nullptr), nullptr);
        EXPECT_EQ(cgCreateProgramFromFile(c.context, c.type, c.source, c.profile, c.entry, nullptr), nullptr);
        CGerror error = cgGetError();
        EXPECT_EQ(error, c.code);
        std::string text = cgGetErrorString(error);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find('\n'), std::string::npos);
        EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    }
}

TEST(CgErrors, TheFirstErrorIsKeptUntilFetched) {
    CGcontext context = cgCreateContext();
    EXPECT_EQ(cgCreateProgram(context, CG_SOURCE, "float4 main() : COLOR { return x; }", CG_PROFILE_ARBFP1,
                              nullptr, nullptr), nullptr);
    cgGLSetParameter1f(nullptr, 1);
    EXPECT_EQ(cgCreateProgramFromFile(context, CG_SOURCE, "/nonexistent.cg", CG_PROFILE_ARBFP1, nullptr, nullptr),
              nullptr);
    CGerror first = cgGetError();
    EXPECT_EQ(first, CG_COMPILER_ERROR);
    EXPECT_EQ(std::string(cgGetErrorString(first)).rfind("<string>:1:32: error: ", 0), 0u) << cgGetErrorString(first);
    // Fetched and cleared: the next fault is pending on its own.
    cgGLSetParameter1f(nullptr, 1);
    CGerror next = cgGetError();
    EXPECT_EQ(next, CG_INVALID_PARAM_HANDLE_ERROR);
    EXPECT_STREQ(cgGetErrorString(next), "cgGLSetParameter1f: invalid parameter handle");
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_STREQ(cgGetErrorString(CG_NO_ERROR), "no error");
}

TEST(CgErrors, AMissingParameterNameIsReported) {
    CGcontext context = cgCreateContext();
    CGprogram program = cgCreateProgramFromFile(context, CG_SOURCE, HEAT_SHADER_PATH, CG_PROFILE_ARBFP1, nullptr,
                                                nullptr);
    ASSERT_NE(program, nullptr) << cgGetErrorString(cgGetError());
    EXPECT_NE(cgGetNamedParameter(program, "timestep"), nullptr);
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_EQ(cgGetNamedParameter(program, "timeStep"), nullptr);
    EXPECT_EQ(cgGetError(), CG_INVALID_PARAMETER_ERROR);
    EXPECT_EQ(std::string(cgGetErrorString(CG_INVALID_PARAMETER_ERROR)),
              std::string(HEAT_SHADER_PATH) + ": error: no uniform parameter named 'timeStep'");
}

}  // namespace
