// The runtime's GL side: null handles, parameter uploads that keep the
// bound program, texture units, assembly text, and generated text that GL
// accepts for every program the compiler accepts.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "tests/cg/GLTargets.h"
#include "tests/cg/Mutations.h"
#include "tests/support/GLTest.h"

#include <cstdio>
#include <string>
#include <vector>

using cgtest::FloatTarget;

namespace {

class CgRuntime : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        REQUIRE_FLOAT_TARGETS();
        context = cgCreateContext();
    }

    CGprogram load(const char* source) {
        CGprogram p = cgCreateProgram(context, CG_SOURCE, source, CG_PROFILE_ARBFP1, nullptr, nullptr);
        cgGLLoadProgram(p);
        CGerror error = cgGetError();
        EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
        return p;
    }

    static GLint boundProgram() {
        GLint id = -1;
        glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &id);
        return id;
    }

    static std::vector<float> run(CGprogram program, int w = 1, int h = 1) {
        FloatTarget target(w, h, GL_RGBA32F_ARB);
        cgtest::drawPass(target, program);
        return target.read();
    }

    CGcontext context = nullptr;
};

const char kConstantProgram[] = "float4 main(uniform float4 v) : COLOR { return v; }";

TEST_F(CgRuntime, NullHandlesAreHarmless) {
    CGprogram copy = load(cgtest::kCopyProgram);
    cgGLBindProgram(copy);
    const GLint bound = boundProgram();
    GLuint texture = 0;
    glGenTextures(1, &texture);

    cgGLLoadProgram(nullptr);  // the first fault: the one kept
    cgGLBindProgram(nullptr);
    EXPECT_EQ(cgGetNamedParameter(nullptr, "texture"), nullptr);
    EXPECT_EQ(cgGetNamedParameter(copy, nullptr), nullptr);
    cgGLSetTextureParameter(nullptr, texture);
    cgGLEnableTextureParameter(nullptr);
    cgGLSetParameter1f(nullptr, 1);
    cgGLSetParameter2f(nullptr, 1, 2);
    cgGLSetParameter4f(nullptr, 1, 2, 3, 4);
    cgGLEnableProfile(CG_PROFILE_UNKNOWN);
    cgGLDisableProfile(CG_PROFILE_UNKNOWN);
    EXPECT_EQ(cgCreateProgram(nullptr, CG_SOURCE, kConstantProgram, CG_PROFILE_ARBFP1, nullptr, nullptr), nullptr);

    EXPECT_TRUE(testgl::drainErrors().empty());
    EXPECT_EQ(boundProgram(), bound);
    EXPECT_FALSE(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_INVALID_PROGRAM_HANDLE_ERROR);
    EXPECT_STREQ(cgGetErrorString(error), "cgGLLoadProgram: invalid program handle");
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    glDeleteTextures(1, &texture);
}

TEST_F(CgRuntime, WrongKindsOfParameterAreRefused) {
    CGprogram copy = load(cgtest::kCopyProgram);
    CGprogram constant = load(kConstantProgram);
    CGparameter sampler = cgGetNamedParameter(copy, "texture");
    CGparameter value = cgGetNamedParameter(constant, "v");
    ASSERT_TRUE(sampler && value);
    cgGLSetParameter1f(sampler, 1);
    EXPECT_EQ(cgGetError(), CG_INVALID_PARAMETER_TYPE_ERROR);
    cgGLSetTextureParameter(value, 1);
    EXPECT_EQ(cgGetError(), CG_INVALID_PARAMETER_TYPE_ERROR);
    cgGLEnableTextureParameter(value);
    EXPECT_EQ(cgGetError(), CG_INVALID_PARAMETER_TYPE_ERROR);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgRuntime, SettingAParameterKeepsTheBoundProgram) {
    const GLint before = boundProgram();
    CGprogram constant = load(kConstantProgram);
    CGprogram copy = load(cgtest::kCopyProgram);
    EXPECT_EQ(boundProgram(), before) << "loading left its program bound";
    cgGLBindProgram(copy);
    const GLint copyId = boundProgram();
    cgGLSetParameter4f(cgGetNamedParameter(constant, "v"), 1, -2, 3.5f, 40);
    EXPECT_EQ(boundProgram(), copyId) << "setting another program's parameter switched programs";
    EXPECT_EQ(run(constant), (std::vector<float>{1, -2, 3.5f, 40}));

    // Set before loading: the value is there once loaded.
    CGprogram early = cgCreateProgram(context, CG_SOURCE, kConstantProgram, CG_PROFILE_ARBFP1, nullptr, nullptr);
    cgGLSetParameter2f(cgGetNamedParameter(early, "v"), 5, 6);
    cgGLLoadProgram(early);
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_EQ(run(early), (std::vector<float>{5, 6, 0, 0}));
    // One component changes only its own.
    cgGLSetParameter1f(cgGetNamedParameter(early, "v"), 7);
    EXPECT_EQ(run(early), (std::vector<float>{7, 6, 0, 0}));
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgRuntime, ABoolIsTrueForEveryValueButZero) {
    // `!b` and `&&` compute on 0 and 1; the loop's count rests on it too.
    CGprogram p = load(
        "float4 main(uniform bool b, uniform float u) : COLOR {\n"
        " float s = 0;\n int n = 0;\n"
        " while (n < 3) { if (u < 0.5 && !b) break; s += 1; n++; }\n"
        " return float4(b ? 1 : 0, !b ? 1 : 0, s, (b || u > 0.5) ? 1 : 0);\n}\n");
    CGparameter b = cgGetNamedParameter(p, "b"), u = cgGetNamedParameter(p, "u");
    ASSERT_TRUE(b && u);
    for (float value : {0.0f, 1.0f, 2.0f, -1.0f, 0.25f, -0.0f, 1e30f})
        for (float uValue : {0.0f, 1.0f}) {
            SCOPED_TRACE("b = " + std::to_string(value) + ", u = " + std::to_string(uValue));
            cgGLSetParameter1f(b, value);
            cgGLSetParameter1f(u, uValue);
            const float t = value != 0 ? 1 : 0;
            EXPECT_EQ(run(p), (std::vector<float>{t, 1 - t, uValue < 0.5f && !t ? 0.0f : 3.0f,
                                                  t || uValue > 0.5f ? 1.0f : 0.0f}));
        }
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgRuntime, ADestroyedProgramLeavesGLAndItsHandlesAreRefused) {
    CGprogram gone = load(kConstantProgram), kept = load(kConstantProgram);
    CGparameter goneValue = cgGetNamedParameter(gone, "v"), keptValue = cgGetNamedParameter(kept, "v");
    cgGLBindProgram(gone);
    const GLint goneId = boundProgram();
    cgDestroyProgram(gone);
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_FALSE(glIsProgramARB(GLuint(goneId)));
    for (void (*call)(CGprogram) : {cgGLBindProgram, cgGLLoadProgram, cgDestroyProgram}) {
        call(gone);
        EXPECT_EQ(cgGetError(), CG_INVALID_PROGRAM_HANDLE_ERROR);
    }
    cgGLSetParameter4f(goneValue, 1, 2, 3, 4);
    EXPECT_EQ(cgGetError(), CG_INVALID_PARAM_HANDLE_ERROR);
    cgGLSetParameter4f(keptValue, 1, 2, 3, 4);
    EXPECT_EQ(run(kept), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgRuntime, SamplersUseTheirOwnUnitsAndLeaveUnitZeroActive) {
    CGprogram program = load(
        "float4 main(float4 t : TEXCOORD0, uniform samplerRECT a, uniform sampler2D b) : COLOR {\n"
        "  return texRECT(a, t.xy) + 10 * tex2D(b, float2(0.5, 0.5));\n}");
    CGparameter a = cgGetNamedParameter(program, "a");
    CGparameter b = cgGetNamedParameter(program, "b");
    ASSERT_TRUE(a && b);
    FloatTarget rect(1, 1, GL_RGBA32F_ARB, {1, 2, 3, 4});
    GLuint flat = 0;
    glGenTextures(1, &flat);
    glBindTexture(GL_TEXTURE_2D, flat);
    const float texel[4] = {0.5f, 0.25f, -1, 2};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F_ARB, 1, 1, 0, GL_RGBA, GL_FLOAT, texel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);

    cgGLSetTextureParameter(b, flat);
    cgGLEnableTextureParameter(b);
    GLint active = 0, onUnit1 = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE0);
    glActiveTexture(GL_TEXTURE1);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &onUnit1);
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(GLuint(onUnit1), flat);

    FloatTarget target(1, 1, GL_RGBA32F_ARB);
    cgtest::drawPass(target, program, a, &rect);
    EXPECT_EQ(target.read(), (std::vector<float>{6, 4.5f, -7, 24}));
    EXPECT_TRUE(testgl::drainErrors().empty());
    glDeleteTextures(1, &flat);
}

// main with `count` parameters made from `parameter`, %d their number.
std::string manyParameters(int count, const char* parameter, const char* body) {
    std::string source = "float4 main(float4 t : TEXCOORD0";
    for (int i = 0; i < count; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, parameter, i);
        source += std::string(", ") + text;
    }
    return source + ") : COLOR {\n" + body + "\n}";
}

TEST_F(CgRuntime, ProgramsAtTheCompilersLimitsLoadAndRun) {
    const struct {
        const char* what;
        std::string source;
        const char* sampler;  // set to a texture holding 1, 2, 3, 4
        const char* uniform;  // set to 1, 2, 3, 4
    } cases[] = {
        {"16 samplers", manyParameters(16, "uniform samplerRECT s%d", "return texRECT(s15, t.xy);"), "s15", nullptr},
        {"256 uniforms", manyParameters(256, "uniform float4 u%d", "return u255;"), nullptr, "u255"},
        {"1024 registers",
         "#define A {float a;}\n#define B A A A A\n#define C B B B B\n#define D C C C C\n#define E D D D D\n"
         "float4 main() : COLOR { E E E E return float4(1, 2, 3, 4); }",
         nullptr, nullptr},
    };
    FloatTarget source(1, 1, GL_RGBA32F_ARB, {1, 2, 3, 4});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CGprogram program = load(c.source.c_str());
        ASSERT_NE(program, nullptr);
        if (c.uniform) cgGLSetParameter4f(cgGetNamedParameter(program, c.uniform), 1, 2, 3, 4);
        FloatTarget target(1, 1, GL_RGBA32F_ARB);
        cgtest::drawPass(target, program, c.sampler ? cgGetNamedParameter(program, c.sampler) : nullptr,
                         c.sampler ? &source : nullptr);
        EXPECT_EQ(cgGetError(), CG_NO_ERROR);
        EXPECT_EQ(target.read(), (std::vector<float>{1, 2, 3, 4}));
        EXPECT_TRUE(testgl::drainErrors().empty());
    }
}

TEST_F(CgRuntime, AssemblyTextIsTakenAsIs) {
    CGprogram good = load("!!ARBfp1.0\nPARAM k = {0.5, 1, 2, 3};\nMOV result.color, k;\nEND\n");
    EXPECT_EQ(run(good), (std::vector<float>{0.5f, 1, 2, 3}));

    // The grammar is checked before the driver sees the text.
    EXPECT_EQ(cgCreateProgram(context, CG_SOURCE, "!!ARBfp1.0\nFOO result.color;\nEND\n", CG_PROFILE_ARBFP1, nullptr,
                              nullptr),
              nullptr);
    CGerror refused = cgGetError();
    EXPECT_EQ(refused, CG_COMPILER_ERROR);
    EXPECT_STREQ(cgGetErrorString(refused), "<string>:2:1: error: unknown instruction 'FOO'");

    // Parameters past the driver's count are refused at the same place,
    // located, not in the driver's words at load time.
    EXPECT_EQ(cgCreateProgram(context, CG_SOURCE, "!!ARBfp1.0\nMOV result.color, program.env[300];\nEND\n",
                              CG_PROFILE_ARBFP1, nullptr, nullptr),
              nullptr);
    refused = cgGetError();
    EXPECT_EQ(refused, CG_COMPILER_ERROR);
    EXPECT_EQ(std::string(cgGetErrorString(refused)).rfind("<string>:2:31: error: program.env[300] is past", 0), 0u)
        << cgGetErrorString(refused);
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
}

TEST_F(CgRuntime, GLAcceptsEveryProgramTheCompilerAccepts) {
    std::mt19937 random(99);
    std::vector<std::string> bases = cgtest::seeds();
    int loaded = 0;
    for (int i = 0; i < 6000; ++i) {
        std::string source = cgtest::mutate(bases[std::size_t(i) % bases.size()], random);
        if (!cgc::compile(source, "m.cg").ok || source.find('\0') != std::string::npos) continue;
        CGprogram p = cgCreateProgram(context, CG_SOURCE, source.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        cgGLLoadProgram(p);
        CGerror error = cgGetError();
        ASSERT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error) << "\n" << source;
        ++loaded;
    }
    EXPECT_GT(loaded, 100);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

}  // namespace
