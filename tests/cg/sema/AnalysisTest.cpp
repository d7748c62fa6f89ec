// What analysis finds in good programs: the type of each kind of
// expression, the overload a call picks, and the parameters the runtime
// will find by name, in the registers it will set.
#include "cg/front/parser.h"
#include "cg/sema/sema.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace cgc;

struct Analysed {
    Sources sources;
    ast::Tree tree;
    TypeTable types;
    Analysis analysis;
    std::string error;
};

void analyseInto(Analysed& a, const std::string& source) {
    try {
        a.tree = parseSource(a.sources, source.data(), source.size(), "test.cg", Options{});
        a.analysis = analyze(a.tree, a.types, Options{});
    } catch (const CompileError& e) {
        a.error = a.sources.format(e.loc, e.what);
    }
}

// The last expression statement of main's body.
const ast::Expr* probe(const Analysed& a) {
    const ast::Expr* last = nullptr;
    for (const ast::TopLevel& item : a.tree.items)
        if (item.kind == ast::TopLevel::FunctionDecl && item.function->name == "main" && item.function->body)
            for (const ast::Stmt* s : item.function->body->body)
                if (s->kind == ast::Stmt::ExprStmt) last = s->expr;
    return last;
}

struct Typed {
    const char* globals;
    const char* locals;
    const char* expression;
    const char* type;
};

const Typed kTyped[] = {
    {"", "float4 v = 0;", "v + 1", "float4"},
    {"", "int i = 7;", "i / 2", "int"},
    {"", "half h = 1;", "h * 2.0", "float"},
    {"", "half h = 1;", "h * 2.0h", "half"},
    {"", "float4 v = 0; float2 w = 0;", "v + w", "float2"},
    {"", "float3 v = 0;", "v < 0.5", "bool3"},
    {"", "float4 v = 0;", "v == v && true", "bool4"},
    {"", "float4 v = 0;", "!v", "bool4"},
    {"", "bool b = true;", "b + b", "int"},
    {"", "float3x3 m = 0;", "m[1]", "float3"},
    {"", "float3x3 m = 0;", "m[1][2]", "float"},
    {"", "float3x3 m = 0;", "m._m00_m11", "float2"},
    {"", "float3x3 m = 0;", "m._11_22_33_12", "float4"},
    {"", "float2x4 m = 0;", "m * 2", "float2x4"},
    {"", "float4 v = 0;", "v.xz", "float2"},
    {"", "float4 v = 0;", "v.a", "float"},
    {"", "float x = 0;", "x.xxx", "float3"},
    {"struct Light { float3 color; float power; };", "Light l;", "l.color", "float3"},
    {"struct Light { float3 color; float power; };", "Light l;", "l", "struct Light"},
    {"", "float w[3] = {1, 2, 3};", "w[2]", "float"},
    {"", "float w[2][3] = {{1, 2, 3}, {4, 5, 6}};", "w[1]", "float[3]"},
    {"", "float w[] = {1, 2, 3, 4};", "w", "float[4]"},
    {"", "float4 v = 0;", "v > 0 ? 1.0 : 0.0", "float4"},
    {"", "float x = 0;", "x > 0 ? 1 : 2", "int"},
    {"", "float4 v = 0;", "v.x > 0 ? v : 0", "float4"},
    {"typedef float3 vec3;", "vec3 v = 0;", "v", "float3"},
    {"", "", "float2x2(1, 0, 0, 1)", "float2x2"},
    {"", "float2 a = 0;", "float4(a, a)", "float4"},
    {"", "float x = 0;", "(int)x", "int"},
    {"", "float4 v = 0;", "(float2)v", "float2"},
    {"", "", "(float4)0", "float4"},
    {"", "int i = 0;", "i++", "int"},
    {"", "float4 v = 0;", "v.xy *= 2", "float2"},
    {"", "float x = 0, y = 1;", "x = y, 3", "int"},
    {"static const int N = 2 * 3;", "float w[N] = {1, 2, 3, 4, 5, 6};", "w", "float[6]"},
    {"uniform samplerRECT s;", "", "texRECT(s, float2(0, 0))", "float4"},
    {"float4 shade(float2 x) { return x.xyxy; }", "", "shade(float2(1, 2))", "float4"},
};

TEST(Analysis, ExpressionsHaveTheirLanguageTypes) {
    for (const Typed& t : kTyped) {
        std::string source = std::string(t.globals) + "\nfloat4 main(float2 c : TEXCOORD0) : COLOR {\n  " + t.locals +
                             "\n  " + t.expression + ";\n  return 0;\n}\n";
        SCOPED_TRACE(source);
        Analysed a;
        analyseInto(a, source);
        ASSERT_EQ(a.error, "");
        EXPECT_EQ(a.types.name(a.analysis.of(probe(a)).type), t.type);
    }
}

struct Overloads {
    const char* functions;
    const char* call;
    const char* picked;  // the chosen function's parameter types
};

const Overloads kOverloads[] = {
    {"float f(float x) { return 1; } float f(int x) { return 2; }", "f(1)", "int"},
    {"float f(float x) { return 1; } float f(int x) { return 2; }", "f(1.5)", "float"},
    {"float f(float x) { return 1; } float f(int x) { return 2; }", "f(true)", "int"},
    {"float f(float x) { return 1; } float f(float4 x) { return 2; }", "f(c.x)", "float"},
    {"float f(float x) { return 1; } float f(float4 x) { return 2; }", "f(c.xyxy)", "float4"},
    {"float f(float2 x) { return 1; } float f(float4 x) { return 2; }", "f(c.xyx)", "float2"},
    {"float f(float x, float y) { return 1; } float f(float2 x, float y) { return 2; }", "f(c, 1)", "float2, float"},
    {"float f(half x) { return 1; } float f(float4 x) { return 2; }", "f(c.x)", "half"},
    {"float f(float x); float f(float x) { return x; }", "f(2)", "float"},
};

TEST(Analysis, CallsPickTheOverloadThatFitsBest) {
    for (const Overloads& o : kOverloads) {
        std::string source = std::string(o.functions) + "\nfloat4 main(float2 c : TEXCOORD0) : COLOR {\n  " + o.call +
                             ";\n  return 0;\n}\n";
        SCOPED_TRACE(source);
        Analysed a;
        analyseInto(a, source);
        ASSERT_EQ(a.error, "");
        const CallInfo& call = a.analysis.calls[std::size_t(a.analysis.of(probe(a)).ref)];
        ASSERT_GE(call.function, 0);
        std::string params;
        for (TypeId p : a.analysis.functions[std::size_t(call.function)].params)
            params += (params.empty() ? "" : ", ") + a.types.name(p);
        EXPECT_EQ(params, o.picked);
    }
}

struct Layout {
    const char* what;
    const char* source;
    std::vector<std::string> parameters;  // "name type slot[xslots] [components]" or "name type unit U target T"
};

std::string describe(const ParameterInfo& p) {
    if (p.kind == ParameterInfo::Sampler)
        return p.name + " " + p.typeName + " unit " + std::to_string(p.slot) + " target " + std::to_string(p.target);
    return p.name + " " + p.typeName + " local " + std::to_string(p.slot) + "x" + std::to_string(p.slots) + " of " +
           std::to_string(p.components);
}

const Layout kLayouts[] = {
    {"the shipped heat program's parameters",
     "float4 main(float2 coords : TEXCOORD0, uniform samplerRECT heatTexture, uniform float2 invGridSize,\n"
     "            uniform float timestep) : COLOR { return texRECT(heatTexture, coords) * timestep; }\n",
     {"heatTexture samplerRECT unit 0 target 3", "invGridSize float2 local 0x1 of 2", "timestep float local 1x1 of 1"}},
    {"globals in file order, then the entry's uniforms, used or not",
     "uniform float4 a;\nfloat b;\nstatic float hidden = 2;\nconst float k = 3;\nsampler2D t;\n"
     "float4 main(uniform float3 late, float2 c : TEXCOORD0, uniform samplerCUBE cube) : COLOR { return a; }\n"
     "float3x3 m;\n",
     {"a float4 local 0x1 of 4", "b float local 1x1 of 1", "t sampler2D unit 0 target 1", "m float3x3 local 2x3 of 3",
      "late float3 local 5x1 of 3", "cube samplerCUBE unit 1 target 4"}},
    {"arrays of numbers are one parameter; structs and sampler arrays are leaves",
     "struct Light { float3 color; float4 where[2]; sampler1D ramp; };\nuniform Light light;\n"
     "uniform float weights[3];\nuniform sampler3D volumes[2];\n"
     "float4 main(float2 c : TEXCOORD0) : COLOR { return weights[1]; }\n",
     {"light.color float3 local 0x1 of 3", "light.where float4[2] local 1x2 of 4", "light.ramp sampler1D unit 0 target 0",
      "weights float[3] local 3x3 of 1", "volumes[0] sampler3D unit 1 target 2", "volumes[1] sampler3D unit 2 target 2"}},
};

TEST(Analysis, UniformsTakeRegistersAndUnitsInDeclarationOrder) {
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.what);
        Analysed a;
        analyseInto(a, l.source);
        ASSERT_EQ(a.error, "");
        std::vector<std::string> got;
        for (const ParameterInfo& p : a.analysis.parameters) got.push_back(describe(p));
        EXPECT_EQ(got, l.parameters);
    }
}

TEST(Analysis, EntryParametersAreBoundByTheirSemantics) {
    Analysed a;
    analyseInto(a,
                "struct In { float2 uv : TEXCOORD3; float4 tint : COLOR1; };\n"
                "struct Out { float4 c : COLOR; float d : DEPTH; };\n"
                "Out main(In i, float4 p : WPOS, float f : FOG, uniform float k) { Out o; o.c = i.tint; o.d = f; return o; }\n");
    ASSERT_EQ(a.error, "");
    const FunctionInfo& entry = a.analysis.functions[std::size_t(a.analysis.entry)];
    std::vector<std::pair<Symbol::Kind, std::string>> got;
    for (int s : entry.paramSymbols) got.push_back({a.analysis.symbols[std::size_t(s)].kind, a.analysis.symbols[std::size_t(s)].semantic});
    std::vector<std::pair<Symbol::Kind, std::string>> want = {
        {Symbol::Input, ""}, {Symbol::Input, "WPOS"}, {Symbol::Input, "FOG"}, {Symbol::Uniform, ""}};
    EXPECT_EQ(got, want);
    ASSERT_EQ(a.analysis.outputs.size(), 2u);
    EXPECT_EQ(a.analysis.outputs[0].where, EntryOutput::ResultMember);
    EXPECT_FALSE(a.analysis.outputs[0].depth);
    EXPECT_TRUE(a.analysis.outputs[1].depth);
    EXPECT_EQ(a.analysis.outputs[1].member, 1);
}

TEST(Analysis, SemanticsMapToAttributesAndResults) {
    const std::pair<const char*, int> inputs[] = {{"TEXCOORD", 0}, {"texcoord5", 5}, {"TEXCOORD7", 7}, {"TEXCOORD8", -1},
                                                  {"COLOR", 8},    {"COLOR0", 8},    {"COLOR1", 9},    {"WPOS", 10},
                                                  {"FOG", 11},     {"POSITION", -1}, {"DEPTH", -1}};
    for (const auto& [semantic, attribute] : inputs) EXPECT_EQ(inputAttribute(semantic), attribute) << semantic;
    const std::pair<const char*, int> outputs[] = {{"COLOR", 0}, {"color0", 0}, {"DEPTH", 1}, {"COLOR1", -1}, {"WPOS", -1}};
    for (const auto& [semantic, reg] : outputs) EXPECT_EQ(outputRegister(semantic), reg) << semantic;
}

TEST(Analysis, AnotherEntryNameIsFound) {
    Options options;
    options.entry = "shade";
    Sources sources;
    std::string source = "float4 main(float4 t : TEXCOORD0) : COLOR { return t; }\n"
                         "float4 shade(float4 t : TEXCOORD1) : COLOR { return t * 2; }\n";
    ast::Tree tree = parseSource(sources, source.data(), source.size(), "test.cg", options);
    TypeTable types;
    Analysis a = analyze(tree, types, options);
    EXPECT_EQ(a.functions[std::size_t(a.entry)].name, "shade");
    EXPECT_EQ(a.symbols[std::size_t(a.functions[std::size_t(a.entry)].paramSymbols[0])].semantic, "TEXCOORD1");
}

}  // namespace
