// Bad programs through the runtime API: each leaves exactly one pending
// error, one line naming the place, and a null program. No GL is needed.
#include "cg/cg.h"
#include "cg/cgGL.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string writeFile(const std::string& name, const std::string& bytes) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

const char kHeader[] = "float4 main(float4 t : TEXCOORD0, uniform samplerRECT heat) : COLOR {\n";

// main with `count` parameters made from `parameter`, one a line, %d their number.
std::string manyParameters(int count, const char* parameter, const std::string& body) {
    std::string source = "float4 main(";
    for (int i = 0; i < count; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, parameter, i);
        source += std::string(i ? ",\n" : "") + line;
    }
    return source + ") : COLOR {\n" + body + "}\n";
}

TEST(CgErrors, EachBadProgramLeavesOneErrorNamingThePlace) {
    const std::string empty = writeFile("empty.cg", "");
    const std::string garbage = writeFile("garbage.cg", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe", 13));
    const std::string missing = ::testing::TempDir() + "no-such-dir/HeatShader.cg";
    struct Case {
        const char* what;
        std::string file;    // read from this file when set
        std::string source;  // else compiled from this text
        CGerror code;
        std::string message;
    } cases[] = {
        {"missing file", missing, "", CG_FILE_READ_ERROR,
         "cannot read '" + missing + "': No such file or directory"},
        {"empty file", empty, "", CG_COMPILER_ERROR, empty + ":1:1: error: no 'main' function"},
        {"binary garbage", garbage, "", CG_COMPILER_ERROR, garbage + ":1:1: error: unexpected character '\\x7f'"},
        {"syntax error", "", std::string(kHeader) + "  float4 a = t\n  return a;\n}\n", CG_COMPILER_ERROR,
         "<string>:3:3: error: ';' expected near 'return'"},
        {"undeclared name", "", std::string(kHeader) + "  return texRECT(heatTextur, t.xy);\n}\n", CG_COMPILER_ERROR,
         "<string>:2:18: error: 'heatTextur' is not declared"},
        {"type mismatch", "", std::string(kHeader) + "  float2 a = t.xyz;\n  return a.xyxy;\n}\n", CG_COMPILER_ERROR,
         "<string>:2:15: error: cannot convert 'float3' to 'float2' for 'a'"},
        {"operands of different sizes", "", std::string(kHeader) + "  return t + t.xy;\n}\n", CG_COMPILER_ERROR,
         "<string>:2:12: error: operands of '+' have types 'float4' and 'float2'"},
        {"letters from two sets", "", std::string(kHeader) + "  return t.xgba;\n}\n", CG_COMPILER_ERROR,
         "<string>:2:11: error: invalid swizzle '.xgba'"},
        {"component out of range", "", std::string(kHeader) + "  float2 a = t.xy;\n  return a.xyzz;\n}\n",
         CG_COMPILER_ERROR, "<string>:3:11: error: swizzle '.xyzz' is out of range for 'float2'"},
        {"repeated write mask", "", std::string(kHeader) + "  float4 a = t;\n  a.xx = t.xy;\n  return a;\n}\n",
         CG_COMPILER_ERROR, "<string>:3:4: error: write mask '.xx' repeats a component"},
        {"user function", "", "float twice(float x) { return 2 * x; }\n", CG_COMPILER_ERROR,
         "<string>:1:7: error: functions other than 'main' are not supported ('twice')"},
        {"if", "", std::string(kHeader) + "  if (t.x) return t;\n  return t;\n}\n", CG_COMPILER_ERROR,
         "<string>:2:3: error: 'if' statements are not supported"},
        {"loop", "", std::string(kHeader) + "  float4 a = t;\n  for (;;) a += 1;\n  return a;\n}\n",
         CG_COMPILER_ERROR, "<string>:3:3: error: loops ('for') are not supported"},
        {"struct", "", "struct S { float x; };\n", CG_COMPILER_ERROR, "<string>:1:1: error: structs are not supported"},
        {"array", "", std::string(kHeader) + "  float a[2];\n  return t;\n}\n", CG_COMPILER_ERROR,
         "<string>:2:10: error: arrays are not supported"},
        {"comparison", "", std::string(kHeader) + "  return t < 1;\n}\n", CG_COMPILER_ERROR,
         "<string>:2:12: error: operator '<' is not supported"},
        {"second main", "", std::string(kHeader) + "  return t;\n}\nvoid main() {}\n", CG_COMPILER_ERROR,
         "<string>:4:6: error: 'main' is defined twice (first at line 1)"},
        {"missing main", "", "static const float k = 1;\n", CG_COMPILER_ERROR,
         "<string>:2:1: error: no 'main' function"},
        {"truncated comment", "", std::string(kHeader) + "  return t;\n} /* the end", CG_COMPILER_ERROR,
         "<string>:3:3: error: unterminated comment"},
        {"missing brace", "", std::string(kHeader) + "  return t;\n", CG_COMPILER_ERROR,
         "<string>:3:1: error: '}' expected near end of file"},
        {"no output", "", "void main(float4 t : TEXCOORD0) { float4 a = t; }\n", CG_COMPILER_ERROR,
         "<string>:1:6: error: 'main' has no COLOR output"},
        {"output never written", "", "void main(out float4 c : COLOR) { }\n", CG_COMPILER_ERROR,
         "<string>:1:22: error: output 'c' is never written"},
        {"assigning a uniform", "", "float4 main(uniform float4 u) : COLOR { u = 1; return u; }\n",
         CG_COMPILER_ERROR, "<string>:1:41: error: cannot assign to uniform 'u'"},
        {"constant division by zero", "", "float4 main() : COLOR { return 1 / (2 - 2); }\n", CG_COMPILER_ERROR,
         "<string>:1:34: error: division by zero"},
        // The reciprocal of a tiny divisor is infinite, which an ARB program cannot spell.
        {"division by a tiny constant", "", "float4 main(float4 t : TEXCOORD0) : COLOR { return t / 1e-39; }\n",
         CG_COMPILER_ERROR, "<string>:1:54: error: division by a constant too close to zero"},
        {"compound division by a tiny constant", "",
         "float4 main(float4 t : TEXCOORD0) : COLOR { float4 r = t; r /= float4(1, 2, 1e-39, 4); return r; }\n",
         CG_COMPILER_ERROR, "<string>:1:64: error: division by a constant too close to zero"},
        {"unsupported directive", "", "#include \"x.cg\"\n", CG_COMPILER_ERROR,
         "<string>:1:1: error: '#include' is not supported"},
        {"macro with parameters", "", "#define SQ(x) x*x\n", CG_COMPILER_ERROR,
         "<string>:1:9: error: macros with parameters are not supported ('SQ')"},
        {"malformed number", "", "float4 main() : COLOR { return 1.5e; }\n", CG_COMPILER_ERROR,
         "<string>:1:32: error: malformed number '1.5e'"},
        {"wrong semantic", "", "float4 main(float4 p : POSITION) : COLOR { return p; }\n", CG_COMPILER_ERROR,
         "<string>:1:24: error: input semantic 'POSITION' is not supported"},
        {"wrong sampler kind", "", "float4 main(float2 t : TEXCOORD0, uniform sampler2D s) : COLOR { return texRECT(s, t); }\n",
         CG_COMPILER_ERROR, "<string>:1:81: error: 'texRECT' needs a samplerRECT, 's' is sampler2D"},
        {"wrong argument count", "", "float4 main(float4 t : TEXCOORD0) : COLOR { return max(t); }\n",
         CG_COMPILER_ERROR, "<string>:1:52: error: 'max' takes 2 arguments, got 1"},
        // Past the units a driver has, GL rejects the text the compiler gave.
        {"seventeen samplers", "", manyParameters(17, "uniform samplerRECT s%d", "return texRECT(s16, float2(0, 0));\n"),
         CG_COMPILER_ERROR, "<string>:17:21: error: too many samplers ('s16'): at most 16"},
        {"257 uniforms", "", manyParameters(257, "uniform float u%d", "return u256;\n"), CG_COMPILER_ERROR,
         "<string>:257:15: error: too many uniforms ('u256'): at most 256"},
    };
    CGcontext context = cgCreateContext();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CGprogram program = c.file.empty()
            ? cgCreateProgram(context, CG_SOURCE, c.source.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr)
            : cgCreateProgramFromFile(context, CG_SOURCE, c.file.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        EXPECT_EQ(program, nullptr);
        // What the program does next with the null handle must not replace the cause.
        cgGLLoadProgram(program);
        EXPECT_EQ(cgGetNamedParameter(program, "heatTexture"), nullptr);
        CGerror error = cgGetError();
        EXPECT_EQ(error, c.code);
        EXPECT_EQ(std::string(cgGetErrorString(error)), c.message);
        EXPECT_EQ(cgGetError(), CG_NO_ERROR) << "more than one error was pending";
    }
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
        {"other entry", context, CG_SOURCE, "x", CG_PROFILE_ARBFP1, "heat", CG_INVALID_PARAMETER_ERROR},
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
    EXPECT_STREQ(cgGetErrorString(first), "<string>:1:32: error: 'x' is not declared");
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
