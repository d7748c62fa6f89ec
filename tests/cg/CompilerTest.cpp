// The compiler without GL: the text it generates, the parameters it lays
// out, and the limits that keep hostile input from exhausting the stack.
#include "cg/compiler.h"
#include "heat/heat.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

const char* const kCopyProgram = copyProgramSource;

std::string readHeatShader() {
    std::ifstream in(HEAT_SHADER_PATH, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CgCompiler, ParametersInDeclarationOrder) {
    struct Expected {
        const char* name;
        bool sampler;
        int width, slot;
    };
    struct Case {
        std::string source;
        std::vector<Expected> parameters;
    } cases[] = {
        {readHeatShader(), {{"heatTexture", true, 1, 0}, {"invGridSize", false, 2, 0}, {"timestep", false, 1, 1}}},
        {kCopyProgram, {{"texture", true, 1, 0}}},
        // Unused uniforms are parameters too; samplers and numbers count apart.
        {"float4 main(uniform float a, uniform sampler2D s, uniform float4 b, uniform samplerRECT r,"
         " uniform half3 c) : COLOR { return 0; }",
         {{"a", false, 1, 0}, {"s", true, 1, 0}, {"b", false, 4, 1}, {"r", true, 1, 1}, {"c", false, 3, 2}}},
    };
    for (const Case& c : cases) {
        cgc::Compiled out = cgc::compile(c.source, "test.cg");
        ASSERT_TRUE(out.ok) << out.error;
        ASSERT_EQ(out.parameters.size(), c.parameters.size());
        for (std::size_t i = 0; i < c.parameters.size(); ++i) {
            SCOPED_TRACE(c.parameters[i].name);
            EXPECT_EQ(out.parameters[i].name, c.parameters[i].name);
            EXPECT_EQ(out.parameters[i].kind == cgc::ParameterInfo::Sampler, c.parameters[i].sampler);
            EXPECT_EQ(out.parameters[i].components, c.parameters[i].width);
            EXPECT_EQ(out.parameters[i].slot, c.parameters[i].slot);
        }
    }
}

TEST(CgCompiler, ConstantExpressionsCostNoInstruction) {
    // Folded to one constant the output instruction reads: nothing computes it.
    cgc::Compiled out = cgc::compile(
        "#define K 0.1\nstatic const float2 S = float2(3, K * 2);\n"
        "float4 main() : COLOR { return float4(S / 4, -S.y, (float)1e-7); }", "k.cg");
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(out.stats.instructions, 1);
    EXPECT_EQ(out.stats.temporaries, 0);
    EXPECT_NE(out.text.find("0.75"), std::string::npos) << out.text;
}

TEST(CgCompiler, HostileInputGivesErrorsNotCrashes) {
    struct Case {
        const char* what;
        std::string source;
        const char* message;  // expected within the error
    } cases[] = {
        {"deep parentheses", "float4 main() : COLOR { return " + std::string(100000, '(') + "1;}",
         "nesting is too deep"},
        {"deep blocks", "void main(out float4 c : COLOR) " + std::string(5000, '{'), "nesting is too deep"},
        {"deep unary minus", "float4 main() : COLOR { return " + [] {
             std::string s;
             for (int i = 0; i < 50000; ++i) s += "- ";
             return s;
         }() + "1;}",
         "nesting is too deep"},
        {"long chain", [] {
             std::string s = "float4 main(float4 t : TEXCOORD) : COLOR { return t";
             for (int i = 0; i < 100000; ++i) s += " + t";
             return s + "; }";
         }(), "expression is too complex"},
        {"long swizzle chain", "float4 main(float4 t : TEXCOORD) : COLOR { return t" + [] {
             std::string s;
             for (int i = 0; i < 50000; ++i) s += ".x";
             return s;
         }() + "; }", "expression is too complex"},
        // Each level doubles a list of arguments: 2^39 tokens unless stopped.
        {"runaway macro", [] {
             std::string s = "#define M0 1,\n";
             for (int i = 1; i < 40; ++i)
                 s += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + " M" +
                      std::to_string(i - 1) + "\n";
             return s + "float4 main() : COLOR { return float4(M39 1); }";
         }(), "h.cg:41:39: error: macro 'M39' expands past 2097152 tokens"},
        {"self-referring macro", "#define t t\nfloat4 main() : COLOR { return t; }", "'t' is not declared"},
        {"number out of range", "float4 main() : COLOR { return 1e39; }", "floating constant '1e39' is out of range"},
        {"a variable read in each of many blocks",
         "#define A {float a; t += a;}\n#define B A A A A A A A A\n#define C B B B B B B B B\n"
         "float4 main(float4 t : TEXCOORD) : COLOR { C return t; }",
         "h.cg:4:44: error: 'a' is used before it is assigned (in expansion of macro 'A'"},
        {"NUL in the text", std::string("float4 main() : COLOR { return 1;\0 }", 36), "unexpected character '\\x00'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cgc::Compiled out = cgc::compile(c.source, "h.cg");
        EXPECT_FALSE(out.ok);
        EXPECT_NE(out.error.find(c.message), std::string::npos) << out.error;
        EXPECT_EQ(out.error.rfind("h.cg:", 0), 0u) << out.error;
    }
}

// What the direct emitter once refused for want of registers: each variable
// and intermediate now lives only as long as it is read.
TEST(CgCompiler, WideProgramsReuseRegisters) {
    struct Case {
        const char* what;
        std::string source;
        int maxInstructions, maxTemporaries;
    } cases[] = {
        {"a variable in each of many blocks",
         "#define A {float a = t.x; t += a;}\n#define B A A A A A A A A\n#define C B B B B B B B B\n"
         "float4 main(float4 t : TEXCOORD) : COLOR { C return t; }",
         64, 2},
        {"a wide expression of one value", [] {
             std::string s = "#define E0 t\n";
             for (int i = 1; i <= 11; ++i)
                 s += "#define E" + std::to_string(i) + " (E" + std::to_string(i - 1) + " + E" + std::to_string(i - 1) + ")\n";
             return s + "float4 main(float4 t : TEXCOORD) : COLOR {\n  return E11;\n}";
         }(), 11, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cgc::Compiled out = cgc::compile(c.source, "w.cg");
        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_LE(out.stats.instructions, c.maxInstructions);
        EXPECT_LE(out.stats.temporaries, c.maxTemporaries);
    }
}

TEST(CgCompiler, PlacesCountLinesAndColumnsAcrossCommentsAndMacros) {
    struct Case {
        std::string source;
        const char* error;
    } cases[] = {
        {"/* one\n two */ float4 main() : COLOR\n{\n\treturn y;\n}", "p.cg:4:9: error: 'y' is not declared"},
        {"// line\r\nfloat4 main() : COLOR { return 1; } @", "p.cg:2:37: error: unexpected character '@'"},
        // An error inside an expansion is reported where the macro is used.
        {"#define BAD (1 +)\nfloat4 main() : COLOR {\n  return BAD;\n}",
         "p.cg:3:10: error: expression expected near ')' (in expansion of macro 'BAD' defined at p.cg:1:9)"},
        {"#define A 1\n#define A 2\n", "p.cg:2:9: error: macro 'A' is redefined differently"},
    };
    for (const Case& c : cases) {
        cgc::Compiled out = cgc::compile(c.source, "p.cg");
        EXPECT_EQ(out.error, c.error);
    }
}

}  // namespace
