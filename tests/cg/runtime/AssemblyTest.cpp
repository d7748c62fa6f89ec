// ARB assembly as the program: header comments name its parameters, so the
// compiler's own output is a shading file whose parameters keep their names.
#include "cg/cgGL.h"
#include "cg/compiler.h"
#include "tests/cg/GLTargets.h"
#include "tests/support/GLTest.h"

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using cgtest::FloatTarget;

namespace {

// Names of this process's own in /tmp: other suites run beside this one.
std::string uniqueTemp() { return ::testing::TempDir() + "cgrt-" + std::to_string(getpid()) + "-"; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CgAssembly : public GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        REQUIRE_FLOAT_TARGETS();
        context = cgCreateContext();
    }
    CGcontext context = nullptr;
};

// One heat step on a small field with a program's parameters found by name.
std::vector<float> heatStep(CGprogram program, const FloatTarget& field) {
    CGparameter texture = cgGetNamedParameter(program, "heatTexture");
    cgGLSetParameter2f(cgGetNamedParameter(program, "invGridSize"), 1.0f / float(field.width()),
                       1.0f / float(field.height()));
    cgGLSetParameter1f(cgGetNamedParameter(program, "timestep"), 0.35f);
    FloatTarget target(field.width(), field.height(), GL_RGBA32F_ARB);
    cgtest::drawPass(target, program, texture, &field);
    return target.read();
}

TEST_F(CgAssembly, TheCompilersOutputRunsAsTheShaderWithItsParametersFoundByName) {
    const std::string source = readFile(HEAT_SHADER_PATH);
    const cgc::Compiled compiled = cgc::compile(source, "HeatShader.cg");
    ASSERT_TRUE(compiled.ok) << compiled.error;
    const std::string assemblyFile = uniqueTemp() + "HeatShader.cg";
    std::ofstream(assemblyFile, std::ios::binary) << compiled.text;

    CGprogram fromSource = cgCreateProgram(context, CG_SOURCE, source.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
    CGprogram fromAssembly =
        cgCreateProgramFromFile(context, CG_SOURCE, assemblyFile.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
    ASSERT_NE(fromAssembly, nullptr) << cgGetErrorString(cgGetError());
    cgGLLoadProgram(fromSource);
    cgGLLoadProgram(fromAssembly);

    std::vector<float> cells;
    for (int i = 0; i < 8 * 8; ++i) {
        const float heat = float((i * 37) % 11);
        cells.insert(cells.end(), {heat, heat / 2, 0, 1});
    }
    FloatTarget field(8, 8, GL_RGBA32F_ARB, cells);
    const std::vector<float> expected = heatStep(fromSource, field);
    ASSERT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_NE(expected, cells) << "the step changed nothing, so it proves nothing";
    EXPECT_EQ(heatStep(fromAssembly, field), expected);
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgAssembly, HeaderCommentsPlaceEachKindOfParameter) {
    // A matrix over two registers, a scalar after it, and a sampler on unit 1.
    CGprogram program = cgCreateProgram(context, CG_SOURCE,
                                        "!!ARBfp1.0\n"
                                        "# program.local[0..1] = m (float2x4)\n"
                                        "  # program.local[2] = gain (half)\r\n"
                                        "# texture[1] = field (samplerRECT)\n"
                                        "# a comment of the author's own\n"
                                        "TEMP t;\n"
                                        "TEX t, fragment.texcoord[0], texture[1], RECT;\n"
                                        "MAD result.color, program.local[0], program.local[2].x, t;\n"
                                        "END\n",
                                        CG_PROFILE_ARBFP1, nullptr, nullptr);
    ASSERT_NE(program, nullptr) << cgGetErrorString(cgGetError());
    cgGLLoadProgram(program);
    cgGLSetParameter4f(cgGetNamedParameter(program, "m"), 1, 2, 3, 4);
    cgGLSetParameter1f(cgGetNamedParameter(program, "gain"), 10);
    FloatTarget field(1, 1, GL_RGBA32F_ARB, {0.5f, 0.25f, 0, 1});
    FloatTarget target(1, 1, GL_RGBA32F_ARB);
    cgtest::drawPass(target, program, cgGetNamedParameter(program, "field"), &field);
    EXPECT_EQ(target.read(), (std::vector<float>{10.5f, 20.25f, 30, 41}));
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

TEST_F(CgAssembly, SamplersBindOnTheirOwnTargets) {
    struct Kind {
        const char* type;
        const char* arbTarget;
        GLenum target, binding;
    } const kinds[] = {
        {"sampler1D", "1D", GL_TEXTURE_1D, GL_TEXTURE_BINDING_1D},
        {"sampler2D", "2D", GL_TEXTURE_2D, GL_TEXTURE_BINDING_2D},
        {"sampler3D", "3D", GL_TEXTURE_3D, GL_TEXTURE_BINDING_3D},
        {"samplerRECT", "RECT", GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_BINDING_RECTANGLE_ARB},
        {"samplerCUBE", "CUBE", GL_TEXTURE_CUBE_MAP, GL_TEXTURE_BINDING_CUBE_MAP},
    };
    // Unit u samples its kind at a fixed place and adds 10^u times what it reads.
    std::string text = "!!ARBfp1.0\n";
    for (int u = 0; u < 5; ++u)
        text += "# texture[" + std::to_string(u) + "] = s" + std::to_string(u) + " (" + kinds[u].type + ")\n";
    text += "PARAM at = {0.5, 0.5, 0.5, 1};\nTEMP t, sum;\nMOV sum, 0;\n";
    for (int u = 0; u < 5; ++u)
        text += "TEX t, at, texture[" + std::to_string(u) + "], " + kinds[u].arbTarget + ";\nMAD sum, t, " +
                std::to_string(std::pow(10.0, u)) + ", sum;\n";
    text += "MOV result.color, sum;\nEND\n";
    CGprogram program = cgCreateProgram(context, CG_SOURCE, text.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
    ASSERT_NE(program, nullptr) << cgGetErrorString(cgGetError());
    cgGLLoadProgram(program);

    // One-texel textures holding 1 in red, whatever their kind.
    const float texel[4] = {1, 0, 0, 1};
    std::vector<GLuint> textures(5);
    glGenTextures(5, textures.data());
    for (int u = 0; u < 5; ++u) {
        const GLenum target = kinds[u].target;
        glBindTexture(target, textures[u]);
        glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        if (target == GL_TEXTURE_1D) glTexImage1D(target, 0, GL_RGBA32F_ARB, 1, 0, GL_RGBA, GL_FLOAT, texel);
        if (target == GL_TEXTURE_2D || target == GL_TEXTURE_RECTANGLE_ARB)
            glTexImage2D(target, 0, GL_RGBA32F_ARB, 1, 1, 0, GL_RGBA, GL_FLOAT, texel);
        if (target == GL_TEXTURE_3D) glTexImage3D(target, 0, GL_RGBA32F_ARB, 1, 1, 1, 0, GL_RGBA, GL_FLOAT, texel);
        if (target == GL_TEXTURE_CUBE_MAP)
            for (int face = 0; face < 6; ++face)
                glTexImage2D(GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face), 0, GL_RGBA32F_ARB, 1, 1, 0, GL_RGBA,
                             GL_FLOAT, texel);
        glBindTexture(target, 0);
    }
    for (int u = 0; u < 5; ++u) {
        CGparameter s = cgGetNamedParameter(program, ("s" + std::to_string(u)).c_str());
        cgGLSetTextureParameter(s, textures[u]);
        cgGLEnableTextureParameter(s);
    }
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE0);
    for (int u = 0; u < 5; ++u) {
        SCOPED_TRACE(kinds[u].type);
        glActiveTexture(GLenum(GL_TEXTURE0 + u));
        GLint bound = 0;
        glGetIntegerv(kinds[u].binding, &bound);
        EXPECT_EQ(GLuint(bound), textures[u]);
    }
    glActiveTexture(GL_TEXTURE0);

    FloatTarget target(1, 1, GL_RGBA32F_ARB);
    cgtest::drawPass(target, program);
    EXPECT_EQ(target.read(), (std::vector<float>{11111, 0, 0, 11111}));
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
    EXPECT_TRUE(testgl::drainErrors().empty());
    glDeleteTextures(5, textures.data());
}

TEST_F(CgAssembly, WithoutHeaderCommentsItRunsAndAMissingNameSaysHowToNameIt) {
    CGprogram program = cgCreateProgram(context, CG_SOURCE,
                                        "!!ARBfp1.0\nMOV result.color, program.local[0];\nEND\n",
                                        CG_PROFILE_ARBFP1, nullptr, nullptr);
    ASSERT_NE(program, nullptr);
    cgGLLoadProgram(program);
    FloatTarget target(1, 1, GL_RGBA32F_ARB);
    cgtest::drawPass(target, program);
    EXPECT_EQ(target.read(), (std::vector<float>{0, 0, 0, 0}));
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);

    EXPECT_EQ(cgGetNamedParameter(program, "timestep"), nullptr);
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_INVALID_PARAMETER_ERROR);
    const std::string text = cgGetErrorString(error);
    EXPECT_EQ(text.rfind("<string>: error: no parameter named 'timestep'", 0), 0u) << text;
    EXPECT_NE(text.find("'# program.local[0] = timestep ("), std::string::npos) << text;
    EXPECT_NE(text.find("'# texture[0] = timestep (samplerRECT)'"), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_TRUE(testgl::drainErrors().empty());
}

// No GL needed: the header is read when the program is created.
TEST(CgAssemblyHeader, AMalformedCommentIsOneLineAtItsPlace) {
    const struct {
        const char* what;
        const char* header;  // follows "!!ARBfp1.0\n", so its first line is line 2
        const char* where;   // "" when the program is accepted
        const char* says;
    } cases[] = {
        {"no type", "# texture[0] = heat\n", "<string>:2:20: error: ",
         "malformed parameter comment '# texture[0] = heat'; the form is '# texture[N] = NAME (TYPE)'"},
        {"not a number", "# program.local[x] = k (float)\n", "<string>:2:17: error: ",
         "the form is '# program.local[N] = NAME (TYPE)' or '# program.local[N..M] = NAME (TYPE)'"},
        {"text after the type", "# program.local[0] = k (float) x\n", "<string>:2:32: error: ",
         "malformed parameter comment"},
        {"unknown type", "# program.local[0] = k (float5)\n", "<string>:2:1: error: ",
         "unknown type 'float5' for parameter 'k'"},
        {"texture of a number", "# texture[0] = k (float4)\n", "<string>:2:1: error: ",
         "'k' is named as texture[0] but its type 'float4' is not a sampler"},
        {"local of a sampler", "# program.local[0] = s (sampler2D)\n", "<string>:2:1: error: ",
         "'s' has the sampler type 'sampler2D'; samplers are named as '# texture[N] = NAME (TYPE)'"},
        {"range shorter than the type", "\n# program.local[0..1] = m (float4x4)\n", "<string>:3:1: error: ",
         "'m' (float4x4) takes 4 registers, but program.local[0..1] names 2"},
        {"range counting down", "# program.local[3..1] = m (float)\n", "<string>:2:1: error: ",
         "program.local[3..1] counts down"},
        {"name twice", "# program.local[0] = k (float)\n# program.local[1] = k (float)\n", "<string>:3:1: error: ",
         "'k' is named twice (first at line 2)"},
        {"register twice", "# program.local[0..1] = m (float2x2)\n# program.local[1] = k (float)\n",
         "<string>:3:1: error: ", "program.local[1] belongs to both 'm' and 'k'"},
        {"unit twice", "# texture[0] = a (sampler2D)\n# texture[0] = b (samplerRECT)\n", "<string>:3:1: error: ",
         "texture[0] belongs to both 'a' and 'b'"},
        {"unit past the last", "# texture[100000] = s (sampler2D)\n", "<string>:2:1: error: ",
         "texture[100000] is past the last texture unit"},
        {"register past the last", "# program.local[100000] = k (float)\n", "<string>:2:1: error: ",
         "program.local[100000] is past the last local parameter"},
        {"a long name is cut", "# texture[0] = k (float4x4xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx)\n",
         "<string>:2:1: error: ", "xxxxx\xE2\x80\xA6' for parameter 'k'"},
        {"the compiler's own form", "# texture[0] = heatTexture (samplerRECT)\n# program.local[0] = invGridSize (float2)\n"
         "# program.local[1..6] = weights (float3[2][3])\n#program.local[7]=light.color(half3)\n", "", ""},
        {"other comments", "# texture unit 0 holds the field\n#\n# program.locals are below\n", "", ""},
        {"lines ending in CR", "\r# program.local[0] = k (float)\r# program.local[0] = k (float)\r",
         "<string>:4:1: error: ", "'k' is named twice (first at line 3)"},
        {"lines ending in CR LF", "\r\n# program.local[0] = k (float)\r\n# texture[0] = k (sampler2D)\r\n",
         "<string>:4:1: error: ", "'k' is named twice (first at line 3)"},
    };
    CGcontext context = cgCreateContext();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = std::string("!!ARBfp1.0\n") + c.header + "MOV result.color, 0;\nEND\n";
        CGprogram program = cgCreateProgram(context, CG_SOURCE, text.c_str(), CG_PROFILE_ARBFP1, nullptr, nullptr);
        CGerror error = cgGetError();
        if (!*c.where) {
            EXPECT_NE(program, nullptr);
            EXPECT_EQ(error, CG_NO_ERROR) << cgGetErrorString(error);
            continue;
        }
        EXPECT_EQ(program, nullptr);
        EXPECT_EQ(error, CG_COMPILER_ERROR);
        const std::string message = cgGetErrorString(error);
        EXPECT_EQ(message.rfind(c.where, 0), 0u) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

TEST(CgAssemblyHeader, NamesFoundAreTheOnesTheCommentsGive) {
    CGcontext context = cgCreateContext();
    CGprogram program = cgCreateProgram(context, CG_SOURCE,
                                        "!!ARBfp1.0\n# program.local[1..6] = weights (float3[2][3])\n"
                                        "#program.local[7]=light.color(half3)\n# texture[2] = t (samplerCUBE)\n"
                                        "MOV result.color, 0;\nEND\n",
                                        CG_PROFILE_ARBFP1, nullptr, nullptr);
    ASSERT_NE(program, nullptr);
    for (const char* name : {"weights", "light.color", "t"}) EXPECT_NE(cgGetNamedParameter(program, name), nullptr) << name;
    EXPECT_EQ(cgGetError(), CG_NO_ERROR);
    EXPECT_EQ(cgGetNamedParameter(program, "weights[1]"), nullptr);
    CGerror error = cgGetError();
    EXPECT_EQ(error, CG_INVALID_PARAMETER_ERROR);
    EXPECT_STREQ(cgGetErrorString(error), "<string>: error: no uniform parameter named 'weights[1]'");
}

}  // namespace
