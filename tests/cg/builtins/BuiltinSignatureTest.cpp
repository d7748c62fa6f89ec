// The signature rules: argument types in, the result type (and the
// parameters the arguments convert to) or the exact reason out; the names the
// table answers to and the ones the target cannot run.
#include "cg/builtins/builtins.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {

using cgc::BuiltinSignature;
using cgc::TypeId;
using cgc::TypeTable;

struct Row {
    const char* fn;
    std::vector<const char*> args;
    const char* result;  // the result type's name, or the reason the rule gives
    std::vector<const char*> params = {};  // when given: what each argument converts to
};

std::string describe(const Row& r) {
    std::ostringstream s;
    s << r.fn << "(";
    for (std::size_t i = 0; i < r.args.size(); ++i) s << (i ? ", " : "") << r.args[i];
    return s.str() + ")";
}

void expectRows(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        SCOPED_TRACE(describe(r));
        TypeTable types;
        std::vector<TypeId> args;
        for (const char* a : r.args) {
            TypeId t;
            ASSERT_TRUE(types.builtinType(a, &t)) << a;
            args.push_back(t);
        }
        const cgc::Builtin* b = cgc::findBuiltin(r.fn);
        ASSERT_NE(b, nullptr);
        BuiltinSignature sig;
        std::string why;
        bool ok = b->signature(types, args, &sig, &why);
        EXPECT_EQ(ok ? types.name(sig.result) : why, r.result);
        if (!ok || r.params.empty()) continue;
        ASSERT_EQ(sig.params.size(), r.params.size());
        for (std::size_t i = 0; i < r.params.size(); ++i) EXPECT_EQ(types.name(sig.params[i]), r.params[i]) << "parameter " << i;
    }
}

TEST(BuiltinSignatures, perComponentFunctionsPromoteScalarsAndKinds) {
    expectRows({
        {"step", {"float", "float3"}, "float3", {"float3", "float3"}},
        {"pow", {"float3", "int"}, "float3", {"float3", "float3"}},
        {"lerp", {"float4", "float4", "float"}, "float4", {"float4", "float4", "float4"}},
        {"clamp", {"float2", "int", "int"}, "float2"},
        {"lerp", {"half3", "half3", "half"}, "half3"},
        {"min", {"fixed2", "half2"}, "half2"},
        {"max", {"fixed", "fixed"}, "fixed"},
        {"abs", {"int3"}, "float3"},
        {"max", {"bool", "float"}, "float"},
        {"abs", {"float1"}, "float1"},
        {"sin", {"float"}, "float"},
        {"lerp", {"float4", "float3", "float"}, "float3", {"float3", "float3", "float3"}},  // the narrower vector
        {"isnan", {"float2"}, "bool2"},
        {"isfinite", {"half"}, "bool"},
        {"atan2", {"float", "float4"}, "float4"},
        {"smoothstep", {"int", "int", "float2"}, "float2"},
    });
}

TEST(BuiltinSignatures, reductionsAndGeometryGiveTheirOwnShapes) {
    expectRows({
        {"dot", {"float3", "float3"}, "float"},
        {"dot", {"half2", "half2"}, "half"},
        {"length", {"float4"}, "float"},
        {"distance", {"half2", "float2"}, "float"},
        {"normalize", {"half3"}, "half3"},
        {"all", {"float3"}, "bool", {"bool3"}},
        {"any", {"bool4"}, "bool", {"bool4"}},
        {"any", {"int"}, "bool", {"bool"}},
        {"cross", {"float3", "float3"}, "float3"},
        {"cross", {"float4", "half3"}, "float3", {"float3", "float3"}},
        {"reflect", {"float3", "float3"}, "float3"},
        {"faceforward", {"float2", "float2", "float2"}, "float2"},
        {"refract", {"float3", "float3", "float"}, "float3", {"float3", "float3", "float"}},
        {"lit", {"float", "float", "float"}, "float4"},
        {"lit", {"half", "half", "half"}, "half4"},
        {"mul", {"float2x3", "float3"}, "float2", {"float2x3", "float3"}},
        {"mul", {"float2", "float2x3"}, "float3"},
        {"mul", {"float2x3", "float3x4"}, "float2x4"},
        {"mul", {"half4x4", "half4"}, "half4"},
        {"mul", {"float3x3", "float4"}, "float3", {"float3x3", "float3"}},
        {"transpose", {"float2x3"}, "float3x2"},
        {"determinant", {"float3x3"}, "float"},
        {"determinant", {"half2x2"}, "half"},
    });
}

TEST(BuiltinSignatures, wrongArgumentsSayWhatIsWrong) {
    expectRows({
        {"step", {"float"}, "takes 2 arguments, got 1"},
        {"abs", {"float", "float"}, "takes 1 argument, got 2"},
        {"lerp", {}, "takes 3 arguments, got 0"},
        {"abs", {"float2x2"}, "needs a scalar or vector, got 'float2x2'"},
        {"lerp", {"float", "sampler2D", "float"}, "needs a scalar or vector for argument 2, got 'sampler2D'"},
        {"dot", {"float3", "float3x3"}, "needs a scalar or vector for argument 2, got 'float3x3'"},
        {"all", {"float4x4"}, "needs a scalar or vector, got 'float4x4'"},
        {"cross", {"float2", "float3"}, "needs a 3-component vector for argument 1, got 'float2'"},
        {"cross", {"float3", "float2x2"}, "needs a 3-component vector for argument 2, got 'float2x2'"},
        {"refract", {"float3", "float3", "float3"}, "needs a scalar for argument 3, got 'float3'"},
        {"lit", {"float2", "float", "float"}, "needs a scalar for argument 1, got 'float2'"},
        {"mul", {"float3x3", "float2"}, "cannot multiply a 'float3x3' by a 'float2': the matrix has 3 columns, the vector 2 components"},
        {"mul", {"float2", "float3x3"}, "cannot multiply a 'float2' by a 'float3x3': the vector has 2 components, the matrix 3 rows"},
        {"mul", {"float2x3", "float2x3"}, "cannot multiply a 'float2x3' by a 'float2x3': the first has 3 columns, the second 2 rows"},
        {"mul", {"float3", "float3"}, "needs a matrix and a vector or two matrices, got 'float3' and 'float3'"},
        {"mul", {"float", "float2x2"}, "needs a matrix and a vector or two matrices, got 'float' and 'float2x2'"},
        {"transpose", {"float3"}, "needs a matrix, got 'float3'"},
        {"determinant", {"float2x3"}, "needs a square matrix, got 'float2x3'"},
        {"determinant", {"float4"}, "needs a square matrix, got 'float4'"},
    });
}

TEST(BuiltinSignatures, outArgumentsTakeTheShapeOfX) {
    expectRows({
        {"sincos", {"float3", "float3", "float3"}, "void", {"float3", "float3", "float3"}},
        {"sincos", {"float", "half", "float"}, "void", {"float", "half", "float"}},
        {"modf", {"float2", "float2"}, "float2"},
        {"frexp", {"half", "half"}, "half"},
        {"sincos", {"float3", "float", "float3"}, "needs a float3 for its out argument 2, got 'float'"},
        {"modf", {"float2", "float2x2"}, "needs a float2 for its out argument 2, got 'float2x2'"},
        {"frexp", {"float"}, "takes 2 arguments, got 1"},
        {"clip", {"float3"}, "void", {"float3"}},
        {"clip", {"float2x2"}, "needs a scalar or vector, got 'float2x2'"},
    });
    TypeTable types;
    TypeId f3 = types.vector(cgc::ScalarKind::Float, 3);
    BuiltinSignature sig;
    std::string why;
    ASSERT_TRUE(cgc::findBuiltin("sincos")->signature(types, {f3, f3, f3}, &sig, &why));
    EXPECT_EQ(sig.out, (std::vector<bool>{false, true, true}));
    ASSERT_TRUE(cgc::findBuiltin("modf")->signature(types, {f3, f3}, &sig, &why));
    EXPECT_EQ(sig.out, (std::vector<bool>{false, true}));
    ASSERT_TRUE(cgc::findBuiltin("lerp")->signature(types, {f3, f3, f3}, &sig, &why));
    EXPECT_EQ(sig.out, (std::vector<bool>{false, false, false}));
}

TEST(BuiltinSignatures, lookupsCheckTheSamplerAndTheCoordinate) {
    expectRows({
        {"texRECT", {"samplerRECT", "float2"}, "float4", {"samplerRECT", "float2"}},
        {"texRECT", {"sampler2D", "float2"}, "needs a samplerRECT, got 'sampler2D'"},
        {"tex2D", {"float2", "float2"}, "needs a sampler2D, got 'float2'"},
        {"tex2D", {"sampler2D", "float3"}, "needs a float2 coordinate, got 'float3'"},
        {"tex2D", {"sampler2D", "int2"}, "float4", {"sampler2D", "float2"}},
        {"tex2D", {"sampler2D", "half"}, "float4", {"sampler2D", "float2"}},
        {"tex1D", {"sampler1D", "float"}, "float4", {"sampler1D", "float"}},
        {"tex3D", {"sampler3D", "float3"}, "float4"},
        {"texCUBE", {"samplerCUBE", "float3"}, "float4"},
        {"texCUBE", {"samplerCUBE", "float2x2"}, "needs a float3 coordinate, got 'float2x2'"},
        {"tex2Dproj", {"sampler2D", "float3"}, "float4", {"sampler2D", "float3"}},
        {"tex2Dproj", {"sampler2D", "float4"}, "float4", {"sampler2D", "float4"}},
        {"tex2Dproj", {"sampler2D", "float2"}, "needs a float3 or float4 coordinate, got 'float2'"},
        {"tex1Dproj", {"sampler1D", "float2"}, "float4"},
        {"texCUBEproj", {"samplerCUBE", "float3"}, "needs a float4 coordinate, got 'float3'"},
        {"tex2Dbias", {"sampler2D", "float4"}, "float4"},
        {"tex2Dbias", {"sampler2D", "float2"}, "needs a float4 coordinate, got 'float2'"},
        {"tex2D", {"sampler2D", "float2", "float2", "float2"}, "with derivatives: derivatives are not available on this target"},
        {"texRECTproj", {"samplerRECT", "float3", "float2", "float2"}, "with derivatives: derivatives are not available on this target"},
        {"tex2D", {"sampler2D"}, "takes 2 arguments, got 1"},
        {"h4tex2D", {"sampler2D", "float2"}, "half4"},
        {"f1texRECT", {"samplerRECT", "float2"}, "float"},
        {"x3texCUBE", {"samplerCUBE", "float3"}, "fixed3"},
        {"f2tex2Dproj", {"sampler2D", "float4"}, "float2"},
    });
}

TEST(BuiltinNames, everyDocumentedFunctionIsInTheTable) {
    const char* const documented[] = {
        "abs", "acos", "all", "any", "asin", "atan", "atan2", "ceil", "clamp", "cos", "cosh", "cross", "degrees",
        "determinant", "distance", "dot", "exp", "exp2", "faceforward", "floor", "fmod", "frac", "frexp", "isfinite",
        "isinf", "isnan", "ldexp", "length", "lerp", "lit", "log", "log10", "log2", "max", "min", "modf", "mul",
        "normalize", "pow", "radians", "reflect", "refract", "round", "rsqrt", "saturate", "sign", "sin", "sincos",
        "sinh", "smoothstep", "sqrt", "step", "tan", "tanh", "transpose", "clip", "trunc",
        "tex1D", "tex2D", "tex3D", "texRECT", "texCUBE", "tex1Dproj", "tex2Dproj", "tex3Dproj", "texRECTproj",
        "texCUBEproj", "tex2Dbias", "f4tex2D", "h4tex2D", "f4texRECT", "h4texRECT", "f1tex1D", "h3tex3D",
        "x4texCUBE", "f4tex2Dproj", "h4texRECTproj"};
    std::vector<std::string_view> names = cgc::builtinNames();
    std::set<std::string_view> unique(names.begin(), names.end());
    EXPECT_EQ(unique.size(), names.size()) << "a name is listed twice";
    for (const char* name : documented) {
        const cgc::Builtin* b = cgc::findBuiltin(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(std::string(b->name), name);
        EXPECT_TRUE(unique.count(name)) << name << " is missing from the suggestions";
        EXPECT_EQ(cgc::unsupportedBuiltin(name), nullptr) << name;
    }
    EXPECT_EQ(cgc::findBuiltin("ddx"), nullptr);
    EXPECT_EQ(cgc::findBuiltin("powr"), nullptr);
    EXPECT_EQ(cgc::findBuiltin("tex2Dlod"), nullptr);
}

TEST(BuiltinNames, whatTheTargetCannotRunSaysWhy) {
    const std::pair<const char*, const char*> rows[] = {
        {"ddx", "derivatives are not available on this target"},
        {"ddy", "derivatives are not available on this target"},
        {"fwidth", "derivatives are not available on this target"},
        {"tex2Dlod", "explicit level of detail is not available on this target"},
        {"texCUBElod", "explicit level of detail is not available on this target"},
        {"f4tex2Dlod", "explicit level of detail is not available on this target"},
        {"tex2Dprojlod", "explicit level of detail is not available on this target"},
        {"tex2Dgrad", "derivatives are not available on this target"},
        {"texRECTfetch", "texel fetches are not available on this target"},
        {"tex2Dsize", "texture size queries are not available on this target"},
        {"tex2Dcmpbias", "depth-compare lookups are not available on this target"},
        {"tex1DARRAYlod", "texture arrays are not available on this target"},
        {"tex2DMSfetch", "multisample textures are not available on this target"},
        {"texBUF", "buffer textures are not available on this target"},
    };
    for (const auto& [name, why] : rows) {
        const char* got = cgc::unsupportedBuiltin(name);
        ASSERT_NE(got, nullptr) << name;
        EXPECT_STREQ(got, why) << name;
    }
    for (const char* name : {"tex2D", "abs", "texture", "tex4Dlod", "lodtex2D", "f5tex2Dlod", "ddxx", "main"})
        EXPECT_EQ(cgc::unsupportedBuiltin(name), nullptr) << name;
}

}  // namespace
